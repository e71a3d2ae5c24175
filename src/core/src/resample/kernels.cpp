// The seven reconstruction kernels, the sine they need, and the kernel table.
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "resample/kernels.h"
#include "tz/numeric.h"
#include "tz/resample.h"

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

}  // namespace tz
