// The opt-in fast mode: JPEGs decoded reduced while at least twice the output size, then
// resized exactly to the size the whole picture gives; nothing else changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "resample/weight_lists.h"
#include "support/photo_metadata.h"
#include "support/picture_builders.h"
#include "support/support.h"
#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/jpeg.h"
#include "tz/orientation.h"
#include "tz/resample.h"
#include "tz/resize.h"

namespace tz {
namespace {

using test::Bytes;
using test::TempDir;
using test::writeFile;

struct ScaleCase {
    const char* description;
    Size source;
    Size target;
    JpegScale expected;
};

void PrintTo(const ScaleCase& row, std::ostream* out) {
    *out << row.description;
}

class FastJpegScaleTest : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(FastJpegScaleTest, IsTheMostReducedDecodeStillTwiceTheTarget) {
    const ScaleCase& row = GetParam();
    EXPECT_EQ(static_cast<int>(fastJpegScale(row.source, row.target)),
              static_cast<int>(row.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FastJpegScaleTest,
    ::testing::Values(ScaleCase{"an eighth, 500 x 375, is more than twice 160 x 120",
                                {4000, 3000},
                                {160, 120},
                                JpegScale::Eighth},
                      ScaleCase{"a quarter, 1000 x 750, is exactly twice 500 x 375",
                                {4000, 3000},
                                {500, 375},
                                JpegScale::Quarter},
                      ScaleCase{"an eighth is 375 high, one row short of twice 188",
                                {4000, 3000},
                                {250, 188},
                                JpegScale::Quarter},
                      ScaleCase{"sides round up: an eighth of 4001 x 3001 is 501 x 376",
                                {4001, 3001},
                                {250, 188},
                                JpegScale::Eighth},
                      ScaleCase{"a stretched target: only a half, 2000 wide, is twice 1000",
                                {4000, 3000},
                                {1000, 100},
                                JpegScale::Half},
                      ScaleCase{"a half, 500 x 400, is less than twice 300 x 240",
                                {1000, 800},
                                {300, 240},
                                JpegScale::Full},
                      ScaleCase{"enlarging", {100, 80}, {200, 160}, JpegScale::Full}));

std::vector<std::uint8_t> bytesOf(const Bitmap& bitmap) {
    return {bitmap.pixels().begin(), bitmap.pixels().end()};
}

// Output pixels as a BMP output carries them: no JPEG encoding between the two sides compared.
class FastResizeTest : public ::testing::Test {
  protected:
    Bitmap resized(const std::string& name, ResizeRequest request) {
        request.outputFormat = PictureFormat::Bmp;
        const std::vector<std::uint8_t> bytes =
            resizeToBytes(m_folder / name, *resizedFormatOf(name), request);
        return decodeBmp(bytes);
    }
    static ResizeRequest sized(int n, bool fast) {
        ResizeRequest request;
        request.size = n;
        request.fastJpegScaling = fast;
        return request;
    }
    TempDir m_folder;
};

// A photo stored 800 × 480 and turned a quarter by its EXIF tag: the output is upright at the
// size of the whole picture, 60 × 100, made from the quarter decode (200 × 120 is exactly twice
// the stored-way target 100 × 60), turned upright, then resampled as a reduction of 480 × 800.
TEST_F(FastResizeTest, ResizesTheReducedDecodeToTheWholePicturesSize) {
    const Bytes plain = test::jpegBytes(test::gradientBitmap(800, 480));
    test::ExifContents contents;
    contents.primary.push_back(test::shortField(test::kOrientationTag, 6));
    writeFile(m_folder / "p.jpg", test::withSegments(plain, {{0xE1, test::exifBlock(contents)}}));

    JpegImage reduced;
    reduced.setScale(JpegScale::Quarter);
    reduced.loadFromFile(m_folder / "p.jpg");
    Bitmap source = orientedUpright(reduced.releaseBitmap(), Orientation::Rotate90);
    source.convertTo24();
    ASSERT_EQ(source.width(), 120);
    Bitmap expected(60, 100, PixelFormat::Bits24);
    const KernelEntry& lanczos3 = kKernelTable[kLanczos3Index];
    ResampleOptions options;
    options.sourceReduction = 4;
    options.reducedFromWidth = 480;
    options.reducedFromHeight = 800;
    resampleBitmap(source, expected, lanczos3.function, lanczos3.support, options);

    const Bitmap fast = resized("p.jpg", sized(100, true));
    ASSERT_EQ(fast.width(), 60);
    ASSERT_EQ(fast.height(), 100);
    EXPECT_EQ(bytesOf(fast), bytesOf(expected));
}

// A reduced source's pixel stands for the centre of its block: each destination pixel's weights
// centre on the full picture's corner-aligned position, moved into block units. (Measured on
// the benchmark photographs at N = 160, this took the mean difference from the exact output
// from 1.27 to 0.43 levels.)
TEST(ReducedSourceMapping, WeightsCentreOnTheBlockOfTheFullPicturesPosition) {
    const KernelEntry& lanczos3 = kKernelTable[kLanczos3Index];
    for (const int factor : {2, 4, 8}) {
        const int full = 3001;
        const int reduced = (full + factor - 1) / factor;
        const int destination = 160;
        const detail::WeightLists lists = detail::buildWeightLists(
            destination, reduced, lanczos3.function, lanczos3.support, 1, {factor, full});
        ASSERT_EQ(lists.size(), destination);
        // Away from the edges, where folding moves weights.
        for (int i = 5; i < destination - 5; ++i) {
            double sum = 0;
            double moment = 0;
            for (const detail::WeightPair& pair : lists[i]) {
                sum += pair.weight;
                moment += pair.weight * pair.sourceIndex;
            }
            const double position = i * (full - 1.0) / (destination - 1.0);
            // The sampled kernel's centroid strays by a few thousandths; the block centre's
            // offset this is about is (factor − 1) / (2 · factor), a quarter pixel or more.
            EXPECT_NEAR(moment / sum, (position - (factor - 1) / 2.0) / factor, 0.01)
                << "factor " << factor << ", destination pixel " << i;
        }
    }
}

// On a smooth picture the fast output differs from the exact one by about a level at most.
TEST_F(FastResizeTest, StaysCloseToTheExactOutput) {
    writeFile(m_folder / "p.jpg", test::jpegBytes(test::gradientBitmap(1200, 900)));
    const Bitmap exact = resized("p.jpg", sized(150, false));
    const Bitmap fast = resized("p.jpg", sized(150, true));
    ASSERT_EQ(fast.width(), exact.width());
    ASSERT_EQ(fast.height(), exact.height());
    long long difference = 0;
    int largest = 0;
    for (std::size_t i = 0; i < exact.pixels().size(); ++i) {
        const int d = std::abs(int{fast.pixels()[i]} - int{exact.pixels()[i]});
        difference += d;
        largest = std::max(largest, d);
    }
    EXPECT_LE(static_cast<double>(difference) / static_cast<double>(exact.pixels().size()), 1.0);
    EXPECT_LE(largest, 8);
    EXPECT_NE(bytesOf(fast), bytesOf(exact)) << "the fast mode did not reduce the decode";
}

// Other formats, and pictures that shrinkOnly keeps, come out as without the fast mode.
TEST_F(FastResizeTest, LeavesOtherFormatsAndKeptPicturesAlone) {
    writeFile(m_folder / "p.bmp", encodeBmp(test::detailedBitmap(400, 300)));
    EXPECT_EQ(bytesOf(resized("p.bmp", sized(50, true))),
              bytesOf(resized("p.bmp", sized(50, false))));
    writeFile(m_folder / "small.jpg", test::jpegBytes(test::detailedBitmap(400, 300)));
    ResizeRequest keep = sized(1600, true);
    keep.shrinkOnly = true;
    const Bitmap kept = resized("small.jpg", keep);
    keep.fastJpegScaling = false;
    EXPECT_EQ(bytesOf(kept), bytesOf(resized("small.jpg", keep)));
    EXPECT_EQ(kept.width(), 400);
}

}  // namespace
}  // namespace tz
