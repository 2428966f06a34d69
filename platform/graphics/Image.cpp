#include "platform/graphics/Image.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "platform/Bundle.h"
#include "platform/Device.h"
#include "platform/Files.h"
#include "platform/Log.h"
#include "platform/NoDestructor.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/ImageCodec.h"

// Where an installed SDK keeps its resource bundles ("<prefix>/share/sharesdk").
#ifndef RZ_INSTALLED_RESOURCE_ROOT
#define RZ_INSTALLED_RESOURCE_ROOT ""
#endif

namespace platform {

namespace {

struct Resources {
    std::mutex mutex;
    std::filesystem::path root;
    bool rootSet = false;
    std::map<std::string, ImagePtr, std::less<>> cache;
    // The places last named in a warning about a missing bundle.
    std::string warnedPlaces;
};

Resources& resources() {
    static NoDestructor<Resources> r;
    return *r;
}

// A program that finds no resource bundle at all draws its screens without their artwork: it
// is told once for each set of places looked in, naming them, rather than once per image.
void warnIfBundleMissing(const std::filesystem::path& name,
                         const std::vector<std::filesystem::path>& roots) {
    const std::filesystem::path& bundle = *name.begin();
    if (bundle.extension() != ".bundle") {
        return;
    }
    std::error_code ec;
    std::string places;
    for (const auto& root : roots) {
        if (std::filesystem::is_directory(root / bundle, ec)) {
            return;
        }
        places += (places.empty() ? "" : ", ") + root.string();
    }
    {
        auto& r = resources();
        std::lock_guard lock(r.mutex);
        if (r.warnedPlaces == places) {
            return;
        }
        r.warnedPlaces = places;
    }
    consoleLog(
        "resource bundle %@ not found in %@; its images stay blank. Set RZ_RESOURCE_ROOT or "
        "call platform::Image::setResourceRoot with the folder that holds it",
        bundle.string(), places);
}

std::uint32_t premultiply(const std::uint8_t* p) {
    std::uint32_t a = p[3];
    auto mul = [a](std::uint32_t c) { return (c * a + 127) / 255; };
    return a << 24 | mul(p[0]) << 16 | mul(p[1]) << 8 | mul(p[2]);
}

void unpremultiply(std::uint32_t px, std::uint8_t* out) {
    std::uint32_t a = px >> 24;
    auto un = [a](std::uint32_t c) -> std::uint8_t {
        return a == 0
                   ? 0
                   : static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (c * 255 + a / 2) / a));
    };
    out[0] = un((px >> 16) & 0xFF);
    out[1] = un((px >> 8) & 0xFF);
    out[2] = un(px & 0xFF);
    out[3] = static_cast<std::uint8_t>(a);
}

codec::Rgba toRgba(const Image& image, bool straight) {
    codec::Rgba rgba;
    rgba.width = image.pixelWidth();
    rgba.height = image.pixelHeight();
    rgba.pixels.resize(static_cast<std::size_t>(rgba.width) * rgba.height * 4);
    const std::uint32_t* src = image.data();
    for (std::size_t i = 0; i < static_cast<std::size_t>(rgba.width) * rgba.height; ++i) {
        std::uint8_t* out = rgba.pixels.data() + i * 4;
        if (straight) {
            unpremultiply(src[i], out);
        } else {
            // Premultiplied components are the colour as drawn over black.
            out[0] = (src[i] >> 16) & 0xFF;
            out[1] = (src[i] >> 8) & 0xFF;
            out[2] = src[i] & 0xFF;
            out[3] = 255;
        }
    }
    return rgba;
}

// A failure of the codecs in the platform's file domain, with the codec's reason.
void fail(Error* error, long code, std::string why) {
    if (error) {
        *error = Error(kCocoaErrorDomain, code, Map{{kLocalizedDescriptionKey, std::move(why)}});
    }
}

