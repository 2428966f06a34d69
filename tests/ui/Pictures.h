// Screens of the widget tests as pictures: a window drawn to PNG and read back, and counts of
// the pixels that differ from a colour. Set RZ_SCREENSHOT_DIR to keep the PNGs for a person.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/render/Renderer.h"
#include "tests/support/TempDir.h"

namespace ui_test {

// The window at scale 2 without a status bar, written to PNG and decoded again.
inline platform::ImagePtr windowPicture(platform::Window& window, const std::string& name) {
    testing_support::TempDir dir;
    auto path = dir.path() / name;
    std::string error;
    platform::RenderOptions options;
    options.scale = 2;
    options.statusBar = false;
    if (!platform::Renderer::writeWindowPng(window, path, &error, options)) {
        ADD_FAILURE() << error;
        return nullptr;
    }
    if (const char* keep = std::getenv("RZ_SCREENSHOT_DIR")) {
        std::filesystem::copy_file(path, std::filesystem::path(keep) / name,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    auto png = platform::Image::fromFile(path, &error);
    if (!png) {
        ADD_FAILURE() << error;
    }
    return png;
}

inline bool near(platform::Color a, platform::Color b, double tolerance = 0.1) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// The pixel at a point (scale 2).
inline platform::Color pixelAt(const platform::Image& image, double x, double y) {
    return image.pixel(static_cast<int>(x * 2), static_cast<int>(y * 2));
}

// The first and last pixel columns (as points) of the row at `y` whose colour is near `color`;
// {-1, -1} when none is.
inline std::pair<double, double> spanOf(const platform::Image& image, double y,
                                        platform::Color color) {
    int first = -1, last = -1;
    int row = static_cast<int>(y * 2);
    for (int x = 0; x < image.pixelWidth(); ++x) {
        if (near(image.pixel(x, row), color)) {
            if (first < 0) {
                first = x;
            }
            last = x;
        }
    }
    if (first < 0) {
        return {-1, -1};
    }
    return {first / 2.0, (last + 1) / 2.0};
}

// The same down the column at `x`.
inline std::pair<double, double> columnSpanOf(const platform::Image& image, double x,
                                              platform::Color color) {
    int first = -1, last = -1;
    int column = static_cast<int>(x * 2);
    for (int y = 0; y < image.pixelHeight(); ++y) {
        if (near(image.pixel(column, y), color)) {
            if (first < 0) {
                first = y;
            }
            last = y;
        }
    }
    if (first < 0) {
        return {-1, -1};
    }
    return {first / 2.0, (last + 1) / 2.0};
}

}  // namespace ui_test
