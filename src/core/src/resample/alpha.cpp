// Alpha-correct resampling: colour is filtered premultiplied by alpha, so transparent pixels
// lend their colour nothing and edges against transparency keep their colour.
#include "resample/alpha.h"

#include <algorithm>
#include <cstdint>

#include "resample/passes.h"

namespace tz::detail {

namespace {

// a · b / 255 rounded to nearest; 255 is odd, so no quotient ends in a half.
inline std::uint8_t multiplyBy255ths(unsigned a, unsigned b) {
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

// numerator · 255 / denominator rounded to nearest (halves up), at most 255; denominator > 0.
inline std::uint8_t divideTo255ths(unsigned numerator, unsigned denominator) {
    const unsigned quotient = (2 * numerator * 255 + denominator) / (2 * denominator);
    return static_cast<std::uint8_t>(std::min(quotient, 255u));
}

// Splits a 32-bit picture into two 24-bit ones the passes can filter: the colour premultiplied
// by alpha, and (alpha, 255, 0). The constant 255 beside alpha is an opaque picture filtered
// with the same weights: its result is what full opacity becomes, since the weights do not
// sum exactly to 1.
void splitPremultiplied(const Bitmap& source, Bitmap& colour, Bitmap& alpha) {
    for (int y = 0; y < source.height(); ++y) {
        const std::uint8_t* in = source.row(y);
        std::uint8_t* outColour = colour.row(y);
        std::uint8_t* outAlpha = alpha.row(y);
        for (int x = 0; x < source.width(); ++x, in += 4, outColour += 3, outAlpha += 3) {
            const unsigned a = in[3];
            outColour[0] = multiplyBy255ths(in[0], a);
            outColour[1] = multiplyBy255ths(in[1], a);
            outColour[2] = multiplyBy255ths(in[2], a);
            outAlpha[0] = in[3];
            outAlpha[1] = 255;
            outAlpha[2] = 0;
        }
    }
}

// The inverse of splitPremultiplied on the filtered pictures.
void joinStraight(const Bitmap& colour, const Bitmap& alpha, Bitmap& destination) {
    for (int y = 0; y < destination.height(); ++y) {
        const std::uint8_t* inColour = colour.row(y);
        const std::uint8_t* inAlpha = alpha.row(y);
        std::uint8_t* out = destination.row(y);
        for (int x = 0; x < destination.width(); ++x, inColour += 3, inAlpha += 3, out += 4) {
            const unsigned filteredAlpha = inAlpha[0];
            const unsigned opaque = inAlpha[1];
            if (filteredAlpha == 0) {
                out[0] = out[1] = out[2] = out[3] = 0;
                continue;
            }
            // Colour and alpha were scaled alike by the weights: their ratio is the colour.
            out[0] = divideTo255ths(inColour[0], filteredAlpha);
            out[1] = divideTo255ths(inColour[1], filteredAlpha);
            out[2] = divideTo255ths(inColour[2], filteredAlpha);
            // Only kernels whose weights sum to 0 or less leave no opacity to measure against.
            out[3] = opaque == 0 ? 255 : divideTo255ths(filteredAlpha, opaque);
        }
    }
}

}  // namespace

void resampleWithAlpha(const Bitmap& source, Bitmap& destination, const WeightLists& horizontal,
                       const WeightLists& vertical, const ResampleOptions& options) {
    const int width = destination.width();
    const int height = destination.height();
    Bitmap colour(Bitmap::ForOverwrite{}, source.width(), source.height(), PixelFormat::Bits24);
    Bitmap alpha(Bitmap::ForOverwrite{}, source.width(), source.height(), PixelFormat::Bits24);
    splitPremultiplied(source, colour, alpha);
    Bitmap filteredColour(Bitmap::ForOverwrite{}, width, height, PixelFormat::Bits24);
    Bitmap filteredAlpha(Bitmap::ForOverwrite{}, width, height, PixelFormat::Bits24);
    resampleWithLists(colour, filteredColour, horizontal, vertical, options);
    resampleWithLists(alpha, filteredAlpha, horizontal, vertical, options);
    joinStraight(filteredColour, filteredAlpha, destination);
}

}  // namespace tz::detail
