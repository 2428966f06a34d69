// The binary and XML forms of property lists, read and written by the property-list reader
// and writer (platform/PropertyList.h); not a public interface of their own. On failure they
// give nothing and say what is wrong in `problem`, as a phrase ("a string is not valid text").
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/Value.h"

namespace platform::detail {

// The forms hold no decimals: a whole number that fits 64 bits stays an exact integer, any
// other becomes the nearest real.
Value plainNumber(const Decimal& decimal);

// True when the data starts with the binary form's signature.
bool isBinaryPropertyList(std::span<const std::uint8_t> data);

std::optional<Value> readBinaryPropertyList(std::span<const std::uint8_t> data,
                                            std::string& problem);
std::optional<Bytes> writeBinaryPropertyList(const Value& value, std::string& problem);

std::optional<Value> readXmlPropertyList(std::string_view text, std::string& problem);
std::optional<Bytes> writeXmlPropertyList(const Value& value, std::string& problem);

}  // namespace platform::detail
