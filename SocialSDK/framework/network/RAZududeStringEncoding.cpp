#include "SocialSDK/framework/network/RAZududeStringEncoding.h"

#include <unicode/ucnv.h>
#include <unicode/unistr.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Utf8.h"

namespace {

struct Charset {
    RAZududeStringEncoding encoding;
    const char* name;  // the IANA name; ICU opens it
};

constexpr Charset kCharsets[] = {
    {kRAZududeASCIIStringEncoding, "US-ASCII"},
    {kRAZududeJapaneseEUCStringEncoding, "EUC-JP"},
    {kRAZududeUTF8StringEncoding, "UTF-8"},
    {kRAZududeISOLatin1StringEncoding, "ISO-8859-1"},
    {kRAZududeShiftJISStringEncoding, "Shift_JIS"},
    {kRAZududeISOLatin2StringEncoding, "ISO-8859-2"},
    {kRAZududeUnicodeStringEncoding, "UTF-16"},
    {kRAZududeWindowsCP1251StringEncoding, "windows-1251"},
    {kRAZududeWindowsCP1252StringEncoding, "windows-1252"},
    {kRAZududeWindowsCP1253StringEncoding, "windows-1253"},
    {kRAZududeWindowsCP1254StringEncoding, "windows-1254"},
    {kRAZududeWindowsCP1250StringEncoding, "windows-1250"},
    {kRAZududeISO2022JPStringEncoding, "ISO-2022-JP"},
    {kRAZududeMacOSRomanStringEncoding, "macintosh"},
    {kRAZududeUTF16BigEndianStringEncoding, "UTF-16BE"},
    {kRAZududeUTF16LittleEndianStringEncoding, "UTF-16LE"},
    {kRAZududeUTF32StringEncoding, "UTF-32"},
    {kRAZududeUTF32BigEndianStringEncoding, "UTF-32BE"},
    {kRAZududeUTF32LittleEndianStringEncoding, "UTF-32LE"},
    {kRAZududeGB18030StringEncoding, "GB18030"},
    {kRAZududeGBKStringEncoding, "GBK"},
    {kRAZududeEUCCNStringEncoding, "GB2312"},
    {kRAZududeEUCKRStringEncoding, "EUC-KR"},
    {kRAZududeBig5StringEncoding, "Big5"},
    {kRAZududeKOI8RStringEncoding, "KOI8-R"},
    // The ISO 8859 parts beyond the first two, numbered through the wider table.
    {0x80000203, "ISO-8859-3"},
    {0x80000204, "ISO-8859-4"},
    {0x80000205, "ISO-8859-5"},
    {0x80000206, "ISO-8859-6"},
    {0x80000207, "ISO-8859-7"},
    {0x80000208, "ISO-8859-8"},
    {0x80000209, "ISO-8859-9"},
    {0x8000020D, "ISO-8859-13"},
    {0x8000020F, "ISO-8859-15"},
    {0x80000505, "windows-1255"},
    {0x80000506, "windows-1256"},
    {0x80000507, "windows-1257"},
    {0x80000508, "windows-1258"},
};

struct ConverterCloser {
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter openConverter(const std::string& name) {
    if (name.empty()) {
        return nullptr;
    }
    UErrorCode status = U_ZERO_ERROR;
    Converter converter(ucnv_open(name.c_str(), &status));
    if (U_FAILURE(status)) {
        return nullptr;
    }
    return converter;
}

// ICU's own name of a charset: every alias of one charset leads to the same name.
std::optional<std::string> icuName(const std::string& charset) {
    Converter converter = openConverter(charset);
    if (!converter) {
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    const char* name = ucnv_getName(converter.get(), &status);
    if (U_FAILURE(status) || name == nullptr) {
        return std::nullopt;
    }
    return std::string(name);
}

const std::map<std::string, RAZududeStringEncoding>& encodingsByIcuName() {
    static const auto* table = [] {
        auto* made = new std::map<std::string, RAZududeStringEncoding>();
        for (const Charset& charset : kCharsets) {
            if (auto name = icuName(charset.name)) {
                made->emplace(*name, charset.encoding);
            }
        }
        return made;
    }();
    return *table;
}

const char* charsetName(RAZududeStringEncoding encoding) {
    for (const Charset& charset : kCharsets) {
        if (charset.encoding == encoding) {
            return charset.name;
        }
    }
    return nullptr;
}

}  // namespace

std::optional<RAZududeStringEncoding> RAZududeStringEncodingForIANACharsetName(
    std::string_view name) {
    // Servers quote the parameter now and then ("charset=\"utf-8\"").
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
        name = name.substr(1, name.size() - 2);
    }
    auto icu = icuName(std::string(name));
    if (!icu) {
        return std::nullopt;
    }
    const auto& table = encodingsByIcuName();
    auto it = table.find(*icu);
    if (it == table.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<std::string> RAZududeStringFromBytes(const platform::Bytes& bytes,
                                                   RAZududeStringEncoding encoding) {
    if (encoding == kRAZududeUTF8StringEncoding) {
        std::string text(bytes.begin(), bytes.end());
        if (!platform::utf8::isValid(text)) {
            return std::nullopt;
        }
        return text;
    }
    const char* name = charsetName(encoding);
    if (name == nullptr) {
        return std::nullopt;
    }
    Converter converter = openConverter(name);
    if (!converter) {
        return std::nullopt;
    }
    UErrorCode status = U_ZERO_ERROR;
    // A byte sequence the charset does not define makes the text invalid, as the platform
    // refuses it, rather than a replacement character in the middle of it.
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    const auto* source = reinterpret_cast<const char*>(bytes.data());
    const auto length = static_cast<int32_t>(bytes.size());
    int32_t needed = ucnv_toUChars(converter.get(), nullptr, 0, source, length, &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) {
        return std::nullopt;
    }
    status = U_ZERO_ERROR;
    std::vector<UChar> units(static_cast<std::size_t>(needed) + 1);
    ucnv_toUChars(converter.get(), units.data(), static_cast<int32_t>(units.size()), source, length,
                  &status);
    if (U_FAILURE(status)) {
        return std::nullopt;
    }
    std::string text;
    icu::UnicodeString(units.data(), needed).toUTF8String(text);
    return text;
}
