// Reading a GIF file: signature, logical screen, colour tables, frames and their extensions.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "gif/format.h"
#include "gif/lzw.h"
#include "tz/errors.h"
#include "tz/gif.h"
#include "tz/memory_budget.h"

namespace tz {

namespace {

using namespace gif;  // the format's block codes

constexpr std::size_t kSignatureSize = 6;
constexpr std::size_t kSignatureRetryOffset = 4;

}  // namespace

// Reads one GIF from a byte range as from a stream; every read is checked against the end.
class GifReader {
  public:
    GifReader(std::span<const std::uint8_t> bytes, std::size_t position)
        : m_bytes(bytes), m_position(std::min(position, bytes.size())) {}

    std::size_t position() const { return m_position; }

    void read(GifImage& image) {
        readSignature();
        readScreen(image);
        readFrames(image);
    }

  private:
    bool atEnd() const { return m_position >= m_bytes.size(); }
    std::size_t remaining() const { return m_bytes.size() - m_position; }
    std::uint8_t peek() const { return m_bytes[m_position]; }

    std::uint8_t byte() {
        if (atEnd()) {
            throw GifError("Premature end of data");
        }
        return m_bytes[m_position++];
    }

    std::span<const std::uint8_t> take(std::size_t count) {
        if (remaining() < count) {
            throw GifError("Premature end of data");
        }
        const auto result = m_bytes.subspan(m_position, count);
        m_position += count;
        return result;
    }

    int word() {
        const auto bytes = take(2);
        return bytes[0] | (bytes[1] << 8);
    }

    static bool isSignature(std::span<const std::uint8_t> header) {
        return std::toupper(header[0]) == 'G' && std::toupper(header[1]) == 'I' &&
               std::toupper(header[2]) == 'F';
    }

    // "GIF" without regard to case, at the start or, failing that, 4 bytes further on; the
    // version characters are not tested.
    void readSignature() {
        const std::size_t start = m_position;
        for (const std::size_t offset : {std::size_t{0}, kSignatureRetryOffset}) {
            m_position = std::min(start + offset, m_bytes.size());
            if (remaining() >= kSignatureSize && isSignature(m_bytes.subspan(m_position, 3))) {
                m_position += kSignatureSize;
                return;
            }
        }
        m_position = start;
        if (remaining() >= 3 && remaining() < kSignatureSize &&
            isSignature(m_bytes.subspan(m_position, 3))) {
            throw GifError("Premature end of data");
        }
        throw GifError("Invalid GIF signature");
    }

    GifColorTable readColorTable(std::uint8_t packed, bool sorted) {
        const std::size_t entries = std::size_t{2} << (packed & 0x07);
        const auto bytes = take(entries * 3);
        std::vector<Rgb> colors(entries);
        for (std::size_t i = 0; i < entries; ++i) {
            colors[i] = Rgb{bytes[i * 3], bytes[i * 3 + 1], bytes[i * 3 + 2]};
        }
        return GifColorTable(std::move(colors), sorted);
    }

    void readScreen(GifImage& image) {
        const auto descriptor = take(7);
        image.m_screenWidth = descriptor[0] | (descriptor[1] << 8);
        image.m_screenHeight = descriptor[2] | (descriptor[3] << 8);
        admitDeclaredSize(image.m_screenWidth, image.m_screenHeight);
        const std::uint8_t packed = descriptor[4];
        image.m_backgroundIndex = descriptor[5];
        image.m_aspectRatio = descriptor[6];
        if ((packed & kGlobalTableFlag) != 0) {
            image.m_globalTable = readColorTable(packed, (packed & kGlobalSortedFlag) != 0);
        }
    }

    void readFrames(GifImage& image) {
        while (!atEnd()) {
            const std::uint8_t block = peek();
            if (block == 0) {
                ++m_position;
                continue;
            }
            if (block == kExtensionIntroducer || block == kImageSeparator) {
                GifFrame frame = readFrame(image);
                image.m_images.push_back(std::move(frame));
                continue;
            }
            // The trailer, or any other byte: either ends the frames without error.
            ++m_position;
            return;
        }
    }

    GifFrame readFrame(const GifImage& image) {
        GifFrame frame;
        while (!atEnd() && peek() == kExtensionIntroducer) {
            ++m_position;
            readExtension(frame);
        }
        // A frame made of extensions only ends at the trailer, a zero byte or the end of the
        // data; any other byte ("Invalid extension introducer", a warning) ends it too and is
        // left for the frame loop, which stops there.
        if (!atEnd() && peek() == kImageSeparator) {
            ++m_position;
            readImage(image, frame);
        }
        return frame;
    }

