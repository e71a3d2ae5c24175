// Writing 24-bit bottom-up BMP files.
#include <cstring>
#include <limits>
#include <string>

#include "bmp/format.h"
#include "tz/bmp.h"
#include "tz/errors.h"

namespace tz {

namespace {

using bmp::kFileHeaderSize;
using bmp::kInfoHeaderSize;

constexpr std::size_t kPixelOffset = kFileHeaderSize + kInfoHeaderSize;

class LittleEndianWriter {
  public:
    explicit LittleEndianWriter(std::vector<std::uint8_t>& out) : m_out(out) {}
    void u16(std::uint16_t value) {
        m_out.push_back(static_cast<std::uint8_t>(value));
        m_out.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void u32(std::uint32_t value) {
        u16(static_cast<std::uint16_t>(value));
        u16(static_cast<std::uint16_t>(value >> 16));
    }

  private:
    std::vector<std::uint8_t>& m_out;
};

void writeHeaders(std::vector<std::uint8_t>& out, const Bitmap& bitmap, std::uint32_t imageSize) {
    LittleEndianWriter write(out);
    out.push_back('B');
    out.push_back('M');
    write.u32(static_cast<std::uint32_t>(kPixelOffset) + imageSize);  // file size
    write.u32(0);                                                     // two reserved words
    write.u32(static_cast<std::uint32_t>(kPixelOffset));
    write.u32(static_cast<std::uint32_t>(kInfoHeaderSize));
    write.u32(static_cast<std::uint32_t>(bitmap.width()));
    write.u32(static_cast<std::uint32_t>(bitmap.height()));  // positive: rows stored bottom-up
    write.u16(1);                                            // planes
    write.u16(24);                                           // bits per pixel
    write.u32(bmp::kCompressionNone);
    write.u32(imageSize);
    // Resolution is left unstated (0), as the pictures carry none of their own.
    write.u32(0);
    write.u32(0);
    write.u32(0);  // colours used: no table
    write.u32(0);  // important colours
}

std::vector<std::uint8_t> encode24(const Bitmap& bitmap) {
    if (bitmap.empty()) {
        throw Error("Cannot write an empty picture as a BMP file");
    }
    const std::size_t usedRow = bitmap.stride();
    const std::size_t paddedRow = (usedRow + 3) / 4 * 4;
    const auto height = static_cast<std::size_t>(bitmap.height());
    constexpr std::size_t kLargest = std::numeric_limits<std::uint32_t>::max() - kPixelOffset;
    if (paddedRow > kLargest / height) {
        throw Error("Picture of " + std::to_string(bitmap.width()) + " x " +
                    std::to_string(bitmap.height()) + " is too large for a BMP file");
    }
    const std::size_t imageSize = paddedRow * height;
    ensureAllocatable(kPixelOffset + imageSize, bitmap.width(), bitmap.height());

    std::vector<std::uint8_t> out;
    out.reserve(kPixelOffset + imageSize);
    writeHeaders(out, bitmap, static_cast<std::uint32_t>(imageSize));
    out.resize(kPixelOffset + imageSize, 0);  // padding bytes stay 0
    std::uint8_t* pixels = out.data() + kPixelOffset;
    for (int y = 0; y < bitmap.height(); ++y) {
        const std::size_t stored = height - 1 - static_cast<std::size_t>(y);
        std::memcpy(pixels + stored * paddedRow, bitmap.row(y), usedRow);
    }
    return out;
}

}  // namespace

std::vector<std::uint8_t> encodeBmp(const Bitmap& bitmap) {
    if (bitmap.format() == PixelFormat::Bits24) {
        return encode24(bitmap);
    }
    return encode24(bitmap.to24());
}

}  // namespace tz
