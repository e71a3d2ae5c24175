// Resizing the files of the command line, in parallel, with outputs written in list order.
#pragma once

#include <iosfwd>

#include "options.h"

namespace tz::cli {

// Resizes every file of `options` (those of --files-from read from its file, or from `input`
// for "-"); returns the exit status: 0 all written, 1 any failed or was skipped for its name,
// 2 the list cannot be read, 128 + the signal number when SIGINT, SIGTERM or SIGHUP stopped
// the run (files in flight are abandoned unwritten; a second signal ends the process at once).
// Failures and skips go to `errors` as "FILE: message", and so do warnings ("FILE: warning:
// ..."), names and messages with their control characters and non-UTF-8 bytes escaped. A run
// of more than one file, or a stopped one, ends with a summary line on `errors` unless quiet.
// Without --keep-going the run stops at the first failure in list order and no output of a
// later file is written, whatever the number of jobs. The progress bar shows the rate in
// megapixels per second and the time left.
int runFiles(const Options& options, std::istream& input, std::ostream& out, std::ostream& errors,
             bool progressBar);

}  // namespace tz::cli
