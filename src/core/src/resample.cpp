// The resampler: kernels, weight lists, the extended-precision reference passes, the portable
// fast passes and the dispatch between them and the vector passes.
#include "tz/resample.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdint>
#include <exception>
#include <numbers>
#include <thread>
#include <vector>

#include "resample_internal.h"
#include "tz/errors.h"
#include "tz/numeric.h"
#include "tz/resample_detail.h"

namespace tz {

namespace {

// The constants are the nearest extended-precision values; the hexadecimal forms pin them.
constexpr long double kPi = std::numbers::pi_v<long double>;
constexpr long double kTwoThirds = 2.0L / 3.0L;
constexpr long double kOneSixth = 1.0L / 6.0L;
constexpr long double kSixteenThirds = 16.0L / 3.0L;
constexpr long double kMinusSevenThirds = -7.0L / 3.0L;
constexpr long double kThirtyTwoThirds = 32.0L / 3.0L;
static_assert(kPi == 0xC.90FDAA22168C235p-2L);
static_assert(kTwoThirds == 0xA.AAAAAAAAAAAAAABp-4L);
static_assert(kOneSixth == 0xA.AAAAAAAAAAAAAABp-6L);
static_assert(kSixteenThirds == 0xA.AAAAAAAAAAAAAABp-1L);
static_assert(kMinusSevenThirds == -0x9.555555555555555p-2L);
static_assert(kThirtyTwoThirds == 0xA.AAAAAAAAAAAAAABp+0L);

// |x| of a single is exact, so "absolute value stored as single" is just fabs.
float magnitude(float x) {
    return std::fabs(x);
}

}  // namespace

float boxKernel(float x) {
    return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
}

float triangleKernel(float x) {
    const float a = magnitude(x);
    return a < 1.0f ? toSingle(1.0L - a) : 0.0f;
}

float hermiteKernel(float x) {
    const float a = magnitude(x);
    if (a >= 1.0f) {
        return 0.0f;
    }
    const long double square = static_cast<long double>(a) * a;
    return toSingle((2.0L * a - 3.0L) * square + 1.0L);
}

float bellKernel(float x) {
    const float a = magnitude(x);
    if (a < 0.5f) {
        return toSingle(0.75L - static_cast<long double>(a) * a);
    }
    if (a < 1.5f) {
        const float t = toSingle(a - 1.5L);
        return toSingle(static_cast<long double>(t) * t * 0.5L);
    }
    return 0.0f;
}

float bSplineKernel(float x) {
    const float a = magnitude(x);
    if (a < 1.0f) {
        const float tt = toSingle(static_cast<long double>(a) * a);
        return toSingle((0.5L * tt * a - tt) + kTwoThirds);
    }
    if (a < 2.0f) {
        const float t = toSingle(2.0L - a);
        return toSingle((static_cast<long double>(t) * t * kOneSixth) * t);
    }
    return 0.0f;
}

float lanczos3Kernel(float x) {
    const float a = magnitude(x);
    if (a >= 3.0f) {
        return 0.0f;
    }
    const float s = detail::fastSinc(a);
    return toSingle(static_cast<long double>(detail::fastSinc(toSingle(a / 3.0L))) * s);
}

float mitchellKernel(float x) {
    const float a = magnitude(x);
    const float tt = toSingle(static_cast<long double>(a) * a);
    if (a < 1.0f) {
        const float p =
            toSingle(((static_cast<long double>(a) * tt) * 7.0L + (-12.0L) * tt) + kSixteenThirds);
        return toSingle(p / 6.0L);
    }
    if (a < 2.0f) {
        const float p = toSingle(
            (((static_cast<long double>(a) * tt) * kMinusSevenThirds + 12.0L * tt) + (-20.0L) * a) +
            kThirtyTwoThirds);
        return toSingle(p / 6.0L);
    }
    return 0.0f;
}

float sinc(float x) {
    if (x == 0.0f) {
        return 1.0f;
    }
    const float u = toSingle(kPi * x);
    return toSingle(std::sin(static_cast<long double>(u)) / u);
}

namespace detail {

namespace {

// π in three parts: k·kPiHigh and k·kPiMiddle are exact for k ≤ 3 (40 significant bits each),
// and the three add up to π within 2⁻¹⁴⁶.
constexpr long double kPiHigh = 0xc90fdaa221p-38L;
constexpr long double kPiMiddle = 0xd18469898dp-79L;
constexpr long double kPiLow = -0xeba3f91f1976b7eep-145L;

// The coefficients (−1)ᵐ⁺¹/(2m + 3)! of the sine's series after its first term, to r²⁷.
constexpr std::array<long double, 13> kSineSeries = [] {
    std::array<long double, 13> coefficients{};
    long double factorial = 1.0L;
    for (int n = 2, m = 0; m < 13; ++n) {
        factorial *= n;
        if (n % 2 == 1) {
            coefficients[static_cast<std::size_t>(m)] = (m % 2 == 0 ? -1.0L : 1.0L) / factorial;
            ++m;
        }
    }
    return coefficients;
}();

// sin(u)/u for a single 0 < u < 3π, to about 2⁻⁶⁰ relative: u − kπ reduced in three exact or
// nearly exact steps, then the series to the term in r²⁷ (below 2⁻⁶⁷ for |r| ≤ π/2). Its terms
// from r¹¹ on, below 2⁻¹⁷ of the sum, are summed in double: their rounding stays below 2⁻⁶⁴.
long double sineOverArgument(float u) {
    const int k = u < kPi / 2 ? 0 : u < 3 * kPi / 2 ? 1 : u < 5 * kPi / 2 ? 2 : 3;
    const long double r = ((u - k * kPiHigh) - k * kPiMiddle) - k * kPiLow;
    const long double square = r * r;
    const auto squareInDouble = static_cast<double>(square);
    double tail = 0.0;
    for (std::size_t m = kSineSeries.size() - 1; m >= 4; --m) {
        tail = (tail + static_cast<double>(kSineSeries[m])) * squareInDouble;
    }
    long double series = tail;
    for (std::size_t m = 4; m-- > 0;) {
        series = (series + kSineSeries[m]) * square;
    }
    const long double sine = r + r * series;
    return (k % 2 != 0 ? -sine : sine) / u;
}

}  // namespace

// The library's extended sine costs a slow argument reduction for |u| ≥ π/4, and Lanczos3 asks
// for two per weight. Here sin(u)/u comes from a series accurate to about 2⁻⁶⁰; together with
// the library sine's own error (within an ulp, 2⁻⁶³) and the division's rounding, the two
// values lie within 2⁻⁵⁹ of the exact one. Unless the series value lies within 2⁻⁵⁴ of a
// midpoint between singles, both round to the same single; otherwise sinc decides. The two
// agree on every single below 3 (FastSinc.AgreesWithSincOnEverySingle, run by hand).
float fastSinc(float x) {
    if (x == 0.0f || !(x < 3.0f)) {
        return sinc(x);
    }
    const float u = toSingle(kPi * x);
    const long double value = sineOverArgument(u);
    const float nearest = toSingle(value);
    if (nearest == 0.0f) {
        return sinc(x);
    }
    // The midpoints between |nearest| and its two neighbours.
    const auto bits = std::bit_cast<std::uint32_t>(std::fabs(nearest));
    const long double magnitude = std::fabs(nearest);
    const long double upper = (magnitude + std::bit_cast<float>(bits + 1)) / 2;
    const long double lower = (magnitude + std::bit_cast<float>(bits - 1)) / 2;
    const long double margin = std::fabs(value) * 0x1p-54L;
    if (std::fabs(std::fabs(value) - upper) <= margin ||
        std::fabs(std::fabs(value) - lower) <= margin) {
        return sinc(x);
    }
    return nearest;
}

}  // namespace detail

// The index of each entry is significant: callers address kernels by it.
const std::array<KernelEntry, 7> kKernelTable{{
    {"Box", boxKernel, 0.5f},
    {"Triangle", triangleKernel, 1.0f},
    {"Hermite", hermiteKernel, 1.0f},
    {"Bell", bellKernel, 1.5f},
    {"B-Spline", bSplineKernel, 2.0f},
    {"Lanczos3", lanczos3Kernel, 3.0f},
    {"Mitchell", mitchellKernel, 2.0f},
}};

const KernelEntry* findKernel(std::string_view name) {
    for (const KernelEntry& entry : kKernelTable) {
        if (name == entry.name) {
            return &entry;
        }
    }
    return nullptr;
}

namespace detail {

namespace {

// Runs part(t, first, end) for t = 0 … threads − 1 over `units` split evenly; the caller's
// thread takes part 0. The helpers are joined before returning, and a failure in any part (an
// allocation) is rethrown on the caller's thread.
template <typename Part>
void inParallel(int threads, int units, const Part& part) {
    const auto boundary = [&](int t) {
        return static_cast<int>(static_cast<std::int64_t>(units) * t / threads);
    };
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(threads));
    const auto guarded = [&](int t) {
        try {
            part(t, boundary(t), boundary(t + 1));
        } catch (...) {
            failures[static_cast<std::size_t>(t)] = std::current_exception();
        }
    };
    {
        std::vector<std::jthread> helpers;
        helpers.reserve(static_cast<std::size_t>(threads - 1));
        for (int t = 1; t < threads; ++t) {
            helpers.emplace_back(guarded, t);
        }
        guarded(0);
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) {
            std::rethrow_exception(failure);
        }
    }
}

// floor(a − b) and ceil(a + b) of the exact real values. The extended sum of two singles can
// round when their exponents are far apart; the error term of the two-sum tells on which side
// of an integer the exact value lies.
std::int64_t exactFloorOfDifference(float a, float b) {
    const long double x = a;
    const long double y = -static_cast<long double>(b);
    const long double sum = x + y;
    const long double yPart = sum - x;
    const long double error = (x - (sum - yPart)) + (y - yPart);
    const long double floored = std::floor(sum);
    const bool below = floored == sum && error < 0;
    return static_cast<std::int64_t>(floored) - (below ? 1 : 0);
}

std::int64_t exactCeilOfSum(float a, float b) {
    const long double x = a;
    const long double y = b;
    const long double sum = x + y;
    const long double yPart = sum - x;
    const long double error = (x - (sum - yPart)) + (y - yPart);
    const long double ceiled = std::ceil(sum);
    const bool above = ceiled == sum && error > 0;
    return static_cast<std::int64_t>(ceiled) + (above ? 1 : 0);
}

// Folding is deliberately asymmetric: at the low edge pixel 0 is the mirror and is not repeated
// (−1 → 1), at the high edge the last pixel is repeated (n → n − 1). Existing outputs depend on
// it. An index the fold still leaves outside (a reach longer than the source) is clamped.
std::int32_t foldIndex(std::int64_t j, std::int64_t n) {
    std::int64_t folded = j;
    if (j < 0) {
        folded = -j;
    } else if (j >= n) {
        folded = 2 * n - 1 - j;
    }
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(folded, 0, n - 1));
}

}  // namespace

