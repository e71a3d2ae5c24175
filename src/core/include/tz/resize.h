// Resizing one picture file: the entry point every front end calls, the target-size rule and
// the rule for where an output goes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tz/errors.h"
#include "tz/file_io.h"
#include "tz/picture_format.h"

namespace tz {

struct KernelEntry;
class MemoryBudget;
enum class JpegScale;

// The subfolder beside its source where an output goes.
inline constexpr std::string_view kOutputFolder = "resized";

// The format the output of a source in `source` format is written in: `requested` when given,
// else the source's own, except HEIF, which no encoder here writes: its outputs are JPEGs.
PictureFormat outputFormatFor(PictureFormat source, std::optional<PictureFormat> requested = {});

// The output's file name: the source's, except that an output whose format was requested, or
// differs from the source's, takes that format's extension (lower case) in place of the
// source's: "IMG_1.HEIC" gives "IMG_1.jpg". A name without a picture extension is kept.
std::filesystem::path outputNameFor(const std::filesystem::path& source,
                                    std::optional<PictureFormat> requested = {});

// Where the output of `source` goes: the folder "resized" beside it, under outputNameFor.
std::filesystem::path outputPathFor(const std::filesystem::path& source,
                                    std::optional<PictureFormat> requested = {});

struct Size {
    int width = 0;
    int height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

// The integer value of a size text; throws tz::Error "'TEXT' is not a valid integer value".
int parseSizeText(const std::string& text);

// The target size for a longer side of n: f = n / L as a double, each side round(side × f)
// formed in extended precision, halves to even. A side that would round to 0 gets 1 pixel.
// Throws tz::Error for n < 1 and "Source bitmap too small" for an empty source.
Size targetSize(int width, int height, int n);

// The JPEG decode scale of fastJpegScaling: the most reduced one (1/2, 1/4, 1/8 of each side,
// rounded up as the library rounds it) that leaves both sides of `source` at least twice those
// of `target`; Full when even a half does not.
JpegScale fastJpegScale(Size source, Size target);

// How one file is resized.
struct ResizeRequest {
    int size = 640;                       // target length of the longer side
    std::optional<Size> geometry;         // exact output size, ignoring the aspect ratio
    const KernelEntry* kernel = nullptr;  // nullptr: "Lanczos3"
    // The threads one file's resampling and codecs may use: 0 lets them choose (up to the
    // cores); 1 when files run side by side, which already keep the cores busy.
    int threadsPerFile = 0;
    // A JPEG whose EXIF orientation is not Normal is turned upright right after decoding, before
    // the target size is computed; the output then needs no orientation.
    bool autoOrient = true;
    // A JPEG output embeds the source's ICC profile where its colour space fits the output.
    bool keepColorProfile = true;
    // A JPEG output also carries the source's EXIF (orientation Normal when the picture was
    // turned, no thumbnail, pixel sizes updated), XMP and comments.
    bool keepMetadata = false;
    // A picture that needs no shrinking (its longer side at most `size`, or with `geometry` both
    // sides within it) keeps its size: it is decoded, turned upright and encoded again.
    bool shrinkOnly = false;
    // The output gets the source's modification time.
    bool keepDate = false;
    // Every output in this format (see outputFormatFor).
    std::optional<PictureFormat> outputFormat;
    // WebP outputs are lossless; without it only those of lossless WebP sources are.
    bool webpLossless = false;
    // The sources of the whole run, which no output may replace (the file's own source never
    // may); the caller keeps them alive through the call.
    std::span<const FileIdentity> runSources = {};
    // JPEGs are decoded reduced by fastJpegScale, then resized exactly from there to the size
    // their full picture gives: much faster for small outputs, and close to the exact output,
    // but not the same bytes. Other formats are unaffected.
    bool fastJpegScaling = false;
    // A picture declaring more pixels fails with PixelLimitError before anything is allocated
    // for it; 0: no limit.
    std::uint64_t maxPixels = 0;
    // The budget the file's large allocations are admitted against (MemoryBudget::Job);
    // nullptr: the process's.
    MemoryBudget* memoryBudget = nullptr;
    // A picture whose data ends before the picture does fails with IncompletePictureError
    // instead of being written with its missing part filled.
    bool refuseIncomplete = false;
};

// A picture whose data ends early, refused at the request's wish: "The picture's data ends
// early".
class IncompletePictureError : public Error {
  public:
    using Error::Error;
};

// What resizing a file found besides the output it wrote.
struct ResizeResult {
    // The source's data ended before its picture did, and the missing part was filled as its
    // format's reader fills it: JPEG data the library completes, GIF pixels the LZW codes never
    // reached (index 0 of the first frame), an RLE BMP without its end-of-bitmap escape.
    bool incomplete = false;
    // The source picture's size as decoded (turned upright when it was).
    Size sourceSize;
};

// Called once the output is encoded, just before it is written. A caller that writes outputs in
// a fixed order waits here for its turn; throwing abandons the file without writing anything.
using BeforeWrite = std::function<void()>;

// Resizes one file: decodes `source` as the format its name gives it (resizedFormatOf),
// scales it by `request` and encodes it in the output format (outputFormatFor: JPEG at quality
// 89, GIF in the web palette, BMP at 24 bits, PNG lossless, WebP at quality 89 or lossless),
// then replaces `output` atomically (OpenFolder::writeFileAtomically). A picture with
// transparency is composed over white before resizing when its output format has none; PNG
// and WebP outputs keep it. Outputs of files without an orientation tag or a colour profile,
// under the default request, are exactly those of the plain decode, resample and encode.
// The output's folder is opened without following a symbolic link in its last component, the
// one the output rule adds beside the sources, and is created when missing (a folder named by
// the user that is a link is to be passed resolved); everything is written relative to it. An
// output that is the same file as its source or one of the run's is refused. A source whose
// size or modification time changes while it is resized is resized once more; changing again,
// it fails with FileReadError "Cannot read FILE: the file changed while being read".
// Throws the codec's error (tz::JpegError, tz::GifError, tz::Error) or tz::Error for I/O
// failures and names that give no resized format; nothing is written then.
ResizeResult resizeFile(const std::filesystem::path& source, const std::filesystem::path& output,
                        const ResizeRequest& request, const BeforeWrite& beforeWrite = {});

// The encoded output resizeFile would write for a source in `format`, without writing it: one
// job of the request's memory budget from reading to encoding, with its pixel limit.
std::vector<std::uint8_t> resizeToBytes(const std::filesystem::path& source, PictureFormat format,
                                        const ResizeRequest& request);

}  // namespace tz
