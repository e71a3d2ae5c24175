// The JPEG picture: a JPEG file's compressed bytes, decoded into a bitmap on demand and encoded
// from a bitmap when saved, all through libjpeg.
#pragma once

#include <string>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "tz/bitmap.h"
#include "tz/decoded_picture.h"
#include "tz/orientation.h"

namespace tz {

// Output scale of decoding: full size, 1/2, 1/4, 1/8 (codes 0 to 3).
enum class JpegScale { Full, Half, Quarter, Eighth };
// Picture pixels per decoded pixel on each axis: 1, 2, 4 or 8.
int scaleDivisor(JpegScale scale);
// Output depth of decoding: 24 bits per pixel, or 8 bits with a palette of up to 236 colours.
enum class JpegPixelFormat { Bits24, Bits8 };
enum class JpegPerformance { BestQuality, BestSpeed };

// The settings every new picture starts from.
struct JpegSettings {
    std::uint8_t compressionQuality = 90;  // 1 to 100; 0 acts as 1
    bool grayscale = false;
    JpegPerformance performance = JpegPerformance::BestQuality;
    // 24 bits: there is no palette display to adapt to.
    JpegPixelFormat pixelFormat = JpegPixelFormat::Bits24;
    bool progressiveDisplay = false;
    bool progressiveEncoding = false;
    JpegScale scale = JpegScale::Full;
    bool smoothing = true;
};

// The process-wide defaults record; the program never changes it.
inline constexpr JpegSettings kJpegDefaults{};

// What a JPEG file carries besides its picture. Loading a file fills it from the file's segments;
// a picture writes the one set with JpegImage::setMetadataToWrite when it compresses its bitmap.
struct JpegMetadata {
    // From the EXIF block's Orientation tag: Normal when there is no block, no tag, or a damaged
    // one. When writing, the EXIF block's tag is set to it.
    Orientation orientation = Orientation::Normal;
    // The ICC profile, reassembled from its APP2 "ICC_PROFILE" segments in sequence order. Empty
    // when there is none or the sequence is broken (a part missing, repeated or miscounted).
    std::vector<std::uint8_t> iccProfile;
    // The first APP1 segment starting "Exif\0\0", whole payload.
    std::vector<std::uint8_t> exif;
    // The first APP1 segment starting "http://ns.adobe.com/xap/1.0/\0", whole payload.
    std::vector<std::uint8_t> xmp;
    // The COM segments' payloads in file order (the first 256: real files have one or two).
    std::vector<std::vector<std::uint8_t>> comments;

    // True when there is no profile and no segment.
    bool empty() const {
        return iccProfile.empty() && exif.empty() && xmp.empty() && comments.empty();
    }
};

// The colour space an ICC profile's header names (bytes 16 to 19). Other for other spaces and
// for bytes that are not a profile (shorter than the header, or without the "acsp" signature).
enum class IccColorSpace { Rgb, Gray, Cmyk, Other };
IccColorSpace iccColorSpace(std::span<const std::uint8_t> profile);

// The compressed-data holder: one complete JPEG file and the facts read from its header. It is
// never changed once made, so pictures share it freely.
struct JpegData {
    ByteBuffer bytes;
    int width = 0;
    int height = 0;
    bool grayscale = false;    // the file has a single grey channel
    bool progressive = false;  // the file has several scans
    JpegMetadata metadata;
};

// Errors: library failures throw tz::JpegError "JPEG error #N" with the library's message code;
// file-system failures and pictures too large for the machine's memory throw tz::Error.
class JpegImage {
  public:
    // Settings from kJpegDefaults; no data, no bitmap.
    JpegImage();

    // Reads the whole file as the picture's compressed data and parses its header.
    void loadFromFile(const std::filesystem::path& file);
    // The same from bytes in memory. An empty span leaves width and height 0.
    void loadFromBytes(std::span<const std::uint8_t> bytes);

    // The compressed data, compressing the bitmap first when there is none. A loaded picture
    // that was never re-compressed gives back exactly the bytes it was loaded from.
    std::vector<std::uint8_t> saveToBytes();
    // Writes saveToBytes() to `file`; throws tz::Error naming the file when that fails.
    void saveToFile(const std::filesystem::path& file);

    // The bitmap's size when there is one; otherwise the header's at the output scale.
    int width() const;
    int height() const;
    // Always throw tz::JpegError "Cannot change the size of a JPEG image".
    void setWidth(int width);
    void setHeight(int height);

    // True when the greyscale switch is on or the file has a single grey channel.
    bool grayscale() const;
    // True when the loaded file has several scans.
    bool progressive() const;
    // True when there is neither compressed data nor a bitmap with pixels.
    bool empty() const;

