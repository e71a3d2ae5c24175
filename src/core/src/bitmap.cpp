// Bitmap storage, pixel access and conversion to 24 bits per pixel.
#include "tz/bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "tz/errors.h"
#include "tz/memory_budget.h"

namespace tz {

namespace {

constexpr Rgb kWhite{255, 255, 255};

std::size_t rowBytes(int width, PixelFormat format) {
    const auto bits =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(bitsPerPixel(format));
    return (bits + 7) / 8;
}

std::uint8_t whiteIndex(const std::vector<Rgb>& table) {
    const auto found = std::find(table.begin(), table.end(), kWhite);
    if (found == table.end() || found - table.begin() > 255) {
        return 0;
    }
    return static_cast<std::uint8_t>(found - table.begin());
}

// Fills a packed indexed row with one index.
std::uint8_t packedFill(std::uint8_t index, PixelFormat format) {
    switch (format) {
        case PixelFormat::Bits1:
            return (index & 1) != 0 ? 0xFF : 0x00;
        case PixelFormat::Bits4:
            return static_cast<std::uint8_t>((index & 0x0F) * 0x11);
        default:
            return index;
    }
}

}  // namespace

Rgb composeOverWhite(Rgba color) {
    const auto compose = [alpha = unsigned{color.alpha}](unsigned channel) {
        // (x + 127) / 255 rounds x / 255 to nearest: 255 is odd, so no quotient ends in a half.
        return static_cast<std::uint8_t>((channel * alpha + 255 * (255 - alpha) + 127) / 255);
    };
    return Rgb{compose(color.red), compose(color.green), compose(color.blue)};
}

int bitsPerPixel(PixelFormat format) {
    switch (format) {
        case PixelFormat::Bits1:
            return 1;
        case PixelFormat::Bits4:
            return 4;
        case PixelFormat::Bits8:
            return 8;
        case PixelFormat::Bits24:
            return 24;
        case PixelFormat::Bits32:
            return 32;
    }
    return 24;
}

std::size_t bitmapBytes(int width, int height, PixelFormat format) {
    if (width < 0 || height < 0) {
        throw Error("Invalid bitmap size " + std::to_string(width) + " x " +
                    std::to_string(height));
    }
    const std::size_t stride = rowBytes(width, format);
    if (height != 0 &&
        stride > std::numeric_limits<std::size_t>::max() / static_cast<std::size_t>(height)) {
        throw Error("Bitmap size " + std::to_string(width) + " x " + std::to_string(height) +
                    " is too large");
    }
    return stride * static_cast<std::size_t>(height);
}

void ensureAllocatable(std::size_t bytes, int width, int height) {
    admitAllocation(bytes, width, height);
}

Bitmap::Bitmap(int width, int height, PixelFormat format, std::vector<Rgb> colorTable)
    : m_format(format), m_colorTable(std::move(colorTable)) {
    setSize(width, height);
}

Bitmap::Bitmap(ForOverwrite, int width, int height, PixelFormat format, std::vector<Rgb> colorTable)
    : m_format(format), m_colorTable(std::move(colorTable)) {
    const std::size_t bytes = bitmapBytes(width, height, m_format);
    ensureAllocatable(bytes, width, height);
    m_pixels = ByteBuffer(bytes);
    m_width = width;
    m_height = height;
    m_stride = rowBytes(width, m_format);
}

void Bitmap::setSize(int width, int height) {
    const std::size_t bytes = bitmapBytes(width, height, m_format);
    ensureAllocatable(bytes, width, height);
    const bool direct = m_format == PixelFormat::Bits24 || m_format == PixelFormat::Bits32;
    const std::uint8_t fill = direct ? 0xFF : packedFill(whiteIndex(m_colorTable), m_format);
    ByteBuffer pixels(bytes, fill);
    m_pixels.swap(pixels);
    m_width = width;
    m_height = height;
    m_stride = rowBytes(width, m_format);
}

std::uint8_t Bitmap::index(int x, int y) const {
    const std::uint8_t* line = row(y);
    switch (m_format) {
        case PixelFormat::Bits1:
            return (line[x >> 3] >> (7 - (x & 7))) & 1;
        case PixelFormat::Bits4:
            return (x & 1) == 0 ? line[x >> 1] >> 4 : line[x >> 1] & 0x0F;
        case PixelFormat::Bits8:
            return line[x];
        case PixelFormat::Bits24:
        case PixelFormat::Bits32:
            break;
    }
    return 0;
}

void Bitmap::setIndex(int x, int y, std::uint8_t value) {
    std::uint8_t* line = row(y);
    switch (m_format) {
        case PixelFormat::Bits1: {
            const int shift = 7 - (x & 7);
            line[x >> 3] =
                static_cast<std::uint8_t>((line[x >> 3] & ~(1 << shift)) | ((value & 1) << shift));
            break;
        }
        case PixelFormat::Bits4:
            if ((x & 1) == 0) {
                line[x >> 1] = static_cast<std::uint8_t>((line[x >> 1] & 0x0F) | (value << 4));
            } else {
                line[x >> 1] = static_cast<std::uint8_t>((line[x >> 1] & 0xF0) | (value & 0x0F));
            }
            break;
        case PixelFormat::Bits8:
            line[x] = value;
            break;
        case PixelFormat::Bits24:
        case PixelFormat::Bits32:
            break;
    }
}

Rgb Bitmap::color(int x, int y) const {
    if (m_format == PixelFormat::Bits24) {
        const std::uint8_t* pixel = row(y) + static_cast<std::size_t>(x) * 3;
        return Rgb{pixel[2], pixel[1], pixel[0]};
    }
    if (m_format == PixelFormat::Bits32) {
        return composeOverWhite(rgba(x, y));
    }
    const std::uint8_t i = index(x, y);
    return i < m_colorTable.size() ? m_colorTable[i] : Rgb{};
}

void Bitmap::setColor(int x, int y, Rgb value) {
    if (m_format == PixelFormat::Bits32) {
        setRgba(x, y, Rgba{value.red, value.green, value.blue, 255});
        return;
    }
    std::uint8_t* pixel = row(y) + static_cast<std::size_t>(x) * 3;
    pixel[0] = value.blue;
    pixel[1] = value.green;
    pixel[2] = value.red;
}

Rgba Bitmap::rgba(int x, int y) const {
    if (m_format == PixelFormat::Bits32) {
        const std::uint8_t* pixel = row(y) + static_cast<std::size_t>(x) * 4;
        return Rgba{pixel[2], pixel[1], pixel[0], pixel[3]};
    }
    const Rgb c = color(x, y);
    return Rgba{c.red, c.green, c.blue, 255};
}

void Bitmap::setRgba(int x, int y, Rgba value) {
    if (m_format != PixelFormat::Bits32) {
        setColor(x, y, Rgb{value.red, value.green, value.blue});
        return;
    }
    std::uint8_t* pixel = row(y) + static_cast<std::size_t>(x) * 4;
    pixel[0] = value.blue;
    pixel[1] = value.green;
    pixel[2] = value.red;
    pixel[3] = value.alpha;
}

Bitmap Bitmap::to24() const {
    if (m_format == PixelFormat::Bits24) {
        return *this;
    }
    Bitmap result(m_width, m_height, PixelFormat::Bits24);
    if (m_format == PixelFormat::Bits32) {
        for (int y = 0; y < m_height; ++y) {
            const std::uint8_t* in = row(y);
            std::uint8_t* out = result.row(y);
            for (int x = 0; x < m_width; ++x, in += 4, out += 3) {
                const Rgb c = composeOverWhite(Rgba{in[2], in[1], in[0], in[3]});
                out[0] = c.blue;
                out[1] = c.green;
                out[2] = c.red;
            }
        }
        return result;
    }
    for (int y = 0; y < m_height; ++y) {
        std::uint8_t* out = result.row(y);
        for (int x = 0; x < m_width; ++x) {
            const Rgb c = color(x, y);
            *out++ = c.blue;
            *out++ = c.green;
            *out++ = c.red;
        }
    }
    return result;
}

void Bitmap::convertTo24() {
    if (m_format != PixelFormat::Bits24) {
        *this = to24();
    }
}

}  // namespace tz
