// Writing a GIF file: version, logical screen, frames with their extensions, LZW data.
#include <algorithm>
#include <string>

#include "gif/format.h"
#include "gif/lzw.h"
#include "tz/errors.h"
#include "tz/gif.h"

namespace tz {

namespace {

using namespace gif;  // the format's block codes

void putWord(std::vector<std::uint8_t>& out, int value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

// Data as sub-blocks of up to 255 bytes and the zero-length terminator.
void putSubBlocks(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> data) {
    while (!data.empty()) {
        const std::size_t size = std::min(data.size(), kMaxSubBlock);
        out.push_back(static_cast<std::uint8_t>(size));
        out.insert(out.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(size));
        data = data.subspan(size);
    }
    out.push_back(0);
}

std::span<const std::uint8_t> bytesOf(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The table padded with black entries to `entries`.
void putColorTable(std::vector<std::uint8_t>& out, const GifColorTable& table, int entries) {
    for (int i = 0; i < entries; ++i) {
        const Rgb color = i < table.count() ? table.colors()[static_cast<std::size_t>(i)] : Rgb{};
        out.push_back(color.red);
        out.push_back(color.green);
        out.push_back(color.blue);
    }
}

// A fixed-length text field, cut or padded with spaces.
void putField(std::vector<std::uint8_t>& out, const std::string& text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ');
    }
}

void putExtension(std::vector<std::uint8_t>& out, const GifExtension& extension) {
    out.push_back(kExtensionIntroducer);
    if (const auto* control = std::get_if<GifGraphicControl>(&extension)) {
        out.push_back(kGraphicControlLabel);
        out.push_back(kGraphicControlBlockSize);
        out.push_back(control->packed);
        putWord(out, control->delay);
        out.push_back(control->transparentIndex);
        out.push_back(0);
    } else if (const auto* comment = std::get_if<GifComment>(&extension)) {
        out.push_back(kCommentLabel);
        putSubBlocks(out, bytesOf(comment->text));
    } else if (const auto* plain = std::get_if<GifPlainText>(&extension)) {
        out.push_back(kPlainTextLabel);
        const std::size_t size = std::min(plain->header.size(), kMaxSubBlock);
        out.push_back(static_cast<std::uint8_t>(size));
        out.insert(out.end(), plain->header.begin(),
                   plain->header.begin() + static_cast<std::ptrdiff_t>(size));
        // An empty grid block is itself the terminator, as the reader takes it: text
        // sub-blocks after it would be read as the next block of the file.
        if (size > 0) {
            putSubBlocks(out, bytesOf(plain->text));
        }
    } else if (const auto* application = std::get_if<GifApplicationExtension>(&extension)) {
        out.push_back(kApplicationLabel);
        out.push_back(static_cast<std::uint8_t>(kApplicationBlockSize));
        putField(out, application->identifier, 8);
        putField(out, application->authentication, 3);
        for (const auto& block : application->subBlocks) {
            std::span<const std::uint8_t> data(block);
            while (!data.empty()) {
                const std::size_t size = std::min(data.size(), kMaxSubBlock);
                out.push_back(static_cast<std::uint8_t>(size));
                out.insert(out.end(), data.begin(),
                           data.begin() + static_cast<std::ptrdiff_t>(size));
                data = data.subspan(size);
            }
        }
        out.push_back(0);
    }
}

}  // namespace

std::vector<std::uint8_t> GifImage::saveToBytes() const {
    const std::string version = this->version();
    if (version.empty()) {
        throw GifError("Unsupported GIF version");
    }
    std::vector<std::uint8_t> out;
    out.reserve(1024);
    for (const char c : "GIF" + version) {
        out.push_back(static_cast<std::uint8_t>(c));
    }

    int largestBits = m_globalTable.bitsPerPixel();
    for (const auto& image : m_images) {
        largestBits = std::max(largestBits, image.colorTable().bitsPerPixel());
    }
    const int sizeField = std::max(largestBits - 1, 0);
    std::uint8_t packed = static_cast<std::uint8_t>((sizeField << 4) | sizeField);
    if (!m_globalTable.empty()) {
        packed |= kGlobalTableFlag;
        if (m_globalTable.sorted()) {
            packed |= kGlobalSortedFlag;
        }
    }
    putWord(out, m_screenWidth);
    putWord(out, m_screenHeight);
    out.push_back(packed);
    out.push_back(m_backgroundIndex);
    out.push_back(m_aspectRatio);
    if (!m_globalTable.empty()) {
        // As many entries as the size field announces, so that readers find the frames where
        // they are even when a local table is larger than the global one.
        putColorTable(out, m_globalTable, 2 << sizeField);
    }

    for (const auto& image : m_images) {
        for (const auto& extension : image.extensions()) {
            putExtension(out, extension);
        }
        if (image.empty()) {
            continue;
        }
        const GifColorTable& local = image.colorTable();
        // With a local table the flags are recomputed and the interlace flag cleared; without
        // one only the interlace flag stays, and the rows are then written interlaced.
        std::uint8_t imagePacked = 0;
        bool interlaced = false;
        if (!local.empty()) {
            imagePacked = static_cast<std::uint8_t>(
                (local.sorted() ? kLocalTableFlag | kSortedFlag : kLocalTableFlag) |
                (local.bitsPerPixel() - 1));
        } else if (image.interlaced()) {
            imagePacked = kInterlaceFlag;
            interlaced = true;
        }
        out.push_back(kImageSeparator);
        putWord(out, image.left());
        putWord(out, image.top());
        putWord(out, image.width());
        putWord(out, image.height());
        out.push_back(imagePacked);
        if (!local.empty()) {
            putColorTable(out, local, 1 << local.bitsPerPixel());
        }

        const GifColorTable& table = activeColorTable(image);
        const int entries = table.count();
        const bool allStored = image.storedRows() == image.height();
        if (!allStored && entries == 0) {
            throw GifError("Color not in color table");
        }
        for (const std::uint8_t index : image.m_pixels) {
            if (index >= entries) {
                throw GifError("Color not in color table");
            }
        }
        std::vector<std::uint8_t> ordered;
        std::span<const std::uint8_t> indices(image.m_pixels);
        if (interlaced || !allStored) {
            const auto width = static_cast<std::size_t>(image.width());
            ensureAllocatable(width * static_cast<std::size_t>(image.height()), image.width(),
                              image.height());
            ordered.assign(width * static_cast<std::size_t>(image.height()), 0);
            std::size_t at = 0;
            for (const int y : gif::rowOrder(image.height(), interlaced)) {
                const auto row = image.row(y);
                std::copy(row.begin(), row.end(),
                          ordered.begin() + static_cast<std::ptrdiff_t>(at));
                at += width;
            }
            indices = ordered;
        }
        const int minCodeSize = std::max(table.bitsPerPixel(), 2);
        out.push_back(static_cast<std::uint8_t>(minCodeSize));
        putSubBlocks(out, gif::lzwEncode(indices, minCodeSize));
    }
    out.push_back(kTrailer);
    return out;
}

}  // namespace tz
