// The resampler's path for pictures with alpha: premultiplied colour and alpha filtered by the
// 24-bit passes, un-premultiplied after.
#pragma once

#include "resample/weight_lists.h"
#include "tz/bitmap.h"
#include "tz/resample.h"

namespace tz::detail {

// Scales the 32-bit `source` into the 32-bit `destination` with the given lists (sized as in
// resampleWithLists), by the rule stated at resampleBitmap. `source` may be `destination`.
void resampleWithAlpha(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical, const ResampleOptions& options);

}  // namespace tz::detail
