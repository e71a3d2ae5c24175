// The numeric model shared by the resampler and the target-size rule: extended precision,
// rounding to single at stated points, and rounding half to even.
#pragma once

#include <cfenv>
#include <cmath>
#include <limits>

namespace tz {

static_assert(std::numeric_limits<long double>::digits == 64,
              "the arithmetic needs an extended type with a 64-bit significand");

// Rounds an extended value to single precision (round to nearest, ties to even).
inline float toSingle(long double value) {
    return static_cast<float>(value);
}

// Rounds to the nearest integer, an exact half going to the even neighbour.
// Relies on the default rounding mode, which the program never changes.
inline long long roundHalfEven(long double value) {
    return std::llrint(value);
}

}  // namespace tz
