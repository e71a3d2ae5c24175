// Resizing the files of the command line, in parallel, with outputs written in list order.
#pragma once

#include <iosfwd>

#include "options.h"

namespace tz::cli {

// Resizes every file of `options`; returns the exit status (0 all written, 1 any failed or was
// skipped for its name). Failures and skips go to `errors` as "FILE: message", and so do
// warnings ("FILE: warning: ..."), names and messages with their control characters and
// non-UTF-8 bytes escaped. Without --keep-going the run stops at the first failure in list
// order and no output of a later file is written, whatever the number of jobs.
int runFiles(const Options& options, std::ostream& out, std::ostream& errors, bool progressBar);

}  // namespace tz::cli
