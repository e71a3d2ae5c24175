// EXIF blocks through libexif, the only file that includes its headers.
#include "tz/exif.h"

#include <algorithm>
#include <climits>
#include <memory>
#include <new>

#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

namespace tz {

namespace {

constexpr std::uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
// The largest payload one JPEG segment holds: its length field counts itself.
constexpr std::size_t kSegmentPayloadLimit = 65533;

bool startsWithExifHeader(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= sizeof kExifHeader &&
           std::equal(std::begin(kExifHeader), std::end(kExifHeader), bytes.begin());
}

struct MemRelease {
    void operator()(ExifMem* mem) const { exif_mem_unref(mem); }
};
struct DataRelease {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

struct SavedRelease {
    ExifMem* mem;
    void operator()(unsigned char* bytes) const { exif_mem_free(mem, bytes); }
};

// A block as libexif reads it, with the allocator its entries and thumbnail come from.
class ParsedExif {
  public:
    // The tags are taken as they are: libexif's fixing of the data to the standard would add
    // tags the camera never wrote, and unknown tags are kept for copying.
    explicit ParsedExif(std::span<const std::uint8_t> bytes)
        : m_mem(exif_mem_new_default()), m_data(m_mem ? exif_data_new_mem(m_mem.get()) : nullptr) {
        if (!m_data) {
            throw std::bad_alloc();
        }
        exif_data_unset_option(m_data.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
        exif_data_unset_option(m_data.get(), EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
        exif_data_set_option(m_data.get(), EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
        // Without the header libexif goes looking for JPEG markers in what follows; a block
        // lacking it is not parsed at all.
        if (startsWithExifHeader(bytes) && bytes.size() <= UINT_MAX) {
            exif_data_load_data(m_data.get(), bytes.data(),
                                static_cast<unsigned int>(bytes.size()));
        }
    }

    // libexif reports damage only to a log; a block of which it kept no tag was not parsed.
    bool parsed() const {
        return std::any_of(std::begin(m_data->ifd), std::end(m_data->ifd),
                           [](const ExifContent* ifd) { return ifd != nullptr && ifd->count > 0; });
    }

    ExifData* data() const { return m_data.get(); }
    ExifMem* mem() const { return m_mem.get(); }
    ExifByteOrder byteOrder() const { return exif_data_get_byte_order(m_data.get()); }

    ExifEntry* entry(ExifIfd ifd, ExifTag tag) const {
        return exif_content_get_entry(m_data->ifd[ifd], tag);
    }

  private:
    std::unique_ptr<ExifMem, MemRelease> m_mem;  // outlives the data allocated from it
    std::unique_ptr<ExifData, DataRelease> m_data;
};

// Makes `entry` a single short or long holding `value`.
void setNumber(const ParsedExif& exif, ExifEntry& entry, ExifFormat format, std::uint32_t value) {
    const unsigned char size = exif_format_get_size(format);
    if (entry.size != size) {
        void* resized = exif_mem_realloc(exif.mem(), entry.data, size);
        if (resized == nullptr) {
            throw std::bad_alloc();
        }
        entry.data = static_cast<unsigned char*>(resized);
        entry.size = size;
    }
    entry.format = format;
    entry.components = 1;
    if (format == EXIF_FORMAT_SHORT) {
        exif_set_short(entry.data, exif.byteOrder(), static_cast<ExifShort>(value));
    } else {
        exif_set_long(entry.data, exif.byteOrder(), value);
    }
}

void removeThumbnail(const ParsedExif& exif) {
    ExifData* data = exif.data();
    if (data->data != nullptr) {
        exif_mem_free(exif.mem(), data->data);
        data->data = nullptr;
    }
    data->size = 0;
    // The thumbnail's own directory goes with it; libexif then writes none.
    ExifContent* thumbnailIfd = data->ifd[EXIF_IFD_1];
    while (thumbnailIfd->count > 0) {
        exif_content_remove_entry(thumbnailIfd, thumbnailIfd->entries[thumbnailIfd->count - 1]);
    }
}

void setOrientation(const ParsedExif& exif, Orientation orientation) {
    ExifEntry* entry = exif.entry(EXIF_IFD_0, EXIF_TAG_ORIENTATION);
    if (entry == nullptr) {
        if (orientation == Orientation::Normal) {
            return;
        }
        std::unique_ptr<ExifEntry, decltype(&exif_entry_unref)> added(
            exif_entry_new_mem(exif.mem()), &exif_entry_unref);
        if (!added) {
            throw std::bad_alloc();
        }
        added->tag = EXIF_TAG_ORIENTATION;
        exif_content_add_entry(exif.data()->ifd[EXIF_IFD_0], added.get());
        entry = added.get();  // the directory holds its own reference
    }
    setNumber(exif, *entry, EXIF_FORMAT_SHORT, static_cast<std::uint32_t>(orientation));
}

void setPixelDimension(const ParsedExif& exif, ExifTag tag, int value) {
    ExifEntry* entry = exif.entry(EXIF_IFD_EXIF, tag);
    if (entry == nullptr) {
        return;
    }
    // Either type is allowed; a short is kept while the size fits in one.
    const bool fitsShort = entry->format == EXIF_FORMAT_SHORT && value <= 0xFFFF;
    setNumber(exif, *entry, fitsShort ? EXIF_FORMAT_SHORT : EXIF_FORMAT_LONG,
              static_cast<std::uint32_t>(value));
}

}  // namespace

Orientation exifOrientation(std::span<const std::uint8_t> exif) {
    const ParsedExif parsed(exif);
    const ExifEntry* entry = parsed.entry(EXIF_IFD_0, EXIF_TAG_ORIENTATION);
    if (entry == nullptr || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 ||
        entry->size < 2 || entry->data == nullptr) {
        return Orientation::Normal;
    }
    const ExifShort value = exif_get_short(entry->data, parsed.byteOrder());
    if (value < 1 || value > 8) {
        return Orientation::Normal;
    }
    return static_cast<Orientation>(value);
}

std::vector<std::uint8_t> exifForOutput(std::span<const std::uint8_t> exif, int width, int height,
                                        Orientation orientation) {
    const ParsedExif parsed(exif);
    if (!parsed.parsed()) {
        return {};
    }
    removeThumbnail(parsed);
    setOrientation(parsed, orientation);
    setPixelDimension(parsed, EXIF_TAG_PIXEL_X_DIMENSION, std::max(width, 0));
    setPixelDimension(parsed, EXIF_TAG_PIXEL_Y_DIMENSION, std::max(height, 0));

    unsigned char* saved = nullptr;
    unsigned int size = 0;
    exif_data_save_data(parsed.data(), &saved, &size);
    const std::unique_ptr<unsigned char, SavedRelease> owner(saved, SavedRelease{parsed.mem()});
    const std::span<const std::uint8_t> bytes(saved, saved != nullptr ? size : 0);
    if (!startsWithExifHeader(bytes) || bytes.size() > kSegmentPayloadLimit) {
        return {};
    }
    return {bytes.begin(), bytes.end()};
}

std::string exifLibraryVersion() {
    // The library has no call that tells its version; the build passes the one it found.
    return "libexif " TZ_EXIF_VERSION;
}

}  // namespace tz
