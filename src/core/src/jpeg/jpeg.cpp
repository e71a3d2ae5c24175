// The JPEG picture: shared compressed data, decoding on demand, settings and saving.
#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>

#include "jpeg/codec.h"
#include "tz/canvas.h"
#include "tz/errors.h"
#include "tz/exif.h"
#include "tz/file_io.h"
#include "tz/jpeg.h"
#include "tz/memory_budget.h"

namespace tz {

int scaleDivisor(JpegScale scale) {
    switch (scale) {
        case JpegScale::Full:
            return 1;
        case JpegScale::Half:
            return 2;
        case JpegScale::Quarter:
            return 4;
        case JpegScale::Eighth:
            return 8;
    }
    return 1;
}

namespace {

const std::shared_ptr<const JpegData>& emptyData() {
    static const auto empty = std::make_shared<const JpegData>();
    return empty;
}

// A four-character signature of an ICC profile header.
bool hasSignature(std::span<const std::uint8_t> profile, std::size_t at, const char (&text)[5]) {
    return std::equal(text, text + 4, profile.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

// The part of the metadata to write that fits an output of that size and kind.
JpegMetadata metadataFitting(const JpegMetadata& wanted, int width, int height, bool grayscale) {
    JpegMetadata written;
    const IccColorSpace outputSpace = grayscale ? IccColorSpace::Gray : IccColorSpace::Rgb;
    if (iccColorSpace(wanted.iccProfile) == outputSpace &&
        wanted.iccProfile.size() <= jpegcodec::kIccProfileLimit) {
        written.iccProfile = wanted.iccProfile;
    }
    if (!wanted.exif.empty()) {
        written.exif = exifForOutput(wanted.exif, width, height, wanted.orientation);
        if (!written.exif.empty()) {
            written.orientation = wanted.orientation;
        }
    }
    if (wanted.xmp.size() <= jpegcodec::kSegmentPayloadLimit) {
        written.xmp = wanted.xmp;
    }
    for (const std::vector<std::uint8_t>& comment : wanted.comments) {
        if (comment.size() <= jpegcodec::kSegmentPayloadLimit) {
            written.comments.push_back(comment);
        }
    }
    return written;
}

// A copy of a bitmap, refused with a clear error when the machine cannot hold a second one.
Bitmap checkedCopy(const Bitmap& bitmap) {
    ensureAllocatable(bitmap.pixels().size(), bitmap.width(), bitmap.height());
    return bitmap;
}

}  // namespace

IccColorSpace iccColorSpace(std::span<const std::uint8_t> profile) {
    constexpr std::size_t kHeaderSize = 128;
    constexpr std::size_t kColorSpaceAt = 16;
    constexpr std::size_t kSignatureAt = 36;
    if (profile.size() < kHeaderSize || !hasSignature(profile, kSignatureAt, "acsp")) {
        return IccColorSpace::Other;
    }
    if (hasSignature(profile, kColorSpaceAt, "RGB ")) {
        return IccColorSpace::Rgb;
    }
    if (hasSignature(profile, kColorSpaceAt, "GRAY")) {
        return IccColorSpace::Gray;
    }
    if (hasSignature(profile, kColorSpaceAt, "CMYK")) {
        return IccColorSpace::Cmyk;
    }
    return IccColorSpace::Other;
}

JpegImage::JpegImage() : m_data(emptyData()) {}

void JpegImage::loadFromFile(const std::filesystem::path& file) {
    // The file's bytes become the compressed data without a second copy.
    adoptBytes(readWholeFile(file));
}

void JpegImage::loadFromBytes(std::span<const std::uint8_t> bytes) {
    adoptBytes(ByteBuffer(bytes.begin(), bytes.end()));
}

void JpegImage::adoptBytes(ByteBuffer&& bytesToOwn) {
    auto data = std::make_shared<JpegData>();
    data->bytes = std::move(bytesToOwn);
    const std::span<const std::uint8_t> bytes = data->bytes;
    m_bitmap.reset();
    m_scaledWidth = 0;
    m_scaledHeight = 0;
    // The new data replaces the old even when its header turns out to be bad.
    m_data = data;
    if (bytes.empty()) {
        return;
    }
    jpegcodec::HeaderInfo header =
        jpegcodec::readHeader(bytes, m_settings.scale, jpegcodec::MetadataReading::Read);
    admitDeclaredSize(header.width, header.height);
    data->width = header.width;
    data->height = header.height;
    data->grayscale = header.grayscale;
    data->progressive = header.progressive;
    data->metadata = std::move(header.metadata);
    if (!data->metadata.exif.empty()) {
        data->metadata.orientation = exifOrientation(data->metadata.exif);
    }
    m_scaledWidth = header.scaledWidth;
    m_scaledHeight = header.scaledHeight;
}

std::vector<std::uint8_t> JpegImage::saveToBytes() {
    if (!hasData()) {
        compress();
    }
    return {m_data->bytes.begin(), m_data->bytes.end()};
}

void JpegImage::saveToFile(const std::filesystem::path& file) {
    writeFileAtomically(file, saveToBytes());
}

void JpegImage::compress() {
    m_data = emptyData();
    if (!m_bitmap || m_bitmap->empty()) {
        return;
    }
    auto data = std::make_shared<JpegData>();
    data->width = m_bitmap->width();
    data->height = m_bitmap->height();
    data->grayscale = m_settings.grayscale;
    if (!m_metadataToWrite.empty()) {
        data->metadata =
            metadataFitting(m_metadataToWrite, data->width, data->height, m_settings.grayscale);
    }
    if (m_bitmap->format() == PixelFormat::Bits24) {
        data->bytes = jpegcodec::encode(*m_bitmap, m_settings, data->metadata);
    } else {
        data->bytes = jpegcodec::encode(m_bitmap->to24(), m_settings, data->metadata);
    }
    m_data = data;
    m_scaledWidth = data->width;
    m_scaledHeight = data->height;
}

int JpegImage::width() const {
    if (m_bitmap) {
        return m_bitmap->width();
    }
    return m_settings.scale == JpegScale::Full ? m_data->width : m_scaledWidth;
}

int JpegImage::height() const {
    if (m_bitmap) {
        return m_bitmap->height();
    }
    return m_settings.scale == JpegScale::Full ? m_data->height : m_scaledHeight;
}

void JpegImage::setWidth(int) {
    throw JpegError("Cannot change the size of a JPEG image");
}

void JpegImage::setHeight(int) {
    throw JpegError("Cannot change the size of a JPEG image");
}

bool JpegImage::grayscale() const {
    return m_settings.grayscale || m_data->grayscale;
}

bool JpegImage::progressive() const {
    return m_data->progressive;
}

bool JpegImage::empty() const {
    return !hasData() && (!m_bitmap || m_bitmap->empty());
}

void JpegImage::draw(Bitmap& canvas, const Rect& rect) {
    decode();
    if (m_bitmap) {
        stretchDraw(canvas, rect, *m_bitmap);
    }
}

void JpegImage::assignTo(Bitmap& target) {
    decode();
    target = m_bitmap ? checkedCopy(*m_bitmap) : Bitmap();
}

void JpegImage::assign(const Bitmap& source) {
    assign(checkedCopy(source));
}

void JpegImage::assign(Bitmap&& source) {
    m_data = emptyData();
    m_bitmap = std::move(source);
    m_scaledWidth = 0;
    m_scaledHeight = 0;
}

Bitmap JpegImage::releaseBitmap() {
    decode();
    Bitmap released = std::move(*m_bitmap);
    m_bitmap.reset();
    return released;
}

void JpegImage::assign(const JpegImage& other) {
    if (&other == this) {
        return;
    }
    std::optional<Bitmap> copy;
    if (other.m_bitmap) {
        copy = checkedCopy(*other.m_bitmap);
    }
    m_data = other.m_data;
    m_bitmap = std::move(copy);
    if (other.m_settings.scale == m_settings.scale) {
        m_scaledWidth = other.m_scaledWidth;
        m_scaledHeight = other.m_scaledHeight;
    } else {
        updateScaledSize();
    }
}

std::unique_ptr<PictureRows> JpegImage::rows() const {
    return jpegcodec::openRows(m_data, m_settings);
}

void JpegImage::decode() {
    if (m_bitmap) {
        return;
    }
    m_bitmap = jpegcodec::decode(m_data->bytes, m_settings, &m_incomplete);
}

void JpegImage::setGrayscale(bool on) {
    if (m_settings.grayscale != on) {
        m_settings.grayscale = on;
        decodingSettingChanged();
    }
}

void JpegImage::setPerformance(JpegPerformance performance) {
    if (m_settings.performance != performance) {
        m_settings.performance = performance;
        decodingSettingChanged();
    }
}

void JpegImage::setPixelFormat(JpegPixelFormat format) {
    if (m_settings.pixelFormat != format) {
        m_settings.pixelFormat = format;
        decodingSettingChanged();
    }
}

void JpegImage::setProgressiveDisplay(bool on) {
    if (m_settings.progressiveDisplay != on) {
        m_settings.progressiveDisplay = on;
        decodingSettingChanged();
    }
}

void JpegImage::setSmoothing(bool on) {
    if (m_settings.smoothing != on) {
        m_settings.smoothing = on;
        decodingSettingChanged();
    }
}

void JpegImage::setScale(JpegScale scale) {
    if (m_settings.scale != scale) {
        m_settings.scale = scale;
        decodingSettingChanged();
        updateScaledSize();
    }
}

void JpegImage::decodingSettingChanged() {
    // A bitmap that came from the data is decoded again with the new setting; an assigned
    // bitmap is the picture's only content and stays.
    if (hasData()) {
        m_bitmap.reset();
    }
}

void JpegImage::updateScaledSize() {
    if (!hasData()) {
        m_scaledWidth = m_data->width;
        m_scaledHeight = m_data->height;
        return;
    }
    const jpegcodec::HeaderInfo header = jpegcodec::readHeader(m_data->bytes, m_settings.scale);
    m_scaledWidth = header.scaledWidth;
    m_scaledHeight = header.scaledHeight;
}

}  // namespace tz
