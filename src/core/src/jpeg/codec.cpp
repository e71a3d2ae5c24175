// The adapter over libjpeg: header parsing, decoding into bitmaps and encoding from them. With
// coefficient_store.cpp, the only file that includes the library's headers.
#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstddef>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "jpeg/codec.h"
#include "jpeg/coefficient_store.h"
#include "tz/errors.h"

namespace tz::jpegcodec {

namespace {

// Colours of 8-bit output, greyscale output included.
constexpr int kQuantizedColors = 236;
// No real file needs this many scans; a crafted file with thousands of tiny scans would
// otherwise make decoding run for hours.
constexpr int kScanLimit = 1000;
// Rows handed to the library per call.
constexpr int kRowsPerCall = 16;

// The library's error manager, extended with the place fatal errors jump to and what they were.
struct ErrorManager {
    jpeg_error_mgr pub;  // first, so the library's pointer to it is a pointer to the whole
    std::jmp_buf jump;
    int code;
    bool tooManyScans;
    bool dataEnded;  // the data ran out and the library supplied its end
};

[[noreturn]] void exitWithError(j_common_ptr cinfo) {
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    errors->code = cinfo->err->msg_code;
    std::longjmp(errors->jump, 1);
}

// Warnings and trace messages go nowhere: data the library recovers from decodes silently. Only
// the end of the data coming before the picture's is noted, for whoever wants to know.
void noteMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
        reinterpret_cast<ErrorManager*>(cinfo->err)->dataEnded = true;
    }
}
void discardOutput(j_common_ptr) {}

void checkScanLimit(j_common_ptr cinfo) {
    if (cinfo->is_decompressor == 0) {
        return;
    }
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kScanLimit) {
        auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
        errors->tooManyScans = true;
        std::longjmp(errors->jump, 1);
    }
}

void initErrorManager(ErrorManager& errors) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = exitWithError;
    errors.pub.emit_message = noteMessage;
    errors.pub.output_message = discardOutput;
    errors.code = 0;
    errors.tooManyScans = false;
    errors.dataEnded = false;
}

// Runs `step` with the library's fatal errors landing in this frame, which owns no C++ objects.
// `step` must own none either, since a fatal error leaves it by longjmp. Returns false after a
// fatal error; the caller then throws with throwLibraryError.
template <typename Step>
[[nodiscard]] bool guarded(ErrorManager& errors, const Step& step) {
    if (setjmp(errors.jump) != 0) {
        return false;
    }
    step();
    return true;
}

[[noreturn]] void throwLibraryError(const ErrorManager& errors) {
    if (errors.tooManyScans) {
        throw Error("Too many scans in JPEG data (more than " + std::to_string(kScanLimit) + ")");
    }
    throw JpegError("JPEG error #" + std::to_string(errors.code), errors.code);
}

// The metadata segments met while the header is read. The library's own saving of markers
// appends each to its list by walking the whole list, which a file of many tiny segments turns
// into hours; this reader files each segment as it comes and keeps a bounded number.
struct SegmentCollector {
    JpegMetadata metadata;                            // all but the profile and orientation
    std::vector<std::vector<std::uint8_t>> iccParts;  // APP2 "ICC_PROFILE" payloads, file order
    std::vector<std::uint8_t> payload;                // the segment being read
};

// Comments beyond these are skipped: real files have one or two.
constexpr std::size_t kCommentLimit = 256;
// A profile has at most 255 parts; more means a broken sequence, which gives no profile anyway.
constexpr std::size_t kIccPartLimit = 256;

constexpr char kExifIdentifier[] = "Exif\0";  // with the string's own terminator: six bytes
constexpr char kXmpIdentifier[] = "http://ns.adobe.com/xap/1.0/";  // ends with its terminator
constexpr char kIccIdentifier[] = "ICC_PROFILE";                   // ends with its terminator
// The identifier, then the part's sequence number and the number of parts.
constexpr std::size_t kIccHeaderSize = sizeof kIccIdentifier + 2;

