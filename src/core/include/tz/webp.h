// WebP files: reading still and animated files into a 24- or 32-bit bitmap, writing lossy and
// lossless files.
#pragma once

#include <string>

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "tz/bitmap.h"
#include "tz/decoded_picture.h"

namespace tz {

// The header's size (an animation's canvas), and whether the picture has alpha (an alpha
// flag or chunk, or an animation). Throws tz::WebpError as decodeWebp does.
PictureHeader readWebpHeader(std::span<const std::uint8_t> bytes);

// Decodes a WebP file held in memory (a RIFF container): lossy, lossless, alpha; an animation
// gives its first frame as shown on its canvas, which starts transparent. Pictures with alpha
// and animations become 32-bit, the others 24-bit. The ICCP profile is returned as stored;
// `lossless` tells whether the (first) frame is lossless.
// Throws tz::WebpError "Not a WebP file", "WebP file truncated", "Invalid WebP file: " and
// what is wrong, or "Unsupported WebP file"; tz::Error when the picture needs more memory than
// the machine has.
// With `useThreads` the library may filter on a second thread when the picture is large (8 MP
// or more); the pixels are the same.
DecodedPicture decodeWebp(std::span<const std::uint8_t> bytes, bool useThreads = false);

// Reads and decodes a WebP file. Throws as decodeWebp, and tz::Error naming the file when it
// cannot be read.
DecodedPicture loadWebpFile(const std::filesystem::path& file, bool useThreads = false);

inline constexpr int kWebpDefaultQuality = 89;

struct WebpEncoding {
    // Lossless keeps every pixel exactly, the colour under transparent pixels included.
    bool lossless = false;
    // Lossy quality, 0 (smallest) to 100 (best); lossless files use the library's default
    // effort instead.
    int quality = kWebpDefaultQuality;
    // The library may analyse on a second thread for large pictures (8 MP or more); the bytes
    // are the same.
    bool useThreads = false;
};

// A WebP file of the bitmap (indexed bitmaps converted to 24 bits first). Alpha is written when
// a 32-bit bitmap has a pixel that is not opaque. A non-empty `iccProfile` is embedded (ICCP
// chunk). Throws tz::WebpError for an empty bitmap, one larger than the format's 16383 × 16383
// pixels, or a quality outside 0 … 100.
std::vector<std::uint8_t> encodeWebp(const Bitmap& bitmap, const WebpEncoding& encoding = {},
                                     std::span<const std::uint8_t> iccProfile = {});

// The WebP library in use, as "libwebp 1.2.4".
std::string webpLibraryVersion();

}  // namespace tz
