// The resampler's vector passes (AVX2 and FMA), used only when the processor has both.
// Where they meet the rest: resample.cpp splits the work and gives each thread its scratch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "tz/bitmap.h"
#include "tz/resample_detail.h"

namespace tz::detail::avx2 {

// The horizontal pass filters source rows in blocks of this many rows.
inline constexpr int kBlockRows = 8;

bool available();

// Scratch bytes one thread needs for horizontalBlocks.
std::size_t horizontalScratchBytes(int sourceWidth, int destinationWidth);

// Filters the row blocks [firstBlock, endBlock) of `source` into `work`.
void horizontalBlocks(const Bitmap& source, Bitmap& work, const WeightLists& lists, int firstBlock,
                      int endBlock, std::span<std::uint8_t> scratch);

// Fills the destination rows [firstRow, endRow) from `work`.
void verticalRows(const Bitmap& work, Bitmap& destination, const WeightLists& lists, int firstRow,
                  int endRow);

}  // namespace tz::detail::avx2
