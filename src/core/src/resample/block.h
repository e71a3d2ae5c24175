// The number of source rows the horizontal filters take at a time, shared by every fast path.
#pragma once

namespace tz::detail {

// The fast passes filter source rows in blocks of this many; the vector filter keeps one row of
// each lane group per block row.
inline constexpr int kBlockRows = 8;

}  // namespace tz::detail