// Whether a payload starts with an identifier, the string's terminating zero included.
template <std::size_t kSize>
bool startsWith(std::span<const std::uint8_t> payload, const char (&identifier)[kSize]) {
    return payload.size() >= kSize &&
           std::equal(identifier, identifier + kSize, payload.begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

// The library object, followed by the collector the segment reader fills: the library hands
// its marker readers only a pointer to the object, which is first so that this pointer is a
// pointer to the whole.
struct DecompressObject {
    jpeg_decompress_struct cinfo;
    SegmentCollector* segments;
};

// Makes input available. Our source is in memory and never suspends; past the end of the data
// it supplies an EOI marker with a warning, as it does for the library's own readers.
bool sourceHasBytes(j_decompress_ptr cinfo) {
    return cinfo->src->bytes_in_buffer > 0 || cinfo->src->fill_input_buffer(cinfo) != FALSE;
}

// Reads `length` bytes into `payload`; false when memory runs out or the source suspends.
// Reports by result: the library's error exit must not leave through a frame owning objects.
bool readPayload(j_decompress_ptr cinfo, std::vector<std::uint8_t>& payload,
                 std::size_t length) noexcept {
    try {
        payload.clear();
        payload.reserve(length);
        jpeg_source_mgr& source = *cinfo->src;
        while (payload.size() < length) {
            if (!sourceHasBytes(cinfo)) {
                return false;
            }
            const std::size_t taken = std::min(length - payload.size(), source.bytes_in_buffer);
            payload.insert(payload.end(), source.next_input_byte, source.next_input_byte + taken);
            source.next_input_byte += taken;
            source.bytes_in_buffer -= taken;
        }
        return true;
    } catch (...) {
        return false;
    }
}

// Whether a segment of this marker could still be kept, before its payload is read.
bool segmentWanted(const SegmentCollector& segments, int marker) {
    if (marker == JPEG_COM) {
        return segments.metadata.comments.size() < kCommentLimit;
    }
    if (marker == JPEG_APP0 + 1) {
        return segments.metadata.exif.empty() || segments.metadata.xmp.empty();
    }
    return segments.iccParts.size() < kIccPartLimit;
}

// Files the payload just read where it belongs, or drops it; false when memory runs out.
bool fileSegment(SegmentCollector& segments, int marker) noexcept {
    try {
        std::vector<std::uint8_t>& payload = segments.payload;
        JpegMetadata& metadata = segments.metadata;
        if (marker == JPEG_COM) {
            metadata.comments.push_back(std::move(payload));
        } else if (marker == JPEG_APP0 + 1) {
            if (metadata.exif.empty() && startsWith(payload, kExifIdentifier)) {
                metadata.exif = std::move(payload);
            } else if (metadata.xmp.empty() && startsWith(payload, kXmpIdentifier)) {
                metadata.xmp = std::move(payload);
            }
        } else if (payload.size() >= kIccHeaderSize && startsWith(payload, kIccIdentifier)) {
            segments.iccParts.push_back(std::move(payload));
        }
        payload.clear();
        return true;
    } catch (...) {
        return false;
    }
}

// The library's reader of APP1, APP2 and COM segments while metadata is read.
boolean collectSegment(j_decompress_ptr cinfo) {
    SegmentCollector& segments = *reinterpret_cast<DecompressObject*>(cinfo)->segments;
    const int marker = cinfo->unread_marker;
    unsigned int lengthField = 0;
    for (int i = 0; i < 2; ++i) {
        if (!sourceHasBytes(cinfo)) {
            return FALSE;
        }
        lengthField = lengthField << 8 | *cinfo->src->next_input_byte++;
        --cinfo->src->bytes_in_buffer;
    }
    // The field counts itself; a shorter one is taken as an empty segment, as the library does.
    const std::size_t length = lengthField > 2 ? lengthField - 2 : 0;
    if (!segmentWanted(segments, marker)) {
        if (length > 0) {
            cinfo->src->skip_input_data(cinfo, static_cast<long>(length));
        }
        return TRUE;
    }
    if (!readPayload(cinfo, segments.payload, length) || !fileSegment(segments, marker)) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2);
    }
    return TRUE;
}

// The profile from its parts in sequence order; empty when a part is missing, repeated or
// miscounted.
std::vector<std::uint8_t> reassembledProfile(const std::vector<std::vector<std::uint8_t>>& parts) {
    constexpr std::size_t kSequenceAt = kIccHeaderSize - 2;
    constexpr std::size_t kCountAt = kIccHeaderSize - 1;
    if (parts.empty() || parts.size() != parts.front()[kCountAt]) {
        return {};
    }
    std::vector<const std::vector<std::uint8_t>*> inSequence(parts.size() + 1, nullptr);
    for (const std::vector<std::uint8_t>& part : parts) {
        const std::size_t sequence = part[kSequenceAt];
        if (part[kCountAt] != parts.size() || sequence == 0 || sequence > parts.size() ||
            inSequence[sequence] != nullptr) {
            return {};
        }
        inSequence[sequence] = &part;
    }
    std::vector<std::uint8_t> profile;
    for (std::size_t sequence = 1; sequence <= parts.size(); ++sequence) {
        const std::vector<std::uint8_t>& part = *inSequence[sequence];
        profile.insert(profile.end(), part.begin() + kIccHeaderSize, part.end());
    }
    return profile;
}

