// HEIF files (HEIC photos, AVIF): reading the primary picture into a 24- or 32-bit bitmap.
#pragma once

#include <string>

#include <cstdint>
#include <filesystem>
#include <span>

#include "tz/decoded_picture.h"

namespace tz {

// The primary picture's size as shown (after its rotation, mirroring and cropping), and
// whether it has alpha. Throws tz::HeifError as decodeHeif does.
PictureHeader readHeifHeader(std::span<const std::uint8_t> bytes);

// Decodes the primary picture of a HEIF file held in memory (HEVC or AV1 coded) with its
// transformations applied, so a phone's photo comes out upright. Pictures with alpha become
// 32-bit (straight alpha), the others 24-bit; deeper samples are reduced to 8 bits. The ICC
// profile (a 'prof' or 'rICC' colour box) is returned as stored; `lossless` is false.
// Throws tz::HeifError "Not a HEIF file", "HEIF file truncated", "Unsupported HEIF file: " or
// "Invalid HEIF file: " and the library's message; tz::Error when the picture needs more
// memory than the machine has.
DecodedPicture decodeHeif(std::span<const std::uint8_t> bytes);

// Reads and decodes a HEIF file. Throws as decodeHeif, and tz::Error naming the file when it
// cannot be read.
DecodedPicture loadHeifFile(const std::filesystem::path& file);

// The HEIF library in use, as "libheif 1.15.1".
std::string heifLibraryVersion();

}  // namespace tz
