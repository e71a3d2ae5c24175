// Resizing across formats: every source format into every output format, transparency kept
// where the output can hold it and shown over white where it cannot, phone photos written as
// JPEG, and lossless WebP where it was asked for.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/picture_builders.h"
#include "support/support.h"
#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/gif.h"
#include "tz/heif.h"
#include "tz/jpeg.h"
#include "tz/png.h"
#include "tz/resize.h"
#include "tz/webp.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using test::writeFile;

// 64 × 32: the left half orange, the right half blue, colours every format keeps closely.
constexpr Rgb kLeft{230, 120, 20};
constexpr Rgb kRight{20, 60, 200};

Bitmap halves() {
    Bitmap bitmap(64, 32);
    for (int y = 0; y < 32; ++y) {
        for (int x = 0; x < 64; ++x) {
            bitmap.setColor(x, y, x < 32 ? kLeft : kRight);
        }
    }
    return bitmap;
}

bool hasHeifEncoder() {
    return std::system("command -v heif-enc >/dev/null 2>&1") == 0;
}

// Writes the halves picture as a file of `format` named `name` in `folder`.
void writeHalves(const fs::path& folder, const std::string& name, PictureFormat format) {
    const fs::path file = folder / name;
    switch (format) {
        case PictureFormat::Jpeg:
            writeFile(file, test::jpegBytes(halves()));
            return;
        case PictureFormat::Gif:
            writeFile(file, test::gifBytes(halves()));
            return;
        case PictureFormat::Bmp:
            writeFile(file, encodeBmp(halves()));
            return;
        case PictureFormat::Png:
            writeFile(file, encodePng(halves()));
            return;
        case PictureFormat::Webp:
            writeFile(file, encodeWebp(halves()));
            return;
        case PictureFormat::Heif: {
            // Encoded by the library's own tool from a PNG of the picture.
            writeFile(folder / "for-heif.png", encodePng(halves()));
            const std::string command = "heif-enc -q 95 '" + (folder / "for-heif.png").string() +
                                        "' -o '" + file.string() + "' >/dev/null 2>&1";
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
            return;
        }
    }
}

// The output decoded by the reader of its format.
Bitmap decodedOutput(const fs::path& file, PictureFormat format) {
    switch (format) {
        case PictureFormat::Jpeg: {
            JpegImage jpeg;
            jpeg.loadFromFile(file);
            Bitmap bitmap;
            jpeg.assignTo(bitmap);
            return bitmap;
        }
        case PictureFormat::Gif: {
            GifImage gif;
            gif.loadFromFile(file);
            Bitmap bitmap;
            gif.assignTo(bitmap);
            return bitmap.to24();
        }
        case PictureFormat::Bmp:
            return loadBmpFile(file);
        case PictureFormat::Png:
            return loadPngFile(file).bitmap;
        case PictureFormat::Webp:
            return loadWebpFile(file).bitmap;
        case PictureFormat::Heif:
            return loadHeifFile(file).bitmap;
    }
    return {};
}

int distance(Rgb a, Rgb b) {
    return std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
}

struct SourceKind {
    const char* name;
    PictureFormat format;
};

constexpr std::array<SourceKind, 6> kSources{{
    {"a.jpg", PictureFormat::Jpeg},
    {"a.gif", PictureFormat::Gif},
    {"a.bmp", PictureFormat::Bmp},
    {"a.png", PictureFormat::Png},
    {"a.webp", PictureFormat::Webp},
    {"a.heic", PictureFormat::Heif},
}};

struct OutputKind {
    const char* name;  // as --format takes it
    PictureFormat format;
    const char* extension;
};

constexpr std::array<OutputKind, 5> kOutputs{{
    {"jpeg", PictureFormat::Jpeg, ".jpg"},
    {"png", PictureFormat::Png, ".png"},
    {"webp", PictureFormat::Webp, ".webp"},
    {"gif", PictureFormat::Gif, ".gif"},
    {"bmp", PictureFormat::Bmp, ".bmp"},
}};

class ConversionTest : public ::testing::TestWithParam<std::tuple<SourceKind, OutputKind>> {
  protected:
    TempDir m_folder;
};

// Every pair: the output is in the requested format under the source's base name with that
// format's extension, has the target size, and shows both halves in their colours.
TEST_P(ConversionTest, EverySourceFormatBecomesEveryOutputFormat) {
    const auto& [source, output] = GetParam();
    if (source.format == PictureFormat::Heif && !hasHeifEncoder()) {
        GTEST_SKIP() << "heif-enc is not installed (Debian package libheif-examples)";
    }
    writeHalves(m_folder.path(), source.name, source.format);
    ResizeRequest request;
    request.size = 32;
    request.outputFormat = output.format;
    const fs::path target = outputPathFor(m_folder / source.name, output.format);
    EXPECT_EQ(target.filename(), fs::path(std::string("a") + output.extension));
    fs::create_directory(target.parent_path());
    resizeFile(m_folder / source.name, target, request);

    EXPECT_EQ(resizedFormatOf(target.filename().string()), output.format);
    const Bitmap pixels = decodedOutput(target, output.format);
    ASSERT_EQ(pixels.width(), 32);
    ASSERT_EQ(pixels.height(), 16);
    // Lossy formats and the web palette (its levels are 51 apart) move colours a little; the
    // halves stay apart.
    const bool webPalette =
        output.format == PictureFormat::Gif || source.format == PictureFormat::Gif;
    const int tolerance = webPalette ? 120 : 60;
    EXPECT_LE(distance(pixels.color(4, 8), kLeft), tolerance);
    EXPECT_LE(distance(pixels.color(27, 8), kRight), tolerance);
}