// A decompressor and its error manager; the library object is destroyed on every path.
class Decompressor {
  public:
    Decompressor() {
        initErrorManager(m_errors);
        m_object.cinfo.err = &m_errors.pub;
        m_progress.progress_monitor = checkScanLimit;
    }
    ~Decompressor() { jpeg_destroy_decompress(&m_object.cinfo); }  // safe also when never created
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct& cinfo() { return m_object.cinfo; }

    template <typename Step>
    void run(const Step& step) {
        if (!guarded(m_errors, step)) {
            throwLibraryError(m_errors);
        }
    }

    // Creates the library object over `bytes` and reads the header, requiring an image. With
    // `segments`, the metadata segments are gathered there.
    void open(std::span<const std::uint8_t> bytes, SegmentCollector* segments = nullptr) {
        m_object.segments = segments;
        jpeg_decompress_struct& cinfo = m_object.cinfo;
        run([&] {
            jpeg_create_decompress(&cinfo);
            m_coefficients.install(reinterpret_cast<j_common_ptr>(&cinfo));
            cinfo.progress = &m_progress;
            jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
            if (segments != nullptr) {
                jpeg_set_marker_processor(&cinfo, JPEG_APP0 + 1, collectSegment);
                jpeg_set_marker_processor(&cinfo, JPEG_APP0 + 2, collectSegment);
                jpeg_set_marker_processor(&cinfo, JPEG_COM, collectSegment);
            }
            jpeg_read_header(&cinfo, TRUE);
            m_multipleScans = jpeg_has_multiple_scans(&cinfo) != 0;
        });
    }

    // Whether the opened file has several scans.
    bool multipleScans() const { return m_multipleScans; }
    // Whether the data ran out before the library was done with it.
    bool dataEnded() const { return m_errors.dataEnded; }

  private:
    ErrorManager m_errors{};
    jpeg_progress_mgr m_progress{};
    CoefficientStore m_coefficients;  // outlives the library object, which uses it
    DecompressObject m_object{};
    bool m_multipleScans = false;
};

void reportDataEnd(const Decompressor& decompressor, bool* incomplete) {
    if (incomplete != nullptr) {
        *incomplete = decompressor.dataEnded();
    }
}

// What the library keeps in whole-image buffers besides our bitmap: the coefficients of every
// block for files of several scans and buffered-image output, and the colour-converted picture
// for two-pass quantisation.
std::size_t libraryImageBytes(const jpeg_decompress_struct& cinfo, bool multipleScans) {
    std::size_t bytes = 0;
    if (cinfo.buffered_image != 0 || multipleScans) {
        for (int c = 0; c < cinfo.num_components; ++c) {
            const jpeg_component_info& component = cinfo.comp_info[c];
            const auto roundUp = [](std::size_t value, int multiple) {
                const auto m = static_cast<std::size_t>(std::max(multiple, 1));
                return (value + m - 1) / m * m;
            };
            const std::size_t blocks = roundUp(component.width_in_blocks, component.h_samp_factor) *
                                       roundUp(component.height_in_blocks, component.v_samp_factor);
            bytes += blocks * DCTSIZE2 * sizeof(JCOEF);
        }
    }
    if (cinfo.quantize_colors != 0 && cinfo.out_color_components == 3 &&
        (cinfo.two_pass_quantize != 0 || cinfo.enable_2pass_quant != 0)) {
        bytes += static_cast<std::size_t>(cinfo.output_width) * cinfo.output_height * 3;
    }
    return bytes;
}

// Reads the rows of the current output pass straight into the bitmap.
// Only a suspending source delivers no rows, and ours never does; should it ever, the rows not
// delivered are white, as in a new bitmap (the decoder's bitmap starts unset).
void whitenRowsFrom(Bitmap& bitmap, JDIMENSION first) {
    for (int y = static_cast<int>(first); y < bitmap.height(); ++y) {
        std::memset(bitmap.row(y), 0xFF, bitmap.stride());
    }
}

void readRows(jpeg_decompress_struct& cinfo, Bitmap& bitmap) {
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowsPerCall, cinfo.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i) {
            rows[i] = bitmap.row(static_cast<int>(first + i));
        }
        if (jpeg_read_scanlines(&cinfo, rows, count) == 0) {
            whitenRowsFrom(bitmap, first);
            break;
        }
    }
}

// How the library's output rows become bitmap rows.
enum class Conversion {
    Direct,  // the library writes blue, green, red or palette indices straight into the bitmap
    Cmyk,    // four channels of ink, converted here
    Other,   // a colour space the library cannot convert: channels taken as they come
};

// The colour of one CMYK sample. Adobe's files store the inks inverted (0 is full ink); YCCK
// files come out of the library in that same form.
inline std::uint8_t inkToChannel(unsigned int ink, unsigned int black, bool inverted) {
    if (!inverted) {
        ink = 255 - ink;
        black = 255 - black;
    }
    return static_cast<std::uint8_t>((ink * black + 127) / 255);
}

