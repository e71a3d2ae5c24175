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

ColorTable::ColorTable(std::vector<Rgb> colors, bool sorted) : m_sorted(sorted) {
    if (colors.size() > static_cast<std::size_t>(kMaxEntries)) {
        throw GIFException("Color table overflow");
    }
    reserveFor(static_cast<int>(colors.size()));
    m_colors = std::move(colors);
}

void ColorTable::reserveFor(int entries) {
    while (m_capacity < entries) {
        m_capacity =
            m_capacity == 0 ? kFirstCapacity : std::min(m_capacity + kCapacityStep, kMaxEntries);
    }
    m_colors.reserve(static_cast<std::size_t>(m_capacity));
}

int ColorTable::add(Rgb color) {
    if (count() >= kMaxEntries) {
        throw GIFException("Color table overflow");
    }
    reserveFor(count() + 1);
    m_colors.push_back(color);
    return count() - 1;
}

Rgb ColorTable::color(int index) const {
    if (m_colors.empty()) {
        throw GIFException("Color table is empty");
    }
    if (index < 0 || index >= count()) {
        throw GIFException("Invalid color index");
    }
    return m_colors[static_cast<std::size_t>(index)];
}

void ColorTable::clear() {
    m_colors.clear();
    m_sorted = false;
}

int ColorTable::bitsPerPixel() const {
    return colorBitsPerPixel(count());
}

}  // namespace tz
