// The resampler: kernels, weight lists, the extended-precision reference passes, the portable
// fast passes and the dispatch between them and the vector passes.
#include "tz/resample.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <numbers>
#include <thread>
#include <vector>

#include "resample_avx2.h"
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

float BoxKernel(float x) {
    return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
}

float TriangleKernel(float x) {
    const float a = magnitude(x);
    return a < 1.0f ? toSingle(1.0L - a) : 0.0f;
}

float HermiteKernel(float x) {
    const float a = magnitude(x);
    if (a >= 1.0f) {
        return 0.0f;
    }
    const long double square = static_cast<long double>(a) * a;
    return toSingle((2.0L * a - 3.0L) * square + 1.0L);
}

float BellKernel(float x) {
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

float BSplineKernel(float x) {
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

float Lanczos3Kernel(float x) {
    const float a = magnitude(x);
    if (a >= 3.0f) {
        return 0.0f;
    }
    const float s = Sinc(a);
    return toSingle(static_cast<long double>(Sinc(toSingle(a / 3.0L))) * s);
}

float MitchellKernel(float x) {
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

float Sinc(float x) {
    if (x == 0.0f) {
        return 1.0f;
    }
    const float u = toSingle(kPi * x);
    return toSingle(std::sin(static_cast<long double>(u)) / u);
}

// The index of each entry is significant: callers address kernels by it.
const std::array<KernelEntry, 7> KernelTable{{
    {"Box", BoxKernel, 0.5f},
    {"Triangle", TriangleKernel, 1.0f},
    {"Hermite", HermiteKernel, 1.0f},
    {"Bell", BellKernel, 1.5f},
    {"B-Spline", BSplineKernel, 2.0f},
    {"Lanczos3", Lanczos3Kernel, 3.0f},
    {"Mitchell", MitchellKernel, 2.0f},
}};

const KernelEntry* findKernel(std::string_view name) {
    for (const KernelEntry& entry : KernelTable) {
        if (name == entry.Name) {
            return &entry;
        }
    }
    return nullptr;
}

namespace detail {

namespace {

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

WeightLists buildWeightLists(int destinationExtent, int sourceExtent, KernelFunction kernel,
                             float support) {
    WeightLists lists;
    if (destinationExtent <= 0 || sourceExtent <= 0) {
        return lists;
    }
    // One destination pixel from a longer source has scale 0: it samples the source's centre
    // at scale 1 instead.
    const bool centreOnly = destinationExtent == 1 && sourceExtent > 1;
    const float scale = centreOnly ? 1.0f : scaleFactor(destinationExtent, sourceExtent);
    const bool shrinking = scale < 1.0f;
    const float reach = shrinking ? toSingle(support / static_cast<long double>(scale)) : support;
    const float widening = shrinking ? toSingle(1.0L / scale) : 1.0f;
    const auto centreOf = [&](int i) {
        return centreOnly ? toSingle((sourceExtent - 1) / 2.0L)
                          : toSingle(static_cast<long double>(i) / scale);
    };

    // Lists are sized by exact counting rather than a fixed room of trunc(2·w + 1) pairs, which
    // a kernel that is non-zero up to its reach could overflow (up to 2·w + 3 candidates).
    std::size_t candidates = 0;
    for (int i = 0; i < destinationExtent; ++i) {
        const float centre = centreOf(i);
        const std::int64_t left = exactFloorOfDifference(centre, reach);
        const std::int64_t right = exactCeilOfSum(centre, reach);
        candidates += right >= left ? static_cast<std::size_t>(right - left + 1) : 0;
    }
    lists.reserve(static_cast<std::size_t>(destinationExtent), candidates);

    const std::int64_t n = sourceExtent;
    for (int i = 0; i < destinationExtent; ++i) {
        const float centre = centreOf(i);
        const std::int64_t left = exactFloorOfDifference(centre, reach);
        const std::int64_t right = exactCeilOfSum(centre, reach);
        for (std::int64_t j = left; j <= right; ++j) {
            const long double offset = static_cast<long double>(centre) - j;
            const float weight = shrinking ? toSingle(kernel(toSingle(offset / widening)) /
                                                      static_cast<long double>(widening))
                                           : kernel(toSingle(offset));
            if (weight == 0.0f) {
                continue;
            }
            lists.append({foldIndex(j, n), weight});
        }
        lists.endList();
    }
    return lists;
}

// Every product value · weight is a multiple of the weight's unit in the last place, so every
// sum of a list, rounded or not, is a multiple k·G of the smallest such unit G (rounding to a
// coarser grid keeps that property). Each sum is at most 255·Σ|w| times the growth of the
// roundings, (1 + 2⁻²³)ⁿ < 2 for n ≤ 2²⁰. When |k| ≤ 2⁵² every exact sum is a double, so the
// double sum rounded to single equals the extended one; when |k| ≤ 2⁶² every exact sum is an
// extended value, so the extended rounding is a no-op and a fused multiply-add in single
// precision (one rounding of the exact value) gives the same single.
ExactIn exactArithmetic(std::span<const WeightPair> pairs) {
    if (pairs.empty()) {
        return ExactIn::Double;
    }
    if (pairs.size() > (std::size_t{1} << 20)) {
        return ExactIn::Nothing;
    }
    double total = 0.0;
    int unitExponent = INT_MAX;
    for (const WeightPair& pair : pairs) {
        if (!std::isfinite(pair.Weight) || pair.Weight == 0.0f) {
            return ExactIn::Nothing;
        }
        int exponent = 0;
        std::frexp(pair.Weight, &exponent);
        unitExponent = std::min(unitExponent, std::max(exponent - 24, -149));
        total += std::fabs(static_cast<double>(pair.Weight));
    }
    const double bound = 510.0 * total;
    if (bound <= std::ldexp(1.0, unitExponent + 52)) {
        return ExactIn::Double;
    }
    if (bound <= std::ldexp(1.0, unitExponent + 62)) {
        return ExactIn::Extended;
    }
    return ExactIn::Nothing;
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

// One step in double: exact when the list is ExactIn::Double (see exactArithmetic).
inline float accumulateDouble(float sum, std::uint8_t value, float weight) {
    return static_cast<float>(static_cast<double>(value) * weight + sum);
}

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
                const std::uint8_t* pixel = in + static_cast<std::size_t>(pair.SourceIndex) * 3;
                blue = accumulate(blue, pixel[0], pair.Weight);
                green = accumulate(green, pixel[1], pair.Weight);
                red = accumulate(red, pixel[2], pair.Weight);
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
                const std::uint8_t* pixel = work.row(pair.SourceIndex) + column;
                blue = accumulate(blue, pixel[0], pair.Weight);
                green = accumulate(green, pixel[1], pair.Weight);
                red = accumulate(red, pixel[2], pair.Weight);
            }
            std::uint8_t* pixel = destination.row(i) + column;
            pixel[0] = toByte(blue);
            pixel[1] = toByte(green);
            pixel[2] = toByte(red);
        }
    }
}

// --- Portable passes: same sums in the same order, double where that is exact. ---

template <float (*step)(float, std::uint8_t, float)>
void filterPixel(const std::uint8_t* in, std::span<const WeightPair> pairs, std::uint8_t* out) {
    float blue = 0.0f;
    float green = 0.0f;
    float red = 0.0f;
    for (const WeightPair& pair : pairs) {
        const std::uint8_t* pixel = in + static_cast<std::size_t>(pair.SourceIndex) * 3;
        blue = step(blue, pixel[0], pair.Weight);
        green = step(green, pixel[1], pair.Weight);
        red = step(red, pixel[2], pair.Weight);
    }
    out[0] = toByte(blue);
    out[1] = toByte(green);
    out[2] = toByte(red);
}

void horizontalPortableRows(const Bitmap& source, Bitmap& work, const WeightLists& lists,
                            int firstRow, int endRow) {
    for (int k = firstRow; k < endRow; ++k) {
        const std::uint8_t* in = source.row(k);
        std::uint8_t* out = work.row(k);
        for (int i = 0; i < lists.size(); ++i) {
            std::uint8_t* pixel = out + static_cast<std::size_t>(i) * 3;
            if (lists.exactIn(i) == ExactIn::Double) {
                filterPixel<accumulateDouble>(in, lists[i], pixel);
            } else {
                filterPixel<accumulate>(in, lists[i], pixel);
            }
        }
    }
}

// Rows of the destination one at a time, each weight applied across a whole work row: every
// sum is still formed over the list in order, but memory is read row by row.
void verticalPortableRows(const Bitmap& work, Bitmap& destination, const WeightLists& lists,
                          int firstRow, int endRow, std::vector<float>& sums) {
    const std::size_t length = bytesPerRow(work.width());
    sums.resize(length);
    for (int i = firstRow; i < endRow; ++i) {
        std::fill(sums.begin(), sums.end(), 0.0f);
        const bool inDouble = lists.exactIn(i) == ExactIn::Double;
        for (const WeightPair& pair : lists[i]) {
            const std::uint8_t* in = work.row(pair.SourceIndex);
            if (inDouble) {
                for (std::size_t x = 0; x < length; ++x) {
                    sums[x] = accumulateDouble(sums[x], in[x], pair.Weight);
                }
            } else {
                for (std::size_t x = 0; x < length; ++x) {
                    sums[x] = accumulate(sums[x], in[x], pair.Weight);
                }
            }
        }
        std::uint8_t* out = destination.row(i);
        for (std::size_t x = 0; x < length; ++x) {
            out[x] = toByte(sums[x]);
        }
    }
}

// --- Splitting the work between threads. ---

// Below this many multiply-adds a pass stays on the caller's thread: starting a thread costs
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

// Runs part(first, end, index) over `units` split evenly into `threads` ranges; the caller's
// thread takes the first range. The helpers are joined before returning.
void splitWork(int units, int threads, const std::function<void(int, int, int)>& part) {
    const auto boundary = [&](int t) {
        return static_cast<int>(static_cast<std::int64_t>(units) * t / threads);
    };
    std::vector<std::jthread> helpers;
    helpers.reserve(static_cast<std::size_t>(threads - 1));
    for (int t = 1; t < threads; ++t) {
        helpers.emplace_back(part, boundary(t), boundary(t + 1), t);
    }
    part(boundary(0), boundary(1), 0);
}

bool useVector(const ResampleOptions& options) {
    return options.path == ResamplePath::Automatic && avx2::available();
}

}  // namespace

bool vectorPathAvailable() {
    return avx2::available();
}

void horizontalPass(const Bitmap& source, Bitmap& work, const WeightLists& lists,
                    const ResampleOptions& options) {
    if (options.path == ResamplePath::Reference) {
        horizontalReference(source, work, lists);
        return;
    }
    const double multiplyAdds =
        3.0 * static_cast<double>(lists.pairCount()) * static_cast<double>(source.height());
    if (useVector(options)) {
        const int blocks = (source.height() + avx2::kBlockRows - 1) / avx2::kBlockRows;
        const int threads = threadsFor(options, multiplyAdds, blocks);
        std::vector<std::vector<std::uint8_t>> scratch(static_cast<std::size_t>(threads));
        for (auto& buffer : scratch) {
            buffer.resize(avx2::horizontalScratchBytes(source.width(), work.width()));
        }
        splitWork(blocks, threads, [&](int first, int end, int t) {
            avx2::horizontalBlocks(source, work, lists, first, end,
                                   scratch[static_cast<std::size_t>(t)]);
        });
        return;
    }
    const int threads = threadsFor(options, multiplyAdds, source.height());
    splitWork(source.height(), threads, [&](int first, int end, int) {
        horizontalPortableRows(source, work, lists, first, end);
    });
}

void verticalPass(const Bitmap& work, Bitmap& destination, const WeightLists& lists,
                  const ResampleOptions& options) {
    if (options.path == ResamplePath::Reference) {
        verticalReference(work, destination, lists);
        return;
    }
    const double multiplyAdds =
        3.0 * static_cast<double>(lists.pairCount()) * static_cast<double>(work.width());
    const int threads = threadsFor(options, multiplyAdds, lists.size());
    if (useVector(options)) {
        splitWork(lists.size(), threads, [&](int first, int end, int) {
            avx2::verticalRows(work, destination, lists, first, end);
        });
        return;
    }
    std::vector<std::vector<float>> sums(static_cast<std::size_t>(threads));
    for (auto& buffer : sums) {
        buffer.resize(bytesPerRow(work.width()));
    }
    splitWork(lists.size(), threads, [&](int first, int end, int t) {
        verticalPortableRows(work, destination, lists, first, end,
                             sums[static_cast<std::size_t>(t)]);
    });
}

}  // namespace detail

