// Resizing one picture file, the target-size rule and the output rule.
#include "tz/resize.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/errors.h"
#include "tz/file_io.h"
#include "tz/gif.h"
#include "tz/heif.h"
#include "tz/jpeg.h"
#include "tz/memory_budget.h"
#include "tz/numeric.h"
#include "tz/orientation.h"
#include "tz/png.h"
#include "tz/resample.h"
#include "tz/webp.h"

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

// Whether the request leaves a picture of this size as it is: shrinkOnly, and the picture within
// the request's size.
bool keepsItsSize(Size size, const ResizeRequest& request) {
    if (!request.shrinkOnly) {
        return false;
    }
    if (request.geometry) {
        return size.width <= request.geometry->width && size.height <= request.geometry->height;
    }
    return std::max(size.width, size.height) <= request.size;
}

ResampleOptions resampleOptionsFor(Size pictureSize, int reduction, const ResizeRequest& request) {
    ResampleOptions options;
    options.threads = request.threadsPerFile;
    if (reduction > 1) {
        options.sourceReduction = reduction;
        options.reducedFromWidth = pictureSize.width;
        options.reducedFromHeight = pictureSize.height;
    }
    return options;
}

// Scales a raster into a new bitmap of the output size of a picture of `pictureSize`, the
// raster's own size unless it was decoded reduced (`reduction` picture pixels per raster pixel
// on each axis): 32-bit with alpha when the raster is, else 24-bit. A picture that shrinkOnly
// leaves is handed back as it is, in one of those formats.
Bitmap resampled(Bitmap raster, Size pictureSize, int reduction, const ResizeRequest& request) {
    const PixelFormat format =
        raster.format() == PixelFormat::Bits32 ? PixelFormat::Bits32 : PixelFormat::Bits24;
    if (keepsItsSize(pictureSize, request)) {
        if (format == PixelFormat::Bits24) {
            raster.convertTo24();
        }
        return raster;
    }
    const Size size = outputSize(pictureSize.width, pictureSize.height, request);
    Bitmap target(size.width, size.height, format);
    const KernelEntry& kernel = kernelOf(request);
    resampleBitmap(raster, target, kernel.function, kernel.support,
                   resampleOptionsFor(pictureSize, reduction, request));
    return target;
}

// The same from rows read as they are needed, for a picture shrinkOnly does not leave: 24-bit.
Bitmap resampled(RowSource& rows, Size pictureSize, int reduction, const ResizeRequest& request) {
    const Size size = outputSize(pictureSize.width, pictureSize.height, request);
    // Every pixel is written by the resampler, by the threads that compute it.
    Bitmap target(Bitmap::ForOverwrite{}, size.width, size.height, PixelFormat::Bits24);
    const KernelEntry& kernel = kernelOf(request);
    resampleRows(rows, target, kernel.function, kernel.support,
                 resampleOptionsFor(pictureSize, reduction, request));
    return target;
}

}  // namespace

PictureFormat outputFormatFor(PictureFormat source, std::optional<PictureFormat> requested) {
    if (requested) {
        return *requested;
    }
    return canWrite(source) ? source : PictureFormat::Jpeg;
}

fs::path outputNameFor(const fs::path& source, std::optional<PictureFormat> requested) {
    const fs::path name = source.filename();
    const std::optional<PictureFormat> format = resizedFormatOf(name.string());
    if (!format || (!requested && outputFormatFor(*format) == *format)) {
        return name;
    }
    fs::path converted = name;
    converted.replace_extension(extensionOf(outputFormatFor(*format, requested)));
    return converted;
}

