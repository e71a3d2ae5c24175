// Pictures built in code for the tests.
#include "support/picture_builders.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <stdexcept>

#include "support/support.h"
#include "tz/bmp.h"
#include "tz/gif.h"

namespace tz::test {

Bitmap solidBitmap(int width, int height, Rgb color) {
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setColor(x, y, color);
        }
    }
    return bitmap;
}

Bitmap solidBitmap(int width, int height, Rgba color) {
    Bitmap bitmap(width, height, PixelFormat::Bits32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setRgba(x, y, color);
        }
    }
    return bitmap;
}

Bitmap gradientBitmap(int width, int height) {
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setColor(x, y,
                            Rgb{static_cast<std::uint8_t>(x * 255 / std::max(width - 1, 1)),
                                static_cast<std::uint8_t>(y * 255 / std::max(height - 1, 1)), 96});
        }
    }
    return bitmap;
}

Bitmap detailedBitmap(int width, int height) {
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setColor(x, y,
                            Rgb{static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 5),
                                static_cast<std::uint8_t>((x + y) * 3)});
        }
    }
    return bitmap;
}

Bitmap bitmapOfColors(int width, int height, const std::vector<Rgb>& pixels) {
    if (pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        throw std::invalid_argument("bitmapOfColors: one colour per pixel");
    }
    Bitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setColor(x, y, pixels[static_cast<std::size_t>(y * width + x)]);
        }
    }
    return bitmap;
}

Bytes jpegBytes(const Bitmap& bitmap, int quality) {
    JpegImage picture;
    picture.assign(bitmap);
    picture.setCompressionQuality(static_cast<std::uint8_t>(quality));
    return picture.saveToBytes();
}

Bytes gifBytes(const Bitmap& bitmap) {
    GifImage picture;
    picture.assign(bitmap);
    return picture.saveToBytes();
}

void writePicture(const std::filesystem::path& file, int width, int height) {
    std::string extension = file.extension().string();
    std::ranges::transform(extension, extension.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".bmp") {
        writeFile(file, encodeBmp(solidBitmap(width, height, Rgb{255, 0, 0})));
    } else if (extension == ".jpg" || extension == ".jpeg") {
        writeFile(file, jpegBytes(solidBitmap(width, height, Rgb{0, 0, 255})));
    } else if (extension == ".gif") {
        writeFile(file, gifBytes(solidBitmap(width, height, Rgb{0, 255, 0})));
    } else {
        throw std::invalid_argument("no picture format for " + file.string());
    }
}

// ---- Rows ----

Bitmap readRows(RowSource& source, int first) {
    Bitmap picture(source.width(), source.height());
    const std::unique_ptr<RowReader> reader = source.readerFrom(first);
    for (int top = first; top < picture.height(); top += 8) {
        const auto block = reader->nextRows(std::min(8, picture.height() - top));
        for (std::size_t r = 0; r < block.size(); ++r) {
            std::copy_n(block[r], picture.stride(), picture.row(top + static_cast<int>(r)));
        }
    }
    return picture;
}

Bitmap whiteAbove(const Bitmap& picture, int first) {
    Bitmap white = picture.to24();
    for (int y = 0; y < std::min(first, white.height()); ++y) {
        std::fill_n(white.row(y), white.stride(), std::uint8_t{255});
    }
    return white;
}

// ---- BMP ----

void putU16(Bytes& out, std::size_t at, std::uint32_t value) {
    out.at(at) = static_cast<std::uint8_t>(value);
    out.at(at + 1) = static_cast<std::uint8_t>(value >> 8);
}

void putU32(Bytes& out, std::size_t at, std::uint32_t value) {
    putU16(out, at, value & 0xFFFF);
    putU16(out, at + 2, value >> 16);
}

Bytes buildBmp(const BmpFields& f) {
    Bytes out(14 + f.headerSize, 0);
    out.at(0) = 'B';
    out.at(1) = 'M';
    putU32(out, 14, f.headerSize);
    if (f.headerSize == 12) {
        putU16(out, 18, static_cast<std::uint32_t>(f.width));
        putU16(out, 20, static_cast<std::uint32_t>(f.height));
        putU16(out, 22, f.planes);
        putU16(out, 24, f.bitCount);
    } else {
        putU32(out, 18, static_cast<std::uint32_t>(f.width));
        putU32(out, 22, static_cast<std::uint32_t>(f.height));
        putU16(out, 26, f.planes);
        putU16(out, 28, f.bitCount);
    }
    if (f.headerSize >= 40) {
        putU32(out, 30, f.compression);
        putU32(out, 34, static_cast<std::uint32_t>(f.pixels.size()));
        putU32(out, 46, f.colorsUsed);
    }
    for (std::size_t i = 0; i < f.masks.size(); ++i) {
        if (f.headerSize > 40) {
            putU32(out, 54 + 4 * i, f.masks[i]);
        } else {
            out.resize(out.size() + 4);
            putU32(out, out.size() - 4, f.masks[i]);
        }
    }
    for (const Rgb& entry : f.palette) {
        out.push_back(entry.blue);
        out.push_back(entry.green);
        out.push_back(entry.red);
        if (f.headerSize != 12) {
            out.push_back(0);
        }
    }
    out.resize(out.size() + f.gap, 0xEE);
    putU32(out, 10, f.dataOffset.value_or(static_cast<std::uint32_t>(out.size())));
    out.insert(out.end(), f.pixels.begin(), f.pixels.end());
    putU32(out, 2, static_cast<std::uint32_t>(out.size()));
    return out;
}

