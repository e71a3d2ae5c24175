// The HEIF reader over libheif, the only file that includes the library's header.
#include "tz/heif.h"

#include <dlfcn.h>
#include <libheif/heif.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "tz/errors.h"
#include "tz/file_io.h"
#include "tz/memory_budget.h"

namespace tz {

namespace {

// The library is opened on first use rather than linked: it brings the HEVC and AV1 coders
// with it, whose loading would cost every start of the program several milliseconds, HEIF
// file or not.
#define TZ_HEIF_FUNCTIONS(FUNCTION)                        \
    FUNCTION(heif_check_filetype)                          \
    FUNCTION(heif_context_alloc)                           \
    FUNCTION(heif_context_free)                            \
    FUNCTION(heif_context_get_primary_image_handle)        \
    FUNCTION(heif_context_read_from_memory_without_copy)   \
    FUNCTION(heif_context_set_maximum_image_size_limit)    \
    FUNCTION(heif_decode_image)                            \
    FUNCTION(heif_decoding_options_alloc)                  \
    FUNCTION(heif_decoding_options_free)                   \
    FUNCTION(heif_get_version)                             \
    FUNCTION(heif_image_get_bits_per_pixel_range)          \
    FUNCTION(heif_image_get_height)                        \
    FUNCTION(heif_image_get_plane_readonly)                \
    FUNCTION(heif_image_get_width)                         \
    FUNCTION(heif_image_handle_get_color_profile_type)     \
    FUNCTION(heif_image_handle_get_height)                 \
    FUNCTION(heif_image_handle_get_raw_color_profile)      \
    FUNCTION(heif_image_handle_get_raw_color_profile_size) \
    FUNCTION(heif_image_handle_get_width)                  \
    FUNCTION(heif_image_handle_has_alpha_channel)          \
    FUNCTION(heif_image_handle_release)                    \
    FUNCTION(heif_image_is_premultiplied_alpha)            \
    FUNCTION(heif_image_release)                           \
    FUNCTION(heif_init)

// The build passes the library's soname.
constexpr const char* kHeifLibraryName = TZ_HEIF_SONAME;

// The library's functions this reader calls, found in the library once it is open.
struct HeifLibrary {
#define TZ_HEIF_POINTER(name) decltype(&::name) name = nullptr;
    TZ_HEIF_FUNCTIONS(TZ_HEIF_POINTER)
#undef TZ_HEIF_POINTER
};

// The opened library; throws HeifError when it is not installed. Opened once per process and
// never closed, as its codecs stay registered.
const HeifLibrary& heifLibrary() {
    static const std::optional<HeifLibrary> library = []() -> std::optional<HeifLibrary> {
        void* handle = ::dlopen(kHeifLibraryName, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            return std::nullopt;
        }
        HeifLibrary found;
        bool complete = true;
#define TZ_HEIF_LOOKUP(name)                                                  \
    found.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name)); \
    complete = complete && found.name != nullptr;
        TZ_HEIF_FUNCTIONS(TZ_HEIF_LOOKUP)
#undef TZ_HEIF_LOOKUP
        return complete ? std::optional(found) : std::nullopt;
    }();
    if (!library) {
        throw HeifError(std::string("Unsupported HEIF file: the HEIF library (") +
                        kHeifLibraryName + ") is not installed");
    }
    return *library;
}

// Bytes per pixel the library and we may hold at once while decoding: the coded planes (up to
// 16 bits a sample with full chroma and alpha), the interleaved result, our bitmap.
constexpr std::size_t kDecodingBytesPerPixel = 16;
// No side longer than the library's own default limit, stated here so it cannot grow.
constexpr int kLargestSide = 32768;

// The library registers its codecs once per process; later calls only count references.
void initialiseLibrary() {
    static const bool initialised = [] {
        heifLibrary().heif_init(nullptr);
        return true;
    }();
    static_cast<void>(initialised);
}

