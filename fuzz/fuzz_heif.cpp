// libFuzzer target: the HEIF reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <span>

#include "tz/errors.h"
#include "tz/heif.h"

namespace {

// The codecs behind the reader are not instrumented; large pictures only slow the run down.
constexpr std::uint64_t kLargestDecoded = 4'000'000;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        const tz::PictureHeader header = tz::readHeifHeader(bytes);
        if (static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height) >
            kLargestDecoded) {
            return 0;
        }
        const tz::DecodedPicture picture = tz::decodeHeif(bytes);
        if (picture.bitmap.width() != header.width || picture.bitmap.height() != header.height ||
            (picture.bitmap.format() == tz::PixelFormat::Bits32) != header.alpha) {
            __builtin_trap();  // the header must announce what decoding gives
        }
    } catch (const tz::Error&) {
        // Refusing the input with a clear error is a correct outcome.
    }
    return 0;
}
