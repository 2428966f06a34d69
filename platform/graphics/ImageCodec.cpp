// PNG, JPEG and GIF coding on libpng, libjpeg and giflib. Pictures come from other apps and
// from the network, so every decoder checks the declared size, against a fixed limit and
// against what its data could fill at the format's best compression, before it allocates; it
// refuses a file that ends before its picture does, and reports damage as an error, never a
// crash.
#include "platform/graphics/ImageCodec.h"

#include <gif_lib.h>
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform::codec {

namespace {

constexpr std::int64_t kMaxSide = 32768;
constexpr std::int64_t kMaxPixels = std::int64_t(1) << 26;

bool sizeAllowed(std::int64_t w, std::int64_t h, std::string* error) {
    if (w <= 0 || h <= 0 || w > kMaxSide || h > kMaxSide || w * h > kMaxPixels) {
        if (error) {
            *error = "image size " + std::to_string(w) + "x" + std::to_string(h) +
                     " is empty or too large";
        }
        return false;
    }
    return true;
}

void setError(std::string* error, std::string message) {
    if (error) {
        *error = std::move(message);
    }
}

// A header may claim any size; the bytes behind it bound what can honestly be there.
bool dataCanFill(double needed, std::size_t have, std::int64_t w, std::int64_t h,
                 const char* format, std::string* error) {
    if (needed > static_cast<double>(have)) {
        setError(error, std::string(format) + ": " + std::to_string(have) +
                            " bytes cannot hold a picture of " + std::to_string(w) + "x" +
                            std::to_string(h));
        return false;
    }
    return true;
}

// ---- PNG -------------------------------------------------------------------------------

bool decodePng(const Bytes& data, Rgba& out, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data.data(), data.size())) {
        setError(error, std::string("PNG: ") + image.message);
        return false;
    }
    // Deflate puts at most 1032 bytes in one byte. The rows, filter bytes included, are at
    // least as long as the header's depth and colour type make them (the header was read, so
    // it is there and valid).
    const std::int64_t depth = data[24];
    static constexpr int kChannels[] = {1, 0, 3, 1, 2, 0, 4};
    const std::int64_t channels = data[25] < 7 ? kChannels[data[25]] : 1;
    const double rows = double(image.height) * (1 + (image.width * depth * channels + 7) / 8);
    if (!sizeAllowed(image.width, image.height, error) ||
        !dataCanFill(rows / 1032, data.size(), image.width, image.height, "PNG", error)) {
        png_image_free(&image);
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.pixels.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, out.pixels.data(), 0, nullptr)) {
        setError(error, std::string("PNG: ") + image.message);
        png_image_free(&image);
        return false;
    }
    return true;
}

// ---- JPEG ------------------------------------------------------------------------------

// Progressive pictures need a handful of scans; each scan passes over the whole picture, so a
// file of thousands of tiny scans would take seconds.
constexpr int kMaxJpegScans = 100;

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegFail(j_common_ptr info) {
    auto* err = reinterpret_cast<JpegError*>(info->err);
    (*info->err->format_message)(info, err->message);
    std::longjmp(err->jump, 1);
}

// libjpeg makes up the rest of a picture whose data ends early, and only warns; such a picture
// would be partly invented, so the warning is an error.
void jpegWarning(j_common_ptr info, int level) {
    int code = info->err->msg_code;
    if (level < 0 && (code == JWRN_HIT_MARKER || code == JWRN_JPEG_EOF)) {
        auto* err = reinterpret_cast<JpegError*>(info->err);
        std::snprintf(err->message, sizeof err->message, "the data ends inside the picture");
        std::longjmp(err->jump, 1);
    }
}

void jpegProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > kMaxJpegScans) {
        auto* err = reinterpret_cast<JpegError*>(info->err);
        std::snprintf(err->message, sizeof err->message, "more than %d scans", kMaxJpegScans);
        std::longjmp(err->jump, 1);
    }
}

