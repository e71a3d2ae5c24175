// The GIF picture: reading GIF87a/GIF89a files, rendering their first frame into bitmaps,
// writing a bitmap as a one-frame GIF reduced to the 216-colour web palette, and playing an
// animated picture's frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "tz/bitmap.h"
#include "tz/decoded_picture.h"

namespace tz {

// A GIF colour table: up to 256 entries and a sorted flag.
class GifColorTable {
  public:
    static constexpr int kMaxEntries = 256;

    GifColorTable() = default;
    // Throws GifError "Color table overflow" for more than 256 entries.
    explicit GifColorTable(std::vector<Rgb> colors, bool sorted = false);

    int count() const { return static_cast<int>(m_colors.size()); }
    bool empty() const { return m_colors.empty(); }
    const std::vector<Rgb>& colors() const { return m_colors; }
    bool sorted() const { return m_sorted; }
    void setSorted(bool sorted) { m_sorted = sorted; }

    // Appends an entry and returns its index; "Color table overflow" past 256 entries.
    int add(Rgb color);
    // The entry at `index`; "Color table is empty" or "Invalid color index".
    Rgb color(int index) const;
    void clear();

    // 0 for an empty table, else the smallest b >= 1 with 2^b >= count().
    int bitsPerPixel() const;
    // Entries the storage currently holds room for: at least 16, growing in steps of 32, at
    // most 256.
    int capacity() const { return m_capacity; }

    friend bool operator==(const GifColorTable& a, const GifColorTable& b) {
        return a.m_colors == b.m_colors && a.m_sorted == b.m_sorted;
    }

  private:
    void reserveFor(int entries);

    std::vector<Rgb> m_colors;
    bool m_sorted = false;
    int m_capacity = 0;
};

// Bits per pixel of a table with `entries` entries (0 for none, else ceil(log2), at least 1).
int colorBitsPerPixel(int entries);

// Disposal methods of the graphic control extension (values 4 to 7 are undefined and
// treated as None).
enum class GifDisposal : std::uint8_t {
    None = 0,               // no disposal specified
    Keep = 1,               // leave the frame in place
    RestoreBackground = 2,  // restore its area to the background
    RestorePrevious = 3,    // restore its area to what was there before the frame
};

struct GifGraphicControl {
    std::uint8_t packed = 0;  // reserved bits, disposal (bits 2-4), user input, transparency
    std::uint16_t delay = 0;  // hundredths of a second as written
    std::uint8_t transparentIndex = 0;

    GifDisposal disposal() const;
    bool transparent() const { return (packed & 0x01) != 0; }
    friend bool operator==(const GifGraphicControl&, const GifGraphicControl&) = default;
};

struct GifComment {
    std::string text;
    friend bool operator==(const GifComment&, const GifComment&) = default;
};

struct GifPlainText {
    std::vector<std::uint8_t> header;  // the 12-byte text grid block as read
    std::string text;
    friend bool operator==(const GifPlainText&, const GifPlainText&) = default;
};

struct GifApplicationExtension {
    std::string identifier;      // 8 characters
    std::string authentication;  // 3 characters
    std::vector<std::vector<std::uint8_t>> subBlocks;

    // "NETSCAPE2.0" or "ANIMEXTS1.0" with a looping sub-block (id 1): its 16-bit count.
    std::optional<int> loopCount() const;
    friend bool operator==(const GifApplicationExtension&,
                           const GifApplicationExtension&) = default;
};

using GifExtension =
    std::variant<GifGraphicControl, GifComment, GifPlainText, GifApplicationExtension>;

// One frame: image descriptor, local colour table, extensions and pixel indices (one byte
// per pixel, rows top to bottom, width × height).
//
// Indices are stored lazily: a frame read from a file holds only the rows its data reached,
// so a tiny file announcing a huge frame costs no huge allocation. Rows never reached read as
// index 0, as they would in a zero-filled buffer.
class GifFrame {
  public:
    GifFrame() = default;
    // A frame at (left, top) with all its indices; `pixels` must hold width × height bytes
    // (GifError "Invalid image dimensions" otherwise).
    GifFrame(int left, int top, int width, int height, GifColorTable localTable, ByteBuffer pixels);

