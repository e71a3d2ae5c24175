// The fast resampling paths against the plain extended-precision algorithm: byte for byte on
// random pictures, and sum for sum on millions of random weight lists.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "resample/arithmetic.h"
#include "resample/kernels.h"
#include "resample/passes.h"
#include "resample/weight_lists.h"
#include "tz/bitmap.h"
#include "tz/errors.h"
#include "tz/resample.h"

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
// values so small that sums need more than a double's or an extended value's significand, and
// a few below 2^-100.
float randomWeight(std::mt19937& random) {
    std::uniform_int_distribution<int> shape(0, 9);
    std::uniform_real_distribution<float> kernelLike(-0.3f, 1.2f);
    std::uniform_real_distribution<double> mantissa(1.0, 2.0);
    std::uniform_int_distribution<int> smallExponent(-110, 2);
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

std::vector<ResampleOptions> fastPaths();

// --- Sums: the exactness argument checked directly ---

float sumExtended(const std::vector<WeightPair>& pairs, const std::vector<std::uint8_t>& values) {
    float sum = 0.0f;
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        sum = detail::accumulate(sum, values[t], pairs[t].weight);
    }
    return sum;
}

float sumDouble(const std::vector<WeightPair>& pairs, const std::vector<std::uint8_t>& values) {
    float sum = 0.0f;
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        sum = static_cast<float>(static_cast<double>(values[t]) * pairs[t].weight + sum);
    }
    return sum;
}

float sumFused(const std::vector<WeightPair>& pairs, const std::vector<std::uint8_t>& values) {
    float sum = 0.0f;
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        sum = std::fma(static_cast<float>(values[t]), pairs[t].weight, sum);
    }
    return sum;
}

// Whether a double lies exactly halfway between the two singles around it.
bool halfwayBetweenSingles(double value) {
    const float nearest = static_cast<float>(value);
    if (static_cast<double>(nearest) == value || !std::isfinite(nearest)) {
        return false;
    }
    const float other =
        std::nextafter(nearest, value > nearest ? std::numeric_limits<float>::infinity()
                                                : -std::numeric_limits<float>::infinity());
    return 2.0 * value == static_cast<double>(nearest) + static_cast<double>(other);
}

// Double steps, a step whose double sum is halfway between singles redone in extended
// precision. Counts those steps.
float sumChecked(const std::vector<WeightPair>& pairs, const std::vector<std::uint8_t>& values,
                 long& redone) {
    float sum = 0.0f;
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        const double inDouble = static_cast<double>(values[t]) * pairs[t].weight + sum;
        if (halfwayBetweenSingles(inDouble)) {
            ++redone;
            sum = detail::accumulate(sum, values[t], pairs[t].weight);
        } else {
            sum = static_cast<float>(inDouble);
        }
    }
    return sum;
}

