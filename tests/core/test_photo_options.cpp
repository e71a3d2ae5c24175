// Photos as people have them, through the resize entry point: EXIF orientation applied before
// the target size, colour profiles kept, metadata copied on request, never enlarging, and
// the source's date.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "support/photo_metadata.h"
#include "support/support.h"
#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/gif.h"
#include "tz/jpeg.h"
#include "tz/orientation.h"
#include "tz/resize.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::readFile;
using test::TempDir;
using test::writeFile;

// The stored picture: 48 × 32 in four 24 × 16 quadrants of clearly different colours.
constexpr int kStoredWidth = 48;
constexpr int kStoredHeight = 32;
constexpr std::array<Rgb, 4> kQuadrantColors{{
    {255, 0, 0},      // top left
    {0, 255, 0},      // top right
    {0, 0, 255},      // bottom left
    {255, 255, 255},  // bottom right
}};

int quadrantAt(int x, int y, int width, int height) {
    return (y < height / 2 ? 0 : 2) + (x < width / 2 ? 0 : 1);
}

Bytes quadrantJpeg() {
    Bitmap bitmap(kStoredWidth, kStoredHeight);
    for (int y = 0; y < kStoredHeight; ++y) {
        for (int x = 0; x < kStoredWidth; ++x) {
            bitmap.setColor(x, y, kQuadrantColors[quadrantAt(x, y, kStoredWidth, kStoredHeight)]);
        }
    }
    JpegImage jpeg;
    jpeg.assign(bitmap);
    const std::vector<std::uint8_t> bytes = jpeg.saveToBytes();
    return Bytes(bytes.begin(), bytes.end());
}

Bytes exifWithOrientation(int orientation) {
    test::ExifContents contents;
    contents.primary.push_back(test::shortField(test::kOrientationTag, orientation));
    return test::exifBlock(contents);
}

// The quadrant colour nearest to `color`.
int nearestQuadrant(Rgb color) {
    int best = 0;
    int bestDistance = INT32_MAX;
    for (int q = 0; q < 4; ++q) {
        const Rgb c = kQuadrantColors[static_cast<std::size_t>(q)];
        const int distance = std::abs(c.red - color.red) + std::abs(c.green - color.green) +
                             std::abs(c.blue - color.blue);
        if (distance < bestDistance) {
            best = q;
            bestDistance = distance;
        }
    }
    return best;
}

struct OrientationCase {
    int tag;
    const char* turn;
    // Where upright pixel (x, y) of an upright picture W' × H' comes from in the stored W × H
    // picture, written out from the tag's definition.
    std::array<int, 2> (*storedPixel)(int x, int y, int width, int height);
};

void PrintTo(const OrientationCase& row, std::ostream* out) {
    *out << row.tag << " (" << row.turn << ")";
}

const OrientationCase kOrientationCases[] = {
    {1, "as stored",
     [](int x, int y, int, int) {
         return std::array{x, y};
     }},
    {2, "mirrored left to right",
     [](int x, int y, int w, int) {
         return std::array{w - 1 - x, y};
     }},
    {3, "turned half round",
     [](int x, int y, int w, int h) {
         return std::array{w - 1 - x, h - 1 - y};
     }},
    {4, "mirrored top to bottom",
     [](int x, int y, int, int h) {
         return std::array{x, h - 1 - y};
     }},
    {5, "mirrored along the main diagonal",
     [](int x, int y, int, int) {
         return std::array{y, x};
     }},
    {6, "turned a quarter clockwise",
     [](int x, int y, int, int h) {
         return std::array{y, h - 1 - x};
     }},
    {7, "mirrored along the other diagonal",
     [](int x, int y, int w, int h) {
         return std::array{w - 1 - y, h - 1 - x};
     }},
    {8, "turned a quarter anticlockwise",
     [](int x, int y, int w, int) {
         return std::array{w - 1 - y, x};
     }},
};

class OrientationTest : public ::testing::TestWithParam<OrientationCase> {
  protected:
    TempDir m_folder;
};

