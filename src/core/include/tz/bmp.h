// Windows BMP files: reading into a tz::Bitmap and writing 24-bit files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "tz/bitmap.h"
#include "tz/decoded_picture.h"

namespace tz {

// Decodes a Windows BMP file held in memory. 1-, 4- and 8-bit files stay indexed (colour table
// copied, palettes shorter than the depth allows kept short; 2-bit files become 4-bit indexed);
// 16-, 24- and 32-bit files become 24-bit. Understands OS/2 1.x and 2.x headers and Windows
// headers of 40, 52, 56, 108 and 124 bytes, RLE4, RLE8 and bit-field masks; alpha is ignored.
// Pixels an RLE stream leaves unwritten take colour-table index 0. When `incomplete` is given,
// it tells whether the picture's data ended early: an RLE stream that stops without its
// end-of-bitmap escape (uncompressed data cut short is refused instead).
// Throws tz::Error with a message naming the problem; nothing is allocated for a size the
// file's own data cannot back.
Bitmap decodeBmp(std::span<const std::uint8_t> bytes, bool* incomplete = nullptr);

// Reads and decodes a BMP file. Throws tz::Error (naming the file when it cannot be read).
Bitmap loadBmpFile(const std::filesystem::path& file, bool* incomplete = nullptr);

// The picture of an uncompressed BMP file as rows for resampleRows, read from the file as they
// are needed: the pixels loadBmpFile gives, converted to 24 bits. Null for an RLE file, whose
// rows only come out of decoding the ones stored before them. Throws as loadBmpFile does for a
// file it refuses, before any pixel is read.
std::unique_ptr<PictureRows> openBmpRows(const std::filesystem::path& file);

// A 24-bit bottom-up BMP (BITMAPFILEHEADER + BITMAPINFOHEADER, rows padded to 4 bytes, no
// colour table, resolution fields 0); any bitmap is converted to 24 bits first.
// Throws tz::Error for an empty bitmap or one too large for the format's 32-bit sizes.
std::vector<std::uint8_t> encodeBmp(const Bitmap& bitmap);

}  // namespace tz
