// The animation timeline: frames composited in order with the disposal methods of GIF89a,
// the wait after each frame and the number of passes.
#include "tz/gif.h"

#include <algorithm>
#include <climits>

#include "gif/render.h"
#include "tz/canvas.h"

namespace tz {

namespace {

// Delay units are counted as 12 ms, not the 10 ms the format means: existing animations are
// timed by it.
constexpr int kMillisecondsPerDelayUnit = 12;
constexpr int kDefaultDelay = 10;
constexpr int kShortestDelay = 3;

GifDisposal disposalOf(const GifFrame& frame) {
    const GifGraphicControl* control = frame.graphicControl();
    return control == nullptr ? GifDisposal::None : control->disposal();
}

Rect clippedBounds(const GifFrame& frame, const Bitmap& screen) {
    const Rect bounds = frame.bounds();
    return Rect{
        std::clamp(bounds.left, 0, screen.width()), std::clamp(bounds.top, 0, screen.height()),
        std::clamp(bounds.right, 0, screen.width()), std::clamp(bounds.bottom, 0, screen.height())};
}

void copyArea(Bitmap& target, const Bitmap& source, const Rect& area) {
    for (int y = area.top; y < area.bottom; ++y) {
        const std::uint8_t* in = source.row(y) + static_cast<std::size_t>(area.left) * 3;
        std::copy(in, in + static_cast<std::size_t>(area.width()) * 3,
                  target.row(y) + static_cast<std::size_t>(area.left) * 3);
    }
}

void fillArea(Bitmap& target, const Rect& area, Rgb color) {
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            target.setColor(x, y, color);
        }
    }
}

}  // namespace

GifAnimation::GifAnimation(const GifImage& image, int speedPercent)
    : GifAnimation(image, Bitmap(), speedPercent) {}

GifAnimation::GifAnimation(const GifImage& image, const Bitmap& background, int speedPercent)
    : m_image(image),
      m_background(image.width(), image.height()),
      m_speed(speedPercent),
      m_passes(image.loopCount().value_or(1)) {
    if (!background.empty()) {
        stretchDraw(m_background, Rect{0, 0, image.width(), image.height()}, background);
    }
    for (std::size_t i = 0; i < m_image.images().size(); ++i) {
        if (!m_image.images()[i].empty()) {
            m_frames.push_back(i);
        }
    }
    m_screen = m_background;
    if (!m_frames.empty()) {
        // The first look is the picture's own drawing, so it fails where drawing does.
        static_cast<void>(gif::renderingTable(m_image, m_image.images()[m_frames.front()]));
        drawFrame(0);
    }
}

bool GifAnimation::animated() const {
    return m_frames.size() > 1;
}

int GifAnimation::currentFrame() const {
    return m_frames.empty() ? -1 : static_cast<int>(m_frames[m_position]);
}

int GifAnimation::waitMilliseconds(int overrunMilliseconds) const {
    if (m_speed < 1) {
        return -1;
    }
    int delay = 0;
    if (!m_frames.empty()) {
        if (const GifGraphicControl* control =
                m_image.images()[m_frames[m_position]].graphicControl()) {
            delay = control->delay;
        }
    }
    if (delay == 0) {
        delay = kDefaultDelay;
    }
    delay = std::max(delay, kShortestDelay);
    const long long wait =
        static_cast<long long>(delay) * kMillisecondsPerDelayUnit - overrunMilliseconds / 2;
    const long long scaled = std::max(wait, 0LL) * 100 / m_speed;
    return static_cast<int>(std::min<long long>(scaled, INT_MAX));
}

bool GifAnimation::advance() {
    if (m_frames.empty()) {
        return false;
    }
    std::size_t next = m_position + 1;
    if (next == m_frames.size()) {
        if (m_passes != 0 && m_pass >= m_passes) {
            return false;
        }
        m_pass = m_pass == INT_MAX ? m_pass : m_pass + 1;
        next = 0;
    }
    dispose(m_position);
    m_position = next;
    drawFrame(m_position);
    return true;
}

void GifAnimation::drawFrame(std::size_t position) {
    const GifFrame& frame = m_image.images()[m_frames[position]];
    if (disposalOf(frame) == GifDisposal::RestorePrevious) {
        m_saved = m_screen;
    }
    gif::drawFrame(m_screen, Rect{0, 0, m_screen.width(), m_screen.height()}, m_image.width(),
                   m_image.height(), frame, m_image.activeColorTable(frame));
}

void GifAnimation::dispose(std::size_t position) {
    const GifFrame& frame = m_image.images()[m_frames[position]];
    const Rect area = clippedBounds(frame, m_screen);
    switch (disposalOf(frame)) {
        case GifDisposal::None:
        case GifDisposal::Keep:
            return;
        case GifDisposal::RestoreBackground: {
            // A transparent frame shows what it was drawn over, so its area returns to that;
            // an opaque one returns to the logical screen's background colour when the global
            // table holds it.
            const GifColorTable& global = m_image.globalColorTable();
            const int background = m_image.backgroundIndex();
            if (!frame.transparentIndex() && background < global.count()) {
                fillArea(m_screen, area, global.colors()[static_cast<std::size_t>(background)]);
            } else {
                copyArea(m_screen, m_background, area);
            }
            return;
        }
        case GifDisposal::RestorePrevious:
            if (m_saved.width() == m_screen.width() && m_saved.height() == m_screen.height()) {
                copyArea(m_screen, m_saved, area);
            }
            return;
    }
}

}  // namespace tz
