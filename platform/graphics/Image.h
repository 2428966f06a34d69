// Immutable bitmaps: decoded from PNG, JPEG and GIF, encoded to PNG and JPEG, scaled, and
// made stretchable with end caps. Images are shared as ImagePtr and never change once made.
//
// Pixels are kept premultiplied, 32 bits each, in the renderer's native layout, so that drawing
// needs no conversion. A scale of 2 means two pixels per point.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Error.h"
#include "platform/Value.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/Geometry.h"

namespace platform {

class Image;
using ImagePtr = std::shared_ptr<const Image>;

class Image {
  public:
    // A transparent bitmap of the given pixel size.
    Image(int pixelWidth, int pixelHeight, double scale = 1);

    // Decodes PNG, JPEG or GIF (the first frame), told apart by their signatures. On failure
    // answers nullptr and, when asked, an error of the platform's file domain
    // (kFileReadCorruptFileError) whose description says why.
    static ImagePtr decode(const Bytes& data, double scale = 1, Error* error = nullptr);
    // Reads a file; "name@2x.ext" beside "name.ext" is preferred on a screen of scale 2, as
    // the file name's own "@2x" gives its scale. A file that cannot be read fails as
    // Files::read says; one that holds no picture as decode() does.
    static ImagePtr fromFile(const std::filesystem::path& path, Error* error = nullptr);
    // An image of the application's resources by name ("X.bundle/Folder/name", with or
    // without ".png"), cached for the process. Looked up in the resource roots, in order.
    static ImagePtr named(std::string_view name);

    // Where named images are looked for, in order: the root set by setResourceRoot or
    // $RZ_RESOURCE_ROOT alone, when there is one; else the main bundle's folder, the
    // "share/sharesdk" beside it (an app installed into a prefix: "<prefix>/bin" and
    // "<prefix>/share/sharesdk"), the program's own folder, and the installed SDK's
    // "<prefix>/share/sharesdk". A name under "X.bundle/" that finds no such bundle in any of
    // them logs one warning naming the places.
    static std::vector<std::filesystem::path> resourceRoots();
    // The folder that holds the resource bundles, for an app that keeps them elsewhere; an
    // empty path goes back to the default roots. Call it before the first screen shows.
    static void setResourceRoot(const std::filesystem::path& root);
    // The scale preferred by named() and fromFile(): the device's screen scale.
    static double preferredScale();

    int pixelWidth() const { return width_; }
    int pixelHeight() const { return height_; }
    double scale() const { return scale_; }
    Size size() const { return {width_ / scale_, height_ / scale_}; }

    // Stretchable form: the caps stay as they are when drawn larger, the rest stretches. A cap
    // of 0 lets that whole direction stretch; otherwise the far cap is what is left after one
    // middle point.
    ImagePtr stretchable(double leftCapWidth, double topCapHeight) const;
    ImagePtr resizable(EdgeInsets capInsets) const;
    const EdgeInsets& capInsets() const { return caps_; }
    bool hasCaps() const { return caps_ != EdgeInsets{}; }

    // The image drawn into a new bitmap of the size (in points) at the scale.
    ImagePtr scaledTo(Size size, double scale = 1) const;

    // Empty bytes and kFileWriteUnknownError when the image is empty or the encoder fails.
    Bytes encodePng(Error* error = nullptr) const;
    // Quality from 0 (smallest) to 1 (best). Alpha is dropped: the pixels come out as drawn
    // over black.
    Bytes encodeJpeg(double quality, Error* error = nullptr) const;
    // Written whole or not at all, readable by others (Files::writeAtomically).
    bool writePng(const std::filesystem::path& path, Error* error = nullptr) const;

    // The pixel at (x, y) with straight alpha; transparent outside the image.
    Color pixel(int x, int y) const;
    // 0xRRGGBBAA of the pixel with straight alpha.
    std::uint32_t pixelRgba8(int x, int y) const;

    // Raw premultiplied pixels, row by row, four bytes each; for the renderer.
    const std::uint32_t* data() const { return pixels_->data(); }
    std::uint32_t* mutableData() { return pixels_->data(); }
    int stride() const { return width_ * 4; }

  private:
    int width_ = 0;
    int height_ = 0;
    double scale_ = 1;
    EdgeInsets caps_;
    std::shared_ptr<std::vector<std::uint32_t>> pixels_;
};

}  // namespace platform
