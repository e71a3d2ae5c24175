// Bitmap -> QImage copies and the picture loader by file extension.
#include "picture_bridge.h"

#include <QFile>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "tz/bmp.h"
#include "tz/errors.h"
#include "tz/file_io.h"
#include "tz/gif.h"
#include "tz/heif.h"
#include "tz/jpeg.h"
#include "tz/orientation.h"
#include "tz/picture_format.h"
#include "tz/png.h"
#include "tz/webp.h"

namespace tz::app {

namespace {

// The largest picture the windows show: 2^28 pixels (a 16384 × 16384 square). Larger ones,
// far beyond any screen and mostly small crafted files declaring gigapixels, would stall the
// user-interface thread for minutes on every selection and need gigabytes twice over (the
// decoded bitmap and its screen copy), so they are refused like an undecodable file.
constexpr long long maxShownPixels = 1LL << 28;

void checkShowable(int width, int height) {
    if (static_cast<long long>(width) * height > maxShownPixels) {
        throw tz::Error("Picture too large to show");
    }
}

QImage allocateImage(int width, int height, QImage::Format format) {
    QImage image(width, height, format);
    if (image.isNull()) {
        throw tz::Error("Not enough memory to show the picture");
    }
    return image;
}

// 24-bit rows are blue, green, red: exactly Qt's BGR888 layout, so rows copy as they are.
QImage copy24(const tz::Bitmap& bitmap) {
    QImage image = allocateImage(bitmap.width(), bitmap.height(), QImage::Format_BGR888);
    const std::size_t rowBytes = static_cast<std::size_t>(bitmap.width()) * 3;
    for (int y = 0; y < bitmap.height(); ++y) {
        std::memcpy(image.scanLine(y), bitmap.row(y), rowBytes);
    }
    return image;
}

std::filesystem::path fileSystemPath(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    return std::filesystem::path(std::string(encoded.constData(), encoded.size()));
}

ScreenPicture stillPicture(const tz::Bitmap& bitmap) {
    checkShowable(bitmap.width(), bitmap.height());
    ScreenPicture picture;
    picture.size = QSize(bitmap.width(), bitmap.height());
    picture.still = toQImage(bitmap);
    return picture;
}

ScreenPicture loadGif(const std::filesystem::path& file) {
    tz::GifImage gif;
    gif.loadFromFile(file);
    checkShowable(gif.width(), gif.height());
    auto animation = std::make_unique<tz::GifAnimation>(gif);
    if (!animation->animated()) {
        // One frame: its first look over white, as the picture draws itself.
        return stillPicture(animation->current());
    }
    ScreenPicture picture = stillPicture(animation->current());
    picture.animation = std::move(animation);
    return picture;
}

tz::JpegScale scaleOf(int reduction) {
    switch (reduction) {
        case 8:
            return tz::JpegScale::Eighth;
        case 4:
            return tz::JpegScale::Quarter;
        case 2:
            return tz::JpegScale::Half;
        default:
            return tz::JpegScale::Full;
    }
}

// `shownSize` empty: the full picture.
ScreenPicture loadJpeg(const std::filesystem::path& file, const ShownSizeRule& shownSize) {
    tz::JpegImage jpeg;
    jpeg.loadFromFile(file);
    checkShowable(jpeg.width(), jpeg.height());  // known from the header, before decoding
    const tz::Orientation orientation = jpeg.metadata().orientation;
    // Shown upright, as the batch run writes it.
    QSize natural(jpeg.width(), jpeg.height());
    if (tz::swapsWidthAndHeight(orientation)) {
        natural.transpose();
    }
    if (shownSize) {
        // A preview, not an output: the decoder's fast path is good enough for the eye.
        jpeg.setScale(scaleOf(reductionFor(natural, shownSize(natural))));
        jpeg.setPerformance(tz::JpegPerformance::BestSpeed);
    }
    ScreenPicture picture = stillPicture(tz::orientedUpright(jpeg.releaseBitmap(), orientation));
    picture.size = natural;
    return picture;
}

// A PNG, WebP or HEIF file: its header is checked before anything is decoded.
template <class ReadHeader, class Decode>
ScreenPicture loadDecoded(const std::filesystem::path& file, ReadHeader readHeader, Decode decode) {
    const tz::ByteBuffer bytes = tz::readWholeFile(file);
    const tz::PictureHeader header = readHeader(bytes);
    checkShowable(header.width, header.height);
    return stillPicture(decode(bytes).bitmap);
}

}  // namespace

QImage toQImage(const tz::Bitmap& bitmap) {
    if (bitmap.empty()) {
        return {};
    }
    if (bitmap.format() == tz::PixelFormat::Bits24) {
        return copy24(bitmap);
    }
    return copy24(bitmap.to24());
}

int reductionFor(QSize natural, QSize shown) {
    for (const int reduction : {8, 4, 2}) {
        const int width = (natural.width() + reduction - 1) / reduction;
        const int height = (natural.height() + reduction - 1) / reduction;
        if (width >= shown.width() && height >= shown.height()) {
            return reduction;
        }
    }
    return 1;
}

ScreenPicture loadScreenPicture(const QString& path) {
    return loadScreenPicture(fileSystemPath(path));
}

ScreenPicture loadScreenPicture(const std::filesystem::path& file) {
    return loadReducedPicture(file, {});
}

ScreenPicture loadReducedPicture(const std::filesystem::path& file,
                                 const ShownSizeRule& shownSize) {
    const std::optional<tz::PictureFormat> format = tz::resizedFormatOf(file.filename().string());
    if (!format) {
        throw tz::Error("No picture class for this file");
    }
    switch (*format) {
        case tz::PictureFormat::Jpeg:
            return loadJpeg(file, shownSize);
        case tz::PictureFormat::Gif:
            return loadGif(file);
        case tz::PictureFormat::Bmp:
            return stillPicture(tz::loadBmpFile(file));
        case tz::PictureFormat::Png:
            return loadDecoded(file, tz::readPngHeader, [](std::span<const std::uint8_t> bytes) {
                return tz::decodePng(bytes);
            });
        case tz::PictureFormat::Webp:
            return loadDecoded(file, tz::readWebpHeader, [](std::span<const std::uint8_t> bytes) {
                return tz::decodeWebp(bytes);
            });
        case tz::PictureFormat::Heif:
            return loadDecoded(file, tz::readHeifHeader, [](std::span<const std::uint8_t> bytes) {
                return tz::decodeHeif(bytes);
            });
    }
    throw tz::Error("No picture class for this file");
}

}  // namespace tz::app