namespace {

// Supports beyond this would only make the weight lists (and the time to build them) huge.
constexpr float kMaxSupport = 64.0f;

}  // namespace

void ResampleBitmap(Bitmap& source, Bitmap& destination, KernelFunction kernel, float support,
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

    Bitmap work(destinationWidth, sourceHeight);
    source.convertTo24();
    destination.convertTo24();
    if (destinationWidth == 0 || destinationHeight == 0) {
        return;
    }
    {
        const detail::WeightLists horizontal =
            detail::buildWeightLists(destinationWidth, sourceWidth, kernel, support);
        detail::horizontalPass(source, work, horizontal, options);
    }
    // The vertical pass filters the rounded bytes of the horizontal pass, not unrounded sums.
    const detail::WeightLists vertical =
        detail::buildWeightLists(destinationHeight, sourceHeight, kernel, support);
    detail::verticalPass(work, destination, vertical, options);
}

void ResampleBitmap(Bitmap& source, Bitmap& destination, KernelFunction kernel, float support) {
    ResampleBitmap(source, destination, kernel, support, ResampleOptions{});
}

void ResampleBitmapReference(Bitmap& source, Bitmap& destination, KernelFunction kernel,
                             float support) {
    ResampleBitmap(source, destination, kernel, support,
                   ResampleOptions{ResamplePath::Reference, 1});
}

}  // namespace tz
