// The preview window: a small topmost tool window that shows the focused file of the main
// window's list, scaled down by the preview divisor.
#pragma once

#include <QSize>
#include <QString>
#include <QWidget>

namespace tz::app {

class AnimatedImage;

// The preview shows pictures at a quarter of their size.
inline constexpr int kPreviewDivisor = 4;

// The preview's image size for a picture of `natural` size: each side is divided by `divisor`
// and rounded to the nearest integer, an exact half to the even neighbour (1000 × 750 with 4
// gives 250 × 188). A divisor below 1 leaves the size as it is.
QSize previewImageSize(QSize natural, int divisor);

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
    // and the window to fit it.
    void fitImage(int divisor);

    // objectName "Image1".
    QWidget* pictureView() const;

  signals:
    // The window was closed (its close box or close()); it is hidden, not destroyed.
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void fitWindowToImage();

    AnimatedImage* m_picture = nullptr;  // owned by this window as its child
};

}  // namespace tz::app
