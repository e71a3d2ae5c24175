// libFuzzer target: the GIF reader on arbitrary bytes, then rendering (whole and row by row),
// the animation timeline and a write-and-read-back of what was read.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "read_rows.h"
#include "tz/bitmap.h"
#include "tz/errors.h"
#include "tz/gif.h"

namespace {

// Legitimately huge screens would only exhaust the fuzzer's memory limit; the reader itself
// is exercised whatever the size.
constexpr long long kLargestScreen = 1LL << 20;
constexpr long long kLargestWrittenFrames = 1LL << 20;
constexpr int kAnimationSteps = 16;

long long pixelsOf(int width, int height) {
    return static_cast<long long>(width) * height;
}

// The rows drawnRows gives are those draw() gives on a white screen-sized bitmap.
void expectRowsAsDrawn(const tz::GifImage& gif) {
    if (gif.width() == 0 || gif.height() == 0) {
        return;
    }
    tz::Bitmap drawn(gif.width(), gif.height());
    gif.draw(drawn, tz::Rect{0, 0, gif.width(), gif.height()});
    const std::unique_ptr<tz::PictureRows> rows = tz::drawnRows(gif);
    fuzz::readRows(*rows, 0, [&](int y, const std::uint8_t* row) {
        if (!std::equal(row, row + drawn.stride(), drawn.row(y))) {
            __builtin_trap();
        }
    });
}

void render(const tz::GifImage& gif) {
    tz::Bitmap canvas(23, 17);
    gif.draw(canvas, tz::Rect{-2, 3, 20, 30});
    if (pixelsOf(gif.width(), gif.height()) > kLargestScreen) {
        return;
    }
    tz::Bitmap target;
    gif.assignTo(target);
    expectRowsAsDrawn(gif);
    tz::GifAnimation animation(gif);
    for (int step = 0; step < kAnimationSteps && animation.advance(); ++step) {
        if (animation.waitMilliseconds() < 0) {
            __builtin_trap();  // only a speed below 1 waits without end
        }
    }
}

// What was read and can be written must read back to the same indices.
void writeAndReadBack(const tz::GifImage& gif) {
    long long total = 0;
    for (const auto& frame : gif.images()) {
        if (frame.empty()) {
            return;  // written as extensions only, which merge into the next frame
        }
        total += pixelsOf(frame.width(), frame.height());
    }
    if (gif.empty() || total > kLargestWrittenFrames) {
        return;
    }
    std::vector<std::uint8_t> file;
    try {
        file = gif.saveToBytes();
    } catch (const tz::GifError&) {
        return;  // indices outside their table cannot be written
    }
    tz::GifImage back;
    try {
        back.loadFromBytes(file);
    } catch (const tz::GifError&) {
        __builtin_trap();  // the writer wrote something its own reader refuses
    }
    if (back.images().size() != gif.images().size() || back.width() != gif.width() ||
        back.height() != gif.height()) {
        __builtin_trap();
    }
    for (std::size_t i = 0; i < gif.images().size(); ++i) {
        const auto& a = gif.images()[i];
        const auto& b = back.images()[i];
        if (a.bounds() != b.bounds()) {
            __builtin_trap();
        }
        for (int y = 0; y < a.height(); ++y) {
            const auto rowA = a.row(y);
            const auto rowB = b.row(y);
            for (int x = 0; x < a.width(); ++x) {
                const auto at = static_cast<std::size_t>(x);
                if ((rowA.empty() ? 0 : rowA[at]) != (rowB.empty() ? 0 : rowB[at])) {
                    __builtin_trap();
                }
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tz::GifImage gif;
    try {
        gif.loadFromBytes(std::span<const std::uint8_t>(data, size));
    } catch (const tz::Error&) {
        // A clear error is a correct outcome; the frames read before it are still usable.
    }
    try {
        render(gif);
    } catch (const tz::Error&) {
        // Out-of-memory refusals of large screens, and a first frame without any colour table.
    }
    try {
        writeAndReadBack(gif);
    } catch (const tz::Error&) {
        // Out-of-memory refusals of large frames.
    }
    return 0;
}
