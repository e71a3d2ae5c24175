// The per-format resize workers, the target-size rule and the output rule.
#include "tz/resize.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/errors.h"
#include "tz/gif.h"
#include "tz/jpeg.h"
#include "tz/numeric.h"
#include "tz/resample.h"

namespace tz {

namespace fs = std::filesystem;

std::string OutputPrefix;
std::string RunSizeText;

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

std::string upperExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    std::string extension(name.substr(dot));
    // ASCII letters only: file names are never upper-cased by locale rules.
    for (char& c : extension) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return extension;
}

ImageFormat workerFormat(std::string_view name) {
    const std::string extension = upperExtension(name);
    if (extension == ".GIF") {
        return ImageFormat::Gif;
    }
    if (extension == ".JPG") {
        return ImageFormat::Jpeg;
    }
    if (extension == ".BMP") {
        return ImageFormat::Bmp;
    }
    return ImageFormat::None;
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

std::vector<std::uint8_t> resizedBmp(const fs::path& source, const ResizeRequest& request) {
    Bitmap raster = loadBmpFile(source);
    const Bitmap target = resampled(raster, request);
    return encodeBmp(target);
}

std::vector<std::uint8_t> resizedJpeg(const fs::path& source, const ResizeRequest& request) {
    JpegImage picture;
    picture.loadFromFile(source);
    // Drawing the whole picture at its own size onto a new raster gives exactly the decoded
    // pixels, so the decoded bitmap serves as the raster: one full-size copy less.
    Bitmap raster = picture.releaseBitmap();
    raster.convertTo24();
    Bitmap target = resampled(raster, request);
    raster = Bitmap();
    picture.assign(std::move(target));
    picture.setCompressionQuality(kJpegQuality);
    return picture.saveToBytes();
}

std::vector<std::uint8_t> resizedGif(const fs::path& source, const ResizeRequest& request) {
    GifImage picture;
    picture.loadFromFile(source);
    // Transparent pixels are not drawn and keep the white of the new raster; an animated
    // picture draws its first frame.
    Bitmap raster(picture.width(), picture.height());
    picture.draw(raster, Rect{0, 0, raster.width(), raster.height()});
    const Bitmap target = resampled(raster, request);
    picture.assign(target);
    return picture.saveToBytes();
}

}  // namespace

std::vector<std::uint8_t> resizeToBytes(const fs::path& source, ImageFormat format,
                                        const ResizeRequest& request) {
    switch (format) {
        case ImageFormat::Gif:
            return resizedGif(source, request);
        case ImageFormat::Jpeg:
            return resizedJpeg(source, request);
        case ImageFormat::Bmp:
            return resizedBmp(source, request);
        case ImageFormat::None:
            break;
    }
    throw Error("No worker for " + source.filename().string());
}

void resizeBmpFile(const fs::path& source, const fs::path& output, const ResizeRequest& request) {
    writeFileAtomically(output, resizedBmp(source, request));
}

void resizeJpegFile(const fs::path& source, const fs::path& output, const ResizeRequest& request) {
    writeFileAtomically(output, resizedJpeg(source, request));
}

void resizeGifFile(const fs::path& source, const fs::path& output, const ResizeRequest& request) {
    writeFileAtomically(output, resizedGif(source, request));
}

bool resizeFile(const fs::path& source, const fs::path& output, const ResizeRequest& request) {
    const ImageFormat format = workerFormat(source.filename().string());
    if (format == ImageFormat::None) {
        return false;
    }
    writeFileAtomically(output, resizeToBytes(source, format, request));
    return true;
}

namespace {

ResizeRequest runRequest() {
    ResizeRequest request;
    request.size = parseSizeText(RunSizeText);
    return request;
}

}  // namespace

void ResizeGifBetter(const std::string& name) {
    resizeGifFile(name, OutputPrefix + name, runRequest());
}

void ResizeJpegBetter(const std::string& name) {
    resizeJpegFile(name, OutputPrefix + name, runRequest());
}

void ResizeBmpBetter(const std::string& name) {
    resizeBmpFile(name, OutputPrefix + name, runRequest());
}

void prepareOutputFolder() {
    // The outcome is not examined here: the first save into the folder reports any failure.
    std::error_code ignored;
    fs::create_directory(std::string(kOutputFolder), ignored);
    OutputPrefix = std::string(kOutputFolder) + "/";
}

}  // namespace tz
