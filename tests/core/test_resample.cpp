// The resampler against hand-computed values: kernels, byte conversion, weight lists, the
// stated examples and the cases the algorithm leaves open.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "resample/arithmetic.h"
#include "resample/kernels.h"
#include "resample/passes.h"
#include "resample/weight_lists.h"
#include "support/picture_builders.h"
#include "tz/bitmap.h"
#include "tz/errors.h"
#include "tz/resample.h"

namespace tz {
namespace {

using detail::WeightPair;
using test::solidBitmap;

// --- Kernels ---

struct KernelPoint {
    const char* description;
    KernelFunction kernel;
    float x;
    double expected;
    double tolerance;  // 0: exactly
};

std::ostream& operator<<(std::ostream& out, const KernelPoint& point) {
    return out << point.description;
}

class KernelValue : public ::testing::TestWithParam<KernelPoint> {};

TEST_P(KernelValue, MatchesHandComputation) {
    const KernelPoint& point = GetParam();
    const float value = point.kernel(point.x);
    if (point.tolerance == 0) {
        EXPECT_EQ(value, static_cast<float>(point.expected)) << "x = " << point.x;
    } else {
        EXPECT_NEAR(value, point.expected, point.tolerance) << "x = " << point.x;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kernels, KernelValue,
    ::testing::Values(
        KernelPoint{"Box: lower bound -0.5 excluded", boxKernel, -0.5f, 0.0, 0},
        KernelPoint{"Box: upper bound 0.5 included", boxKernel, 0.5f, 1.0, 0},
        KernelPoint{"Box: centre", boxKernel, 0.0f, 1.0, 0},
        KernelPoint{"Box: just inside -0.5", boxKernel, -0.49999997f, 1.0, 0},
        KernelPoint{"Box: just beyond 0.5", boxKernel, 0.50000006f, 0.0, 0},
        KernelPoint{"Triangle: 1 - 0.25", triangleKernel, 0.25f, 0.75, 0},
        KernelPoint{"Triangle: symmetric", triangleKernel, -0.25f, 0.75, 0},
        KernelPoint{"Triangle: zero at 1", triangleKernel, 1.0f, 0.0, 0},
        KernelPoint{"Hermite: (2*0.5-3)*0.25+1", hermiteKernel, 0.5f, 0.5, 0},
        KernelPoint{"Hermite: (2*0.25-3)*0.0625+1", hermiteKernel, -0.25f, 0.84375, 0},
        KernelPoint{"Hermite: zero at 1", hermiteKernel, 1.0f, 0.0, 0},
        KernelPoint{"Bell: 0.75 at 0", bellKernel, 0.0f, 0.75, 0},
        KernelPoint{"Bell: 0.75 - 0.0625", bellKernel, 0.25f, 0.6875, 0},
        KernelPoint{"Bell: second piece at 0.5, t = -1", bellKernel, 0.5f, 0.5, 0},
        KernelPoint{"Bell: t = -0.5 gives 0.125", bellKernel, -1.0f, 0.125, 0},
        KernelPoint{"Bell: zero at 1.5", bellKernel, 1.5f, 0.0, 0},
        KernelPoint{"B-Spline: 2/3 at 0", bSplineKernel, 0.0f, 2.0 / 3.0, 0},
        KernelPoint{"B-Spline: 0.0625 - 0.25 + 2/3", bSplineKernel, 0.5f, 23.0 / 48.0, 0},
        KernelPoint{"B-Spline: t = 1 gives 1/6", bSplineKernel, 1.0f, 1.0 / 6.0, 0},
        KernelPoint{"B-Spline: t = 0.5 gives 1/48", bSplineKernel, -1.5f, 1.0 / 48.0, 0},
        KernelPoint{"B-Spline: zero at 2", bSplineKernel, 2.0f, 0.0, 0},
        KernelPoint{"Lanczos3: 1 at 0", lanczos3Kernel, 0.0f, 1.0, 0},
        KernelPoint{"Lanczos3: sinc(1/2) sinc(1/6)", lanczos3Kernel, 0.5f, 0.6079271, 1e-7},
        KernelPoint{"Lanczos3: symmetric", lanczos3Kernel, -0.5f, 0.6079271, 1e-7},
        KernelPoint{"Lanczos3: sinc(3/2) sinc(1/2)", lanczos3Kernel, 1.5f, -0.1350949, 1e-7},
        KernelPoint{"Lanczos3: sinc(5/2) sinc(5/6)", lanczos3Kernel, 2.5f, 0.0243171, 1e-7},
        // At whole numbers sin(single(pi * x)) is not 0: the weight is tiny, not zero.
        KernelPoint{"Lanczos3: sin(single pi)/single pi * sinc(1/3)", lanczos3Kernel, 1.0f,
                    -2.3013e-8, 1e-12},
        KernelPoint{"Lanczos3: zero at 3", lanczos3Kernel, 3.0f, 0.0, 0},
        KernelPoint{"Mitchell: (16/3)/6 at 0", mitchellKernel, 0.0f, 8.0 / 9.0, 1e-7},
        KernelPoint{"Mitchell: (0.875 - 3 + 16/3)/6", mitchellKernel, 0.5f, 0.5347222, 1e-7},
        KernelPoint{"Mitchell: (-7/3 + 12 - 20 + 32/3)/6", mitchellKernel, -1.0f, 1.0 / 18.0, 1e-7},
        KernelPoint{"Mitchell: (-7.875 + 27 - 30 + 32/3)/6", mitchellKernel, 1.5f, -0.0347222,
                    1e-7},
        KernelPoint{"Mitchell: zero at 2", mitchellKernel, 2.0f, 0.0, 0},
        KernelPoint{"sinc: 1 at 0", sinc, 0.0f, 1.0, 0},
        KernelPoint{"sinc: 2/pi at 1/2", sinc, 0.5f, 0.63661977, 1e-7},
        KernelPoint{"sinc: sin(single pi)/single pi", sinc, 1.0f, -2.78275e-8, 1e-12}));

// Lanczos3 takes its sines from a series where that cannot change the single result; it must
// agree with sinc everywhere. (Checked once on every single below 3; here on a sample, dense
// around the whole numbers and thirds where the lobes cross zero.)
TEST(FastSinc, AgreesWithSincOnSingles) {
    std::vector<float> points;
    for (float centre : {0.0f, 1.0f / 3.0f, 0.5f, 2.0f / 3.0f, 1.0f, 1.5f, 2.0f, 2.5f, 3.0f}) {
        float below = centre;
        float above = centre;
        for (int step = 0; step < 20000; ++step) {
            below = std::nextafter(below, 0.0f);
            above = std::nextafter(above, 3.0f);
            points.push_back(below);
            points.push_back(above);
        }
    }
    for (std::uint32_t bits = 0; bits < 0x40400000u; bits += 997) {
        points.push_back(std::bit_cast<float>(bits));
    }
    for (float x : points) {
        ASSERT_EQ(std::bit_cast<std::uint32_t>(detail::fastSinc(x)),
                  std::bit_cast<std::uint32_t>(sinc(x)))
            << "x = " << std::hexfloat << x;
    }
}

// Every single below 3, about 10^9 of them: minutes, so run by hand with
// --gtest_also_run_disabled_tests --gtest_filter=FastSinc.*
TEST(FastSinc, DISABLED_AgreesWithSincOnEverySingle) {
    long mismatches = 0;
    for (std::uint32_t bits = 0; bits < 0x40400000u; ++bits) {
        const float x = std::bit_cast<float>(bits);
        if (std::bit_cast<std::uint32_t>(detail::fastSinc(x)) !=
            std::bit_cast<std::uint32_t>(sinc(x))) {
            ADD_FAILURE() << "x = " << std::hexfloat << x;
            if (++mismatches == 10) {
                return;
            }
        }
    }
}

TEST(kKernelTable, HoldsTheSevenKernelsInOrder) {
    const std::vector<std::string> names = {"Box",      "Triangle", "Hermite", "Bell",
                                            "B-Spline", "Lanczos3", "Mitchell"};
    const std::vector<KernelFunction> kernels = {boxKernel,     triangleKernel, hermiteKernel,
                                                 bellKernel,    bSplineKernel,  lanczos3Kernel,
                                                 mitchellKernel};
    const std::vector<float> supports = {0.5f, 1.0f, 1.0f, 1.5f, 2.0f, 3.0f, 2.0f};
    ASSERT_EQ(kKernelTable.size(), names.size());
    for (std::size_t i = 0; i < kKernelTable.size(); ++i) {
        EXPECT_EQ(kKernelTable[i].name, names[i]) << i;
        EXPECT_EQ(kKernelTable[i].function, kernels[i]) << names[i];
        EXPECT_EQ(kKernelTable[i].support, supports[i]) << names[i];
        EXPECT_EQ(findKernel(names[i]), &kKernelTable[i]);
    }
    EXPECT_EQ(kLanczos3Index, 5u);
    EXPECT_EQ(findKernel("lanczos3"), nullptr);
    EXPECT_EQ(findKernel("Lanczos"), nullptr);
    EXPECT_EQ(findKernel(""), nullptr);
}

TEST(kKernelTable, EveryKernelIsZeroFromItsSupportOn) {
    for (const KernelEntry& entry : kKernelTable) {
        // Box is the exception at its own support: 1 at +0.5 (upper bound inclusive).
        const float from = entry.function == boxKernel ? 0.50000006f : entry.support;
        for (float x : {from, entry.support + 0.25f, 10.0f, 1e6f}) {
            EXPECT_EQ(entry.function(x), 0.0f) << entry.name << " at " << x;
            if (entry.function != boxKernel) {
                EXPECT_EQ(entry.function(-x), 0.0f) << entry.name << " at " << -x;
            }
        }
    }
}

// --- Sums to bytes ---

struct ByteCase {
    float sum;
    int expected;
};

class ToByte : public ::testing::TestWithParam<ByteCase> {};

TEST_P(ToByte, ClampsAndRoundsHalfToEven) {
    EXPECT_EQ(detail::toByte(GetParam().sum), GetParam().expected) << "sum " << GetParam().sum;
}

INSTANTIATE_TEST_SUITE_P(
    Conversion, ToByte,
    ::testing::Values(ByteCase{2.5f, 2}, ByteCase{3.5f, 4}, ByteCase{0.5f, 0}, ByteCase{1.5f, 2},
                      ByteCase{254.5f, 254}, ByteCase{127.49f, 127}, ByteCase{127.51f, 128},
                      ByteCase{255.0f, 255}, ByteCase{255.4f, 255}, ByteCase{255.5f, 255},
                      ByteCase{256.0f, 255}, ByteCase{1e30f, 255}, ByteCase{-0.0f, 0},
                      ByteCase{-0.4f, 0}, ByteCase{-0.5f, 0}, ByteCase{-3.0f, 0},
                      ByteCase{-1e30f, 0}, ByteCase{std::numeric_limits<float>::quiet_NaN(), 0}));

TEST(Accumulate, RoundsTheExtendedSumOnceToSingle) {
    EXPECT_EQ(detail::accumulate(0.0f, 200, 0.25f), 50.0f);
    EXPECT_EQ(detail::accumulate(50.0f, 3, 0.5f), 51.5f);
    // 1 + 2^-24 is halfway between two singles: ties to even keeps 1.
    EXPECT_EQ(detail::accumulate(1.0f, 1, 0x1p-24f), 1.0f);
    // 1 + 3·2^-25 lies above that midpoint and rounds up.
    EXPECT_EQ(detail::accumulate(1.0f, 3, 0x1p-25f), 1.0f + 0x1p-23f);
}

// --- Weight lists ---

struct ExpectedPair {
    int index;
    float weight;
};

void expectList(std::span<const WeightPair> actual, const std::vector<ExpectedPair>& expected,
                const std::string& what) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (std::size_t t = 0; t < expected.size(); ++t) {
        EXPECT_EQ(actual[t].sourceIndex, expected[t].index) << what << ", pair " << t;
        EXPECT_EQ(actual[t].weight, expected[t].weight) << what << ", pair " << t;
    }
}

TEST(ScaleFactor, IsCornerAlignedExceptForOnePixelSources) {
    EXPECT_EQ(detail::scaleFactor(8, 4), 7.0f / 3.0f);
    EXPECT_EQ(detail::scaleFactor(3, 9), 0.25f);
    EXPECT_EQ(detail::scaleFactor(5, 1), 5.0f);
    EXPECT_EQ(detail::scaleFactor(1, 1), 1.0f);
    EXPECT_EQ(detail::scaleFactor(1, 7), 0.0f);
}

TEST(WeightLists, EnlargingFourToEightAlignsCornersAndFoldsAsymmetrically) {
    const auto lists = detail::buildWeightLists(8, 4, lanczos3Kernel, 3.0f);
    ASSERT_EQ(lists.size(), 8);
    const float one = lanczos3Kernel(1.0f);
    const float two = lanczos3Kernel(2.0f);
    ASSERT_NE(one, 0.0f);
    ASSERT_NE(two, 0.0f);
    // Column 0 is centred on source column 0: j = -2 … 2 (±3 weigh exactly 0 and are dropped),
    // folded at the low edge without repeating pixel 0.
    expectList(lists[0], {{2, two}, {1, one}, {0, 1.0f}, {1, one}, {2, two}}, "column 0");
    // Column 7 is centred on source column 3: j = 1 … 5, folded at the high edge repeating the
    // last pixel (4 → 3, 5 → 2).
    expectList(lists[7], {{1, two}, {2, one}, {3, 1.0f}, {3, one}, {2, two}}, "column 7");
}

TEST(WeightLists, ShrinkingWidensTheKernel) {
    // 9 → 3 with Triangle: s = 1/4, so w = 4 and the weights are triangle((c − j)/4)/4.
    const auto lists = detail::buildWeightLists(3, 9, triangleKernel, 1.0f);
    ASSERT_EQ(lists.size(), 3);
    expectList(lists[0],
               {{3, 0.0625f},
                {2, 0.125f},
                {1, 0.1875f},
                {0, 0.25f},
                {1, 0.1875f},
                {2, 0.125f},
                {3, 0.0625f}},
               "column 0");
    expectList(lists[1],
               {{1, 0.0625f},
                {2, 0.125f},
                {3, 0.1875f},
                {4, 0.25f},
                {5, 0.1875f},
                {6, 0.125f},
                {7, 0.0625f}},
               "column 1");
    expectList(lists[2],
               {{5, 0.0625f},
                {6, 0.125f},
                {7, 0.1875f},
                {8, 0.25f},
                {8, 0.1875f},
                {7, 0.125f},
                {6, 0.0625f}},
               "column 2");
}

TEST(WeightLists, IndicesBeyondTheFoldAreClampedIntoTheSource) {
    // Two source pixels, reach 3: j = -2 folds to 2 and is clamped to 1.
    const auto lists = detail::buildWeightLists(5, 2, lanczos3Kernel, 3.0f);
    const float one = lanczos3Kernel(1.0f);
    const float two = lanczos3Kernel(2.0f);
    expectList(lists[0], {{1, two}, {1, one}, {0, 1.0f}, {1, one}, {1, two}}, "column 0");
}

TEST(WeightLists, ReachIsTakenFromTheExactSumAndDifference) {
    // Centre 2 and reach 1e-30: 2 − 1e-30 and 2 + 1e-30 round to 2 in any binary format, but
    // their exact floor and ceiling are 1 and 3, so a kernel that is 1 everywhere gets three
    // pairs.
    const KernelFunction one = [](float) { return 1.0f; };
    const auto lists = detail::buildWeightLists(5, 5, one, 1e-30f);
    expectList(lists[2], {{1, 1.0f}, {2, 1.0f}, {3, 1.0f}}, "centre 2");
    expectList(lists[0], {{1, 1.0f}, {0, 1.0f}, {1, 1.0f}}, "centre 0");
}

TEST(WeightLists, StayInsideTheSourceAndHoldNoZeroWeights) {
    const std::vector<std::pair<int, int>> extents = {{1, 1},  {5, 1},   {1, 2},  {2, 2},
                                                      {3, 2},  {2, 3},   {1, 40}, {7, 40},
                                                      {40, 7}, {2, 100}, {13, 5}};
    for (const KernelEntry& entry : kKernelTable) {
        for (const auto& [destination, source] : extents) {
            const auto lists =
                detail::buildWeightLists(destination, source, entry.function, entry.support);
            ASSERT_EQ(lists.size(), destination);
            for (int i = 0; i < lists.size(); ++i) {
                for (const WeightPair& pair : lists[i]) {
                    EXPECT_GE(pair.sourceIndex, 0)
                        << entry.name << " " << source << "→" << destination << " list " << i;
                    EXPECT_LT(pair.sourceIndex, source)
                        << entry.name << " " << source << "→" << destination << " list " << i;
                    EXPECT_NE(pair.weight, 0.0f) << entry.name;
                }
            }
        }
    }
}

TEST(WeightLists, OneDestinationPixelFromALongerSourceSamplesTheCentre) {
    const auto even = detail::buildWeightLists(1, 4, triangleKernel, 1.0f);
    expectList(even[0], {{1, 0.5f}, {2, 0.5f}}, "centre 1.5");
    const auto odd = detail::buildWeightLists(1, 5, triangleKernel, 1.0f);
    expectList(odd[0], {{2, 1.0f}}, "centre 2");
}

TEST(WeightLists, NoDestinationPixelsNoLists) {
    EXPECT_EQ(detail::buildWeightLists(0, 5, lanczos3Kernel, 3.0f).size(), 0);
}

// --- Whole bitmaps ---

Bitmap grayRow(const std::vector<int>& values) {
    Bitmap bitmap(static_cast<int>(values.size()), 1);
    for (std::size_t x = 0; x < values.size(); ++x) {
        const auto v = static_cast<std::uint8_t>(values[x]);
        bitmap.setColor(static_cast<int>(x), 0, Rgb{v, v, v});
    }
    return bitmap;
}

std::vector<int> grayValues(const Bitmap& bitmap, int y) {
    std::vector<int> values;
    for (int x = 0; x < bitmap.width(); ++x) {
        values.push_back(bitmap.color(x, y).green);
    }
    return values;
}

// Every test below runs on each path, which must all give the same bytes.
class Resample : public ::testing::TestWithParam<ResampleOptions> {
  protected:
    void resample(Bitmap& source, Bitmap& destination, const KernelEntry& entry) {
        resampleBitmap(source, destination, entry.function, entry.support, GetParam());
    }
    const KernelEntry& lanczos = kKernelTable[5];
    const KernelEntry& triangle = kKernelTable[1];
};

TEST_P(Resample, OnePixelSourceIsStretchedWithTheKernelCentredAtIOverWd) {
    Bitmap source = solidBitmap(1, 1, Rgb{200, 100, 12});
    Bitmap destination(4, 3);
    resample(source, destination, triangle);
    // Triangle weights at i/4 and i/4 − 1 sum to exactly 1.
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(destination.color(x, y), (Rgb{200, 100, 12})) << x << "," << y;
        }
    }
    // Lanczos3 at centre 1/2: 200 · 2·(L(0.5) + L(1.5) + L(2.5)) = 200 · 0.994299 = 198.86.
    Bitmap gray = solidBitmap(1, 1, Rgb{200, 200, 200});
    Bitmap wide(2, 1);
    resample(gray, wide, lanczos);
    EXPECT_EQ(grayValues(wide, 0), (std::vector<int>{200, 199}));
}

