// Pixels in GoogleTest's failure messages as "(red, green, blue[, alpha])" rather than raw bytes.
// GoogleTest finds these through the pixel types' namespace, so they are declared in tz.
#pragma once

#include <ostream>

#include "tz/bitmap.h"

namespace tz {

inline void PrintTo(const Rgb& color, std::ostream* out) {
    *out << "(" << int{color.red} << ", " << int{color.green} << ", " << int{color.blue} << ")";
}

inline void PrintTo(const Rgba& color, std::ostream* out) {
    *out << "(" << int{color.red} << ", " << int{color.green} << ", " << int{color.blue} << ", "
         << int{color.alpha} << ")";
}

}  // namespace tz
