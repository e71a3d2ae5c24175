// libFuzzer target: the JPEG picture's load and decode on arbitrary bytes, with the decoding
// settings varied on small pictures, the encoder run on what decodes, metadata included, and
// its rows read as the resampler reads them, which must be the decoded picture's.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "read_rows.h"
#include "tz/errors.h"
#include "tz/jpeg.h"
#include "tz/orientation.h"

namespace {

// Larger pictures only slow the run down (and the memory check is the machine's, not ours).
constexpr std::uint64_t kLargestDecoded = 20'000'000;
// Files of several scans cost one pass over the picture per scan.
constexpr std::uint64_t kLargestDecodedWithScans = 4'000'000;
constexpr std::uint64_t kLargestVaried = 1'000'000;

std::uint64_t pixels(const tz::JpegImage& picture) {
    return static_cast<std::uint64_t>(picture.width()) *
           static_cast<std::uint64_t>(picture.height());
}

// One of several unusual settings combinations, picked by `choice`.
void applyVariant(tz::JpegImage& picture, std::size_t choice) {
    switch (choice % 4) {
        case 0:
            picture.setGrayscale(true);
            break;
        case 1:
            picture.setPixelFormat(tz::JpegPixelFormat::Bits8);
            picture.setProgressiveDisplay(true);
            break;
        case 2:
            picture.setScale(tz::JpegScale::Half);
            picture.setPerformance(tz::JpegPerformance::BestSpeed);
            break;
        default:
            picture.setSmoothing(false);
            picture.setProgressiveDisplay(true);
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    try {
        tz::JpegImage picture;
        picture.loadFromBytes(bytes);
        const std::uint64_t limit =
            picture.progressive() ? kLargestDecodedWithScans : kLargestDecoded;
        if (pixels(picture) > limit) {
            return 0;
        }
        picture.decode();
        if (pixels(picture) > kLargestVaried) {
            return 0;
        }
        // What decodes must turn upright and encode with its metadata, and the encoding must
        // load again.
        tz::JpegImage copy;
        tz::JpegMetadata kept = picture.metadata();
        kept.orientation = tz::Orientation::Normal;
        copy.setMetadataToWrite(kept);
        copy.assign(tz::orientedUpright(*picture.bitmap(), picture.metadata().orientation));
        copy.setCompressionQuality(static_cast<std::uint8_t>(size % 101));
        tz::JpegImage reloaded;
        reloaded.loadFromBytes(copy.saveToBytes());
        if (reloaded.width() != copy.width() || reloaded.height() != copy.height() ||
            reloaded.metadata().orientation != tz::Orientation::Normal) {
            __builtin_trap();
        }

        // Its rows, read from the top and from part-way (as a second thread reads them), are
        // the decoded picture's.
        if (const std::unique_ptr<tz::PictureRows> rows = picture.rows()) {
            const tz::Bitmap& decoded = *picture.bitmap();
            for (const int first : {0, decoded.height() / 2}) {
                fuzz::readRows(*rows, first, [&](int y, const std::uint8_t* row) {
                    if (!std::equal(row, row + decoded.stride(), decoded.row(y))) {
                        __builtin_trap();
                    }
                });
            }
        }

        tz::JpegImage varied;
        applyVariant(varied, size);
        varied.loadFromBytes(bytes);
        varied.decode();
    } catch (const tz::Error&) {
        // Refusing the input with a clear error is a correct outcome.
    }
    return 0;
}
