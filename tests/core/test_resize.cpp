// The target-size rule, the size text, the output rule and the resize entry point end to end.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/picture_builders.h"
#include "support/support.h"
#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/errors.h"
#include "tz/gif.h"
#include "tz/jpeg.h"
#include "tz/resize.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using test::gradientBitmap;
using test::readFile;
using test::TempDir;
using test::writeFile;

struct TargetCase {
    const char* description;
    int width;
    int height;
    int n;
    Size expected;
};

class TargetSizeTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(TargetSizeTest, ScalesTheLongerSideToN) {
    const TargetCase& c = GetParam();
    EXPECT_EQ(targetSize(c.width, c.height, c.n), c.expected)
        << c.description << ": got " << targetSize(c.width, c.height, c.n).width << " x "
        << targetSize(c.width, c.height, c.n).height;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TargetSizeTest,
    ::testing::Values(
        TargetCase{"62.5 rounds to the even 62", 400, 250, 100, {100, 62}},
        TargetCase{"67.5 rounds to the even 68", 400, 270, 100, {100, 68}},
        TargetCase{"portrait takes the height", 250, 400, 100, {62, 100}},
        TargetCase{"square takes the width", 300, 300, 120, {120, 120}},
        TargetCase{"smaller pictures are enlarged", 50, 40, 100, {100, 80}},
        // f = 0.1 as a double is slightly above 0.1; 25 f in extended precision is just
        // above 2.5, while a product rounded to double would be exactly 2.5 and go to 2.
        TargetCase{"product formed in extended precision", 1600, 25, 160, {160, 3}},
        TargetCase{"a side rounding to 0 gets 1 pixel", 10000, 1, 100, {100, 1}},
        TargetCase{"1 x 1 source", 1, 1, 1600, {1600, 1600}}));

TEST(TargetSize, RefusesSizesBelowOne) {
    EXPECT_THROW(targetSize(10, 10, 0), Error);
    EXPECT_THROW(targetSize(0, 10, 100), Error);
}

TEST(SizeText, ParsesDecimalIntegersAndNamesBadText) {
    EXPECT_EQ(parseSizeText("640"), 640);
    EXPECT_EQ(parseSizeText("1600"), 1600);
    try {
        parseSizeText("12a");
        FAIL() << "no error for 12a";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "'12a' is not a valid integer value");
    }
    EXPECT_THROW(parseSizeText(""), Error);
    EXPECT_THROW(parseSizeText("99999999999"), Error);
}

TEST(OutputRule, TheOutputGoesIntoResizedBesideItsSource) {
    EXPECT_EQ(outputPathFor("/photos/2024/IMG 1.JPG"), fs::path("/photos/2024/resized/IMG 1.JPG"));
    EXPECT_EQ(outputPathFor("a.gif"), fs::path("resized/a.gif"));
    EXPECT_EQ(outputPathFor("/a.bmp"), fs::path("/resized/a.bmp"));
    EXPECT_EQ(outputPathFor("shot.Png"), fs::path("resized/shot.Png"));
}

// Phone photos have no encoder here: they become JPEGs under the same base name. A requested
// format names every output with its extension in lower case.
TEST(OutputRule, ConvertedOutputsTakeTheirFormatsExtension) {
    EXPECT_EQ(outputFormatFor(PictureFormat::Heif), PictureFormat::Jpeg);
    EXPECT_EQ(outputFormatFor(PictureFormat::Webp), PictureFormat::Webp);
    EXPECT_EQ(outputFormatFor(PictureFormat::Gif, PictureFormat::Png), PictureFormat::Png);
    EXPECT_EQ(outputPathFor("/p/IMG_0001.HEIC"), fs::path("/p/resized/IMG_0001.jpg"));
    EXPECT_EQ(outputNameFor("b.avif"), fs::path("b.jpg"));
    EXPECT_EQ(outputNameFor("a.JPG", PictureFormat::Jpeg), fs::path("a.jpg"));
    EXPECT_EQ(outputNameFor("a.jpeg", PictureFormat::Webp), fs::path("a.webp"));
    EXPECT_EQ(outputNameFor("v1.2.bmp", PictureFormat::Gif), fs::path("v1.2.gif"));
    EXPECT_EQ(outputNameFor("notes.txt", PictureFormat::Png), fs::path("notes.txt"));
}

