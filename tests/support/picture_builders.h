// Pictures built in code for the tests: bitmaps of known content, BMP and GIF files put together
// byte by byte (without the writers under test), pictures encoded by the core's writers, and
// picture files on disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "tz/bitmap.h"
#include "tz/jpeg.h"
#include "tz/resample.h"

namespace tz::test {

using Bytes = std::vector<std::uint8_t>;

// ---- Bitmaps ----

// A 24-bit picture of one colour.
Bitmap solidBitmap(int width, int height, Rgb color);
// A 32-bit picture of one colour and alpha.
Bitmap solidBitmap(int width, int height, Rgba color);
// A smooth 24-bit picture: red rises to the right, green downwards, blue is 96.
Bitmap gradientBitmap(int width, int height);

// A 24-bit picture whose colours change from pixel to pixel in all three channels: detail that
// compresses poorly, so that most of a JPEG of it is scan data.
Bitmap detailedBitmap(int width, int height);
// A 24-bit picture of `pixels`, given row by row from the top (width × height of them).
Bitmap bitmapOfColors(int width, int height, const std::vector<Rgb>& pixels);

// ---- Pictures through the core's writers ----

Bytes jpegBytes(const Bitmap& bitmap, int quality = kJpegDefaults.compressionQuality);
Bytes gifBytes(const Bitmap& bitmap);
// Writes a one-colour picture of that size in the format the file's extension names, in any
// letter case: ".bmp" red, ".jpg" and ".jpeg" blue, ".gif" green. Throws for other extensions.
void writePicture(const std::filesystem::path& file, int width, int height);

// ---- Pictures read as rows ----

// The rows of `source` from `first` to the end, read by one reader eight at a time as the
// resampler reads them, in a 24-bit picture of the source's size whose rows above `first` are
// white. Throws what the reader throws.
Bitmap readRows(RowSource& source, int first = 0);
// `picture` in 24 bits with its rows above `first` white: what readRows gives of its source.
Bitmap whiteAbove(const Bitmap& picture, int first);

// ---- BMP files byte by byte ----

// Little-endian fields written into `out` at byte `at`.
void putU16(Bytes& out, std::size_t at, std::uint32_t value);
void putU32(Bytes& out, std::size_t at, std::uint32_t value);

// The fields of a BMP file to build; everything not set describes a 1 x 1 24-bit picture.
struct BmpFields {
    std::uint32_t headerSize = 40;
    std::int32_t width = 1;
    std::int32_t height = 1;
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
    std::vector<std::uint32_t> masks;         // inside a header longer than 40 bytes, else after it
    std::vector<Rgb> palette;                 // 3-byte entries for a 12-byte header, else 4-byte
    std::size_t gap = 0;                      // unused bytes between the palette and the pixels
    Bytes pixels{0, 0, 0, 0};                 // as stored, padding included
    std::optional<std::uint32_t> dataOffset;  // default: right after the gap
};

Bytes buildBmp(const BmpFields& fields);

// ---- GIF files byte by byte ----

// Packs codes least significant bit first, as GIF's LZW data stores them.
class CodePacker {
  public:
    void put(int code, int width);
    Bytes finish();

  private:
    Bytes m_bytes;
    std::uint64_t m_bits = 0;
    int m_count = 0;
};

// LZW data made of literal codes only, with a clear code before the decoder's table would
// widen the codes: a stream any decoder reads, written without the encoder under test.
Bytes literalLzw(const Bytes& indices, int minCodeSize);

// GIF files put together block by block.
class GifBytes {
  public:
    GifBytes& raw(std::initializer_list<int> values);
    GifBytes& text(const std::string& s);
    GifBytes& word(int v);
    GifBytes& table(const std::vector<Rgb>& colors);
    // Signature, logical screen and global table (whose size must be a power of two >= 2).
    GifBytes& header(int width, int height, const std::vector<Rgb>& global = {},
                     const std::string& signature = "GIF89a", int background = 0);
    GifBytes& graphicControl(int disposal, int delay, std::optional<int> transparent = {});
    GifBytes& loop(int count, const std::string& identifier = "NETSCAPE2.0");
    GifBytes& descriptor(int left, int top, int width, int height, int packed);
    // Data bytes as sub-blocks of `blockSize` and the terminator.
    GifBytes& data(int minCodeSize, const Bytes& lzw, bool terminate = true,
                   std::size_t blockSize = 255);
    // A frame whose indices (in stream order) use the global table, literal LZW codes.
    GifBytes& image(int left, int top, int width, int height, const Bytes& indices,
                    int minCodeSize = 2, int packed = 0);
    GifBytes& trailer();
    const Bytes& bytes() const { return m_bytes; }

  private:
    Bytes m_bytes;
};

// A GIF89a of one to four full-screen frames, frame i filled with colors[i], each with a graphic
// control extension of `delay` hundredths and disposal "keep". A loop count adds the looping
// application extension (0 = endless).
Bytes animatedGifBytes(int width, int height, const std::vector<Rgb>& colors, int delay,
                       std::optional<int> loopCount = std::nullopt);

}  // namespace tz::test
