// Images against independent peers: PNG files written and read by a Python decoder and
// encoder built on zlib, GIF files written by a Python LZW encoder, JPEG round trips, and
// damaged input.
#include "platform/graphics/Image.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/Files.h"
#include "platform/graphics/GraphicsContext.h"
#include "tests/support/TempDir.h"

using namespace platform;
using testing_support::runPython;

namespace {

// A 4x3 picture with straight alpha in the corners, so premultiplication shows.
ImagePtr samplePicture() {
    ImageContext context({4, 3});
    GraphicsContext& g = context.context();
    g.setFillColor(Color::rgb255(255, 0, 0));
    g.fillRect({0, 0, 2, 3});
    g.setFillColor(Color::rgb255(0, 0, 255));
    g.fillRect({2, 0, 2, 3});
    g.clearRect({3, 2, 1, 1});
    g.setFillColor(Color::rgb255(0, 255, 0, 0.5));
    g.clearRect({0, 2, 1, 1});
    g.fillRect({0, 2, 1, 1});
    return context.makeImage();
}

const char* kPngDecoder = R"(
import sys, zlib, struct
data = sys.stdin.buffer.read()
assert data[:8] == b'\x89PNG\r\n\x1a\n'
pos, idat = 8, b''
while pos < len(data):
    n, kind = struct.unpack('>I4s', data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + n]
    pos += 12 + n
    if kind == b'IHDR':
        w, h, depth, ctype, _, _, interlace = struct.unpack('>IIBBBBB', body)
    elif kind == b'IDAT':
        idat += body
assert (depth, ctype, interlace) == (8, 6, 0), (depth, ctype, interlace)
raw, stride, prev, out = zlib.decompress(idat), w * 4, bytearray(w * 4), []
for y in range(h):
    f, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - 4] if i >= 4 else 0
        b = prev[i]
        c = prev[i - 4] if i >= 4 else 0
        if f == 1: line[i] = (line[i] + a) & 255
        elif f == 2: line[i] = (line[i] + b) & 255
        elif f == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    out.append(' '.join('%02x%02x%02x%02x' % tuple(line[x * 4:x * 4 + 4]) for x in range(w)))
    prev = line
print(w, h)
print('\n'.join(out))
)";

const char* kPngEncoder = R"(
import sys, zlib, struct
def chunk(kind, body):
    return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))
w, h = 3, 2
pixels = [[(255, 0, 0, 255), (0, 255, 0, 128), (0, 0, 255, 0)],
          [(10, 20, 30, 255), (200, 100, 50, 64), (255, 255, 255, 255)]]
raw = b''.join(b'\x00' + bytes(c for p in row for c in p) for row in pixels)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0))
png += chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')
sys.stdout.buffer.write(png)
)";

// A GIF with a 256-colour table, written with plain 9-bit LZW codes (a clear code before each
// run), optionally interlaced, with colour 0 transparent, its frame at an offset on a larger
// logical screen.
const char* kGifEncoder = R"(
import sys, struct
interlaced = sys.argv[1] == '1' if len(sys.argv) > 1 else False
W, H, FW, FH, LEFT, TOP = 7, 9, 5, 7, 1, 2
palette = [(0, 0, 0), (255, 0, 0), (0, 200, 0), (0, 0, 255)] + [(9, 9, 9)] * 252
def index(x, y): return 0 if (x, y) == (0, 0) else (x + y) % 3 + 1
rows = list(range(FH))
if interlaced:
    rows = list(range(0, FH, 8)) + list(range(4, FH, 8)) + list(range(2, FH, 4)) + list(range(1, FH, 2))
pixels = [index(x, y) for y in rows for x in range(FW)]
codes = []
for i in range(0, len(pixels), 250):
    codes.append(256)
    codes.extend(pixels[i:i + 250])
codes.append(257)
bits, nbits, out = 0, 0, bytearray()
for c in codes:
    bits |= c << nbits
    nbits += 9
    while nbits >= 8:
        out.append(bits & 255)
        bits >>= 8
        nbits -= 8
if nbits:
    out.append(bits & 255)
gif = b'GIF89a' + struct.pack('<HHBBB', W, H, 0xF7, 0, 0)
gif += bytes(c for rgb in palette for c in rgb)
gif += b'\x21\xF9\x04\x01\x00\x00\x00\x00'
gif += b'\x2C' + struct.pack('<HHHHB', LEFT, TOP, FW, FH, 0x40 if interlaced else 0) + b'\x08'
for i in range(0, len(out), 255):
    block = out[i:i + 255]
    gif += bytes([len(block)]) + bytes(block)
gif += b'\x00\x3B'
sys.stdout.buffer.write(gif)
)";

