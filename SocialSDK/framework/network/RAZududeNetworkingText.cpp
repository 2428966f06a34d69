#include "SocialSDK/framework/network/RAZududeNetworkingText.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <memory>
#include <vector>

#include "platform/Bundle.h"
#include "platform/Text.h"

namespace rzs_network {

std::string localizedString(std::string_view key) {
    return platform::Bundle::mainBundle().localizedString(key, "", kNetworkingStringsTable);
}

std::string fillFormat(std::string_view format, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(format.size() + 32);
    const std::string_view* next = args.begin();
    auto take = [&] {
        if (next == args.end()) {
            out += "(null)";
        } else {
            out += *next++;
        }
    };
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        const std::string_view rest = format.substr(i + 1);
        if (rest.starts_with('%')) {
            out += '%';
            i += 1;
            continue;
        }
        std::size_t used = 0;
        for (std::string_view conversion : {"@", "d", "ld", "lu", "llu", "lld"}) {
            if (rest.starts_with(conversion) && conversion.size() > used) {
                used = conversion.size();
            }
        }
        if (used == 0) {
            out += c;
            continue;
        }
        take();
        i += used;
    }
    return out;
}

namespace {

const char* converterNameOf(StringEncoding encoding) {
    switch (encoding) {
        case kASCIIStringEncoding:
            return "US-ASCII";
        case kJapaneseEUCStringEncoding:
            return "EUC-JP";
        case kUTF8StringEncoding:
            return "UTF-8";
        case kISOLatin1StringEncoding:
            return "ISO-8859-1";
        case kShiftJISStringEncoding:
            return "Shift_JIS";
        case kISOLatin2StringEncoding:
            return "ISO-8859-2";
        case kUnicodeStringEncoding:
            return "UTF-16";
        case kWindowsCP1251StringEncoding:
            return "windows-1251";
        case kWindowsCP1252StringEncoding:
            return "windows-1252";
        case kWindowsCP1253StringEncoding:
            return "windows-1253";
        case kWindowsCP1254StringEncoding:
            return "windows-1254";
        case kWindowsCP1250StringEncoding:
            return "windows-1250";
        case kISO2022JPStringEncoding:
            return "ISO-2022-JP";
        case kMacOSRomanStringEncoding:
            return "macintosh";
        case kUTF16BigEndianStringEncoding:
            return "UTF-16BE";
        case kUTF16LittleEndianStringEncoding:
            return "UTF-16LE";
        case kUTF32StringEncoding:
            return "UTF-32";
        case kUTF32BigEndianStringEncoding:
            return "UTF-32BE";
        case kUTF32LittleEndianStringEncoding:
            return "UTF-32LE";
        case kGB18030StringEncoding:
            return "GB18030";
        default:
            return nullptr;
    }
}

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// A converter that stops at the first byte or character it cannot convert, instead of
// substituting one.
Converter openConverter(std::string_view name) {
    if (name.empty() || name.size() > 64 || name.find('\0') != std::string_view::npos) {
        return nullptr;
    }
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(std::string(name).c_str(), &status));
    return U_FAILURE(status) ? nullptr : std::move(converter);
}

Converter strictConverter(std::string_view name) {
    Converter converter = openConverter(name);
    if (!converter) {
        return nullptr;
    }
    UErrorCode status = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
    return U_FAILURE(status) ? nullptr : std::move(converter);
}

// Converts through ICU's pivot; nothing when a strict converter stops.
std::optional<std::string> convert(UConverter* to, UConverter* from,
                                   std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return std::string();
    }
    // Four bytes out per byte in covers every pair of encodings known here; a charset named by
    // a server might need more, and then the conversion starts again with room to spare.
    for (std::size_t capacity = bytes.size() * 4 + 16;; capacity *= 2) {
        std::string out(capacity, '\0');
        char* target = out.data();
        const char* source = reinterpret_cast<const char*>(bytes.data());
        const char* sourceEnd = source + bytes.size();
        UErrorCode status = U_ZERO_ERROR;
        ucnv_reset(to);
        ucnv_reset(from);
        ucnv_convertEx(to, from, &target, out.data() + out.size(), &source, sourceEnd, nullptr,
                       nullptr, nullptr, nullptr, true, true, &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            continue;
        }
        if (U_FAILURE(status) || source != sourceEnd) {
            return std::nullopt;
        }
        out.resize(static_cast<std::size_t>(target - out.data()));
        return out;
    }
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::optional<std::string> decodeWith(std::span<const std::uint8_t> bytes,
                                      std::string_view converterName) {
    Converter from = strictConverter(converterName);
    Converter utf8 = strictConverter("UTF-8");
    if (!from || !utf8) {
        return std::nullopt;
    }
    if (ucnv_getType(from.get()) == UCNV_UTF8) {
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (!platform::text::isValidUtf8(text)) {
            return std::nullopt;
        }
        return std::string(text);
    }
    return convert(utf8.get(), from.get(), bytes);
}

}  // namespace

std::optional<platform::Bytes> encodeText(std::string_view utf8, StringEncoding encoding) {
    const char* name = converterNameOf(encoding);
    if (!name) {
        return std::nullopt;
    }
    if (encoding == kUTF8StringEncoding) {
        return platform::toBytes(utf8);
    }
    Converter to = strictConverter(name);
    Converter from = strictConverter("UTF-8");
    if (!to || !from || !platform::text::isValidUtf8(utf8)) {
        return std::nullopt;
    }
    std::optional<std::string> converted = convert(to.get(), from.get(), bytesOf(utf8));
    if (!converted) {
        return std::nullopt;
    }
    return platform::Bytes(converted->begin(), converted->end());
}

std::optional<std::string> decodeText(std::span<const std::uint8_t> bytes,
                                      StringEncoding encoding) {
    const char* name = converterNameOf(encoding);
    return name ? decodeWith(bytes, name) : std::nullopt;
}

bool isKnownCharset(std::string_view charsetName) {
    return strictConverter(charsetName) != nullptr;
}

std::optional<std::string> decodeText(std::span<const std::uint8_t> bytes,
                                      std::string_view charsetName) {
    return decodeWith(bytes, charsetName);
}

std::string decodeTextLossily(std::span<const std::uint8_t> bytes, std::string_view charsetName) {
    Converter from = openConverter(charsetName);
    if (!from) {
        from = openConverter("ISO-8859-1");
    }
    Converter utf8 = openConverter("UTF-8");
    if (!from || !utf8) {
        return {};
    }
    return convert(utf8.get(), from.get(), bytes).value_or(std::string());
}

}  // namespace rzs_network
