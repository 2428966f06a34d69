// The main screen, as the device profile describes it: its size in points and its scale. The
// profile gives the size in portrait; the bounds turn with the interface orientation.
#pragma once

#include "platform/graphics/Geometry.h"

namespace platform {

class Screen {
  public:
    static Screen& main();

    // Bounds in the current interface orientation.
    Rect bounds() const;
    // The bounds less the status bar when it shows.
    Rect applicationFrame() const;
    double scale() const;
    Size portraitSize() const;

    static constexpr double kStatusBarHeight = 20;
};

}  // namespace platform
