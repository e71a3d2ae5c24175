// The preview window and its size rule.
#include "preview.h"

#include <QCloseEvent>
#include <exception>

#include "animated_image.h"
#include "qtbridge.h"
#include "tz/numeric.h"

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

TPreviewForm::TPreviewForm(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("Preview"));
    // Closing this window only hides it; it must not keep the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_image1 = new AnimatedImage(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->setStretch(true);
    m_image1->move(0, 0);
    m_image1->setFixedSize(designImageSize);
    fitWindowToImage();
    move(designPosition);
}

bool TPreviewForm::loadPicture(const QString& path) {
    try {
        m_image1->setPicture(loadScreenPicture(path));
        return true;
    } catch (const std::exception&) {
        // The preview feed swallows every failure: the previous picture stays.
        return false;
    }
}

void TPreviewForm::fitImage(int divisor) {
    m_image1->setFixedSize(previewImageSize(m_image1->pictureSize(), divisor));
    fitWindowToImage();
}

QWidget* TPreviewForm::image1() const {
    return m_image1;
}

void TPreviewForm::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed();
}

// The window's client area is the image area. A window system cannot show a window of no
// pixels, so an empty image area still leaves a 1 × 1 client area.
void TPreviewForm::fitWindowToImage() {
    setFixedSize(m_image1->size().expandedTo(QSize(1, 1)));
}
