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
                   const RunDescription& run, const BeforeWrite& beforeWrite) {
    ResizeRequest request;
    request.size = parseSizeText(run.sizeText);
    request.kernel = run.kernel;
    request.keepDate = run.keepDate;
    request.shrinkOnly = run.shrinkOnly;
    request.runSources = run.sources;
    request.threadsPerFile = run.threadsPerFile;
    resizeFile(source, output, request, beforeWrite);
}

std::vector<BatchFile> selectedFiles(const RunDescription& run,
                                     const std::vector<BatchItem>& items) {
    std::vector<BatchFile> files;
    for (const BatchItem& item : items) {
        if (!item.selected) {
            continue;
        }
        BatchFile file{run.folder / item.name, {}};
        if (resizedFormatOf(item.name)) {
            file.output = outputPathFor(file.source);
        }
        files.push_back(std::move(file));
    }
    return files;
}

std::vector<FileIdentity> sourceIdentities(const std::vector<BatchFile>& files) {
    std::vector<FileIdentity> sources;
    for (const BatchFile& file : files) {
        if (const std::optional<FileIdentity> identity = fileIdentity(file.source)) {
            sources.push_back(*identity);
        }
    }
    return sources;
}

void createOutputFolder(const RunDescription& run) {
    std::error_code ignored;
    std::filesystem::create_directory(run.folder / kOutputFolder, ignored);
}

void runBatch(const RunDescription& run, const std::vector<BatchItem>& items,
              const BatchHooks& hooks) {
    createOutputFolder(run);
    call(hooks.recordFolder);
    // A snapshot: the queued events that run after each item may change the caller's list.
    const std::vector<BatchFile> files = selectedFiles(run, items);
    if (hooks.showProgress) {
        hooks.showProgress(static_cast<int>(std::min<std::size_t>(files.size(), INT_MAX)));
    }
    RunDescription described = run;
    described.sources = sourceIdentities(files);
    const FileResizer resizeOne =
        hooks.resizeOne
            ? hooks.resizeOne
            : [](const std::filesystem::path& source, const std::filesystem::path& output,
                 const RunDescription& description) { resizeRunFile(source, output, description); };
    for (const BatchFile& file : files) {
        if (!file.output.empty()) {
            resizeOne(file.source, file.output, described);
        }
        call(hooks.afterEachItem);
    }
    call(hooks.finish);
}

}  // namespace tz
