// Reading pictures whole and replacing outputs safely.
#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <span>
#include <vector>

#include "tz/byte_buffer.h"

namespace tz {

// Reads a whole regular file. Pipes, devices and folders are refused rather than read, so a
// stray name can never block the program. Throws tz::Error naming the file, also when it is
// larger than `maxBytes`.
ByteBuffer readWholeFile(const std::filesystem::path& file,
                         std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// Writes `bytes` to `file` through a temporary file in the same folder renamed over it, so a
// failed or interrupted write never leaves a damaged file. A read-only file is not replaced.
// Throws tz::Error naming the file.
void writeFileAtomically(const std::filesystem::path& file, std::span<const std::uint8_t> bytes);

}  // namespace tz
