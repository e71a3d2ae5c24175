// The variable-length LZW coder of GIF image data (codes of 3 to 12 bits, least significant
// bit first) with the sub-block framing of its data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "tz/byte_buffer.h"

namespace tz::gif {

// GIF image data: sub-blocks of 1 to 255 bytes, each after its length byte, ended by a zero
// length byte (or, in a cut-short file, by the end of the bytes).
class SubBlocks {
  public:
    // The sub-blocks starting at `position` of `bytes`.
    SubBlocks(std::span<const std::uint8_t> bytes, std::size_t position);
    // Bytes of data the sub-blocks hold.
    std::size_t dataSize() const { return m_dataSize; }
    // The position just after the terminator (or the end of the bytes).
    std::size_t end() const { return m_end; }
    std::span<const std::uint8_t> bytes() const { return m_bytes; }
    std::size_t start() const { return m_start; }

  private:
    std::span<const std::uint8_t> m_bytes;
    std::size_t m_start;
    std::size_t m_end;
    std::size_t m_dataSize = 0;
};

// The frame's rows in the order the data holds them: top to bottom, or in the four passes
// of interlacing.
std::vector<int> rowOrder(int height, bool interlaced);

enum class LzwEnd {
    EndCode,        // the end-of-information code
    FrameComplete,  // every pixel decoded; further codes are not interpreted
    DataExhausted,  // the data ended first (a warning only: the rest stays index 0)
};

// Decodes the GIF LZW data of `blocks` into a frame of width × height indices stored in
// `pixels`, rows in interlaced order when asked. The storage holds whole rows and only as many
// as the data reaches, so a tiny file announcing a huge frame costs no huge allocation; the
// part of the last reached row the data left out is index 0. Indices beyond the frame are
// dropped.
// Throws GifError:
// - "Invalid GIF data" for a minimum code size outside 1..8, or a code above the next free
//   code (or any non-literal code where the table is empty, right after a clear code).
LzwEnd lzwDecodeFrame(const SubBlocks& blocks, int minCodeSize, int width, int height,
                      bool interlaced, ByteBuffer& pixels);

// Encodes indices (each below 2^minCodeSize, minCodeSize 2..8): a clear code first, the table
// reset with a clear code when the next free code would pass 4094, an end-of-information
// code last. Returns the packed bytes, not yet split into sub-blocks.
std::vector<std::uint8_t> lzwEncode(std::span<const std::uint8_t> indices, int minCodeSize);

}  // namespace tz::gif
