// The desktop program's run over its file list, free of any user interface: the window supplies
// the steps it shows (progress, recording the folder, refreshing) as hooks.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tz/resize.h"

namespace tz {

// What a run needs besides its files, all fixed when it starts.
struct RunDescription {
    std::filesystem::path folder;         // the browsed folder; the items' names resolve in it
    std::string sizeText;                 // the size field's text, converted per file
    const KernelEntry* kernel = nullptr;  // nullptr: "Lanczos3"
    bool keepDate = false;                // outputs get their sources' modification times
    bool shrinkOnly = false;              // pictures are never enlarged (ResizeRequest)
    int threadsPerFile = 0;               // ResizeRequest::threadsPerFile
    // The run's sources, which no output may replace (sourceIdentities of its files).
    std::vector<FileIdentity> sources;
};

// One item of the file list: a bare name in the run's folder.
struct BatchItem {
    std::string name;
    bool selected = false;
};

// The per-file step of a run: resizes `source` into `output`.
using FileResizer =
    std::function<void(const std::filesystem::path& source, const std::filesystem::path& output,
                       const RunDescription& run)>;

// The window's parts of the run. An empty hook is skipped; an empty resizeOne is
// resizeRunFile.
struct BatchHooks {
    FileResizer resizeOne;
    std::function<void()> recordFolder;             // records the folder as recent
    std::function<void(int maximum)> showProgress;  // shown, position 0, maximum = selected items
    std::function<void()> afterEachItem;            // advance by one, let queued events run
    std::function<void()> finish;                   // refresh the lists, hide the progress bar
};

// The default per-file step: converts the run's size text (parseSizeText, so a bad text fails
// the first file the run resizes) and calls resizeFile with the run's kernel, options and
// sources, and `beforeWrite` as its hook before writing.
void resizeRunFile(const std::filesystem::path& source, const std::filesystem::path& output,
                   const RunDescription& run, const BeforeWrite& beforeWrite = {});

// One step of a run: a selected item's file and where its output goes.
struct BatchFile {
    std::filesystem::path source;  // the run's folder / the item's name
    // outputPathFor(source); empty when the name gives no resized format (resizedFormatOf): the
    // step then writes nothing but still counts.
    std::filesystem::path output;
};

// The steps of a run: the selected items of `items`, in list order.
std::vector<BatchFile> selectedFiles(const RunDescription& run,
                                     const std::vector<BatchItem>& items);

// The identities of the files' sources that exist, for RunDescription::sources.
std::vector<FileIdentity> sourceIdentities(const std::vector<BatchFile>& files);

// Creates the folder "resized" in the run's folder. The outcome is not examined: the first write
// into the folder reports any failure.
void createOutputFolder(const RunDescription& run);

// The run, in order: creates the folder "resized" in the run's folder (a failure is left to the
// first write to report); recordFolder; showProgress with the number of selected items; then
// for each item in list order, if selected: resizeOne(folder/name, outputPathFor(folder/name))
// when its name gives a resized format (resizedFormatOf; any other runs nothing), and
// afterEachItem; finally finish. The steps get `run` with the sources of the selected items
// filled in. The run walks a copy of `items` taken at its start, so hooks that change the
// caller's list cannot disturb it. Nothing is caught: an error from a file or a hook stops the
// run where it is, and finish is not called.
void runBatch(const RunDescription& run, const std::vector<BatchItem>& items,
              const BatchHooks& hooks);

}  // namespace tz
