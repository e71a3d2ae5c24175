// HEIF reading: HEIC and AVIF files made here with the library's encoders, in every orientation
// a camera writes, with alpha and a colour profile, and damaged files.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/pixel_printers.h"
#include "support/support.h"
#include "tz/errors.h"
#include "tz/heif.h"

namespace tz {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

constexpr Rgba kRed{255, 0, 0, 255};
constexpr Rgba kGreen{0, 255, 0, 255};
constexpr Rgba kBlue{0, 0, 255, 255};
constexpr Rgba kWhite{255, 255, 255, 255};

// The stored picture: 64 × 32 in four quadrants, red, green / blue, white (the last
// transparent when the picture has alpha).
constexpr int kStoredWidth = 64;
constexpr int kStoredHeight = 32;

Rgba storedPixel(int x, int y, bool alpha) {
    const bool right = x >= kStoredWidth / 2;
    const bool bottom = y >= kStoredHeight / 2;
    if (!bottom) {
        return right ? kGreen : kRed;
    }
    if (!right) {
        return kBlue;
    }
    return alpha ? Rgba{255, 255, 255, 0} : kWhite;
}

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct EncoderDeleter {
    void operator()(heif_encoder* encoder) const { heif_encoder_release(encoder); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_encoding_options* options) const { heif_encoding_options_free(options); }
};

heif_error appendTo(heif_context*, const void* data, size_t size, void* userdata) {
    auto* out = static_cast<Bytes*>(userdata);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// The quadrant picture encoded with the orientation a camera would record, or nullopt when the
// library has no encoder for the compression.
std::optional<Bytes> encodeQuadrants(heif_compression_format compression,
                                     heif_orientation orientation, bool alpha,
                                     const Bytes& iccProfile = {}) {
    heif_init(nullptr);
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(context.get(), compression, &rawEncoder).code !=
        heif_error_Ok) {
        return std::nullopt;
    }
    const std::unique_ptr<heif_encoder, EncoderDeleter> encoder(rawEncoder);
    heif_encoder_set_lossy_quality(encoder.get(), 90);
    heif_image* rawImage = nullptr;
    EXPECT_EQ(heif_image_create(kStoredWidth, kStoredHeight, heif_colorspace_RGB,
                                alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                &rawImage)
                  .code,
              heif_error_Ok);
    const std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    EXPECT_EQ(
        heif_image_add_plane(image.get(), heif_channel_interleaved, kStoredWidth, kStoredHeight, 8)
            .code,
        heif_error_Ok);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < kStoredHeight; ++y) {
        for (int x = 0; x < kStoredWidth; ++x) {
            const Rgba c = storedPixel(x, y, alpha);
            std::uint8_t* pixel = plane + y * stride + x * channels;
            pixel[0] = c.red;
            pixel[1] = c.green;
            pixel[2] = c.blue;
            if (alpha) {
                pixel[3] = c.alpha;
            }
        }
    }
    if (!iccProfile.empty()) {
        heif_image_set_raw_color_profile(image.get(), "prof", iccProfile.data(), iccProfile.size());
    }
    const std::unique_ptr<heif_encoding_options, OptionsDeleter> options(
        heif_encoding_options_alloc());
    options->image_orientation = orientation;
    EXPECT_EQ(
        heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), nullptr)
            .code,
        heif_error_Ok);
    Bytes file;
    heif_writer writer{1, appendTo};
    EXPECT_EQ(heif_context_write(context.get(), &writer, &file).code, heif_error_Ok);
    return file;
}

// How a display shows the stored quadrants for each orientation (EXIF's meaning of the value):
// the colours of its top-left, top-right, bottom-left and bottom-right quadrants.
struct OrientationRow {
    const char* description;
    heif_orientation orientation;
    bool turned;  // width and height swap
    Rgba topLeft, topRight, bottomLeft, bottomRight;
};

void PrintTo(const OrientationRow& row, std::ostream* out) {
    *out << row.description;
}

