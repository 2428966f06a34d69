#include "platform/PropertyList.h"

#include <charconv>
#include <string_view>

#include "platform/PropertyListForms.h"
#include "platform/TextPropertyList.h"

namespace platform {

namespace {
constexpr const char* kUidKey = "CF$UID";
}

Value Uid::toValue() const {
    Map map;
    map.append(kUidKey, Value(index));
    return Value(std::move(map));
}

std::optional<Uid> Uid::from(const Value& value) {
    const Map* map = value.map();
    if (!map || map->size() != 1) {
        return std::nullopt;
    }
    const Value* found = map->find(kUidKey);
    if (!found) {
        return std::nullopt;
    }
    // A decimal (a number read from JSON) is written as the plain number it is: were it not
    // taken as one here, the value would be written as a dictionary once and read back as a
    // UID, changing on its second trip.
    const Value plain = found->decimal() ? detail::plainNumber(*found->decimal()) : Value();
    const Value* index = found->decimal() ? &plain : found;
    if (const std::uint64_t* big = index->unsignedInteger()) {
        return Uid{*big};
    }
    if (const std::int64_t* small = index->integer(); small && *small >= 0) {
        return Uid{static_cast<std::uint64_t>(*small)};
    }
    return std::nullopt;
}

namespace detail {

Value plainNumber(const Decimal& decimal) {
    if (auto integer = decimal.toInteger()) {
        return Value(*integer);
    }
    // Above the signed range the text is the exact value; a fraction of zeros, as some JSON
    // writers put after every number, still leaves a whole number.
    std::string text = decimal.stringValue();
    if (const auto point = text.find('.');
        point != std::string::npos && text.find_first_not_of('0', point + 1) == std::string::npos) {
        text.resize(point);
    }
    std::uint64_t big = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), big);
    if (ec == std::errc() && end == text.data() + text.size()) {
        return Value(big);
    }
    return Value(decimal.doubleValue());
}

}  // namespace detail

namespace PropertyList {

namespace {

Error makeError(long code, const std::string& message) {
    return Error(kCocoaErrorDomain, code, Map{{kLocalizedDescriptionKey, message}});
}

bool looksLikeXml(std::span<const std::uint8_t> data) {
    std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    std::size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos) {
        return false;
    }
    text.remove_prefix(start);
    return text.starts_with("<?xml") || text.starts_with("<!") || text.starts_with("<plist");
}

}  // namespace

std::optional<Value> read(std::span<const std::uint8_t> data, Error* error, Format* format) {
    auto fail = [&](const std::string& message) -> std::optional<Value> {
        if (error) {
            *error = makeError(kReadCorruptError, message);
        }
        return std::nullopt;
    };
    if (data.empty()) {
        return fail("The property list is empty.");
    }
    Format found = Format::kText;
    std::optional<Value> value;
    std::string problem;
    if (detail::isBinaryPropertyList(data)) {
        found = Format::kBinary;
        value = detail::readBinaryPropertyList(data, problem);
    } else if (looksLikeXml(data)) {
        found = Format::kXml;
        value = detail::readXmlPropertyList(
            std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), problem);
    } else {
        Error textError;
        auto text = detail::decodeText(data, &textError);
        value = text ? detail::parseTextPropertyList(*text, &textError) : std::nullopt;
        if (!value) {
            problem = textError.localizedDescription();
        }
    }
    if (!value) {
        return fail("The property list could not be read: " + problem +
                    (problem.ends_with('.') ? "" : "."));
    }
    if (format) {
        *format = found;
    }
    return value;
}

std::optional<Bytes> write(const Value& value, Format format, Error* error) {
    auto fail = [&](const std::string& message) -> std::optional<Bytes> {
        if (error) {
            *error = makeError(kWriteInvalidError, message);
        }
        return std::nullopt;
    };
    if (format == Format::kText) {
        return fail("Property lists are not written in the text form.");
    }
    std::string problem;
    auto data = format == Format::kBinary ? detail::writeBinaryPropertyList(value, problem)
                                          : detail::writeXmlPropertyList(value, problem);
    if (!data) {
        return fail("The value is not a valid property list: " + problem + ".");
    }
    return data;
}

std::optional<Value> readFile(const std::filesystem::path& path, Error* error) {
    auto data = Files::read(path, error);
    if (!data) {
        return std::nullopt;
    }
    Error parseError;
    auto value = read(*data, &parseError);
    if (!value && error) {
        parseError.userInfo().set(kFilePathErrorKey, path.string());
        *error = std::move(parseError);
    }
    return value;
}

bool writeFile(const Value& value, const std::filesystem::path& path, Format format, Error* error,
               Files::Access access) {
    auto data = write(value, format, error);
    return data && Files::writeAtomically(path, *data, error, access);
}

}  // namespace PropertyList
}  // namespace platform
