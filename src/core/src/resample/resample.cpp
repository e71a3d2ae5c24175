// The resampler's entry points: argument checks, weight lists, then the passes.
#include "tz/resample.h"

#include <algorithm>
#include <thread>

#include "resample/alpha.h"
#include "resample/passes.h"
#include "resample/weight_lists.h"
#include "tz/errors.h"

namespace tz {

namespace {

// Supports beyond this would only make the weight lists (and the time to build them) huge.
constexpr float kMaxSupport = 64.0f;

}  // namespace

void resampleBitmap(Bitmap& source, Bitmap& destination, KernelFunction kernel, float support,
                    const ResampleOptions& options) {
    const int destinationWidth = destination.width();
    const int destinationHeight = destination.height();
    const int sourceWidth = source.width();
    const int sourceHeight = source.height();
    if (sourceWidth < 1 || sourceHeight < 1) {
        throw Error("Source bitmap too small");
    }
    if (kernel == nullptr) {
        throw Error("No resampling kernel given");
    }
    if (!(support >= 0.0f && support <= kMaxSupport)) {
        throw Error("Resampling kernel support out of range");
    }

    const bool withAlpha =
        source.format() == PixelFormat::Bits32 && destination.format() == PixelFormat::Bits32;
    if (!withAlpha) {
        source.convertTo24();
        destination.convertTo24();
    }
    if (destinationWidth == 0 || destinationHeight == 0) {
        return;
    }
    const int listThreads =
        options.path == ResamplePath::Reference ? 1
        : options.threads > 0
            ? options.threads
            : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    const int reduction = std::max(options.sourceReduction, 1);
    const detail::WeightLists horizontal =
        detail::buildWeightLists(destinationWidth, sourceWidth, kernel, support, listThreads,
                                 {reduction, options.reducedFromWidth});
    const detail::WeightLists vertical =
        detail::buildWeightLists(destinationHeight, sourceHeight, kernel, support, listThreads,
                                 {reduction, options.reducedFromHeight});
    if (withAlpha) {
        detail::resampleWithAlpha(source, destination, horizontal, vertical, options);
        return;
    }
    if (&source == &destination) {
        // The passes read the source while writing the destination.
        const Bitmap copy = source;
        detail::resampleWithLists(copy, destination, horizontal, vertical, options);
    } else {
        detail::resampleWithLists(source, destination, horizontal, vertical, options);
    }
}

void resampleBitmap(Bitmap& source, Bitmap& destination, KernelFunction kernel, float support) {
    resampleBitmap(source, destination, kernel, support, ResampleOptions{});
}

void resampleBitmapReference(Bitmap& source, Bitmap& destination, KernelFunction kernel,
                             float support) {
    resampleBitmap(source, destination, kernel, support,
                   ResampleOptions{ResamplePath::Reference, 1});
}

}  // namespace tz
