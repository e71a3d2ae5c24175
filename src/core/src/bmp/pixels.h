// Decoding uncompressed and bit-field BMP pixel data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "bmp/format.h"
#include "tz/bitmap.h"

namespace tz::bmp {

// Uncompressed and bit-field pixel data, rows padded to 4 bytes. `data` starts at the pixel
// offset and runs to the end of the file; a short file is refused before anything is allocated.
Bitmap decodeUncompressed(const Layout& layout, std::span<const std::uint8_t> data);

// The bytes of one stored row, padding included.
std::uint64_t storedRowBytes(const Layout& layout);
// Refuses `available` bytes of pixel data that are too few for the picture.
void checkDataLength(const Layout& layout, std::uint64_t available);
// The format uncompressed pixels are decoded into: indexed up to 8 bits, else 24-bit.
PixelFormat decodedFormat(const Layout& layout);
// One stored row `in` into `out`, a row of a bitmap of decodedFormat(layout) `outBytes` long.
void decodeRow(const Layout& layout, const std::uint8_t* in, std::uint8_t* out,
               std::size_t outBytes);

}  // namespace tz::bmp
