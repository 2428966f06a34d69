// What the network layer's tests share: reading a stream to its end, Python as the reader of
// what we write, and responses made by hand.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "RZBase_Source/Json/RAZududeRqJsonParser.h"
#include "platform/Value.h"
#include "platform/net/Stream.h"
#include "platform/net/UrlResponse.h"
#include "tests/support/TempDir.h"

namespace network_test {

inline platform::Bytes fromHex(std::string_view hex) {
    platform::Bytes out;
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    }
    return out;
}

inline std::string textOf(const platform::Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Opens the stream and reads it until a read gives 0, with read sizes taken in turn from
// `sizes`. A read error fails the test and ends the reading.
inline platform::Bytes readAll(platform::InputStream& stream,
                               const std::vector<std::size_t>& sizes = {4096}) {
    stream.open();
    platform::Bytes out;
    std::vector<std::uint8_t> buffer;
    for (std::size_t turn = 0;; ++turn) {
        const std::size_t size = sizes[turn % sizes.size()];
        buffer.resize(size);
        const long n = stream.read(buffer.data(), size);
        if (n < 0) {
            ADD_FAILURE() << "read failed: "
                          << (stream.streamError() ? stream.streamError()->description() : "?");
            break;
        }
        if (n == 0) {
            break;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + n);
    }
    stream.close();
    return out;
}

// Runs a Python script that prints one JSON document, and reads it.
inline platform::Value pythonJson(const std::string& script, const std::string& input = {}) {
    const std::string output = testing_support::runPython(script, input);
    std::optional<platform::Value> value = RAZududeRqJsonParser().fragmentWithString(output);
    EXPECT_TRUE(value) << output;
    return value.value_or(platform::Value());
}

struct ParsedPart {
    platform::Value name;      // null when absent
    platform::Value filename;  // null when absent
    platform::Value type;      // the raw Content-Type header, null when absent
    platform::Bytes payload;
};

struct ParsedMultipart {
    bool multipart = false;
    std::vector<ParsedPart> parts;
    std::vector<std::string> defects;  // of the message and of every part
};

// The body as Python's email package reads it, behind the given Content-Type header.
inline ParsedMultipart parseMultipart(const std::string& contentType, const platform::Bytes& body) {
    static const char* kScript = R"(
import sys, json, email.parser, email.policy
raw = sys.stdin.buffer.read()
ctype, body = raw.split(b"\n", 1)
msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
    b"Content-Type: " + ctype + b"\r\n\r\n" + body)
out = {"multipart": msg.is_multipart(), "defects": [type(d).__name__ for d in msg.defects],
       "parts": []}
for p in (msg.iter_parts() if msg.is_multipart() else []):
    out["defects"] += [type(d).__name__ for d in p.defects]
    t = p.get("Content-Type")
    out["parts"].append({"name": p.get_param("name", header="content-disposition"),
                         "filename": p.get_filename(), "type": None if t is None else str(t),
                         "payload": (p.get_payload(decode=True) or b"").hex()})
print(json.dumps(out))
)";
    const platform::Value value = pythonJson(kScript, contentType + "\n" + textOf(body));
    ParsedMultipart parsed;
    parsed.multipart = value["multipart"].boolValue();
    for (const platform::Value& defect :
         value["defects"].array() ? *value["defects"].array() : platform::Array()) {
        parsed.defects.push_back(defect.stringValue());
    }
    if (const platform::Array* parts = value["parts"].array()) {
        for (const platform::Value& part : *parts) {
            parsed.parts.push_back({part["name"], part["filename"], part["type"],
                                    fromHex(part["payload"].stringValue())});
        }
    }
    return parsed;
}

inline std::shared_ptr<const platform::HttpUrlResponse> httpResponse(
    int status, const std::optional<std::string>& contentType,
    const std::string& url = "http://127.0.0.1/resource") {
    platform::HeaderFields headers;
    if (contentType) {
        headers.set("Content-Type", *contentType);
    }
    return std::make_shared<platform::HttpUrlResponse>(*platform::Url::parse(url), status,
                                                       "HTTP/1.1", headers);
}

}  // namespace network_test
