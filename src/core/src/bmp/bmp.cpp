// BMP file and info headers: validation, colour masks and the colour table.
#include "tz/bmp.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <limits>
#include <string>

#include "bmp/format.h"
#include "bmp/pixels.h"
#include "bmp/rle.h"
#include "tz/errors.h"
#include "tz/file_io.h"
#include "tz/memory_budget.h"

namespace tz {

namespace {

using namespace bmp;  // the format's sizes and codes

enum class HeaderKind { Os2Core, Os2V2, Windows };

std::string hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

HeaderKind headerKind(std::uint32_t headerSize) {
    switch (headerSize) {
        case kOs2CoreHeaderSize:
            return HeaderKind::Os2Core;
        case kOs2ShortHeaderSize:
        case kOs2V2HeaderSize:
            return HeaderKind::Os2V2;
        case kInfoHeaderSize:
        case kV2HeaderSize:
        case kV3HeaderSize:
        case kV4HeaderSize:
        case kV5HeaderSize:
            return HeaderKind::Windows;
        default:
            throw Error("Unsupported BMP header size " + std::to_string(headerSize));
    }
}

Compression compressionOf(HeaderKind kind, std::uint32_t code) {
    switch (code) {
        case kCompressionNone:
            return Compression::None;
        case kCompressionRle8:
            return Compression::Rle8;
        case kCompressionRle4:
            return Compression::Rle4;
        default:
            break;
    }
    if (kind == HeaderKind::Os2V2) {
        // The same numbers mean other things in OS/2 files.
        if (code == kCompressionBitFields) {
            throw Error("Unsupported BMP compression: OS/2 Huffman 1D");
        }
        if (code == kCompressionJpeg) {
            throw Error("Unsupported BMP compression: OS/2 RLE24");
        }
    } else if (kind == HeaderKind::Windows) {
        // The alpha mask of alpha bit fields is ignored.
        if (code == kCompressionBitFields || code == kCompressionAlphaBitFields) {
            return Compression::BitFields;
        }
        if (code == kCompressionJpeg) {
            throw Error("Unsupported BMP compression: embedded JPEG picture");
        }
        if (code == kCompressionPng) {
            throw Error("Unsupported BMP compression: embedded PNG picture");
        }
    }
    throw Error("Unsupported BMP compression " + std::to_string(code));
}

void checkBitCount(int bitCount) {
    switch (bitCount) {
        case 1:
        case 2:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            return;
        default:
            throw Error("Unsupported BMP bit count " + std::to_string(bitCount));
    }
}

void checkCompressionFitsDepth(Compression compression, int bitCount) {
    const std::string depth = std::to_string(bitCount);
    if (compression == Compression::Rle8 && bitCount != 8) {
        throw Error("BMP compression RLE8 needs 8 bits per pixel, not " + depth);
    }
    if (compression == Compression::Rle4 && bitCount != 4) {
        throw Error("BMP compression RLE4 needs 4 bits per pixel, not " + depth);
    }
    if (compression == Compression::BitFields && bitCount != 16 && bitCount != 32) {
        throw Error("BMP bit-field compression needs 16 or 32 bits per pixel, not " + depth);
    }
}

ChannelMask channelMask(std::uint32_t mask, int bitCount) {
    if (mask == 0) {
        return {};
    }
    if (bitCount < 32 && (mask >> bitCount) != 0) {
        throw Error("BMP colour mask " + hex(mask) + " does not fit a " + std::to_string(bitCount) +
                    "-bit pixel");
    }
    const int shift = std::countr_zero(mask);
    const std::uint32_t shifted = mask >> shift;
    if ((shifted & (shifted + 1)) != 0) {
        throw Error("BMP colour mask " + hex(mask) + " is not contiguous");
    }
    return {mask, shift, shifted};
}

void setMasks(Layout& layout, std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    layout.red = channelMask(red, layout.bitCount);
    layout.green = channelMask(green, layout.bitCount);
    layout.blue = channelMask(blue, layout.bitCount);
    if (red == 0 && green == 0 && blue == 0) {
        throw Error("BMP colour masks are all empty");
    }
}

// Sizes as stored: OS/2 1.x uses unsigned 16-bit fields, the others signed 32-bit ones with a
// negative height for rows stored top-down.
void readSize(Layout& layout, std::span<const std::uint8_t> header, HeaderKind kind) {
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (kind == HeaderKind::Os2Core) {
        width = readU16(header, 4);
        height = readU16(header, 6);
    } else {
        width = static_cast<std::int32_t>(readU32(header, 4));
        height = static_cast<std::int32_t>(readU32(header, 8));
    }
    if (width <= 0) {
        throw Error("Invalid BMP width " + std::to_string(width));
    }
    if (height == 0 || height == std::numeric_limits<std::int32_t>::min()) {
        throw Error("Invalid BMP height " + std::to_string(height));
    }
    layout.width = static_cast<int>(width);
    layout.topDown = height < 0;
    layout.height = static_cast<int>(height < 0 ? -height : height);
}

// Reads the colour table between `start` and the pixel data. A table cut short by the pixel
// offset is kept short (OS/2 1.x files have no count field at all).
std::vector<Rgb> readColorTable(std::span<const std::uint8_t> bytes, std::size_t start,
                                std::size_t dataOffset, std::size_t entrySize,
                                std::uint32_t colorsUsed, int bitCount) {
    const std::size_t depthLimit = std::size_t{1} << bitCount;
    const std::size_t declared =
        colorsUsed == 0 ? depthLimit : std::min<std::size_t>(colorsUsed, depthLimit);
    const std::size_t room = dataOffset > start ? (dataOffset - start) / entrySize : 0;
    const std::size_t count = std::min(declared, room);
    std::vector<Rgb> table;
    table.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = bytes.data() + start + i * entrySize;
        table.push_back(Rgb{entry[2], entry[1], entry[0]});
    }
    return table;
}

// Fills in the colour masks and returns where the headers (with any masks after them) end.
std::size_t readMasks(Layout& layout, std::span<const std::uint8_t> bytes,
                      std::span<const std::uint8_t> header, std::uint32_t compressionCode) {
    const std::size_t headersEnd = kInfoHeaderOffset + header.size();
    if (layout.compression != Compression::BitFields) {
        if (layout.bitCount == 16) {
            setMasks(layout, 0x7C00, 0x03E0, 0x001F);
        } else if (layout.bitCount == 32) {
            setMasks(layout, 0xFF0000, 0xFF00, 0xFF);
        }
        return headersEnd;
    }
    if (header.size() > kInfoHeaderSize) {
        setMasks(layout, readU32(header, kInfoHeaderSize), readU32(header, kInfoHeaderSize + 4),
                 readU32(header, kInfoHeaderSize + 8));
        return headersEnd;
    }
    // A 40-byte header keeps its masks after itself (a fourth, alpha, for code 6).
    const std::size_t maskBytes = compressionCode == kCompressionAlphaBitFields ? 16 : 12;
    if (bytes.size() - headersEnd < maskBytes) {
        throw Error("BMP file truncated: the colour masks are incomplete");
    }
    setMasks(layout, readU32(bytes, headersEnd), readU32(bytes, headersEnd + 4),
             readU32(bytes, headersEnd + 8));
    return headersEnd + maskBytes;
}

void checkDataOffset(std::size_t dataOffset, std::size_t headersEnd, std::uint64_t fileSize) {
    if (dataOffset < headersEnd) {
        throw Error("BMP pixel data offset " + std::to_string(dataOffset) +
                    " points inside the headers");
    }
    if (dataOffset > fileSize) {
        throw Error("BMP pixel data offset " + std::to_string(dataOffset) +
                    " is past the end of the file");
    }
}

// Checks the signature and the info header's size; returns the info header's bytes.
std::span<const std::uint8_t> readInfoHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 2 || bytes[0] != 'B' || bytes[1] != 'M') {
        throw Error("Not a BMP file (no \"BM\" signature)");
    }
    if (bytes.size() < kFileHeaderSize + 4) {
        throw Error("BMP file truncated: the file header is incomplete");
    }
    const std::uint32_t headerSize = readU32(bytes, kInfoHeaderOffset);
    static_cast<void>(headerKind(headerSize));  // unknown sizes are refused before any reading
    if (bytes.size() - kInfoHeaderOffset < headerSize) {
        throw Error("BMP file truncated: the info header is incomplete");
    }
    return bytes.subspan(kInfoHeaderOffset, headerSize);
}

}  // namespace

