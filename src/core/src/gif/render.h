// Drawing one frame of a GIF picture into a rectangle of a 24-bit bitmap.
#pragma once

#include "tz/bitmap.h"
#include "tz/gif.h"

namespace tz::gif {

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
