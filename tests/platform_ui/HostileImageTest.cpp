// Pictures from other apps and from the network: files cut short, headers that claim more
// than their data can fill, and progressive JPEGs of endless scans, against the flattest
// honest pictures, which must still decode.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "platform/graphics/Image.h"
#include "platform/graphics/ImageCodec.h"
#include "tests/support/TempDir.h"

using namespace platform;
using testing_support::runPython;

namespace {

// A JPEG written by libjpeg: a gradient, or one flat grey; baseline or progressive (ten scans
// for colour, six for grey).
Bytes jpegOf(int width, int height, bool progressive, bool flat = false, int components = 3) {
    jpeg_compress_struct info;
    jpeg_error_mgr err;
    info.err = jpeg_std_error(&err);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = components;
    info.in_color_space = components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 80, TRUE);
    if (progressive) {
        jpeg_simple_progression(&info);
    }
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * components);
    while (info.next_scanline < info.image_height) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            row[i] = flat ? 128 : static_cast<JSAMPLE>((i * 5 + info.next_scanline * 3) & 255);
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

std::size_t markerAt(const Bytes& jpeg, std::uint8_t marker) {
    for (std::size_t i = 2; i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == marker) {
            return i;
        }
    }
    return 0;
}

// The frame header claims another size; the data stays as it was.
Bytes claimingSize(Bytes jpeg, int width, int height) {
    std::size_t sof = markerAt(jpeg, 0xC2);
    if (!sof) {
        sof = markerAt(jpeg, 0xC0);
    }
    jpeg[sof + 5] = static_cast<std::uint8_t>(height >> 8);
    jpeg[sof + 6] = static_cast<std::uint8_t>(height);
    jpeg[sof + 7] = static_cast<std::uint8_t>(width >> 8);
    jpeg[sof + 8] = static_cast<std::uint8_t>(width);
    return jpeg;
}

// Appends `count` scans of the first component's AC coefficients before the end marker, each
// a few bytes long: a one-bit code for runs of 16384 empty blocks, repeated over the picture.
// Each one makes the decoder pass over every block once more.
Bytes withExtraScans(Bytes jpeg, int width, int height, int count) {
    jpeg.resize(jpeg.size() - 2);  // the end marker
    // An AC table of one symbol: 0xE0 (a run of 2^14 blocks and 14 more bits), code "0".
    Bytes table = {0xFF, 0xC4, 0, 20, 0x11, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xE0};
    jpeg.insert(jpeg.end(), table.begin(), table.end());
    long blocks = long((width + 7) / 8) * ((height + 7) / 8);
    std::size_t runs = static_cast<std::size_t>((blocks + 16383) / 16384);
    Bytes data((runs * 15 + 7) / 8, 0);
    for (std::size_t bit = runs * 15; bit < data.size() * 8; ++bit) {
        data[bit / 8] |= static_cast<std::uint8_t>(0x80 >> (bit % 8));  // padding of ones
    }
    for (int i = 0; i < count; ++i) {
        Bytes scan = {0xFF, 0xDA, 0, 8, 1, 1, 0x01, 1, 63, 0};
        jpeg.insert(jpeg.end(), scan.begin(), scan.end());
        jpeg.insert(jpeg.end(), data.begin(), data.end());
    }
    jpeg.push_back(0xFF);
    jpeg.push_back(0xD9);
    return jpeg;
}

Bytes firstBytes(const Bytes& data, std::size_t n) {
    return Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
}

std::string refusal(const Bytes& data) {
    std::string error;
    codec::Rgba out;
    EXPECT_FALSE(codec::decode(data, out, &error));
    EXPECT_TRUE(out.pixels.empty());
    return error;
}

// A PNG of 8192 x 8192 in RGBA whose compressed rows stop after five bytes: 50 bytes in all.
const char* kHugePng = R"(
import sys, zlib, struct
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 8192, 8192, 8, 6, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(b'\0' * 64)[:5])
sys.stdout.buffer.write(png)
)";

// A GIF whose one-pixel frame sits on a screen of 8000 x 8000.
const char* kHugeScreenGif = R"(
import sys, struct
gif = b'GIF89a' + struct.pack('<HHBBB', 8000, 8000, 0x80, 0, 0) + b'\0' * 6
gif += b'\x2C' + struct.pack('<HHHHB', 0, 0, 1, 1, 0) + b'\x02\x02\x4C\x01\x00\x3B'
sys.stdout.buffer.write(gif)
)";

const char* kBilevelPng = R"(
import sys, zlib, struct
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 2048, 2048, 1, 0, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(b'\0' * (2048 * 257), 9)) + chunk(b'IEND', b'')
sys.stdout.buffer.write(png)
)";

// The most address space the process has held, from the kernel's account of it.
long peakMemoryKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmPeak:", 0) == 0) {
            return std::stol(line.substr(7));
        }
    }
    return -1;
}

Bytes fromPython(const char* script) {
    std::string bytes = runPython(script);
    return Bytes(bytes.begin(), bytes.end());
}

