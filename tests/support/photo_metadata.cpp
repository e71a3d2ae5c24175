// Metadata builders and the exiftool reader.
#include "support/photo_metadata.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace tz::test {

namespace {

class TiffWriter {
  public:
    explicit TiffWriter(bool bigEndian) : m_bigEndian(bigEndian) {}

    void put16(Bytes& out, std::uint32_t value) const {
        const auto high = static_cast<std::uint8_t>(value >> 8);
        const auto low = static_cast<std::uint8_t>(value);
        out.push_back(m_bigEndian ? high : low);
        out.push_back(m_bigEndian ? low : high);
    }
    void put32(Bytes& out, std::uint32_t value) const {
        if (m_bigEndian) {
            put16(out, value >> 16);
            put16(out, value & 0xFFFF);
        } else {
            put16(out, value & 0xFFFF);
            put16(out, value >> 16);
        }
    }

    // The value bytes of a field, and its count.
    std::pair<Bytes, std::uint32_t> value(const TiffField& field) const {
        Bytes bytes;
        switch (field.type) {
            case TiffType::Ascii:
                bytes.assign(field.text.begin(), field.text.end());
                bytes.push_back(0);
                return {bytes, static_cast<std::uint32_t>(bytes.size())};
            case TiffType::Short:
                for (const std::uint32_t n : field.numbers) {
                    put16(bytes, n);
                }
                break;
            case TiffType::Long:
                for (const std::uint32_t n : field.numbers) {
                    put32(bytes, n);
                }
                break;
            case TiffType::Byte:
            case TiffType::Undefined:
                for (const std::uint32_t n : field.numbers) {
                    bytes.push_back(static_cast<std::uint8_t>(n));
                }
                break;
        }
        return {bytes, static_cast<std::uint32_t>(field.numbers.size())};
    }

    std::size_t directorySize(const std::vector<TiffField>& fields) const {
        std::size_t size = 2 + 12 * fields.size() + 4;
        for (const TiffField& field : fields) {
            const std::size_t bytes = value(field).first.size();
            size += bytes > 4 ? (bytes + 1) / 2 * 2 : 0;
        }
        return size;
    }

    // Appends a directory at the end of `tiff` (its offset), its long values right after it.
    void appendDirectory(Bytes& tiff, std::vector<TiffField> fields, std::uint32_t next) const {
        std::sort(fields.begin(), fields.end(),
                  [](const TiffField& a, const TiffField& b) { return a.tag < b.tag; });
        const std::size_t start = tiff.size();
        std::size_t dataAt = start + 2 + 12 * fields.size() + 4;
        Bytes data;
        put16(tiff, static_cast<std::uint32_t>(fields.size()));
        for (const TiffField& field : fields) {
            auto [bytes, count] = value(field);
            put16(tiff, field.tag);
            put16(tiff, static_cast<std::uint32_t>(field.type));
            put32(tiff, count);
            if (bytes.size() <= 4) {
                bytes.resize(4, 0);
                tiff.insert(tiff.end(), bytes.begin(), bytes.end());
            } else {
                put32(tiff, static_cast<std::uint32_t>(dataAt + data.size()));
                data.insert(data.end(), bytes.begin(), bytes.end());
                if (data.size() % 2 != 0) {
                    data.push_back(0);
                }
            }
        }
        put32(tiff, next);
        tiff.insert(tiff.end(), data.begin(), data.end());
    }

  private:
    bool m_bigEndian;
};

}  // namespace

TiffField shortField(std::uint16_t tag, std::uint32_t value) {
    return TiffField{tag, TiffType::Short, {value}, {}};
}

TiffField longField(std::uint16_t tag, std::uint32_t value) {
    return TiffField{tag, TiffType::Long, {value}, {}};
}

TiffField asciiField(std::uint16_t tag, const std::string& text) {
    return TiffField{tag, TiffType::Ascii, {}, text};
}

Bytes exifBlock(const ExifContents& contents) {
    constexpr std::uint16_t kExifPointerTag = 0x8769;
    constexpr std::uint16_t kCompressionTag = 0x0103;
    constexpr std::uint16_t kThumbnailOffsetTag = 0x0201;
    constexpr std::uint16_t kThumbnailLengthTag = 0x0202;
    const TiffWriter writer(contents.bigEndian);

    std::vector<TiffField> primary = contents.primary;
    if (!contents.exif.empty()) {
        primary.push_back(longField(kExifPointerTag, 0));
    }
    std::vector<TiffField> thumbnail;
    if (!contents.thumbnail.empty()) {
        thumbnail = {
            shortField(kCompressionTag, 6), longField(kThumbnailOffsetTag, 0),
            longField(kThumbnailLengthTag, static_cast<std::uint32_t>(contents.thumbnail.size()))};
    }
    const std::size_t primaryAt = 8;
    const std::size_t exifAt = primaryAt + writer.directorySize(primary);
    const std::size_t thumbnailIfdAt =
        exifAt + (contents.exif.empty() ? 0 : writer.directorySize(contents.exif));
    const std::size_t thumbnailAt = thumbnailIfdAt + writer.directorySize(thumbnail);
    for (TiffField& field : primary) {
        if (field.tag == kExifPointerTag) {
            field.numbers = {static_cast<std::uint32_t>(exifAt)};
        }
    }
    for (TiffField& field : thumbnail) {
        if (field.tag == kThumbnailOffsetTag) {
            field.numbers = {static_cast<std::uint32_t>(thumbnailAt)};
        }
    }

    Bytes tiff;
    tiff.push_back(contents.bigEndian ? 'M' : 'I');
    tiff.push_back(tiff.back());
    writer.put16(tiff, 42);
    writer.put32(tiff, static_cast<std::uint32_t>(primaryAt));
    writer.appendDirectory(tiff, primary,
                           thumbnail.empty() ? 0 : static_cast<std::uint32_t>(thumbnailIfdAt));
    if (!contents.exif.empty()) {
        writer.appendDirectory(tiff, contents.exif, 0);
    }
    if (!thumbnail.empty()) {
        writer.appendDirectory(tiff, thumbnail, 0);
        tiff.insert(tiff.end(), contents.thumbnail.begin(), contents.thumbnail.end());
    }
    const Bytes header = {'E', 'x', 'i', 'f', 0, 0};
    tiff.insert(tiff.begin(), header.begin(), header.end());
    return tiff;
}

