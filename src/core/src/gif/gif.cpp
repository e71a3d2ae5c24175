// The GIF picture's frames, extensions and content; file access around the byte reader/writer.
#include <algorithm>
#include <limits>

#include "tz/errors.h"
#include "tz/file_io.h"
#include "tz/gif.h"

namespace tz {

namespace {

bool isLoopingIdentifier(const std::string& identifier, const std::string& authentication) {
    const std::string full = identifier + authentication;
    return full == "NETSCAPE2.0" || full == "ANIMEXTS1.0";
}

}  // namespace

GifDisposal GifGraphicControl::disposal() const {
    const int method = (packed >> 2) & 0x07;
    return method <= 3 ? static_cast<GifDisposal>(method) : GifDisposal::None;
}

std::optional<int> GifApplicationExtension::loopCount() const {
    if (!isLoopingIdentifier(identifier, authentication)) {
        return std::nullopt;
    }
    for (const auto& block : subBlocks) {
        if (block.size() >= 3 && block[0] == 1) {
            return block[1] | (block[2] << 8);
        }
    }
    return std::nullopt;
}

GifFrame::GifFrame(int left, int top, int width, int height, GifColorTable localTable,
                   ByteBuffer pixels)
    : m_left(left),
      m_top(top),
      m_width(width),
      m_height(height),
      m_localTable(std::move(localTable)),
      m_pixels(std::move(pixels)) {
    constexpr int kMaxSide = std::numeric_limits<std::uint16_t>::max();
    if (left < 0 || top < 0 || width < 0 || height < 0 || left > kMaxSide || top > kMaxSide ||
        width > kMaxSide || height > kMaxSide ||
        m_pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        throw GifError("Invalid image dimensions");
    }
}

const GifGraphicControl* GifFrame::graphicControl() const {
    for (const auto& extension : m_extensions) {
        if (const auto* control = std::get_if<GifGraphicControl>(&extension)) {
            return control;
        }
    }
    return nullptr;
}

std::optional<int> GifFrame::transparentIndex() const {
    const GifGraphicControl* control = graphicControl();
    if (control == nullptr || !control->transparent()) {
        return std::nullopt;
    }
    return control->transparentIndex;
}

int GifFrame::storedRows() const {
    return m_width == 0 ? 0 : static_cast<int>(m_pixels.size() / static_cast<std::size_t>(m_width));
}

std::span<const std::uint8_t> GifFrame::row(int y) const {
    if (y < 0 || y >= storedRows()) {
        return {};
    }
    const auto width = static_cast<std::size_t>(m_width);
    return {m_pixels.data() + static_cast<std::size_t>(y) * width, width};
}

std::uint8_t GifFrame::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= m_width || y >= m_height) {
        throw GifError("Invalid pixel coordinates");
    }
    const auto line = row(y);
    return line.empty() ? 0 : line[static_cast<std::size_t>(x)];
}

std::string GifFrame::version() const {
    return m_localTable.sorted() || !m_extensions.empty() ? "89a" : "87a";
}

void GifImage::setScreenSize(int width, int height) {
    constexpr int kMaxSide = std::numeric_limits<std::uint16_t>::max();
    if (width < 0 || height < 0 || width > kMaxSide || height > kMaxSide) {
        throw GifError("Invalid image dimensions");
    }
    m_screenWidth = width;
    m_screenHeight = height;
}

void GifImage::addImage(GifFrame image) {
    // The screen grows to cover the frame (a 16-bit field: the frame's own limits keep the
    // sums within 2 × 65535, and the writer stores what fits).
    m_screenWidth = std::max(m_screenWidth, std::min(image.left() + image.width(), 0xFFFF));
    m_screenHeight = std::max(m_screenHeight, std::min(image.top() + image.height(), 0xFFFF));
    m_images.push_back(std::move(image));
}

void GifImage::clear() {
    m_screenWidth = 0;
    m_screenHeight = 0;
    m_backgroundIndex = 0;
    m_aspectRatio = 0;
    m_globalTable.clear();
    m_images.clear();
}

const GifColorTable& GifImage::activeColorTable(const GifFrame& image) const {
    return image.colorTable().empty() ? m_globalTable : image.colorTable();
}

std::optional<int> GifImage::loopCount() const {
    for (const auto& image : m_images) {
        for (const auto& extension : image.extensions()) {
            if (const auto* application = std::get_if<GifApplicationExtension>(&extension)) {
                if (const auto count = application->loopCount()) {
                    return count;
                }
            }
        }
    }
    return std::nullopt;
}

std::string GifImage::version() const {
    std::string highest;
    for (const auto& image : m_images) {
        highest = std::max(highest, image.version());
    }
    return highest;
}

void GifImage::loadFromFile(const std::filesystem::path& file) {
    const ByteBuffer bytes = readWholeFile(file);
    loadFromBytes(bytes);
}

void GifImage::loadFromBytes(std::span<const std::uint8_t> bytes) {
    std::size_t position = 0;
    loadFromStream(bytes, position);
}

void GifImage::saveToFile(const std::filesystem::path& file) const {
    writeFileAtomically(file, saveToBytes());
}

}  // namespace tz