// ---- GIF ----

void CodePacker::put(int code, int width) {
    m_bits |= static_cast<std::uint64_t>(code) << m_count;
    m_count += width;
    while (m_count >= 8) {
        m_bytes.push_back(static_cast<std::uint8_t>(m_bits));
        m_bits >>= 8;
        m_count -= 8;
    }
}

Bytes CodePacker::finish() {
    if (m_count > 0) {
        m_bytes.push_back(static_cast<std::uint8_t>(m_bits));
    }
    return m_bytes;
}

Bytes literalLzw(const Bytes& indices, int minCodeSize) {
    const int clear = 1 << minCodeSize;
    const int width = minCodeSize + 1;
    CodePacker packer;
    packer.put(clear, width);
    int sinceClear = 0;
    for (const std::uint8_t index : indices) {
        if (sinceClear == clear - 2) {
            packer.put(clear, width);
            sinceClear = 0;
        }
        packer.put(index, width);
        ++sinceClear;
    }
    packer.put(clear + 1, width);
    return packer.finish();
}

GifBytes& GifBytes::raw(std::initializer_list<int> values) {
    for (const int v : values) {
        m_bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return *this;
}

GifBytes& GifBytes::text(const std::string& s) {
    m_bytes.insert(m_bytes.end(), s.begin(), s.end());
    return *this;
}

GifBytes& GifBytes::word(int v) {
    return raw({v & 0xFF, (v >> 8) & 0xFF});
}

GifBytes& GifBytes::table(const std::vector<Rgb>& colors) {
    for (const Rgb& c : colors) {
        raw({c.red, c.green, c.blue});
    }
    return *this;
}

GifBytes& GifBytes::header(int width, int height, const std::vector<Rgb>& global,
                           const std::string& signature, int background) {
    text(signature).word(width).word(height);
    const int bits = global.empty() ? 0 : colorBitsPerPixel(static_cast<int>(global.size()));
    raw({global.empty() ? 0 : 0x80 | 0x70 | (bits - 1), background, 0});
    return table(global);
}

GifBytes& GifBytes::graphicControl(int disposal, int delay, std::optional<int> transparent) {
    raw({0x21, 0xF9, 4, (disposal << 2) | (transparent ? 1 : 0)}).word(delay);
    return raw({transparent.value_or(0), 0});
}

GifBytes& GifBytes::loop(int count, const std::string& identifier) {
    raw({0x21, 0xFF, 11}).text(identifier);
    return raw({3, 1}).word(count).raw({0});
}

GifBytes& GifBytes::descriptor(int left, int top, int width, int height, int packed) {
    raw({0x2C}).word(left).word(top).word(width).word(height);
    return raw({packed});
}

GifBytes& GifBytes::data(int minCodeSize, const Bytes& lzw, bool terminate, std::size_t blockSize) {
    raw({minCodeSize});
    for (std::size_t at = 0; at < lzw.size(); at += blockSize) {
        const std::size_t n = std::min(blockSize, lzw.size() - at);
        m_bytes.push_back(static_cast<std::uint8_t>(n));
        m_bytes.insert(m_bytes.end(), lzw.begin() + static_cast<std::ptrdiff_t>(at),
                       lzw.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    if (terminate) {
        m_bytes.push_back(0);
    }
    return *this;
}

GifBytes& GifBytes::image(int left, int top, int width, int height, const Bytes& indices,
                          int minCodeSize, int packed) {
    return descriptor(left, top, width, height, packed)
        .data(minCodeSize, literalLzw(indices, minCodeSize));
}

GifBytes& GifBytes::trailer() {
    return raw({0x3B});
}

Bytes animatedGifBytes(int width, int height, const std::vector<Rgb>& colors, int delay,
                       std::optional<int> loopCount) {
    if (colors.empty() || colors.size() > 4) {
        throw std::invalid_argument("animatedGifBytes: one to four frames");
    }
    std::vector<Rgb> table(4, Rgb{255, 255, 255});
    std::ranges::copy(colors, table.begin());
    GifBytes file;
    file.header(width, height, table);
    if (loopCount) {
        file.loop(*loopCount);
    }
    constexpr int kKeep = 1;
    for (std::size_t frame = 0; frame < colors.size(); ++frame) {
        file.graphicControl(kKeep, delay)
            .image(0, 0, width, height,
                   Bytes(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                         static_cast<std::uint8_t>(frame)));
    }
    return file.trailer().bytes();
}

}  // namespace tz::test
