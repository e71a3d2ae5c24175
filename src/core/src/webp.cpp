// The WebP reader and writer over libwebp (decoder, demuxer, animation decoder and muxer), the
// only file that includes the library's headers.
#include "tz/webp.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "tz/errors.h"
#include "tz/file_io.h"
#include "tz/memory_budget.h"

namespace tz {

namespace {

constexpr std::size_t kRiffHeaderBytes = 12;
constexpr int kLargestSide = WEBP_MAX_DIMENSION;

bool hasTag(std::span<const std::uint8_t> bytes, std::size_t at, const char* tag) {
    return bytes.size() >= at + 4 && std::memcmp(bytes.data() + at, tag, 4) == 0;
}

// A file must be a RIFF container of WebP data; bare VP8 or VP8L streams are not files.
void checkSignature(std::span<const std::uint8_t> bytes) {
    if (hasTag(bytes, 0, "RIFF") && hasTag(bytes, 8, "WEBP")) {
        return;
    }
    const std::size_t compared = std::min<std::size_t>(bytes.size(), 4);
    const bool prefix = bytes.size() < kRiffHeaderBytes && compared > 0 &&
                        std::memcmp(bytes.data(), "RIFF", compared) == 0;
    throw WebpError(prefix ? "WebP file truncated" : "Not a WebP file");
}

[[noreturn]] void throwStatus(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_NOT_ENOUGH_DATA:
            throw WebpError("WebP file truncated");
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            throw WebpError("Unsupported WebP file");
        case VP8_STATUS_OUT_OF_MEMORY:
            throw WebpError("Not enough memory to decode the WebP file");
        default:
            throw WebpError("Invalid WebP file: corrupt data");
    }
}

WebPBitstreamFeatures readFeatures(std::span<const std::uint8_t> bytes) {
    checkSignature(bytes);
    WebPBitstreamFeatures features{};
    const VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
    if (status != VP8_STATUS_OK) {
        throwStatus(status);
    }
    if (features.width <= 0 || features.height <= 0) {
        throw WebpError("Invalid WebP file: no picture");
    }
    admitDeclaredSize(features.width, features.height);
    return features;
}

// The extended format (a VP8X chunk first) is the only one with animation or a profile.
bool isExtended(std::span<const std::uint8_t> bytes) {
    return hasTag(bytes, kRiffHeaderBytes, "VP8X");
}

struct DemuxDeleter {
    void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};
using Demuxer = std::unique_ptr<WebPDemuxer, DemuxDeleter>;

struct AnimationDecoderDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
using AnimationDecoder = std::unique_ptr<WebPAnimDecoder, AnimationDecoderDeleter>;

Demuxer openDemuxer(std::span<const std::uint8_t> bytes) {
    const WebPData data{bytes.data(), bytes.size()};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    Demuxer demuxer(WebPDemuxPartial(&data, &state));
    if (demuxer == nullptr || state == WEBP_DEMUX_PARSE_ERROR) {
        throw WebpError("Invalid WebP file: damaged chunks");
    }
    if (state != WEBP_DEMUX_DONE) {
        throw WebpError("WebP file truncated");
    }
    return demuxer;
}

std::vector<std::uint8_t> iccProfileOf(const WebPDemuxer* demuxer) {
    std::vector<std::uint8_t> profile;
    if ((WebPDemuxGetI(demuxer, WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG) == 0) {
        return profile;
    }
    WebPChunkIterator chunk{};
    if (WebPDemuxGetChunk(demuxer, "ICCP", 1, &chunk) != 0) {
        profile.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
    }
    WebPDemuxReleaseChunkIterator(&chunk);
    return profile;
}

// Whether the first frame of an animation is coded losslessly.
bool firstFrameLossless(const WebPDemuxer* demuxer) {
    WebPIterator frame{};
    bool lossless = false;
    if (WebPDemuxGetFrame(demuxer, 1, &frame) != 0) {
        WebPBitstreamFeatures features{};
        lossless = WebPGetFeatures(frame.fragment.bytes, frame.fragment.size, &features) ==
                       VP8_STATUS_OK &&
                   features.format == 2;
    }
    WebPDemuxReleaseIterator(&frame);
    return lossless;
}

// The library's second thread pays only for large pictures: for photographs of 4 MP it cost a
// fifth more processor time, and on a busy machine it did not shorten the wall time either.
constexpr long long kLeastThreadedPixels = 8'000'000;

bool threadsPay(bool allowed, int width, int height) {
    return allowed && static_cast<long long>(width) * height >= kLeastThreadedPixels;
}

Bitmap decodeStill(std::span<const std::uint8_t> bytes, const WebPBitstreamFeatures& features,
                   bool useThreads) {
    const PixelFormat format = features.has_alpha != 0 ? PixelFormat::Bits32 : PixelFormat::Bits24;
    Bitmap bitmap(Bitmap::ForOverwrite{}, features.width, features.height, format);
    WebPDecoderConfig config;
    if (WebPInitDecoderConfig(&config) == 0) {
        throw WebpError("Unsupported WebP library version");
    }
    config.options.use_threads = threadsPay(useThreads, features.width, features.height) ? 1 : 0;
    config.output.colorspace = format == PixelFormat::Bits32 ? MODE_BGRA : MODE_BGR;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = bitmap.pixels().data();
    config.output.u.RGBA.stride = static_cast<int>(bitmap.stride());
    config.output.u.RGBA.size = bitmap.pixels().size();
    const VP8StatusCode status = WebPDecode(bytes.data(), bytes.size(), &config);
    WebPFreeDecBuffer(&config.output);
    if (status != VP8_STATUS_OK) {
        throwStatus(status);
    }
    return bitmap;
}

// The container allows canvases of up to 2^32 pixels that a few bytes can announce; none is
// ever larger than a still picture can be.
void checkCanvas(const WebPBitstreamFeatures& features) {
    if (features.width > kLargestSide || features.height > kLargestSide) {
        throw WebpError("Unsupported WebP file: animation canvas larger than " +
                        std::to_string(kLargestSide) + " x " + std::to_string(kLargestSide) +
                        " pixels");
    }
}

// The canvas after the first frame; the size checked by checkCanvas.
Bitmap decodeFirstFrame(std::span<const std::uint8_t> bytes,
                        const WebPBitstreamFeatures& features) {
    // The animation decoder keeps two canvases of its own besides our bitmap.
    const std::size_t canvasBytes =
        bitmapBytes(features.width, features.height, PixelFormat::Bits32);
    ensureAllocatable(canvasBytes * 3, features.width, features.height);
    WebPAnimDecoderOptions options;
    if (WebPAnimDecoderOptionsInit(&options) == 0) {
        throw WebpError("Unsupported WebP library version");
    }
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    const WebPData data{bytes.data(), bytes.size()};
    const AnimationDecoder decoder(WebPAnimDecoderNew(&data, &options));
    if (decoder == nullptr) {
        throw WebpError("Invalid WebP file: damaged animation");
    }
    WebPAnimInfo info{};
    if (WebPAnimDecoderGetInfo(decoder.get(), &info) == 0 ||
        static_cast<int>(info.canvas_width) != features.width ||
        static_cast<int>(info.canvas_height) != features.height || info.frame_count < 1) {
        throw WebpError("Invalid WebP file: damaged animation");
    }
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) == 0 || canvas == nullptr) {
        throw WebpError("Invalid WebP file: corrupt data");
    }
    Bitmap bitmap(Bitmap::ForOverwrite{}, features.width, features.height, PixelFormat::Bits32);
    std::memcpy(bitmap.pixels().data(), canvas, canvasBytes);
    return bitmap;
}

