// Decoding RLE4 and RLE8 BMP pixel data.
#pragma once

#include <span>

#include "bmp/format.h"
#include "tz/bitmap.h"

namespace tz::bmp {

// RLE4 and RLE8 pixel data starting at the pixel offset and running to the end of the file.
// `endedEarly` tells whether the data stopped without its end-of-bitmap escape.
Bitmap decodeRle(const Layout& layout, std::span<const std::uint8_t> data, bool& endedEarly);

}  // namespace tz::bmp
