// Parsing of the command line of zevediz-resize.
#include "options.h"

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "tz/picture_format.h"
#include "tz/resample.h"

namespace tz::cli {

namespace {

// The longest side every output format can hold: a JPEG file's limit, below GIF's and BMP's.
constexpr int kMaximumSide = 65500;
// Pictures declaring more pixels are refused unless --max-pixels says otherwise: 2^28, the
// limit the desktop program's preview and viewer show pictures up to.
constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 28;

int parsePositive(const std::string& text, const std::string& option, int maximum) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < 1 || value > maximum) {
        throw UsageError("invalid value for " + option + ": '" + text + "' (expected 1 to " +
                         std::to_string(maximum) + ")");
    }
    return value;
}

std::uint64_t parsePixelCount(const std::string& text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        throw UsageError("invalid value for --max-pixels: '" + text +
                         "' (expected a number of pixels, 0 for no limit)");
    }
    return value;
}

Size parseGeometry(const std::string& text) {
    const std::size_t x = text.find_first_of("xX");
    if (x == std::string::npos) {
        throw UsageError("invalid value for --geometry: '" + text + "' (expected WIDTHxHEIGHT)");
    }
    return {parsePositive(text.substr(0, x), "--geometry", kMaximumSide),
            parsePositive(text.substr(x + 1), "--geometry", kMaximumSide)};
}

const KernelEntry* parseKernel(const std::string& name) {
    const KernelEntry* kernel = findKernel(name);
    if (kernel == nullptr) {
        std::string names;
        for (const KernelEntry& entry : kKernelTable) {
            names += names.empty() ? "" : ", ";
            names += entry.name;
        }
        throw UsageError("unknown kernel '" + name + "' (one of: " + names + ")");
    }
    return kernel;
}

int defaultJobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(cores);
}

}  // namespace

Options parseOptions(const std::vector<std::string>& commandLine) {
    Options options;
    options.jobs = defaultJobs();
    options.request.maxPixels = kDefaultMaxPixels;
    bool filesOnly = false;
    // Grouped short options are split into this list as they are read.
    std::vector<std::string> arguments = commandLine;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string argument = arguments[i];
        if (filesOnly || argument.empty() || argument[0] != '-' || argument == "-") {
            options.files.push_back(argument);
            continue;
        }
        std::string name = argument;
        std::string value;
        bool hasValue = false;
        // As getopt reads them, a short option's value may follow it directly (-j1, -s640), and
        // short options without a value may be grouped behind one dash (-qj1).
        const bool shortGroup = argument[1] != '-' && argument.size() > 2;
        if (shortGroup) {
            name = argument.substr(0, 2);
            value = argument.substr(argument[2] == '=' ? 3 : 2);  // "-s=640" as before
            hasValue = true;
        } else if (const std::size_t equals = argument.find('='); equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
            hasValue = true;
        }
        bool valueTaken = false;
        const auto takeValue = [&]() -> std::string {
            valueTaken = true;
            if (hasValue) {
                return value;
            }
            if (i + 1 >= arguments.size()) {
                throw UsageError("option " + name + " needs a value");
            }
            return arguments[++i];
        };
        if (name == "--") {
            filesOnly = true;
        } else if (name == "--size" || name == "-s") {
            options.request.size = parsePositive(takeValue(), "--size", kMaximumSide);
        } else if (name == "--kernel" || name == "-k") {
            options.request.kernel = parseKernel(takeValue());
        } else if (name == "--geometry" || name == "-g") {
            options.request.geometry = parseGeometry(takeValue());
        } else if (name == "--jobs" || name == "-j") {
            options.jobs = parsePositive(takeValue(), "--jobs", 256);
        } else if (name == "--threads") {
            options.threadsPerFile = parsePositive(takeValue(), "--threads", 256);
        } else if (name == "--no-auto-orient") {
            options.request.autoOrient = false;
        } else if (name == "--strip") {
            options.request.keepColorProfile = false;
        } else if (name == "--keep-metadata") {
            options.request.keepMetadata = true;
        } else if (name == "--keep-date") {
            options.request.keepDate = true;
        } else if (name == "--shrink-only") {
            options.request.shrinkOnly = true;
        } else if (name == "--fast") {
            options.request.fastJpegScaling = true;
        } else if (name == "--output-dir" || name == "-o") {
            const std::string folder = takeValue();
            if (folder.empty()) {
                throw UsageError("invalid value for --output-dir: an empty folder name");
            }
            options.outputFolder = folder;
        } else if (name == "--format" || name == "-f") {
            const std::string format = takeValue();
            options.request.outputFormat = writableFormatNamed(format);
            if (!options.request.outputFormat) {
                throw UsageError("unknown format '" + format +
                                 "' (one of: jpeg, png, webp, gif, bmp)");
            }
        } else if (name == "--webp-lossless") {
            options.request.webpLossless = true;
        } else if (name == "--recursive" || name == "-r") {
            options.recursive = true;
        } else if (name == "--max-pixels") {
            options.request.maxPixels = parsePixelCount(takeValue());
        } else if (name == "--strict") {
            options.request.refuseIncomplete = true;
        } else if (name == "--files-from") {
            options.filesFrom = takeValue();
            if (options.filesFrom->empty()) {
                throw UsageError("invalid value for --files-from: an empty file name");
            }
        } else if (name == "--null" || name == "-0") {
            options.nullSeparated = true;
        } else if (name == "--dry-run" || name == "-n") {
            options.dryRun = true;
        } else if (name == "--keep-going") {
            options.keepGoing = true;
        } else if (name == "--quiet" || name == "-q") {
            options.quiet = true;
        } else if (name == "--help" || name == "-h") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else {
            throw UsageError("unknown option " + name);
        }
        if (shortGroup && !valueTaken) {
            // The rest of the group: the next short options. (Appended piece by piece: g++ 12
            // misreads a chain of + here, -Wrestrict.)
            std::string rest("-");
            rest.append(argument, 2);
            arguments.insert(arguments.begin() + static_cast<std::ptrdiff_t>(i) + 1, rest);
        }
    }
    if (options.files.empty() && !options.filesFrom && !options.help && !options.version) {
        throw UsageError("no files given");
    }
    if (options.nullSeparated && !options.filesFrom) {
        throw UsageError("--null needs --files-from");
    }
    if (options.request.keepMetadata && !options.request.keepColorProfile) {
        throw UsageError("--strip and --keep-metadata cannot be used together");
    }
    return options;
}

