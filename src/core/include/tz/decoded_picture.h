// What the picture readers give back: whole pictures (PNG, WebP, HEIF), or rows read as needed.
#pragma once

#include <cstdint>
#include <vector>

#include "tz/bitmap.h"
#include "tz/resample.h"

namespace tz {

// A decoded picture: its pixels and what the file said about them.
struct DecodedPicture {
    // 24 bits per pixel, or 32 bits (straight alpha) when the file has alpha.
    Bitmap bitmap;
    // The embedded ICC colour profile as stored in the file; empty when there is none.
    std::vector<std::uint8_t> iccProfile;
    // Whether the file's compression loses nothing (PNG, lossless WebP).
    bool lossless = false;
};

// A picture decoded row by row as the resampler reads it (resampleRows), never held whole.
class PictureRows : public RowSource {
  public:
    // Whether the data ended before the picture did, the missing part filled as the format's
    // reader fills it; known once every reader is gone and finish() was called.
    virtual bool incomplete() const { return false; }
    // Reads what no reader needed up to the end of the data, so that incomplete() is known.
    virtual void finish() {}
};

// What a file's header tells before any pixel is decoded.
struct PictureHeader {
    int width = 0;
    int height = 0;
    bool alpha = false;  // the decoded bitmap will be 32-bit
};

}  // namespace tz
