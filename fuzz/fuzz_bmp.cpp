// libFuzzer target: the BMP reader on arbitrary bytes, and the writer on what it accepts.
#include <cstddef>
#include <cstdint>
#include <span>

#include "tz/bmp.h"
#include "tz/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const tz::Bitmap bitmap = tz::decodeBmp(std::span<const std::uint8_t>(data, size));
        // Writing is cheap to check only on small pictures; large ones would just slow the run.
        constexpr std::size_t kLargestWritten = std::size_t{1} << 20;
        if (static_cast<std::size_t>(bitmap.width()) * static_cast<std::size_t>(bitmap.height()) <=
            kLargestWritten) {
            const auto file = tz::encodeBmp(bitmap);
            const tz::Bitmap back = tz::decodeBmp(file);
            if (back != bitmap.to24()) {
                __builtin_trap();  // what the writer writes must read back unchanged
            }
        }
    } catch (const tz::Error&) {
        // Refusing the input with a clear error is a correct outcome.
    }
    return 0;
}
