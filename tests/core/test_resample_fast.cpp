// The fast resampling paths against the plain extended-precision algorithm: byte for byte on
// random pictures, and sum for sum on millions of random weight lists.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tz/bitmap.h"
#include "tz/resample.h"
#include "tz/resample_detail.h"

namespace tz {
namespace {

using detail::ExactIn;
using detail::WeightPair;

// --- Random inputs ---

enum class Content { Noise, Edges, Smooth };

Bitmap randomBitmap(int width, int height, std::mt19937& random, Content content) {
    Bitmap bitmap(width, height);
    std::uniform_int_distribution<int> byte(0, 255);
    std::bernoulli_distribution coin(0.5);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.row(y);
        for (std::size_t p = 0; p < bitmap.stride(); ++p) {
            switch (content) {
                case Content::Noise:
                    row[p] = static_cast<std::uint8_t>(byte(random));
                    break;
                case Content::Edges:
                    row[p] = coin(random) ? 255 : 0;
                    break;
                case Content::Smooth:
                    row[p] =
                        static_cast<std::uint8_t>((p * 7 + static_cast<std::size_t>(y) * 5 +
                                                   static_cast<std::size_t>(byte(random) % 9)) %
                                                  256);
                    break;
            }
        }
    }
    return bitmap;
}

// A weight drawn from a mix of shapes: kernel-like values, values spread over many binades,
// and values so small that sums need more than a double's or an extended value's significand.
float randomWeight(std::mt19937& random) {
    std::uniform_int_distribution<int> shape(0, 9);
    std::uniform_real_distribution<float> kernelLike(-0.3f, 1.2f);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    std::uniform_int_distribution<int> smallExponent(-70, 2);
    std::bernoulli_distribution negative(0.3);
    float weight = 0.0f;
    do {
        const int kind = shape(random);
        if (kind < 6) {
            weight = kernelLike(random);
        } else {
            const double magnitude = std::ldexp(mantissa(random), smallExponent(random));
            weight = static_cast<float>(negative(random) ? -magnitude : magnitude);
        }
    } while (weight == 0.0f);
    return weight;
}

// --- Sums: the exactness argument checked directly ---

float sumExtended(const std::vector<WeightPair>& pairs, const std::vector<std::uint8_t>& values) {
    float sum = 0.0f;
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        sum = detail::accumulate(sum, values[t], pairs[t].Weight);
    }
    return sum;
}

float sumDouble(const std::vector<WeightPair>& pairs, const std::vector<std::uint8_t>& values) {
    float sum = 0.0f;
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        sum = static_cast<float>(static_cast<double>(values[t]) * pairs[t].Weight + sum);
    }
    return sum;
}

float sumFused(const std::vector<WeightPair>& pairs, const std::vector<std::uint8_t>& values) {
    float sum = 0.0f;
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        sum = std::fma(static_cast<float>(values[t]), pairs[t].Weight, sum);
    }
    return sum;
}

