// The batch run's walk: size, output folder, recent folder, progress, workers, refresh.
#include "tz/batch.h"

#include <algorithm>
#include <climits>
#include <cstddef>

namespace tz {

namespace {

void call(const std::function<void()>& hook) {
    if (hook) {
        hook();
    }
}

}  // namespace

void runBetterWorker(ImageFormat format, const std::string& name) {
    switch (format) {
        case ImageFormat::Gif:
            ResizeGifBetter(name);
            return;
        case ImageFormat::Jpeg:
            ResizeJpegBetter(name);
            return;
        case ImageFormat::Bmp:
            ResizeBmpBetter(name);
            return;
        case ImageFormat::None:
            return;
    }
}

void runBatch(const std::string& sizeText, const std::vector<BatchItem>& items,
              const BatchHooks& hooks) {
    // The workers read the size from here, so a preset chosen during the run changes only the
    // next run.
    RunSizeText = sizeText;
    prepareOutputFolder();
    call(hooks.recordFolder);
    // A snapshot: the queued events that run after each item may change the caller's list.
    const std::vector<BatchItem> list = items;
    const auto selected = std::count_if(list.begin(), list.end(),
                                        [](const BatchItem& item) { return item.selected; });
    if (hooks.showProgress) {
        hooks.showProgress(static_cast<int>(std::min<std::ptrdiff_t>(selected, INT_MAX)));
    }
    for (const BatchItem& item : list) {
        if (!item.selected) {
            continue;
        }
        const ImageFormat format = workerFormat(item.name);
        if (format != ImageFormat::None) {
            if (hooks.runWorker) {
                hooks.runWorker(format, item.name);
            } else {
                runBetterWorker(format, item.name);
            }
        }
        call(hooks.afterEachItem);
    }
    call(hooks.finish);
}

}  // namespace tz
