// The JPEG picture's use of libjpeg: header parsing, decoding and encoding. Only codec.cpp, their
// implementation, and coefficient_store.cpp include the library's headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "tz/bitmap.h"
#include "tz/jpeg.h"

namespace tz::jpegcodec {

// The facts a header gives: the file's own size, its kind, the size at an output scale, and
// the metadata segments when they were asked for.
struct HeaderInfo {
    int width = 0;
    int height = 0;
    bool grayscale = false;
    bool progressive = false;
    int scaledWidth = 0;
    int scaledHeight = 0;
    // Everything but the orientation, which is the EXIF block's to give.
    JpegMetadata metadata;
};

enum class MetadataReading { Skip, Read };

// Parses the header of a JPEG file (no pixels). Throws tz::JpegError.
HeaderInfo readHeader(std::span<const std::uint8_t> bytes, JpegScale scale,
                      MetadataReading metadata = MetadataReading::Skip);

// Decodes a JPEG file with the decoding settings. When `incomplete` is given, it tells whether
// the data ended before the picture did (the library completes such a picture; its warning is
// otherwise discarded). Throws tz::JpegError for library failures and tz::Error when the
// picture needs more memory than the machine can give.
Bitmap decode(std::span<const std::uint8_t> bytes, const JpegSettings& settings,
              bool* incomplete = nullptr);

// The picture of `data` as rows decoded while they are read, the pixels decode() gives (24-bit);
// null when those need the whole picture first (output through a palette, buffered display).
// Throws as decode() does.
std::unique_ptr<PictureRows> openRows(std::shared_ptr<const JpegData> data,
                                      const JpegSettings& settings);

// The largest payload of one segment, and the largest ICC profile the APP2 segments can carry.
inline constexpr std::size_t kSegmentPayloadLimit = 65533;
inline constexpr std::size_t kIccProfileLimit = 255 * (kSegmentPayloadLimit - 14);

// Encodes a 24-bit bitmap with at least one pixel as a complete JPEG file, writing every part of
// `metadata` that is not empty (its orientation aside) as it is: the caller has checked that
// each fits. Throws tz::JpegError.
ByteBuffer encode(const Bitmap& bitmap24, const JpegSettings& settings,
                  const JpegMetadata& metadata = {});

}  // namespace tz::jpegcodec
