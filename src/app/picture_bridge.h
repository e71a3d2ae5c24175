// The bridge between the core's pictures and Qt: the only place where tz::Bitmap and QImage meet,
// and the loader that picks the picture class by a file's extension for the preview and viewer.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <filesystem>
#include <functional>
#include <memory>

#include "tz/bitmap.h"
#include "tz/gif.h"

namespace tz::app {

// A copy of the bitmap as a QImage (any pixel format; 1-, 4- and 8-bit bitmaps through their
// colour table). An empty bitmap gives a null image. Throws tz::Error when the copy cannot be
// allocated.
QImage toQImage(const tz::Bitmap& bitmap);

// A picture as the windows show it: its first look as a still image and, for a GIF of several
// frames, the animation timeline standing on its first frame (the look `still` shows).
struct ScreenPicture {
    QSize size{0, 0};  // natural pixel size (for a GIF its logical screen)
    QImage still;
    std::unique_ptr<tz::GifAnimation> animation;
};

// Loads a file with the picture class its extension names (tz::resizedFormatOf: JPEG, GIF,
// BMP, PNG, WebP and HEIF files, transparency shown over white). Any other
// extension, any unreadable or undecodable file and any picture of more than 2^28 pixels throw
// (tz::Error or one of its kinds). `path` is a file name as the file system spells it.
ScreenPicture loadScreenPicture(const QString& path);
ScreenPicture loadScreenPicture(const std::filesystem::path& file);

// The size a picture of `natural` size is shown at.
using ShownSizeRule = std::function<QSize(QSize natural)>;

// As loadScreenPicture, for a view that shows the picture at `shownSize(natural size)` or
// smaller: a JPEG is decoded at the largest reduction (1/2, 1/4 or 1/8, done while decoding)
// that still gives at least that size in both directions, so `still` may be smaller than
// `size`, which stays the natural size. Other formats load as loadScreenPicture loads them.
ScreenPicture loadReducedPicture(const std::filesystem::path& file, const ShownSizeRule& shownSize);

// The largest decoding reduction 1, 2, 4 or 8 that keeps a picture of `natural` size at least
// `shown` in both directions (the decoder rounds reduced sides up).
int reductionFor(QSize natural, QSize shown);

}  // namespace tz::app