TEST(ExactArithmetic, FastSumsEqualExtendedSumsWhereverTheListAllowsThem) {
    std::mt19937 random(20161);
    std::uniform_int_distribution<int> length(1, 24);
    std::uniform_int_distribution<int> byte(0, 255);
    long steps = 0;
    long kinds[4] = {};
    long fusedDiffering = 0;
    long redone = 0;
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
        const ExactIn kind = detail::exactArithmetic(pairs);
        ++kinds[static_cast<int>(kind)];
        switch (kind) {
            case ExactIn::Double:
                ASSERT_EQ(std::bit_cast<std::uint32_t>(sumDouble(pairs, values)), extended);
                ASSERT_EQ(fused, extended);
                break;
            case ExactIn::Extended:
                ASSERT_EQ(fused, extended);
                break;
            case ExactIn::DoubleUnlessMidpoint:
                ASSERT_EQ(std::bit_cast<std::uint32_t>(sumChecked(pairs, values, redone)),
                          extended);
                fusedDiffering += fused != extended ? 1 : 0;
                break;
            case ExactIn::Nothing:
                break;
        }
    }
    // Every kind of list occurs, and the lists kept from the fused steps really need it.
    EXPECT_GT(kinds[0], 10'000);
    EXPECT_GT(kinds[1], 1'000);
    EXPECT_GT(kinds[2], 1'000);
    EXPECT_GT(kinds[3], 1'000);
    EXPECT_GT(fusedDiffering, 0);
}

TEST(ExactArithmetic, SumLandingNearAMidpointIsLeftToExtendedPrecision) {
    // 3 · 5592407·2^-24 = 1 + 5·2^-24 lies halfway between the singles 1 + 2·2^-23 and
    // 1 + 3·2^-23. Added to 2^-80, the exact sum lies just above that midpoint and rounds up
    // when rounded once; its extended value is the midpoint itself, which ties to the even
    // 1 + 2·2^-23.
    const std::vector<WeightPair> pairs = {{0, 0x1p-80f}, {0, 5592407 * 0x1p-24f}};
    const std::vector<std::uint8_t> values = {1, 3};
    EXPECT_EQ(sumExtended(pairs, values), 1.0f + 2 * 0x1p-23f);
    EXPECT_EQ(sumFused(pairs, values), 1.0f + 3 * 0x1p-23f);
    EXPECT_EQ(detail::exactArithmetic(pairs), ExactIn::DoubleUnlessMidpoint);
    long redone = 0;
    EXPECT_EQ(sumChecked(pairs, values, redone), 1.0f + 2 * 0x1p-23f);
    EXPECT_EQ(redone, 1);
    EXPECT_EQ(detail::accumulate(0x1p-80f, 3, pairs[1].weight), 1.0f + 2 * 0x1p-23f);

    // Units down to 2^-47 and sums below 510·(1 + 2^-24) < 2^10, so k < 2^57: beyond a
    // double's significand but inside an extended one.
    EXPECT_EQ(detail::exactArithmetic(std::vector<WeightPair>{{0, 1.0f}, {0, 0x1p-24f}}),
              ExactIn::Extended);
    // Units down to 2^-33: k < 2^43 fits a double.
    EXPECT_EQ(detail::exactArithmetic(std::vector<WeightPair>{{0, 1.0f}, {0, 0x1p-10f}}),
              ExactIn::Double);
    // A weight below 2^-100 leaves only extended precision.
    EXPECT_EQ(detail::exactArithmetic(std::vector<WeightPair>{{0, 1.0f}, {0, 0x1p-101f}}),
              ExactIn::Nothing);
}

TEST(ExactArithmetic, InexactMidpointIsRedoneInExtendedPrecisionOnEveryPath) {
    // 3 · 6990507·2^-23 = 2.5 + 2^-23, the midpoint between the singles 2.5 and 2.5 + 2^-22.
    // After a sum of 2^-80 the extended value ties to 2.5, giving byte 2; rounding the exact
    // sum once would give 2.5 + 2^-22 and byte 3.
    const std::vector<WeightPair> pairs = {{0, 0x1p-80f}, {1, 6990507 * 0x1p-23f}};
    ASSERT_EQ(sumExtended(pairs, {1, 3}), 2.5f);
    ASSERT_EQ(sumFused(pairs, {1, 3}), 2.5f + 0x1p-22f);

    // Horizontally: a two-pixel source row [1, 3] and 70 columns with that list.
    detail::WeightLists across;
    detail::WeightLists identity;
    for (int i = 0; i < 70; ++i) {
        for (const WeightPair& pair : pairs) {
            across.append(pair);
        }
        across.endList();
    }
    identity.append({0, 1.0f});
    identity.endList();
    Bitmap row(2, 1);
    row.setColor(0, 0, Rgb{1, 1, 1});
    row.setColor(1, 0, Rgb{3, 3, 3});
    // Vertically: rows of 1s and 3s, 70 pixels wide (210 bytes: spans of 8 and a tail).
    Bitmap column(70, 2);
    std::fill(column.row(0), column.row(0) + column.stride(), std::uint8_t{1});
    std::fill(column.row(1), column.row(1) + column.stride(), std::uint8_t{3});
    detail::WeightLists down;
    for (const WeightPair& pair : pairs) {
        down.append(pair);
    }
    down.endList();
    detail::WeightLists identities;
    for (int i = 0; i < 70; ++i) {
        identities.append({i, 1.0f});
        identities.endList();
    }

    std::vector<ResampleOptions> paths = fastPaths();
    paths.push_back({ResamplePath::Reference, 1});
    for (const ResampleOptions& options : paths) {
        Bitmap wide(70, 1);
        detail::resampleWithLists(row, wide, across, identity, options);
        Bitmap flat(70, 1);
        detail::resampleWithLists(column, flat, identities, down, options);
        for (std::size_t p = 0; p < wide.stride(); ++p) {
            ASSERT_EQ(wide.row(0)[p], 2)
                << "horizontal byte " << p << ", path " << static_cast<int>(options.path);
            ASSERT_EQ(flat.row(0)[p], 2)
                << "vertical byte " << p << ", path " << static_cast<int>(options.path);
        }
    }
}

TEST(FastPasses, ListsThatDoNotFitTheBitmapsAreRefused) {
    detail::WeightLists inside;
    inside.append({1, 1.0f});
    inside.endList();
    detail::WeightLists outside;
    outside.append({2, 1.0f});
    outside.endList();
    const Bitmap source(2, 2);
    for (const ResampleOptions& options : {ResampleOptions{ResamplePath::Reference, 1},
                                           ResampleOptions{ResamplePath::Automatic, 1}}) {
        Bitmap destination(1, 1);
        EXPECT_NO_THROW(detail::resampleWithLists(source, destination, inside, inside, options));
        EXPECT_THROW(detail::resampleWithLists(source, destination, outside, inside, options),
                     Error);
        EXPECT_THROW(detail::resampleWithLists(source, destination, inside, outside, options),
                     Error);
        Bitmap wrongSize(2, 1);
        EXPECT_THROW(detail::resampleWithLists(source, wrongSize, inside, inside, options), Error);
    }
}

TEST(WeightListsInThreads, AreTheListsOfOneThread) {
    for (const KernelEntry& entry : kKernelTable) {
        for (const auto& [destination, source] :
             {std::pair{1024, 4000}, std::pair{1600, 640}, std::pair{3, 5000}}) {
            const auto one =
                detail::buildWeightLists(destination, source, entry.function, entry.support, 1);
            const auto three =
                detail::buildWeightLists(destination, source, entry.function, entry.support, 3);
            ASSERT_EQ(one.size(), three.size());
            ASSERT_EQ(one.pairCount(), three.pairCount());
            for (int i = 0; i < one.size(); ++i) {
                ASSERT_EQ(one[i].size(), three[i].size()) << entry.name << " list " << i;
                ASSERT_EQ(one.exactIn(i), three.exactIn(i)) << entry.name << " list " << i;
                for (std::size_t t = 0; t < one[i].size(); ++t) {
                    ASSERT_EQ(one[i][t].sourceIndex, three[i][t].sourceIndex);
                    ASSERT_EQ(one[i][t].weight, three[i][t].weight);
                }
            }
        }
    }
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
    return std::string(entry.name) + " " + std::to_string(source.width()) + "x" +
           std::to_string(source.height()) + " -> " + std::to_string(width) + "x" +
           std::to_string(height) + " path " + std::to_string(static_cast<int>(options.path)) +
           " threads " + std::to_string(options.threads);
}

// A picture's rows handed out as a decoder hands them out: copied into the reader's own buffer,
// which the next call overwrites, from any starting row. It checks that readers keep to the
// contract, and can be told to fail at a row.
class DecoderLikeRows final : public RowSource {
  public:
    DecoderLikeRows(const Bitmap& bitmap, double skipCost) : m_bitmap(bitmap), m_skip(skipCost) {}

    int width() const override { return m_bitmap.width(); }
    int height() const override { return m_bitmap.height(); }
    double skipCost() const override { return m_skip; }
    std::unique_ptr<RowReader> readerFrom(int first) override {
        EXPECT_GE(first, 0);
        EXPECT_LT(first, height());
        ++m_readers;
        return std::make_unique<Reader>(*this, first);
    }

    // Reading `row` throws "row N is damaged", after `delay`.
    void failAt(int row, std::chrono::milliseconds delay = {}) { m_failures[row] = delay; }
    int readers() const { return m_readers; }
    std::int64_t rowsRead() const { return m_rowsRead; }

  private:
    class Reader final : public RowReader {
      public:
        Reader(DecoderLikeRows& rows, int first) : m_rows(rows), m_next(first) {}
        std::span<const std::uint8_t* const> nextRows(int count) override {
            EXPECT_GE(count, 1);
            EXPECT_LE(m_next + count, m_rows.height()) << "read past the end";
            const std::size_t stride = m_rows.m_bitmap.stride();
            // Stale rows from the last call must not be used: overwrite them first.
            std::fill(m_buffer.begin(), m_buffer.end(), std::uint8_t{0xA5});
            m_buffer.resize(stride * static_cast<std::size_t>(count));
            m_pointers.clear();
            for (int r = 0; r < count; ++r, ++m_next) {
                if (const auto failure = m_rows.m_failures.find(m_next);
                    failure != m_rows.m_failures.end()) {
                    std::this_thread::sleep_for(failure->second);
                    throw Error("row " + std::to_string(m_next) + " is damaged");
                }
                std::uint8_t* row = m_buffer.data() + stride * static_cast<std::size_t>(r);
                std::copy_n(m_rows.m_bitmap.row(m_next), stride, row);
                m_pointers.push_back(row);
            }
            m_rows.m_rowsRead += count;
            return m_pointers;
        }

      private:
        DecoderLikeRows& m_rows;
        int m_next;
        std::vector<std::uint8_t> m_buffer;
        std::vector<const std::uint8_t*> m_pointers;
    };

    const Bitmap& m_bitmap;
    double m_skip;
    std::map<int, std::chrono::milliseconds> m_failures;
    std::atomic<int> m_readers{0};
    std::atomic<std::int64_t> m_rowsRead{0};
};

// The number of bytes that differ, and the first of them reported.
void expectSameBytes(const Bitmap& actual, const Bitmap& expected, const std::string& what) {
    const auto want = expected.pixels();
    const auto got = actual.pixels();
    ASSERT_EQ(want.size(), got.size());
    for (std::size_t p = 0; p < want.size(); ++p) {
        ASSERT_EQ(got[p], want[p])
            << what << ", byte " << p << " (row " << p / expected.stride() << ")";
    }
}

// Every fast path gives the reference's bytes, from the whole bitmap and from its rows read as
// a decoder gives them, read from any row for free, at a cost, or only from the top.
void expectSameAsReference(const KernelEntry& entry, const Bitmap& source, int width, int height) {
    Bitmap referenceSource = source;
    Bitmap expected(width, height);
    resampleBitmapReference(referenceSource, expected, entry.function, entry.support);
    for (const ResampleOptions& options : fastPaths()) {
        for (const double skipCost : {0.0, 0.4, 1.5}) {
            DecoderLikeRows rows(source, skipCost);
            Bitmap actual(width, height);
            resampleRows(rows, actual, entry.function, entry.support, options);
            expectSameBytes(actual, expected,
                            describe(entry, source, width, height, options) + " from rows, skip " +
                                std::to_string(skipCost));
        }
        Bitmap copy = source;
        Bitmap actual(width, height);
        resampleBitmap(copy, actual, entry.function, entry.support, options);
        expectSameBytes(actual, expected, describe(entry, source, width, height, options));
    }
}

class FastPaths : public ::testing::TestWithParam<std::size_t> {
  protected:
    const KernelEntry& entry() const { return kKernelTable[GetParam()]; }
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
    std::string name = kKernelTable[param.param].name;
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
    int kinds[4] = {};
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

        for (int i = 0; i < vertical.size(); ++i) {
            ++kinds[static_cast<int>(vertical.exactIn(i))];
        }
        Bitmap expected(width, height + 5);
        detail::resampleWithLists(source, expected, horizontal, vertical,
                                  {ResamplePath::Reference, 1});
        for (const ResampleOptions& options : fastPaths()) {
            Bitmap destination(width, height + 5);
            detail::resampleWithLists(source, destination, horizontal, vertical, options);
            ASSERT_EQ(destination, expected)
                << "round " << round << ", path " << static_cast<int>(options.path) << ", threads "
                << options.threads;
        }
    }
    for (int kind = 0; kind < 4; ++kind) {
        EXPECT_GT(kinds[kind], 0) << "lists of kind " << kind;
    }
}

// --- Rows read as they are needed ---

// One thread reads each row once, top to bottom; two threads read about the picture once more
// only where their bands' reaches overlap, and a source whose readers must decode everything
// before their first row gets one reader. The bytes are the same every time.
TEST(StreamedPasses, ReadEachRowOnceBandByBand) {
    std::mt19937 random(5);
    const Bitmap source = randomBitmap(300, 800, random, Content::Smooth);
    const KernelEntry& lanczos = kKernelTable[kLanczos3Index];
    Bitmap expected(90, 240);
    Bitmap whole = source;
    resampleBitmap(whole, expected, lanczos.function, lanczos.support, {ResamplePath::Portable, 1});

    DecoderLikeRows single(source, 0.4);
    Bitmap actual(90, 240);
    resampleRows(single, actual, lanczos.function, lanczos.support, {ResamplePath::Automatic, 1});
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(single.readers(), 1);
    EXPECT_EQ(single.rowsRead(), 800);

    DecoderLikeRows split(source, 0.4);
    resampleRows(split, actual, lanczos.function, lanczos.support, {ResamplePath::Automatic, 2});
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(split.readers(), 2);
    // Lanczos3 at 0.3 reaches 10 rows each way: the bands share at most 3 blocks of 8.
    EXPECT_GE(split.rowsRead(), 800);
    EXPECT_LE(split.rowsRead(), 800 + 3 * 8);

    DecoderLikeRows fromTheTop(source, 1.0);
    resampleRows(fromTheTop, actual, lanczos.function, lanczos.support,
                 {ResamplePath::Automatic, 2});
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(fromTheTop.readers(), 1);
}

// A reader's failure is passed on, also from a reader reading ahead on its own thread; when rows
// fail in several bands, the one met first in row order is, even when a later band fails
// sooner, as reading the rows in order would have it.
TEST(StreamedPasses, TheFirstFailingRowInOrderIsReported) {
    std::mt19937 random(6);
    const Bitmap source = randomBitmap(40, 400, random, Content::Noise);
    const KernelEntry& lanczos = kKernelTable[kLanczos3Index];
    for (const auto& [threads, skipCost] :
         {std::pair{1, 0.0}, std::pair{2, 0.0}, std::pair{3, 0.0}, std::pair{2, 1.5}}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, skip cost " + std::to_string(skipCost));
        DecoderLikeRows rows(source, skipCost);
        rows.failAt(350);
        rows.failAt(20, std::chrono::milliseconds(50));
        Bitmap destination(20, 200);
        try {
            resampleRows(rows, destination, lanczos.function, lanczos.support,
                         {ResamplePath::Automatic, threads});
            ADD_FAILURE() << "no error";
        } catch (const Error& error) {
            EXPECT_STREQ(error.what(), "row 20 is damaged");
        }
    }
}

}  // namespace
}  // namespace tz
