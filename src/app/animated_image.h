// An image control for the preview and the viewer: shows a still picture, or plays a GIF's
// frames from the core's animation timeline on a timer of the user-interface thread.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QTimer>
#include <QWidget>

#include "picture_bridge.h"

namespace tz::app {

class AnimatedImage : public QWidget {
    Q_OBJECT

  public:
    explicit AnimatedImage(QWidget* parent = nullptr);
    ~AnimatedImage() override;

    // Replaces the picture and stops whatever played before. A picture with an animation starts
    // playing at once (frame waits, disposal and passes as its timeline gives them); a still
    // picture shows at once. The control's own size does not change.
    void setPicture(ScreenPicture picture);
    // Removes the picture (stopping any animation); the control then shows nothing.
    void clear();

    bool hasPicture() const { return !m_shown.isNull(); }
    // The picture's natural pixel size; 0 × 0 with none.
    QSize pictureSize() const { return m_picture.size; }

    // Stretched: the picture fills the control. Otherwise it sits centred at its own size.
    void setStretch(bool stretch);
    bool stretch() const { return m_stretch; }

    // Whether an animation is running, and the index of the frame on screen (0 for a still).
    bool playing() const { return m_timer.isActive(); }
    int currentFrame() const;
    // What the control shows at the moment, at the picture's natural size.
    const QImage& currentImage() const { return m_shown; }

  signals:
    // A left click (press and release inside the control).
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void scheduleNextFrame(int overrunMilliseconds);
    void showNextFrame();

    ScreenPicture m_picture;
    QImage m_shown;
    QTimer m_timer;
    QElapsedTimer m_waitClock;  // measures each wait, so lateness shortens the next one
    int m_wait = 0;             // milliseconds of the wait under way
    bool m_stretch = false;
    bool m_pressed = false;
};

}  // namespace tz::app
