// Uncompressed BMP pixel rows: indexed, 24-bit and bit-field (16- and 32-bit) pixels.
#include <cstring>
#include <string>

#include "bmp/pixels.h"
#include "tz/errors.h"

namespace tz::bmp {

namespace {

std::uint64_t usedRowBytes(const Layout& layout) {
    const std::uint64_t bits =
        static_cast<std::uint64_t>(layout.width) * static_cast<std::uint64_t>(layout.bitCount);
    return (bits + 7) / 8;
}

}  // namespace

// Stored rows are padded to a multiple of 4 bytes. The width is at most 2^31 and the bit count
// at most 32, so 64 bits hold every product here.
std::uint64_t storedRowBytes(const Layout& layout) {
    const std::uint64_t bits =
        static_cast<std::uint64_t>(layout.width) * static_cast<std::uint64_t>(layout.bitCount);
    return (bits + 31) / 32 * 4;
}

// Refuses data too short for the picture, before anything is allocated. The padding of the
// last row may be missing: some writers leave it out.
void checkDataLength(const Layout& layout, std::uint64_t available) {
    const std::uint64_t stride = storedRowBytes(layout);
    const std::uint64_t completeRows = available / stride;
    const auto height = static_cast<std::uint64_t>(layout.height);
    if (completeRows >= height) {
        return;
    }
    if (completeRows == height - 1 && available - completeRows * stride >= usedRowBytes(layout)) {
        return;
    }
    throw Error("BMP file truncated: pixel data ends in row " + std::to_string(completeRows + 1) +
                " of " + std::to_string(layout.height));
}

PixelFormat decodedFormat(const Layout& layout) {
    switch (layout.bitCount) {
        case 1:
            return PixelFormat::Bits1;
        case 2:  // no 2-bit bitmaps here: the indices widen to 4 bits
        case 4:
            return PixelFormat::Bits4;
        case 8:
            return PixelFormat::Bits8;
        default:
            return PixelFormat::Bits24;
    }
}

namespace {

// Clears the bits past the last pixel of a packed row, so equal pictures compare equal.
void clearTrailingBits(std::uint8_t* row, int width, int bitCount, std::size_t rowBytes) {
    const auto usedBits = static_cast<unsigned>(
        (static_cast<std::uint64_t>(width) * static_cast<unsigned>(bitCount)) % 8);
    if (usedBits != 0) {
        row[rowBytes - 1] &= static_cast<std::uint8_t>(0xFF << (8 - usedBits));
    }
}

void widenTwoBitRow(const std::uint8_t* in, std::uint8_t* out, int width) {
    for (int x = 0; x < width; ++x) {
        const int index = (in[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        if ((x & 1) == 0) {
            out[x >> 1] = static_cast<std::uint8_t>(index << 4);
        } else {
            out[x >> 1] = static_cast<std::uint8_t>(out[x >> 1] | index);
        }
    }
}

// Scales a channel value of any width to 0..255, rounding to nearest: a 5-bit 31 gives 255.
std::uint8_t scaleChannel(std::uint32_t pixel, const ChannelMask& channel) {
    if (channel.maximum == 0) {
        return 0;
    }
    const std::uint64_t value = (pixel & channel.mask) >> channel.shift;
    return static_cast<std::uint8_t>((value * 255 + channel.maximum / 2) / channel.maximum);
}

void decodeMaskedRow(const Layout& layout, const std::uint8_t* in, std::uint8_t* out) {
    const int bytesPerPixel = layout.bitCount / 8;
    for (int x = 0; x < layout.width; ++x) {
        const std::uint8_t* p = in + static_cast<std::size_t>(x) * bytesPerPixel;
        std::uint32_t pixel = p[0] | (p[1] << 8);
        if (bytesPerPixel == 4) {
            pixel |=
                (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
        }
        *out++ = scaleChannel(pixel, layout.blue);
        *out++ = scaleChannel(pixel, layout.green);
        *out++ = scaleChannel(pixel, layout.red);
    }
}

}  // namespace

void decodeRow(const Layout& layout, const std::uint8_t* in, std::uint8_t* out,
               std::size_t outBytes) {
    switch (layout.bitCount) {
        case 1:
        case 4:
        case 8:
            std::memcpy(out, in, outBytes);
            clearTrailingBits(out, layout.width, layout.bitCount, outBytes);
            break;
        case 2:
            widenTwoBitRow(in, out, layout.width);
            break;
        case 24:
            std::memcpy(out, in, outBytes);
            break;
        default:
            decodeMaskedRow(layout, in, out);
            break;
    }
}

Bitmap decodeUncompressed(const Layout& layout, std::span<const std::uint8_t> data) {
    checkDataLength(layout, data.size());
    const PixelFormat format = decodedFormat(layout);
    // The data was checked to reach every row, and each row is written whole below.
    Bitmap bitmap(Bitmap::ForOverwrite{}, layout.width, layout.height, format,
                  format == PixelFormat::Bits24 ? std::vector<Rgb>{} : layout.colorTable);
    const auto stride = static_cast<std::size_t>(storedRowBytes(layout));
    for (int stored = 0; stored < layout.height; ++stored) {
        const std::uint8_t* in = data.data() + static_cast<std::size_t>(stored) * stride;
        decodeRow(layout, in, bitmap.row(layout.topDown ? stored : layout.height - 1 - stored),
                  bitmap.stride());
    }
    return bitmap;
}

}  // namespace tz::bmp
