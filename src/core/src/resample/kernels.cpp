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
// and the three add up to π within 2⁻¹³³.
constexpr double kPiHigh = 0xc90fdaa221p-38;
constexpr double kPiMiddle = 0xd18469898dp-79;
constexpr double kPiLow = -0xeba3f91f1976b7eep-145;

// The coefficients (−1)ᵐ/(2m + 1)! of the series of sin(r)/r, m = 1 … 12: the first left out is
// below 2⁻⁷⁶ for |r| ≤ π/2.
constexpr std::array<double, 12> kSineSeries = [] {
    std::array<double, 12> coefficients{};
    double factorial = 1.0;
    for (int m = 1; m <= 12; ++m) {
        factorial *= (2 * m) * (2 * m + 1);
        coefficients[static_cast<std::size_t>(m - 1)] = (m % 2 == 0 ? 1.0 : -1.0) / factorial;
    }
    return coefficients;
}();

// sin(u)/u for a single 0 < u < 3π, within 2⁻⁴⁷ relative. u − kπ is exact after the first step
// (u and kπHigh are multiples of 2⁻³⁸ below 8) and within 2⁻⁵² relative after the two others, as
// |u − kπ| > 2⁻²⁶ for every single u. The series of sin(r)/r − 1 in Horner's form is within
// 2⁻⁴⁸ absolute (its terms add up to less than 0.5), and sin(r)/r ≥ 2/π.
double sineOverArgument(float u) {
    constexpr double kHalfPi = std::numbers::pi / 2;
    const int k = u < kHalfPi ? 0 : u < 3 * kHalfPi ? 1 : u < 5 * kHalfPi ? 2 : 3;
    const double r = ((u - k * kPiHigh) - k * kPiMiddle) - k * kPiLow;
    const double square = r * r;
    double series = 0.0;
    for (std::size_t m = kSineSeries.size(); m-- > 0;) {
        series = (series + kSineSeries[m]) * square;
    }
    const double sine = r + r * series;
    return (k % 2 != 0 ? -sine : sine) / u;
}

}  // namespace

// The library's extended sine costs a slow argument reduction for |u| ≥ π/4, and Lanczos3 asks
// for two per weight. Here sin(u)/u comes from a series in double within 2⁻⁴⁷ of the exact
// value; the library sine's quotient lies within 2⁻⁵⁹ of it. Unless the series value lies within
// 2⁻⁴⁵ of a midpoint between singles, both round to the same single; otherwise (for about one
// call in 2²⁰) sinc decides. The two agree on every single below 3
// (FastSinc.AgreesWithSincOnEverySingle, run by hand).
float fastSinc(float x) {
    if (x == 0.0f || !(x < 3.0f)) {
        return sinc(x);
    }
    const float u = toSingle(kPi * x);
    const double value = sineOverArgument(u);
    const auto nearest = static_cast<float>(value);
    if (nearest == 0.0f) {
        return sinc(x);
    }
    // The midpoints between |nearest| and its two neighbours, exact in double.
    const auto bits = std::bit_cast<std::uint32_t>(std::fabs(nearest));
    const double magnitude = std::fabs(nearest);
    const double upper = (magnitude + std::bit_cast<float>(bits + 1)) / 2;
    const double lower = (magnitude + std::bit_cast<float>(bits - 1)) / 2;
    const double margin = std::fabs(value) * 0x1p-45;
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
