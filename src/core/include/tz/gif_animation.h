// The animation timeline of a GIF picture: which screen image shows now, how long it stays,
// and what the next frame makes of it. No threads and no toolkit: a caller's timer drives it.
#pragma once

#include <cstddef>
#include <vector>

#include "tz/bitmap.h"
#include "tz/gif.h"

namespace tz {

class GifAnimation {
  public:
    // Starts on the first frame drawn over a white screen-sized background. Keeps its own copy
    // of the picture's frames. `speedPercent` scales the waits (100 = as written). Throws
    // tz::Error when the logical screen needs more memory than the machine has.
    explicit GifAnimation(const GifImage& image, int speedPercent = 100);
    // The same over `background` (any size: it is stretched to the logical screen), as when a
    // picture is drawn over what its destination already shows.
    GifAnimation(const GifImage& image, const Bitmap& background, int speedPercent = 100);

    // More than one frame with pixels.
    bool animated() const;
    // The composited screen image now shown: 24 bits, logical screen size.
    const Bitmap& current() const { return m_screen; }
    // Index into GifImage::images() of the frame shown last; -1 when there is none.
    int currentFrame() const;
    // The wait after the current frame in milliseconds: its graphic control delay (absent or
    // 0 gives 10, below 3 gives 3), 12 ms per unit, less half of `overrunMilliseconds` (the
    // time by which the previous wait was exceeded), scaled by 100 / speed, never negative.
    // -1 when the speed is below 1: wait until woken.
    int waitMilliseconds(int overrunMilliseconds = 0) const;
    // Shows the next frame after carrying out the current frame's disposal method. At the end
    // of a pass starts the next pass if there is one; returns false when all passes are done,
    // staying on the last frame.
    bool advance();
    // Passes to play: the count of the first looping extension in frame order, 1 without one;
    // 0 means endless.
    int passes() const { return m_passes; }
    // The pass now playing, from 1.
    int currentPass() const { return m_pass; }

  private:
    void drawFrame(std::size_t position);
    void dispose(std::size_t position);

    GifImage m_image;
    std::vector<std::size_t> m_frames;  // indices of the frames with pixels
    Bitmap m_background;                // what the picture was drawn over
    Bitmap m_screen;
    Bitmap m_saved;              // the area under a frame that restores to previous
    std::size_t m_position = 0;  // into m_frames
    int m_speed = 100;
    int m_passes = 1;
    int m_pass = 1;
};

}  // namespace tz