    int left() const { return m_left; }
    int top() const { return m_top; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    Rect bounds() const { return {m_left, m_top, m_left + m_width, m_top + m_height}; }
    // No pixels: an extension-only frame, or one built from an empty bitmap.
    bool empty() const { return m_width == 0 || m_height == 0; }
    bool interlaced() const { return m_interlaced; }
    void setInterlaced(bool interlaced) { m_interlaced = interlaced; }

    const GifColorTable& colorTable() const { return m_localTable; }
    GifColorTable& colorTable() { return m_localTable; }

    const std::vector<GifExtension>& extensions() const { return m_extensions; }
    void addExtension(GifExtension extension) { m_extensions.push_back(std::move(extension)); }
    // The first graphic control extension, if any.
    const GifGraphicControl* graphicControl() const;
    // The transparent index when the graphic control extension marks one.
    std::optional<int> transparentIndex() const;

    // The row's indices; empty for a row the data never reached (all index 0).
    std::span<const std::uint8_t> row(int y) const;
    // Rows held in memory (the others read as index 0).
    int storedRows() const;
    // The index at (x, y) of the frame; "Invalid pixel coordinates" outside it.
    std::uint8_t pixel(int x, int y) const;

    // "89a" when the table is sorted or the frame has an extension, else "87a".
    std::string version() const;

    // False for a frame read from data that ended before its pixels did (LZW codes or the
    // file running out): the pixels never decoded are index 0.
    bool complete() const { return m_complete; }

  private:
    friend class GifReader;
    friend class GifImage;

    int m_left = 0;
    int m_top = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_interlaced = false;
    bool m_complete = true;
    GifColorTable m_localTable;
    std::vector<GifExtension> m_extensions;
    ByteBuffer m_pixels;  // whole rows, storedRows() × width
};

class GifImage {
  public:
    // Empty: no frames, screen 0 × 0.
    GifImage() = default;

    // Replaces the content by the file's. Throws tz::Error when the file cannot be read and
    // GifError for format errors (frames read completely before the error are kept).
    void loadFromFile(const std::filesystem::path& file);
    // Reads a GIF from `bytes` as from a stream starting at offset 0.
    void loadFromBytes(std::span<const std::uint8_t> bytes);
    // Reads a GIF from `bytes` starting at `position`; on success `position` is past the
    // last byte read, on a GifError it is restored to where the load began.
    void loadFromStream(std::span<const std::uint8_t> bytes, std::size_t& position);

    // The file's bytes; GifError "Unsupported GIF version" without frames, "Color not in
    // color table" for an index not below its table's entry count.
    std::vector<std::uint8_t> saveToBytes() const;
    // Throws tz::Error when the file cannot be written.
    void saveToFile(const std::filesystem::path& file) const;

    // The logical screen.
    int width() const { return m_screenWidth; }
    int height() const { return m_screenHeight; }
    void setScreenSize(int width, int height);
    std::uint8_t backgroundIndex() const { return m_backgroundIndex; }
    void setBackgroundIndex(std::uint8_t index) { m_backgroundIndex = index; }
    std::uint8_t aspectRatio() const { return m_aspectRatio; }
    const GifColorTable& globalColorTable() const { return m_globalTable; }
    GifColorTable& globalColorTable() { return m_globalTable; }

    const std::vector<GifFrame>& images() const { return m_images; }
    // Appends a frame; the logical screen grows to cover it.
    void addImage(GifFrame image);
    bool empty() const { return m_images.empty(); }
    void clear();

    // The table the frame's indices refer to: its local table, else the global table.
    const GifColorTable& activeColorTable(const GifFrame& image) const;
    // The loop count of the first looping application extension, if any frame carries one.
    std::optional<int> loopCount() const;
    // "87a" or "89a": the highest any frame needs; empty without frames.
    std::string version() const;

