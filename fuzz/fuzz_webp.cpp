// libFuzzer target: the WebP reader on arbitrary bytes, and the writer on what it accepts.
#include <cstddef>
#include <cstdint>
#include <span>

#include "tz/errors.h"
#include "tz/webp.h"

namespace {

// Larger pictures only slow the run down (and the memory check is the machine's, not ours).
constexpr std::uint64_t kLargestDecoded = 16'000'000;
constexpr std::uint64_t kLargestWritten = 250'000;
constexpr std::uint64_t kLargestWrittenLossy = 40'000;

std::uint64_t pixels(int width, int height) {
    return static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
}

// The same colours and alpha, whatever the formats (an opaque 32-bit picture is written
// without alpha and reads back 24-bit).
bool samePixels(const tz::Bitmap& a, const tz::Bitmap& b) {
    if (a.width() != b.width() || a.height() != b.height()) {
        return false;
    }
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (a.rgba(x, y) != b.rgba(x, y)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        const tz::PictureHeader header = tz::readWebpHeader(bytes);
        if (pixels(header.width, header.height) > kLargestDecoded) {
            return 0;
        }
        const tz::DecodedPicture picture = tz::decodeWebp(bytes);
        if (picture.bitmap.width() != header.width || picture.bitmap.height() != header.height ||
            (picture.bitmap.format() == tz::PixelFormat::Bits32) != header.alpha) {
            __builtin_trap();  // the header must announce what decoding gives
        }
        const std::uint64_t count = pixels(header.width, header.height);
        if (count <= kLargestWritten) {
            // Lossless writing must read back unchanged, with the profile.
            const tz::DecodedPicture back = tz::decodeWebp(
                tz::encodeWebp(picture.bitmap, tz::WebpEncoding{true}, picture.iccProfile));
            if (!samePixels(back.bitmap, picture.bitmap) || !back.lossless ||
                back.iccProfile != picture.iccProfile) {
                __builtin_trap();
            }
        }
        if (count <= kLargestWrittenLossy) {
            const tz::DecodedPicture lossy = tz::decodeWebp(tz::encodeWebp(picture.bitmap));
            if (lossy.bitmap.width() != header.width || lossy.bitmap.height() != header.height) {
                __builtin_trap();
            }
        }
    } catch (const tz::Error&) {
        // Refusing the input with a clear error is a correct outcome.
    }
    return 0;
}