// "name@2x.png" is of scale 2.
double scaleOfFileName(const std::filesystem::path& path) {
    std::string stem = path.stem().string();
    auto at = stem.rfind('@');
    if (at != std::string::npos && stem.size() == at + 3 && stem[at + 2] == 'x' &&
        stem[at + 1] >= '1' && stem[at + 1] <= '9') {
        return stem[at + 1] - '0';
    }
    return 1;
}

}  // namespace

Image::Image(int pixelWidth, int pixelHeight, double scale)
    : width_(std::max(pixelWidth, 0)),
      height_(std::max(pixelHeight, 0)),
      scale_(scale > 0 ? scale : 1),
      pixels_(std::make_shared<std::vector<std::uint32_t>>(
          static_cast<std::size_t>(width_) * height_, 0)) {}

ImagePtr Image::decode(const Bytes& data, double scale, Error* error) {
    codec::Rgba rgba;
    std::string why;
    if (!codec::decode(data, rgba, &why)) {
        fail(error, kFileReadCorruptFileError, std::move(why));
        return nullptr;
    }
    auto image = std::make_shared<Image>(rgba.width, rgba.height, scale);
    std::uint32_t* dst = image->mutableData();
    for (std::size_t i = 0; i < static_cast<std::size_t>(rgba.width) * rgba.height; ++i) {
        dst[i] = premultiply(rgba.pixels.data() + i * 4);
    }
    return image;
}

ImagePtr Image::fromFile(const std::filesystem::path& path, Error* error) {
    std::filesystem::path chosen = path;
    if (preferredScale() >= 2 && scaleOfFileName(path) == 1) {
        auto retina =
            path.parent_path() / (path.stem().string() + "@2x" + path.extension().string());
        std::error_code ec;
        if (std::filesystem::is_regular_file(retina, ec)) {
            chosen = retina;
        }
    }
    std::optional<Bytes> data = Files::read(chosen, error);
    if (!data) {
        return nullptr;
    }
    ImagePtr image = decode(*data, scaleOfFileName(chosen), error);
    if (!image && error) {
        fail(error, kFileReadCorruptFileError,
             chosen.string() + ": " + error->localizedDescription());
        error->userInfo().set(kFilePathErrorKey, chosen.string());
    }
    return image;
}

ImagePtr Image::named(std::string_view name) {
    if (name.empty()) {
        return nullptr;
    }
    auto& r = resources();
    std::vector<std::filesystem::path> roots = resourceRoots();
    // Cached per place and scale, since the file chosen depends on both.
    std::string key =
        roots.front().string() + "|" + std::string(name) + "@" + std::to_string(preferredScale());
    {
        std::lock_guard lock(r.mutex);
        if (auto it = r.cache.find(key); it != r.cache.end()) {
            return it->second;
        }
    }
    std::filesystem::path relative(name);
    if (relative.is_absolute() || std::string(name).find("..") != std::string::npos) {
        return nullptr;
    }
    ImagePtr image;
    std::error_code ec;
    for (const auto& root : roots) {
        std::filesystem::path base = root / relative;
        std::filesystem::path png = base;
        png += ".png";
        std::filesystem::path retina = base;
        retina += "@2x.png";
        if (base.has_extension() && std::filesystem::is_regular_file(base, ec)) {
            image = fromFile(base);
        } else if (std::filesystem::is_regular_file(png, ec)) {
            image = fromFile(png);
        } else if (std::filesystem::is_regular_file(retina, ec)) {
            image = fromFile(retina);
        }
        if (image) {
            break;
        }
    }
    if (!image) {
        warnIfBundleMissing(relative, roots);
        return nullptr;
    }
    std::lock_guard lock(r.mutex);
    r.cache.emplace(std::move(key), image);
    return image;
}