const OrientationRow kOrientations[] = {
    {"Normal", heif_orientation_normal, false, kRed, kGreen, kBlue, kWhite},
    {"Mirrored", heif_orientation_flip_horizontally, false, kGreen, kRed, kWhite, kBlue},
    {"Rotated180", heif_orientation_rotate_180, false, kWhite, kBlue, kGreen, kRed},
    {"Flipped", heif_orientation_flip_vertically, false, kBlue, kWhite, kRed, kGreen},
    // Transposed: shown (x, y) is stored (y, x).
    {"Transposed", heif_orientation_rotate_90_cw_then_flip_horizontally, true, kRed, kBlue, kGreen,
     kWhite},
    // Turned clockwise: the stored left column becomes the top row, read from the bottom.
    {"Rotated90", heif_orientation_rotate_90_cw, true, kBlue, kRed, kWhite, kGreen},
    // Transversed: shown (x, y) is stored (w − 1 − y, h − 1 − x).
    {"Transversed", heif_orientation_rotate_90_cw_then_flip_vertically, true, kWhite, kGreen, kBlue,
     kRed},
    {"Rotated270", heif_orientation_rotate_270_cw, true, kGreen, kWhite, kRed, kBlue},
};

void expectNear(const Rgba& actual, const Rgba& expected, const std::string& where) {
    // Lossy coding with halved chroma: solid quadrants come back within a few levels.
    constexpr int kTolerance = 24;
    EXPECT_NEAR(actual.red, expected.red, kTolerance)
        << where << " " << ::testing::PrintToString(actual);
    EXPECT_NEAR(actual.green, expected.green, kTolerance)
        << where << " " << ::testing::PrintToString(actual);
    EXPECT_NEAR(actual.blue, expected.blue, kTolerance)
        << where << " " << ::testing::PrintToString(actual);
    EXPECT_EQ(actual.alpha, expected.alpha) << where;
}

void expectQuadrants(const Bitmap& bitmap, const OrientationRow& row) {
    const int width = row.turned ? kStoredHeight : kStoredWidth;
    const int height = row.turned ? kStoredWidth : kStoredHeight;
    ASSERT_EQ(bitmap.width(), width);
    ASSERT_EQ(bitmap.height(), height);
    expectNear(bitmap.rgba(width / 4, height / 4), row.topLeft, "top left");
    expectNear(bitmap.rgba(3 * width / 4, height / 4), row.topRight, "top right");
    expectNear(bitmap.rgba(width / 4, 3 * height / 4), row.bottomLeft, "bottom left");
    expectNear(bitmap.rgba(3 * width / 4, 3 * height / 4), row.bottomRight, "bottom right");
}

class HeifOrientation : public ::testing::TestWithParam<OrientationRow> {};

TEST_P(HeifOrientation, HeicComesOutAsADisplayShowsIt) {
    const auto file = encodeQuadrants(heif_compression_HEVC, GetParam().orientation, false);
    if (!file) {
        GTEST_SKIP() << "libheif has no HEVC encoder here (Debian's libheif1 with x265)";
    }
    const DecodedPicture picture = decodeHeif(*file);
    EXPECT_EQ(picture.bitmap.format(), PixelFormat::Bits24);
    EXPECT_FALSE(picture.lossless);
    expectQuadrants(picture.bitmap, GetParam());
    const PictureHeader header = readHeifHeader(*file);
    EXPECT_EQ(header.width, picture.bitmap.width());
    EXPECT_EQ(header.height, picture.bitmap.height());
    EXPECT_FALSE(header.alpha);
}

std::string orientationName(const ::testing::TestParamInfo<OrientationRow>& row) {
    return row.param.description;
}

INSTANTIATE_TEST_SUITE_P(Exif, HeifOrientation, ::testing::ValuesIn(kOrientations),
                         orientationName);

TEST(HeifReader, AvifIsReadAndTurnedToo) {
    const OrientationRow& rotated = kOrientations[5];
    const auto file = encodeQuadrants(heif_compression_AV1, rotated.orientation, false);
    if (!file) {
        GTEST_SKIP() << "libheif has no AV1 encoder here (Debian's libheif1 with libaom)";
    }
    expectQuadrants(decodeHeif(*file).bitmap, rotated);
}

TEST(HeifReader, AlphaIsKeptStraight) {
    const auto file = encodeQuadrants(heif_compression_HEVC, heif_orientation_normal, true);
    if (!file) {
        GTEST_SKIP() << "libheif has no HEVC encoder here (Debian's libheif1 with x265)";
    }
    EXPECT_TRUE(readHeifHeader(*file).alpha);
    const DecodedPicture picture = decodeHeif(*file);
    ASSERT_EQ(picture.bitmap.format(), PixelFormat::Bits32);
    OrientationRow normal = kOrientations[0];
    normal.bottomRight = Rgba{255, 255, 255, 0};
    // The alpha plane is coded lossily as well: only its solid centres are exact.
    expectQuadrants(picture.bitmap, normal);
}