void WeightLists::reserve(std::size_t lists, std::size_t pairs) {
    m_starts.reserve(lists + 1);
    m_exactIn.reserve(lists);
    m_pairs.reserve(pairs);
}

void WeightLists::endList() {
    const std::size_t start = m_starts.back();
    m_exactIn.push_back(exactArithmetic(std::span<const WeightPair>(m_pairs).subspan(start)));
    m_starts.push_back(m_pairs.size());
}

float scaleFactor(int destinationExtent, int sourceExtent) {
    if (sourceExtent == 1) {
        return toSingle(static_cast<long double>(destinationExtent) / sourceExtent);
    }
    // Corner alignment: the first and last destination pixels land on the first and last
    // source pixels, not pixel-area alignment.
    return toSingle(static_cast<long double>(destinationExtent - 1) / (sourceExtent - 1));
}

namespace {

// How destination pixels of one axis map onto the source.
class AxisMapping {
  public:
    AxisMapping(int destinationExtent, int sourceExtent, float support)
        // One destination pixel from a longer source has scale 0: it samples the source's
        // centre at scale 1 instead.
        : m_centreOnly(destinationExtent == 1 && sourceExtent > 1),
          m_scale(m_centreOnly ? 1.0f : scaleFactor(destinationExtent, sourceExtent)),
          m_shrinking(m_scale < 1.0f),
          m_reach(m_shrinking ? toSingle(support / static_cast<long double>(m_scale)) : support),
          m_widening(m_shrinking ? toSingle(1.0L / m_scale) : 1.0f),
          m_sourceExtent(sourceExtent) {}

