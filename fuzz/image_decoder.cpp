// Any bytes as a picture: the decoders answer pixels or a reason, never crash, read out of
// bounds or allocate more than the bytes could fill; what they decode is whole, and a small
// picture survives a trip through the PNG encoder.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/graphics/ImageCodec.h"

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes bytes(data, data + size);
    codec::Rgba picture;
    std::string error;
    if (!codec::decode(bytes, picture, &error)) {
        if (error.empty() || !picture.pixels.empty() || picture.width || picture.height) {
            std::abort();  // a refusal says why and keeps nothing
        }
        return 0;
    }
    if (picture.width <= 0 || picture.height <= 0 ||
        picture.pixels.size() != std::size_t(picture.width) * picture.height * 4) {
        std::abort();
    }
    if (std::size_t(picture.width) * picture.height <= 64 * 64) {
        const Bytes png = codec::encodePng(picture, &error);
        codec::Rgba again;
        if (png.empty() || !codec::decode(png, again, &error) || again.width != picture.width ||
            again.height != picture.height || again.pixels != picture.pixels) {
            std::abort();
        }
    }
    return 0;
}
