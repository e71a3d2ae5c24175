// The image viewer and its size and centring rules.
#include "image_viewer.h"

#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "animated_image.h"
#include "picture_bridge.h"

namespace tz::app {

namespace {

constexpr QSize designSize{182, 143};
// The room the frame and title bar are expected to take around the picture.
constexpr int frameWidth = 9;
constexpr int frameHeight = 28;

int outerSide(int picture, int screen, int frame) {
    return picture < screen ? picture + frame : screen - frame;
}

int centredStart(int outer, int desktop) {
    return std::max(0, (desktop - outer) / 2);
}

}  // namespace

QSize viewerOuterSize(QSize picture, QSize screen) {
    return {outerSide(picture.width(), screen.width(), frameWidth),
            outerSide(picture.height(), screen.height(), frameHeight)};
}

QPoint viewerPosition(QSize outer, QSize desktop) {
    return {centredStart(outer.width(), desktop.width()),
            centredStart(outer.height(), desktop.height())};
}

ImageViewer::ImageViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(tr("View image"));
    // Closing this window only hides it; it must not keep the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // The window takes any size the picture asks for, however small.
    layout->setSizeConstraint(QLayout::SetNoConstraint);

    m_scrollBox = new QScrollArea(this);
    m_scrollBox->setObjectName(QStringLiteral("ScrollBox"));
    m_scrollBox->setFrameShape(QFrame::NoFrame);
    m_scrollBox->setWidgetResizable(false);
    m_scrollBox->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_scrollBox->horizontalScrollBar()->setTracking(true);
    m_scrollBox->verticalScrollBar()->setTracking(true);
    layout->addWidget(m_scrollBox);

    m_picture = new AnimatedImage;
    m_picture->setObjectName(QStringLiteral("Image1"));
    m_picture->setFixedSize(0, 0);
    m_scrollBox->setWidget(m_picture);  // the scroll area owns it from here
    connect(m_picture, &AnimatedImage::clicked, this, &ImageViewer::closeOnPictureClick);

    resize(designSize);
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        const QRect area = primary->geometry();
        move(area.topLeft() + viewerPosition(designSize, area.size()));
    }
}

bool ImageViewer::open(const QString& path, QSize screen, QSize desktop) {
    return open(std::filesystem::path(QFile::encodeName(path).toStdString()), screen, desktop);
}

bool ImageViewer::open(const std::filesystem::path& file, QSize screen, QSize desktop) {
    try {
        ScreenPicture picture = loadScreenPicture(file);
        const QSize pictureSize = picture.size;
        m_picture->setPicture(std::move(picture));
        m_picture->setFixedSize(pictureSize);

        const QSize outer = viewerOuterSize(pictureSize, screen);
        m_outer = QRect(viewerPosition(outer, desktop), outer);
        m_outerPending = true;
        applyOuterGeometry();
        show();
        raise();
        activateWindow();
        applyOuterGeometry();
        return true;
    } catch (const std::exception&) {
        // Opening the viewer swallows every failure.
        return false;
    }
}

void ImageViewer::closeOnPictureClick() {
    close();
}

void ImageViewer::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

QWidget* ImageViewer::pictureView() const {
    return m_picture;
}

// Qt sizes a window by its client area; the frame's share is what the frame geometry adds.
// Without a frame (the offscreen platform, no window manager) outer and client size are one.
QSize ImageViewer::frameExtra() const {
    return frameGeometry().size() - geometry().size();
}

void ImageViewer::applyOuterGeometry() {
    m_frameUsed = frameExtra();
    resize((m_outer.size() - m_frameUsed).expandedTo(QSize(1, 1)));
    move(m_outer.topLeft());  // a window's position is its frame's
}

bool ImageViewer::event(QEvent* event) {
    const bool handled = QWidget::event(event);
    switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            // A window manager tells the frame's size only after the window is shown.
            if (m_outerPending && frameExtra() != m_frameUsed) {
                applyOuterGeometry();
                m_outerPending = false;
            }
            break;
        case QEvent::Hide:
            m_outerPending = false;
            break;
        default:
            break;
    }
    return handled;
}

}  // namespace tz::app