// Files in a folder of their own, resized by the entry point to 100 pixels into "resized".
class ResizeFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(m_folder / "resized");
        m_request.size = 100;
    }
    void resize(const std::string& name, const BeforeWrite& beforeWrite = {}) {
        resizeFile(m_folder / name, outputPathFor(m_folder / name), m_request, beforeWrite);
    }
    TempDir m_folder;
    ResizeRequest m_request;
};
TEST_F(ResizeFileTest, BmpIsWrittenAt24BitsUnderTheSameNameAndTheSourceIsUnchanged) {
    Bitmap source(400, 250, PixelFormat::Bits8, {{0, 0, 0}, {255, 0, 0}, {255, 255, 255}});
    for (int x = 0; x < 200; ++x) {
        source.setIndex(x, 10, 1);
    }
    writeFile(m_folder / "Photo.BMP", encodeBmp(source));
    const auto before = readFile(m_folder / "Photo.BMP");
    resize("Photo.BMP");
    const Bitmap output = loadBmpFile(m_folder / "resized" / "Photo.BMP");
    EXPECT_EQ(output.width(), 100);
    EXPECT_EQ(output.height(), 62);
    EXPECT_EQ(output.format(), PixelFormat::Bits24);
    EXPECT_EQ(readFile(m_folder / "Photo.BMP"), before);
}

TEST_F(ResizeFileTest, JpegIsWrittenAtTheTargetSize) {
    JpegImage source;
    source.assign(gradientBitmap(250, 400));
    writeFile(m_folder / "p.jpg", source.saveToBytes());
    resize("p.jpg");
    JpegImage output;
    output.loadFromFile(m_folder / "resized" / "p.jpg");
    EXPECT_EQ(output.width(), 62);
    EXPECT_EQ(output.height(), 100);
}

TEST_F(ResizeFileTest, GifIsWrittenAsOneWebPaletteFrame) {
    GifImage source;
    source.assign(gradientBitmap(64, 32));
    writeFile(m_folder / "a.gif", source.saveToBytes());
    resize("a.gif");
    GifImage output;
    output.loadFromFile(m_folder / "resized" / "a.gif");
    EXPECT_EQ(output.width(), 100);
    EXPECT_EQ(output.height(), 50);
    EXPECT_EQ(output.images().size(), 1u);
}

TEST_F(ResizeFileTest, TransparentGifIsWrittenOpaqueOverWhite) {
    Bitmap indexed(8, 8, PixelFormat::Bits8, {{0, 0, 0}, {200, 10, 10}});
    GifImage source;
    source.assign(indexed);  // every pixel index 0, which the extension below makes transparent
    std::vector<std::uint8_t> bytes = source.saveToBytes();
    // A graphic control extension marking index 0 transparent, before the image descriptor.
    const std::vector<std::uint8_t> extension{0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00};
    bytes.insert(bytes.begin() + 13, extension.begin(), extension.end());
    writeFile(m_folder / "t.gif", bytes);
    m_request.size = 16;
    resize("t.gif");
    GifImage output;
    output.loadFromFile(m_folder / "resized" / "t.gif");
    Bitmap rendered;
    output.assignTo(rendered);
    const Bitmap flat = rendered.to24();
    for (int y = 0; y < flat.height(); ++y) {
        for (int x = 0; x < flat.width(); ++x) {
            ASSERT_EQ(flat.color(x, y), (Rgb{255, 255, 255})) << "at " << x << "," << y;
        }
    }
}

TEST_F(ResizeFileTest, CorruptFilesFailWithTheCodecsErrorAndWriteNothing) {
    writeFile(m_folder / "bad.jpg", {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
    writeFile(m_folder / "bad.gif", {'n', 'o', 't', ' ', 'g', 'i', 'f'});
    writeFile(m_folder / "bad.bmp", {'B', 'M', 0});
    // A file that fails never reaches the hook before the write.
    const BeforeWrite unreachable = [] { ADD_FAILURE() << "the failing file was to be written"; };
    EXPECT_THROW(resize("bad.jpg", unreachable), JpegError);
    EXPECT_THROW(resize("bad.gif", unreachable), GifError);
    EXPECT_THROW(resize("bad.bmp", unreachable), Error);
    EXPECT_THROW(resize("missing.bmp", unreachable), Error);
    EXPECT_THROW(resize("notes.txt", unreachable), Error);
    EXPECT_TRUE(fs::is_empty(m_folder / "resized"));
}

// The hook runs once the output is encoded; throwing from it abandons the file unwritten, and
// a caller that lets the write go gets exactly what resizeToBytes gives.
TEST_F(ResizeFileTest, TheHookBeforeWritingCanAbandonTheFile) {
    writeFile(m_folder / "a.bmp", encodeBmp(gradientBitmap(40, 20)));
    struct Abandon {};
    EXPECT_THROW(resize("a.bmp", [] { throw Abandon{}; }), Abandon);
    EXPECT_TRUE(fs::is_empty(m_folder / "resized"));
    int calls = 0;
    resize("a.bmp", [&] { ++calls; });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(readFile(m_folder / "resized" / "a.bmp"),
              resizeToBytes(m_folder / "a.bmp", PictureFormat::Bmp, m_request));
}

}  // namespace
}  // namespace tz