std::string pngBytesAsText(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(Image, PngWeWriteIsReadByAnIndependentDecoderWithStraightAlpha) {
    ImagePtr image = samplePicture();
    Bytes png = image->encodePng();
    ASSERT_FALSE(png.empty());
    std::istringstream out(runPython(kPngDecoder, pngBytesAsText(png)));
    int w = 0, h = 0;
    out >> w >> h;
    ASSERT_EQ(w, 4);
    ASSERT_EQ(h, 3);
    std::vector<std::string> px;
    for (std::string p; out >> p;) {
        px.push_back(p);
    }
    ASSERT_EQ(px.size(), 12u);
    EXPECT_EQ(px[0], "ff0000ff");
    EXPECT_EQ(px[3], "0000ffff");
    EXPECT_EQ(px[8], "00ff0080");  // half-transparent green keeps its colour
    EXPECT_EQ(px[11], "00000000");
}

TEST(Image, PngFromAnIndependentEncoderDecodesToTheSamePixels) {
    std::string file = runPython(kPngEncoder);
    ImagePtr image = Image::decode(Bytes(file.begin(), file.end()));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixelWidth(), 3);
    EXPECT_EQ(image->pixelHeight(), 2);
    EXPECT_EQ(image->pixelRgba8(0, 0), 0xFF0000FFu);
    EXPECT_EQ(image->pixelRgba8(2, 0), 0x00000000u);
    EXPECT_EQ(image->pixelRgba8(0, 1), 0x0A141EFFu);
    // Premultiplied storage loses a little precision at low alpha, never more than a step.
    Color partial = image->pixel(1, 1);
    EXPECT_NEAR(partial.r, 200 / 255.0, 3 / 255.0);
    EXPECT_NEAR(partial.g, 100 / 255.0, 3 / 255.0);
    EXPECT_NEAR(partial.a, 64 / 255.0, 0.5 / 255.0);
}

TEST(Image, GifFirstFrameIsPlacedOnItsScreenWithTransparencyPlainOrInterlaced) {
    for (const char* interlaced : {"0", "1"}) {
        std::string script =
            std::string("import sys\nsys.argv = ['x', '") + interlaced + "']\n" + kGifEncoder;
        std::string file = runPython(script);
        platform::Error error;
        ImagePtr image = Image::decode(Bytes(file.begin(), file.end()), 1, &error);
        ASSERT_TRUE(image) << error.description();
        ASSERT_EQ(image->pixelWidth(), 7);
        ASSERT_EQ(image->pixelHeight(), 9);
        const std::uint32_t colours[] = {0, 0xFF0000FF, 0x00C800FF, 0x0000FFFF};
        for (int y = 0; y < 9; ++y) {
            for (int x = 0; x < 7; ++x) {
                int fx = x - 1, fy = y - 2;
                std::uint32_t want = 0;
                if (fx >= 0 && fx < 5 && fy >= 0 && fy < 7 && !(fx == 0 && fy == 0)) {
                    want = colours[(fx + fy) % 3 + 1];
                }
                ASSERT_EQ(image->pixelRgba8(x, y), want)
                    << "at " << x << "," << y << " interlaced " << interlaced;
            }
        }
    }
}

TEST(Image, JpegKeepsColoursAndSpendsFewerBytesAtLowerQuality) {
    ImageContext context({64, 64});
    for (int i = 0; i < 8; ++i) {
        context.context().setFillColor(Color::gray(i / 7.0));
        context.context().fillRect({i * 8.0, 0, 8, 64});
    }
    context.context().setFillColor(Color::rgb255(200, 40, 40));
    context.context().fillRect({16, 16, 32, 32});
    ImagePtr image = context.makeImage();
    Bytes best = image->encodeJpeg(1.0);
    Bytes small = image->encodeJpeg(0.1);
    ASSERT_FALSE(best.empty());
    ASSERT_FALSE(small.empty());
    EXPECT_LT(small.size(), best.size());
    ImagePtr back = Image::decode(best);
    ASSERT_TRUE(back);
    Color centre = back->pixel(32, 32);
    EXPECT_NEAR(centre.r, 200 / 255.0, 0.03);
    EXPECT_NEAR(centre.g, 40 / 255.0, 0.03);
    EXPECT_EQ(back->pixel(2, 2).a, 1.0);
}

