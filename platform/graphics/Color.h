// Colours as red, green, blue and alpha components from 0 to 1 (straight, not premultiplied).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

struct Color {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 0;

    constexpr Color() = default;
    constexpr Color(double red, double green, double blue, double alpha = 1)
        : r(red), g(green), b(blue), a(alpha) {}

    // A grey of the given whiteness (0 black, 1 white).
    static constexpr Color gray(double white, double alpha = 1) {
        return {white, white, white, alpha};
    }
    static constexpr Color rgb255(int red, int green, int blue, double alpha = 1) {
        return {red / 255.0, green / 255.0, blue / 255.0, alpha};
    }

    static constexpr Color black() { return {0, 0, 0, 1}; }
    static constexpr Color white() { return {1, 1, 1, 1}; }
    static constexpr Color clear() { return {0, 0, 0, 0}; }
    static constexpr Color red() { return {1, 0, 0, 1}; }
    static constexpr Color green() { return {0, 1, 0, 1}; }
    static constexpr Color blue() { return {0, 0, 1, 1}; }
    static constexpr Color darkGray() { return gray(1.0 / 3); }
    static constexpr Color midGray() { return gray(0.5); }
    static constexpr Color lightGray() { return gray(2.0 / 3); }

    constexpr Color withAlpha(double alpha) const { return {r, g, b, alpha}; }
    constexpr bool isClear() const { return a <= 0; }

    // 0xRRGGBBAA with each component rounded to 8 bits; handy for comparing with pixels.
    std::uint32_t rgba8() const;

    constexpr bool operator==(const Color&) const = default;
    std::string description() const;
};

}  // namespace platform
