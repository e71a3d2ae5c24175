// GIF colour tables: entries, growth of their storage and bits per pixel.
#include <algorithm>

#include "tz/errors.h"
#include "tz/gif.h"

namespace tz {

namespace {

constexpr int kFirstCapacity = 16;
constexpr int kCapacityStep = 32;

}  // namespace

int colorBitsPerPixel(int entries) {
    if (entries <= 0) {
        return 0;
    }
    int bits = 1;
    while ((1 << bits) < entries) {
        ++bits;
    }
    return bits;
}

GifColorTable::GifColorTable(std::vector<Rgb> colors, bool sorted) : m_sorted(sorted) {
    if (colors.size() > static_cast<std::size_t>(kMaxEntries)) {
        throw GifError("Color table overflow");
    }
    reserveFor(static_cast<int>(colors.size()));
    m_colors = std::move(colors);
}

void GifColorTable::reserveFor(int entries) {
    while (m_capacity < entries) {
        m_capacity =
            m_capacity == 0 ? kFirstCapacity : std::min(m_capacity + kCapacityStep, kMaxEntries);
    }
    m_colors.reserve(static_cast<std::size_t>(m_capacity));
}

int GifColorTable::add(Rgb color) {
    if (count() >= kMaxEntries) {
        throw GifError("Color table overflow");
    }
    reserveFor(count() + 1);
    m_colors.push_back(color);
    return count() - 1;
}

Rgb GifColorTable::color(int index) const {
    if (m_colors.empty()) {
        throw GifError("Color table is empty");
    }
    if (index < 0 || index >= count()) {
        throw GifError("Invalid color index");
    }
    return m_colors[static_cast<std::size_t>(index)];
}

void GifColorTable::clear() {
    m_colors.clear();
    m_sorted = false;
}

int GifColorTable::bitsPerPixel() const {
    return colorBitsPerPixel(count());
}

}  // namespace tz
