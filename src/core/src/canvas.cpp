// Nearest-pixel stretching of one bitmap into a rectangle of another.
#include "tz/canvas.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tz {

namespace {

// The source coordinate each destination coordinate of the rectangle samples.
std::vector<int> sampleMap(int destinationLength, int sourceLength) {
    std::vector<int> map(static_cast<std::size_t>(std::max(destinationLength, 0)));
    for (int i = 0; i < destinationLength; ++i) {
        const long long scaled = static_cast<long long>(i) * sourceLength / destinationLength;
        map[static_cast<std::size_t>(i)] =
            static_cast<int>(std::min<long long>(scaled, sourceLength - 1));
    }
    return map;
}

}  // namespace

void stretchDraw(Bitmap& canvas, const Rect& rect, const Bitmap& picture) {
    if (picture.empty() || rect.width() <= 0 || rect.height() <= 0) {
        return;
    }
    canvas.convertTo24();
    const Bitmap* source = &picture;
    Bitmap converted;
    if (picture.format() != PixelFormat::Bits24) {
        converted = picture.to24();
        source = &converted;
    }
    const bool sameSize = rect.width() == source->width() && rect.height() == source->height();
    const std::vector<int> columns = sampleMap(rect.width(), source->width());
    const std::vector<int> rows = sampleMap(rect.height(), source->height());
    const int firstX = std::max(rect.left, 0);
    const int lastX = std::min(rect.right, canvas.width());
    const int firstY = std::max(rect.top, 0);
    const int lastY = std::min(rect.bottom, canvas.height());
    for (int y = firstY; y < lastY; ++y) {
        const std::uint8_t* in = source->row(rows[static_cast<std::size_t>(y - rect.top)]);
        std::uint8_t* out = canvas.row(y);
        if (sameSize) {
            std::memcpy(out + static_cast<std::size_t>(firstX) * 3,
                        in + static_cast<std::size_t>(firstX - rect.left) * 3,
                        static_cast<std::size_t>(lastX - firstX) * 3);
            continue;
        }
        for (int x = firstX; x < lastX; ++x) {
            const std::uint8_t* pixel =
                in + static_cast<std::size_t>(columns[static_cast<std::size_t>(x - rect.left)]) * 3;
            std::memcpy(out + static_cast<std::size_t>(x) * 3, pixel, 3);
        }
    }
}

}  // namespace tz
