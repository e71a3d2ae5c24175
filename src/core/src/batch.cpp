// The desktop program's run: output folder, recent folder, progress, files, refresh.
#include "tz/batch.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <optional>
#include <system_error>
#include <vector>

namespace tz {

namespace {

void call(const std::function<void()>& hook) {
    if (hook) {
        hook();
    }
}

}  // namespace

void resizeRunFile(const std::filesystem::path& source, const std::filesystem::path& output,
                   const RunDescription& run) {
    ResizeRequest request;
    request.size = parseSizeText(run.sizeText);
    request.kernel = run.kernel;
    request.runSources = run.sources;
    resizeFile(source, output, request);
}

void runBatch(const RunDescription& run, const std::vector<BatchItem>& items,
              const BatchHooks& hooks) {
    // The outcome is not examined here: the first write into the folder reports any failure.
    std::error_code ignored;
    std::filesystem::create_directory(run.folder / kOutputFolder, ignored);
    call(hooks.recordFolder);
    // A snapshot: the queued events that run after each item may change the caller's list.
    const std::vector<BatchItem> list = items;
    const auto selected = std::count_if(list.begin(), list.end(),
                                        [](const BatchItem& item) { return item.selected; });
    if (hooks.showProgress) {
        hooks.showProgress(static_cast<int>(std::min<std::ptrdiff_t>(selected, INT_MAX)));
    }
    std::vector<FileIdentity> sources;
    for (const BatchItem& item : list) {
        if (item.selected && resizedFormatOf(item.name)) {
            if (const std::optional<FileIdentity> identity = fileIdentity(run.folder / item.name)) {
                sources.push_back(*identity);
            }
        }
    }
    RunDescription described = run;
    described.sources = sources;
    const FileResizer& resizeOne = hooks.resizeOne ? hooks.resizeOne : FileResizer(resizeRunFile);
    for (const BatchItem& item : list) {
        if (!item.selected) {
            continue;
        }
        if (resizedFormatOf(item.name)) {
            const std::filesystem::path source = run.folder / item.name;
            resizeOne(source, outputPathFor(source), described);
        }
        call(hooks.afterEachItem);
    }
    call(hooks.finish);
}

}  // namespace tz