// One row of library output in `in` to blue, green, red in `out`.
void convertRow(const jpeg_decompress_struct& cinfo, Conversion conversion, const std::uint8_t* in,
                std::uint8_t* out) {
    const JDIMENSION width = cinfo.output_width;
    if (conversion == Conversion::Cmyk) {
        const bool inverted = cinfo.saw_Adobe_marker != 0;
        for (JDIMENSION x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = inkToChannel(in[2], in[3], inverted);
            out[1] = inkToChannel(in[1], in[3], inverted);
            out[2] = inkToChannel(in[0], in[3], inverted);
        }
        return;
    }
    // Unknown channels: the first three as red, green and blue, or the first as grey.
    const auto channels = static_cast<std::size_t>(std::max(cinfo.out_color_components, 1));
    const bool colour = channels >= 3;
    for (JDIMENSION x = 0; x < width; ++x, in += channels, out += 3) {
        out[0] = colour ? in[2] : in[0];
        out[1] = colour ? in[1] : in[0];
        out[2] = in[0];
    }
}

// Reads rows through `buffer` (kRowsPerCall rows of the library's output) and converts them into
// the bitmap.
void readConvertedRows(jpeg_decompress_struct& cinfo, Conversion conversion, Bitmap& bitmap,
                       std::uint8_t* buffer) {
    const std::size_t bufferStride = static_cast<std::size_t>(cinfo.output_width) *
                                     static_cast<std::size_t>(cinfo.out_color_components);
    JSAMPROW rows[kRowsPerCall];
    for (int i = 0; i < kRowsPerCall; ++i) {
        rows[i] = buffer + static_cast<std::size_t>(i) * bufferStride;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowsPerCall, cinfo.output_height - first);
        const JDIMENSION read = jpeg_read_scanlines(&cinfo, rows, count);
        if (read == 0) {
            whitenRowsFrom(bitmap, first);
            break;
        }
        for (JDIMENSION i = 0; i < read; ++i) {
            convertRow(cinfo, conversion, rows[i], bitmap.row(static_cast<int>(first + i)));
        }
    }
}

Conversion conversionFor(const jpeg_decompress_struct& cinfo) {
    switch (cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
        case JCS_RGB:
        case JCS_YCbCr:
            return Conversion::Direct;
        case JCS_CMYK:
        case JCS_YCCK:
            return Conversion::Cmyk;
        default:
            return Conversion::Other;
    }
}

// The palette of quantised output: the colour map's one row repeated as grey, or its red,
// green and blue rows.
std::vector<Rgb> quantizedPalette(const jpeg_decompress_struct& cinfo) {
    std::vector<Rgb> palette;
    if (cinfo.colormap == nullptr) {
        return palette;
    }
    const int count = std::clamp(cinfo.actual_number_of_colors, 0, 256);
    palette.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        if (cinfo.out_color_components == 1) {
            const std::uint8_t level = cinfo.colormap[0][i];
            palette.push_back(Rgb{level, level, level});
        } else {
            palette.push_back(
                Rgb{cinfo.colormap[0][i], cinfo.colormap[1][i], cinfo.colormap[2][i]});
        }
    }
    return palette;
}

// Decoding parameters that buffered-image display switches to the fast ones until the last pass.
struct OutputQuality {
    J_DCT_METHOD dctMethod;
    boolean twoPassQuantize;
    J_DITHER_MODE ditherMode;
};

void setOutputQuality(jpeg_decompress_struct& cinfo, const OutputQuality& quality) {
    cinfo.dct_method = quality.dctMethod;
    cinfo.two_pass_quantize = quality.twoPassQuantize;
    cinfo.dither_mode = quality.ditherMode;
}

constexpr OutputQuality kFastOutput{JDCT_IFAST, FALSE, JDITHER_ORDERED};

}  // namespace

HeaderInfo readHeader(std::span<const std::uint8_t> bytes, JpegScale scale,
                      MetadataReading metadata) {
    Decompressor decompressor;
    SegmentCollector segments;
    decompressor.open(bytes, metadata == MetadataReading::Read ? &segments : nullptr);
    jpeg_decompress_struct& cinfo = decompressor.cinfo();
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned int>(scaleDivisor(scale));
    decompressor.run([&] { jpeg_calc_output_dimensions(&cinfo); });
    HeaderInfo info;
    info.width = static_cast<int>(cinfo.image_width);
    info.height = static_cast<int>(cinfo.image_height);
    info.grayscale = cinfo.jpeg_color_space == JCS_GRAYSCALE;
    info.progressive = decompressor.multipleScans();
    info.scaledWidth = static_cast<int>(cinfo.output_width);
    info.scaledHeight = static_cast<int>(cinfo.output_height);
    if (metadata == MetadataReading::Read) {
        info.metadata = std::move(segments.metadata);
        info.metadata.iccProfile = reassembledProfile(segments.iccParts);
    }
    return info;
}

