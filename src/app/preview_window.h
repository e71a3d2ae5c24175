// The preview window: a small topmost tool window that shows the focused file of the main
// window's list, scaled down by the preview divisor.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <QWidget>

#include <filesystem>
#include <functional>

#include "picture_bridge.h"

namespace tz::app {

class AnimatedImage;

// The preview shows pictures at a quarter of their size.
inline constexpr int kPreviewDivisor = 4;

// The preview's image size for a picture of `natural` size: each side is divided by `divisor`
// and rounded to the nearest integer, an exact half to the even neighbour (1000 × 750 with 4
// gives 250 × 188). A divisor below 1 leaves the size as it is.
QSize previewImageSize(QSize natural, int divisor);

// `size` scaled down, keeping its aspect ratio, until it fits in `limit` (each side rounded to
// the nearest integer, at least 1); a size that fits, or an empty limit, stays as it is.
QSize fittedPreviewSize(QSize size, QSize limit);

class PreviewWindow : public QWidget {
    Q_OBJECT

  public:
    // Hidden at creation, at screen position 555, 180, titled "Preview", with an empty
    // 137 × 85 image area.
    explicit PreviewWindow(QWidget* parent = nullptr);

    // Loads a file into the picture view (format by extension). Any failure returns false
    // silently and keeps the previous picture. The image area keeps its size until fitImage.
    bool loadPicture(const QString& path);

    // Sizes the picture view to its picture's natural size (0 × 0 with none) divided by `divisor`,
    // made to fit the available screen area with the window's frame (fittedPreviewSize), sizes
    // the window to fit it, and moves the window back into that area where it would leave it.
    void fitImage(int divisor);

    // Shows `file` (empty: nothing changes) at a quarter of its size, fitted to the screen. The
    // file is decoded when the program next waits for input, so of a burst of calls only the
    // last is decoded; a JPEG is decoded reduced (loadReducedPicture). A file that cannot be
    // shown leaves the previous picture.
    void showFile(const std::filesystem::path& file);
    // True while a file given to showFile waits to be decoded.
    bool filePending() const { return m_pendingScheduled; }
    // The image area for a picture of `natural` size: a quarter, fitted to the screen.
    QSize shownImageSize(QSize natural) const;

    // Test seams: the screen area windows may use (default: the available area of the window's
    // screen) and the loader showFile uses (default: loadReducedPicture).
    using AreaSource = std::function<QRect()>;
    using PictureLoader =
        std::function<ScreenPicture(const std::filesystem::path&, const ShownSizeRule&)>;
    void setAvailableArea(AreaSource area) { m_availableArea = std::move(area); }
    void setPictureLoader(PictureLoader loader) { m_loader = std::move(loader); }

    // objectName "Image1".
    QWidget* pictureView() const;

  signals:
    // The window was closed (its close box or close()); it is hidden, not destroyed.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void fitWindowToImage();
    void loadPendingFile();
    QSize imageLimit() const;

    AnimatedImage* m_picture = nullptr;  // owned by this window as its child
    AreaSource m_availableArea;
    PictureLoader m_loader;
    std::filesystem::path m_pendingFile;
    bool m_pendingScheduled = false;
};

}  // namespace tz::app
