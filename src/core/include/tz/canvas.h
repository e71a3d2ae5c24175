// Drawing a bitmap into a rectangle of another, as pictures draw themselves onto a canvas.
#pragma once

#include "tz/bitmap.h"

namespace tz {

// Stretches `picture` into `rect` of the 24-bit `canvas` by nearest-pixel sampling; the parts of
// the rectangle outside the canvas are clipped. At the picture's own size it is an exact copy.
void stretchDraw(Bitmap& canvas, const Rect& rect, const Bitmap& picture);

}  // namespace tz