TEST(ExactArithmetic, FastSumsEqualExtendedSumsWhereverTheListAllowsThem) {
    std::mt19937 random(20161);
    std::uniform_int_distribution<int> length(1, 24);
    std::uniform_int_distribution<int> byte(0, 255);
    long steps = 0;
    long checkedDouble = 0;
    long checkedFused = 0;
    long unguarded = 0;
    long unguardedDiffering = 0;
    std::vector<WeightPair> pairs;
    std::vector<std::uint8_t> values;
    while (steps < 4'000'000) {
        pairs.resize(static_cast<std::size_t>(length(random)));
        values.resize(pairs.size());
        for (std::size_t t = 0; t < pairs.size(); ++t) {
            pairs[t] = WeightPair{0, randomWeight(random)};
            values[t] = static_cast<std::uint8_t>(byte(random));
        }
        steps += static_cast<long>(pairs.size());
        const auto extended = std::bit_cast<std::uint32_t>(sumExtended(pairs, values));
        const auto fused = std::bit_cast<std::uint32_t>(sumFused(pairs, values));
        switch (detail::exactArithmetic(pairs)) {
            case ExactIn::Double:
                ++checkedDouble;
                ASSERT_EQ(std::bit_cast<std::uint32_t>(sumDouble(pairs, values)), extended);
                ASSERT_EQ(fused, extended);
                break;
            case ExactIn::Extended:
                ++checkedFused;
                ASSERT_EQ(fused, extended);
                break;
            case ExactIn::Nothing:
                ++unguarded;
                unguardedDiffering += fused != extended ? 1 : 0;
                break;
        }
    }
    // Every kind of list occurs, and the lists left to extended precision really need it.
    EXPECT_GT(checkedDouble, 10'000);
    EXPECT_GT(checkedFused, 1'000);
    EXPECT_GT(unguarded, 1'000);
    EXPECT_GT(unguardedDiffering, 0);
}

TEST(ExactArithmetic, SumLandingNearAMidpointIsLeftToExtendedPrecision) {
    // 1 + 2^-24 + 2^-70: the exact sum lies just above the midpoint between 1 and its upper
    // neighbour, so one rounding gives 1 + 2^-23; the extended value is the midpoint itself and
    // its rounding ties to 1.
    const std::vector<WeightPair> pairs = {{0, 1.0f}, {0, 0x1p-24f}, {0, 0x1p-70f}};
    const std::vector<std::uint8_t> values = {1, 1, 1};
    EXPECT_EQ(sumExtended(pairs, values), 1.0f);
    EXPECT_EQ(detail::exactArithmetic(pairs), ExactIn::Nothing);
    // Without the last weight: units down to 2^-47, sums below 510·(1 + 2^-24) < 2^10, so
    // k < 2^57: beyond a double's significand but inside an extended one.
    EXPECT_EQ(detail::exactArithmetic(std::vector<WeightPair>{{0, 1.0f}, {0, 0x1p-24f}}),
              ExactIn::Extended);
    // Units down to 2^-33: k < 2^43 fits a double.
    EXPECT_EQ(detail::exactArithmetic(std::vector<WeightPair>{{0, 1.0f}, {0, 0x1p-10f}}),
              ExactIn::Double);
}

// --- Whole pictures ---

std::vector<ResampleOptions> fastPaths() {
    std::vector<ResampleOptions> paths = {{ResamplePath::Portable, 1}, {ResamplePath::Portable, 2}};
    if (detail::vectorPathAvailable()) {
        paths.push_back({ResamplePath::Automatic, 1});
        paths.push_back({ResamplePath::Automatic, 2});
        paths.push_back({ResamplePath::Automatic, 3});
    }
    return paths;
}

std::string describe(const KernelEntry& entry, const Bitmap& source, int width, int height,
                     const ResampleOptions& options) {
    return std::string(entry.Name) + " " + std::to_string(source.width()) + "x" +
           std::to_string(source.height()) + " -> " + std::to_string(width) + "x" +
           std::to_string(height) + " path " + std::to_string(static_cast<int>(options.path)) +
           " threads " + std::to_string(options.threads);
}

// The number of bytes that differ, and the first of them reported.
void expectSameAsReference(const KernelEntry& entry, const Bitmap& source, int width, int height) {
    Bitmap referenceSource = source;
    Bitmap expected(width, height);
    ResampleBitmapReference(referenceSource, expected, entry.Kernel, entry.Support);
    for (const ResampleOptions& options : fastPaths()) {
        Bitmap copy = source;
        Bitmap actual(width, height);
        ResampleBitmap(copy, actual, entry.Kernel, entry.Support, options);
        const auto want = expected.pixels();
        const auto got = actual.pixels();
        ASSERT_EQ(want.size(), got.size());
        for (std::size_t p = 0; p < want.size(); ++p) {
            ASSERT_EQ(got[p], want[p])
                << describe(entry, source, width, height, options) << ", byte " << p << " (row "
                << p / expected.stride() << ")";
        }
    }
}

class FastPaths : public ::testing::TestWithParam<std::size_t> {
  protected:
    const KernelEntry& entry() const { return KernelTable[GetParam()]; }
};

TEST_P(FastPaths, SmallPicturesMatchTheReference) {
    std::mt19937 random(static_cast<unsigned>(1000 + GetParam()));
    std::uniform_int_distribution<int> extent(1, 40);
    for (int round = 0; round < 60; ++round) {
        const auto content = static_cast<Content>(round % 3);
        const Bitmap source = randomBitmap(extent(random), extent(random), random, content);
        expectSameAsReference(entry(), source, extent(random), extent(random));
    }
}

TEST_P(FastPaths, ShrinkingAndEnlargingLargerPicturesMatchTheReference) {
    std::mt19937 random(static_cast<unsigned>(2000 + GetParam()));
    struct Case {
        int sourceWidth, sourceHeight, width, height;
    };
    for (const Case& c : {Case{301, 203, 97, 61}, Case{64, 48, 257, 193}, Case{400, 9, 3, 100},
                          Case{7, 300, 120, 2}, Case{129, 130, 128, 131}}) {
        const Bitmap source = randomBitmap(c.sourceWidth, c.sourceHeight, random, Content::Noise);
        expectSameAsReference(entry(), source, c.width, c.height);
    }
}

std::string kernelName(const ::testing::TestParamInfo<std::size_t>& param) {
    std::string name = KernelTable[param.param].Name;
    std::erase(name, '-');
    return name;
}

INSTANTIATE_TEST_SUITE_P(Kernels, FastPaths, ::testing::Range<std::size_t>(0, 7), kernelName);

// --- The passes on their own with hostile weight lists ---

// Lists of every kind and length (empty ones too) over random source indices.
detail::WeightLists randomLists(int count, int sourceExtent, std::mt19937& random) {
    std::uniform_int_distribution<int> length(0, 30);
    std::uniform_int_distribution<int> index(0, sourceExtent - 1);
    detail::WeightLists lists;
    lists.reserve(static_cast<std::size_t>(count), static_cast<std::size_t>(count) * 30);
    for (int i = 0; i < count; ++i) {
        const int pairs = length(random);
        for (int t = 0; t < pairs; ++t) {
            lists.append({index(random), randomWeight(random)});
        }
        lists.endList();
    }
    return lists;
}

TEST(FastPasses, HostileWeightListsMatchTheReference) {
    std::mt19937 random(77);
    int kinds[3] = {};
    for (int round = 0; round < 6; ++round) {
        const int sourceWidth = 5 + 31 * round;
        const int height = 3 + 11 * round;
        const int width = 70 - 9 * round;
        const Bitmap source = randomBitmap(sourceWidth, height, random, Content::Noise);
        const auto horizontal = randomLists(width, sourceWidth, random);
        const auto vertical = randomLists(height + 5, height, random);
        for (int i = 0; i < horizontal.size(); ++i) {
            ++kinds[static_cast<int>(horizontal.exactIn(i))];
        }

        Bitmap expectedWork(width, height);
        detail::horizontalPass(source, expectedWork, horizontal, {ResamplePath::Reference, 1});
        Bitmap expected(width, height + 5);
        detail::verticalPass(expectedWork, expected, vertical, {ResamplePath::Reference, 1});

        for (const ResampleOptions& options : fastPaths()) {
            Bitmap work(width, height);
            detail::horizontalPass(source, work, horizontal, options);
            ASSERT_EQ(work, expectedWork)
                << "horizontal, round " << round << ", path " << static_cast<int>(options.path);
            Bitmap destination(width, height + 5);
            detail::verticalPass(expectedWork, destination, vertical, options);
            ASSERT_EQ(destination, expected)
                << "vertical, round " << round << ", path " << static_cast<int>(options.path);
        }
    }
    EXPECT_GT(kinds[0], 0);
    EXPECT_GT(kinds[1], 0);
    EXPECT_GT(kinds[2], 0);
}

}  // namespace
}  // namespace tz