std::uint64_t bigEndian(const std::uint8_t* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

// Whether the last of the file's top-level boxes claims more bytes than the file has left: the
// library then only says that what it looked for is missing.
bool boxesCutShort(std::span<const std::uint8_t> bytes) {
    std::uint64_t at = 0;
    while (at < bytes.size()) {
        const std::uint64_t left = bytes.size() - at;
        if (left < 8) {
            return true;
        }
        std::uint64_t size = bigEndian(bytes.data() + at, 4);
        if (size == 1) {
            if (left < 16) {
                return true;
            }
            size = bigEndian(bytes.data() + at + 8, 8);
        } else if (size == 0) {
            return false;  // the box runs to the end of the file
        }
        if (size < 8) {
            return false;  // damaged rather than cut: the library names it
        }
        if (size > left) {
            return true;
        }
        at += size;
    }
    return false;
}

void check(const heif_error& error, std::span<const std::uint8_t> bytes) {
    switch (error.code) {
        case heif_error_Ok:
            return;
        case heif_error_Invalid_input:
            if (error.subcode == heif_suberror_End_of_data || boxesCutShort(bytes)) {
                throw HeifError("HEIF file truncated");
            }
            throw HeifError(std::string("Invalid HEIF file: ") + error.message);
        case heif_error_Unsupported_filetype:
        case heif_error_Unsupported_feature:
            throw HeifError(std::string("Unsupported HEIF file: ") + error.message);
        case heif_error_Memory_allocation_error:
            throw HeifError("Not enough memory to decode the HEIF file");
        default:
            if (boxesCutShort(bytes)) {
                throw HeifError("HEIF file truncated");
            }
            throw HeifError(std::string("Invalid HEIF file: ") + error.message);
    }
}

struct ContextDeleter {
    void operator()(heif_context* context) const { heifLibrary().heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const {
        heifLibrary().heif_image_handle_release(handle);
    }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heifLibrary().heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const {
        heifLibrary().heif_decoding_options_free(options);
    }
};
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;

void checkSignature(std::span<const std::uint8_t> bytes) {
    // The box header: a size, then "ftyp" and the brand.
    constexpr std::size_t kBrandEnd = 12;
    if (bytes.size() < kBrandEnd) {
        const bool prefix =
            bytes.size() > 4 &&
            std::memcmp(bytes.data() + 4, "ftyp", std::min<std::size_t>(bytes.size() - 4, 4)) == 0;
        throw HeifError(prefix ? "HEIF file truncated" : "Not a HEIF file");
    }
    const int length = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX));
    switch (heifLibrary().heif_check_filetype(bytes.data(), length)) {
        case heif_filetype_yes_supported:
            return;
        case heif_filetype_yes_unsupported:
            throw HeifError("Unsupported HEIF file: unknown brand");
        default:
            throw HeifError("Not a HEIF file");
    }
}

// A file's context and its primary picture. The context reads the caller's bytes in place, so
// they must outlive it.
class HeifFile {
  public:
    explicit HeifFile(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {
        checkSignature(bytes);
        initialiseLibrary();
        m_context.reset(heifLibrary().heif_context_alloc());
        if (m_context == nullptr) {
            throw HeifError("Not enough memory to decode the HEIF file");
        }
        heifLibrary().heif_context_set_maximum_image_size_limit(m_context.get(), kLargestSide);
        check(heifLibrary().heif_context_read_from_memory_without_copy(
                  m_context.get(), bytes.data(), bytes.size(), nullptr),
              bytes);
        heif_image_handle* handle = nullptr;
        check(heifLibrary().heif_context_get_primary_image_handle(m_context.get(), &handle), bytes);
        m_primary.reset(handle);
        m_width = heifLibrary().heif_image_handle_get_width(handle);
        m_height = heifLibrary().heif_image_handle_get_height(handle);
        if (m_width <= 0 || m_height <= 0) {
            throw HeifError("Invalid HEIF file: picture without size");
        }
        admitDeclaredSize(m_width, m_height);
    }

    PictureHeader header() const {
        return PictureHeader{
            m_width, m_height,
            heifLibrary().heif_image_handle_has_alpha_channel(m_primary.get()) != 0};
    }

    std::vector<std::uint8_t> iccProfile() const {
        std::vector<std::uint8_t> profile;
        const heif_color_profile_type type =
            heifLibrary().heif_image_handle_get_color_profile_type(m_primary.get());
        if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC) {
            return profile;
        }
        profile.resize(heifLibrary().heif_image_handle_get_raw_color_profile_size(m_primary.get()));
        if (profile.empty() ||
            heifLibrary()
                    .heif_image_handle_get_raw_color_profile(m_primary.get(), profile.data())
                    .code != heif_error_Ok) {
            profile.clear();  // a damaged profile is dropped, the picture still shows
        }
        return profile;
    }

