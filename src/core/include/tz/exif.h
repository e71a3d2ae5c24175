// EXIF blocks of JPEG files, read and re-made through libexif: the orientation they give, and
// the block an output picture carries.
#pragma once

#include <string>

#include <cstdint>
#include <span>
#include <vector>

#include "tz/orientation.h"

namespace tz {

// An EXIF block is the payload of a JPEG APP1 segment: "Exif\0\0", then a TIFF structure.

// The block's Orientation tag. Normal when the block has none, when the tag is not a single
// short of 1 to 8, and when libexif cannot parse the block: damaged data is never an error.
Orientation exifOrientation(std::span<const std::uint8_t> exif);

// The block re-made for an output picture of width × height pixels whose stored pixels stand as
// `orientation` says: the Orientation tag set to it (added only when it is not Normal), the
// embedded thumbnail removed, PixelXDimension and PixelYDimension (where present) set to the
// size; every other tag libexif reads is kept. Empty when libexif cannot parse the block or
// the result does not fit in one segment. Throws only std::bad_alloc.
std::vector<std::uint8_t> exifForOutput(std::span<const std::uint8_t> exif, int width, int height,
                                        Orientation orientation);

// The EXIF library this program was built with, as "libexif 0.6.24".
std::string exifLibraryVersion();

}  // namespace tz