namespace {

// How a file is decoded with the decoding settings.
struct DecodingSetup {
    Conversion conversion = Conversion::Direct;
    bool indexed = false;   // 8-bit output through a palette
    bool buffered = false;  // buffered-image display, scan by scan
    OutputQuality finalQuality{};
    int width = 0;
    int height = 0;
};

// Sets the library's decoding parameters for an opened file, and checks that what the library
// keeps of the whole picture, and the picture's bitmap when `wholeBitmap`, fit in memory.
DecodingSetup setUpDecoding(Decompressor& decompressor, const JpegSettings& settings,
                            bool wholeBitmap) {
    jpeg_decompress_struct& cinfo = decompressor.cinfo();
    DecodingSetup setup;
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned int>(scaleDivisor(settings.scale));
    cinfo.do_block_smoothing = settings.smoothing ? TRUE : FALSE;
    // The library converts only grey, RGB and YCbCr files to our formats. Four-channel files
    // are read as CMYK and others as they come, both converted here, always to 24 bits.
    setup.conversion = conversionFor(cinfo);
    if (setup.conversion == Conversion::Cmyk) {
        cinfo.out_color_space = JCS_CMYK;
    } else if (setup.conversion == Conversion::Direct && settings.grayscale) {
        cinfo.out_color_space = JCS_GRAYSCALE;
    }
    setup.indexed =
        setup.conversion == Conversion::Direct &&
        (settings.pixelFormat == JpegPixelFormat::Bits8 || cinfo.out_color_space == JCS_GRAYSCALE);
    if (setup.indexed) {
        cinfo.quantize_colors = TRUE;
        cinfo.desired_number_of_colors = kQuantizedColors;
    } else if (setup.conversion == Conversion::Direct) {
        // Rows exchanged with the library are in the bitmap's blue, green, red order.
        cinfo.out_color_space = JCS_EXT_BGR;
    }
    // This program's decoding defaults, set explicitly where the library's differ.
    cinfo.dct_method = JDCT_FLOAT;
    cinfo.do_fancy_upsampling = TRUE;
    cinfo.dither_mode = JDITHER_FS;
    cinfo.two_pass_quantize = TRUE;
    if (settings.performance == JpegPerformance::BestSpeed) {
        setOutputQuality(cinfo, kFastOutput);
    }
    setup.finalQuality = {cinfo.dct_method, cinfo.two_pass_quantize, cinfo.dither_mode};
    setup.buffered = setup.conversion == Conversion::Direct && settings.progressiveDisplay &&
                     decompressor.multipleScans();
    if (setup.buffered) {
        setOutputQuality(cinfo, kFastOutput);
        cinfo.buffered_image = TRUE;
        if (setup.indexed) {
            cinfo.enable_1pass_quant = TRUE;
            cinfo.enable_2pass_quant = setup.finalQuality.twoPassQuantize;
        }
    }

    // Refuse before the library allocates its whole-image buffers and before the bitmap exists.
    decompressor.run([&] { jpeg_calc_output_dimensions(&cinfo); });
    setup.width = static_cast<int>(cinfo.output_width);
    setup.height = static_cast<int>(cinfo.output_height);
    std::size_t needed = wholeBitmap
                             ? bitmapBytes(setup.width, setup.height,
                                           setup.indexed ? PixelFormat::Bits8 : PixelFormat::Bits24)
                             : 0;
    const std::size_t libraryBytes = libraryImageBytes(cinfo, decompressor.multipleScans());
    if (libraryBytes > std::numeric_limits<std::size_t>::max() - needed) {
        throw Error("Not enough memory for a picture of " + std::to_string(setup.width) + " x " +
                    std::to_string(setup.height) + " pixels");
    }
    needed += libraryBytes;
    ensureAllocatable(needed, setup.width, setup.height);
    return setup;
}

}  // namespace

