// Rendering a GIF picture's first frame: assignment to a bitmap and drawing into a rectangle.
#include "gif/render.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
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

// No pixels, no screen or no rectangle to draw into.
bool nothingShows(const Rect& rect, int screenWidth, int screenHeight, const GifFrame& frame) {
    return frame.empty() || screenWidth <= 0 || screenHeight <= 0 || rect.width() <= 0 ||
           rect.height() <= 0;
}

}  // namespace

FramePainter::FramePainter(int canvasWidth, int canvasHeight, const Rect& rect, int screenWidth,
                           int screenHeight, const GifFrame& frame, const GifColorTable& table)
    : m_frame(frame) {
    if (nothingShows(rect, screenWidth, screenHeight, frame)) {
        return;
    }
    m_firstX = std::max(rect.left, 0);
    m_lastX = std::min(rect.right, canvasWidth);
    m_firstY = std::max(rect.top, 0);
    m_lastY = std::min(rect.bottom, canvasHeight);
    if (m_firstX >= m_lastX || m_firstY >= m_lastY) {
        m_firstY = m_lastY = 0;
        return;
    }
    // Indices outside the table draw black.
    for (int i = 0; i < table.count(); ++i) {
        const Rgb c = table.colors()[static_cast<std::size_t>(i)];
        m_colors[static_cast<std::size_t>(i)] = {c.blue, c.green, c.red};
    }
    m_transparent = frame.transparentIndex().value_or(-1);
    m_columns = frameCoordinates(m_firstX, m_lastX, rect.left, rect.width(), screenWidth,
                                 frame.left(), frame.width());
    m_rows = frameCoordinates(m_firstY, m_lastY, rect.top, rect.height(), screenHeight, frame.top(),
                              frame.height());
    // Drawing at the frame's own scale with every column inside it, the common case, needs
    // no column map.
    m_oneToOne = !m_columns.empty() && m_columns.front() >= 0 &&
                 m_columns.back() == m_columns.front() + (m_lastX - m_firstX - 1) &&
                 std::adjacent_find(m_columns.begin(), m_columns.end(),
                                    [](int a, int b) { return b != a + 1; }) == m_columns.end();
}

void FramePainter::paintRow(int y, std::uint8_t* out) const {
    if (y < m_firstY || y >= m_lastY) {
        return;
    }
    const int frameY = m_rows[static_cast<std::size_t>(y - m_firstY)];
    if (frameY < 0) {
        return;
    }
    const auto line = m_frame.row(frameY);  // empty: never decoded, all index 0
    if (m_oneToOne && m_transparent < 0 && !line.empty()) {
        const std::uint8_t* in = line.data() + m_columns.front();
        std::uint8_t* pixel = out + static_cast<std::size_t>(m_firstX) * 3;
        for (int x = m_firstX; x < m_lastX; ++x, pixel += 3) {
            const auto& color = m_colors[*in++];
            pixel[0] = color[0];
            pixel[1] = color[1];
            pixel[2] = color[2];
        }
        return;
    }
    for (int x = m_firstX; x < m_lastX; ++x) {
        const int frameX = m_columns[static_cast<std::size_t>(x - m_firstX)];
        if (frameX < 0) {
            continue;
        }
        const int index = line.empty() ? 0 : line[static_cast<std::size_t>(frameX)];
        if (index == m_transparent) {
            continue;
        }
        const auto& color = m_colors[static_cast<std::size_t>(index)];
        std::uint8_t* pixel = out + static_cast<std::size_t>(x) * 3;
        pixel[0] = color[0];
        pixel[1] = color[1];
        pixel[2] = color[2];
    }
}

void drawFrame(Bitmap& canvas, const Rect& rect, int screenWidth, int screenHeight,
               const GifFrame& frame, const GifColorTable& table) {
    if (nothingShows(rect, screenWidth, screenHeight, frame)) {
        return;
    }
    canvas.convertTo24();
    const FramePainter painter(canvas.width(), canvas.height(), rect, screenWidth, screenHeight,
                               frame, table);
    for (int y = painter.firstRow(); y < painter.endRow(); ++y) {
        painter.paintRow(y, canvas.row(y));
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

namespace {

class DrawnRows final : public PictureRows {
  public:
    explicit DrawnRows(GifImage picture) : m_picture(std::move(picture)) {
        if (!m_picture.empty()) {
            const GifFrame& first = m_picture.images().front();
            m_painter.emplace(width(), height(), Rect{0, 0, width(), height()}, width(), height(),
                              first, gif::renderingTable(m_picture, first));
        }
    }

    int width() const override { return m_picture.width(); }
    int height() const override { return m_picture.height(); }
    // Every row is drawn from the frame's indices, held whole.
    double skipCost() const override { return 0.0; }
    std::unique_ptr<RowReader> readerFrom(int first) override {
        return std::make_unique<Reader>(*this, first);
    }
    bool incomplete() const override {
        return !m_picture.empty() && !m_picture.images().front().complete();
    }

  private:
    class Reader final : public RowReader {
      public:
        Reader(const DrawnRows& rows, int first) : m_rows(rows), m_next(first) {}

        std::span<const std::uint8_t* const> nextRows(int count) override {
            const std::size_t rowBytes = static_cast<std::size_t>(m_rows.width()) * 3;
            m_pixels.assign(rowBytes * static_cast<std::size_t>(count), 0xFF);
            m_pointers.resize(static_cast<std::size_t>(count));
            for (int r = 0; r < count; ++r) {
                std::uint8_t* row = m_pixels.data() + rowBytes * static_cast<std::size_t>(r);
                if (m_rows.m_painter) {
                    m_rows.m_painter->paintRow(m_next + r, row);
                }
                m_pointers[static_cast<std::size_t>(r)] = row;
            }
            m_next += count;
            return m_pointers;
        }

      private:
        const DrawnRows& m_rows;
        int m_next;
        std::vector<std::uint8_t> m_pixels;
        std::vector<const std::uint8_t*> m_pointers;
    };

    GifImage m_picture;
    std::optional<gif::FramePainter> m_painter;  // none without frames
};

}  // namespace

std::unique_ptr<PictureRows> drawnRows(GifImage picture) {
    return std::make_unique<DrawnRows>(std::move(picture));
}

}  // namespace tz
