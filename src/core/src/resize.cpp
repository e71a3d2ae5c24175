// Resizing one picture file, the target-size rule and the output rule.
#include "tz/resize.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/errors.h"
#include "tz/file_io.h"
#include "tz/gif.h"
#include "tz/jpeg.h"
#include "tz/memory_budget.h"
#include "tz/numeric.h"
#include "tz/resample.h"

namespace tz {

namespace fs = std::filesystem;

namespace {

// The workers' kernel and quality are fixed: "Lanczos3" and JPEG quality 89.
constexpr std::size_t kWorkerKernel = 5;
constexpr std::uint8_t kJpegQuality = 89;

const KernelEntry& kernelOf(const ResizeRequest& request) {
    return request.kernel != nullptr ? *request.kernel : kKernelTable[kWorkerKernel];
}

// One side scaled by f in extended precision and rounded half to even; 0 becomes 1 so that
// very long and thin pictures still produce an image.
int scaledSide(int side, double factor) {
    const long long scaled =
        roundHalfEven(static_cast<long double>(side) * static_cast<long double>(factor));
    return static_cast<int>(std::clamp<long long>(scaled, 1, std::numeric_limits<int>::max()));
}

Size outputSize(int width, int height, const ResizeRequest& request) {
    if (request.geometry) {
        return *request.geometry;
    }
    return targetSize(width, height, request.size);
}

// Scales a 24-bit raster of the source's own size into a new bitmap of the output size.
Bitmap resampled(Bitmap& raster, const ResizeRequest& request) {
    const Size size = outputSize(raster.width(), raster.height(), request);
    Bitmap target(size.width, size.height);
    const KernelEntry& kernel = kernelOf(request);
    ResampleOptions options;
    options.threads = request.resampleThreads;
    resampleBitmap(raster, target, kernel.function, kernel.support, options);
    return target;
}

}  // namespace

fs::path outputPathFor(const fs::path& source) {
    return source.parent_path() / kOutputFolder / source.filename();
}

int parseSizeText(const std::string& text) {
    const std::string invalid = "'" + text + "' is not a valid integer value";
    std::size_t position = 0;
    while (position < text.size() && text[position] == ' ') {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
        negative = text[position] == '-';
        ++position;
    }
    if (position == text.size()) {
        throw Error(invalid);
    }
    long long value = 0;
    for (; position < text.size(); ++position) {
        const char c = text[position];
        if (c < '0' || c > '9') {
            throw Error(invalid);
        }
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int>::max()) {
            throw Error(invalid);
        }
    }
    return static_cast<int>(negative ? -value : value);
}

Size targetSize(int width, int height, int n) {
    if (n < 1) {
        throw Error("Invalid target size " + std::to_string(n) + ": it must be at least 1 pixel");
    }
    if (width < 1 || height < 1) {
        throw Error("Source bitmap too small");
    }
    // A square picture takes its width as the longer side.
    const int longer = height > width ? height : width;
    const double factor = static_cast<double>(n) / longer;
    // The width is set before the height.
    const int newWidth = scaledSide(width, factor);
    const int newHeight = scaledSide(height, factor);
    return {newWidth, newHeight};
}