Bitmap decode(std::span<const std::uint8_t> bytes, const JpegSettings& settings, bool* incomplete) {
    Decompressor decompressor;
    decompressor.open(bytes);
    jpeg_decompress_struct& cinfo = decompressor.cinfo();
    const DecodingSetup setup = setUpDecoding(decompressor, settings, true);
    const PixelFormat format = setup.indexed ? PixelFormat::Bits8 : PixelFormat::Bits24;

    decompressor.run([&] { jpeg_start_decompress(&cinfo); });
    // Every row is written below: the library delivers all of them, even from cut-short data.
    Bitmap bitmap(Bitmap::ForOverwrite{}, setup.width, setup.height, format,
                  setup.buffered ? std::vector<Rgb>{} : quantizedPalette(cinfo));
    if (setup.conversion != Conversion::Direct) {
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(setup.width) *
                                         static_cast<std::size_t>(cinfo.out_color_components) *
                                         kRowsPerCall);
        decompressor.run([&] {
            readConvertedRows(cinfo, setup.conversion, bitmap, buffer.data());
            jpeg_finish_decompress(&cinfo);
        });
        reportDataEnd(decompressor, incomplete);
        return bitmap;
    }
    if (!setup.buffered) {
        decompressor.run([&] {
            readRows(cinfo, bitmap);
            jpeg_finish_decompress(&cinfo);
        });
        reportDataEnd(decompressor, incomplete);
        return bitmap;
    }

    // Buffered-image display: every scan is shown as it arrives with the fast settings, then
    // the last pass is decoded again with the final ones.
    decompressor.run([&] {
        for (int pass = 0; pass <= kScanLimit && jpeg_input_complete(&cinfo) == 0; ++pass) {
            jpeg_start_output(&cinfo, cinfo.input_scan_number);
            readRows(cinfo, bitmap);
            jpeg_finish_output(&cinfo);
        }
    });
    setOutputQuality(cinfo, setup.finalQuality);
    if (setup.indexed) {
        cinfo.colormap = nullptr;  // a new colour map for the final settings
    }
    decompressor.run([&] { jpeg_start_output(&cinfo, cinfo.input_scan_number); });
    if (setup.indexed) {
        bitmap.setColorTable(quantizedPalette(cinfo));
    }
    decompressor.run([&] {
        readRows(cinfo, bitmap);
        jpeg_finish_output(&cinfo);
        jpeg_finish_decompress(&cinfo);
    });
    reportDataEnd(decompressor, incomplete);
    return bitmap;
}

namespace {

// Starting a reader part-way costs the library's entropy decoding of every row before it: for a
// 20 MP photograph about 12 µs a row, against 29 µs for decoding and scaling a row.
constexpr double kBaselineSkipCost = 0.42;

class JpegRows;

class JpegRowReader final : public RowReader {
  public:
    JpegRowReader(JpegRows& owner, int first);
    ~JpegRowReader() override;
    JpegRowReader(const JpegRowReader&) = delete;
    JpegRowReader& operator=(const JpegRowReader&) = delete;

    std::span<const std::uint8_t* const> nextRows(int count) override;

  private:
    JpegRows& m_owner;
    Decompressor m_decompressor;
    Conversion m_conversion = Conversion::Direct;
    std::vector<std::uint8_t> m_libraryRows;  // the library's output, when converted here
    std::vector<std::uint8_t> m_rows;
    std::vector<const std::uint8_t*> m_pointers;
};

class JpegRows final : public PictureRows {
  public:
    JpegRows(std::shared_ptr<const JpegData> data, const JpegSettings& settings, int width,
             int height, bool multipleScans)
        : m_data(std::move(data)),
          m_settings(settings),
          m_width(width),
          m_height(height),
          m_multipleScans(multipleScans) {}

    int width() const override { return m_width; }
    int height() const override { return m_height; }
    // A file of several scans is decoded whole before its first row comes out.
    double skipCost() const override { return m_multipleScans ? 1.0 : kBaselineSkipCost; }
    std::unique_ptr<RowReader> readerFrom(int first) override {
        return std::make_unique<JpegRowReader>(*this, first);
    }
    bool incomplete() const override { return m_dataEnded; }
    void finish() override {
        if (!m_readToEnd) {
            readerFrom(m_height - 1)->nextRows(1);
        }
    }

    std::span<const std::uint8_t> bytes() const { return m_data->bytes; }
    const JpegSettings& settings() const { return m_settings; }
    void noteEnd(bool dataEnded, bool readToEnd) {
        if (dataEnded) {
            m_dataEnded = true;
        }
        if (readToEnd) {
            m_readToEnd = true;
        }
    }