    // What the compressed data carries besides the picture: read from a loaded file, or what
    // compressing the bitmap wrote. A picture without data has none.
    const JpegMetadata& metadata() const { return m_data->metadata; }

    // What compressing the bitmap writes into the file besides the picture; nothing by default,
    // so outputs stay as they always were. Takes effect when the picture next compresses its
    // bitmap (after assign), never on data that is already compressed. Parts that do not fit
    // are left out, never an error:
    // - the ICC profile only on an output of its colour space: an RGB profile on a colour
    //   output, a grey one on a greyscale output (the greyscale switch); no other;
    // - the EXIF block re-made by exifForOutput (tz/exif.h) for the bitmap's size and
    //   `orientation` (so set Normal when the pixels were turned upright), dropped when libexif
    //   cannot parse it;
    // - XMP and comments as they are, each dropped when larger than one segment (65533 bytes).
    // Segments go after the JFIF header in the order EXIF, XMP, ICC profile, comments.
    void setMetadataToWrite(JpegMetadata metadata) { m_metadataToWrite = std::move(metadata); }
    const JpegMetadata& metadataToWrite() const { return m_metadataToWrite; }

    // Decodes when needed, then stretches the bitmap into `rect` of `canvas`.
    void draw(Bitmap& canvas, const Rect& rect);
    // Decodes when needed, then copies the bitmap into `target`.
    void assignTo(Bitmap& target);
    // Drops the compressed data and takes a copy of `source` as the picture's bitmap.
    void assign(const Bitmap& source);
    // The same, taking over `source` without a copy.
    void assign(Bitmap&& source);
    // Shares the other picture's compressed data and copies its bitmap.
    void assign(const JpegImage& other);
    // Decodes when needed and hands the bitmap over without a copy; the picture keeps its
    // compressed data and decodes again when it next needs pixels.
    Bitmap releaseBitmap();

    // The compressed data's picture as rows, with the picture's settings: the pixels decode()
    // gives, 24-bit. Null when those need the whole picture at once (8-bit or greyscale output,
    // progressive display). Throws as decode() does.
    std::unique_ptr<PictureRows> rows() const;

    // Makes sure the bitmap exists, decoding the compressed data when it does not. A picture
    // without data fails with the library's "empty input" error.
    void decode();
    // The decoded or assigned bitmap, or nullptr.
    const Bitmap* bitmap() const { return m_bitmap ? &*m_bitmap : nullptr; }
    // Whether the last decoding ran out of data before the picture's end, which the library
    // then completes (the rest comes out grey, or as the previous scans left it).
    bool incomplete() const { return m_incomplete; }

    const JpegSettings& settings() const { return m_settings; }

    std::uint8_t compressionQuality() const { return m_settings.compressionQuality; }
    void setCompressionQuality(std::uint8_t quality) { m_settings.compressionQuality = quality; }
    bool grayscaleSwitch() const { return m_settings.grayscale; }
    void setGrayscale(bool on);
    JpegPerformance performance() const { return m_settings.performance; }
    void setPerformance(JpegPerformance performance);
    JpegPixelFormat pixelFormat() const { return m_settings.pixelFormat; }
    void setPixelFormat(JpegPixelFormat format);
    bool progressiveDisplay() const { return m_settings.progressiveDisplay; }
    void setProgressiveDisplay(bool on);
    bool progressiveEncoding() const { return m_settings.progressiveEncoding; }
    void setProgressiveEncoding(bool on) { m_settings.progressiveEncoding = on; }
    JpegScale scale() const { return m_settings.scale; }
    // Also recomputes the output size for the new scale (may throw tz::JpegError).
    void setScale(JpegScale scale);
    bool smoothing() const { return m_settings.smoothing; }
    void setSmoothing(bool on);

  private:
    bool hasData() const { return !m_data->bytes.empty(); }
    // Takes `bytes` as the new compressed data and parses its header and metadata segments.
    void adoptBytes(ByteBuffer&& bytes);
    // A decoding setting changed: a bitmap decoded from the data no longer matches it.
    void decodingSettingChanged();
    void updateScaledSize();
    void compress();

    JpegSettings m_settings = kJpegDefaults;
    JpegMetadata m_metadataToWrite;
    std::shared_ptr<const JpegData> m_data;
    std::optional<Bitmap> m_bitmap;
    bool m_incomplete = false;
    // The header's size at the output scale.
    int m_scaledWidth = 0;
    int m_scaledHeight = 0;
};

// The JPEG library this program was built with, as "libjpeg-turbo 2.1.5".
std::string jpegLibraryVersion();

}  // namespace tz