TEST_P(Resample, OneRowSourceGivesTheSameRowOnEveryDestinationRow) {
    Bitmap source = grayRow({10, 20, 30});
    Bitmap destination(3, 4);
    resample(source, destination, triangle);
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(grayValues(destination, y), (std::vector<int>{10, 20, 30})) << "row " << y;
    }
}

TEST_P(Resample, FourByFourToEightByEightKeepsTheCorners) {
    Bitmap source(4, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 4; ++x) {
            source.setColor(x, y,
                            Rgb{static_cast<std::uint8_t>(17 * x + 60 * y),
                                static_cast<std::uint8_t>(250 - 13 * x * y),
                                static_cast<std::uint8_t>(31 * (x + y) + 5)});
        }
    }
    const Bitmap original = source;
    Bitmap destination(8, 8);
    resample(source, destination, lanczos);
    // The corners are centred on the source corners; the other weights there are below 1e-7.
    EXPECT_EQ(destination.color(0, 0), original.color(0, 0));
    EXPECT_EQ(destination.color(7, 0), original.color(3, 0));
    EXPECT_EQ(destination.color(0, 7), original.color(0, 3));
    EXPECT_EQ(destination.color(7, 7), original.color(3, 3));
}

TEST_P(Resample, UniformLevelIsScaledByTheUnnormalisedWeightSum) {
    // 8 → 15 wide: s = 2, so column 7 is centred at 3.5 and its Lanczos3 weights sum to
    // 2·(0.607927 − 0.135095 + 0.024317) = 0.994299: 100 becomes 99.43 → 99.
    Bitmap source = solidBitmap(8, 1, Rgb{100, 100, 100});
    Bitmap destination(15, 1);
    resample(source, destination, lanczos);
    EXPECT_EQ(destination.color(0, 0).green, 100);
    EXPECT_EQ(destination.color(7, 0).green, 99);
}