// ---- Writing ----

// The encoder's picture and output buffer, released on every path.
class Encoding {
  public:
    Encoding() {
        if (WebPPictureInit(&m_picture) == 0) {
            throw WebpError("Unsupported WebP library version");
        }
        WebPMemoryWriterInit(&m_output);
        m_picture.writer = WebPMemoryWrite;
        m_picture.custom_ptr = &m_output;
    }
    ~Encoding() {
        WebPPictureFree(&m_picture);
        WebPMemoryWriterClear(&m_output);
    }
    Encoding(const Encoding&) = delete;
    Encoding& operator=(const Encoding&) = delete;

    WebPPicture& picture() { return m_picture; }
    std::span<const std::uint8_t> output() const { return {m_output.mem, m_output.size}; }

  private:
    WebPPicture m_picture;
    WebPMemoryWriter m_output;
};

std::string encoderMessage(WebPEncodingError error) {
    switch (error) {
        case VP8_ENC_ERROR_OUT_OF_MEMORY:
        case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
            return "Not enough memory to write a WebP file";
        case VP8_ENC_ERROR_BAD_DIMENSION:
            return "Picture too large for WebP";
        case VP8_ENC_ERROR_FILE_TOO_BIG:
            return "Picture too large for a WebP file";
        default:
            return "Cannot write WebP (encoder error " + std::to_string(static_cast<int>(error)) +
                   ")";
    }
}

