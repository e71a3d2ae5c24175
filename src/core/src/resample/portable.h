// The resampler's portable fast filters: plain C++ with the vector code's exactness argument.
#pragma once

#include <cstdint>
#include <span>

#include "resample/block.h"
#include "resample/weight_lists.h"
#include "tz/bitmap.h"

namespace tz::detail {

// The horizontal filter of source rows in[0] … in[rows − 1] (1 ≤ rows ≤ kBlockRows) into
// out[0] … out[rows − 1], each lists.size() pixels long.
void filterRowsPortable(const std::uint8_t* const* in, int rows, const WeightLists& lists,
                        std::uint8_t* const* out);

// The vertical filter of one destination row of sums.size() bytes: byte x is the sum over t of
// in[t][x] · pairs[t].weight; `sums` is scratch.
void combineRowsPortable(std::span<const WeightPair> pairs, ExactIn exactIn,
                         const std::uint8_t* const* in, std::span<float> sums, std::uint8_t* out);

}  // namespace tz::detail
