// Where a toast goes, a value the app hands the configuration and the toasts read.
#pragma once

#include <cstdint>

// Where a toast goes, in portrait: its centre 45 points below the window's top edge, 45 points
// above its bottom edge, or the window's centre. Any other value places it at `postition`.
enum RAZududeToastGravity : std::int32_t {
    kRAZududeToastGravityTop = 1000001,
    kRAZududeToastGravityBottom = 1000002,
    kRAZududeToastGravityCenter = 1000003,
};
