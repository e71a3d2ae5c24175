// The image control of the preview and the viewer.
#include "animated_image.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <exception>

namespace tz::app {

AnimatedImage::AnimatedImage(QWidget* parent) : QWidget(parent) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &AnimatedImage::showNextFrame);
}

AnimatedImage::~AnimatedImage() = default;

void AnimatedImage::setPicture(ScreenPicture picture) {
    m_timer.stop();
    m_picture = std::move(picture);
    m_shown = m_picture.still;
    if (m_picture.animation) {
        scheduleNextFrame(0);
    }
    update();
}

void AnimatedImage::clear() {
    setPicture({});
}

void AnimatedImage::setStretch(bool stretch) {
    m_stretch = stretch;
    update();
}

int AnimatedImage::currentFrame() const {
    return m_picture.animation ? m_picture.animation->currentFrame() : 0;
}

void AnimatedImage::scheduleNextFrame(int overrunMilliseconds) {
    m_wait = m_picture.animation->waitMilliseconds(overrunMilliseconds);
    if (m_wait < 0) {
        return;  // a speed below 1 waits to be woken, which nothing here does
    }
    m_waitClock.start();
    m_timer.start(m_wait);
}

void AnimatedImage::showNextFrame() {
    if (!m_picture.animation) {
        return;
    }
    // The timeline shortens the next wait by half of how late this frame comes.
    const qint64 late = m_waitClock.elapsed() - m_wait;
    const int overrun = static_cast<int>(std::clamp<qint64>(late, 0, 60'000));
    try {
        const bool more = m_picture.animation->advance();
        m_shown = toQImage(m_picture.animation->current());
        update();
        if (more) {
            scheduleNextFrame(overrun);
        }
    } catch (const std::exception&) {
        // A frame that cannot be shown ends the animation; the last frame shown stays.
        m_timer.stop();
    }
}

void AnimatedImage::paintEvent(QPaintEvent* /*event*/) {
    if (m_shown.isNull()) {
        return;
    }
    QPainter painter(this);
    if (m_stretch) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), m_shown);
        return;
    }
    const QSize free = size() - m_shown.size();
    painter.drawImage(QPoint(free.width() / 2, free.height() / 2), m_shown);
}

void AnimatedImage::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void AnimatedImage::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    QWidget::mouseReleaseEvent(event);
    if (click) {
        emit clicked();
    }
}

}  // namespace tz::app