    float centre(int i) const {
        return m_centreOnly ? toSingle((m_sourceExtent - 1) / 2.0L)
                            : toSingle(static_cast<long double>(i) / m_scale);
    }
    // The unfolded source indices around a centre that the kernel is asked about.
    std::int64_t left(float centre) const { return exactFloorOfDifference(centre, m_reach); }
    std::int64_t right(float centre) const { return exactCeilOfSum(centre, m_reach); }

    float weight(KernelFunction kernel, float centre, std::int64_t j) const {
        const long double offset = static_cast<long double>(centre) - j;
        if (!m_shrinking) {
            return kernel(toSingle(offset));
        }
        return toSingle(kernel(toSingle(offset / m_widening)) /
                        static_cast<long double>(m_widening));
    }

    float reach() const { return m_reach; }

  private:
    bool m_centreOnly;
    float m_scale;
    bool m_shrinking;
    float m_reach;
    float m_widening;
    int m_sourceExtent;
};

// Lists first … end − 1 of an axis.
WeightLists buildListRange(const AxisMapping& axis, int sourceExtent, KernelFunction kernel,
                           int first, int end) {
    // Lists are sized by exact counting rather than a fixed room of trunc(2·w + 1) pairs, which
    // a kernel that is non-zero up to its reach could overflow (up to 2·w + 3 candidates).
    std::size_t candidates = 0;
    for (int i = first; i < end; ++i) {
        const float centre = axis.centre(i);
        const std::int64_t left = axis.left(centre);
        const std::int64_t right = axis.right(centre);
        candidates += right >= left ? static_cast<std::size_t>(right - left + 1) : 0;
    }
    WeightLists lists;
    lists.reserve(static_cast<std::size_t>(end - first), candidates);
    for (int i = first; i < end; ++i) {
        const float centre = axis.centre(i);
        const std::int64_t right = axis.right(centre);
        for (std::int64_t j = axis.left(centre); j <= right; ++j) {
            const float weight = axis.weight(kernel, centre, j);
            if (weight == 0.0f) {
                continue;
            }
            lists.append({foldIndex(j, sourceExtent), weight});
        }
        lists.endList();
    }
    return lists;
}

}  // namespace

