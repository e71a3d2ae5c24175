// BMP reading and writing: built files of every depth, hostile headers, the real-world corpus.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "support/corpus.h"
#include "support/picture_builders.h"
#include "support/pixel_printers.h"
#include "support/support.h"
#include "tz/bmp.h"
#include "tz/errors.h"

namespace tz {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::HasSubstr;

using test::BmpFields;  // BMP files built field by field
using test::buildBmp;
using test::putU32;

// The message of the error decoding throws, or "" when the file loads.
std::string decodeError(const Bytes& bytes) {
    try {
        decodeBmp(bytes);
    } catch (const Error& error) {
        return error.what();
    }
    return "";
}

// All colours, row by row from the top.
std::vector<Rgb> colors(const Bitmap& bitmap) {
    std::vector<Rgb> result;
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            result.push_back(bitmap.color(x, y));
        }
    }
    return result;
}

std::vector<int> indices(const Bitmap& bitmap) {
    std::vector<int> result;
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            result.push_back(bitmap.index(x, y));
        }
    }
    return result;
}

std::vector<Rgb> greys(int count) {
    std::vector<Rgb> table;
    for (int i = 0; i < count; ++i) {
        const auto level = static_cast<std::uint8_t>(i * 16);
        table.push_back({level, level, level});
    }
    return table;
}

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};

// ---- Uncompressed pictures of every depth ----------------------------------------------------

