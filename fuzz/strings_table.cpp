// Any bytes, as a strings table (UTF-8, or UTF-16 with a byte-order mark): the reader answers
// the entries or an error that says why, never crashes, and what it answers is valid text.
#include <cstdint>
#include <cstdlib>

#include "platform/TextPropertyList.h"
#include "platform/Utf8.h"

namespace {

bool validText(const platform::Value& value) {
    if (const std::string* text = value.string()) {
        return platform::utf8::isValid(*text);
    }
    if (const platform::Array* items = value.array()) {
        for (const platform::Value& item : *items) {
            if (!validText(item)) {
                return false;
            }
        }
    }
    if (const platform::Map* entries = value.map()) {
        for (const auto& [key, item] : *entries) {
            if (!platform::utf8::isValid(key) || !validText(item)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::Error error;
    const auto text = platform::detail::decodeText({data, size}, &error);
    if (!text) {
        return 0;
    }
    if (!platform::utf8::isValid(*text)) {
        std::abort();
    }
    const auto table = platform::detail::parseStringsTable(*text, &error);
    if (!table) {
        if (error.localizedDescription().empty()) {
            std::abort();
        }
        return 0;
    }
    if (!validText(platform::Value(*table))) {
        std::abort();
    }
    return 0;
}