TEST(HostileImage, PicturesCutShortAreRefused) {
    for (bool progressive : {false, true}) {
        SCOPED_TRACE(progressive ? "progressive" : "baseline");
        Bytes whole = jpegOf(64, 64, progressive);
        codec::Rgba out;
        ASSERT_TRUE(codec::decode(whole, out, nullptr));
        std::size_t firstScan = markerAt(whole, 0xDA);
        for (std::size_t keep = 1; keep < whole.size() - 2; keep += 7) {
            // Cut between two scans, a progressive picture is whole, with fewer scans.
            bool betweenScans =
                progressive && keep > firstScan && whole[keep] == 0xFF && whole[keep + 1] != 0;
            EXPECT_NE(codec::decode(firstBytes(whole, keep), out, nullptr), !betweenScans) << keep;
        }
        // Cut inside the coded data of the first and of the last scan.
        std::vector<std::size_t> cuts;
        for (std::size_t i = 2; i + 3 < whole.size(); ++i) {
            if (whole[i] == 0xFF && whole[i + 1] == 0xDA) {
                cuts.push_back(i + 2 + (whole[i + 2] << 8 | whole[i + 3]) + 4);
            }
        }
        ASSERT_EQ(cuts.size(), progressive ? 10u : 1u);
        for (std::size_t keep : {cuts.front(), cuts.back(), whole.size() - 4}) {
            EXPECT_EQ(refusal(firstBytes(whole, keep)), "JPEG: the data ends inside the picture")
                << keep << " of " << whole.size();
        }
    }
    // Data that lacks only its end marker holds every row: nothing is lost by reading it.
    Bytes baseline = jpegOf(64, 64, false);
    codec::Rgba out;
    EXPECT_TRUE(codec::decode(firstBytes(baseline, baseline.size() - 2), out, nullptr));
    EXPECT_EQ(out.width, 64);

    Bytes png = Image::decode(jpegOf(40, 30, false))->encodePng();
    EXPECT_NE(refusal(firstBytes(png, png.size() - 20)).find("PNG: "), std::string::npos);
}

TEST(HostileImage, HeadersClaimingMoreThanTheirDataCanFillAreRefusedBeforeAllocating) {
    // 736 bytes of a progressive JPEG that claims 8192 x 8192.
    Bytes jpeg = firstBytes(claimingSize(jpegOf(64, 64, true), 8192, 8192), 736);
    Bytes png = fromPython(kHugePng);
    Bytes gif = fromPython(kHugeScreenGif);
    // What a decoder takes from memory, touched or not, stays near the size of its input: in
    // a process of its own, before anything else is decoded, so that no earlier peak hides it.
    auto peakGrowthKiB = [&] {
        long before = peakMemoryKiB();
        for (const Bytes* data : {&jpeg, &png, &gif}) {
            codec::Rgba out;
            codec::decode(*data, out, nullptr);
        }
        return peakMemoryKiB() - before;
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(peakGrowthKiB() < 32 * 1024 ? 0 : 1), ::testing::ExitedWithCode(0), "");

    EXPECT_EQ(refusal(jpeg), "JPEG: 736 bytes cannot hold a picture of 8192x8192");
    EXPECT_EQ(refusal(png),
              "PNG: " + std::to_string(png.size()) + " bytes cannot hold a picture of 8192x8192");
    EXPECT_EQ(refusal(gif),
              "GIF: " + std::to_string(gif.size()) + " bytes cannot hold a picture of 8000x8000");
    // A whole baseline JPEG whose header claims more rows than its data holds.
    EXPECT_NE(refusal(claimingSize(jpegOf(64, 64, false), 4096, 4096)).find("JPEG: "),
              std::string::npos);
}

TEST(HostileImage, ProgressiveJpegsOfEndlessScansAreRefused) {
    Bytes base = jpegOf(256, 256, true);
    codec::Rgba out;
    EXPECT_TRUE(codec::decode(withExtraScans(base, 256, 256, 80), out, nullptr));
    EXPECT_EQ(out.width, 256);
    EXPECT_EQ(refusal(withExtraScans(base, 256, 256, 2000)), "JPEG: more than 100 scans");
}

TEST(HostileImage, TheFlattestHonestPicturesStillDecode) {
    // Compressed as far as each format goes: one flat colour, large.
    codec::Rgba flat;
    flat.width = 2048;
    flat.height = 2048;
    flat.pixels.assign(std::size_t(2048) * 2048 * 4, 255);
    Bytes png = codec::encodePng(flat, nullptr);
    codec::Rgba back;
    EXPECT_TRUE(codec::decode(png, back, nullptr));
    EXPECT_EQ(back.width, 2048);
    // One bit per pixel, deflated as far as zlib goes: close to deflate's 1032 to 1.
    Bytes bilevel = fromPython(kBilevelPng);
    EXPECT_LT(bilevel.size(), 2048u * 257 / 850);
    EXPECT_TRUE(codec::decode(bilevel, back, nullptr));
    EXPECT_EQ(back.height, 2048);

    for (bool progressive : {false, true}) {
        for (int components : {1, 3}) {
            SCOPED_TRACE(std::to_string(components) + (progressive ? " progressive" : ""));
            Bytes jpeg = jpegOf(2048, 2048, progressive, true, components);
            codec::Rgba decoded;
            std::string error;
            EXPECT_TRUE(codec::decode(jpeg, decoded, &error)) << error << " " << jpeg.size();
            EXPECT_EQ(decoded.height, 2048);
        }
    }
}

}  // namespace
