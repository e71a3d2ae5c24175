// Picture files for the window tests: BMP, JPEG and still GIF files written with the core's
// encoders, and animated GIFs put together byte by byte.
#pragma once

#include <QFile>
#include <QString>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/gif.h"
#include "tz/jpeg.h"

namespace pictures {

using Bytes = std::vector<std::uint8_t>;

inline void writeBytes(const QString& path, const Bytes& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        throw std::runtime_error("cannot write " + path.toStdString());
    }
}

inline tz::Bitmap solid(int width, int height, tz::Rgb color) {
    tz::Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setColor(x, y, color);
        }
    }
    return bitmap;
}

inline Bytes bmpBytes(int width, int height, tz::Rgb color = {255, 0, 0}) {
    return tz::encodeBmp(solid(width, height, color));
}

inline Bytes jpegBytes(int width, int height, tz::Rgb color = {0, 0, 255}) {
    tz::JpegImage jpeg;
    jpeg.assign(solid(width, height, color));
    return jpeg.saveToBytes();
}

inline Bytes stillGifBytes(int width, int height, tz::Rgb color = {0, 255, 0}) {
    tz::GifImage gif;
    gif.assign(solid(width, height, color));
    return gif.saveToBytes();
}

// Writes a picture of that size in the format the file's extension names (any case).
inline void writePicture(const QString& path, int width, int height) {
    const QString extension = path.section(QLatin1Char('.'), -1).toLower();
    if (extension == QLatin1String("bmp")) {
        writeBytes(path, bmpBytes(width, height));
    } else if (extension == QLatin1String("jpg") || extension == QLatin1String("jpeg")) {
        writeBytes(path, jpegBytes(width, height));
    } else if (extension == QLatin1String("gif")) {
        writeBytes(path, stillGifBytes(width, height));
    } else {
        throw std::invalid_argument("no picture format for " + path.toStdString());
    }
}

// GIF LZW data for `pixels` with a minimum code size of 2, every code a 3-bit literal: a clear
// code before each pair of pixels keeps the code table from growing past 3 bits.
inline Bytes lzwLiterals(const std::vector<std::uint8_t>& pixels) {
    constexpr unsigned clearCode = 4;
    constexpr unsigned endCode = 5;
    std::vector<unsigned> codes;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % 2 == 0) {
            codes.push_back(clearCode);
        }
        codes.push_back(pixels[i]);
    }
    codes.push_back(endCode);

    Bytes packed;
    unsigned accumulator = 0;
    int bits = 0;
    for (unsigned code : codes) {
        accumulator |= code << bits;
        bits += 3;
        while (bits >= 8) {
            packed.push_back(static_cast<std::uint8_t>(accumulator & 0xFF));
            accumulator >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) {
        packed.push_back(static_cast<std::uint8_t>(accumulator & 0xFF));
    }

    Bytes blocks{2};  // minimum code size
    for (std::size_t start = 0; start < packed.size(); start += 255) {
        const std::size_t length = std::min<std::size_t>(255, packed.size() - start);
        blocks.push_back(static_cast<std::uint8_t>(length));
        blocks.insert(blocks.end(), packed.begin() + static_cast<std::ptrdiff_t>(start),
                      packed.begin() + static_cast<std::ptrdiff_t>(start + length));
    }
    blocks.push_back(0);
    return blocks;
}

inline void putWord(Bytes& bytes, int value) {
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

// A GIF89a of `colors.size()` (at most 4) full-screen frames, frame i filled with colors[i],
// each with a graphic control extension of `delay` hundredths and disposal "keep". A loop
// count adds the looping application extension (0 = endless).
inline Bytes animatedGifBytes(int width, int height, const std::vector<tz::Rgb>& colors, int delay,
                              std::optional<int> loopCount = std::nullopt) {
    if (colors.empty() || colors.size() > 4) {
        throw std::invalid_argument("one to four frames");
    }
    Bytes bytes{'G', 'I', 'F', '8', '9', 'a'};
    putWord(bytes, width);
    putWord(bytes, height);
    bytes.insert(bytes.end(), {0x81, 0, 0});  // global table of 4 entries
    for (std::size_t i = 0; i < 4; ++i) {
        const tz::Rgb color = i < colors.size() ? colors[i] : tz::Rgb{255, 255, 255};
        bytes.insert(bytes.end(), {color.red, color.green, color.blue});
    }
    if (loopCount) {
        bytes.insert(bytes.end(), {0x21, 0xFF, 11});
        for (char c : std::string("NETSCAPE2.0")) {
            bytes.push_back(static_cast<std::uint8_t>(c));
        }
        bytes.insert(bytes.end(), {3, 1});
        putWord(bytes, *loopCount);
        bytes.push_back(0);
    }
    for (std::size_t frame = 0; frame < colors.size(); ++frame) {
        bytes.insert(bytes.end(), {0x21, 0xF9, 4, 0x04});  // disposal 1: keep
        putWord(bytes, delay);
        bytes.insert(bytes.end(), {0, 0});
        bytes.push_back(0x2C);
        putWord(bytes, 0);
        putWord(bytes, 0);
        putWord(bytes, width);
        putWord(bytes, height);
        bytes.push_back(0);
        const std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height,
                                               static_cast<std::uint8_t>(frame));
        const Bytes data = lzwLiterals(pixels);
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    bytes.push_back(0x3B);
    return bytes;
}

}  // namespace pictures
