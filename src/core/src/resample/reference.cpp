// The reference passes: the algorithm as stated, extended precision throughout, one thread.
#include "resample/reference.h"

#include "resample/arithmetic.h"

namespace tz::detail {

namespace {

void horizontalReference(const Bitmap& source, Bitmap& work, const WeightLists& lists) {
    for (int k = 0; k < source.height(); ++k) {
        const std::uint8_t* in = source.row(k);
        std::uint8_t* out = work.row(k);
        for (int i = 0; i < lists.size(); ++i) {
            float blue = 0.0f;
            float green = 0.0f;
            float red = 0.0f;
            for (const WeightPair& pair : lists[i]) {
                const std::uint8_t* pixel = in + static_cast<std::size_t>(pair.sourceIndex) * 3;
                blue = accumulate(blue, pixel[0], pair.weight);
                green = accumulate(green, pixel[1], pair.weight);
                red = accumulate(red, pixel[2], pair.weight);
            }
            std::uint8_t* pixel = out + static_cast<std::size_t>(i) * 3;
            pixel[0] = toByte(blue);
            pixel[1] = toByte(green);
            pixel[2] = toByte(red);
        }
    }
}

void verticalReference(const Bitmap& work, Bitmap& destination, const WeightLists& lists) {
    for (int k = 0; k < work.width(); ++k) {
        const std::size_t column = static_cast<std::size_t>(k) * 3;
        for (int i = 0; i < lists.size(); ++i) {
            float blue = 0.0f;
            float green = 0.0f;
            float red = 0.0f;
            for (const WeightPair& pair : lists[i]) {
                const std::uint8_t* pixel = work.row(pair.sourceIndex) + column;
                blue = accumulate(blue, pixel[0], pair.weight);
                green = accumulate(green, pixel[1], pair.weight);
                red = accumulate(red, pixel[2], pair.weight);
            }
            std::uint8_t* pixel = destination.row(i) + column;
            pixel[0] = toByte(blue);
            pixel[1] = toByte(green);
            pixel[2] = toByte(red);
        }
    }
}

}  // namespace

void resampleReference(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical) {
    Bitmap work(horizontal.size(), source.height());
    horizontalReference(source, work, horizontal);
    // The vertical pass filters the rounded bytes of the horizontal pass, not unrounded sums.
    verticalReference(work, destination, vertical);
}

}  // namespace tz::detail