TEST(Image, DamagedOrHostileDataIsRefusedWithAReason) {
    platform::Error error;
    EXPECT_FALSE(Image::decode({}, 1, &error));
    EXPECT_EQ(error.localizedDescription(), "no image data");
    EXPECT_EQ(error.domain(), platform::kCocoaErrorDomain);
    EXPECT_EQ(error.code(), platform::kFileReadCorruptFileError);
    EXPECT_FALSE(Image::decode(toBytes("plain text, not a picture"), 1, &error));
    EXPECT_EQ(error.localizedDescription(), "not a PNG, JPEG or GIF image");

    Bytes png = samplePicture()->encodePng();
    Bytes truncated(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(png.size() / 2));
    EXPECT_FALSE(Image::decode(truncated, 1, &error));
    EXPECT_NE(error.localizedDescription().find("PNG"), std::string::npos);

    Bytes jpeg = samplePicture()->encodeJpeg(0.8);
    Bytes brokenJpeg(jpeg.begin(), jpeg.begin() + 20);
    EXPECT_FALSE(Image::decode(brokenJpeg, 1, &error));
    EXPECT_NE(error.localizedDescription().find("JPEG"), std::string::npos);

    // A GIF that claims a screen of 65535 x 65535 is refused before anything is allocated.
    std::string huge = runPython(R"(
import sys, struct
sys.stdout.buffer.write(b'GIF89a' + struct.pack('<HHBBB', 65535, 65535, 0x80, 0, 0) + b'\0' * 6 +
    b'\x2C' + struct.pack('<HHHHB', 0, 0, 65535, 65535, 0) + b'\x02\x02\x4C\x01\x00\x3B')
)");
    EXPECT_FALSE(Image::decode(Bytes(huge.begin(), huge.end()), 1, &error));
    EXPECT_NE(error.localizedDescription().find("too large"), std::string::npos)
        << error.description();

    std::string gifTail = runPython(kGifEncoder);
    Bytes cut(gifTail.begin(), gifTail.begin() + 800);
    EXPECT_FALSE(Image::decode(cut, 1, &error));
    EXPECT_NE(error.localizedDescription().find("GIF"), std::string::npos);
}

TEST(Image, StretchableImageKeepsItsCapsAndStretchesTheMiddle) {
    // 5 x 5 points: a 2-point border in one colour, the middle in another.
    ImageContext source({5, 5});
    source.context().setFillColor(Color::red());
    source.context().fillRect({0, 0, 5, 5});
    source.context().setFillColor(Color::blue());
    source.context().fillRect({2, 2, 1, 1});
    ImagePtr stretchable = source.makeImage()->stretchable(2, 2);
    EXPECT_EQ(stretchable->capInsets(), (EdgeInsets{2, 2, 2, 2}));

    ImageContext target({20, 12});
    target.context().drawImage(*stretchable, {0, 0, 20, 12});
    ImagePtr drawn = target.makeImage();
    EXPECT_EQ(drawn->pixelRgba8(0, 0), 0xFF0000FFu);
    EXPECT_EQ(drawn->pixelRgba8(19, 11), 0xFF0000FFu);
    EXPECT_EQ(drawn->pixelRgba8(1, 6), 0xFF0000FFu);   // left cap, not widened
    EXPECT_EQ(drawn->pixelRgba8(10, 6), 0x0000FFFFu);  // the stretched middle
    EXPECT_EQ(drawn->pixelRgba8(3, 6), 0x0000FFFFu);

    // A cap of 0 leaves that direction stretching as a whole.
    ImagePtr topOnly = source.makeImage()->stretchable(0, 2);
    EXPECT_EQ(topOnly->capInsets(), (EdgeInsets{2, 0, 2, 0}));
}

TEST(Image, ScalingAndRetinaFilesFollowTheRequestedScale) {
    ImagePtr image = samplePicture();
    ImagePtr scaled = image->scaledTo({8, 6}, 2);
    EXPECT_EQ(scaled->pixelWidth(), 16);
    EXPECT_EQ(scaled->size(), (Size{8, 6}));
    EXPECT_EQ(scaled->pixelRgba8(1, 1), 0xFF0000FFu);
    EXPECT_EQ(scaled->pixelRgba8(14, 1), 0x0000FFFFu);

    testing_support::TempDir dir;
    ASSERT_TRUE(image->writePng(dir.path() / "pic.png"));
    ASSERT_TRUE(scaled->writePng(dir.path() / "pic@2x.png"));
    ImagePtr read = Image::fromFile(dir.path() / "pic.png");  // the device is at scale 2
    ASSERT_TRUE(read);
    EXPECT_EQ(read->scale(), 2);
    EXPECT_EQ(read->size(), (Size{8, 6}));
    platform::Error error;
    EXPECT_FALSE(Image::fromFile(dir.path() / "missing.png", &error));
    EXPECT_NE(error.localizedDescription().find("missing.png"), std::string::npos);
}

}  // namespace