void WeightLists::appendLists(const WeightLists& other) {
    const std::size_t base = m_pairs.size();
    m_pairs.insert(m_pairs.end(), other.m_pairs.begin(), other.m_pairs.end());
    for (std::size_t k = 1; k < other.m_starts.size(); ++k) {
        m_starts.push_back(base + other.m_starts[k]);
    }
    m_exactIn.insert(m_exactIn.end(), other.m_exactIn.begin(), other.m_exactIn.end());
}

WeightLists buildWeightLists(int destinationExtent, int sourceExtent, KernelFunction kernel,
                             float support, int threads) {
    if (destinationExtent <= 0 || sourceExtent <= 0) {
        return WeightLists{};
    }
    const AxisMapping axis(destinationExtent, sourceExtent, support);
    // The kernel evaluations (a sine each for Lanczos3) cost as much as a pass; threads take
    // ranges of lists, joined in order.
    const double evaluations = destinationExtent * (2.0 * axis.reach() + 3.0);
    threads = evaluations < 4000.0 ? 1 : std::clamp(threads, 1, destinationExtent);
    std::vector<WeightLists> parts(static_cast<std::size_t>(threads));
    inParallel(threads, destinationExtent, [&](int t, int first, int end) {
        parts[static_cast<std::size_t>(t)] = buildListRange(axis, sourceExtent, kernel, first, end);
    });
    WeightLists lists = std::move(parts[0]);
    for (std::size_t t = 1; t < parts.size(); ++t) {
        lists.appendLists(parts[t]);
    }
    return lists;
}

