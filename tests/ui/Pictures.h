// Widgets as pictures: a window drawn to PNG at scale 2 and read back. Set RZ_SCREENSHOT_DIR to
// keep the PNGs for a person to look at.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "platform/render/Renderer.h"
#include "tests/support/TempDir.h"

namespace ui_test {

inline platform::ImagePtr windowPicture(platform::Window& window, const std::string& name) {
    testing_support::TempDir dir;
    auto path = dir.path() / name;
    platform::Error error;
    platform::RenderOptions options;
    options.scale = 2;
    options.statusBar = false;
    EXPECT_TRUE(platform::Renderer::writeWindowPng(window, path, &error, options))
        << error.description();
    if (const char* keep = std::getenv("RZ_SCREENSHOT_DIR")) {
        std::filesystem::copy_file(path, std::filesystem::path(keep) / name,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    auto png = platform::Image::fromFile(path, &error);
    EXPECT_TRUE(png) << error.description();
    return png;
}

inline bool near(platform::Color a, platform::Color b, double tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

inline platform::Color pixelAt(const platform::Image& image, double x, double y) {
    return image.pixel(static_cast<int>(x * 2), static_cast<int>(y * 2));
}

// Where the pixels near `color` begin and end (in points) along the row at y = `at`, or down
// the column at x = `at` when `down`; {-1, -1} when there are none.
inline std::pair<double, double> spanOf(const platform::Image& image, double at,
                                        platform::Color color, bool down = false) {
    int first = -1, last = -1;
    int fixed = static_cast<int>(at * 2);
    int length = down ? image.pixelHeight() : image.pixelWidth();
    for (int i = 0; i < length; ++i) {
        if (near(down ? image.pixel(fixed, i) : image.pixel(i, fixed), color, 0.1)) {
            first = first < 0 ? i : first;
            last = i;
        }
    }
    return first < 0 ? std::pair{-1.0, -1.0} : std::pair{first / 2.0, (last + 1) / 2.0};
}

// How many pixels (at scale 2) inside the point rectangle satisfy the predicate.
template <class Predicate>
int countIn(const platform::Image& image, const platform::Rect& r, Predicate predicate) {
    int count = 0;
    for (double y = r.minY(); y < r.maxY(); y += 0.5) {
        for (double x = r.minX(); x < r.maxX(); x += 0.5) {
            count += predicate(pixelAt(image, x, y)) ? 1 : 0;
        }
    }
    return count;
}

}  // namespace ui_test
