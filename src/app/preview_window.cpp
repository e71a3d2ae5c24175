// The preview window and its size rule.
#include "preview_window.h"

#include <QCloseEvent>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <exception>

#include "animated_image.h"
#include "picture_bridge.h"
#include "tz/numeric.h"

namespace tz::app {

namespace {

constexpr QPoint designPosition{555, 180};
constexpr QSize designImageSize{137, 85};
// The room a window manager's frame and title bar are expected to take, until it tells.
constexpr QSize expectedFrame{9, 28};

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

QSize fittedPreviewSize(QSize size, QSize limit) {
    if (limit.width() < 1 || limit.height() < 1 ||
        (size.width() <= limit.width() && size.height() <= limit.height())) {
        return size;
    }
    const double factor = std::min(static_cast<double>(limit.width()) / size.width(),
                                   static_cast<double>(limit.height()) / size.height());
    auto side = [&](int length, int most) {
        return std::clamp(static_cast<int>(std::lround(length * factor)), 1, most);
    };
    return {side(size.width(), limit.width()), side(size.height(), limit.height())};
}

PreviewWindow::PreviewWindow(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_availableArea([this] {
          const QScreen* shownOn = screen();
          return shownOn != nullptr ? shownOn->availableGeometry() : QRect();
      }),
      m_loader(loadReducedPicture) {
    setWindowTitle(tr("Preview"));
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

QSize PreviewWindow::imageLimit() const {
    const QRect area = m_availableArea();
    QSize frame = frameGeometry().size() - geometry().size();
    if (frame.isEmpty()) {
        frame = expectedFrame;
    }
    return area.size() - frame;
}

QSize PreviewWindow::shownImageSize(QSize natural) const {
    return fittedPreviewSize(previewImageSize(natural, kPreviewDivisor), imageLimit());
}

void PreviewWindow::fitImage(int divisor) {
    m_picture->setFixedSize(
        fittedPreviewSize(previewImageSize(m_picture->pictureSize(), divisor), imageLimit()));
    fitWindowToImage();
    // Moved back into the screen area where it would leave it, so its close box stays in reach.
    const QRect area = m_availableArea();
    if (area.isEmpty()) {
        return;
    }
    const QRect outer = frameGeometry();
    const QSize outerSize = outer.size().expandedTo(size() + expectedFrame);
    const int left =
        std::max(area.left(), std::min(outer.left(), area.right() + 1 - outerSize.width()));
    const int top =
        std::max(area.top(), std::min(outer.top(), area.bottom() + 1 - outerSize.height()));
    if (left != outer.left() || top != outer.top()) {
        move(left, top);  // a window's position is its frame's
    }
}

void PreviewWindow::showFile(const std::filesystem::path& file) {
    if (file.empty()) {
        return;
    }
    m_pendingFile = file;
    if (!m_pendingScheduled) {
        m_pendingScheduled = true;
        QTimer::singleShot(0, this, &PreviewWindow::loadPendingFile);
    }
}

void PreviewWindow::loadPendingFile() {
    m_pendingScheduled = false;
    const std::filesystem::path file = std::move(m_pendingFile);
    m_pendingFile.clear();
    try {
        m_picture->setPicture(
            m_loader(file, [this](QSize natural) { return shownImageSize(natural); }));
    } catch (const std::exception&) {
        // The preview feed swallows every failure: the previous picture stays.
    }
    fitImage(kPreviewDivisor);
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