// Which fast arithmetic reproduces a list's extended-precision sums.
//
// Double and Extended: every product value · weight is a multiple of the weight's unit in the
// last place, so every sum of a list, rounded or not, is a multiple k·G of the smallest such
// unit G (rounding to a coarser grid keeps that property). Each sum is at most 255·Σ|w| times
// the growth of the roundings, (1 + 2⁻²³)ⁿ < 2 for n ≤ 2²⁰. When |k| ≤ 2⁵² every exact sum is a
// double, so the double sum rounded to single equals the extended one; when |k| ≤ 2⁶² every
// exact sum is an extended value, so the extended rounding changes nothing and a fused
// single-precision multiply-add (one rounding of the exact value) gives the same single.
//
// DoubleUnlessMidpoint: with every |w| ≥ 2⁻¹⁰⁰, G ≥ 2⁻¹²³, so a non-zero sum lies in the normal
// single range and isSingleMidpoint applies. Let x be the exact sum of a step, d its double and
// e its extended rounding. If e were a midpoint m between singles, |x − m| ≤ ½ulp₆₄(m) <
// ½ulp₅₃(m) and m is a double, so d = m. Hence when d is not a midpoint, e is not one either,
// and a value that is not a midpoint rounds to the same single as x itself (both lie between
// the same neighbouring midpoints): single(d) = single(e). When d is a midpoint and the double
// sum exact, d = x = e. Only an inexact midpoint is redone in extended precision.
ExactIn exactArithmetic(std::span<const WeightPair> pairs) {
    double total = 0.0;
    int unitExponent = 0;  // units above 1 only come with weights above 2^24; 1 is safe there
    for (const WeightPair& pair : pairs) {
        if (!std::isfinite(pair.weight) || !(std::fabs(pair.weight) >= 0x1p-100f)) {
            return ExactIn::Nothing;
        }
        int exponent = 0;
        std::frexp(pair.weight, &exponent);
        unitExponent = std::min(unitExponent, exponent - 24);
        total += std::fabs(static_cast<double>(pair.weight));
    }
    if (pairs.size() <= (std::size_t{1} << 20)) {
        const double bound = 510.0 * total;
        if (bound <= std::ldexp(1.0, unitExponent + 52)) {
            return ExactIn::Double;
        }
        if (bound <= std::ldexp(1.0, unitExponent + 62)) {
            return ExactIn::Extended;
        }
    }
    return ExactIn::DoubleUnlessMidpoint;
}

float accumulate(float sum, std::uint8_t value, float weight) {
    return toSingle(static_cast<long double>(value) * weight + sum);
}

std::uint8_t toByte(float sum) {
    if (sum > 255.0f) {
        return 255;
    }
    if (!(sum >= 0.0f)) {  // below 0, or not a number
        return 0;
    }
    return static_cast<std::uint8_t>(roundHalfEven(sum));
}

namespace {

std::size_t bytesPerRow(int width) {
    return static_cast<std::size_t>(width) * 3;
}

// --- Reference passes: the algorithm as stated, extended precision throughout. ---

void horizontalReference(const Bitmap& source, Bitmap& work, const WeightLists& lists) {
    for (int k = 0; k < source.height(); ++k) {
        const std::uint8_t* in = source.row(k);
        std::uint8_t* out = work.row(k);
        for (int i = 0; i < lists.size(); ++i) {
            float blue = 0.0f;
            float green = 0.0f;
            float red = 0.0f;
            for (const WeightPair& pair : lists[i]) {
                const std::uint8_t* pixel = in + static_cast<std::size_t>(pair.sourceIndex) * 3;
                blue = accumulate(blue, pixel[0], pair.weight);
                green = accumulate(green, pixel[1], pair.weight);
                red = accumulate(red, pixel[2], pair.weight);
            }
            std::uint8_t* pixel = out + static_cast<std::size_t>(i) * 3;
            pixel[0] = toByte(blue);
            pixel[1] = toByte(green);
            pixel[2] = toByte(red);
        }
    }
}

void verticalReference(const Bitmap& work, Bitmap& destination, const WeightLists& lists) {
    for (int k = 0; k < work.width(); ++k) {
        const std::size_t column = static_cast<std::size_t>(k) * 3;
        for (int i = 0; i < lists.size(); ++i) {
            float blue = 0.0f;
            float green = 0.0f;
            float red = 0.0f;
            for (const WeightPair& pair : lists[i]) {
                const std::uint8_t* pixel = work.row(pair.sourceIndex) + column;
                blue = accumulate(blue, pixel[0], pair.weight);
                green = accumulate(green, pixel[1], pair.weight);
                red = accumulate(red, pixel[2], pair.weight);
            }
            std::uint8_t* pixel = destination.row(i) + column;
            pixel[0] = toByte(blue);
            pixel[1] = toByte(green);
            pixel[2] = toByte(red);
        }
    }
}

void resampleReference(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical) {
    Bitmap work(horizontal.size(), source.height());
    horizontalReference(source, work, horizontal);
    // The vertical pass filters the rounded bytes of the horizontal pass, not unrounded sums.
    verticalReference(work, destination, vertical);
}

// --- Portable fast filters: the same sums in the same order. ---

// One destination column of a block of kBlockRows source rows (rows past `rows` repeat the
// first and are not written): the 3 · kBlockRows sums are independent, so they proceed side by
// side instead of waiting on one another.
template <float (*step)(float, std::uint8_t, float)>
void filterColumn(const std::uint8_t* const* in, std::span<const WeightPair> pairs, int rows,
                  std::size_t offset, std::uint8_t* const* out) {
    constexpr std::size_t kLanes = 3 * static_cast<std::size_t>(avx2::kBlockRows);
    float sums[kLanes] = {};
    for (const WeightPair& pair : pairs) {
        const std::size_t pixel = static_cast<std::size_t>(pair.sourceIndex) * 3;
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            sums[lane] = step(sums[lane], in[lane / 3][pixel + lane % 3], pair.weight);
        }
    }
    for (std::size_t lane = 0; lane < static_cast<std::size_t>(rows) * 3; ++lane) {
        out[lane / 3][offset + lane % 3] = toByte(sums[lane]);
    }
}