// No object with a destructor lives in this frame: libjpeg leaves it by longjmp on errors.
// The output buffer belongs to the caller.
bool decodeJpegInto(const Bytes& data, std::size_t given, Rgba& out, std::string* error,
                    JpegError& err, jpeg_decompress_struct& info, jpeg_progress_mgr& progress) {
    info.err = jpeg_std_error(&err.manager);
    err.manager.error_exit = jpegFail;
    err.manager.emit_message = jpegWarning;
    if (setjmp(err.jump)) {
        setError(error, std::string("JPEG: ") + err.message);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    progress.progress_monitor = jpegProgress;
    info.progress = &progress;
    jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
    // Each 8 x 8 block of each component takes at least one bit of its first scan. (Arithmetic
    // coding can go below that on a large flat picture; such rare files are refused too.)
    double blocks = 0;
    for (int c = 0; c < info.num_components; ++c) {
        blocks += double(info.comp_info[c].width_in_blocks) * info.comp_info[c].height_in_blocks;
    }
    if (!sizeAllowed(info.image_width, info.image_height, error) ||
        !dataCanFill(blocks / 8, given, info.image_width, info.image_height, "JPEG", error)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    bool inverted = cmyk && info.saw_Adobe_marker;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    out.width = static_cast<int>(info.output_width);
    out.height = static_cast<int>(info.output_height);
    out.pixels.resize(static_cast<std::size_t>(out.width) * out.height * 4);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row =
            out.pixels.data() + static_cast<std::size_t>(info.output_scanline) * out.width * 4;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    if (cmyk) {
        for (std::size_t i = 0; i < out.pixels.size(); i += 4) {
            int c = out.pixels[i], m = out.pixels[i + 1], y = out.pixels[i + 2],
                k = out.pixels[i + 3];
            if (!inverted) {
                c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
            }
            out.pixels[i] = static_cast<std::uint8_t>(c * k / 255);
            out.pixels[i + 1] = static_cast<std::uint8_t>(m * k / 255);
            out.pixels[i + 2] = static_cast<std::uint8_t>(y * k / 255);
            out.pixels[i + 3] = 255;
        }
    }
    return true;
}

bool decodeJpeg(const Bytes& data, Rgba& out, std::string* error) {
    // Data cut after its last row, before the end marker, loses nothing: it gets the marker,
    // so that only data that ends inside the picture counts as cut.
    Bytes closed;
    const Bytes* source = &data;
    if (data.size() < 2 || data[data.size() - 2] != 0xFF || data.back() != 0xD9) {
        closed.reserve(data.size() + 2);
        closed.insert(closed.end(), data.begin(), data.end());
        closed.push_back(0xFF);
        closed.push_back(0xD9);
        source = &closed;
    }
    JpegError err;
    jpeg_decompress_struct info;
    std::memset(&info, 0, sizeof info);
    jpeg_progress_mgr progress;
    std::memset(&progress, 0, sizeof progress);
    return decodeJpegInto(*source, data.size(), out, error, err, info, progress);
}

struct JpegOutput {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
};

bool encodeJpegFrom(const Rgba& in, int quality, JpegOutput& output, std::string* error,
                    JpegError& err, jpeg_compress_struct& info) {
    info.err = jpeg_std_error(&err.manager);
    err.manager.error_exit = jpegFail;
    err.manager.emit_message = jpegWarning;
    if (setjmp(err.jump)) {
        setError(error, std::string("JPEG: ") + err.message);
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &output.buffer, &output.size);
    info.image_width = static_cast<JDIMENSION>(in.width);
    info.image_height = static_cast<JDIMENSION>(in.height);
    info.input_components = 4;
    info.in_color_space = JCS_EXT_RGBX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<JSAMPLE*>(
            in.pixels.data() + static_cast<std::size_t>(info.next_scanline) * in.width * 4);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

// ---- GIF -------------------------------------------------------------------------------

struct GifSource {
    const Bytes* data;
    std::size_t offset = 0;
};

int gifRead(GifFileType* gif, GifByteType* buffer, int length) {
    auto* source = static_cast<GifSource*>(gif->UserData);
    std::size_t left = source->data->size() - source->offset;
    std::size_t n = std::min<std::size_t>(left, static_cast<std::size_t>(std::max(length, 0)));
    std::memcpy(buffer, source->data->data() + source->offset, n);
    source->offset += n;
    return static_cast<int>(n);
}

struct GifCloser {
    void operator()(GifFileType* gif) const {
        int ignored = 0;
        DGifCloseFile(gif, &ignored);
    }
};

std::string gifMessage(int code) {
    const char* text = GifErrorString(code);
    return std::string("GIF: ") + (text ? text : "damaged file");
}

// The first frame, placed on the logical screen, which starts transparent.
bool decodeGif(const Bytes& data, Rgba& out, std::string* error) {
    GifSource source{&data};
    int code = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, gifRead, &code));
    if (!gif) {
        setError(error, gifMessage(code));
        return false;
    }
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) {
            setError(error, gifMessage(gif->Error));
            return false;
        }
        if (type == TERMINATE_RECORD_TYPE) {
            setError(error, "GIF: no image in the file");
            return false;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int function = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &function, &block) == GIF_ERROR) {
                setError(error, gifMessage(gif->Error));
                return false;
            }
            if (function == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                transparent = (block[1] & 1) ? block[4] : -1;
            }
            while (block) {
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) {
                    setError(error, gifMessage(gif->Error));
                    return false;
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) {
            continue;
        }
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) {
            setError(error, gifMessage(gif->Error));
            return false;
        }
        const GifImageDesc& desc = gif->Image;
        std::int64_t screenW = gif->SWidth > 0 ? gif->SWidth : desc.Width;
        std::int64_t screenH = gif->SHeight > 0 ? gif->SHeight : desc.Height;
        // An LZW code of 12 bits stands for at most 4096 pixels; neither the frame nor the
        // screen it is shown on can be larger than the data could fill.
        constexpr double kMostPixelsPerByte = 4096 * 8 / 12.0;
        if (!sizeAllowed(screenW, screenH, error) || !sizeAllowed(desc.Width, desc.Height, error) ||
            !dataCanFill(double(screenW) * screenH / kMostPixelsPerByte, data.size(), screenW,
                         screenH, "GIF", error) ||
            !dataCanFill(double(desc.Width) * desc.Height / kMostPixelsPerByte, data.size(),
                         desc.Width, desc.Height, "GIF", error)) {
            return false;
        }
        const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
        if (!map) {
            setError(error, "GIF: the image has no colour table");
            return false;
        }
        std::vector<GifPixelType> indices(static_cast<std::size_t>(desc.Width) * desc.Height);
        auto readRow = [&](int row) {
            return DGifGetLine(gif.get(),
                               indices.data() + static_cast<std::size_t>(row) * desc.Width,
                               desc.Width) != GIF_ERROR;
        };
        bool ok = true;
        if (desc.Interlace) {
            static constexpr int kStart[] = {0, 4, 2, 1};
            static constexpr int kStep[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4 && ok; ++pass) {
                for (int row = kStart[pass]; row < desc.Height && ok; row += kStep[pass]) {
                    ok = readRow(row);
                }
            }
        } else {
            for (int row = 0; row < desc.Height && ok; ++row) {
                ok = readRow(row);
            }
        }
        if (!ok) {
            setError(error, gifMessage(gif->Error));
            return false;
        }
        out.width = static_cast<int>(screenW);
        out.height = static_cast<int>(screenH);
        out.pixels.assign(static_cast<std::size_t>(screenW) * screenH * 4, 0);
        for (int y = 0; y < desc.Height; ++y) {
            std::int64_t sy = y + desc.Top;
            if (sy < 0 || sy >= screenH) {
                continue;
            }
            for (int x = 0; x < desc.Width; ++x) {
                std::int64_t sx = x + desc.Left;
                int index = indices[static_cast<std::size_t>(y) * desc.Width + x];
                if (sx < 0 || sx >= screenW || index == transparent || index >= map->ColorCount) {
                    continue;
                }
                const GifColorType& c = map->Colors[index];
                std::uint8_t* p =
                    out.pixels.data() + (static_cast<std::size_t>(sy) * screenW + sx) * 4;
                p[0] = c.Red;
                p[1] = c.Green;
                p[2] = c.Blue;
                p[3] = 255;
            }
        }
        return true;
    }
}

}  // namespace

