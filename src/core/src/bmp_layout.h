// What the BMP header reader learnt about a file, handed to the pixel decoders.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tz/bitmap.h"

namespace tz::bmp {

enum class Compression { None, Rle8, Rle4, BitFields };

// One colour channel of a 16- or 32-bit pixel: a contiguous mask (or 0 for a missing channel).
struct ChannelMask {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint64_t maximum = 0;  // mask >> shift
};

// The validated header: sizes are positive, the bit count and compression agree, masks are
// contiguous and fit the pixel, the colour table has at most 2^bitCount entries.
struct Layout {
    int width = 0;
    int height = 0;
    bool topDown = false;
    int bitCount = 0;
    Compression compression = Compression::None;
    ChannelMask red;
    ChannelMask green;
    ChannelMask blue;
    std::vector<Rgb> colorTable;
};

// Little-endian reads; the caller has checked that the bytes are there.
inline std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

inline std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) |
           (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[at + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

// Uncompressed and bit-field pixel data, rows padded to 4 bytes. `data` starts at the pixel
// offset and runs to the end of the file; a short file is refused before anything is allocated.
Bitmap decodeUncompressed(const Layout& layout, std::span<const std::uint8_t> data);

// RLE4 and RLE8 pixel data starting at the pixel offset and running to the end of the file.
Bitmap decodeRle(const Layout& layout, std::span<const std::uint8_t> data);

}  // namespace tz::bmp