fs::path outputPathFor(const fs::path& source, std::optional<PictureFormat> requested) {
    return source.parent_path() / kOutputFolder / outputNameFor(source, requested);
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

JpegScale fastJpegScale(Size source, Size target) {
    constexpr std::pair<int, JpegScale> kReductions[] = {
        {8, JpegScale::Eighth}, {4, JpegScale::Quarter}, {2, JpegScale::Half}};
    for (const auto& [reduction, scale] : kReductions) {
        const long long width = (static_cast<long long>(source.width) + reduction - 1) / reduction;
        const long long height =
            (static_cast<long long>(source.height) + reduction - 1) / reduction;
        if (width >= 2LL * target.width && height >= 2LL * target.height) {
            return scale;
        }
    }
    return JpegScale::Full;
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

// The threads a codec may use for one file: one while files run side by side.
int codecThreads(const ResizeRequest& request) {
    if (request.threadsPerFile > 0) {
        return request.threadsPerFile;
    }
    return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

// A source decoded for resizing: its pixels and what of its file goes into the output.
struct SourcePicture {
    Bitmap raster;  // as the source's decoder gives it; 32-bit when the source has alpha
    // Instead of the raster, for a picture that is resampled as it is: its rows, decoded while
    // the resampler reads them.
    std::unique_ptr<PictureRows> rows;
    Size size;          // the upright picture's, of which a reduced decode gives a smaller raster
    int reduction = 1;  // picture pixels per raster pixel on each axis (JpegScale)
    std::vector<std::uint8_t> iccProfile;
    std::optional<JpegMetadata> jpegMetadata;  // a JPEG source's, to keep in a JPEG output
    bool turned = false;                       // turned upright by its EXIF orientation
    bool lossless = false;
};

// Notes whether the picture's data ended before the picture did; a request that refuses such
// pictures fails here, before any more work.
void noteCompleteness(bool endedEarly, const ResizeRequest& request, bool& incomplete) {
    incomplete = endedEarly;
    if (endedEarly && request.refuseIncomplete) {
        throw IncompletePictureError("The picture's data ends early");
    }
}

// The scale a JPEG of `stored` size is decoded at: Full unless the request asks for speed and
// the picture is to be shrunk.
JpegScale decodeScale(Size stored, bool swapsSides, const ResizeRequest& request) {
    Size upright = stored;
    if (swapsSides) {
        std::swap(upright.width, upright.height);
    }
    if (!request.fastJpegScaling || keepsItsSize(upright, request)) {
        return JpegScale::Full;
    }
    Size target = outputSize(upright.width, upright.height, request);
    if (swapsSides) {
        std::swap(target.width, target.height);
    }
    return fastJpegScale(stored, target);
}

SourcePicture decodedJpeg(const fs::path& source, const ResizeRequest& request, bool& incomplete) {
    JpegImage picture;
    picture.loadFromFile(source);
    SourcePicture decoded;
    const Orientation orientation = picture.metadata().orientation;
    decoded.turned = request.autoOrient && orientation != Orientation::Normal;
    const bool swapsSides = decoded.turned && swapsWidthAndHeight(orientation);
    decoded.size = {picture.width(), picture.height()};
    const JpegScale scale = decodeScale(decoded.size, swapsSides, request);
    picture.setScale(scale);
    decoded.reduction = scaleDivisor(scale);
    if (swapsSides) {
        std::swap(decoded.size.width, decoded.size.height);
    }
    decoded.iccProfile = picture.metadata().iccProfile;
    decoded.jpegMetadata = picture.metadata();
    if (!decoded.turned && !keepsItsSize(decoded.size, request)) {
        decoded.rows = picture.rows();
        if (decoded.rows) {
            return decoded;
        }
    }
    // Drawing the whole picture at its own size onto a new raster gives exactly the decoded
    // pixels, so the decoded bitmap serves as the raster: one full-size copy less.
    decoded.raster = picture.releaseBitmap();
    noteCompleteness(picture.incomplete(), request, incomplete);
    decoded.raster.convertTo24();
    if (decoded.turned) {
        decoded.raster = orientedUpright(std::move(decoded.raster), orientation);
    }
    return decoded;
}

SourcePicture decodedGif(const fs::path& source, const ResizeRequest& request, bool& incomplete) {
    GifImage picture;
    picture.loadFromFile(source);
    // The first frame is the one drawn.
    noteCompleteness(!picture.empty() && !picture.images().front().complete(), request, incomplete);
    // Transparent pixels are not drawn and keep the white of the new raster; an animated
    // picture draws its first frame. A picture to be scaled is drawn a row at a time as the
    // resampler reads it, never as a whole raster.
    SourcePicture decoded;
    decoded.size = {picture.width(), picture.height()};
    if (decoded.size.width > 0 && decoded.size.height > 0 && !keepsItsSize(decoded.size, request)) {
        decoded.rows = drawnRows(std::move(picture));
        return decoded;
    }
    decoded.raster = Bitmap(picture.width(), picture.height());
    picture.draw(decoded.raster, Rect{0, 0, decoded.raster.width(), decoded.raster.height()});
    return decoded;
}

SourcePicture fromDecoded(DecodedPicture&& picture) {
    SourcePicture decoded;
    decoded.raster = std::move(picture.bitmap);
    decoded.size = {decoded.raster.width(), decoded.raster.height()};
    decoded.iccProfile = std::move(picture.iccProfile);
    decoded.lossless = picture.lossless;
    return decoded;
}

SourcePicture decodedSource(const fs::path& source, PictureFormat format,
                            const ResizeRequest& request, bool& incomplete) {
    switch (format) {
        case PictureFormat::Jpeg:
            return decodedJpeg(source, request, incomplete);
        case PictureFormat::Gif:
            return decodedGif(source, request, incomplete);
        case PictureFormat::Bmp: {
            SourcePicture decoded;
            decoded.rows = openBmpRows(source);
            if (decoded.rows) {
                decoded.size = {decoded.rows->width(), decoded.rows->height()};
                if (!keepsItsSize(decoded.size, request)) {
                    return decoded;
                }
                decoded.rows.reset();
            }
            bool endedEarly = false;
            decoded.raster = loadBmpFile(source, &endedEarly);
            decoded.size = {decoded.raster.width(), decoded.raster.height()};
            noteCompleteness(endedEarly, request, incomplete);
            return decoded;
        }
        case PictureFormat::Png: {
            PngPicture png = readPngPicture(source);
            if (!png.rows) {
                return fromDecoded(std::move(png.picture));
            }
            const Size size{png.rows->width(), png.rows->height()};
            if (keepsItsSize(size, request)) {
                return fromDecoded(loadPngFile(source));
            }
            SourcePicture decoded = fromDecoded(std::move(png.picture));
            decoded.rows = std::move(png.rows);
            decoded.size = size;
            return decoded;
        }
        case PictureFormat::Webp:
            return fromDecoded(loadWebpFile(source, codecThreads(request) > 1));
        case PictureFormat::Heif:
            return fromDecoded(loadHeifFile(source));
    }
    throw Error("No picture format for " + source.filename().string());
}

// The source's profile where it describes RGB pixels, as every colour output here holds.
std::vector<std::uint8_t> rgbProfileOf(const SourcePicture& source, const ResizeRequest& request) {
    if (!request.keepColorProfile || iccColorSpace(source.iccProfile) != IccColorSpace::Rgb) {
        return {};
    }
    return source.iccProfile;
}

// What a JPEG output carries of its source's metadata.
JpegMetadata metadataToKeep(const SourcePicture& source, const ResizeRequest& request) {
    JpegMetadata kept;
    if (request.keepMetadata && source.jpegMetadata) {
        kept = *source.jpegMetadata;
        if (source.turned) {
            kept.orientation = Orientation::Normal;
        }
    } else if (request.keepColorProfile) {
        // The JPEG writer leaves out a profile that does not fit its output.
        kept.iccProfile = source.iccProfile;
    }
    return kept;
}

std::vector<std::uint8_t> encoded(Bitmap target, PictureFormat format, const SourcePicture& source,
                                  const ResizeRequest& request) {
    switch (format) {
        case PictureFormat::Jpeg: {
            JpegImage picture;
            picture.assign(std::move(target));
            picture.setMetadataToWrite(metadataToKeep(source, request));
            picture.setCompressionQuality(kJpegQuality);
            return picture.saveToBytes();
        }
        case PictureFormat::Gif: {
            GifImage picture;
            picture.assign(target);
            return picture.saveToBytes();
        }
        case PictureFormat::Bmp:
            return encodeBmp(target);
        case PictureFormat::Png:
            return encodePng(target, rgbProfileOf(source, request), codecThreads(request));
        case PictureFormat::Webp: {
            WebpEncoding encoding;
            encoding.lossless = request.webpLossless || source.lossless;
            encoding.useThreads = codecThreads(request) > 1;
            return encodeWebp(target, encoding, rgbProfileOf(source, request));
        }
        case PictureFormat::Heif:
            break;
    }
    throw Error("HEIF pictures cannot be written");
}

std::vector<std::uint8_t> encodedOutput(const fs::path& source, PictureFormat format,
                                        const ResizeRequest& request, ResizeResult& result) {
    const PictureFormat outputFormat = outputFormatFor(format, request.outputFormat);
    if (!canWrite(outputFormat)) {
        throw Error("HEIF pictures cannot be written");
    }
    // The output waiting to be written is left out: a caller that writes in a fixed order may
    // hold it while earlier files still need memory.
    const MemoryBudget::Job job(
        request.memoryBudget != nullptr ? *request.memoryBudget : processMemoryBudget(),
        request.maxPixels);
    SourcePicture decoded = decodedSource(source, format, request, result.incomplete);
    if (decoded.rows) {
        result.sourceSize = Size{decoded.rows->width(), decoded.rows->height()};
        Bitmap target = resampled(*decoded.rows, decoded.size, decoded.reduction, request);
        decoded.rows->finish();
        noteCompleteness(decoded.rows->incomplete(), request, result.incomplete);
        return encoded(std::move(target), outputFormat, decoded, request);
    }
    result.sourceSize = Size{decoded.raster.width(), decoded.raster.height()};
    if (!keepsAlpha(outputFormat)) {
        // Transparency is shown over white, as a transparent GIF's always was.
        decoded.raster.convertTo24();
    }
    Bitmap target = resampled(std::move(decoded.raster), decoded.size, decoded.reduction, request);
    return encoded(std::move(target), outputFormat, decoded, request);
}

}  // namespace

std::vector<std::uint8_t> resizeToBytes(const fs::path& source, PictureFormat format,
                                        const ResizeRequest& request) {
    ResizeResult result;
    return encodedOutput(source, format, request, result);
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
    struct stat sourceStatus {};
    if (request.keepDate && ::stat(source.c_str(), &sourceStatus) != 0) {
        throw Error("Cannot read the date of " + source.string() + ": " + std::strerror(errno));
    }
    // A source written to while it is resized (a copy still being made, whose reading alone may
    // fall into a pause of the copy) is resized once more, also when it failed meanwhile (as cut
    // data fails); changing again, it fails.
    std::optional<FileVersion> version = fileVersion(source);
    ResizeResult result;
    std::vector<std::uint8_t> bytes;
    for (int attempt = 1;; ++attempt) {
        try {
            bytes = encodedOutput(source, *format, request, result);
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
    if (request.keepDate) {
        const timespec times[2] = {{0, UTIME_OMIT}, sourceStatus.st_mtim};
        if (::utimensat(folder.descriptor(), name.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) {
            throw Error("Cannot set the date of " + output.string() + ": " + std::strerror(errno));
        }
    }
    return result;
}

}  // namespace tz