namespace {

// Notes whether the picture's data ended before the picture did; a request that refuses such
// pictures fails here, before any more work.
void noteCompleteness(bool endedEarly, const ResizeRequest& request, bool& incomplete) {
    incomplete = endedEarly;
    if (endedEarly && request.refuseIncomplete) {
        throw IncompletePictureError("The picture's data ends early");
    }
}

std::vector<std::uint8_t> resizedBmp(const fs::path& source, const ResizeRequest& request,
                                     bool& incomplete) {
    bool endedEarly = false;
    Bitmap raster = loadBmpFile(source, &endedEarly);
    noteCompleteness(endedEarly, request, incomplete);
    const Bitmap target = resampled(raster, request);
    return encodeBmp(target);
}

std::vector<std::uint8_t> resizedJpeg(const fs::path& source, const ResizeRequest& request,
                                      bool& incomplete) {
    JpegImage picture;
    picture.loadFromFile(source);
    // Drawing the whole picture at its own size onto a new raster gives exactly the decoded
    // pixels, so the decoded bitmap serves as the raster: one full-size copy less.
    Bitmap raster = picture.releaseBitmap();
    noteCompleteness(picture.incomplete(), request, incomplete);
    raster.convertTo24();
    Bitmap target = resampled(raster, request);
    raster = Bitmap();
    picture.assign(std::move(target));
    picture.setCompressionQuality(kJpegQuality);
    return picture.saveToBytes();
}

std::vector<std::uint8_t> resizedGif(const fs::path& source, const ResizeRequest& request,
                                     bool& incomplete) {
    GifImage picture;
    picture.loadFromFile(source);
    // The first frame is the one drawn.
    noteCompleteness(!picture.empty() && !picture.images().front().complete(), request, incomplete);
    // Transparent pixels are not drawn and keep the white of the new raster; an animated
    // picture draws its first frame.
    Bitmap raster(picture.width(), picture.height());
    picture.draw(raster, Rect{0, 0, raster.width(), raster.height()});
    const Bitmap target = resampled(raster, request);
    picture.assign(target);
    return picture.saveToBytes();
}

std::vector<std::uint8_t> encodedOutput(const fs::path& source, PictureFormat format,
                                        const ResizeRequest& request, bool& incomplete) {
    // The output waiting to be written is left out: a caller that writes in a fixed order may
    // hold it while earlier files still need memory.
    const MemoryBudget::Job job(
        request.memoryBudget != nullptr ? *request.memoryBudget : processMemoryBudget(),
        request.maxPixels);
    switch (format) {
        case PictureFormat::Gif:
            return resizedGif(source, request, incomplete);
        case PictureFormat::Jpeg:
            return resizedJpeg(source, request, incomplete);
        case PictureFormat::Bmp:
            return resizedBmp(source, request, incomplete);
    }
    throw Error("No picture format for " + source.filename().string());
}

}  // namespace

std::vector<std::uint8_t> resizeToBytes(const fs::path& source, PictureFormat format,
                                        const ResizeRequest& request) {
    bool incomplete = false;
    return encodedOutput(source, format, request, incomplete);
}

namespace {

// The output's folder, held open. Its last component, the folder the output rule adds beside
// the sources, is never reached through a link: a "resized" that links to the source folder or
// elsewhere would have the outputs replace pictures there.
OpenFolder openOutputFolder(const fs::path& folder) {
    const fs::path name = folder.filename();
    if (name.empty() || name == "." || name == "..") {
        return OpenFolder(folder);
    }
    return OpenFolder(OpenFolder(folder.parent_path()), name.string(), 0777);
}

}  // namespace

ResizeResult resizeFile(const fs::path& source, const fs::path& output,
                        const ResizeRequest& request, const BeforeWrite& beforeWrite) {
    const std::optional<PictureFormat> format = resizedFormatOf(source.filename().string());
    if (!format) {
        throw Error("Not a " + resizedExtensionList() + " file");
    }
    // A source written to while it is resized (a copy still being made, whose reading alone may
    // fall into a pause of the copy) is resized once more, also when it failed meanwhile (as cut
    // data fails); changing again, it fails.
    std::optional<FileVersion> version = fileVersion(source);
    ResizeResult result;
    std::vector<std::uint8_t> bytes;
    for (int attempt = 1;; ++attempt) {
        try {
            bytes = encodedOutput(source, *format, request, result.incomplete);
        } catch (const Error&) {
            if (fileVersion(source) == version) {
                throw;
            }
        }
        const std::optional<FileVersion> after = fileVersion(source);
        if (after == version) {
            break;
        }
        if (attempt == 2) {
            throw FileReadError(
                "Cannot read " + source.string() + ": the file changed while being read",
                FileReadError::Cause::Changed);
        }
        version = after;
    }
    if (beforeWrite) {
        beforeWrite();
    }
    const OpenFolder folder = openOutputFolder(output.parent_path());
    const std::string name = output.filename().string();
    if (const std::optional<FileIdentity> replaced = folder.entryIdentity(name);
        replaced && ((version && *replaced == version->identity) ||
                     std::find(request.runSources.begin(), request.runSources.end(), *replaced) !=
                         request.runSources.end())) {
        throw Error("Cannot write " + output.string() + ": it is a source of this run");
    }
    folder.writeFileAtomically(name, bytes);
    return result;
}

}  // namespace tz
