// Turning stored pictures upright: one affine walk over the stored pixels per orientation.
#include "tz/orientation.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

namespace tz {

namespace {

// Upright pixel (x, y) comes from stored pixel (x0 + ax·x + bx·y, y0 + ay·x + by·y).
struct Walk {
    int x0, ax, bx;
    int y0, ay, by;
};

// The table in tz/orientation.h, written as walks over a stored picture of width × height.
Walk walkFor(Orientation orientation, int width, int height) {
    const int right = width - 1;
    const int bottom = height - 1;
    switch (orientation) {
        case Orientation::Normal:
            break;
        case Orientation::MirrorHorizontal:
            return {right, -1, 0, 0, 0, 1};
        case Orientation::Rotate180:
            return {right, -1, 0, bottom, 0, -1};
        case Orientation::MirrorVertical:
            return {0, 1, 0, bottom, 0, -1};
        case Orientation::Transpose:
            return {0, 0, 1, 0, 1, 0};
        case Orientation::Rotate90:
            return {0, 0, 1, bottom, -1, 0};
        case Orientation::Transverse:
            return {right, 0, -1, bottom, -1, 0};
        case Orientation::Rotate270:
            return {right, 0, -1, 0, 1, 0};
    }
    return {0, 1, 0, 0, 0, 1};
}

// Square tiles keep both the rows read and the rows written in cache when the walk goes down
// the stored columns.
constexpr int kTile = 64;

// Pixels of whole bytes (8 and 24 bits): byte offsets step by a constant per upright pixel.
template <std::size_t kPixelBytes>
void copyWholeBytePixels(const Bitmap& stored, const Walk& walk, Bitmap& upright) {
    const auto stride = static_cast<std::ptrdiff_t>(stored.stride());
    const auto pixel = static_cast<std::ptrdiff_t>(kPixelBytes);
    const std::ptrdiff_t stepX = walk.ax * pixel + walk.ay * stride;
    const std::ptrdiff_t stepY = walk.bx * pixel + walk.by * stride;
    const std::uint8_t* storedPixels = stored.pixels().data();
    const std::ptrdiff_t origin = walk.y0 * stride + walk.x0 * pixel;
    const int width = upright.width();
    const int height = upright.height();
    for (int tileY = 0; tileY < height; tileY += kTile) {
        const int endY = std::min(tileY + kTile, height);
        for (int tileX = 0; tileX < width; tileX += kTile) {
            const int endX = std::min(tileX + kTile, width);
            for (int y = tileY; y < endY; ++y) {
                // An offset, not a pointer: one step past the last pixel may point outside.
                std::ptrdiff_t in = origin + tileX * stepX + y * stepY;
                std::uint8_t* out = upright.row(y) + static_cast<std::size_t>(tileX) * kPixelBytes;
                for (int x = tileX; x < endX; ++x, in += stepX, out += kPixelBytes) {
                    std::memcpy(out, storedPixels + in, kPixelBytes);
                }
            }
        }
    }
}

// Packed pixels (1 and 4 bits) go one index at a time: such pictures are small.
void copyPackedPixels(const Bitmap& stored, const Walk& walk, Bitmap& upright) {
    for (int y = 0; y < upright.height(); ++y) {
        for (int x = 0; x < upright.width(); ++x) {
            upright.setIndex(x, y,
                             stored.index(walk.x0 + walk.ax * x + walk.bx * y,
                                          walk.y0 + walk.ay * x + walk.by * y));
        }
    }
}

}  // namespace

bool swapsWidthAndHeight(Orientation orientation) {
    switch (orientation) {
        case Orientation::Transpose:
        case Orientation::Rotate90:
        case Orientation::Transverse:
        case Orientation::Rotate270:
            return true;
        default:
            return false;
    }
}

Bitmap orientedUpright(Bitmap stored, Orientation orientation) {
    if (orientation == Orientation::Normal) {
        return stored;
    }
    const bool swapped = swapsWidthAndHeight(orientation);
    const int width = swapped ? stored.height() : stored.width();
    const int height = swapped ? stored.width() : stored.height();
    if (stored.empty()) {
        return Bitmap(width, height, stored.format(), stored.colorTable());
    }
    const Walk walk = walkFor(orientation, stored.width(), stored.height());
    switch (stored.format()) {
        case PixelFormat::Bits32: {
            Bitmap upright(Bitmap::ForOverwrite{}, width, height, PixelFormat::Bits32);
            copyWholeBytePixels<4>(stored, walk, upright);
            return upright;
        }
        case PixelFormat::Bits24: {
            Bitmap upright(Bitmap::ForOverwrite{}, width, height, PixelFormat::Bits24);
            copyWholeBytePixels<3>(stored, walk, upright);
            return upright;
        }
        case PixelFormat::Bits8: {
            Bitmap upright(Bitmap::ForOverwrite{}, width, height, PixelFormat::Bits8,
                           stored.colorTable());
            copyWholeBytePixels<1>(stored, walk, upright);
            return upright;
        }
        case PixelFormat::Bits1:
        case PixelFormat::Bits4:
            break;
    }
    // Set bits of the unused row ends stay as a new bitmap has them.
    Bitmap upright(width, height, stored.format(), stored.colorTable());
    copyPackedPixels(stored, walk, upright);
    return upright;
}

}  // namespace tz