INSTANTIATE_TEST_SUITE_P(AllPairs, ConversionTest,
                         ::testing::Combine(::testing::ValuesIn(kSources),
                                            ::testing::ValuesIn(kOutputs)),
                         [](const auto& pair) {
                             const std::string source = std::get<0>(pair.param).name;
                             return source.substr(2) + "_to_" + std::get<1>(pair.param).name;
                         });

// A red square on a transparent background.
Bitmap redSquareOnTransparent() {
    Bitmap bitmap(40, 40, PixelFormat::Bits32);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x) {
            const bool inside = x >= 10 && x < 30 && y >= 10 && y < 30;
            bitmap.setRgba(x, y, inside ? Rgba{255, 0, 0, 255} : Rgba{0, 0, 0, 0});
        }
    }
    return bitmap;
}

class TransparencyTest : public ::testing::Test {
  protected:
    Bitmap resizedTo(PictureFormat format, int size) {
        writeFile(m_folder / "square.png", encodePng(redSquareOnTransparent()));
        ResizeRequest request;
        request.size = size;
        request.outputFormat = format;
        const fs::path target = m_folder / ("out" + std::string(extensionOf(format)));
        resizeFile(m_folder / "square.png", target, request);
        return decodedOutput(target, format);
    }
    TempDir m_folder;
};

// Kept in PNG: fully transparent stays transparent, the square stays opaque red, and the
// half-covered edge pixels are red with partial alpha, never darkened by the black under the
// transparent pixels.
TEST_F(TransparencyTest, PngKeepsAlphaWithoutDarkFringes) {
    const Bitmap out = resizedTo(PictureFormat::Png, 20);
    ASSERT_EQ(out.format(), PixelFormat::Bits32);
    EXPECT_EQ(out.rgba(0, 0).alpha, 0);
    EXPECT_EQ(out.rgba(10, 10), (Rgba{255, 0, 0, 255}));
    int edges = 0;
    for (int y = 0; y < 20; ++y) {
        for (int x = 0; x < 20; ++x) {
            const Rgba pixel = out.rgba(x, y);
            if (pixel.alpha > 16 && pixel.alpha < 240) {
                ++edges;
                EXPECT_GE(pixel.red, 240) << "at " << x << "," << y;
                EXPECT_LE(pixel.green + pixel.blue, 16) << "at " << x << "," << y;
            }
        }
    }
    EXPECT_GT(edges, 0) << "the shrink blends the square's edge";
}

TEST_F(TransparencyTest, WebpKeepsAlpha) {
    const Bitmap out = resizedTo(PictureFormat::Webp, 20);
    ASSERT_EQ(out.format(), PixelFormat::Bits32);
    EXPECT_EQ(out.rgba(0, 0).alpha, 0);
    EXPECT_EQ(out.rgba(10, 10).alpha, 255);
}

// Formats without alpha show the picture over white, before it is resized: the background is
// white, not black.
TEST_F(TransparencyTest, FormatsWithoutAlphaComposeOverWhite) {
    for (const PictureFormat format :
         {PictureFormat::Jpeg, PictureFormat::Bmp, PictureFormat::Gif}) {
        const Bitmap out = resizedTo(format, 20);
        // JPEG rings a little near the square's edge.
        EXPECT_LE(distance(out.color(0, 0), Rgb{255, 255, 255}), 30) << extensionOf(format);
        EXPECT_LE(distance(out.color(10, 10), Rgb{255, 0, 0}), 60) << extensionOf(format);
    }
}

// Without --format: a phone photo becomes a JPEG beside it named ".jpg"; the other formats
// keep theirs. A lossless WebP stays lossless, a lossy one stays lossy unless asked.
TEST(OutputFormats, PhotosBecomeJpegsAndWebpKeepsItsKind) {
    const TempDir folder;
    if (hasHeifEncoder()) {
        writeHalves(folder.path(), "IMG_0001.HEIC", PictureFormat::Heif);
        fs::create_directory(folder / "resized");
        const fs::path target = outputPathFor(folder / "IMG_0001.HEIC");
        EXPECT_EQ(target, folder / "resized" / "IMG_0001.jpg");
        resizeFile(folder / "IMG_0001.HEIC", target, ResizeRequest{});
        const std::vector<std::uint8_t> bytes = readFile(target);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes[0], 0xFF);  // a JPEG's start-of-image marker
        EXPECT_EQ(bytes[1], 0xD8);
    }
    WebpEncoding lossless;
    lossless.lossless = true;
    writeFile(folder / "lossless.webp", encodeWebp(halves(), lossless));
    writeFile(folder / "lossy.webp", encodeWebp(halves()));
    ResizeRequest request;
    request.size = 32;
    const auto kindOf = [&](const std::string& name, const ResizeRequest& asked) {
        const std::vector<std::uint8_t> bytes =
            resizeToBytes(folder / name, PictureFormat::Webp, asked);
        return decodeWebp(bytes).lossless;
    };
    EXPECT_TRUE(kindOf("lossless.webp", request));
    EXPECT_FALSE(kindOf("lossy.webp", request));
    request.webpLossless = true;
    EXPECT_TRUE(kindOf("lossy.webp", request));
}

}  // namespace
}  // namespace tz