TEST_P(Resample, SharpEdgeSaturatesAboveAndBelow) {
    Bitmap source = grayRow({0, 0, 0, 0, 255, 255, 255, 255});
    Bitmap destination(15, 1);
    resample(source, destination, lanczos);
    // Centre 2.5: 255·(L(1.5) + L(2.5)) = −28.2 → 0.
    EXPECT_EQ(destination.color(5, 0).green, 0);
    // Centre 3.5: 255·(L(0.5) + L(1.5) + L(2.5)) = 126.77 → 127.
    EXPECT_EQ(destination.color(7, 0).green, 127);
    // Centre 4.5: 255·(2·L(0.5) + L(1.5) + L(2.5)) = 281.8 → 255.
    EXPECT_EQ(destination.color(9, 0).green, 255);
}

TEST_P(Resample, TieBetweenTwoSourcePixelsRoundsToEven) {
    Bitmap source = grayRow({10, 11, 20, 3});
    Bitmap destination(1, 1);
    // One column from four: centre 1.5, weights 0.5 and 0.5: 15.5 → 16.
    resample(source, destination, triangle);
    EXPECT_EQ(destination.color(0, 0).green, 16);
    Bitmap other = grayRow({10, 10, 15, 3});
    resample(other, destination, triangle);  // 12.5 → 12
    EXPECT_EQ(destination.color(0, 0).green, 12);
}