    std::vector<std::uint8_t> readSubBlock() {
        const std::size_t size = byte();
        const auto data = take(size);
        std::vector<std::uint8_t> block(size);
        std::copy(data.begin(), data.end(), block.begin());
        return block;
    }

    // Sub-blocks up to the zero-length terminator, joined.
    std::vector<std::uint8_t> readSubBlocks() {
        std::vector<std::uint8_t> joined;
        for (;;) {
            const std::size_t size = byte();
            if (size == 0) {
                return joined;
            }
            const auto data = take(size);
            joined.insert(joined.end(), data.begin(), data.end());
        }
    }

    static std::string text(const std::vector<std::uint8_t>& bytes) {
        return {bytes.begin(), bytes.end()};
    }

    void readExtension(GifFrame& frame) {
        const std::uint8_t label = byte();
        switch (label) {
            case kGraphicControlLabel: {
                std::vector<std::uint8_t> fields = readSubBlock();
                if (!fields.empty()) {
                    // Fields after the block's terminator (size 4 is the rule; others tolerated).
                    readSubBlocks();
                }
                fields.resize(std::max<std::size_t>(fields.size(), 4), 0);
                GifGraphicControl control;
                control.packed = fields[0];
                control.delay = static_cast<std::uint16_t>(fields[1] | (fields[2] << 8));
                control.transparentIndex = fields[3];
                frame.m_extensions.emplace_back(control);
                return;
            }
            case kCommentLabel:
                frame.m_extensions.emplace_back(GifComment{text(readSubBlocks())});
                return;
            case kPlainTextLabel: {
                GifPlainText plain;
                plain.header = readSubBlock();
                if (!plain.header.empty()) {
                    plain.text = text(readSubBlocks());
                }
                frame.m_extensions.emplace_back(std::move(plain));
                return;
            }
            case kApplicationLabel: {
                const std::size_t size = byte();
                if (size != kApplicationBlockSize) {
                    throw GifError("Unsupported Application Extension block size");
                }
                const auto header = take(kApplicationBlockSize);
                GifApplicationExtension application;
                application.identifier.assign(header.begin(), header.begin() + 8);
                application.authentication.assign(header.begin() + 8, header.end());
                for (;;) {
                    std::vector<std::uint8_t> block = readSubBlock();
                    if (block.empty()) {
                        break;
                    }
                    application.subBlocks.push_back(std::move(block));
                }
                frame.m_extensions.emplace_back(std::move(application));
                return;
            }
            default:
                throw GifError("Unknown extension type");
        }
    }

    void readImage(const GifImage& image, GifFrame& frame) {
        const auto descriptor = take(9);
        frame.m_left = descriptor[0] | (descriptor[1] << 8);
        frame.m_top = descriptor[2] | (descriptor[3] << 8);
        frame.m_width = descriptor[4] | (descriptor[5] << 8);
        frame.m_height = descriptor[6] | (descriptor[7] << 8);
        const std::uint8_t packed = descriptor[8];
        if (frame.m_width == 0 || frame.m_height == 0) {
            frame.m_width = image.m_screenWidth;
            frame.m_height = image.m_screenHeight;
        }
        frame.m_interlaced = (packed & kInterlaceFlag) != 0;
        if ((packed & kLocalTableFlag) != 0) {
            frame.m_localTable = readColorTable(packed, (packed & kSortedFlag) != 0);
        }
        if (atEnd()) {
            frame.m_complete = frame.empty();
            return;  // no image data at all: a warning, the frame keeps index 0
        }
        const int minCodeSize = byte();
        const gif::SubBlocks data(m_bytes, m_position);
        m_position = data.end();
        // How the data ended (end code, frame complete, or data cut short) is only a warning.
        frame.m_complete =
            gif::lzwDecodeFrame(data, minCodeSize, frame.m_width, frame.m_height,
                                frame.m_interlaced, frame.m_pixels) != gif::LzwEnd::DataExhausted;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_position;
};

void GifImage::loadFromStream(std::span<const std::uint8_t> bytes, std::size_t& position) {
    const std::size_t start = position;
    clear();
    GifReader reader(bytes, start);
    try {
        reader.read(*this);
    } catch (...) {
        position = start;
        throw;
    }
    position = reader.position();
}

}  // namespace tz
