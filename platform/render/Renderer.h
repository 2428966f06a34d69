// Pictures of the view model: a window, or any view with its subviews, drawn with cairo and
// Pango into an image or a PNG file, so that a person can look at a screen.
//
// Before drawing, the layout and display passes run, so the picture shows the model as the
// next turn of the main loop would leave it. A view is drawn as: its background (with its
// corner radius), what its draw recorded (cut to its bounds), its built-in content, then its
// subviews in order; alpha applies to the view and its subviews as one, and a view that masks
// to its bounds clips them to its rounded rectangle. Hidden views and views with alpha below
// 0.01 are left out. Text is set with the system font, which carries the CJK ideographs.
#pragma once

#include <filesystem>
#include <string>

#include "platform/graphics/Image.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace platform {

struct RenderOptions {
    // Pixels per point; 0 for the screen's scale.
    double scale = 0;
    // A status bar with the time across the top of a window.
    bool statusBar = true;
    // The alerts and action sheets on show, over the window.
    bool modalPanels = true;
};

class Renderer {
  public:
    // The view and its subviews, in an image of the view's size.
    static ImagePtr renderView(View& view, double scale = 1);
    static ImagePtr renderWindow(Window& window, const RenderOptions& options = {});
    static bool writeWindowPng(Window& window, const std::filesystem::path& path,
                               Error* error = nullptr, const RenderOptions& options = {});
};

}  // namespace platform
