// Decoding uncompressed and bit-field BMP pixel data.
#pragma once

#include <span>

#include "bmp/format.h"
#include "tz/bitmap.h"

namespace tz::bmp {

// Uncompressed and bit-field pixel data, rows padded to 4 bytes. `data` starts at the pixel
// offset and runs to the end of the file; a short file is refused before anything is allocated.
Bitmap decodeUncompressed(const Layout& layout, std::span<const std::uint8_t> data);

}  // namespace tz::bmp
