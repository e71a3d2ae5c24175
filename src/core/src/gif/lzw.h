// The variable-length LZW coder of GIF image data (codes of 3 to 12 bits, least significant
// bit first) and the row writer that receives decoded indices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tz::gif {

// Largest LZW code; the decoder's table has this many entries plus one.
inline constexpr int kMaxCode = 4095;

// Receives decoded indices row by row, in interlaced row order when asked, growing the
// frame's storage only as far as the data reaches.
class FrameRows {
  public:
    FrameRows(std::vector<std::uint8_t>& pixels, int width, int height, bool interlaced);
    // Stores up to `count` indices; the rest of a string that passes the last pixel is
    // dropped. Returns false once the frame is complete.
    bool put(const std::uint8_t* indices, std::size_t count);
    bool complete() const { return m_done; }

  private:
    void startRow();
    void nextRow();

    std::vector<std::uint8_t>& m_pixels;
    std::size_t m_width;
    std::size_t m_total;
    bool m_interlaced;
    int m_height;
    int m_pass = 0;
    int m_y = 0;
    std::size_t m_x = 0;
    std::uint8_t* m_row = nullptr;
    bool m_done;
};

enum class LzwEnd {
    EndCode,        // the end-of-information code
    FrameComplete,  // every pixel decoded; further codes are not interpreted
    DataExhausted,  // the data ended first (a warning only: the rest stays index 0)
};

// Decodes GIF LZW data (the sub-blocks' bytes joined) into `rows`.
// Throws GIFException:
// - "Invalid GIF data" for a minimum code size outside 1..8, or a code above the next free
//   code (or any non-literal code where the table is empty, right after a clear code);
// - "Circular decoder table entry" when a code's chain of prefixes does not reach a root
//   within the table's 4096 entries (a guard keeping the walk bounded: tables this decoder
//   builds always point to smaller codes).
LzwEnd lzwDecode(std::span<const std::uint8_t> data, int minCodeSize, FrameRows& rows);

// Encodes indices (each below 2^minCodeSize, minCodeSize 2..8): a clear code first, the table
// reset with a clear code when the next free code would pass 4094, an end-of-information
// code last. Returns the packed bytes, not yet split into sub-blocks.
std::vector<std::uint8_t> lzwEncode(std::span<const std::uint8_t> indices, int minCodeSize);

}  // namespace tz::gif
