// Command-line options of zevediz-resize.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tz/resize.h"

namespace tz::cli {

// A mistake in the command line; the tool exits with status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Options {
    ResizeRequest request;
    std::vector<std::string> files;
    // More files, one per line (or NUL-separated with `nullSeparated`), read from this file or,
    // for "-", from standard input; they follow those of the command line.
    std::optional<std::string> filesFrom;
    bool nullSeparated = false;
    // Prints what would be written where, and writes nothing.
    bool dryRun = false;
    // Outputs go here (created when absent) instead of "resized" beside each source.
    std::optional<std::filesystem::path> outputFolder;
    // Folders among the files are walked for pictures.
    bool recursive = false;
    int jobs = 1;
    // Threads one file may use; 0: the cores when files run one at a time, else 1.
    int threadsPerFile = 0;
    bool keepGoing = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// Throws UsageError for unknown options, bad numbers and a missing file list. The request has
// the default pixel limit unless --max-pixels sets another.
Options parseOptions(const std::vector<std::string>& commandLine);

std::string usageText();

}  // namespace tz::cli
