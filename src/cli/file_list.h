// The command line's files: the names given, folders walked with --recursive, each with the
// output it is written to.
#pragma once

#include <cstddef>
#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "options.h"

namespace tz::cli {

// One file of the run, in list order.
struct Job {
    std::filesystem::path source;
    std::filesystem::path output;
    // Why the file must not be written, or empty. It fails in its turn like a file that cannot
    // be read.
    std::string refusal;
};

// The run's files in order. A named file whose name gives no picture format is skipped with a
// line on `errors` (its name escaped for printing). With --recursive a named folder is walked: its
// pictures in name order (byte order), subfolders in place; hidden entries, folders named "resized"
// and links to folders are left out. A file whose output is already another file's output (the same
// file given twice, equal names from several folders into one --output-dir) is refused.
struct JobList {
    std::vector<Job> jobs;
    std::size_t skipped = 0;  // named files left out for their names
};
JobList listJobs(const Options& options, std::ostream& errors);

}  // namespace tz::cli
