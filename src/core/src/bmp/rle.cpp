// RLE4 and RLE8 BMP pixel data: encoded runs, absolute runs and the three escapes.
#include <algorithm>
#include <string>

#include "bmp/rle.h"
#include "tz/errors.h"

namespace tz::bmp {

namespace {

// Every two bytes of RLE data write at most 255 pixels; delta escapes and an early end leave
// pixels unwritten. A picture larger than its data could write is accepted up to this many
// pixels (pictures that are mostly skipped areas), and refused beyond it.
constexpr std::uint64_t kUnwrittenPixelAllowance = std::uint64_t{1} << 24;
constexpr std::uint64_t kPixelsPerRun = 255;

void checkDescribable(const Layout& layout, std::size_t dataBytes) {
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(layout.width) * static_cast<std::uint64_t>(layout.height);
    const std::uint64_t writable = dataBytes / 2 * kPixelsPerRun;
    if (pixels > std::max(writable, kUnwrittenPixelAllowance)) {
        throw Error("BMP picture of " + std::to_string(layout.width) + " x " +
                    std::to_string(layout.height) + " is larger than its RLE data can describe");
    }
}

// Writes runs into the bitmap, clipping at the right edge. The format forbids top-down RLE, but
// such files exist and every common reader shows them as stored, so they are read top-down too.
// Positions are kept in 64 bits, so runs and deltas cannot overflow them within any file size.
class RleCanvas {
  public:
    RleCanvas(Bitmap& bitmap, bool topDown) : m_bitmap(bitmap), m_topDown(topDown) {}

    void endLine() {
        m_x = 0;
        ++m_row;
    }
    void move(int dx, int dy) {
        m_x += dx;
        m_row += dy;
    }
    // Pixels past the end of a row are dropped (a common writer fault); pixels below the last
    // row mean the data is broken.
    void put(std::uint8_t index) {
        if (m_row >= m_bitmap.height()) {
            throw Error("BMP RLE data writes past the end of the picture");
        }
        if (m_x < m_bitmap.width()) {
            const int row = static_cast<int>(m_row);
            m_bitmap.setIndex(static_cast<int>(m_x), m_topDown ? row : m_bitmap.height() - 1 - row,
                              index);
        }
        ++m_x;
    }

  private:
    Bitmap& m_bitmap;
    bool m_topDown;
    std::int64_t m_x = 0;
    std::int64_t m_row = 0;  // in stored order
};

[[noreturn]] void truncatedRun() {
    throw Error("BMP file truncated: RLE data ends inside a run");
}

}  // namespace

Bitmap decodeRle(const Layout& layout, std::span<const std::uint8_t> data, bool& endedEarly) {
    checkDescribable(layout, data.size());
    const bool fourBit = layout.compression == Compression::Rle4;
    Bitmap bitmap(layout.width, layout.height, fourBit ? PixelFormat::Bits4 : PixelFormat::Bits8,
                  layout.colorTable);
    // Pixels the data never writes take index 0, whatever the white entry is.
    std::ranges::fill(bitmap.pixels(), std::uint8_t{0});
    RleCanvas canvas(bitmap, layout.topDown);

    // Each pass consumes at least two bytes, so the loop ends with the data. A stream that ends
    // without its end-of-bitmap escape keeps what it wrote.
    endedEarly = false;
    std::size_t at = 0;
    while (data.size() - at >= 2) {
        const int count = data[at];
        const std::uint8_t value = data[at + 1];
        at += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) {
                canvas.put(fourBit
                               ? static_cast<std::uint8_t>((i & 1) == 0 ? value >> 4 : value & 0x0F)
                               : value);
            }
        } else if (value == 0) {
            canvas.endLine();
        } else if (value == 1) {
            return bitmap;
        } else if (value == 2) {
            if (data.size() - at < 2) {
                truncatedRun();
            }
            canvas.move(data[at], data[at + 1]);
            at += 2;
        } else {
            const std::size_t bytes = fourBit ? (value + 1u) / 2 : value;
            if (data.size() - at < bytes) {
                truncatedRun();
            }
            for (int i = 0; i < value; ++i) {
                const std::uint8_t packed = data[at + (fourBit ? i / 2 : i)];
                canvas.put(
                    fourBit ? static_cast<std::uint8_t>((i & 1) == 0 ? packed >> 4 : packed & 0x0F)
                            : packed);
            }
            // Absolute runs are padded to an even byte count; the pad of the last run may be
            // missing.
            at = std::min(data.size(), at + bytes + (bytes & 1));
        }
    }
    if (at != data.size()) {
        truncatedRun();
    }
    endedEarly = true;
    return bitmap;
}

}  // namespace tz::bmp
