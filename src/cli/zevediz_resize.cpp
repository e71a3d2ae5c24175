// zevediz-resize: the command-line front end over the resize workers.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "options.h"
#include "run.h"
#include "tz/exif.h"
#include "tz/heif.h"
#include "tz/jpeg.h"
#include "tz/png.h"
#include "tz/version.h"
#include "tz/webp.h"

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
    const bool progressBar = !options.quiet && !options.dryRun && ::isatty(STDERR_FILENO) == 1;
    return runFiles(options, std::cin, std::cout, std::cerr, progressBar);
}
