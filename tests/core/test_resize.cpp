// The target-size rule, worker choice, size text, output placement and the workers end to end.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <filesystem>
#include <string>

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
using test::CurrentDirGuard;
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

TEST(WorkerChoice, UpperCasesTheExtensionFromTheLastDot) {
    EXPECT_EQ(upperExtension("PHOTO.Jpg"), ".JPG");
    EXPECT_EQ(upperExtension("archive.tar.gif"), ".GIF");
    EXPECT_EQ(upperExtension("no-extension"), "");
    EXPECT_EQ(workerFormat("PHOTO.Jpg"), ImageFormat::Jpeg);
    EXPECT_EQ(workerFormat("a.GiF"), ImageFormat::Gif);
    EXPECT_EQ(workerFormat("a.bmp"), ImageFormat::Bmp);
    EXPECT_EQ(workerFormat("a.jpeg"), ImageFormat::None);
    EXPECT_EQ(workerFormat("a.JPE"), ImageFormat::None);
    EXPECT_EQ(workerFormat("jpg"), ImageFormat::None);
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

TEST(AtomicWrite, ReplacesAnExistingFileAndLeavesNoTemporaryFile) {
    const TempDir folder;
    const fs::path file = folder / "out.bin";
    writeFile(file, {1, 2, 3});
    const std::vector<std::uint8_t> bytes{9, 8, 7, 6};
    writeFileAtomically(file, bytes);
    EXPECT_EQ(readFile(file), bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(AtomicWrite, FailuresNameTheFileAndKeepTheOldContent) {
    const TempDir folder;
    EXPECT_THROW(writeFileAtomically(folder / "missing" / "out.bin", std::vector<std::uint8_t>{1}),
                 Error);
    if (::geteuid() != 0) {
        const fs::path file = folder / "readonly.bin";
        writeFile(file, {1, 2, 3});
        fs::permissions(file, fs::perms::owner_read);
        EXPECT_THROW(writeFileAtomically(file, std::vector<std::uint8_t>{4}), Error);
        EXPECT_EQ(readFile(file), (std::vector<std::uint8_t>{1, 2, 3}));
    }
}

TEST(OutputRule, CreatesTheFolderAndSetsThePrefix) {
    const TempDir folder;
    const CurrentDirGuard inFolder(folder.path());
    OutputPrefix.clear();
    prepareOutputFolder();
    EXPECT_EQ(OutputPrefix, "resized/");
    EXPECT_TRUE(fs::is_directory(folder / "resized"));
    prepareOutputFolder();  // an existing folder is no error
    EXPECT_TRUE(fs::is_directory(folder / "resized"));
}

// A 24-bit picture with a recognisable pattern.
Bitmap pattern(int width, int height) {
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setColor(x, y,
                            Rgb{static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 5),
                                static_cast<std::uint8_t>((x + y) * 3)});
        }
    }
    return bitmap;
}

class WorkerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        OutputPrefix.clear();
        prepareOutputFolder();
        RunSizeText = "100";
    }
    TempDir m_folder;
    CurrentDirGuard m_inFolder{m_folder.path()};
};

TEST_F(WorkerTest, BmpIsWrittenAt24BitsUnderTheSameNameAndTheSourceIsUnchanged) {
    Bitmap source(400, 250, PixelFormat::Bits8, {{0, 0, 0}, {255, 0, 0}, {255, 255, 255}});
    for (int x = 0; x < 200; ++x) {
        source.setIndex(x, 10, 1);
    }
    writeFile(m_folder / "Photo.BMP", encodeBmp(source));
    const auto before = readFile(m_folder / "Photo.BMP");
    ResizeBmpBetter("Photo.BMP");
    const Bitmap output = loadBmpFile(m_folder / "resized" / "Photo.BMP");
    EXPECT_EQ(output.width(), 100);
    EXPECT_EQ(output.height(), 62);
    EXPECT_EQ(output.format(), PixelFormat::Bits24);
    EXPECT_EQ(readFile(m_folder / "Photo.BMP"), before);
}

TEST_F(WorkerTest, JpegIsWrittenAtTheTargetSize) {
    JpegImage source;
    source.assign(pattern(250, 400));
    writeFile(m_folder / "p.jpg", source.saveToBytes());
    ResizeJpegBetter("p.jpg");
    JpegImage output;
    output.loadFromFile(m_folder / "resized" / "p.jpg");
    EXPECT_EQ(output.width(), 62);
    EXPECT_EQ(output.height(), 100);
}

TEST_F(WorkerTest, GifIsWrittenAsOneWebPaletteFrame) {
    GifImage source;
    source.assign(pattern(64, 32));
    writeFile(m_folder / "a.gif", source.saveToBytes());
    ResizeGifBetter("a.gif");
    GifImage output;
    output.loadFromFile(m_folder / "resized" / "a.gif");
    EXPECT_EQ(output.width(), 100);
    EXPECT_EQ(output.height(), 50);
    EXPECT_EQ(output.images().size(), 1u);
}

TEST_F(WorkerTest, TransparentGifIsWrittenOpaqueOverWhite) {
    Bitmap indexed(8, 8, PixelFormat::Bits8, {{0, 0, 0}, {200, 10, 10}});
    GifImage source;
    source.assign(indexed);  // every pixel index 0, which the extension below makes transparent
    std::vector<std::uint8_t> bytes = source.saveToBytes();
    // A graphic control extension marking index 0 transparent, before the image descriptor.
    const std::vector<std::uint8_t> extension{0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00};
    bytes.insert(bytes.begin() + 13, extension.begin(), extension.end());
    writeFile(m_folder / "t.gif", bytes);
    RunSizeText = "16";
    ResizeGifBetter("t.gif");
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

TEST_F(WorkerTest, CorruptFilesFailWithTheCodecsErrorAndWriteNothing) {
    writeFile(m_folder / "bad.jpg", {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
    writeFile(m_folder / "bad.gif", {'n', 'o', 't', ' ', 'g', 'i', 'f'});
    writeFile(m_folder / "bad.bmp", {'B', 'M', 0});
    EXPECT_THROW(ResizeJpegBetter("bad.jpg"), JpegError);
    EXPECT_THROW(ResizeGifBetter("bad.gif"), GifError);
    EXPECT_THROW(ResizeBmpBetter("bad.bmp"), Error);
    EXPECT_THROW(ResizeBmpBetter("missing.bmp"), Error);
    EXPECT_TRUE(fs::is_empty(m_folder / "resized"));
}

TEST_F(WorkerTest, AnInvalidSizeTextFailsBeforeTheFileIsRead) {
    RunSizeText = "big";
    EXPECT_THROW(ResizeBmpBetter("missing.bmp"), Error);
    try {
        ResizeBmpBetter("missing.bmp");
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "'big' is not a valid integer value");
    }
}

}  // namespace
}  // namespace tz
