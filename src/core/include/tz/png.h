// PNG files: reading any PNG into a 24- or 32-bit bitmap, writing 24- and 32-bit files.
#pragma once

#include <string>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "tz/bitmap.h"
#include "tz/decoded_picture.h"

namespace tz {

// The header's size, and whether the picture has alpha (an alpha channel or a tRNS chunk).
// Reads the chunks before the image data only. Throws tz::PngError as decodePng does.
PictureHeader readPngHeader(std::span<const std::uint8_t> bytes);

// Decodes a PNG file held in memory: every colour type and bit depth, palettes, tRNS
// transparency and interlacing. Pictures with alpha become 32-bit, the others 24-bit (grey as
// three equal channels); 16-bit samples v become round(v · 255 / 65535). Gamma and colour
// chunks are not applied to the pixels; the iCCP profile is returned as stored, decompressed.
// `lossless` is true. Data after the image data is not read.
// Throws tz::PngError "Not a PNG file", "PNG file truncated" (also when the file is too short
// to hold the picture its header announces) or "Invalid PNG file: " and the library's message;
// tz::Error when the picture needs more memory than the machine has.
DecodedPicture decodePng(std::span<const std::uint8_t> bytes);

// Reads and decodes a PNG file. Throws as decodePng, and tz::Error naming the file when it
// cannot be read.
DecodedPicture loadPngFile(const std::filesystem::path& file);

// A PNG file's picture, for resizing: an opaque picture that is not interlaced as rows for
// resampleRows, decoded as they are read (the pixels decodePng gives), with `picture` holding
// only the profile; any other decoded whole into `picture` (a picture with alpha is resampled
// whole, premultiplied; an interlaced one has no whole row before its last pass).
struct PngPicture {
    std::unique_ptr<PictureRows> rows;
    DecodedPicture picture;
};

// Reads a PNG file once and checks its header as loadPngFile does. Throws as loadPngFile does; a
// reader of the rows throws as decodePng does for damaged image data.
PngPicture readPngPicture(const std::filesystem::path& file);

// A PNG file of the bitmap: 32-bit bitmaps as 8-bit RGBA, all others as 8-bit RGB (indexed ones
// converted to 24 bits first); not interlaced, each row filtered by the type whose bytes weigh
// least, deflated at the default level. Image data of more than a mebibyte is deflated in
// parts of about a mebibyte each, primed with the data before them, on up to `threads` threads;
// the bytes depend on the picture alone, never on the threads. A non-empty `iccProfile` is
// embedded (iCCP chunk) when it is a sound profile for RGB data; one that is not (a grey
// profile, a damaged header) is left out, since it would misdescribe the pixels. Throws
// tz::PngError for an empty bitmap.
std::vector<std::uint8_t> encodePng(const Bitmap& bitmap,
                                    std::span<const std::uint8_t> iccProfile = {}, int threads = 1);

// The PNG library in use, as "libpng 1.6.39".
std::string pngLibraryVersion();

}  // namespace tz
