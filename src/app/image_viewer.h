// The image viewer: a sizeable window that shows one picture at full size, scrolled
// when it is larger than the window, sized to the picture and centred on the desktop.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <filesystem>

class QScrollArea;

namespace tz::app {

class AnimatedImage;

// The viewer's outer size (frame and title bar included) for a picture on a screen: each side
// is the picture's plus 9 (width) or 28 (height) while the picture is smaller than the screen,
// otherwise the screen's minus 9 or 28.
QSize viewerOuterSize(QSize picture, QSize screen);

// The top-left corner that centres a window of `outer` size on the desktop: half the free
// space, truncated toward zero, and 0 where the window is larger than the desktop.
QPoint viewerPosition(QSize outer, QSize desktop);

class ImageViewer : public QWidget {
    Q_OBJECT

  public:
    // Hidden at creation; 182 × 143, titled "View image", centred on the primary display.
    explicit ImageViewer(QWidget* parent = nullptr);

    // Opens the viewer on a file: loads it into the picture view at its pixel size, sizes the
    // window by viewerOuterSize for `screen` (the primary display's size), shows it or brings it to
    // the front, and centres it by viewerPosition on `desktop` (the size of all displays together).
    // Any failure ends it silently with false; then the previous picture and size stay and the
    // window is not shown.
    bool open(const QString& path, QSize screen, QSize desktop);
    bool open(const std::filesystem::path& file, QSize screen, QSize desktop);

    // Closes (hides) the viewer; a click on the picture and the Esc key call it.
    void closeOnPictureClick();

    // objectName "Image1".
    QWidget* pictureView() const;

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QSize frameExtra() const;
    void applyOuterGeometry();

    // The outer geometry the last opening asked for, kept until the window system has told the
    // frame's size: a frame added after showing would otherwise enlarge and shift the window.
    QRect m_outer;
    QSize m_frameUsed;
    bool m_outerPending = false;

    QScrollArea* m_scrollBox = nullptr;  // children owned by this window
    AnimatedImage* m_picture = nullptr;
};

}  // namespace tz::app
