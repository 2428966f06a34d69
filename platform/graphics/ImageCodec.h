// The file formats behind Image: straight-alpha RGBA bytes in, encoded bytes out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Value.h"

namespace platform::codec {

enum class Format { kUnknown, kPng, kJpeg, kGif };

// Rows of RGBA bytes, four per pixel, straight alpha.
struct Rgba {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

Format sniff(const Bytes& data);
// Refuses (and leaves `out` empty) a damaged picture, one cut short, and one whose header
// claims more than its data could fill.
bool decode(const Bytes& data, Rgba& out, std::string* error);
Bytes encodePng(const Rgba& in, std::string* error);
// Alpha is ignored; quality 0 to 1.
Bytes encodeJpeg(const Rgba& in, double quality, std::string* error);

}  // namespace platform::codec
