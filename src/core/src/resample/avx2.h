// The resampler's vector filters, for processors with AVX2 and FMA.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "resample/block.h"
#include "resample/weight_lists.h"
#include "tz/bitmap.h"

namespace tz::detail::avx2 {

// Whether the processor has AVX2 and FMA.
bool available();

// Scratch bytes one thread needs for filterRows.
std::size_t rowScratchBytes(int sourceWidth, int destinationWidth);

// The horizontal filter of source rows in[0] … in[rows − 1] (rows ≤ kBlockRows), each
// `sourceWidth` pixels long, into out[0] … out[rows − 1], each lists.size() pixels long.
void filterRows(const std::uint8_t* const* in, int rows, int sourceWidth, const WeightLists& lists,
                std::uint8_t* const* out, std::span<std::uint8_t> scratch);

// The vertical filter of one destination row of `length` bytes: byte x is the sum over t of
// in[t][x] · pairs[t].weight.
void combineRows(std::span<const WeightPair> pairs, ExactIn exactIn, const std::uint8_t* const* in,
                 std::size_t length, std::uint8_t* out);

}  // namespace tz::detail::avx2
