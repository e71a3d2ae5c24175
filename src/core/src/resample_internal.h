// Private pieces shared by the resampler's portable code (resample.cpp) and its vector code
// (resample_avx2.cpp, used only when the processor has AVX2 and FMA).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

#include "tz/bitmap.h"
#include "tz/resample_detail.h"

namespace tz::detail {

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

namespace avx2 {

// The horizontal filter works on blocks of this many source rows.
inline constexpr int kBlockRows = 8;

bool available();

// Scratch bytes one thread needs for filterRows.
std::size_t rowScratchBytes(int sourceWidth, int destinationWidth);

// The horizontal filter of source rows top … top + rows − 1 (rows ≤ kBlockRows) into out[0] …
// out[rows − 1], each lists.size() pixels long.
void filterRows(const Bitmap& source, int top, int rows, const WeightLists& lists,
                std::uint8_t* const* out, std::span<std::uint8_t> scratch);

// The vertical filter of one destination row of `length` bytes: byte x is the sum over t of
// in[t][x] · pairs[t].weight.
void combineRows(std::span<const WeightPair> pairs, ExactIn exactIn, const std::uint8_t* const* in,
                 std::size_t length, std::uint8_t* out);

}  // namespace avx2

}  // namespace tz::detail