  private:
    std::shared_ptr<const JpegData> m_data;
    JpegSettings m_settings;
    int m_width;
    int m_height;
    bool m_multipleScans;
    std::atomic<bool> m_dataEnded{false};
    std::atomic<bool> m_readToEnd{false};
};

JpegRowReader::JpegRowReader(JpegRows& owner, int first) : m_owner(owner) {
    m_decompressor.open(owner.bytes());
    jpeg_decompress_struct& cinfo = m_decompressor.cinfo();
    m_conversion = setUpDecoding(m_decompressor, owner.settings(), false).conversion;
    m_decompressor.run([&] {
        jpeg_start_decompress(&cinfo);
        if (first > 0) {
            jpeg_skip_scanlines(&cinfo, static_cast<JDIMENSION>(first));
        }
    });
}

JpegRowReader::~JpegRowReader() {
    jpeg_decompress_struct& cinfo = m_decompressor.cinfo();
    m_owner.noteEnd(m_decompressor.dataEnded(), cinfo.output_scanline >= cinfo.output_height);
}

std::span<const std::uint8_t* const> JpegRowReader::nextRows(int count) {
    jpeg_decompress_struct& cinfo = m_decompressor.cinfo();
    const std::size_t rowBytes = static_cast<std::size_t>(cinfo.output_width) * 3;
    const auto rows = static_cast<std::size_t>(count);
    if (m_pointers.size() < rows) {
        m_rows.resize(rowBytes * rows);
        m_pointers.resize(rows);
        if (m_conversion != Conversion::Direct) {
            m_libraryRows.resize(static_cast<std::size_t>(cinfo.output_width) *
                                 static_cast<std::size_t>(cinfo.out_color_components) * rows);
        }
    }
    const std::size_t libraryRowBytes =
        m_conversion == Conversion::Direct
            ? rowBytes
            : static_cast<std::size_t>(cinfo.output_width) *
                  static_cast<std::size_t>(cinfo.out_color_components);
    std::uint8_t* target =
        m_conversion == Conversion::Direct ? m_rows.data() : m_libraryRows.data();
    JSAMPROW libraryRows[kRowsPerCall];
    std::size_t done = 0;
    m_decompressor.run([&] {
        while (done < rows) {
            const std::size_t asked = std::min<std::size_t>(kRowsPerCall, rows - done);
            for (std::size_t r = 0; r < asked; ++r) {
                libraryRows[r] = target + (done + r) * libraryRowBytes;
            }
            const JDIMENSION read =
                jpeg_read_scanlines(&cinfo, libraryRows, static_cast<JDIMENSION>(asked));
            if (read == 0) {
                break;  // see whitenRowsFrom
            }
            done += read;
        }
        if (cinfo.output_scanline >= cinfo.output_height) {
            jpeg_finish_decompress(&cinfo);
        }
    });
    for (std::size_t r = 0; r < rows; ++r) {
        std::uint8_t* row = m_rows.data() + r * rowBytes;
        if (r >= done) {
            std::memset(row, 0xFF, rowBytes);
        } else if (m_conversion != Conversion::Direct) {
            convertRow(cinfo, m_conversion, m_libraryRows.data() + r * libraryRowBytes, row);
        }
        m_pointers[r] = row;
    }
    return std::span<const std::uint8_t* const>(m_pointers).first(rows);
}

}  // namespace

std::unique_ptr<PictureRows> openRows(std::shared_ptr<const JpegData> data,
                                      const JpegSettings& settings) {
    Decompressor decompressor;
    decompressor.open(data->bytes);
    const DecodingSetup setup = setUpDecoding(decompressor, settings, false);
    if (setup.indexed || setup.buffered) {
        return nullptr;
    }
    return std::make_unique<JpegRows>(std::move(data), settings, setup.width, setup.height,
                                      decompressor.multipleScans());
}

namespace {

// A library destination that appends to a byte vector owned by the caller.
struct VectorDestination {
    jpeg_destination_mgr pub;  // first, so the library's pointer to it is a pointer to the whole
    ByteBuffer* bytes;
};

// Grows the buffer without letting an exception into the library's frames.
bool growBuffer(ByteBuffer& bytes) noexcept {
    try {
        bytes.resize(std::max<std::size_t>(bytes.size() * 2, 65536));
        return true;
    } catch (...) {
        return false;
    }
}

void pointAtFreeSpace(VectorDestination& destination, std::size_t used) {
    destination.pub.next_output_byte = destination.bytes->data() + used;
    destination.pub.free_in_buffer = destination.bytes->size() - used;
}

// The library stores a byte before it checks for space, so the buffer is never left full.
void initDestination(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<VectorDestination*>(cinfo->dest);
    destination->bytes->clear();
    if (!growBuffer(*destination->bytes)) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    }
    pointAtFreeSpace(*destination, 0);
}

boolean emptyOutputBuffer(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<VectorDestination*>(cinfo->dest);
    const std::size_t used = destination->bytes->size();
    if (!growBuffer(*destination->bytes)) {
        ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    }
    pointAtFreeSpace(*destination, used);
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto* destination = reinterpret_cast<VectorDestination*>(cinfo->dest);
    // Shrinking never allocates.
    destination->bytes->resize(destination->bytes->size() - destination->pub.free_in_buffer);
}

