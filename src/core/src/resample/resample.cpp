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

void checkArguments(int sourceWidth, int sourceHeight, KernelFunction kernel, float support) {
    if (sourceWidth < 1 || sourceHeight < 1) {
        throw Error("Source bitmap too small");
    }
    if (kernel == nullptr) {
        throw Error("No resampling kernel given");
    }
    if (!(support >= 0.0f && support <= kMaxSupport)) {
        throw Error("Resampling kernel support out of range");
    }
}

struct Lists {
    detail::WeightLists horizontal;
    detail::WeightLists vertical;
};

Lists listsFor(const Bitmap& destination, int sourceWidth, int sourceHeight, KernelFunction kernel,
               float support, const ResampleOptions& options) {
    const int threads =
        options.path == ResamplePath::Reference ? 1
        : options.threads > 0
            ? options.threads
            : static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
    const int reduction = std::max(options.sourceReduction, 1);
    return {detail::buildWeightLists(destination.width(), sourceWidth, kernel, support, threads,
                                     {reduction, options.reducedFromWidth}),
            detail::buildWeightLists(destination.height(), sourceHeight, kernel, support, threads,
                                     {reduction, options.reducedFromHeight})};
}

}  // namespace

void resampleBitmap(Bitmap& source, Bitmap& destination, KernelFunction kernel, float support,
                    const ResampleOptions& options) {
    checkArguments(source.width(), source.height(), kernel, support);
    const bool withAlpha =
        source.format() == PixelFormat::Bits32 && destination.format() == PixelFormat::Bits32;
    if (!withAlpha) {
        source.convertTo24();
        destination.convertTo24();
    }
    if (destination.width() == 0 || destination.height() == 0) {
        return;
    }
    const Lists lists =
        listsFor(destination, source.width(), source.height(), kernel, support, options);
    if (withAlpha) {
        detail::resampleWithAlpha(source, destination, lists.horizontal, lists.vertical, options);
        return;
    }
    if (&source == &destination) {
        // The passes read the source while writing the destination.
        const Bitmap copy = source;
        detail::resampleWithLists(copy, destination, lists.horizontal, lists.vertical, options);
    } else {
        detail::resampleWithLists(source, destination, lists.horizontal, lists.vertical, options);
    }
}

void resampleRows(RowSource& source, Bitmap& destination, KernelFunction kernel, float support,
                  const ResampleOptions& options) {
    checkArguments(source.width(), source.height(), kernel, support);
    destination.convertTo24();
    if (destination.width() == 0 || destination.height() == 0) {
        return;
    }
    const Lists lists =
        listsFor(destination, source.width(), source.height(), kernel, support, options);
    detail::resampleWithLists(source, destination, lists.horizontal, lists.vertical, options);
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
