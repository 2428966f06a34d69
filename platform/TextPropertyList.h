// The old text form of property lists, which strings tables also use: quoted or bare strings,
// {key = value;} dictionaries, (a, b) arrays, <hex> data, // and /* */ comments. Used by the
// property-list reader and by the bundle's strings tables; not a public interface of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Error.h"
#include "platform/Value.h"

namespace platform::detail {

// Text of a file as UTF-8: UTF-16 with a byte-order mark (either order), or UTF-8 with or
// without one. Invalid text gives nothing and the error.
std::optional<std::string> decodeText(std::span<const std::uint8_t> data, Error* error);

// A whole text property list. When the text is no single value, it is read as the body of a
// dictionary without braces, the form of strings tables.
std::optional<Value> parseTextPropertyList(std::string_view text, Error* error);

// A strings table: "key" = "value"; entries ("key"; alone maps the key to itself).
std::optional<Map> parseStringsTable(std::string_view text, Error* error);

}  // namespace platform::detail
