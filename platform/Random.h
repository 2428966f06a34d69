// Random numbers and UUIDs, all drawn from the kernel's random source through the C library's
// ChaCha20 generator: good enough for keys and identifiers, never predictable from earlier values.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A uniformly distributed 32-bit number.
std::uint32_t random32();

// A uniformly distributed number below the bound, without modulo bias; 0 when the bound is 0.
std::uint32_t randomBelow(std::uint32_t bound);

// The text of a new random (version 4) UUID: 36 characters, upper-case hexadecimal digits in
// groups of 8-4-4-4-12 joined by hyphens.
std::string newUuidString();

}  // namespace platform