    // Draws the first frame into `rect` of `canvas` (made 24-bit), scaled by the ratio of the
    // rectangle to the logical screen and placed at its scaled position; transparent pixels
    // are left undrawn. An animated picture draws its first frame the same way. A first frame
    // with pixels but neither a local nor a global table throws GifError "No global or local
    // color table defined" and draws nothing.
    void draw(Bitmap& canvas, const Rect& rect) const;
    // The first frame as a bitmap: an 8-bit copy with its own table when it covers exactly the
    // logical screen, else a 24-bit white screen-sized bitmap with the frame drawn at its
    // position. An empty picture leaves `target` unchanged. Throws as draw.
    void assignTo(Bitmap& target) const;
    // The content becomes one frame built from `source`: 1-, 4- and 8-bit bitmaps with their
    // colour tables, other depths reduced to the web palette.
    void assign(const Bitmap& source);

  private:
    friend class GifReader;

    int m_screenWidth = 0;
    int m_screenHeight = 0;
    std::uint8_t m_backgroundIndex = 0;
    std::uint8_t m_aspectRatio = 0;
    GifColorTable m_globalTable;
    std::vector<GifFrame> m_images;
};

// The picture as draw() gives it on a white, screen-sized 24-bit bitmap, each row drawn as the
// resampler reads it instead of the whole bitmap at once. Throws as draw() does, before any row
// is read; incomplete() tells whether the first frame's data ended early.
std::unique_ptr<PictureRows> drawnRows(GifImage picture);

// The 256-entry web palette: entry i < 216 is (51·(i div 36), 51·((i div 6) mod 6),
// 51·(i mod 6)); entries 216 to 255 are black.
const GifColorTable& webPalette();

// The web-palette index of a colour: 36·r + 6·g + b with each level (value + 3) div 51.
std::uint8_t webPaletteIndex(Rgb color);

// The animation timeline of a GIF picture: which screen image shows now, how long it stays,
// and what the next frame makes of it. No threads and no toolkit: a caller's timer drives it.
class GifAnimation {
  public:
    // Starts on the first frame drawn over a white screen-sized background. Keeps its own copy
    // of the picture's frames. `speedPercent` scales the waits (100 = as written). Throws
    // tz::Error when the logical screen needs more memory than the machine has, and GifError
    // "No global or local color table defined" when the first frame has no colour table.
    explicit GifAnimation(const GifImage& image, int speedPercent = 100);
    // The same over `background` (any size: it is stretched to the logical screen), as when a
    // picture is drawn over what its destination already shows.
    GifAnimation(const GifImage& image, const Bitmap& background, int speedPercent = 100);

    // More than one frame with pixels.
    bool animated() const;
    // The composited screen image now shown: 24 bits, logical screen size.
    const Bitmap& current() const { return m_screen; }
    // Index into GifImage::images() of the frame shown last; -1 when there is none.
    int currentFrame() const;
    // The wait after the current frame in milliseconds: its graphic control delay (absent or
    // 0 gives 10, below 3 gives 3), 12 ms per unit, less half of `overrunMilliseconds` (the
    // time by which the previous wait was exceeded), scaled by 100 / speed, never negative.
    // -1 when the speed is below 1: wait until woken.
    int waitMilliseconds(int overrunMilliseconds = 0) const;
    // Shows the next frame after carrying out the current frame's disposal method. At the end
    // of a pass starts the next pass if there is one; returns false when all passes are done,
    // staying on the last frame.
    bool advance();
    // Passes to play: the count of the first looping extension in frame order, 1 without one;
    // 0 means endless.
    int passes() const { return m_passes; }
    // The pass now playing, from 1.
    int currentPass() const { return m_pass; }

  private:
    void drawFrame(std::size_t position);
    void dispose(std::size_t position);

    GifImage m_image;
    std::vector<std::size_t> m_frames;  // indices of the frames with pixels
    Bitmap m_background;                // what the picture was drawn over
    Bitmap m_screen;
    Bitmap m_saved;              // the area under a frame that restores to previous
    std::size_t m_position = 0;  // into m_frames
    int m_speed = 100;
    int m_passes = 1;
    int m_pass = 1;
};

}  // namespace tz