TEST(HeifReader, ReturnsTheIccProfile) {
    Bytes profile(300);
    for (std::size_t i = 0; i < profile.size(); ++i) {
        profile[i] = static_cast<std::uint8_t>(i * 7);
    }
    const auto file =
        encodeQuadrants(heif_compression_HEVC, heif_orientation_normal, false, profile);
    if (!file) {
        GTEST_SKIP() << "libheif has no HEVC encoder here (Debian's libheif1 with x265)";
    }
    EXPECT_EQ(decodeHeif(*file).iccProfile, profile);
    const auto plain = encodeQuadrants(heif_compression_HEVC, heif_orientation_normal, false);
    EXPECT_TRUE(decodeHeif(*plain).iccProfile.empty());
}

TEST(HeifReader, LoadsAFileAndNamesAMissingOne) {
    const auto file = encodeQuadrants(heif_compression_HEVC, heif_orientation_normal, false);
    if (!file) {
        GTEST_SKIP() << "libheif has no HEVC encoder here (Debian's libheif1 with x265)";
    }
    test::TempDir dir;
    test::writeFile(dir / "IMG_0001.HEIC", *file);
    EXPECT_EQ(loadHeifFile(dir / "IMG_0001.HEIC").bitmap.width(), kStoredWidth);
    try {
        loadHeifFile(dir / "missing.heic");
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_THAT(error.what(), HasSubstr("missing.heic"));
    }
}

// ---- Damaged files ---------------------------------------------------------------------------

std::string messageFor(const Bytes& file) {
    try {
        decodeHeif(file);
    } catch (const HeifError& error) {
        return error.what();
    }
    return "no error";
}

TEST(HeifDamaged, OtherFilesAreNotHeif) {
    EXPECT_EQ(messageFor({}), "Not a HEIF file");
    EXPECT_EQ(messageFor({0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1}),
              "Not a HEIF file");
    EXPECT_EQ(messageFor({0, 0, 0, 24, 'f', 't', 'y', 'p'}), "HEIF file truncated");
    // An MP4 video has the same box structure but another brand.
    EXPECT_EQ(messageFor({0,   0,   0, 20, 'f', 't', 'y', 'p', 'i', 's',
                          'o', 'm', 0, 0,  2,   0,   'i', 's', 'o', 'm'}),
              "Not a HEIF file");
}

TEST(HeifDamaged, TruncatedAndCorruptedFilesNameTheProblem) {
    const auto file = encodeQuadrants(heif_compression_HEVC, heif_orientation_normal, false);
    if (!file) {
        GTEST_SKIP() << "libheif has no HEVC encoder here (Debian's libheif1 with x265)";
    }
    // Cut inside the boxes that describe the picture, and inside the coded data.
    EXPECT_EQ(messageFor(Bytes(file->begin(), file->begin() + 100)), "HEIF file truncated");
    EXPECT_EQ(messageFor(Bytes(file->begin(), file->end() - 20)), "HEIF file truncated");
    // The box after the file type renamed: the description of the pictures is gone.
    Bytes damaged = *file;
    const std::size_t second = (std::size_t{damaged.at(2)} << 8) | damaged.at(3);
    ASSERT_EQ(std::string(damaged.begin() + static_cast<std::ptrdiff_t>(second + 4),
                          damaged.begin() + static_cast<std::ptrdiff_t>(second + 8)),
              "meta");
    damaged[second + 6] = 'x';
    EXPECT_EQ(messageFor(damaged), "Invalid HEIF file: Invalid input: No 'meta' box");
}

TEST(HeifDamaged, ACodedPictureOfAnotherSizeThanTheHeaderIsRefused) {
    // Found by fuzzing: an AVIF whose header declares another height than the AV1 stream has.
    auto file = encodeQuadrants(heif_compression_AV1, heif_orientation_normal, false);
    if (!file) {
        GTEST_SKIP() << "libheif has no AV1 encoder here (Debian's libheif1 with libaom)";
    }
    // The image spatial extents property: "ispe", version and flags, width, height.
    const std::string tag = "ispe";
    const auto found = std::search(file->begin(), file->end(), tag.begin(), tag.end());
    ASSERT_NE(found, file->end());
    const auto height = found + 12;
    height[0] = 0;
    height[1] = 0;
    height[2] = 0x08;
    height[3] = 0x30;  // 2096
    EXPECT_EQ(readHeifHeader(*file).height, 2096);
    EXPECT_EQ(messageFor(*file),
              "Invalid HEIF file: the coded picture is 64 x 32 pixels, not "
              "the 64 x 2096 its header declares");
}

}  // namespace
}  // namespace tz