// A compressor writing into `bytes`; the library object is destroyed on every path.
class Compressor {
  public:
    explicit Compressor(ByteBuffer& bytes) {
        initErrorManager(m_errors);
        m_cinfo.err = &m_errors.pub;
        m_destination.pub.init_destination = initDestination;
        m_destination.pub.empty_output_buffer = emptyOutputBuffer;
        m_destination.pub.term_destination = termDestination;
        m_destination.bytes = &bytes;
    }
    ~Compressor() { jpeg_destroy_compress(&m_cinfo); }  // safe also when never created
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    jpeg_compress_struct& cinfo() { return m_cinfo; }
    jpeg_destination_mgr* destination() { return &m_destination.pub; }

    template <typename Step>
    void run(const Step& step) {
        if (!guarded(m_errors, step)) {
            throwLibraryError(m_errors);
        }
    }

  private:
    ErrorManager m_errors{};
    VectorDestination m_destination{};
    jpeg_compress_struct m_cinfo{};
};

void setCompressionParameters(jpeg_compress_struct& cinfo, const JpegSettings& settings) {
    jpeg_set_defaults(&cinfo);
    // The library clamps the quality into 1 … 100, so a stored 0 acts as 1.
    jpeg_set_quality(&cinfo, settings.compressionQuality, TRUE);
    // This program's encoding defaults, set explicitly where the library's differ.
    cinfo.dct_method = JDCT_FLOAT;
    cinfo.optimize_coding = FALSE;
    cinfo.write_JFIF_header = TRUE;
    cinfo.JFIF_major_version = 1;
    cinfo.JFIF_minor_version = 1;
    cinfo.density_unit = 0;
    cinfo.X_density = 1;
    cinfo.Y_density = 1;
    cinfo.restart_interval = 0;
    cinfo.restart_in_rows = 0;
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    if (settings.grayscale) {
        jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
    }
    if (settings.progressiveEncoding) {
        jpeg_simple_progression(&cinfo);
    }
}

void writeRows(jpeg_compress_struct& cinfo, const Bitmap& bitmap) {
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION first = cinfo.next_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowsPerCall, cinfo.image_height - first);
        for (JDIMENSION i = 0; i < count; ++i) {
            // The library only reads input rows; its interface is not const-correct.
            rows[i] = const_cast<JSAMPROW>(bitmap.row(static_cast<int>(first + i)));
        }
        if (jpeg_write_scanlines(&cinfo, rows, count) == 0) {
            break;  // only a suspending destination takes nothing; ours never does
        }
    }
}

}  // namespace

namespace {

// After the JFIF header, before the first scan; what does not fit has been left out by the caller.
void writeMetadata(jpeg_compress_struct& cinfo, const JpegMetadata& metadata) {
    const auto writeSegment = [&](int marker, const std::vector<std::uint8_t>& payload) {
        jpeg_write_marker(&cinfo, marker, payload.data(),
                          static_cast<unsigned int>(payload.size()));
    };
    if (!metadata.exif.empty()) {
        writeSegment(JPEG_APP0 + 1, metadata.exif);
    }
    if (!metadata.xmp.empty()) {
        writeSegment(JPEG_APP0 + 1, metadata.xmp);
    }
    if (!metadata.iccProfile.empty()) {
        jpeg_write_icc_profile(&cinfo, metadata.iccProfile.data(),
                               static_cast<unsigned int>(metadata.iccProfile.size()));
    }
    for (const std::vector<std::uint8_t>& comment : metadata.comments) {
        writeSegment(JPEG_COM, comment);
    }
}

}  // namespace

ByteBuffer encode(const Bitmap& bitmap24, const JpegSettings& settings,
                  const JpegMetadata& metadata) {
    ByteBuffer bytes;
    Compressor compressor(bytes);
    jpeg_compress_struct& cinfo = compressor.cinfo();
    compressor.run([&] {
        jpeg_create_compress(&cinfo);
        cinfo.dest = compressor.destination();
        cinfo.image_width = static_cast<JDIMENSION>(bitmap24.width());
        cinfo.image_height = static_cast<JDIMENSION>(bitmap24.height());
        cinfo.input_components = 3;
        // Rows exchanged with the library are in the bitmap's blue, green, red order.
        cinfo.in_color_space = JCS_EXT_BGR;
        setCompressionParameters(cinfo, settings);
        jpeg_start_compress(&cinfo, TRUE);
        writeMetadata(cinfo, metadata);
        writeRows(cinfo, bitmap24);
        jpeg_finish_compress(&cinfo);
    });
    return bytes;
}

}  // namespace tz::jpegcodec

// jconfig.h gives the version as bare tokens.
#define TZ_STRINGIZE_VALUE(value) #value
#define TZ_STRINGIZE(value) TZ_STRINGIZE_VALUE(value)

std::string tz::jpegLibraryVersion() {
    return "libjpeg-turbo " TZ_STRINGIZE(LIBJPEG_TURBO_VERSION);
}
