// Uncompressed BMP files read row by row from the file while they are resampled.
#include <algorithm>
#include <limits>
#include <memory>
#include <vector>

#include "bmp/format.h"
#include "bmp/pixels.h"
#include "tz/bmp.h"
#include "tz/file_io.h"

namespace tz {

namespace {

using namespace bmp;

class BmpRows final : public PictureRows {
  public:
    BmpRows(std::unique_ptr<OpenFile> file, Headers headers)
        : m_file(std::move(file)),
          m_headers(std::move(headers)),
          m_storedRowBytes(storedRowBytes(m_headers.layout)) {}

    int width() const override { return m_headers.layout.width; }
    int height() const override { return m_headers.layout.height; }
    // Any row is at a known place in the file.
    double skipCost() const override { return 0.0; }
    std::unique_ptr<RowReader> readerFrom(int first) override;

  private:
    class Reader;

    std::unique_ptr<OpenFile> m_file;
    Headers m_headers;
    std::uint64_t m_storedRowBytes;
};

// Reads a block of rows with one read: consecutive rows are stored next to each other, bottom
// to top unless the file says otherwise.
class BmpRows::Reader final : public RowReader {
  public:
    Reader(const BmpRows& rows, int first) : m_rows(rows), m_next(first) {}

    std::span<const std::uint8_t* const> nextRows(int count) override {
        const Layout& layout = m_rows.m_headers.layout;
        const int first = m_next;
        m_next += count;
        // The stored rows of picture rows first … first + count − 1, lowest first.
        const int lowest = layout.topDown ? first : layout.height - first - count;
        const std::uint64_t stride = m_rows.m_storedRowBytes;
        const std::uint64_t offset =
            m_rows.m_headers.dataOffset + static_cast<std::uint64_t>(lowest) * stride;
        // The last row's padding may be missing from the file.
        const std::uint64_t length = std::min<std::uint64_t>(
            stride * static_cast<std::uint64_t>(count), m_rows.m_file->size() - offset);
        m_stored.resize(static_cast<std::size_t>(stride) * static_cast<std::size_t>(count));
        m_rows.m_file->readAt(offset, std::span(m_stored).first(static_cast<std::size_t>(length)));

        const PixelFormat format = decodedFormat(layout);
        if (m_block.width() != layout.width || m_block.height() != count) {
            m_block =
                Bitmap(Bitmap::ForOverwrite{}, layout.width, count, format,
                       format == PixelFormat::Bits24 ? std::vector<Rgb>{} : layout.colorTable);
        }
        for (int r = 0; r < count; ++r) {
            const int stored = layout.topDown ? r : count - 1 - r;
            decodeRow(layout, m_stored.data() + static_cast<std::size_t>(stored) * stride,
                      m_block.row(r), m_block.stride());
        }
        // Indexed pixels are looked up as a whole bitmap's are.
        const Bitmap& rows = format == PixelFormat::Bits24 ? m_block : (m_colour = m_block.to24());
        m_pointers.resize(static_cast<std::size_t>(count));
        for (int r = 0; r < count; ++r) {
            m_pointers[static_cast<std::size_t>(r)] = rows.row(r);
        }
        return m_pointers;
    }

  private:
    const BmpRows& m_rows;
    int m_next;
    std::vector<std::uint8_t> m_stored;
    Bitmap m_block;
    Bitmap m_colour;
    std::vector<const std::uint8_t*> m_pointers;
};

std::unique_ptr<RowReader> BmpRows::readerFrom(int first) {
    return std::make_unique<Reader>(*this, first);
}

}  // namespace

std::unique_ptr<PictureRows> openBmpRows(const std::filesystem::path& file) {
    auto open = std::make_unique<OpenFile>(file);
    // The format's sizes and offsets are 32-bit; a larger file cannot be a sound BMP.
    if (open->size() > std::numeric_limits<std::uint32_t>::max()) {
        throw FileReadError("Cannot read " + file.string() + ": the file is too large",
                            FileReadError::Cause::TooLarge);
    }
    std::vector<std::uint8_t> start(
        static_cast<std::size_t>(std::min<std::uint64_t>(open->size(), kHeadersReadLimit)));
    open->readAt(0, start);
    Headers headers = readHeaders(start, open->size());
    if (headers.layout.compression == Compression::Rle8 ||
        headers.layout.compression == Compression::Rle4) {
        return nullptr;
    }
    checkDataLength(headers.layout, open->size() - headers.dataOffset);
    return std::make_unique<BmpRows>(std::move(open), std::move(headers));
}

}  // namespace tz
