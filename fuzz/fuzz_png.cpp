// libFuzzer target: the PNG reader on arbitrary bytes, and the writer on what it accepts.
#include <cstddef>
#include <cstdint>
#include <span>

#include "tz/errors.h"
#include "tz/png.h"

namespace {

// Larger pictures only slow the run down (and the memory check is the machine's, not ours).
constexpr std::uint64_t kLargestDecoded = 16'000'000;
constexpr std::uint64_t kLargestWritten = 1'000'000;

std::uint64_t pixels(int width, int height) {
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        const tz::PictureHeader header = tz::readPngHeader(bytes);
        if (pixels(header.width, header.height) > kLargestDecoded) {
            return 0;
        }
        const tz::DecodedPicture picture = tz::decodePng(bytes);
        if (picture.bitmap.width() != header.width || picture.bitmap.height() != header.height ||
            (picture.bitmap.format() == tz::PixelFormat::Bits32) != header.alpha) {
            __builtin_trap();  // the header must announce what decoding gives
        }
        if (pixels(header.width, header.height) <= kLargestWritten) {
            // What the writer writes must read back unchanged, profile included when kept.
            const tz::DecodedPicture back =
                tz::decodePng(tz::encodePng(picture.bitmap, picture.iccProfile));
            if (back.bitmap != picture.bitmap ||
                (!back.iccProfile.empty() && back.iccProfile != picture.iccProfile)) {
                __builtin_trap();
            }
        }
    } catch (const tz::Error&) {
        // Refusing the input with a clear error is a correct outcome.
    }
    return 0;
}
