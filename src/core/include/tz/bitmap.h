// The raster type shared by the codecs, the resampler and the workers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tz/byte_buffer.h"

namespace tz {

enum class PixelFormat { Bits1, Bits4, Bits8, Bits24, Bits32 };

int bitsPerPixel(PixelFormat format);

// One colour-table entry.
struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A colour with straight (not premultiplied) alpha: 0 is fully transparent, 255 opaque.
struct Rgba {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    std::uint8_t alpha = 255;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};

// How a pixel with alpha looks on white paper: each channel c·a/255 + 255·(1 − a/255), rounded
// to the nearest integer (no ties occur). Transparent GIF pixels show white the same way.
Rgb composeOverWhite(Rgba color);

// A rectangle given by its left, top, right and bottom edges (right and bottom exclusive).
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Width × height pixels, rows 0 (top) to height − 1, stored top-down without padding.
// 24-bit pixels are three bytes in blue, green, red order; 32-bit pixels are four bytes in blue,
// green, red, alpha order with straight alpha. 1-, 4- and 8-bit pixels are colour-table indices,
// packed most significant bits first. An index outside the colour table reads as black.
class Bitmap {
  public:
    // An empty 0 × 0 bitmap of 24 bits per pixel.
    Bitmap() = default;

    // A new bitmap is white: 24-bit pixels are 255, 255, 255, 32-bit pixels opaque white;
    // indexed pixels take the index of the first white entry of the colour table (0 when there
    // is none).
    // Throws tz::Error when the size is negative or needs more memory than the machine has.
    Bitmap(int width, int height, PixelFormat format = PixelFormat::Bits24,
           std::vector<Rgb> colorTable = {});

    // A bitmap whose every pixel the caller writes before anything reads it (a decoder's
    // output): its bytes are left unset, sparing a pass over a photograph-sized buffer.
    struct ForOverwrite {};
    Bitmap(ForOverwrite, int width, int height, PixelFormat format,
           std::vector<Rgb> colorTable = {});

    int width() const { return m_width; }
    int height() const { return m_height; }
    PixelFormat format() const { return m_format; }
    bool empty() const { return m_width == 0 || m_height == 0; }

    // Bytes per row.
    std::size_t stride() const { return m_stride; }

    std::uint8_t* row(int y) { return m_pixels.data() + static_cast<std::size_t>(y) * m_stride; }
    const std::uint8_t* row(int y) const {
        return m_pixels.data() + static_cast<std::size_t>(y) * m_stride;
    }
    std::span<std::uint8_t> pixels() { return m_pixels; }
    std::span<const std::uint8_t> pixels() const { return m_pixels; }

    const std::vector<Rgb>& colorTable() const { return m_colorTable; }
    void setColorTable(std::vector<Rgb> table) { m_colorTable = std::move(table); }

    // The colour-table index at (x, y) of an indexed bitmap.
    std::uint8_t index(int x, int y) const;
    void setIndex(int x, int y, std::uint8_t value);

    // The colour at (x, y) whatever the format; a 32-bit pixel as composed over white.
    Rgb color(int x, int y) const;
    // Sets a 24-bit pixel, or a 32-bit one to an opaque colour.
    void setColor(int x, int y, Rgb value);
    // The colour and alpha at (x, y): a 32-bit pixel as stored, any other one opaque.
    Rgba rgba(int x, int y) const;
    // Sets a 32-bit pixel; a 24-bit one takes the colour alone.
    void setRgba(int x, int y, Rgba value);

    // Changes the size; the content becomes white (as a new bitmap of that size).
    void setSize(int width, int height);

    // Converts the pixels to 24 bits in place, 32-bit ones composed over white; a 24-bit bitmap
    // is left as it is.
    void convertTo24();
    // A 24-bit copy.
    Bitmap to24() const;

    friend bool operator==(const Bitmap&, const Bitmap&) = default;

  private:
    int m_width = 0;
    int m_height = 0;
    PixelFormat m_format = PixelFormat::Bits24;
    std::size_t m_stride = 0;
    ByteBuffer m_pixels;
    std::vector<Rgb> m_colorTable;
};

// Bytes needed by a bitmap of that size and format; throws tz::Error on overflow.
std::size_t bitmapBytes(int width, int height, PixelFormat format);

// Throws tz::Error with a clear message when `bytes` more cannot be allocated without running
// the machine out of memory: admitted against the memory budget of the current thread's job
// (admitAllocation, tz/memory_budget.h), which may wait for other jobs to end.
void ensureAllocatable(std::size_t bytes, int width, int height);

}  // namespace tz
