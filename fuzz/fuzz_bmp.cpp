// libFuzzer target: the BMP reader on arbitrary bytes, the writer on what it accepts, and the
// row reader on the same bytes as a file, which must agree with the whole-file reader.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "read_rows.h"
#include "tz/bmp.h"
#include "tz/errors.h"

namespace {

// Pictures read as rows up to this size: the check reads every row.
constexpr std::size_t kLargestRead = std::size_t{1} << 20;

// The picture as openBmpRows reads it from a file in memory, or nothing when it gives no rows.
std::optional<tz::Bitmap> readAsRows(std::span<const std::uint8_t> bytes) {
    const int fd = ::memfd_create("fuzz.bmp", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        __builtin_trap();
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    const std::unique_ptr<tz::PictureRows> rows =
        tz::openBmpRows("/proc/self/fd/" + std::to_string(fd));
    if (!rows) {
        return std::nullopt;
    }
    tz::Bitmap picture(rows->width(), rows->height());
    fuzz::readRows(*rows, 0, [&](int y, const std::uint8_t* row) {
        std::copy_n(row, picture.stride(), picture.row(y));
    });
    return picture;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    std::optional<tz::Bitmap> bitmap;
    try {
        bitmap = tz::decodeBmp(bytes);
        // Writing is cheap to check only on small pictures; large ones would just slow the run.
        constexpr std::size_t kLargestWritten = std::size_t{1} << 20;
        if (static_cast<std::size_t>(bitmap->width()) *
                static_cast<std::size_t>(bitmap->height()) <=
            kLargestWritten) {
            const auto file = tz::encodeBmp(*bitmap);
            const tz::Bitmap back = tz::decodeBmp(file);
            if (back != bitmap->to24()) {
                __builtin_trap();  // what the writer writes must read back unchanged
            }
        }
    } catch (const tz::Error&) {
        // Refusing the input with a clear error is a correct outcome.
    }
    if (bitmap &&
        static_cast<std::size_t>(bitmap->width()) * static_cast<std::size_t>(bitmap->height()) >
            kLargestRead) {
        return 0;
    }
    try {
        const std::optional<tz::Bitmap> rows = readAsRows(bytes);
        // Rows come only from a file the whole-file reader reads, with its pixels in 24 bits.
        if (rows && (!bitmap || *rows != bitmap->to24())) {
            __builtin_trap();
        }
    } catch (const tz::Error&) {
        if (bitmap) {
            __builtin_trap();  // the rows of a file that reads whole must read
        }
    }
    return 0;
}