struct MuxDeleter {
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

// The encoded picture with an ICCP chunk added.
std::vector<std::uint8_t> withProfile(std::span<const std::uint8_t> file,
                                      std::span<const std::uint8_t> profile) {
    const std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxNew());
    if (mux == nullptr) {
        throw WebpError("Not enough memory to write a WebP file");
    }
    const WebPData image{file.data(), file.size()};
    const WebPData icc{profile.data(), profile.size()};
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPMuxSetImage(mux.get(), &image, 1) != WEBP_MUX_OK ||
        WebPMuxSetChunk(mux.get(), "ICCP", &icc, 1) != WEBP_MUX_OK ||
        WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) {
        WebPDataClear(&assembled);
        throw WebpError("Cannot write the colour profile into the WebP file");
    }
    std::vector<std::uint8_t> bytes(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    return bytes;
}

}  // namespace

PictureHeader readWebpHeader(std::span<const std::uint8_t> bytes) {
    const WebPBitstreamFeatures features = readFeatures(bytes);
    return PictureHeader{features.width, features.height,
                         features.has_alpha != 0 || features.has_animation != 0};
}

DecodedPicture decodeWebp(std::span<const std::uint8_t> bytes, bool useThreads) {
    const WebPBitstreamFeatures features = readFeatures(bytes);
    DecodedPicture picture;
    if (features.has_animation != 0) {
        checkCanvas(features);
        const Demuxer demuxer = openDemuxer(bytes);
        picture.iccProfile = iccProfileOf(demuxer.get());
        picture.lossless = firstFrameLossless(demuxer.get());
        picture.bitmap = decodeFirstFrame(bytes, features);
        return picture;
    }
    if (isExtended(bytes)) {
        picture.iccProfile = iccProfileOf(openDemuxer(bytes).get());
    }
    picture.lossless = features.format == 2;
    picture.bitmap = decodeStill(bytes, features, useThreads);
    return picture;
}

DecodedPicture loadWebpFile(const std::filesystem::path& file, bool useThreads) {
    // The RIFF size field is 32-bit: a larger file cannot be a sound WebP.
    return decodeWebp(readWholeFile(file, std::numeric_limits<std::uint32_t>::max()), useThreads);
}

std::vector<std::uint8_t> encodeWebp(const Bitmap& bitmap, const WebpEncoding& encoding,
                                     std::span<const std::uint8_t> iccProfile) {
    if (bitmap.empty()) {
        throw WebpError("Cannot write an empty picture as WebP");
    }
    if (bitmap.width() > kLargestSide || bitmap.height() > kLargestSide) {
        throw WebpError("Picture too large for WebP (at most " + std::to_string(kLargestSide) +
                        " x " + std::to_string(kLargestSide) + " pixels)");
    }
    if (encoding.quality < 0 || encoding.quality > 100) {
        throw WebpError("WebP quality must be 0 to 100");
    }
    WebPConfig config;
    if (WebPConfigInit(&config) == 0) {
        throw WebpError("Unsupported WebP library version");
    }
    config.thread_level = threadsPay(encoding.useThreads, bitmap.width(), bitmap.height()) ? 1 : 0;
    if (encoding.lossless) {
        config.lossless = 1;
        config.exact = 1;
    } else {
        config.quality = static_cast<float>(encoding.quality);
    }
    const bool alpha = bitmap.format() == PixelFormat::Bits32;
    const bool direct = alpha || bitmap.format() == PixelFormat::Bits24;
    const Bitmap converted = direct ? Bitmap() : bitmap.to24();
    const Bitmap& source = direct ? bitmap : converted;

    Encoding encoder;
    WebPPicture& picture = encoder.picture();
    picture.width = source.width();
    picture.height = source.height();
    picture.use_argb = encoding.lossless ? 1 : 0;
    const int stride = static_cast<int>(source.stride());
    const int imported = alpha ? WebPPictureImportBGRA(&picture, source.pixels().data(), stride)
                               : WebPPictureImportBGR(&picture, source.pixels().data(), stride);
    if (imported == 0 || WebPEncode(&config, &picture) == 0) {
        throw WebpError(encoderMessage(picture.error_code));
    }
    if (iccProfile.empty()) {
        return std::vector<std::uint8_t>(encoder.output().begin(), encoder.output().end());
    }
    return withProfile(encoder.output(), iccProfile);
}

std::string webpLibraryVersion() {
    // Packed as 0xMMmmrr.
    const int packed = WebPGetDecoderVersion();
    return "libwebp " + std::to_string((packed >> 16) & 0xFF) + "." +
           std::to_string((packed >> 8) & 0xFF) + "." + std::to_string(packed & 0xFF);
}

}  // namespace tz
