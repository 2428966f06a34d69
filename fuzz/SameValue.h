// Equality for the fuzz targets' round trips, stricter than Value's own: kinds must match (a
// bool is no integer), and reals and dates compare by their bits, any NaN matching any other.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

#include "platform/Value.h"

namespace fuzzing {

inline bool sameNumber(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) ||
           std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// With `wholeSeconds`, a date of `b` may be that of `a` with its fraction dropped, as the XML
// form writes dates.
inline bool sameValue(const platform::Value& a, const platform::Value& b,
                      bool wholeSeconds = false) {
    using Type = platform::Value::Type;
    if (a.type() != b.type()) {
        return false;
    }
    switch (a.type()) {
        case Type::kReal:
            return sameNumber(*a.real(), *b.real());
        case Type::kDate: {
            const double seconds = a.date()->timeIntervalSinceReferenceDate();
            return sameNumber(wholeSeconds ? std::floor(seconds) : seconds,
                              b.date()->timeIntervalSinceReferenceDate());
        }
        case Type::kInteger:
            return (a.unsignedInteger() != nullptr) == (b.unsignedInteger() != nullptr) && a == b;
        case Type::kArray: {
            if (a.count() != b.count()) {
                return false;
            }
            for (std::size_t i = 0; i < a.count(); ++i) {
                if (!sameValue(a[i], b[i], wholeSeconds)) {
                    return false;
                }
            }
            return true;
        }
        case Type::kMap: {
            if (a.count() != b.count()) {
                return false;
            }
            auto theirs = b.map()->begin();
            for (const auto& [key, item] : *a.map()) {
                if (key != theirs->first || !sameValue(item, theirs->second, wholeSeconds)) {
                    return false;
                }
                ++theirs;
            }
            return true;
        }
        default:
            return a == b;
    }
}

}  // namespace fuzzing