void filterRowsPortable(const Bitmap& source, int top, int rows, const WeightLists& lists,
                        std::uint8_t* const* out) {
    const std::uint8_t* in[avx2::kBlockRows] = {};
    for (int r = 0; r < avx2::kBlockRows; ++r) {
        in[r] = source.row(r < rows ? top + r : top);
    }
    for (int i = 0; i < lists.size(); ++i) {
        const std::size_t offset = static_cast<std::size_t>(i) * 3;
        switch (lists.exactIn(i)) {
            case ExactIn::Double:
                filterColumn<accumulateDouble>(in, lists[i], rows, offset, out);
                break;
            case ExactIn::Extended:
            case ExactIn::DoubleUnlessMidpoint:
                filterColumn<accumulateChecked>(in, lists[i], rows, offset, out);
                break;
            case ExactIn::Nothing:
                filterColumn<accumulate>(in, lists[i], rows, offset, out);
                break;
        }
    }
}

template <float (*step)(float, std::uint8_t, float)>
void addRow(const std::uint8_t* in, float weight, std::span<float> sums) {
    for (std::size_t x = 0; x < sums.size(); ++x) {
        sums[x] = step(sums[x], in[x], weight);
    }
}

// Each weight applied across a whole row: every sum is still formed over the list in order.
void combineRowsPortable(std::span<const WeightPair> pairs, ExactIn exactIn,
                         const std::uint8_t* const* in, std::span<float> sums, std::uint8_t* out) {
    std::fill(sums.begin(), sums.end(), 0.0f);
    for (std::size_t t = 0; t < pairs.size(); ++t) {
        switch (exactIn) {
            case ExactIn::Double:
                addRow<accumulateDouble>(in[t], pairs[t].weight, sums);
                break;
            case ExactIn::Extended:
            case ExactIn::DoubleUnlessMidpoint:
                addRow<accumulateChecked>(in[t], pairs[t].weight, sums);
                break;
            case ExactIn::Nothing:
                addRow<accumulate>(in[t], pairs[t].weight, sums);
                break;
        }
    }
    for (std::size_t x = 0; x < sums.size(); ++x) {
        out[x] = toByte(sums[x]);
    }
}

// --- The fast paths: both passes band by band. ---
// Each thread owns a band of destination rows. It computes the horizontal result of only the
// source rows its band needs, block by block, into a small ring, so the intermediate picture
// never exists as a whole and stays in cache. When the lists reach so far that the bands would
// each need most of the source, the horizontal results are computed once, shared, before the
// bands run. Every byte is the one the two passes in order give.

constexpr int kBlockRows = avx2::kBlockRows;

int blockOf(std::int32_t sourceRow) {
    return sourceRow / kBlockRows;
}

// The blocks of horizontal results a vertical list reads.
std::pair<int, int> blocksOf(std::span<const WeightPair> pairs) {
    int first = INT_MAX;
    int last = -1;
    for (const WeightPair& pair : pairs) {
        first = std::min(first, blockOf(pair.sourceIndex));
        last = std::max(last, blockOf(pair.sourceIndex));
    }
    return {first, last};
}

// What one thread needs, allocated before the threads start.
struct ThreadState {
    std::vector<std::uint8_t> scratch;      // the vector filter's grouped rows
    std::vector<float> sums;                // the portable vertical filter's row of sums
    std::vector<const std::uint8_t*> rows;  // one horizontal-result row per pair
};

