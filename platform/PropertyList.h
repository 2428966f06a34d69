// Property lists: platform::Value to and from the XML and binary forms, and reading of the old
// text form. Dates count from 2001 inside the files and are platform::Date outside.
//
// Every value either form holds comes back exactly: integers from -2^63 to 2^64-1, reals and
// dates to the bit (the XML form spells dates to the second, years 0000 to 9999), strings
// with any character in the binary form (the XML form cannot hold control characters other
// than tab and the line ends). A property list holds no null; a Value with a null somewhere in
// it cannot be written, nor can a date that is no finite time.
//
// Keyed archives refer to their objects through UIDs; a Value holds a UID the way the XML form
// spells it, as a dictionary with the single integer entry "CF$UID" (see Uid below). Such a
// dictionary is written as a real UID in the binary form.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "platform/Error.h"
#include "platform/Files.h"
#include "platform/Value.h"

namespace platform {

// A reference to an object of a keyed archive.
struct Uid {
    std::uint64_t index = 0;

    Value toValue() const;
    // The UID a value spells, or nothing when it is not the one-entry "CF$UID" dictionary
    // with a non-negative whole number (an integer, or a decimal that is one).
    static std::optional<Uid> from(const Value& value);

    bool operator==(const Uid&) const = default;
};

namespace PropertyList {

enum class Format { kText, kXml, kBinary };

// Arrays and dictionaries nest at most this deep (the outermost one is level 1) in every form,
// read or written, so that no input can exhaust the stack.
inline constexpr int kMaxDepth = 512;

// Property-list error codes of the platform's error domain (kCocoaErrorDomain).
enum ErrorCode : long {
    kReadCorruptError = 3840,
    kWriteInvalidError = 3851,
};

// Reads any of the three forms; a corrupt or truncated input gives nothing and the error.
// Work and memory stay in proportion to the input: a binary list whose shared references
// would expand past what such a list honestly holds is refused.
std::optional<Value> read(std::span<const std::uint8_t> data, Error* error = nullptr,
                          Format* format = nullptr);

// Writes the XML or binary form (the text form is read only).
std::optional<Bytes> write(const Value& value, Format format, Error* error = nullptr);

std::optional<Value> readFile(const std::filesystem::path& path, Error* error = nullptr);

// Writes the file whole or not at all (Files::writeAtomically); a value that cannot be
// written leaves the file untouched.
bool writeFile(const Value& value, const std::filesystem::path& path, Format format,
               Error* error = nullptr, Files::Access access = Files::Access::kOwnerOnly);

}  // namespace PropertyList
}  // namespace platform