std::vector<std::filesystem::path> Image::resourceRoots() {
    auto& r = resources();
    {
        std::lock_guard lock(r.mutex);
        if (!r.rootSet) {
            const char* env = std::getenv("RZ_RESOURCE_ROOT");
            r.root = env && *env ? std::filesystem::path(env) : std::filesystem::path();
            r.rootSet = true;
        }
        if (!r.root.empty()) {
            return {r.root};
        }
    }
    std::filesystem::path main = Bundle::mainBundle().bundlePath();
    std::vector<std::filesystem::path> roots;
    for (std::filesystem::path root :
         {main, main.parent_path() / "share" / "sharesdk", Bundle::programFolder(),
          std::filesystem::path(RZ_INSTALLED_RESOURCE_ROOT)}) {
        root = root.lexically_normal();
        if (!root.empty() && std::find(roots.begin(), roots.end(), root) == roots.end()) {
            roots.push_back(std::move(root));
        }
    }
    return roots;
}

void Image::setResourceRoot(const std::filesystem::path& root) {
    auto& r = resources();
    std::lock_guard lock(r.mutex);
    r.root = root;
    r.rootSet = true;
    r.cache.clear();
}

double Image::preferredScale() {
    return currentDevice().screenScale;
}

ImagePtr Image::stretchable(double leftCapWidth, double topCapHeight) const {
    Size s = size();
    EdgeInsets caps;
    if (leftCapWidth > 0) {
        caps.left = leftCapWidth;
        caps.right = std::max(0.0, s.width - leftCapWidth - 1);
    }
    if (topCapHeight > 0) {
        caps.top = topCapHeight;
        caps.bottom = std::max(0.0, s.height - topCapHeight - 1);
    }
    return resizable(caps);
}

ImagePtr Image::resizable(EdgeInsets capInsets) const {
    auto copy = std::make_shared<Image>(*this);
    Size s = size();
    capInsets.left = std::clamp(capInsets.left, 0.0, s.width);
    capInsets.right = std::clamp(capInsets.right, 0.0, s.width - capInsets.left);
    capInsets.top = std::clamp(capInsets.top, 0.0, s.height);
    capInsets.bottom = std::clamp(capInsets.bottom, 0.0, s.height - capInsets.top);
    copy->caps_ = capInsets;
    return copy;
}

ImagePtr Image::scaledTo(Size target, double scale) const {
    ImageContext context(target, false, scale);
    Image plain(*this);
    plain.caps_ = {};
    context.context().drawImage(plain, Rect{{0, 0}, target});
    return context.makeImage();
}

Bytes Image::encodePng(Error* error) const {
    if (width_ == 0 || height_ == 0) {
        fail(error, kFileWriteUnknownError, "PNG: the image is empty");
        return {};
    }
    std::string why;
    Bytes png = codec::encodePng(toRgba(*this, true), &why);
    if (png.empty()) {
        fail(error, kFileWriteUnknownError, std::move(why));
    }
    return png;
}

Bytes Image::encodeJpeg(double quality, Error* error) const {
    if (width_ == 0 || height_ == 0) {
        fail(error, kFileWriteUnknownError, "JPEG: the image is empty");
        return {};
    }
    std::string why;
    Bytes jpeg = codec::encodeJpeg(toRgba(*this, false), quality, &why);
    if (jpeg.empty()) {
        fail(error, kFileWriteUnknownError, std::move(why));
    }
    return jpeg;
}

bool Image::writePng(const std::filesystem::path& path, Error* error) const {
    Bytes data = encodePng(error);
    return !data.empty() && Files::writeAtomically(path, data, error, Files::Access::kShared);
}

Color Image::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return Color::clear();
    }
    std::uint8_t c[4];
    unpremultiply((*pixels_)[static_cast<std::size_t>(y) * width_ + x], c);
    return {c[0] / 255.0, c[1] / 255.0, c[2] / 255.0, c[3] / 255.0};
}

std::uint32_t Image::pixelRgba8(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return 0;
    }
    std::uint8_t c[4];
    unpremultiply((*pixels_)[static_cast<std::size_t>(y) * width_ + x], c);
    return std::uint32_t(c[0]) << 24 | std::uint32_t(c[1]) << 16 | std::uint32_t(c[2]) << 8 | c[3];
}

}  // namespace platform
