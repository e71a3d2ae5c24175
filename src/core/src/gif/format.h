// The GIF format's block codes and sizes, as the reader and the writer share them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tz::gif {

// Block introducers.
inline constexpr std::uint8_t kExtensionIntroducer = 0x21;
inline constexpr std::uint8_t kImageSeparator = 0x2C;
inline constexpr std::uint8_t kTrailer = 0x3B;

// Extension labels.
inline constexpr std::uint8_t kGraphicControlLabel = 0xF9;
inline constexpr std::uint8_t kCommentLabel = 0xFE;
inline constexpr std::uint8_t kPlainTextLabel = 0x01;
inline constexpr std::uint8_t kApplicationLabel = 0xFF;

// Fixed block sizes.
inline constexpr std::uint8_t kGraphicControlBlockSize = 4;
inline constexpr std::size_t kApplicationBlockSize = 11;  // identifier (8) + authentication (3)
inline constexpr std::size_t kMaxSubBlock = 255;

// Logical screen descriptor flags.
inline constexpr std::uint8_t kGlobalTableFlag = 0x80;
inline constexpr std::uint8_t kGlobalSortedFlag = 0x08;

// Image descriptor flags.
inline constexpr std::uint8_t kLocalTableFlag = 0x80;
inline constexpr std::uint8_t kInterlaceFlag = 0x40;
inline constexpr std::uint8_t kSortedFlag = 0x20;

}  // namespace tz::gif
