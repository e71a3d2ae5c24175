// What the readers of formats with transparency and colour profiles (PNG, WebP, HEIF) give back.
#pragma once

#include <cstdint>
#include <vector>

#include "tz/bitmap.h"

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

// What a file's header tells before any pixel is decoded.
struct PictureHeader {
    int width = 0;
    int height = 0;
    bool alpha = false;  // the decoded bitmap will be 32-bit
};

}  // namespace tz
