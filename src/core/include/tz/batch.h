// The batch run's walk over the file list, free of any user interface: the window supplies the
// steps it shows (progress, recording the folder, refreshing) as hooks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tz/resize.h"

namespace tz {

// One item of the file list: a bare name resolved against the current folder.
struct BatchItem {
    std::string name;
    bool selected = false;
};

// The window's parts of the run. An empty hook is skipped, except runWorker, which then defaults
// to runBetterWorker.
struct BatchHooks {
    std::function<void(ImageFormat, const std::string& name)> runWorker;
    std::function<void()> recordFolder;             // records the folder as recent
    std::function<void(int maximum)> showProgress;  // shown, position 0, maximum = selected items
    std::function<void()> afterEachItem;            // advance by one, let queued events run
    std::function<void()> finish;                   // refresh the lists, hide the progress bar
};

// The better-quality worker of `format` on `name`: ResizeGifBetter, ResizeJpegBetter or
// ResizeBmpBetter; nothing for ImageFormat::None.
void runBetterWorker(ImageFormat format, const std::string& name);

// The run, in order: sets RunSizeText to `sizeText` (taken once, so the run keeps its size);
// applies the output rule (prepareOutputFolder); recordFolder; showProgress with the number of
// selected items; then for each item in list order, if selected: the worker of its upper-cased
// extension (workerFormat; an unknown one runs nothing) and afterEachItem; finally finish.
// The run walks a copy of `items` taken at its start, so hooks that change the caller's list
// cannot disturb it. Nothing is caught: an error from a worker or a hook stops the run where it
// is, and finish is not called.
void runBatch(const std::string& sizeText, const std::vector<BatchItem>& items,
              const BatchHooks& hooks);

}  // namespace tz
