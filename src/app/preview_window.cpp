// The preview window and its size rule.
#include "preview_window.h"

#include <QCloseEvent>
#include <exception>

#include "animated_image.h"
#include "picture_bridge.h"
#include "tz/numeric.h"

namespace tz::app {

namespace {

constexpr QPoint designPosition{555, 180};
constexpr QSize designImageSize{137, 85};

int dividedSide(int side, int divisor) {
    return static_cast<int>(tz::roundHalfEven(static_cast<long double>(side) / divisor));
}

}  // namespace

QSize previewImageSize(QSize natural, int divisor) {
    if (divisor < 1) {
        return natural;
    }
    return {dividedSide(natural.width(), divisor), dividedSide(natural.height(), divisor)};
}

PreviewWindow::PreviewWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Preview"));
    // Closing this window only hides it; it must not keep the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_picture = new AnimatedImage(this);
    m_picture->setObjectName(QStringLiteral("Image1"));
    m_picture->setStretch(true);
    m_picture->move(0, 0);
    m_picture->setFixedSize(designImageSize);
    fitWindowToImage();
    move(designPosition);
}

bool PreviewWindow::loadPicture(const QString& path) {
    try {
        m_picture->setPicture(loadScreenPicture(path));
        return true;
    } catch (const std::exception&) {
        // The preview feed swallows every failure: the previous picture stays.
        return false;
    }
}

void PreviewWindow::fitImage(int divisor) {
    m_picture->setFixedSize(previewImageSize(m_picture->pictureSize(), divisor));
    fitWindowToImage();
}

QWidget* PreviewWindow::pictureView() const {
    return m_picture;
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed();
}

// The window's client area is the image area. A window system cannot show a window of no
// pixels, so an empty image area still leaves a 1 × 1 client area.
void PreviewWindow::fitWindowToImage() {
    setFixedSize(m_picture->size().expandedTo(QSize(1, 1)));
}

}  // namespace tz::app
