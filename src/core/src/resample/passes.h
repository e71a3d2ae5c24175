// The resampler's two passes, with the weight lists already built.
#pragma once

#include "resample/weight_lists.h"
#include "tz/bitmap.h"
#include "tz/resample.h"

namespace tz::detail {

// Both passes with the given lists: `destination` is 24-bit, horizontal.size() wide and
// vertical.size() high; the lists' indices lie inside the source. Throws tz::Error when they
// do not.
void resampleWithLists(RowSource& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical, const ResampleOptions& options);
// The same over a whole 24-bit bitmap.
void resampleWithLists(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical, const ResampleOptions& options);

// Whether ResamplePath::Automatic runs the vector code on this processor.
bool vectorPathAvailable();

}  // namespace tz::detail
