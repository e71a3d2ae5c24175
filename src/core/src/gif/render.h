// Drawing one frame of a GIF picture into a rectangle of a 24-bit bitmap.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "tz/bitmap.h"
#include "tz/gif.h"

namespace tz::gif {

// What drawFrame does, a canvas row at a time: a whole canvas and rows drawn as they are read
// get the same pixels.
class FramePainter {
  public:
    // The frame drawn into `rect` of a canvas of canvasWidth × canvasHeight, as drawFrame.
    FramePainter(int canvasWidth, int canvasHeight, const Rect& rect, int screenWidth,
                 int screenHeight, const GifFrame& frame, const GifColorTable& table);

    // Draws the frame's pixels of canvas row y into `out` (24-bit, the canvas's width); the
    // pixels it does not cover keep what they hold.
    void paintRow(int y, std::uint8_t* out) const;
    // The canvas rows paintRow may change.
    int firstRow() const { return m_firstY; }
    int endRow() const { return m_lastY; }

  private:
    const GifFrame& m_frame;
    int m_firstX = 0;
    int m_lastX = 0;
    int m_firstY = 0;
    int m_lastY = 0;
    std::array<std::array<std::uint8_t, 3>, 256> m_colors{};  // blue, green, red per index
    int m_transparent = -1;
    std::vector<int> m_columns;  // per canvas column of the span, its frame column or -1
    std::vector<int> m_rows;     // the same for the rows
    bool m_oneToOne = false;     // every column in the frame, at its own scale
};

// Draws `frame` into `rect` of the 24-bit `canvas`: the logical screen (screenWidth ×
// screenHeight) is scaled to the rectangle by nearest-pixel sampling and the frame appears at
// its scaled position, clipped to the screen and the canvas. Indices outside `table` draw
// black; the frame's transparent index is left undrawn.
void drawFrame(Bitmap& canvas, const Rect& rect, int screenWidth, int screenHeight,
               const GifFrame& frame, const GifColorTable& table);

// The table `frame` of `image` is rendered with: its local table, else the global one. Throws
// GifError "No global or local color table defined" for a frame with pixels and neither table,
// rather than rendering it in black.
const GifColorTable& renderingTable(const GifImage& image, const GifFrame& frame);

}  // namespace tz::gif