TEST_P(Resample, OneRowFromATallerSourceSamplesTheCentreRow) {
    Bitmap source(2, 5);
    for (int y = 0; y < 5; ++y) {
        const auto v = static_cast<std::uint8_t>(40 * y + 7);
        source.setColor(0, y, Rgb{v, v, v});
        source.setColor(1, y, Rgb{v, 0, 255});
    }
    Bitmap destination(2, 1);
    resample(source, destination, triangle);
    EXPECT_EQ(destination.color(0, 0), (Rgb{87, 87, 87}));
    EXPECT_EQ(destination.color(1, 0), (Rgb{87, 0, 255}));
}

TEST_P(Resample, EmptyDestinationIsAcceptedAndLeftEmpty) {
    for (const auto& [width, height] : {std::pair{0, 5}, std::pair{5, 0}, std::pair{0, 0}}) {
        Bitmap source = solidBitmap(3, 3, Rgb{1, 2, 3});
        Bitmap destination(width, height);
        EXPECT_NO_THROW(resample(source, destination, lanczos));
        EXPECT_EQ(destination.width(), width);
        EXPECT_EQ(destination.height(), height);
        EXPECT_EQ(destination.format(), PixelFormat::Bits24);
    }
}

TEST_P(Resample, ConvertsBothBitmapsTo24BitsAndKeepsTheDestinationSize) {
    const std::vector<Rgb> palette = {Rgb{0, 0, 0}, Rgb{255, 255, 255}, Rgb{255, 0, 0}};
    Bitmap source(6, 4, PixelFormat::Bits8, palette);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            source.setIndex(x, y, 2);
        }
    }
    Bitmap destination(6, 4, PixelFormat::Bits1, {Rgb{0, 0, 0}, Rgb{255, 255, 255}});
    resample(source, destination, triangle);  // scale 1: Triangle copies
    EXPECT_EQ(source.format(), PixelFormat::Bits24);
    EXPECT_EQ(source.color(5, 3), (Rgb{255, 0, 0}));
    EXPECT_EQ(destination.format(), PixelFormat::Bits24);
    EXPECT_EQ(destination.width(), 6);
    EXPECT_EQ(destination.height(), 4);
    EXPECT_EQ(destination.color(1, 1), (Rgb{255, 0, 0}));
    EXPECT_EQ(destination.color(5, 3), (Rgb{255, 0, 0}));
}