Format sniff(const Bytes& data) {
    static constexpr std::uint8_t kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (data.size() >= 8 && std::equal(kPng, kPng + 8, data.begin())) {
        return Format::kPng;
    }
    if (data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
        return Format::kJpeg;
    }
    if (data.size() >= 6 && std::memcmp(data.data(), "GIF8", 4) == 0 &&
        (data[4] == '7' || data[4] == '9') && data[5] == 'a') {
        return Format::kGif;
    }
    return Format::kUnknown;
}

namespace {

bool decodeAny(const Bytes& data, Rgba& out, std::string* error) {
    switch (sniff(data)) {
        case Format::kPng:
            return decodePng(data, out, error);
        case Format::kJpeg:
            return decodeJpeg(data, out, error);
        case Format::kGif:
            return decodeGif(data, out, error);
        default:
            setError(error, data.empty() ? "no image data" : "not a PNG, JPEG or GIF image");
            return false;
    }
}

}  // namespace

bool decode(const Bytes& data, Rgba& out, std::string* error) {
    if (decodeAny(data, out, error)) {
        return true;
    }
    out = Rgba{};  // no half-decoded pixels kept
    return false;
}

Bytes encodePng(const Rgba& in, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(in.width);
    image.height = static_cast<png_uint_32>(in.height);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&image, nullptr, &size, 0, in.pixels.data(), 0, nullptr)) {
        setError(error, std::string("PNG: ") + image.message);
        return {};
    }
    Bytes out(size);
    if (!png_image_write_to_memory(&image, out.data(), &size, 0, in.pixels.data(), 0, nullptr)) {
        setError(error, std::string("PNG: ") + image.message);
        return {};
    }
    out.resize(size);
    return out;
}

Bytes encodeJpeg(const Rgba& in, double quality, std::string* error) {
    int q = static_cast<int>(std::lround(std::clamp(quality, 0.0, 1.0) * 100));
    JpegError err;
    jpeg_compress_struct info;
    std::memset(&info, 0, sizeof info);
    JpegOutput output;
    bool ok = encodeJpegFrom(in, std::max(q, 1), output, error, err, info);
    Bytes out;
    if (ok) {
        out.assign(output.buffer, output.buffer + output.size);
    }
    std::free(output.buffer);
    return out;
}

}  // namespace platform::codec
