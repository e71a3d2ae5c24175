// Resampling pictures with alpha: premultiplied filtering checked on hand-computed pixels.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/picture_builders.h"
#include "support/pixel_printers.h"
#include "tz/bitmap.h"
#include "tz/resample.h"

namespace tz {
namespace {

using test::solidBitmap;

constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kTransparentBlack{0, 0, 0, 0};
constexpr Rgba kTransparentWhite{255, 255, 255, 0};

// Every test runs on each path, which must all give the same bytes.
class ResampleAlpha : public ::testing::TestWithParam<ResampleOptions> {
  protected:
    void resample(Bitmap& source, Bitmap& destination, const KernelEntry& entry) {
        resampleBitmap(source, destination, entry.function, entry.support, GetParam());
    }
    const KernelEntry& lanczos = kKernelTable[5];
    const KernelEntry& triangle = kKernelTable[1];
};

TEST_P(ResampleAlpha, RedEdgeAgainstTransparentBlackKeepsItsColour) {
    // 3 → 5 wide: scale 2, column 1 is centred at 0.5 with Triangle weights 0.5 and 0.5.
    // Premultiplied red 0·0.5 + 255·0.5 = 127.5 → 128, alpha the same: 128·255/128 = 255 red
    // at alpha 128·255/255 = 128. Filtering straight colour would give the dark (128, 0, 0).
    Bitmap source(3, 1, PixelFormat::Bits32);
    source.setRgba(0, 0, kTransparentBlack);
    source.setRgba(1, 0, kRed);
    source.setRgba(2, 0, kRed);
    Bitmap destination(5, 1, PixelFormat::Bits32);
    resample(source, destination, triangle);
    ASSERT_EQ(destination.format(), PixelFormat::Bits32);
    EXPECT_EQ(destination.rgba(0, 0), kTransparentBlack);
    EXPECT_EQ(destination.rgba(1, 0), (Rgba{255, 0, 0, 128}));
    EXPECT_EQ(destination.rgba(2, 0), kRed);
    EXPECT_EQ(destination.rgba(4, 0), kRed);
    EXPECT_EQ(source.format(), PixelFormat::Bits32);
}

TEST_P(ResampleAlpha, RedDotOnTransparentWhiteTakesNoWhiteFringe) {
    // 3 × 3 → 5 × 5: the red centre pixel lands on (2, 2); (1, 1) sits halfway between it and
    // three transparent neighbours. Rows: 0.5·0 + 0.5·255 = 127.5 → 128 in the middle row, 0
    // above; columns: 0.5·0 + 0.5·128 = 64, for colour and alpha alike. So (1, 1) is pure red
    // at alpha 64, and (2, 1) red at 128; straight filtering would mix in the white.
    Bitmap source = solidBitmap(3, 3, kTransparentWhite);
    source.setRgba(1, 1, kRed);
    Bitmap destination(5, 5, PixelFormat::Bits32);
    resample(source, destination, triangle);
    EXPECT_EQ(destination.rgba(2, 2), kRed);
    EXPECT_EQ(destination.rgba(1, 1), (Rgba{255, 0, 0, 64}));
    EXPECT_EQ(destination.rgba(3, 3), (Rgba{255, 0, 0, 64}));
    EXPECT_EQ(destination.rgba(2, 1), (Rgba{255, 0, 0, 128}));
    EXPECT_EQ(destination.rgba(1, 2), (Rgba{255, 0, 0, 128}));
    EXPECT_EQ(destination.rgba(0, 0), kTransparentBlack);
    EXPECT_EQ(destination.rgba(4, 2), kTransparentBlack);
}

TEST_P(ResampleAlpha, HalfTransparentNeighboursAverageTheirPremultipliedColours) {
    // Red at alpha 255 beside blue at alpha 51, halfway: premultiplied (127.5 → 128, 0,
    // 25.5 → 26 half to even), alpha 153: red 128·255/153 = 213.3 → 213, blue 26·255/153 =
    // 43.3 → 43, alpha 153 (straight filtering would give (128, 0, 128, 153)).
    Bitmap source(2, 1, PixelFormat::Bits32);
    source.setRgba(0, 0, kRed);
    source.setRgba(1, 0, Rgba{0, 0, 255, 51});
    Bitmap destination(3, 1, PixelFormat::Bits32);
    resample(source, destination, triangle);
    EXPECT_EQ(destination.rgba(1, 0), (Rgba{213, 0, 43, 153}));
    EXPECT_EQ(destination.rgba(2, 0), (Rgba{0, 0, 255, 51}));
}

TEST_P(ResampleAlpha, OpaqueStaysOpaqueAndTransparentStaysTransparent) {
    // Lanczos3 weights sum to 0.994 … 1 when enlarging: alpha is measured against what full
    // opacity becomes, so 255 is not worn down to 253 or 254.
    Bitmap opaque(8, 6, PixelFormat::Bits32);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            opaque.setRgba(x, y,
                           Rgba{static_cast<std::uint8_t>(30 * x), 90,
                                static_cast<std::uint8_t>(40 * y), 255});
        }
    }
    Bitmap transparent = solidBitmap(8, 6, kTransparentWhite);
    for (const auto& [width, height] : {std::pair{15, 11}, std::pair{5, 3}, std::pair{8, 6}}) {
        Bitmap destination(width, height, PixelFormat::Bits32);
        resample(opaque, destination, lanczos);
        Bitmap clear(width, height, PixelFormat::Bits32);
        resample(transparent, clear, lanczos);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                ASSERT_EQ(destination.rgba(x, y).alpha, 255) << x << "," << y;
                ASSERT_EQ(clear.rgba(x, y), kTransparentBlack) << x << "," << y;
            }
        }
    }
}