TEST_P(Resample, SourceSmallerThanTheKernelReach) {
    Bitmap source = grayRow({0, 255});
    for (int width : {1, 2, 3, 7}) {
        Bitmap copy = source;
        Bitmap destination(width, 3);
        EXPECT_NO_THROW(resample(copy, destination, lanczos)) << width;
    }
    Bitmap tall(3, 2);
    Bitmap destination(2, 2);
    EXPECT_NO_THROW(resample(tall, destination, lanczos));
}

TEST_P(Resample, SourceTooSmallFailsAndLeavesTheDestinationUntouched) {
    for (const auto& [width, height] : {std::pair{0, 3}, std::pair{3, 0}, std::pair{0, 0}}) {
        Bitmap source(width, height);
        Bitmap destination(2, 2, PixelFormat::Bits8, {Rgb{1, 2, 3}, Rgb{4, 5, 6}});
        destination.setIndex(1, 1, 1);
        const Bitmap before = destination;
        try {
            resample(source, destination, lanczos);
            ADD_FAILURE() << "no error for " << width << " x " << height;
        } catch (const Error& error) {
            EXPECT_STREQ(error.what(), "Source bitmap too small");
        }
        EXPECT_EQ(destination, before);
    }
}

TEST_P(Resample, RefusesAMissingKernelOrAnAbsurdSupport) {
    Bitmap source(3, 3);
    Bitmap destination(2, 2, PixelFormat::Bits8, {Rgb{1, 2, 3}});
    const Bitmap before = destination;
    EXPECT_THROW(resampleBitmap(source, destination, nullptr, 3.0f, GetParam()), Error);
    for (float support : {std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(), -1.0f, 1e9f}) {
        EXPECT_THROW(resampleBitmap(source, destination, lanczos3Kernel, support, GetParam()),
                     Error)
            << support;
    }
    EXPECT_EQ(destination, before);
}

TEST_P(Resample, SourceAndDestinationMayBeTheSameBitmap) {
    Bitmap bitmap = grayRow({10, 20, 30, 40});
    resample(bitmap, bitmap, triangle);
    EXPECT_EQ(grayValues(bitmap, 0), (std::vector<int>{10, 20, 30, 40}));
}

std::string pathName(const ::testing::TestParamInfo<ResampleOptions>& param) {
    const char* const pathNames[] = {"Automatic", "Portable", "Reference"};
    return std::string(pathNames[static_cast<int>(param.param.path)]) + "Threads" +
           std::to_string(param.param.threads);
}

INSTANTIATE_TEST_SUITE_P(Paths, Resample,
                         ::testing::Values(ResampleOptions{ResamplePath::Reference, 1},
                                           ResampleOptions{ResamplePath::Portable, 1},
                                           ResampleOptions{ResamplePath::Automatic, 1},
                                           ResampleOptions{ResamplePath::Automatic, 2}),
                         pathName);

}  // namespace
}  // namespace tz
