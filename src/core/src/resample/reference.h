// The resampler's reference passes: the algorithm as stated, in extended precision.
#pragma once

#include "resample/weight_lists.h"
#include "tz/bitmap.h"

namespace tz::detail {

// Both passes, one thread; the yardstick every fast path is held to.
void resampleReference(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical);

}  // namespace tz::detail
