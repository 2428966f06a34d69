#include "SocialSDK/framework/network/RAZududeCharsetNames.h"

#include <unicode/ucnv.h>

#include <map>
#include <memory>
#include <string>

namespace {

struct Charset {
    rzs_network::StringEncoding encoding;
    const char* name;  // the IANA name; ICU opens it
};

constexpr Charset kCharsets[] = {
    {rzs_network::kASCIIStringEncoding, "US-ASCII"},
    {rzs_network::kJapaneseEUCStringEncoding, "EUC-JP"},
    {rzs_network::kUTF8StringEncoding, "UTF-8"},
    {rzs_network::kISOLatin1StringEncoding, "ISO-8859-1"},
    {rzs_network::kShiftJISStringEncoding, "Shift_JIS"},
    {rzs_network::kISOLatin2StringEncoding, "ISO-8859-2"},
    {rzs_network::kUnicodeStringEncoding, "UTF-16"},
    {rzs_network::kWindowsCP1251StringEncoding, "windows-1251"},
    {rzs_network::kWindowsCP1252StringEncoding, "windows-1252"},
    {rzs_network::kWindowsCP1253StringEncoding, "windows-1253"},
    {rzs_network::kWindowsCP1254StringEncoding, "windows-1254"},
    {rzs_network::kWindowsCP1250StringEncoding, "windows-1250"},
    {rzs_network::kISO2022JPStringEncoding, "ISO-2022-JP"},
    {rzs_network::kMacOSRomanStringEncoding, "macintosh"},
    {rzs_network::kUTF16BigEndianStringEncoding, "UTF-16BE"},
    {rzs_network::kUTF16LittleEndianStringEncoding, "UTF-16LE"},
    {rzs_network::kUTF32StringEncoding, "UTF-32"},
    {rzs_network::kUTF32BigEndianStringEncoding, "UTF-32BE"},
    {rzs_network::kUTF32LittleEndianStringEncoding, "UTF-32LE"},
    {rzs_network::kGB18030StringEncoding, "GB18030"},
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

const std::map<std::string, rzs_network::StringEncoding>& encodingsByIcuName() {
    static const auto* table = [] {
        auto* made = new std::map<std::string, rzs_network::StringEncoding>();
        for (const Charset& charset : kCharsets) {
            if (auto name = icuName(charset.name)) {
                made->emplace(*name, charset.encoding);
            }
        }
        return made;
    }();
    return *table;
}

}  // namespace

std::optional<rzs_network::StringEncoding> RAZududeStringEncodingForIANACharsetName(
    std::string_view name) {
    // Servers quote the parameter now and then ("charset=\"utf-8\"").
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
        name = name.substr(1, name.size() - 2);
    }
    if (name.size() > 64 || name.find('\0') != std::string_view::npos) {
        return std::nullopt;
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