Bytes iccProfile(const char* colorSpace, std::size_t size) {
    if (size < 164) {
        throw std::invalid_argument("the profile needs at least 164 bytes");
    }
    Bytes profile(size);
    for (std::size_t i = 164; i < size; ++i) {
        profile[i] = static_cast<std::uint8_t>((i * 7 + i / 251) % 251);
    }
    const auto put = [&](std::size_t at, const char* text) {
        std::copy(text, text + 4, profile.begin() + static_cast<std::ptrdiff_t>(at));
    };
    const auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i) {
            profile[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
        }
    };
    put32(0, static_cast<std::uint32_t>(size));
    profile[8] = 4;  // version 4.2
    profile[9] = 0x20;
    put(12, "mntr");  // display class
    put(16, colorSpace);
    put(20, "XYZ ");  // connection space
    put(36, "acsp");
    // One tag, the media white point (D50), so that readers accept the tag table.
    put32(128, 1);
    put(132, "wtpt");
    put32(136, 144);
    put32(140, 20);
    put(144, "XYZ ");
    put32(152, 0xF6D6);
    put32(156, 0x10000);
    put32(160, 0xD32D);
    return profile;
}

std::vector<Bytes> iccSegments(const Bytes& profile, int parts) {
    const std::string identifier("ICC_PROFILE");
    std::vector<Bytes> segments;
    const std::size_t pieceSize =
        (profile.size() + static_cast<std::size_t>(parts) - 1) / static_cast<std::size_t>(parts);
    for (int part = 0; part < parts; ++part) {
        Bytes payload(identifier.begin(), identifier.end());
        payload.push_back(0);
        payload.push_back(static_cast<std::uint8_t>(part + 1));
        payload.push_back(static_cast<std::uint8_t>(parts));
        const std::size_t from =
            std::min(profile.size(), static_cast<std::size_t>(part) * pieceSize);
        const std::size_t to = std::min(profile.size(), from + pieceSize);
        payload.insert(payload.end(), profile.begin() + static_cast<std::ptrdiff_t>(from),
                       profile.begin() + static_cast<std::ptrdiff_t>(to));
        segments.push_back(payload);
    }
    return segments;
}

Bytes withSegments(const Bytes& jpeg, const std::vector<JpegSegment>& segments) {
    std::size_t at = 2;
    if (jpeg.size() >= 6 && jpeg[2] == 0xFF && jpeg[3] == 0xE0) {
        at += 2 + (std::size_t{jpeg[4]} << 8 | jpeg[5]);
    }
    Bytes inserted;
    for (const JpegSegment& segment : segments) {
        const std::size_t length = segment.payload.size() + 2;
        inserted.insert(inserted.end(),
                        {0xFF, segment.marker, static_cast<std::uint8_t>(length >> 8),
                         static_cast<std::uint8_t>(length)});
        inserted.insert(inserted.end(), segment.payload.begin(), segment.payload.end());
    }
    Bytes result(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(at));
    result.insert(result.end(), inserted.begin(), inserted.end());
    result.insert(result.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at), jpeg.end());
    return result;
}

std::vector<JpegSegment> segmentsBeforeScan(const Bytes& jpeg) {
    std::vector<JpegSegment> segments;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        const std::size_t length = std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3];
        if (length < 2 || at + 2 + length > jpeg.size()) {
            throw std::runtime_error("bad segment length at " + std::to_string(at));
        }
        segments.push_back(JpegSegment{
            jpeg[at + 1], Bytes(jpeg.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                jpeg.begin() + static_cast<std::ptrdiff_t>(at + 2 + length))});
        at += 2 + length;
    }
    return segments;
}

namespace {

Bytes commandOutput(const std::string& command) {
    Bytes output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t read = 0;
        while ((read = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.insert(output.end(), buffer, buffer + read);
        }
        pclose(pipe);
    }
    return output;
}

}  // namespace

bool hasExiftool() {
    return std::filesystem::exists("/usr/bin/exiftool");
}

std::map<std::string, std::string> exiftoolTags(const std::filesystem::path& file) {
    // One "-Group:Name=value" line per tag; -n gives numbers instead of descriptions.
    const Bytes output =
        commandOutput("exiftool -args -n -a -G1 '" + file.string() + "' 2>/dev/null");
    std::map<std::string, std::string> tags;
    std::size_t start = 0;
    const std::string text(output.begin(), output.end());
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        const std::size_t equals = line.find('=');
        if (line.size() > 1 && line[0] == '-' && equals != std::string::npos) {
            tags[line.substr(1, equals - 1)] = line.substr(equals + 1);
        }
        start = end + 1;
    }
    return tags;
}

Bytes exiftoolBinary(const std::filesystem::path& file, const std::string& tag) {
    return commandOutput("exiftool -b -" + tag + " '" + file.string() + "' 2>/dev/null");
}

}  // namespace tz::test
