// One step of a sum and a sum's conversion to a channel byte, in extended precision.
#include "resample/arithmetic.h"

#include "tz/numeric.h"

namespace tz::detail {

float accumulate(float sum, std::uint8_t value, float weight) {
    return toSingle(static_cast<long double>(value) * weight + sum);
}

std::uint8_t toByte(float sum) {
    if (sum > 255.0f) {
        return 255;
    }
    if (!(sum >= 0.0f)) {  // below 0, or not a number
        return 0;
    }
    return static_cast<std::uint8_t>(roundHalfEven(sum));
}

}  // namespace tz::detail