// Horizontal results of source rows, by blocks of kBlockRows rows, in `capacity` slots: block b
// lives in slot b mod capacity. As long as the capacity is at least the span of a list in
// blocks, the blocks of one list never evict one another.
class FilteredRows {
  public:
    FilteredRows(int capacity, std::size_t rowBytes)
        : m_capacity(capacity),
          m_rowBytes(rowBytes),
          m_tags(static_cast<std::size_t>(capacity), -1),
          m_bytes(rowBytes * kBlockRows * static_cast<std::size_t>(capacity)) {}

    bool holds(int block) const { return m_tags[slotOf(block)] == block; }

    void fill(int block, const Bitmap& source, const WeightLists& horizontal, bool vector,
              ThreadState& state) {
        const int top = block * kBlockRows;
        const int rows = std::min(kBlockRows, source.height() - top);
        std::uint8_t* out[kBlockRows] = {};
        for (int r = 0; r < rows; ++r) {
            out[r] = rowAt(slotOf(block), r);
        }
        if (vector) {
            avx2::filterRows(source, top, rows, horizontal, out, state.scratch);
        } else {
            filterRowsPortable(source, top, rows, horizontal, out);
        }
        m_tags[slotOf(block)] = block;
    }

    const std::uint8_t* row(std::int32_t sourceRow) {
        return rowAt(slotOf(blockOf(sourceRow)), sourceRow % kBlockRows);
    }

  private:
    std::size_t slotOf(int block) const { return static_cast<std::size_t>(block % m_capacity); }
    std::uint8_t* rowAt(std::size_t slot, int r) {
        return m_bytes.data() + (slot * kBlockRows + static_cast<std::size_t>(r)) * m_rowBytes;
    }

    int m_capacity;
    std::size_t m_rowBytes;
    std::vector<int> m_tags;
    std::vector<std::uint8_t> m_bytes;
};

void resampleBand(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                  const WeightLists& vertical, bool vector, FilteredRows& filtered,
                  ThreadState& state, int firstRow, int endRow) {
    const std::size_t length = bytesPerRow(destination.width());
    for (int i = firstRow; i < endRow; ++i) {
        const std::span<const WeightPair> pairs = vertical[i];
        const auto [first, last] = blocksOf(pairs);
        for (int block = first; block <= last; ++block) {
            if (!filtered.holds(block)) {
                filtered.fill(block, source, horizontal, vector, state);
            }
        }
        state.rows.clear();
        for (const WeightPair& pair : pairs) {
            state.rows.push_back(filtered.row(pair.sourceIndex));
        }
        if (vector) {
            avx2::combineRows(pairs, vertical.exactIn(i), state.rows.data(), length,
                              destination.row(i));
        } else {
            combineRowsPortable(pairs, vertical.exactIn(i), state.rows.data(), state.sums,
                                destination.row(i));
        }
    }
}

// Below this many multiply-adds the work stays on the caller's thread: starting a thread costs
// more than it saves.
constexpr double kThreadWorthwhile = 2.0e6;

int threadsFor(const ResampleOptions& options, double multiplyAdds, int units) {
    int threads = options.threads;
    if (threads <= 0) {
        threads = multiplyAdds < kThreadWorthwhile
                      ? 1
                      : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    }
    return std::clamp(threads, 1, std::max(units, 1));
}

