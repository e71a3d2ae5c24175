// The steps of the resampler's sums: the extended-precision step every path must reproduce,
// and the cheaper steps that reproduce it for the lists exactArithmetic() marks.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "resample/weight_lists.h"

namespace tz::detail {

// One step of a sum: value · weight + sum in extended precision, stored as single.
float accumulate(float sum, std::uint8_t value, float weight);

// A sum to a channel byte: above 255 gives 255, below 0 (or not a number) gives 0, otherwise
// the nearest integer, halves to even.
std::uint8_t toByte(float sum);

// One step in double: exact when the list is ExactIn::Double (see exactArithmetic).
inline float accumulateDouble(float sum, std::uint8_t value, float weight) {
    return static_cast<float>(static_cast<double>(value) * weight + sum);
}

// Whether a double whose magnitude lies in the normal single range is exactly halfway between
// two singles: the 29 bits a single drops are 1 followed by 28 zeros.
inline bool isSingleMidpoint(double value) {
    return (std::bit_cast<std::uint64_t>(value) & 0x1FFFFFFFu) == 0x10000000u;
}

// Whether the double sum of a and b is exact: the error term of the two-sum is zero.
inline bool sumIsExact(double a, double b, double sum) {
    const double bPart = sum - a;
    return (a - (sum - bPart)) + (b - bPart) == 0.0;
}

// One step for an ExactIn::DoubleUnlessMidpoint list (or better): the double sum, unless it is
// an inexact sum landing on a midpoint between singles; that step is redone in extended
// precision.
inline float accumulateChecked(float sum, std::uint8_t value, float weight) {
    const double product = static_cast<double>(value) * weight;  // exact: 8 × 24 bits
    const double inDouble = product + sum;
    if (isSingleMidpoint(inDouble) && !sumIsExact(product, sum, inDouble)) {
        return accumulate(sum, value, weight);
    }
    return static_cast<float>(inDouble);
}

}  // namespace tz::detail
