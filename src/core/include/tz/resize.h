// The per-format resize workers, the target-size rule and the output rule.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tz/file_io.h"

namespace tz {

struct KernelEntry;

// Program-wide prefix put before each output's bare name: empty at start, "resized/" from the
// first batch run on.
extern std::string OutputPrefix;

// The size text of the batch run in progress, held for the workers, which convert it when each
// of them starts.
extern std::string RunSizeText;

// The subfolder the outputs go to.
inline constexpr std::string_view kOutputFolder = "resized";

struct Size {
    int width = 0;
    int height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// The format a file is resized as, chosen by its upper-cased extension.
enum class ImageFormat { Gif, Jpeg, Bmp, None };

// The extension from the last "." on (dot included), ASCII letters upper-cased; empty when none.
std::string upperExtension(std::string_view name);
// ".GIF", ".JPG" and ".BMP" choose a worker; anything else (".JPEG" too) chooses none.
ImageFormat workerFormat(std::string_view name);

// The integer value of a size text; throws tz::Error "'TEXT' is not a valid integer value".
int parseSizeText(const std::string& text);

// The target size for a longer side of n: f = n / L as a double, each side round(side × f)
// formed in extended precision, halves to even. A side that would round to 0 gets 1 pixel.
Size targetSize(int width, int height, int n);

// What one resize call does besides its input and output paths.
struct ResizeRequest {
    int size = 640;                       // target length of the longer side
    std::optional<Size> geometry;         // exact output size, ignoring the aspect ratio
    const KernelEntry* kernel = nullptr;  // nullptr: "Lanczos3"
    int resampleThreads = 0;              // 0: the resampler chooses; 1 when files run side by side
};

// Fully parameterised workers: read `source`, write `output` (replaced atomically).
// Throw the codec's error, tz::Error for I/O failures.
void resizeBmpFile(const std::filesystem::path& source, const std::filesystem::path& output,
                   const ResizeRequest& request);
void resizeJpegFile(const std::filesystem::path& source, const std::filesystem::path& output,
                    const ResizeRequest& request);
void resizeGifFile(const std::filesystem::path& source, const std::filesystem::path& output,
                   const ResizeRequest& request);
// Decodes, resamples and encodes `source` as `format`, returning the encoded output.
std::vector<std::uint8_t> resizeToBytes(const std::filesystem::path& source, ImageFormat format,
                                        const ResizeRequest& request);
// Dispatches by workerFormat(source); returns false (and writes nothing) for ImageFormat::None.
bool resizeFile(const std::filesystem::path& source, const std::filesystem::path& output,
                const ResizeRequest& request);

// The batch run's workers: bare name in the current folder, size from RunSizeText, output to
// OutputPrefix + name.
void ResizeGifBetter(const std::string& name);
void ResizeJpegBetter(const std::string& name);
void ResizeBmpBetter(const std::string& name);

// The output rule: creates "resized" in the current folder (failures ignored: the first save
// reports them) and sets OutputPrefix.
void prepareOutputFolder();

}  // namespace tz