std::string usageText() {
    return R"(Usage: zevediz-resize [options] FILE...
       zevediz-resize [options] --files-from LIST [FILE...]
Resizes pictures so that their longer side has the given length, and writes each one under its
own name, in its own format, into the folder "resized" beside it. The sources are never changed.
Reads JPEG (.jpg, .jpeg, .jpe), GIF, BMP, PNG, WebP and HEIF (.heic, .heif, .avif) files.
HEIF photos are written as JPEG under the same base name with ".jpg": no free HEIF encoder
comes with the system's libraries. JPEG photos are turned upright by their EXIF orientation,
and colour profiles are kept.

Options:
  -s, --size N          length of the longer side in pixels (default 640)
  -g, --geometry WxH    exactly this size, ignoring the aspect ratio
  -k, --kernel NAME     Box, Triangle, Hermite, Bell, B-Spline, Lanczos3 (default) or Mitchell
      --shrink-only     never enlarge: smaller pictures keep their size
      --fast            decode JPEGs reduced (1/2, 1/4 or 1/8) while still at least twice
                        the output size, then resize: faster, close to but not exactly
                        the default output
  -f, --format NAME     write every output as jpeg, png, webp, gif or bmp, with that extension
      --webp-lossless   write WebP outputs lossless (otherwise only those of lossless WebPs)
  -o, --output-dir DIR  write the outputs into DIR (created when absent)
  -r, --recursive       walk the folders among FILE for pictures; the outputs of each folder
                        go to "resized" in it, or under DIR mirroring the folders
      --no-auto-orient  leave JPEGs as stored, ignoring their EXIF orientation
      --strip           write no colour profile
      --keep-metadata   copy EXIF, XMP and comments of JPEGs into their outputs
      --keep-date       give each output its source's modification time
  -j, --jobs N          files resized at the same time (default: the number of cores)
      --threads N       threads each file may use (default: the number of cores when one
                        file runs at a time, else 1)
      --max-pixels N    refuse pictures declaring more than N pixels, before decoding
                        (default 268435456; 0: no limit but the memory's)
      --strict          fail a picture whose data ends early instead of writing it filled
      --keep-going      go on past a failing file (default: stop at the first failure)
      --files-from LIST read more files from LIST, one per line ('-': standard input)
  -0, --null            the names in LIST end with a NUL byte instead (find -print0)
  -n, --dry-run         print what would be written where, and write nothing
  -q, --quiet           print nothing but errors and warnings
  -h, --help            show this help
      --version         show the version

Exit status: 0 when every file was written, 1 when any file failed or was skipped (each has
a line saying why), 2 for a usage error, 130 when interrupted (Ctrl+C): the files in flight are
abandoned unwritten, those written stay.
)";
}

}  // namespace tz::cli