namespace bmp {

Headers readHeaders(std::span<const std::uint8_t> bytes, std::uint64_t fileSize) {
    const auto header = readInfoHeader(bytes);
    const HeaderKind kind = headerKind(static_cast<std::uint32_t>(header.size()));
    const bool core = kind == HeaderKind::Os2Core;
    const bool hasV1Fields = header.size() >= kInfoHeaderSize;

    Headers headers;
    Layout& layout = headers.layout;
    const std::uint32_t compressionCode = hasV1Fields ? readU32(header, 16) : 0;
    layout.compression = compressionOf(kind, compressionCode);
    layout.bitCount = readU16(header, core ? 10 : 14);
    checkBitCount(layout.bitCount);
    checkCompressionFitsDepth(layout.compression, layout.bitCount);
    const int planes = readU16(header, core ? 8 : 12);
    if (planes != 1) {
        throw Error("Invalid BMP plane count " + std::to_string(planes));
    }
    readSize(layout, header, kind);
    admitDeclaredSize(layout.width, layout.height);
    const std::size_t headersEnd = readMasks(layout, bytes, header, compressionCode);

    headers.dataOffset = readU32(bytes, 10);
    checkDataOffset(headers.dataOffset, headersEnd, fileSize);
    if (layout.bitCount <= 8) {
        const std::uint32_t colorsUsed = hasV1Fields ? readU32(header, 32) : 0;
        layout.colorTable = readColorTable(bytes, headersEnd, headers.dataOffset, core ? 3 : 4,
                                           colorsUsed, layout.bitCount);
    }
    return headers;
}

}  // namespace bmp

Bitmap decodeBmp(std::span<const std::uint8_t> bytes, bool* incomplete) {
    const bmp::Headers headers = bmp::readHeaders(bytes, bytes.size());
    const Layout& layout = headers.layout;
    const auto data = bytes.subspan(headers.dataOffset);
    bool ended = false;
    Bitmap bitmap =
        layout.compression == Compression::Rle8 || layout.compression == Compression::Rle4
            ? bmp::decodeRle(layout, data, ended)
            : bmp::decodeUncompressed(layout, data);
    if (incomplete != nullptr) {
        *incomplete = ended;
    }
    return bitmap;
}

Bitmap loadBmpFile(const std::filesystem::path& file, bool* incomplete) {
    // The format's sizes and offsets are 32-bit; a larger file cannot be a sound BMP.
    return decodeBmp(readWholeFile(file, std::numeric_limits<std::uint32_t>::max()), incomplete);
}

}  // namespace tz
