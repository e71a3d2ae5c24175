// The resampler's kernels beyond the public table: the fast sinc the Lanczos3 kernel uses.
#pragma once

namespace tz::detail {

// sinc(x) for 0 ≤ x < 3 (the Lanczos3 kernel's arguments), equal to it on every such single
// but without the library's extended sine where that cannot change the single result.
float fastSinc(float x);

}  // namespace tz::detail