void resampleFast(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                  const WeightLists& vertical, const ResampleOptions& options) {
    const bool vector = options.path == ResamplePath::Automatic && avx2::available();
    const int blocks = (source.height() + kBlockRows - 1) / kBlockRows;
    int span = 1;
    std::size_t longestList = 0;
    for (int i = 0; i < vertical.size(); ++i) {
        const auto [first, last] = blocksOf(vertical[i]);
        span = std::max(span, last - first + 1);
        longestList = std::max(longestList, vertical[i].size());
    }
    const double multiplyAdds =
        3.0 * (static_cast<double>(horizontal.pairCount()) * source.height() +
               static_cast<double>(vertical.pairCount()) * destination.width());
    const int threads = threadsFor(options, multiplyAdds, vertical.size());
    const bool shared = threads > 1 && 2 * span > blocks;

    const std::size_t rowBytes = bytesPerRow(destination.width());
    const int rings = shared ? 1 : threads;
    const int capacity = shared ? blocks : span;
    ensureAllocatable(rowBytes * kBlockRows * static_cast<std::size_t>(capacity) *
                          static_cast<std::size_t>(rings),
                      destination.width(), source.height());
    std::vector<FilteredRows> filtered;
    filtered.reserve(static_cast<std::size_t>(rings));
    for (int r = 0; r < rings; ++r) {
        filtered.emplace_back(capacity, rowBytes);
    }
    std::vector<ThreadState> states(static_cast<std::size_t>(threads));
    for (ThreadState& state : states) {
        state.scratch.resize(vector ? avx2::rowScratchBytes(source.width(), destination.width())
                                    : 0);
        state.sums.resize(vector ? 0 : rowBytes);
        state.rows.reserve(longestList);
    }

    if (shared) {
        // Threads fill disjoint blocks; the bands then only read them.
        inParallel(threads, blocks, [&](int t, int first, int end) {
            for (int block = first; block < end; ++block) {
                filtered[0].fill(block, source, horizontal, vector,
                                 states[static_cast<std::size_t>(t)]);
            }
        });
    }
    inParallel(threads, vertical.size(), [&](int t, int first, int end) {
        const auto index = static_cast<std::size_t>(t);
        resampleBand(source, destination, horizontal, vertical, vector,
                     filtered[shared ? 0 : index], states[index], first, end);
    });
}

}  // namespace

bool vectorPathAvailable() {
    return avx2::available();
}

namespace {

bool indicesWithin(const WeightLists& lists, int extent) {
    for (int i = 0; i < lists.size(); ++i) {
        for (const WeightPair& pair : lists[i]) {
            if (pair.sourceIndex < 0 || pair.sourceIndex >= extent) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

void resampleWithLists(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical, const ResampleOptions& options) {
    if (source.format() != PixelFormat::Bits24 || destination.format() != PixelFormat::Bits24 ||
        destination.width() != horizontal.size() || destination.height() != vertical.size() ||
        !indicesWithin(horizontal, source.width()) || !indicesWithin(vertical, source.height())) {
        throw Error("Weight lists do not fit the bitmaps");
    }
    if (horizontal.size() == 0 || vertical.size() == 0) {
        return;
    }
    if (options.path == ResamplePath::Reference) {
        resampleReference(source, destination, horizontal, vertical);
    } else {
        resampleFast(source, destination, horizontal, vertical, options);
    }
}

}  // namespace detail

namespace {

// Supports beyond this would only make the weight lists (and the time to build them) huge.
constexpr float kMaxSupport = 64.0f;

}  // namespace

void resampleBitmap(Bitmap& source, Bitmap& destination, KernelFunction kernel, float support,
                    const ResampleOptions& options) {
    const int destinationWidth = destination.width();
    const int destinationHeight = destination.height();
    const int sourceWidth = source.width();
    const int sourceHeight = source.height();
    if (sourceWidth < 1 || sourceHeight < 1) {
        throw Error("Source bitmap too small");
    }
    if (kernel == nullptr) {
        throw Error("No resampling kernel given");
    }
    if (!(support >= 0.0f && support <= kMaxSupport)) {
        throw Error("Resampling kernel support out of range");
    }

    source.convertTo24();
    destination.convertTo24();
    if (destinationWidth == 0 || destinationHeight == 0) {
        return;
    }
    const int listThreads =
        options.path == ResamplePath::Reference ? 1
        : options.threads > 0
            ? options.threads
            : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    const detail::WeightLists horizontal =
        detail::buildWeightLists(destinationWidth, sourceWidth, kernel, support, listThreads);
    const detail::WeightLists vertical =
        detail::buildWeightLists(destinationHeight, sourceHeight, kernel, support, listThreads);
    if (&source == &destination) {
        // The passes read the source while writing the destination.
        const Bitmap copy = source;
        detail::resampleWithLists(copy, destination, horizontal, vertical, options);
    } else {
        detail::resampleWithLists(source, destination, horizontal, vertical, options);
    }
}

void resampleBitmap(Bitmap& source, Bitmap& destination, KernelFunction kernel, float support) {
    resampleBitmap(source, destination, kernel, support, ResampleOptions{});
}

void resampleBitmapReference(Bitmap& source, Bitmap& destination, KernelFunction kernel,
                             float support) {
    resampleBitmap(source, destination, kernel, support,
                   ResampleOptions{ResamplePath::Reference, 1});
}

}  // namespace tz
