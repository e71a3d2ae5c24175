// The fuzz targets' way of reading a picture's rows: from `first` to the end, eight at a time, as
// the resampler reads them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "tz/resample.h"

namespace fuzz {

// Calls visit(y, row) for each row y from `first` on.
template <typename Visit>
void readRows(tz::RowSource& source, int first, const Visit& visit) {
    const std::unique_ptr<tz::RowReader> reader = source.readerFrom(first);
    for (int top = first; top < source.height(); top += 8) {
        const auto block = reader->nextRows(std::min(8, source.height() - top));
        for (std::size_t r = 0; r < block.size(); ++r) {
            visit(top + static_cast<int>(r), block[r]);
        }
    }
}

}  // namespace fuzz
