// A bitmap becoming a frame: indexed bitmaps copied with their tables, other depths reduced
// to the 216-colour web palette.
#include <array>
#include <cstring>
#include <new>

#include "tz/errors.h"
#include "tz/gif.h"

namespace tz {

namespace {

constexpr int kWebLevels = 6;
constexpr int kWebColors = kWebLevels * kWebLevels * kWebLevels;

// The level of a channel value. Deliberately biased truncation, (value + 3) div 51, not
// rounding to the nearest of 0, 51, ..., 255: existing outputs depend on it.
constexpr int webLevel(int value) {
    return (value + 3) / 51;
}

// Per-channel parts of the web-palette index, so a pixel costs three lookups and two adds.
struct WebLookup {
    std::array<std::uint8_t, 256> red{};
    std::array<std::uint8_t, 256> green{};
    std::array<std::uint8_t, 256> blue{};
};

constexpr WebLookup makeWebLookup() {
    WebLookup lookup;
    for (int value = 0; value < 256; ++value) {
        const auto i = static_cast<std::size_t>(value);
        lookup.red[i] = static_cast<std::uint8_t>(webLevel(value) * kWebLevels * kWebLevels);
        lookup.green[i] = static_cast<std::uint8_t>(webLevel(value) * kWebLevels);
        lookup.blue[i] = static_cast<std::uint8_t>(webLevel(value));
    }
    return lookup;
}

constexpr WebLookup kWebLookup = makeWebLookup();

ByteBuffer allocateIndices(int width, int height) {
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    try {
        ensureAllocatable(count, width, height);
        return ByteBuffer(count);
    } catch (const std::bad_alloc&) {
        throw Error("Failed to allocate memory for GIF DIB");
    } catch (const Error&) {
        throw Error("Failed to allocate memory for GIF DIB");
    }
}

// Indices of a 1-, 4- or 8-bit bitmap, unpacked most significant bits first.
ByteBuffer copyIndices(const Bitmap& source) {
    ByteBuffer indices = allocateIndices(source.width(), source.height());
    const auto width = static_cast<std::size_t>(source.width());
    for (int y = 0; y < source.height(); ++y) {
        std::uint8_t* out = indices.data() + static_cast<std::size_t>(y) * width;
        const std::uint8_t* in = source.row(y);
        switch (source.format()) {
            case PixelFormat::Bits8:
                std::memcpy(out, in, width);
                break;
            case PixelFormat::Bits4:
                for (std::size_t x = 0; x < width; ++x) {
                    out[x] = (x & 1) == 0 ? in[x >> 1] >> 4 : in[x >> 1] & 0x0F;
                }
                break;
            case PixelFormat::Bits1:
                for (std::size_t x = 0; x < width; ++x) {
                    out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
                }
                break;
            case PixelFormat::Bits24:
            case PixelFormat::Bits32:
                break;
        }
    }
    return indices;
}

// Nearest web-palette colour per pixel, rows alternately left to right and right to left as
// the dither engine walks them (with nearest colour the order does not change the result).
// Pixels with alpha are reduced as they look over white; the GIF keeps no transparency.
ByteBuffer reduceToWebPalette(const Bitmap& source) {
    if (source.format() == PixelFormat::Bits32) {
        return reduceToWebPalette(source.to24());
    }
    ByteBuffer indices = allocateIndices(source.width(), source.height());
    const int width = source.width();
    for (int y = 0; y < source.height(); ++y) {
        std::uint8_t* out =
            indices.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        const std::uint8_t* in = source.row(y);
        const bool leftToRight = (y & 1) == 0;
        for (int i = 0; i < width; ++i) {
            const int x = leftToRight ? i : width - 1 - i;
            const std::uint8_t* pixel = in + static_cast<std::size_t>(x) * 3;
            out[x] = static_cast<std::uint8_t>(
                kWebLookup.blue[pixel[0]] + kWebLookup.green[pixel[1]] + kWebLookup.red[pixel[2]]);
        }
    }
    return indices;
}

}  // namespace

const GifColorTable& webPalette() {
    static const GifColorTable palette = [] {
        std::vector<Rgb> colors(GifColorTable::kMaxEntries);
        for (int i = 0; i < kWebColors; ++i) {
            colors[static_cast<std::size_t>(i)] = Rgb{static_cast<std::uint8_t>(51 * (i / 36)),
                                                      static_cast<std::uint8_t>(51 * ((i / 6) % 6)),
                                                      static_cast<std::uint8_t>(51 * (i % 6))};
        }
        return GifColorTable(std::move(colors));
    }();
    return palette;
}

std::uint8_t webPaletteIndex(Rgb color) {
    return static_cast<std::uint8_t>(kWebLookup.red[color.red] + kWebLookup.green[color.green] +
                                     kWebLookup.blue[color.blue]);
}

void GifImage::assign(const Bitmap& source) {
    const bool indexed =
        source.format() != PixelFormat::Bits24 && source.format() != PixelFormat::Bits32;
    if (source.empty()) {
        clear();
        m_images.emplace_back();
        return;
    }
    GifFrame frame = indexed ? GifFrame(0, 0, source.width(), source.height(),
                                        GifColorTable(source.colorTable()), copyIndices(source))
                             : GifFrame(0, 0, source.width(), source.height(), webPalette(),
                                        reduceToWebPalette(source));
    clear();
    addImage(std::move(frame));
}

}  // namespace tz
