#include "platform/graphics/Color.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace platform {

namespace {

std::uint32_t component(double v) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255));
}

}  // namespace

std::uint32_t Color::rgba8() const {
    return component(r) << 24 | component(g) << 16 | component(b) << 8 | component(a);
}

std::string Color::description() const {
    char buf[96];
    std::snprintf(buf, sizeof buf, "rgba(%g, %g, %g, %g)", r, g, b, a);
    return buf;
}

}  // namespace platform
