// zevediz-resize: the command-line front end over the resize workers.
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "options.h"
#include "run.h"
#include "tz/exif.h"
#include "tz/file_io.h"
#include "tz/heif.h"
#include "tz/jpeg.h"
#include "tz/png.h"
#include "tz/version.h"
#include "tz/webp.h"

namespace {

// An interrupted or terminated run removes the temporary files of its writes in flight, then
// ends as the signal would have ended it.
void endBySignal(int signal) {
    tz::removeInFlightTemporaryFiles();
    // The handler was reset on entry; the signal is blocked until it returns, and then ends
    // the process.
    ::raise(signal);
}

void removeTemporaryFilesOnSignals() {
    struct sigaction action {};
    action.sa_handler = endBySignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace tz::cli;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    Options options;
    try {
        options = parseOptions(arguments);
    } catch (const UsageError& error) {
        std::cerr << "zevediz-resize: " << error.what() << "\n"
                  << "Try 'zevediz-resize --help' for more information.\n";
        return 2;
    }
    if (options.help) {
        std::cout << usageText();
        return 0;
    }
    if (options.version) {
        std::cout << "zevediz-resize " << tz::kVersion << "\n"
                  << "Libraries: " << tz::jpegLibraryVersion() << ", " << tz::pngLibraryVersion()
                  << ", " << tz::webpLibraryVersion() << ", " << tz::heifLibraryVersion() << ", "
                  << tz::exifLibraryVersion() << "\n";
        return 0;
    }
    const bool progressBar = !options.quiet && ::isatty(STDERR_FILENO) == 1;
    removeTemporaryFilesOnSignals();
    return runFiles(options, std::cout, std::cerr, progressBar);
}