TEST_P(ResampleAlpha, ScaleOneCopiesPixelsWhosePremultipliedColourIsExact) {
    // Triangle at scale 1 copies. At alpha 51 each channel c premultiplies to c/5 exactly.
    Bitmap source = solidBitmap(4, 3, kTransparentBlack);
    source.setRgba(1, 1, kRed);
    source.setRgba(2, 1, Rgba{10, 200, 30, 51});
    const Bitmap original = source;
    Bitmap destination(4, 3, PixelFormat::Bits32);
    resample(source, destination, triangle);
    EXPECT_EQ(destination, original);
}

TEST_P(ResampleAlpha, EveryAlphaLooksTheSameWithinOneLevelAfterACopy) {
    // Colour is carried premultiplied in 8 bits: faint pixels lose colour precision, but what
    // they show over white or black moves by at most one level.
    Bitmap source(256, 1, PixelFormat::Bits32);
    for (int a = 0; a < 256; ++a) {
        source.setRgba(a, 0,
                       Rgba{static_cast<std::uint8_t>(a * 7), static_cast<std::uint8_t>(255 - a),
                            static_cast<std::uint8_t>(a * 13 + 5), static_cast<std::uint8_t>(a)});
    }
    const Bitmap original = source;
    Bitmap destination(256, 1, PixelFormat::Bits32);
    resample(source, destination, triangle);
    const auto overBlack = [](Rgba c, std::uint8_t channel) { return channel * c.alpha / 255.0; };
    for (int x = 0; x < 256; ++x) {
        const Rgba before = original.rgba(x, 0);
        const Rgba after = destination.rgba(x, 0);
        ASSERT_EQ(after.alpha, before.alpha);
        const Rgb whiteBefore = composeOverWhite(before);
        const Rgb whiteAfter = composeOverWhite(after);
        EXPECT_NEAR(whiteAfter.red, whiteBefore.red, 1) << x;
        EXPECT_NEAR(whiteAfter.green, whiteBefore.green, 1) << x;
        EXPECT_NEAR(whiteAfter.blue, whiteBefore.blue, 1) << x;
        EXPECT_NEAR(overBlack(after, after.red), overBlack(before, before.red), 1) << x;
        EXPECT_NEAR(overBlack(after, after.green), overBlack(before, before.green), 1) << x;
        EXPECT_NEAR(overBlack(after, after.blue), overBlack(before, before.blue), 1) << x;
    }
}

TEST_P(ResampleAlpha, A32BitSourceInto24BitsIsComposedOverWhiteFirst) {
    Bitmap source(2, 1, PixelFormat::Bits32);
    source.setRgba(0, 0, Rgba{255, 0, 0, 128});
    source.setRgba(1, 0, kTransparentBlack);
    Bitmap destination(2, 1);
    resample(source, destination, triangle);
    EXPECT_EQ(source.format(), PixelFormat::Bits24);
    ASSERT_EQ(destination.format(), PixelFormat::Bits24);
    EXPECT_EQ(destination.color(0, 0), (Rgb{255, 127, 127}));
    EXPECT_EQ(destination.color(1, 0), (Rgb{255, 255, 255}));
}

TEST_P(ResampleAlpha, SourceAndDestinationMayBeTheSameBitmap) {
    Bitmap bitmap(3, 1, PixelFormat::Bits32);
    bitmap.setRgba(0, 0, kTransparentBlack);
    bitmap.setRgba(1, 0, Rgba{5, 10, 15, 51});
    bitmap.setRgba(2, 0, kRed);
    const Bitmap original = bitmap;
    resample(bitmap, bitmap, triangle);
    EXPECT_EQ(bitmap, original);
}

std::string pathName(const ::testing::TestParamInfo<ResampleOptions>& param) {
    const char* const pathNames[] = {"Automatic", "Portable", "Reference"};
    return std::string(pathNames[static_cast<int>(param.param.path)]) + "Threads" +
           std::to_string(param.param.threads);
}

INSTANTIATE_TEST_SUITE_P(Paths, ResampleAlpha,
                         ::testing::Values(ResampleOptions{ResamplePath::Reference, 1},
                                           ResampleOptions{ResamplePath::Portable, 1},
                                           ResampleOptions{ResamplePath::Automatic, 1},
                                           ResampleOptions{ResamplePath::Automatic, 2}),
                         pathName);

}  // namespace
}  // namespace tz