// Every tag turns the photo upright before the target size is computed: the longer side is N
// whichever way the photo was stored, and each quadrant lands where the tag says.
TEST_P(OrientationTest, TheOutputIsUprightAndItsLongerSideIsN) {
    const OrientationCase& row = GetParam();
    writeFile(m_folder / "photo.jpg",
              test::withSegments(quadrantJpeg(), {{0xE1, exifWithOrientation(row.tag)}}));
    ResizeRequest request;
    request.size = 24;
    resizeFile(m_folder / "photo.jpg", m_folder / "out.jpg", request);

    JpegImage output;
    output.loadFromFile(m_folder / "out.jpg");
    const bool swapped = row.tag >= 5;
    ASSERT_EQ(output.width(), swapped ? 16 : 24);
    ASSERT_EQ(output.height(), swapped ? 24 : 16);
    EXPECT_EQ(output.metadata().orientation, Orientation::Normal);  // no tag left to apply
    Bitmap pixels;
    output.assignTo(pixels);
    const int uprightWidth = swapped ? kStoredHeight : kStoredWidth;
    const int uprightHeight = swapped ? kStoredWidth : kStoredHeight;
    // The centre of each upright quadrant, sampled in the output.
    for (const auto [fx, fy] :
         {std::array{1, 1}, std::array{3, 1}, std::array{1, 3}, std::array{3, 3}}) {
        const int ux = uprightWidth * fx / 4;
        const int uy = uprightHeight * fy / 4;
        const auto [sx, sy] = row.storedPixel(ux, uy, kStoredWidth, kStoredHeight);
        const int expected = quadrantAt(sx, sy, kStoredWidth, kStoredHeight);
        const Rgb got = pixels.color(output.width() * fx / 4, output.height() * fy / 4);
        EXPECT_EQ(nearestQuadrant(got), expected) << "upright quadrant " << fx << "," << fy;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryTag, OrientationTest, ::testing::ValuesIn(kOrientationCases));

class PhotoOptionsTest : public ::testing::Test {
  protected:
    Bytes resized(const Bytes& jpeg, const ResizeRequest& request) {
        writeFile(m_folder / "in.jpg", jpeg);
        const std::vector<std::uint8_t> bytes =
            resizeToBytes(m_folder / "in.jpg", PictureFormat::Jpeg, request);
        return Bytes(bytes.begin(), bytes.end());
    }
    JpegMetadata metadataOf(const Bytes& jpeg) {
        JpegImage picture;
        picture.loadFromBytes(jpeg);
        return picture.metadata();
    }
    static ResizeRequest sized(int n) {
        ResizeRequest request;
        request.size = n;
        return request;
    }
    TempDir m_folder;
};

TEST_F(PhotoOptionsTest, WithoutAutoOrientTheStoredPictureIsResizedAsIs) {
    ResizeRequest literal = sized(24);
    literal.autoOrient = false;
    const Bytes turned = test::withSegments(quadrantJpeg(), {{0xE1, exifWithOrientation(6)}});
    // The literal output is the output of the same file without any tag.
    EXPECT_EQ(resized(turned, literal), resized(quadrantJpeg(), sized(24)));
}

// A damaged EXIF block, or one whose tag says "as stored", changes nothing: the output is the
// one the file without it gives.
TEST_F(PhotoOptionsTest, DamagedOrNeutralExifLeavesTheOutputAsWithoutIt) {
    const Bytes plain = resized(quadrantJpeg(), sized(24));
    Bytes damaged = exifWithOrientation(6);
    damaged.resize(test::kTiffStart + 9);  // the directory is cut off
    for (const Bytes& exif : {damaged, exifWithOrientation(1), exifWithOrientation(9),
                              Bytes{'E', 'x', 'i', 'f', 0, 0, 'x'}}) {
        EXPECT_EQ(resized(test::withSegments(quadrantJpeg(), {{0xE1, exif}}), sized(24)), plain);
    }
}

// Which profile reaches an output, for profiles in one or several segments. Every output here
// has three colour components.
TEST_F(PhotoOptionsTest, AnRgbProfileIsKeptOthersAndStrippedOnesAreNot) {
    const Bytes rgb = test::iccProfile("RGB ", 70000);  // more than one segment holds
    for (const int parts : {2, 3}) {
        std::vector<test::JpegSegment> segments;
        for (const Bytes& payload : test::iccSegments(rgb, parts)) {
            segments.push_back({0xE2, payload});
        }
        const Bytes source = test::withSegments(quadrantJpeg(), segments);
        const JpegMetadata kept = metadataOf(resized(source, sized(24)));
        EXPECT_EQ(kept.iccProfile, std::vector<std::uint8_t>(rgb.begin(), rgb.end()))
            << parts << " segments";
        ResizeRequest strip = sized(24);
        strip.keepColorProfile = false;
        EXPECT_TRUE(metadataOf(resized(source, strip)).iccProfile.empty());
    }
    const Bytes small = test::iccProfile("RGB ", 3000);
    const Bytes one =
        test::withSegments(quadrantJpeg(), {{0xE2, test::iccSegments(small, 1).front()}});
    EXPECT_EQ(metadataOf(resized(one, sized(24))).iccProfile,
              std::vector<std::uint8_t>(small.begin(), small.end()));
    for (const char* space : {"CMYK", "GRAY"}) {
        const Bytes profile = test::iccProfile(space, 3000);
        const Bytes source =
            test::withSegments(quadrantJpeg(), {{0xE2, test::iccSegments(profile, 1).front()}});
        EXPECT_TRUE(metadataOf(resized(source, sized(24))).iccProfile.empty()) << space;
    }
}

TEST_F(PhotoOptionsTest, KeptMetadataSaysUprightOnceThePixelsWereTurned) {
    test::ExifContents contents;
    contents.primary = {test::asciiField(test::kMakeTag, "Camera"),
                        test::shortField(test::kOrientationTag, 6)};
    const Bytes comment{'h', 'e', 'l', 'l', 'o'};
    const Bytes source =
        test::withSegments(quadrantJpeg(), {{0xE1, test::exifBlock(contents)}, {0xFE, comment}});
    ResizeRequest keep = sized(24);
    keep.keepMetadata = true;
    const JpegMetadata kept = metadataOf(resized(source, keep));
    EXPECT_EQ(kept.orientation, Orientation::Normal);
    ASSERT_EQ(kept.comments.size(), 1u);
    EXPECT_EQ(kept.comments[0], std::vector<std::uint8_t>(comment.begin(), comment.end()));
    EXPECT_FALSE(kept.exif.empty());
    // Left as stored, the output keeps the tag that still applies to it.
    keep.autoOrient = false;
    EXPECT_EQ(metadataOf(resized(source, keep)).orientation, Orientation::Rotate90);
    // Without the option nothing but the profile is carried over.
    const JpegMetadata plain = metadataOf(resized(source, sized(24)));
    EXPECT_TRUE(plain.exif.empty());
    EXPECT_TRUE(plain.comments.empty());
}

struct ShrinkCase {
    const char* name;
    int width;
    int height;
    int expectedWidth;
    int expectedHeight;
};

void PrintTo(const ShrinkCase& row, std::ostream* out) {
    *out << row.name << " " << row.width << "x" << row.height;
}

class ShrinkOnlyTest : public ::testing::TestWithParam<ShrinkCase> {
  protected:
    TempDir m_folder;
};

// N = 40: pictures within it keep their size (and are still encoded again in their format),
// larger ones shrink as always.
TEST_P(ShrinkOnlyTest, PicturesWithinTheSizeKeepIt) {
    const ShrinkCase& row = GetParam();
    const fs::path source = m_folder / row.name;
    Bitmap picture(row.width, row.height, PixelFormat::Bits8, {{10, 20, 30}, {200, 100, 50}});
    picture.setIndex(0, 0, 1);
    const std::string extension = fs::path(row.name).extension().string();
    if (extension == ".bmp") {
        writeFile(source, encodeBmp(picture));
    } else if (extension == ".gif") {
        GifImage gif;
        gif.assign(picture);
        writeFile(source, gif.saveToBytes());
    } else {
        JpegImage jpeg;
        jpeg.assign(picture.to24());
        writeFile(source, jpeg.saveToBytes());
    }
    ResizeRequest request;
    request.size = 40;
    request.shrinkOnly = true;
    resizeFile(source, m_folder / "out", request);
    int width = 0;
    int height = 0;
    if (extension == ".bmp") {
        const Bitmap output = loadBmpFile(m_folder / "out");
        EXPECT_EQ(output.format(), PixelFormat::Bits24);  // written at 24 bits all the same
        width = output.width();
        height = output.height();
    } else if (extension == ".gif") {
        GifImage output;
        output.loadFromFile(m_folder / "out");
        width = output.width();
        height = output.height();
    } else {
        JpegImage output;
        output.loadFromFile(m_folder / "out");
        width = output.width();
        height = output.height();
    }
    EXPECT_EQ(width, row.expectedWidth);
    EXPECT_EQ(height, row.expectedHeight);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, ShrinkOnlyTest,
                         ::testing::Values(ShrinkCase{"small.bmp", 30, 12, 30, 12},
                                           ShrinkCase{"exact.bmp", 40, 7, 40, 7},
                                           ShrinkCase{"large.bmp", 80, 20, 40, 10},
                                           ShrinkCase{"small.gif", 9, 33, 9, 33},
                                           ShrinkCase{"large.gif", 20, 100, 8, 40},
                                           ShrinkCase{"small.jpg", 16, 16, 16, 16},
                                           ShrinkCase{"large.jpg", 64, 48, 40, 30}));

TEST_F(PhotoOptionsTest, ShrinkOnlyWithAGeometryKeepsPicturesWithinIt) {
    writeFile(m_folder / "a.bmp", encodeBmp(Bitmap(30, 20)));
    ResizeRequest request;
    request.geometry = Size{50, 20};
    request.shrinkOnly = true;
    resizeFile(m_folder / "a.bmp", m_folder / "kept.bmp", request);
    EXPECT_EQ(loadBmpFile(m_folder / "kept.bmp").width(), 30);
    request.geometry = Size{50, 10};  // too high: resized to exactly the geometry
    resizeFile(m_folder / "a.bmp", m_folder / "fitted.bmp", request);
    EXPECT_EQ(loadBmpFile(m_folder / "fitted.bmp").width(), 50);
    EXPECT_EQ(loadBmpFile(m_folder / "fitted.bmp").height(), 10);
}

TEST_F(PhotoOptionsTest, KeepDateGivesTheOutputTheSourcesModificationTime) {
    writeFile(m_folder / "a.bmp", encodeBmp(Bitmap(8, 8)));
    const timespec times[2] = {{981173106, 0}, {981173106, 123456789}};  // 2001-02-03
    ASSERT_EQ(::utimensat(AT_FDCWD, (m_folder / "a.bmp").c_str(), times, 0), 0);
    ResizeRequest request;
    request.size = 4;
    resizeFile(m_folder / "a.bmp", m_folder / "plain.bmp", request);
    request.keepDate = true;
    resizeFile(m_folder / "a.bmp", m_folder / "dated.bmp", request);
    struct stat dated {};
    struct stat plain {};
    ASSERT_EQ(::stat((m_folder / "dated.bmp").c_str(), &dated), 0);
    ASSERT_EQ(::stat((m_folder / "plain.bmp").c_str(), &plain), 0);
    EXPECT_EQ(dated.st_mtim.tv_sec, 981173106);
    EXPECT_EQ(dated.st_mtim.tv_nsec, 123456789);
    EXPECT_NE(plain.st_mtim.tv_sec, 981173106);
}

}  // namespace
}  // namespace tz
