// Rendering a GIF picture's first frame: assignment to a bitmap and drawing into a rectangle.
#include "gif/render.h"

#include <algorithm>
#include <array>
#include <vector>

#include "tz/errors.h"

namespace tz::gif {

namespace {

// For each coordinate of the canvas span [first, last) the frame coordinate it samples, or -1
// where it falls outside the frame.
std::vector<int> frameCoordinates(int first, int last, int rectStart, int rectLength,
                                  int screenLength, int frameStart, int frameLength) {
    std::vector<int> map(static_cast<std::size_t>(std::max(last - first, 0)), -1);
    for (int c = first; c < last; ++c) {
        const long long screen = static_cast<long long>(c - rectStart) * screenLength / rectLength;
        const long long inFrame = screen - frameStart;
        if (screen < screenLength && inFrame >= 0 && inFrame < frameLength) {
            map[static_cast<std::size_t>(c - first)] = static_cast<int>(inFrame);
        }
    }
    return map;
}

}  // namespace

void drawFrame(Bitmap& canvas, const Rect& rect, int screenWidth, int screenHeight,
               const GifFrame& frame, const GifColorTable& table) {
    if (frame.empty() || screenWidth <= 0 || screenHeight <= 0 || rect.width() <= 0 ||
        rect.height() <= 0) {
        return;
    }
    canvas.convertTo24();
    const int firstX = std::max(rect.left, 0);
    const int lastX = std::min(rect.right, canvas.width());
    const int firstY = std::max(rect.top, 0);
    const int lastY = std::min(rect.bottom, canvas.height());
    if (firstX >= lastX || firstY >= lastY) {
        return;
    }
    // Blue, green, red per index; indices outside the table draw black.
    std::array<std::array<std::uint8_t, 3>, 256> colors{};
    for (int i = 0; i < table.count(); ++i) {
        const Rgb c = table.colors()[static_cast<std::size_t>(i)];
        colors[static_cast<std::size_t>(i)] = {c.blue, c.green, c.red};
    }
    const int transparent = frame.transparentIndex().value_or(-1);
    const std::vector<int> columns = frameCoordinates(firstX, lastX, rect.left, rect.width(),
                                                      screenWidth, frame.left(), frame.width());
    const std::vector<int> rows = frameCoordinates(firstY, lastY, rect.top, rect.height(),
                                                   screenHeight, frame.top(), frame.height());
    // Drawing at the frame's own scale with every column inside it, the common case, needs
    // no column map.
    const bool oneToOne = !columns.empty() && columns.front() >= 0 &&
                          columns.back() == columns.front() + (lastX - firstX - 1) &&
                          std::adjacent_find(columns.begin(), columns.end(), [](int a, int b) {
                              return b != a + 1;
                          }) == columns.end();
    for (int y = firstY; y < lastY; ++y) {
        const int frameY = rows[static_cast<std::size_t>(y - firstY)];
        if (frameY < 0) {
            continue;
        }
        const auto line = frame.row(frameY);  // empty: never decoded, all index 0
        std::uint8_t* out = canvas.row(y);
        if (oneToOne && transparent < 0 && !line.empty()) {
            const std::uint8_t* in = line.data() + columns.front();
            std::uint8_t* pixel = out + static_cast<std::size_t>(firstX) * 3;
            for (int x = firstX; x < lastX; ++x, pixel += 3) {
                const auto& color = colors[*in++];
                pixel[0] = color[0];
                pixel[1] = color[1];
                pixel[2] = color[2];
            }
            continue;
        }
        for (int x = firstX; x < lastX; ++x) {
            const int frameX = columns[static_cast<std::size_t>(x - firstX)];
            if (frameX < 0) {
                continue;
            }
            const int index = line.empty() ? 0 : line[static_cast<std::size_t>(frameX)];
            if (index == transparent) {
                continue;
            }
            const auto& color = colors[static_cast<std::size_t>(index)];
            std::uint8_t* pixel = out + static_cast<std::size_t>(x) * 3;
            pixel[0] = color[0];
            pixel[1] = color[1];
            pixel[2] = color[2];
        }
    }
}

const GifColorTable& renderingTable(const GifImage& image, const GifFrame& frame) {
    const GifColorTable& table = image.activeColorTable(frame);
    if (table.empty() && !frame.empty()) {
        throw GifError("No global or local color table defined");
    }
    return table;
}

}  // namespace tz::gif

namespace tz {

void GifImage::draw(Bitmap& canvas, const Rect& rect) const {
    if (m_images.empty()) {
        return;
    }
    const GifFrame& first = m_images.front();
    gif::drawFrame(canvas, rect, m_screenWidth, m_screenHeight, first,
                   gif::renderingTable(*this, first));
}

void GifImage::assignTo(Bitmap& target) const {
    if (m_images.empty()) {
        return;
    }
    const GifFrame& first = m_images.front();
    if (first.width() == m_screenWidth && first.height() == m_screenHeight) {
        // The frame itself; transparent pixels keep their table colour.
        Bitmap bitmap(first.width(), first.height(), PixelFormat::Bits8,
                      gif::renderingTable(*this, first).colors());
        for (int y = 0; y < first.height(); ++y) {
            const auto line = first.row(y);
            std::uint8_t* out = bitmap.row(y);
            if (line.empty()) {
                std::fill(out, out + first.width(), std::uint8_t{0});
            } else {
                std::copy(line.begin(), line.end(), out);
            }
        }
        target = std::move(bitmap);
        return;
    }
    Bitmap bitmap(m_screenWidth, m_screenHeight);
    draw(bitmap, Rect{0, 0, m_screenWidth, m_screenHeight});
    target = std::move(bitmap);
}

}  // namespace tz