    Bitmap decode() const {
        if (m_width > kLargestSide || m_height > kLargestSide) {
            throw HeifError("Unsupported HEIF file: picture larger than " +
                            std::to_string(kLargestSide) + " x " + std::to_string(kLargestSide) +
                            " pixels");
        }
        const std::size_t pixels = static_cast<std::size_t>(m_width) * m_height;
        ensureAllocatable(pixels * kDecodingBytesPerPixel, m_width, m_height);
        const bool alpha = header().alpha;
        const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(
            heifLibrary().heif_decoding_options_alloc());
        if (options == nullptr) {
            throw HeifError("Not enough memory to decode the HEIF file");
        }
        options->convert_hdr_to_8bit = 1;
        heif_image* decoded = nullptr;
        const heif_error error = heifLibrary().heif_decode_image(
            m_primary.get(), &decoded, heif_colorspace_RGB,
            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
        const std::unique_ptr<heif_image, ImageDeleter> image(decoded);
        check(error, m_bytes);
        return toBitmap(image.get(), alpha);
    }

  private:
    // The interleaved red, green, blue (and alpha) planes as blue, green, red (and alpha).
    Bitmap toBitmap(heif_image* image, bool alpha) const {
        const int width = heifLibrary().heif_image_get_width(image, heif_channel_interleaved);
        const int height = heifLibrary().heif_image_get_height(image, heif_channel_interleaved);
        // The memory checked before decoding is for the header's size; a coded picture of
        // another size is damage the library lets through.
        if (width != m_width || height != m_height) {
            throw HeifError("Invalid HEIF file: the coded picture is " + std::to_string(width) +
                            " x " + std::to_string(height) + " pixels, not the " +
                            std::to_string(m_width) + " x " + std::to_string(m_height) +
                            " its header declares");
        }
        int stride = 0;
        const std::uint8_t* plane =
            heifLibrary().heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        const std::size_t channels = alpha ? 4 : 3;
        if (plane == nullptr || width <= 0 || height <= 0 ||
            heifLibrary().heif_image_get_bits_per_pixel_range(image, heif_channel_interleaved) !=
                8 ||
            static_cast<std::size_t>(stride) < static_cast<std::size_t>(width) * channels) {
            throw HeifError("Invalid HEIF file: unexpected decoded picture");
        }
        const bool premultiplied =
            alpha && heifLibrary().heif_image_is_premultiplied_alpha(image) != 0;
        Bitmap bitmap(Bitmap::ForOverwrite{}, width, height,
                      alpha ? PixelFormat::Bits32 : PixelFormat::Bits24);
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* in = plane + static_cast<std::size_t>(y) * stride;
            std::uint8_t* out = bitmap.row(y);
            for (int x = 0; x < width; ++x, in += channels, out += channels) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                if (alpha) {
                    out[3] = in[3];
                }
                if (premultiplied) {
                    unpremultiply(out);
                }
            }
        }
        return bitmap;
    }

    // c · 255 / a rounded to nearest and capped; a transparent pixel has no colour.
    static void unpremultiply(std::uint8_t* pixel) {
        const unsigned a = pixel[3];
        for (int c = 0; c < 3; ++c) {
            pixel[c] = a == 0 ? 0
                              : static_cast<std::uint8_t>(
                                    std::min((2 * pixel[c] * 255u + a) / (2 * a), 255u));
        }
    }

    std::span<const std::uint8_t> m_bytes;
    std::unique_ptr<heif_context, ContextDeleter> m_context;
    Handle m_primary;
    int m_width = 0;
    int m_height = 0;
};

}  // namespace

PictureHeader readHeifHeader(std::span<const std::uint8_t> bytes) {
    return HeifFile(bytes).header();
}

DecodedPicture decodeHeif(std::span<const std::uint8_t> bytes) {
    const HeifFile file(bytes);
    DecodedPicture picture;
    picture.iccProfile = file.iccProfile();
    picture.bitmap = file.decode();
    return picture;
}

DecodedPicture loadHeifFile(const std::filesystem::path& file) {
    return decodeHeif(readWholeFile(file));
}

std::string heifLibraryVersion() {
    return std::string("libheif ") + heifLibrary().heif_get_version();
}

}  // namespace tz
