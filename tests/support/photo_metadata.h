// Builders of the metadata photographs carry (EXIF blocks written as TIFF structures by hand,
// ICC profile headers, JPEG segments) and an independent reader of it (exiftool).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tz::test {

using Bytes = std::vector<std::uint8_t>;

// TIFF field types.
enum class TiffType : std::uint16_t { Byte = 1, Ascii = 2, Short = 3, Long = 4, Undefined = 7 };

// One directory entry: numbers for Byte, Short, Long and Undefined, text for Ascii.
struct TiffField {
    std::uint16_t tag = 0;
    TiffType type = TiffType::Short;
    std::vector<std::uint32_t> numbers;
    std::string text;
};

TiffField shortField(std::uint16_t tag, std::uint32_t value);
TiffField longField(std::uint16_t tag, std::uint32_t value);
TiffField asciiField(std::uint16_t tag, const std::string& text);

// Tags used by the tests.
inline constexpr std::uint16_t kMakeTag = 0x010F;
inline constexpr std::uint16_t kOrientationTag = 0x0112;
inline constexpr std::uint16_t kDateTimeOriginalTag = 0x9003;
inline constexpr std::uint16_t kPixelXDimensionTag = 0xA002;
inline constexpr std::uint16_t kPixelYDimensionTag = 0xA003;

// What an EXIF block holds; the pointers between directories are added when building.
struct ExifContents {
    bool bigEndian = false;
    std::vector<TiffField> primary;  // IFD0
    std::vector<TiffField> exif;     // the Exif sub-directory, left out when empty
    Bytes thumbnail;                 // IFD1 with a JPEG thumbnail, left out when empty
};

// The APP1 payload: "Exif\0\0", then the TIFF structure with the directories in the order
// IFD0, Exif, IFD1, thumbnail; fields sorted by tag.
Bytes exifBlock(const ExifContents& contents);
// The offset of the TIFF structure in an EXIF block.
inline constexpr std::size_t kTiffStart = 6;

// A minimal ICC profile of `size` bytes (at least 164): a header naming `colorSpace` (four
// characters, e.g. "RGB ", "CMYK", "GRAY"), a white-point tag, then bytes that differ along the
// profile.
Bytes iccProfile(const char* colorSpace, std::size_t size);

// The APP2 payloads carrying `profile` in `parts` pieces of near-equal size, in sequence order.
std::vector<Bytes> iccSegments(const Bytes& profile, int parts);

struct JpegSegment {
    std::uint8_t marker = 0;  // second byte of the marker: 0xE1 for APP1, 0xFE for COM, ...
    Bytes payload;            // without the length field
};

// `jpeg` with `segments` inserted after its JFIF header (or after SOI when it has none).
Bytes withSegments(const Bytes& jpeg, const std::vector<JpegSegment>& segments);
// The segments from SOI up to, not including, the first SOS.
std::vector<JpegSegment> segmentsBeforeScan(const Bytes& jpeg);

// True when exiftool is installed (scripts/setup.sh installs it).
bool hasExiftool();
// Every tag exiftool finds in `file`, as "Group:Name" (family-1 groups, e.g. "IFD0:Orientation",
// "ExifIFD:ExifImageWidth", "ICC-header:ColorSpaceData") to its numeric value as text.
std::map<std::string, std::string> exiftoolTags(const std::filesystem::path& file);
// The bytes of one binary tag (e.g. "ICC_Profile") exiftool extracts from `file`.
Bytes exiftoolBinary(const std::filesystem::path& file, const std::string& tag);

}  // namespace tz::test