TEST(BmpDecode, OneBitRowsAreStoredBottomUp) {
    BmpFields f;
    f.width = 3;
    f.height = 2;
    f.bitCount = 1;
    f.palette = {kRed, kBlue};
    f.pixels = {0b1010'0000, 0, 0, 0,   // bottom row: 1 0 1
                0b0100'0000, 0, 0, 0};  // top row: 0 1 0
    const Bitmap bitmap = decodeBmp(buildBmp(f));
    EXPECT_EQ(bitmap.format(), PixelFormat::Bits1);
    EXPECT_EQ(bitmap.colorTable(), (std::vector<Rgb>{kRed, kBlue}));
    EXPECT_EQ(colors(bitmap), (std::vector<Rgb>{kRed, kBlue, kRed, kBlue, kRed, kBlue}));
}

TEST(BmpDecode, TwoBitIndicesWidenToFourBits) {
    BmpFields f;
    f.width = 5;
    f.bitCount = 2;
    f.palette = greys(4);
    f.pixels = {0b00'01'10'11, 0b10'000000, 0, 0};
    const Bitmap bitmap = decodeBmp(buildBmp(f));
    EXPECT_EQ(bitmap.format(), PixelFormat::Bits4);
    EXPECT_EQ(indices(bitmap), (std::vector<int>{0, 1, 2, 3, 2}));
}

TEST(BmpDecode, FourBitOddWidthKeepsTheDeclaredColorCount) {
    BmpFields f;
    f.width = 3;
    f.bitCount = 4;
    f.colorsUsed = 4;
    f.palette = greys(4);
    f.pixels = {0x12, 0x30, 0, 0};
    const Bitmap bitmap = decodeBmp(buildBmp(f));
    EXPECT_EQ(bitmap.format(), PixelFormat::Bits4);
    EXPECT_EQ(bitmap.colorTable().size(), 4u);
    EXPECT_EQ(indices(bitmap), (std::vector<int>{1, 2, 3}));
}

TEST(BmpDecode, EightBitIndexBeyondAShortPaletteIsBlack) {
    BmpFields f;
    f.width = 2;
    f.bitCount = 8;
    f.colorsUsed = 2;
    f.palette = {kGreen, kWhite};
    f.pixels = {1, 5, 0, 0};
    const Bitmap bitmap = decodeBmp(buildBmp(f));
    EXPECT_EQ(bitmap.format(), PixelFormat::Bits8);
    EXPECT_EQ(bitmap.colorTable().size(), 2u);
    EXPECT_EQ(bitmap.index(1, 0), 5);
    EXPECT_EQ(colors(bitmap), (std::vector<Rgb>{kWhite, kBlack}));
}

TEST(BmpDecode, TwentyFourBitPixelsAreBlueGreenRed) {
    BmpFields f;
    f.width = 2;
    f.height = 2;
    f.pixels = {1, 2, 3, 4,  5,  6,  0, 0,   // bottom row
                7, 8, 9, 10, 11, 12, 0, 0};  // top row
    const Bitmap bitmap = decodeBmp(buildBmp(f));
    EXPECT_EQ(bitmap.format(), PixelFormat::Bits24);
    EXPECT_EQ(colors(bitmap), (std::vector<Rgb>{{9, 8, 7}, {12, 11, 10}, {3, 2, 1}, {6, 5, 4}}));
}

TEST(BmpDecode, NegativeHeightStoresRowsTopDown) {
    BmpFields f;
    f.width = 1;
    f.height = -2;
    f.bitCount = 8;
    f.palette = {kRed, kGreen};
    f.pixels = {0, 0, 0, 0, 1, 0, 0, 0};
    EXPECT_EQ(colors(decodeBmp(buildBmp(f))), (std::vector<Rgb>{kRed, kGreen}));
}

// 5-bit values scale to 8 bits by rounding v * 255 / 31: 31 -> 255, 16 -> 131.6 -> 132.
TEST(BmpDecode, SixteenBitDefaultIsFiveFiveFiveWithTheTopBitIgnored) {
    BmpFields f;
    f.width = 4;
    f.bitCount = 16;
    f.pixels = {0xFF, 0x7F, 0x00, 0x7C, 0x10, 0xC2, 0x1F, 0x00};
    const Bitmap bitmap = decodeBmp(buildBmp(f));
    EXPECT_EQ(bitmap.format(), PixelFormat::Bits24);
    EXPECT_EQ(colors(bitmap), (std::vector<Rgb>{kWhite, kRed, {132, 132, 132}, kBlue}));
}

// 6-bit green 32 -> 32 * 255 / 63 = 129.5 -> 130.
TEST(BmpDecode, SixteenBitFiveSixFiveMasksFollowA40ByteHeader) {
    BmpFields f;
    f.width = 3;
    f.bitCount = 16;
    f.compression = 3;
    f.masks = {0xF800, 0x07E0, 0x001F};
    f.pixels = {0x00, 0xF8, 0x00, 0x04, 0x1F, 0x00, 0, 0};
    EXPECT_EQ(colors(decodeBmp(buildBmp(f))), (std::vector<Rgb>{kRed, {0, 130, 0}, kBlue}));
}

// Masks 2-3-1 inside a 56-byte header: red 1 of 3 -> 85, green 3 of 7 -> 109.3 -> 109, blue 1 ->
// 255.
TEST(BmpDecode, NarrowMasksInsideTheHeaderScaleToFullRange) {
    BmpFields f;
    f.headerSize = 56;
    f.bitCount = 16;
    f.compression = 3;
    f.masks = {0x30, 0x0E, 0x01};
    f.pixels = {0x17, 0x00, 0, 0};
    EXPECT_EQ(colors(decodeBmp(buildBmp(f))), (std::vector<Rgb>{{85, 109, 255}}));
}

TEST(BmpDecode, ThirtyTwoBitDefaultIgnoresTheFourthByte) {
    BmpFields f;
    f.width = 2;
    f.bitCount = 32;
    f.pixels = {10, 20, 30, 0xFF, 40, 50, 60, 0x00};
    EXPECT_EQ(colors(decodeBmp(buildBmp(f))), (std::vector<Rgb>{{30, 20, 10}, {60, 50, 40}}));
}

// 10-bit channels: 1023 -> 255, 512 -> 127.6 -> 128.
TEST(BmpDecode, ThirtyTwoBitTenBitMasksInAVersion4Header) {
    BmpFields f;
    f.headerSize = 108;
    f.bitCount = 32;
    f.compression = 3;
    f.masks = {0x3FF00000, 0x000FFC00, 0x000003FF};
    f.pixels = {0x00, 0x00, 0xF8, 0x3F};
    EXPECT_EQ(colors(decodeBmp(buildBmp(f))), (std::vector<Rgb>{{255, 128, 0}}));
}

TEST(BmpDecode, AlphaBitFieldsIgnoreTheAlphaMask) {
    BmpFields f;
    f.bitCount = 32;
    f.compression = 6;
    f.masks = {0x0000FF00, 0x00FF0000, 0xFF000000, 0x000000FF};
    f.pixels = {0x80, 1, 2, 3};
    EXPECT_EQ(colors(decodeBmp(buildBmp(f))), (std::vector<Rgb>{{1, 2, 3}}));
}

TEST(BmpDecode, MasksOfAnUncompressedVersion5HeaderAreIgnored) {
    BmpFields f;
    f.headerSize = 124;
    f.bitCount = 32;
    f.masks = {0x12345678, 0x0F0F0F0F, 0x00000001};
    f.pixels = {10, 20, 30, 40};
    EXPECT_EQ(colors(decodeBmp(buildBmp(f))), (std::vector<Rgb>{{30, 20, 10}}));
}

TEST(BmpDecode, EmptyMaskGivesAZeroChannel) {
    BmpFields f;
    f.bitCount = 16;
    f.compression = 3;
    f.masks = {0xFF00, 0x00FF, 0};
    f.pixels = {0x40, 0xFF, 0, 0};
    EXPECT_EQ(colors(decodeBmp(buildBmp(f))), (std::vector<Rgb>{{255, 64, 0}}));
}

TEST(BmpDecode, Os2CoreHeaderHasThreeBytePaletteEntries) {
    BmpFields f;
    f.headerSize = 12;
    f.width = 2;
    f.bitCount = 1;
    f.palette = {kGreen, kBlue};
    f.pixels = {0b1000'0000, 0, 0, 0};
    const Bitmap bitmap = decodeBmp(buildBmp(f));
    EXPECT_EQ(bitmap.colorTable(), (std::vector<Rgb>{kGreen, kBlue}));
    EXPECT_EQ(colors(bitmap), (std::vector<Rgb>{kBlue, kGreen}));
}

TEST(BmpDecode, Os2PaletteLengthComesFromThePixelOffset) {
    BmpFields f;
    f.headerSize = 12;
    f.bitCount = 8;
    f.palette = {kRed, kGreen, kBlue};
    f.pixels = {2, 0, 0, 0};
    const Bitmap bitmap = decodeBmp(buildBmp(f));
    EXPECT_EQ(bitmap.colorTable().size(), 3u);
    EXPECT_EQ(bitmap.color(0, 0), kBlue);
}

TEST(BmpDecode, Os2Version2ShortHeaderLoads) {
    BmpFields f;
    f.headerSize = 16;
    f.bitCount = 8;
    f.palette = {kRed, kGreen};
    f.pixels = {1, 0, 0, 0};
    EXPECT_EQ(colors(decodeBmp(buildBmp(f))), (std::vector<Rgb>{kGreen}));
}

TEST(BmpDecode, PixelsAreFoundThroughThePixelOffset) {
    BmpFields f;
    f.bitCount = 8;
    f.palette = {kRed, kGreen};
    f.gap = 7;
    f.pixels = {1, 0, 0, 0};
    EXPECT_EQ(colors(decodeBmp(buildBmp(f))), (std::vector<Rgb>{kGreen}));
}

TEST(BmpDecode, ColorCountsBeyondTheDepthUseTheFirstEntries) {
    BmpFields f;
    f.bitCount = 8;
    f.colorsUsed = 300;
    f.palette = greys(300);
    f.pixels = {255, 0, 0, 0};
    const Bitmap bitmap = decodeBmp(buildBmp(f));
    EXPECT_EQ(bitmap.colorTable().size(), 256u);
    EXPECT_EQ(bitmap.color(0, 0), (Rgb{240, 240, 240}));  // entry 255 is 255 * 16 mod 256
}

TEST(BmpDecode, HugeColorCountIsLimitedByThePixelOffset) {
    BmpFields f;
    f.bitCount = 8;
    f.colorsUsed = 0xFF000006;
    f.palette = greys(6);
    f.pixels = {5, 0, 0, 0};
    const Bitmap bitmap = decodeBmp(buildBmp(f));
    EXPECT_EQ(bitmap.colorTable().size(), 6u);
    EXPECT_EQ(bitmap.color(0, 0), (Rgb{80, 80, 80}));
}

TEST(BmpDecode, MissingPaddingAfterTheLastRowIsTolerated) {
    BmpFields f;
    f.width = 3;
    f.height = 2;
    f.bitCount = 8;
    f.palette = greys(4);
    f.pixels = {1, 2, 3, 0, 3, 2, 1};
    EXPECT_EQ(indices(decodeBmp(buildBmp(f))), (std::vector<int>{3, 2, 1, 1, 2, 3}));
    f.pixels.pop_back();
    EXPECT_THAT(decodeError(buildBmp(f)), HasSubstr("pixel data ends in row 2 of 2"));
}

// ---- RLE --------------------------------------------------------------------------------------

BmpFields rleFields(int width, int height, int bitCount, Bytes stream) {
    BmpFields f;
    f.width = width;
    f.height = height;
    f.bitCount = static_cast<std::uint16_t>(bitCount);
    f.compression = bitCount == 8 ? 1 : 2;
    f.palette = greys(16);
    f.palette[3] = kWhite;  // unwritten pixels must still be index 0, not the white entry
    f.pixels = std::move(stream);
    return f;
}

TEST(BmpRle, Rle8RunsAbsoluteRunsDeltaAndEscapes) {
    const Bytes stream{
        0x03, 0x05,                          // bottom row: three pixels of 5
        0x00, 0x00,                          // end of line
        0x00, 0x03, 0x07, 0x08, 0x09, 0x00,  // absolute run 7 8 9, padded to an even length
        0x00, 0x00,                          // end of line
        0x00, 0x02, 0x02, 0x00,              // delta: two to the right
        0x01, 0x06,                          // one pixel of 6
        0x00, 0x01,                          // end of bitmap
    };
    const Bitmap bitmap = decodeBmp(buildBmp(rleFields(4, 3, 8, stream)));
    EXPECT_EQ(bitmap.format(), PixelFormat::Bits8);
    EXPECT_EQ(indices(bitmap), (std::vector<int>{0, 0, 6, 0,  //
                                                 7, 8, 9, 0,  //
                                                 5, 5, 5, 0}));
}

TEST(BmpRle, Rle4AlternatesNibblesAndPadsOddAbsoluteRuns) {
    const Bytes stream{
        0x05, 0x12,                          // bottom row: 1 2 1 2 1
        0x00, 0x00,                          // end of line
        0x00, 0x05, 0x67, 0x89, 0xA0, 0x00,  // absolute 6 7 8 9 10: three bytes plus a pad
        0x01, 0xB0,                          // one pixel of 11
        0x00, 0x01,                          // end of bitmap
    };
    const Bitmap bitmap = decodeBmp(buildBmp(rleFields(6, 2, 4, stream)));
    EXPECT_EQ(bitmap.format(), PixelFormat::Bits4);
    EXPECT_EQ(indices(bitmap), (std::vector<int>{6, 7, 8, 9, 10, 11,  //
                                                 1, 2, 1, 2, 1, 0}));
}

TEST(BmpRle, RunsPastTheRowEndAreClippedNotWrapped) {
    const Bytes stream{0x05, 0x01, 0x00, 0x00, 0x02, 0x02, 0x00, 0x01};
    EXPECT_EQ(indices(decodeBmp(buildBmp(rleFields(2, 2, 8, stream)))),
              (std::vector<int>{2, 2, 1, 1}));
}

TEST(BmpRle, NegativeHeightIsDecodedTopDown) {
    const Bytes stream{0x02, 0x01, 0x00, 0x00, 0x02, 0x02, 0x00, 0x01};
    EXPECT_EQ(indices(decodeBmp(buildBmp(rleFields(2, -2, 8, stream)))),
              (std::vector<int>{1, 1, 2, 2}));
}

TEST(BmpRle, StreamWithoutEndOfBitmapKeepsWhatItWrote) {
    const Bytes stream{0x02, 0x04};
    EXPECT_EQ(indices(decodeBmp(buildBmp(rleFields(3, 1, 8, stream)))),
              (std::vector<int>{4, 4, 0}));
}

struct BadRle {
    const char* description;
    int width;
    int height;
    int bitCount;
    Bytes stream;
    const char* message;
};

void PrintTo(const BadRle& row, std::ostream* out) {
    *out << row.description;
}

class BmpBadRle : public ::testing::TestWithParam<BadRle> {};

TEST_P(BmpBadRle, FailsWithAClearError) {
    const BadRle& row = GetParam();
    EXPECT_THAT(decodeError(buildBmp(rleFields(row.width, row.height, row.bitCount, row.stream))),
                HasSubstr(row.message));
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, BmpBadRle,
    ::testing::Values(
        BadRle{"run above the top row",
               2,
               1,
               8,
               {0x02, 0x01, 0x00, 0x00, 0x01, 0x01},
               "writes past the end of the picture"},
        BadRle{"delta above the top row",
               2,
               2,
               8,
               {0x00, 0x02, 0x00, 0x05, 0x01, 0x01},
               "writes past the end of the picture"},
        BadRle{"absolute run above the top row",
               2,
               1,
               4,
               {0x00, 0x00, 0x00, 0x03, 0x12, 0x30},
               "writes past the end of the picture"},
        BadRle{"absolute run cut short",
               4,
               1,
               8,
               {0x00, 0x05, 0x01, 0x02},
               "RLE data ends inside a run"},
        BadRle{"delta cut short", 4, 1, 8, {0x00, 0x02, 0x01}, "RLE data ends inside a run"},
        BadRle{"run count without its value",
               4,
               1,
               8,
               {0x02, 0x01, 0x03},
               "RLE data ends inside a run"},
        BadRle{"raster far beyond what the data can write",
               20000,
               20000,
               8,
               {0x00, 0x01},
               "larger than its RLE data can describe"}));

TEST(BmpRle, LargeMostlySkippedPictureStillLoads) {
    const Bitmap bitmap = decodeBmp(buildBmp(rleFields(4000, 4000, 8, {0x01, 0x07, 0x00, 0x01})));
    EXPECT_EQ(bitmap.index(0, 3999), 7);
    EXPECT_EQ(bitmap.index(1, 3999), 0);
    EXPECT_EQ(bitmap.index(3999, 0), 0);
}

// ---- Hostile and unsupported headers -----------------------------------------------------------

struct BadHeader {
    const char* description;
    Bytes bytes;
    const char* message;
};

void PrintTo(const BadHeader& row, std::ostream* out) {
    *out << row.description;
}

template <typename Change>
Bytes withFields(Change change) {
    BmpFields f;
    change(f);
    return buildBmp(f);
}

Bytes patchedU32(Bytes bytes, std::size_t at, std::uint32_t value) {
    putU32(bytes, at, value);
    return bytes;
}

Bytes firstBytes(const Bytes& bytes, std::size_t count) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

class BmpBadHeader : public ::testing::TestWithParam<BadHeader> {};

TEST_P(BmpBadHeader, FailsWithAClearError) {
    EXPECT_THAT(decodeError(GetParam().bytes), HasSubstr(GetParam().message));
}

const Bytes kPlain = buildBmp({});

INSTANTIATE_TEST_SUITE_P(
    Hostile, BmpBadHeader,
    ::testing::Values(
        BadHeader{"empty file", {}, "Not a BMP file"},
        BadHeader{"OS/2 bitmap array",
                  [] {
                      Bytes b = kPlain;
                      b[1] = 'A';
                      return b;
                  }(),
                  "Not a BMP file"},
        BadHeader{"file header cut short", firstBytes(kPlain, 12), "file header is incomplete"},
        BadHeader{"info header cut short", firstBytes(kPlain, 40), "info header is incomplete"},
        BadHeader{"header size 66", patchedU32(kPlain, 14, 66), "Unsupported BMP header size 66"},
        BadHeader{"header size 4 GB", patchedU32(kPlain, 14, 0xFFFFFFF0),
                  "Unsupported BMP header size"},
        BadHeader{"bit count 0", withFields([](BmpFields& f) { f.bitCount = 0; }),
                  "Unsupported BMP bit count 0"},
        BadHeader{"bit count 3", withFields([](BmpFields& f) { f.bitCount = 3; }),
                  "Unsupported BMP bit count 3"},
        BadHeader{"bit count 64", withFields([](BmpFields& f) { f.bitCount = 64; }),
                  "Unsupported BMP bit count 64"},
        BadHeader{"embedded JPEG", withFields([](BmpFields& f) {
                      f.bitCount = 0;
                      f.compression = 4;
                  }),
                  "embedded JPEG"},
        BadHeader{"embedded PNG", withFields([](BmpFields& f) {
                      f.bitCount = 0;
                      f.compression = 5;
                  }),
                  "embedded PNG"},
        BadHeader{"unknown compression", withFields([](BmpFields& f) { f.compression = 17408; }),
                  "Unsupported BMP compression 17408"},
        BadHeader{"OS/2 Huffman", withFields([](BmpFields& f) {
                      f.headerSize = 64;
                      f.bitCount = 1;
                      f.compression = 3;
                  }),
                  "Huffman"},
        BadHeader{"RLE8 at 24 bits", withFields([](BmpFields& f) { f.compression = 1; }),
                  "RLE8 needs 8 bits per pixel, not 24"},
        BadHeader{"RLE4 at 8 bits", withFields([](BmpFields& f) {
                      f.bitCount = 8;
                      f.compression = 2;
                  }),
                  "RLE4 needs 4 bits per pixel, not 8"},
        BadHeader{"bit fields at 8 bits", withFields([](BmpFields& f) {
                      f.bitCount = 8;
                      f.compression = 3;
                  }),
                  "bit-field compression needs 16 or 32 bits per pixel"},
        BadHeader{"planes 0", withFields([](BmpFields& f) { f.planes = 0; }),
                  "Invalid BMP plane count 0"},
        BadHeader{"negative width", withFields([](BmpFields& f) { f.width = -127; }),
                  "Invalid BMP width -127"},
        BadHeader{"width 0", withFields([](BmpFields& f) { f.width = 0; }), "Invalid BMP width 0"},
        BadHeader{"height 0", withFields([](BmpFields& f) { f.height = 0; }),
                  "Invalid BMP height 0"},
        BadHeader{"height INT32_MIN", withFields([](BmpFields& f) {
                      f.height = std::numeric_limits<std::int32_t>::min();
                  }),
                  "Invalid BMP height -2147483648"},
        BadHeader{"offset past the end", withFields([](BmpFields& f) { f.dataOffset = 5000; }),
                  "offset 5000 is past the end of the file"},
        BadHeader{"offset inside the headers", withFields([](BmpFields& f) { f.dataOffset = 20; }),
                  "offset 20 points inside the headers"},
        BadHeader{"pixel data cut short", withFields([](BmpFields& f) {
                      f.width = 2;
                      f.height = 4;
                      f.pixels = Bytes(16, 0);
                  }),
                  "BMP file truncated: pixel data ends in row 3 of 4"},
        BadHeader{"100000 x 100000 in a few bytes", withFields([](BmpFields& f) {
                      f.width = 100000;
                      f.height = 100000;
                  }),
                  "pixel data ends in row 1 of 100000"},
        BadHeader{"width 2^31 - 1 at 32 bits", withFields([](BmpFields& f) {
                      f.width = std::numeric_limits<std::int32_t>::max();
                      f.height = 6;
                      f.bitCount = 32;
                  }),
                  "pixel data ends in row 1 of 6"},
        BadHeader{"height 2^31 - 1", withFields([](BmpFields& f) {
                      f.height = std::numeric_limits<std::int32_t>::max();
                  }),
                  "pixel data ends in row 2 of 2147483647"},
        BadHeader{"masks cut short", withFields([](BmpFields& f) {
                      f.bitCount = 16;
                      f.compression = 3;
                      f.pixels = {};
                  }),
                  "colour masks are incomplete"},
        BadHeader{"mask with a hole", withFields([](BmpFields& f) {
                      f.bitCount = 16;
                      f.compression = 3;
                      f.masks = {0xF0F0, 0x0F00, 0x000F};
                  }),
                  "mask 0x0000F0F0 is not contiguous"},
        BadHeader{"mask wider than the pixel", withFields([](BmpFields& f) {
                      f.bitCount = 16;
                      f.compression = 3;
                      f.masks = {0xFF0000, 0xFF00, 0xFF};
                  }),
                  "does not fit a 16-bit pixel"},
        BadHeader{"all masks empty", withFields([](BmpFields& f) {
                      f.bitCount = 32;
                      f.compression = 3;
                      f.masks = {0, 0, 0};
                  }),
                  "masks are all empty"}));

// ---- Rows read from the file as needed ----

// The picture of `file` as openBmpRows reads it, rows from `first` on (the others white), or
// the message it fails with; nothing for an RLE file.
struct ReadRows {
    std::optional<Bitmap> picture;
    std::string message;
    bool none = false;
};

ReadRows readRowsOf(const std::filesystem::path& file, int first = 0) {
    ReadRows read;
    try {
        const std::unique_ptr<PictureRows> rows = openBmpRows(file);
        if (!rows) {
            read.none = true;
            return read;
        }
        read.picture = test::readRows(*rows, std::min(first, rows->height() - 1));
    } catch (const Error& error) {
        read.message = error.what();
    }
    return read;
}

// A file read as rows gives the decoded picture in 24 bits, from the top or from part-way (the
// rows above stay as they were), or fails with the same message; RLE files give no rows.
void expectRowsAsDecoded(const std::filesystem::path& file) {
    std::optional<Bitmap> decoded;
    std::string message;
    bool rle = false;
    try {
        const Bytes bytes = test::readFile(file);
        rle = bytes.size() >= 34 && (bytes[30] == 1 || bytes[30] == 2) && bytes[14] != 12;
        decoded = decodeBmp(bytes);
    } catch (const Error& error) {
        message = error.what();
    }
    for (const int first : {0, 5}) {
        const ReadRows read = readRowsOf(file, first);
        if (read.none) {
            EXPECT_TRUE(rle) << "no rows from a file that is not RLE";
            return;
        }
        if (!decoded) {
            EXPECT_EQ(read.message, message);
            return;
        }
        ASSERT_TRUE(read.picture) << read.message;
        EXPECT_EQ(*read.picture, test::whiteAbove(*decoded, std::min(first, decoded->height() - 1)))
            << "rows from " << first;
    }
}

// Every prefix of sound files either loads or fails with a tz::Error (under the sanitizers this
// also proves that nothing reads past the end).
TEST(BmpDecode, EveryTruncationLoadsOrFailsCleanly) {
    std::vector<Bytes> files{
        buildBmp(rleFields(
            4, 3, 8, {0x03, 0x05, 0x00, 0x00, 0x00, 0x03, 0x07, 0x08, 0x09, 0x00, 0x00, 0x01})),
        withFields([](BmpFields& f) {
            f.width = 3;
            f.height = 2;
            f.bitCount = 16;
            f.compression = 3;
            f.masks = {0xF800, 0x07E0, 0x001F};
            f.pixels = Bytes(16, 0xAB);
        }),
        withFields([](BmpFields& f) {
            f.headerSize = 12;
            f.width = 9;
            f.height = 2;
            f.bitCount = 4;
            f.palette = greys(16);
            f.pixels = Bytes(16, 0x5A);
        }),
    };
    const test::TempDir folder;
    for (const Bytes& file : files) {
        for (std::size_t length = 0; length <= file.size(); ++length) {
            SCOPED_TRACE("length " + std::to_string(length));
            try {
                decodeBmp(firstBytes(file, length));
            } catch (const Error& error) {
                EXPECT_THAT(error.what(), HasSubstr("BMP"));
            }
            test::writeFile(folder / "cut.bmp", firstBytes(file, length));
            expectRowsAsDecoded(folder / "cut.bmp");
        }
    }
}

// ---- Writing -----------------------------------------------------------------------------------

std::uint32_t u32At(const Bytes& bytes, std::size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

TEST(BmpEncode, HeadersOfA3x2Picture) {
    Bitmap bitmap(3, 2);
    bitmap.setColor(0, 0, {1, 2, 3});
    bitmap.setColor(2, 1, {4, 5, 6});
    const Bytes file = encodeBmp(bitmap);
    // Rows of 9 bytes pad to 12: 54 + 2 * 12 = 78 bytes.
    ASSERT_EQ(file.size(), 78u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(u32At(file, 2), 78u);
    EXPECT_EQ(u32At(file, 6), 0u);
    EXPECT_EQ(u32At(file, 10), 54u);
    EXPECT_EQ(u32At(file, 14), 40u);
    EXPECT_EQ(u32At(file, 18), 3u);
    EXPECT_EQ(u32At(file, 22), 2u);
    EXPECT_EQ(u32At(file, 26), 1u | (24u << 16));  // planes 1, 24 bits
    EXPECT_EQ(u32At(file, 30), 0u);
    EXPECT_EQ(u32At(file, 34), 24u);
    for (std::size_t at = 38; at < 54; at += 4) {
        EXPECT_EQ(u32At(file, at), 0u) << "at " << at;
    }
    // Bottom row first: (4, 5, 6) is its last pixel; then three zero pad bytes.
    EXPECT_EQ(Bytes(file.begin() + 54, file.begin() + 66),
              (Bytes{255, 255, 255, 255, 255, 255, 6, 5, 4, 0, 0, 0}));
    EXPECT_EQ(Bytes(file.begin() + 66, file.begin() + 69), (Bytes{3, 2, 1}));
}

class BmpRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(BmpRoundTrip, TwentyFourBitPicturesComeBackUnchanged) {
    const int width = GetParam();
    Bitmap bitmap(width, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.setColor(x, y,
                            {static_cast<std::uint8_t>(x * 40), static_cast<std::uint8_t>(y * 90),
                             static_cast<std::uint8_t>(x + y)});
        }
    }
    const Bytes file = encodeBmp(bitmap);
    EXPECT_EQ(file.size(), 54u + 3u * ((static_cast<unsigned>(width) * 3 + 3) / 4 * 4));
    EXPECT_EQ(decodeBmp(file), bitmap);
}

INSTANTIATE_TEST_SUITE_P(Widths, BmpRoundTrip, ::testing::Values(1, 2, 3, 4, 5, 17));

TEST(BmpEncode, IndexedPicturesAreWrittenAt24Bits) {
    Bitmap bitmap(2, 1, PixelFormat::Bits8, {kRed, kBlue});
    bitmap.setIndex(0, 0, 1);
    bitmap.setIndex(1, 0, 0);
    const Bytes file = encodeBmp(bitmap);
    EXPECT_EQ(file[28], 24);
    const Bitmap back = decodeBmp(file);
    EXPECT_EQ(back.format(), PixelFormat::Bits24);
    EXPECT_EQ(colors(back), (std::vector<Rgb>{kBlue, kRed}));
}

TEST(BmpEncode, EmptyPictureIsRefused) {
    EXPECT_THROW(encodeBmp(Bitmap()), Error);
}

TEST(BmpFile, LoadsAWrittenFile) {
    const test::TempDir folder;
    Bitmap bitmap(2, 2);
    bitmap.setColor(1, 0, kRed);
    test::writeFile(folder / "a.bmp", encodeBmp(bitmap));
    EXPECT_EQ(loadBmpFile(folder / "a.bmp"), bitmap);
}

TEST(BmpFile, UnreadableFileErrorNamesTheFile) {
    const test::TempDir folder;
    try {
        loadBmpFile(folder / "missing.bmp");
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_THAT(error.what(), HasSubstr("missing.bmp"));
    }
    EXPECT_THROW(loadBmpFile(folder.path()), Error);
}

// ---- The real-world corpus ---------------------------------------------------------------------

using test::CorpusEntry;
using test::CorpusOutcome;

class BmpCorpus : public ::testing::TestWithParam<CorpusEntry> {};

// The file loads at its size, or fails with an error that names the format, as its row says.
TEST_P(BmpCorpus, GivesTheExpectedOutcome) {
    const CorpusEntry& entry = GetParam();
    if (entry.file.empty()) {
        GTEST_SKIP() << test::corpusAbsentMessage();
    }
    expectRowsAsDecoded(test::corpusFolder("bmp") / entry.file);
    const Bytes bytes = test::readFile(test::corpusFolder("bmp") / entry.file);
    std::optional<Bitmap> bitmap;
    std::string message;
    try {
        bitmap = decodeBmp(bytes);
    } catch (const Error& error) {
        message = error.what();
    }
    switch (entry.outcome) {
        case CorpusOutcome::Loads:
            ASSERT_TRUE(bitmap.has_value()) << message;
            EXPECT_EQ(bitmap->width(), entry.size->width);
            EXPECT_EQ(bitmap->height(), entry.size->height);
            break;
        case CorpusOutcome::MustFail:
            EXPECT_FALSE(bitmap.has_value());
            EXPECT_THAT(message, HasSubstr("BMP"));
            break;
        case CorpusOutcome::LeavesOpen:
            if (!bitmap) {
                EXPECT_THAT(message, HasSubstr("BMP"));
            }
            break;
        case CorpusOutcome::Unrecognised:
            ADD_FAILURE() << "the manifest gives no outcome";
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Manifest, BmpCorpus, ::testing::ValuesIn(test::corpusTestEntries("bmp")),
                         [](const auto& row) { return test::corpusTestName(row.param); });

Bitmap loadCorpus(const std::string& name) {
    return decodeBmp(test::readFile(test::corpusFolder("bmp") / name));
}

// Files of the BMP Suite that store the same picture in different ways, with the reference they
// must match pixel for pixel once converted to 24 bits. (The suite's 8-bit reference is a dithered
// version of its 24-bit one, so the two families are not compared with each other.)
struct SamePicture {
    const char* file;
    const char* reference;
};

void PrintTo(const SamePicture& row, std::ostream* out) {
    *out << row.file << " = " << row.reference;
}

class BmpCorpusPixels : public ::testing::TestWithParam<SamePicture> {};

TEST_P(BmpCorpusPixels, MatchesTheReferencePicture) {
    if (test::corpusDir().empty()) {
        GTEST_SKIP() << test::corpusAbsentMessage();
    }
    const Bitmap file = loadCorpus(GetParam().file).to24();
    const Bitmap reference = loadCorpus(GetParam().reference).to24();
    ASSERT_EQ(file.width(), reference.width());
    ASSERT_EQ(file.height(), reference.height());
    EXPECT_EQ(colors(file), colors(reference));
}

INSTANTIATE_TEST_SUITE_P(
    Suite, BmpCorpusPixels,
    ::testing::Values(SamePicture{"bs-g-pal8topdown.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-g-pal8rle.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-g-pal8-0.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-g-pal8os2.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-g-pal8v4.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-g-pal8v5.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-q-pal8offs.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-q-pal8oversizepal.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-q-pal8os2-sz.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-q-pal8os2-hs.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-q-pal8os2sp.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-q-pal8os2v2.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-q-pal8os2v2-16.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-q-pal8os2v2-sz.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-q-pal8os2v2-40sz.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"bs-g-pal4rle.bmp", "bs-g-pal4.bmp"},
                      SamePicture{"bs-g-pal1wb.bmp", "bs-g-pal1.bmp"},
                      // Top-down RLE is read as stored; runs past a row's end are clipped.
                      SamePicture{"bs-b-rletopdown.bmp", "bs-g-pal8.bmp"},
                      SamePicture{"pil-hopper_rle8_row_overflow.bmp", "pil-hopper_rle8.bmp"},
                      SamePicture{"bs-g-rgb24pal.bmp", "bs-g-rgb24.bmp"},
                      SamePicture{"bs-q-rgb24largepal.bmp", "bs-g-rgb24.bmp"},
                      SamePicture{"bs-q-rgb24prof.bmp", "bs-g-rgb24.bmp"},
                      SamePicture{"bs-q-rgb24lprof.bmp", "bs-g-rgb24.bmp"},
                      SamePicture{"bs-g-rgb32.bmp", "bs-g-rgb24.bmp"},
                      SamePicture{"bs-g-rgb32bf.bmp", "bs-g-rgb24.bmp"},
                      SamePicture{"bs-g-rgb32bfdef.bmp", "bs-g-rgb24.bmp"},
                      SamePicture{"bs-q-rgb32fakealpha.bmp", "bs-g-rgb24.bmp"},
                      SamePicture{"bs-q-rgb32-xbgr.bmp", "bs-g-rgb24.bmp"},
                      SamePicture{"bs-q-rgb32h52.bmp", "bs-g-rgb24.bmp"},
                      SamePicture{"bs-q-rgba32-2.bmp", "bs-q-rgba32-1.bmp"},
                      SamePicture{"bs-q-rgba32abf.bmp", "bs-q-rgba32-1.bmp"},
                      SamePicture{"bs-q-rgba32h56.bmp", "bs-q-rgba32-1.bmp"},
                      SamePicture{"bs-q-rgba32-81284.bmp", "bs-q-rgba32-1.bmp"},
                      SamePicture{"bs-g-rgb16bfdef.bmp", "bs-g-rgb16.bmp"},
                      SamePicture{"bs-q-rgb16faketrns.bmp", "bs-g-rgb16.bmp"},
                      SamePicture{"bs-g-rgb16-565pal.bmp", "bs-g-rgb16-565.bmp"}));

// 16-bit pictures hold the reference's colours rounded to 5 (or 6) bits; scaled back to 8 bits
// each channel stays within half a 5-bit step (255 / 31 / 2 = 4.1) of the reference.
TEST(BmpCorpusPixels, SixteenBitPicturesScaleToTheFullRange) {
    if (test::corpusDir().empty()) {
        GTEST_SKIP() << test::corpusAbsentMessage();
    }
    const auto reference = colors(loadCorpus("bs-g-rgb24.bmp"));
    for (const char* name : {"bs-g-rgb16.bmp", "bs-g-rgb16-565.bmp"}) {
        const auto picture = colors(loadCorpus(name));
        ASSERT_EQ(picture.size(), reference.size());
        int worst = 0;
        for (std::size_t i = 0; i < picture.size(); ++i) {
            worst = std::max({worst, std::abs(picture[i].red - reference[i].red),
                              std::abs(picture[i].green - reference[i].green),
                              std::abs(picture[i].blue - reference[i].blue)});
        }
        EXPECT_LE(worst, 4) << name;
    }
}

}  // namespace
}  // namespace tz
