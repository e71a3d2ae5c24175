// The BMP format as the reader and the writer share it: header sizes, little-endian fields, and
// what the header reader learnt about a file, handed to the pixel decoders.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "tz/bitmap.h"

namespace tz::bmp {

// Sizes of the headers, by the versions that introduced them.
inline constexpr std::size_t kFileHeaderSize = 14;  // "BM", file size, reserved, pixel offset
inline constexpr std::size_t kOs2CoreHeaderSize = 12;
inline constexpr std::size_t kOs2ShortHeaderSize =
    16;  // an OS/2 2.x header cut after the bit count
inline constexpr std::size_t kOs2V2HeaderSize = 64;
inline constexpr std::size_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER, Windows 3
inline constexpr std::size_t kV2HeaderSize = 52;    // + red, green and blue masks
inline constexpr std::size_t kV3HeaderSize = 56;    // + alpha mask
inline constexpr std::size_t kV4HeaderSize = 108;
inline constexpr std::size_t kV5HeaderSize = 124;
// The info header follows the file header.
inline constexpr std::size_t kInfoHeaderOffset = kFileHeaderSize;

// Compression codes of the info header.
inline constexpr std::uint32_t kCompressionNone = 0;
inline constexpr std::uint32_t kCompressionRle8 = 1;
inline constexpr std::uint32_t kCompressionRle4 = 2;
inline constexpr std::uint32_t kCompressionBitFields = 3;  // OS/2 2.x: Huffman 1D
inline constexpr std::uint32_t kCompressionJpeg = 4;       // OS/2 2.x: RLE24
inline constexpr std::uint32_t kCompressionPng = 5;
inline constexpr std::uint32_t kCompressionAlphaBitFields = 6;

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

// The headers of a file, checked.
struct Headers {
    Layout layout;
    std::size_t dataOffset = 0;  // where the pixel data starts, within the file
};

// The bytes of a file's start that hold every header, the colour masks and the colour table
// (the largest info header, 16 bytes of masks and 256 entries of 4 bytes, with room to spare).
inline constexpr std::size_t kHeadersReadLimit = 4096;

// Parses and checks the headers of a file of `fileSize` bytes, of which `bytes` holds the first
// min(fileSize, kHeadersReadLimit) or more. Throws tz::Error naming the problem. Defined in
// bmp.cpp.
Headers readHeaders(std::span<const std::uint8_t> bytes, std::uint64_t fileSize);

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

}  // namespace tz::bmp
