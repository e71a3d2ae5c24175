// How a stored picture is turned upright: the eight EXIF orientations and their exact pixel
// permutations.
#pragma once

#include <cstdint>

#include "tz/bitmap.h"

namespace tz {

// The values of the EXIF Orientation tag, named after the turn that makes the stored picture
// upright (rotations clockwise). Stored W × H, upright pixel (x, y) comes from stored pixel:
//   Normal          (x, y)                    MirrorHorizontal (W−1−x, y)
//   Rotate180       (W−1−x, H−1−y)            MirrorVertical   (x, H−1−y)
//   Transpose       (y, x)                    Rotate90         (y, H−1−x)
//   Transverse      (W−1−y, H−1−x)            Rotate270        (W−1−y, x)
// The last four give an upright picture of H × W.
enum class Orientation : std::uint8_t {
    Normal = 1,
    MirrorHorizontal = 2,
    Rotate180 = 3,
    MirrorVertical = 4,
    Transpose = 5,
    Rotate90 = 6,
    Transverse = 7,
    Rotate270 = 8,
};

// True for the four orientations whose upright picture exchanges width and height.
bool swapsWidthAndHeight(Orientation orientation);

// The upright picture of `stored`, in the same pixel format with the same colour table; every
// format, the packed indexed ones included. Normal hands `stored` back without a copy. Throws
// tz::Error when the machine cannot hold the turned copy.
Bitmap orientedUpright(Bitmap stored, Orientation orientation);

}  // namespace tz
