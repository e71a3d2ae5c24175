// PNG reading and writing: files of every colour type and depth built here, hostile files, round
// trips and an independent decoder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "support/picture_builders.h"
#include "support/pixel_printers.h"
#include "support/support.h"
#include "tz/errors.h"
#include "tz/png.h"

namespace tz {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// ---- Building PNG files ----------------------------------------------------------------------

constexpr int kGray = 0;
constexpr int kRgb = 2;
constexpr int kPalette = 3;
constexpr int kGrayAlpha = 4;
constexpr int kRgbAlpha = 6;

int channelsOf(int colorType) {
    switch (colorType) {
        case kRgb:
            return 3;
        case kGrayAlpha:
            return 2;
        case kRgbAlpha:
            return 4;
        default:
            return 1;
    }
}

void appendU32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void appendChunk(Bytes& out, const char* type, const Bytes& data) {
    appendU32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    appendU32(out, static_cast<std::uint32_t>(
                       crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
}

Bytes deflated(const Bytes& raw) {
    uLongf length = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(length);
    EXPECT_EQ(compress2(out.data(), &length, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
    out.resize(length);
    return out;
}

// What to build: samples are width × height × channels values of the bit depth, row by row.
struct PngFields {
    int width = 1;
    int height = 1;
    int bitDepth = 8;
    int colorType = kRgb;
    bool interlaced = false;
    std::vector<std::uint16_t> samples;
    std::vector<Rgb> palette;
    Bytes transparency;  // the tRNS chunk's data
    Bytes iccProfile;    // stored in an iCCP chunk, compressed
};

// Packs the samples of the given pixels of one row, most significant bits first.
void appendPackedRow(Bytes& out, const PngFields& fields, int y, int firstX, int stepX) {
    const int channels = channelsOf(fields.colorType);
    unsigned bits = 0;
    int count = 0;
    for (int x = firstX; x < fields.width; x += stepX) {
        for (int c = 0; c < channels; ++c) {
            const std::uint16_t value =
                fields.samples[static_cast<std::size_t>((y * fields.width + x) * channels + c)];
            if (fields.bitDepth == 16) {
                out.push_back(static_cast<std::uint8_t>(value >> 8));
                out.push_back(static_cast<std::uint8_t>(value));
                continue;
            }
            bits = (bits << fields.bitDepth) | value;
            count += fields.bitDepth;
            if (count == 8) {
                out.push_back(static_cast<std::uint8_t>(bits));
                bits = 0;
                count = 0;
            }
        }
    }
    if (count > 0) {
        out.push_back(static_cast<std::uint8_t>(bits << (8 - count)));
    }
}

// The filtered scanlines (filter type 0), in Adam7 passes when interlaced.
Bytes scanlines(const PngFields& fields) {
    struct Pass {
        int x0, y0, dx, dy;
    };
    const std::vector<Pass> passes =
        fields.interlaced
            ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
            : std::vector<Pass>{{0, 0, 1, 1}};
    Bytes raw;
    for (const Pass& pass : passes) {
        if (pass.x0 >= fields.width) {
            continue;  // an empty pass has no rows at all
        }
        for (int y = pass.y0; y < fields.height; y += pass.dy) {
            raw.push_back(0);
            appendPackedRow(raw, fields, y, pass.x0, pass.dx);
        }
    }
    return raw;
}

Bytes header(int width, int height, int bitDepth, int colorType, bool interlaced) {
    Bytes ihdr;
    appendU32(ihdr, static_cast<std::uint32_t>(width));
    appendU32(ihdr, static_cast<std::uint32_t>(height));
    ihdr.push_back(static_cast<std::uint8_t>(bitDepth));
    ihdr.push_back(static_cast<std::uint8_t>(colorType));
    ihdr.push_back(0);
    ihdr.push_back(0);
    ihdr.push_back(interlaced ? 1 : 0);
    return ihdr;
}

const Bytes kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

Bytes buildPng(const PngFields& fields) {
    Bytes file = kSignature;
    appendChunk(
        file, "IHDR",
        header(fields.width, fields.height, fields.bitDepth, fields.colorType, fields.interlaced));
    if (!fields.iccProfile.empty()) {
        Bytes iccp = {'I', 'C', 'C', ' ', 'p', 'r', 'o', 'f', 'i', 'l', 'e', 0, 0};
        const Bytes compressed = deflated(fields.iccProfile);
        iccp.insert(iccp.end(), compressed.begin(), compressed.end());
        appendChunk(file, "iCCP", iccp);
    }
    if (!fields.palette.empty()) {
        Bytes plte;
        for (const Rgb& c : fields.palette) {
            plte.insert(plte.end(), {c.red, c.green, c.blue});
        }
        appendChunk(file, "PLTE", plte);
    }
    if (!fields.transparency.empty()) {
        appendChunk(file, "tRNS", fields.transparency);
    }
    appendChunk(file, "IDAT", deflated(scanlines(fields)));
    appendChunk(file, "IEND", {});
    return file;
}

// A sound ICC profile for RGB data: a 132-byte header (size field, 'acsp', D50) with no tags,
// then 300 bytes of varied data, as real profiles carry (libpng ignores iCCP chunks shorter than
// 92 bytes, which only a profile that compresses to almost nothing would make).
Bytes rgbProfile(const char* colorSpace = "RGB ") {
    constexpr std::size_t kSize = 432;
    Bytes profile(kSize, 0);
    profile[2] = kSize >> 8;
    profile[3] = kSize & 0xFF;
    const auto put = [&](std::size_t at, const char* text) {
        for (int i = 0; i < 4; ++i) {
            profile[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(text[i]);
        }
    };
    profile[8] = 2;  // version 2.1
    profile[9] = 0x10;
    put(12, "mntr");
    put(16, colorSpace);
    put(20, "XYZ ");
    put(36, "acsp");
    const Bytes illuminant = {0x00, 0x00, 0xF6, 0xD6, 0x00, 0x01,
                              0x00, 0x00, 0x00, 0x00, 0xD3, 0x2D};
    std::copy(illuminant.begin(), illuminant.end(), profile.begin() + 68);
    for (std::size_t i = 132; i < kSize; ++i) {
        profile[i] = static_cast<std::uint8_t>((i * 2654435761u) >> 13);
    }
    return profile;
}

// ---- Every colour type and depth ---------------------------------------------------------------

// A sample value the depth can hold, varied over the picture.
std::uint16_t sampleAt(int x, int y, int c, int bitDepth) {
    const std::uint32_t mixed = static_cast<std::uint32_t>(x * 7919 + y * 104729 + c * 15485863);
    const std::uint32_t scrambled = (mixed * 2654435761u) >> 7;
    return static_cast<std::uint16_t>(scrambled & ((1u << bitDepth) - 1));
}

// A sample of the depth as 8 bits: the depth's levels spread over 0 … 255, 16 bits rounded.
std::uint8_t to8Bits(std::uint16_t value, int bitDepth) {
    switch (bitDepth) {
        case 1:
            return static_cast<std::uint8_t>(value * 255);
        case 2:
            return static_cast<std::uint8_t>(value * 85);
        case 4:
            return static_cast<std::uint8_t>(value * 17);
        case 8:
            return static_cast<std::uint8_t>(value);
        default:
            return static_cast<std::uint8_t>((value + 128) / 257);  // round(v / 257), no ties
    }
}

// The picture of a PNG file as readPngPicture's rows give it, rows from `first` on (those above
// white); nothing when it gives no rows. Throws as reading does.
std::optional<Bitmap> pictureFromRows(const Bytes& file, int first = 0) {
    const test::TempDir folder;
    test::writeFile(folder / "a.png", file);
    const PngPicture png = readPngPicture(folder / "a.png");
    if (!png.rows) {
        return std::nullopt;
    }
    return test::readRows(*png.rows, first);
}

struct ColorTypeRow {
    const char* description;
    int colorType;
    int bitDepth;
    bool transparency;  // a tRNS chunk
};

void PrintTo(const ColorTypeRow& row, std::ostream* out) {
    *out << row.description;
}

class PngColorType : public ::testing::TestWithParam<std::tuple<ColorTypeRow, bool>> {};

TEST_P(PngColorType, DecodesEveryPixelAsTheFormatDefines) {
    const auto& [row, interlaced] = GetParam();
    PngFields fields;
    fields.width = 11;  // odd sizes leave Adam7 passes partly empty and rows with spare bits
    fields.height = 7;
    fields.bitDepth = row.bitDepth;
    fields.colorType = row.colorType;
    fields.interlaced = interlaced;
    const int channels = channelsOf(row.colorType);
    const int paletteSize = row.colorType == kPalette ? std::min(1 << row.bitDepth, 200) : 0;
    for (int i = 0; i < paletteSize; ++i) {
        fields.palette.push_back(Rgb{static_cast<std::uint8_t>(i * 37),
                                     static_cast<std::uint8_t>(i),
                                     static_cast<std::uint8_t>(255 - i * 3)});
    }
    for (int y = 0; y < fields.height; ++y) {
        for (int x = 0; x < fields.width; ++x) {
            for (int c = 0; c < channels; ++c) {
                const std::uint16_t value = sampleAt(x, y, c, row.bitDepth);
                fields.samples.push_back(paletteSize > 0 ? value % paletteSize : value);
            }
        }
    }
    // Transparency: palette entries 0 and 1 at alpha 0 and 100; a grey or colour key equal to
    // pixel (1, 0).
    const auto keyAt = [&](int c) {
        return fields.samples[static_cast<std::size_t>(channels + c)];
    };
    if (row.transparency) {
        if (row.colorType == kPalette) {
            fields.transparency = {0, 100};
        } else {
            for (int c = 0; c < channels; ++c) {
                fields.transparency.push_back(static_cast<std::uint8_t>(keyAt(c) >> 8));
                fields.transparency.push_back(static_cast<std::uint8_t>(keyAt(c)));
            }
        }
    }
    const DecodedPicture picture = decodePng(buildPng(fields));

    const bool alpha = (row.colorType & 4) != 0 || row.transparency;
    ASSERT_EQ(picture.bitmap.format(), alpha ? PixelFormat::Bits32 : PixelFormat::Bits24);
    ASSERT_EQ(picture.bitmap.width(), fields.width);
    ASSERT_EQ(picture.bitmap.height(), fields.height);
    EXPECT_TRUE(picture.lossless);
    EXPECT_TRUE(picture.iccProfile.empty());
    int keyed = 0;
    for (int y = 0; y < fields.height; ++y) {
        for (int x = 0; x < fields.width; ++x) {
            const auto sample = [&](int c) {
                return fields
                    .samples[static_cast<std::size_t>((y * fields.width + x) * channels + c)];
            };
            Rgba expected;
            if (row.colorType == kPalette) {
                const std::uint16_t index = sample(0);
                const Rgb c = fields.palette[index];
                const std::uint8_t a =
                    index < fields.transparency.size() ? fields.transparency[index] : 255;
                expected = Rgba{c.red, c.green, c.blue, a};
            } else if ((row.colorType & 2) == 0) {
                const std::uint8_t g = to8Bits(sample(0), row.bitDepth);
                const std::uint8_t a =
                    row.colorType == kGrayAlpha ? to8Bits(sample(1), row.bitDepth) : 255;
                expected = Rgba{g, g, g, a};
            } else {
                const std::uint8_t a =
                    row.colorType == kRgbAlpha ? to8Bits(sample(3), row.bitDepth) : 255;
                expected = Rgba{to8Bits(sample(0), row.bitDepth), to8Bits(sample(1), row.bitDepth),
                                to8Bits(sample(2), row.bitDepth), a};
            }
            if (row.transparency && row.colorType != kPalette) {
                bool matches = true;
                for (int c = 0; c < channels; ++c) {
                    matches = matches && sample(c) == keyAt(c);
                }
                if (matches) {
                    expected.alpha = 0;
                    ++keyed;
                }
            }
            ASSERT_EQ(picture.bitmap.rgba(x, y), expected) << "pixel " << x << ", " << y;
        }
    }
    if (row.transparency && row.colorType != kPalette) {
        EXPECT_GE(keyed, 1);
    }
    // Read as rows: the same pixels, from the top or from part-way; pictures with alpha and
    // interlaced ones give none.
    for (const int first : {0, 3}) {
        const std::optional<Bitmap> rows = pictureFromRows(buildPng(fields), first);
        ASSERT_EQ(rows.has_value(), !alpha && !interlaced);
        if (rows) {
            EXPECT_EQ(*rows, test::whiteAbove(picture.bitmap, first)) << "rows from " << first;
        }
    }
    const PictureHeader header = readPngHeader(buildPng(fields));
    EXPECT_EQ(header.width, fields.width);
    EXPECT_EQ(header.height, fields.height);
    EXPECT_EQ(header.alpha, alpha);
}

std::string colorTypeName(const ::testing::TestParamInfo<std::tuple<ColorTypeRow, bool>>& info) {
    std::string name = std::get<0>(info.param).description;
    name += std::get<1>(info.param) ? "Interlaced" : "";
    return name;
}

INSTANTIATE_TEST_SUITE_P(
    AllTypes, PngColorType,
    ::testing::Combine(::testing::Values(ColorTypeRow{"Gray1", kGray, 1, false},
                                         ColorTypeRow{"Gray2", kGray, 2, false},
                                         ColorTypeRow{"Gray4", kGray, 4, false},
                                         ColorTypeRow{"Gray8", kGray, 8, false},
                                         ColorTypeRow{"Gray16", kGray, 16, false},
                                         ColorTypeRow{"Rgb8", kRgb, 8, false},
                                         ColorTypeRow{"Rgb16", kRgb, 16, false},
                                         ColorTypeRow{"Palette1", kPalette, 1, false},
                                         ColorTypeRow{"Palette2", kPalette, 2, false},
                                         ColorTypeRow{"Palette4", kPalette, 4, false},
                                         ColorTypeRow{"Palette8", kPalette, 8, false},
                                         ColorTypeRow{"GrayAlpha8", kGrayAlpha, 8, false},
                                         ColorTypeRow{"GrayAlpha16", kGrayAlpha, 16, false},
                                         ColorTypeRow{"RgbAlpha8", kRgbAlpha, 8, false},
                                         ColorTypeRow{"RgbAlpha16", kRgbAlpha, 16, false},
                                         ColorTypeRow{"Palette2WithTrns", kPalette, 2, true},
                                         ColorTypeRow{"Palette8WithTrns", kPalette, 8, true},
                                         ColorTypeRow{"Gray4WithTrns", kGray, 4, true},
                                         ColorTypeRow{"Gray16WithTrns", kGray, 16, true},
                                         ColorTypeRow{"Rgb8WithTrns", kRgb, 8, true},
                                         ColorTypeRow{"Rgb16WithTrns", kRgb, 16, true}),
                       ::testing::Bool()),
    colorTypeName);

TEST(PngReader, SixteenBitSamplesRoundToTheNearestEightBitLevel) {
    // Every 16-bit value once; v · 255 / 65535 = v / 257 never ends in a half.
    PngFields fields;
    fields.width = 256;
    fields.height = 256;
    fields.bitDepth = 16;
    fields.colorType = kGray;
    for (int v = 0; v < 65536; ++v) {
        fields.samples.push_back(static_cast<std::uint16_t>(v));
    }
    const DecodedPicture picture = decodePng(buildPng(fields));
    for (int v = 0; v < 65536; ++v) {
        ASSERT_EQ(picture.bitmap.rgba(v % 256, v / 256).green, (v + 128) / 257) << "value " << v;
    }
    // Where rounding and truncation (v >> 8) part: 128 → 0.498, 129 → 0.502, 32767 → 127.498,
    // 32896 → 128.0, 65406 → 254.498 and 65407 → 254.502 (both 255 when truncated).
    EXPECT_EQ(picture.bitmap.rgba(128, 0).green, 0);
    EXPECT_EQ(picture.bitmap.rgba(129, 0).green, 1);
    EXPECT_EQ(picture.bitmap.rgba(32767 % 256, 32767 / 256).green, 127);
    EXPECT_EQ(picture.bitmap.rgba(32896 % 256, 32896 / 256).green, 128);
    EXPECT_EQ(picture.bitmap.rgba(65406 % 256, 65406 / 256).green, 254);
    EXPECT_EQ(picture.bitmap.rgba(65407 % 256, 65407 / 256).green, 255);
    EXPECT_EQ(picture.bitmap.rgba(255, 255).green, 255);
}

TEST(PngReader, ReturnsTheEmbeddedIccProfile) {
    PngFields fields;
    fields.samples = {1, 2, 3};
    fields.iccProfile = rgbProfile();
    const DecodedPicture picture = decodePng(buildPng(fields));
    EXPECT_EQ(picture.iccProfile, fields.iccProfile);
    EXPECT_EQ(picture.bitmap.color(0, 0), (Rgb{1, 2, 3}));
}

TEST(PngReader, StopsAfterTheImageData) {
    // Without IEND, and with junk after the image data: the picture is whole, so it loads.
    PngFields fields;
    fields.samples = {10, 20, 30};
    Bytes file = buildPng(fields);
    file.resize(file.size() - 12);
    file.insert(file.end(), {1, 2, 3});
    EXPECT_EQ(decodePng(file).bitmap.color(0, 0), (Rgb{10, 20, 30}));
}

TEST(PngReader, LoadsAFileAndNamesAMissingOne) {
    test::TempDir dir;
    PngFields fields;
    fields.samples = {10, 20, 30};
    test::writeFile(dir / "a.png", buildPng(fields));
    EXPECT_EQ(loadPngFile(dir / "a.png").bitmap.color(0, 0), (Rgb{10, 20, 30}));
    try {
        loadPngFile(dir / "missing.png");
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_THAT(error.what(), HasSubstr("missing.png"));
    }
}

// ---- Hostile and damaged files -----------------------------------------------------------------

Bytes smallPng() {
    PngFields fields;
    fields.width = 16;
    fields.height = 16;
    fields.colorType = kRgb;
    for (int i = 0; i < 16 * 16 * 3; ++i) {
        fields.samples.push_back(static_cast<std::uint16_t>(i * 31 % 256));
    }
    return buildPng(fields);
}

// Offset of the first byte of a chunk's data.
std::size_t chunkData(const Bytes& file, const char* type) {
    std::size_t at = 8;
    while (at + 8 <= file.size()) {
        const std::size_t length = (std::size_t{file[at]} << 24) |
                                   (std::size_t{file[at + 1]} << 16) |
                                   (std::size_t{file[at + 2]} << 8) | file[at + 3];
        if (std::equal(type, type + 4, file.begin() + static_cast<std::ptrdiff_t>(at + 4))) {
            return at + 8;
        }
        at += 12 + length;
    }
    return file.size();
}

Bytes withChunk(const char* type, const Bytes& data, const Bytes& rest = {}) {
    Bytes file = kSignature;
    appendChunk(file, type, data);
    file.insert(file.end(), rest.begin(), rest.end());
    return file;
}

// The IDAT and IEND chunks of a 1 × 1 RGB picture.
Bytes tailOfOnePixel() {
    Bytes tail;
    appendChunk(tail, "IDAT", deflated({0, 1, 2, 3}));
    appendChunk(tail, "IEND", {});
    return tail;
}

struct DamagedFile {
    const char* description;
    Bytes (*make)();
    const char* message;
};

void PrintTo(const DamagedFile& row, std::ostream* out) {
    *out << row.description;
}

class PngDamaged : public ::testing::TestWithParam<DamagedFile> {};

// Also read as rows, when the file gives any: the damage is met on the way.
TEST_P(PngDamaged, IsRefusedWithAMessageNamingTheProblem) {
    const Bytes file = GetParam().make();
    try {
        decodePng(file);
        ADD_FAILURE() << "no error";
    } catch (const PngError& error) {
        EXPECT_STREQ(error.what(), GetParam().message);
    }
    try {
        if (pictureFromRows(file)) {
            ADD_FAILURE() << "no error from the rows";
        }
    } catch (const PngError& error) {
        EXPECT_STREQ(error.what(), GetParam().message);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, PngDamaged,
    ::testing::Values(
        DamagedFile{"empty", [] { return Bytes{}; }, "Not a PNG file"},
        DamagedFile{"a JPEG",
                    [] { return Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F'}; },
                    "Not a PNG file"},
        DamagedFile{"signature cut short",
                    [] { return Bytes(kSignature.begin(), kSignature.begin() + 5); },
                    "PNG file truncated"},
        DamagedFile{"cut inside the header",
                    [] {
                        Bytes file = smallPng();
                        file.resize(20);
                        return file;
                    },
                    "PNG file truncated"},
        DamagedFile{"cut inside the image data",
                    [] {
                        Bytes file = smallPng();
                        file.resize(chunkData(file, "IDAT") + 40);
                        return file;
                    },
                    "PNG file truncated"},
        DamagedFile{"header checksum wrong",
                    [] {
                        Bytes file = smallPng();
                        file[chunkData(file, "IHDR") + 13] ^= 0x55;
                        return file;
                    },
                    "Invalid PNG file: IHDR: CRC error"},
        DamagedFile{
            "width 0",
            [] { return withChunk("IHDR", header(0, 1, 8, kRgb, false), tailOfOnePixel()); },
            "Invalid PNG file: Invalid IHDR data"},
        DamagedFile{
            "bit depth 3",
            [] { return withChunk("IHDR", header(1, 1, 3, kGray, false), tailOfOnePixel()); },
            "Invalid PNG file: Invalid IHDR data"},
        DamagedFile{
            "palette picture without a palette",
            [] { return withChunk("IHDR", header(1, 1, 8, kPalette, false), tailOfOnePixel()); },
            "Invalid PNG file: IDAT: Missing PLTE before IDAT"},
        DamagedFile{"zlib header damaged",
                    [] {
                        Bytes file = withChunk("IHDR", header(1, 1, 8, kRgb, false));
                        appendChunk(file, "IDAT", {0x00, 0x00, 0x01, 0x02});
                        appendChunk(file, "IEND", {});
                        return file;
                    },
                    "Invalid PNG file: IDAT: unknown compression method"},
        DamagedFile{"image data ends before the last row",
                    [] {
                        Bytes file = withChunk("IHDR", header(4, 4, 8, kRgb, false));
                        appendChunk(file, "IDAT", deflated(Bytes(13, 0)));
                        appendChunk(file, "IEND", {});
                        return file;
                    },
                    "Invalid PNG file: Not enough image data"},
        DamagedFile{"a gigapixel in a tiny file",
                    [] {
                        return withChunk("IHDR", header(100000, 100000, 8, kRgbAlpha, false),
                                         tailOfOnePixel());
                    },
                    "PNG file truncated"}));

TEST(PngReader, AHugeDeclaredSizeIsRefusedBeforeAnythingIsAllocated) {
    // 1-bit grey, 900000 × 900000: the file would need at least 98 MB of pixels' worth of
    // compressed data to hold it.
    const Bytes file = withChunk("IHDR", header(900000, 900000, 1, kGray, false), tailOfOnePixel());
    EXPECT_THROW(decodePng(file), PngError);
    EXPECT_EQ(readPngHeader(file).width, 900000);
}

// ---- Writing ---------------------------------------------------------------------------------

Bitmap pattern(int width, int height, PixelFormat format) {
    Bitmap bitmap(width, height, format);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setRgba(
                x, y,
                Rgba{static_cast<std::uint8_t>(x * 23 + y), static_cast<std::uint8_t>(y * 41),
                     static_cast<std::uint8_t>(x * y), static_cast<std::uint8_t>(x * 9 + y * 5)});
        }
    }
    return bitmap;
}

TEST(PngWriter, RoundTripsTwentyFourAndThirtyTwoBitPicturesExactly) {
    for (const PixelFormat format : {PixelFormat::Bits24, PixelFormat::Bits32}) {
        const Bitmap bitmap = pattern(37, 19, format);
        const DecodedPicture back = decodePng(encodePng(bitmap));
        EXPECT_EQ(back.bitmap, bitmap);
        EXPECT_TRUE(back.iccProfile.empty());
    }
}

// Image data of several mebibytes is deflated in parts, each primed with the data before it:
// the file still decodes to every pixel, and its bytes do not depend on the threads used.
TEST(PngWriter, ImageDataInSeveralPartsDecodesExactlyWhateverTheThreads) {
    for (const PixelFormat format : {PixelFormat::Bits24, PixelFormat::Bits32}) {
        const Bitmap bitmap = pattern(1100, 900, format);  // 3 to 4 MB of rows: 3 or 4 parts
        const std::vector<std::uint8_t> alone = encodePng(bitmap, {}, 1);
        EXPECT_EQ(encodePng(bitmap, {}, 4), alone);
        EXPECT_EQ(encodePng(bitmap, {}, 2), alone);
        EXPECT_EQ(decodePng(alone).bitmap, bitmap);
    }
}

TEST(PngWriter, WritesIndexedPicturesAsTwentyFourBits) {
    Bitmap bitmap(3, 1, PixelFormat::Bits4, {Rgb{1, 2, 3}, Rgb{200, 100, 50}});
    bitmap.setIndex(0, 0, 1);
    bitmap.setIndex(1, 0, 0);
    bitmap.setIndex(2, 0, 9);  // outside the table: black
    const DecodedPicture back = decodePng(encodePng(bitmap));
    EXPECT_EQ(back.bitmap, bitmap.to24());
}

TEST(PngWriter, EmbedsASoundProfileAndLeavesOutOneForGrey) {
    const Bitmap bitmap = pattern(4, 4, PixelFormat::Bits24);
    const Bytes profile = rgbProfile();
    EXPECT_EQ(decodePng(encodePng(bitmap, profile)).iccProfile, profile);
    EXPECT_TRUE(decodePng(encodePng(bitmap, rgbProfile("GRAY"))).iccProfile.empty());
    EXPECT_TRUE(decodePng(encodePng(bitmap, Bytes{1, 2, 3})).iccProfile.empty());
}

TEST(PngWriter, RefusesAnEmptyPicture) {
    EXPECT_THROW(encodePng(Bitmap()), PngError);
}

// ---- An independent decoder --------------------------------------------------------------------

constexpr const char* kPythonDecoder = R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
print(im.mode, im.size[0], im.size[1], len(im.info.get('icc_profile') or b''))
print(im.tobytes().hex())
)";

std::optional<std::string> decodeWithPillow(const std::filesystem::path& file,
                                            const test::TempDir& dir) {
    if (!std::filesystem::exists("/usr/bin/python3")) {
        return std::nullopt;
    }
    const auto script = dir / "decode.py";
    {
        std::ofstream out(script);
        out << kPythonDecoder;
    }
    const std::string command =
        "/usr/bin/python3 '" + script.string() + "' '" + file.string() + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return std::nullopt;
    }
    std::string output;
    std::array<char, 65536> buffer{};
    while (const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe.get())) {
        output.append(buffer.data(), n);
    }
    if (pclose(pipe.release()) != 0 || output.empty()) {
        return std::nullopt;
    }
    return output;
}

// The bitmap's pixels in red, green, blue (and alpha) order, as hexadecimal text.
std::string hexRgb(const Bitmap& bitmap) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    const auto put = [&](std::uint8_t b) {
        out += digits[b >> 4];
        out += digits[b & 15];
    };
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            const Rgba c = bitmap.rgba(x, y);
            put(c.red);
            put(c.green);
            put(c.blue);
            if (bitmap.format() == PixelFormat::Bits32) {
                put(c.alpha);
            }
        }
    }
    return out;
}

TEST(PngIndependentDecoder, PillowReadsTheWrittenPixelsAndProfile) {
    test::TempDir dir;
    for (const PixelFormat format : {PixelFormat::Bits24, PixelFormat::Bits32}) {
        // A small picture, and one whose image data is deflated in several parts.
        for (const auto& [width, height] : {std::pair{23, 11}, std::pair{700, 700}}) {
            const Bitmap bitmap = pattern(width, height, format);
            const auto file = dir / "out.png";
            test::writeFile(file, encodePng(bitmap, rgbProfile(), 2));
            const auto decoded = decodeWithPillow(file, dir);
            if (!decoded) {
                GTEST_SKIP() << "Debian's Pillow (/usr/bin/python3 with PIL) is not available";
            }
            const std::string mode = format == PixelFormat::Bits32 ? "RGBA" : "RGB";
            EXPECT_EQ(*decoded, mode + " " + std::to_string(width) + " " + std::to_string(height) +
                                    " 432\n" + hexRgb(bitmap) + "\n");
        }
    }
}

}  // namespace
}  // namespace tz
