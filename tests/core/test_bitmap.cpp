// Bitmap storage, colour lookup and conversion to 24 bits.
#include <gtest/gtest.h>

#include <ostream>

#include "tz/bitmap.h"
#include "tz/errors.h"

namespace tz {
namespace {

TEST(Bitmap, NewBitmapIsWhite) {
    const Bitmap bitmap(3, 2);
    EXPECT_EQ(bitmap.stride(), 9u);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            EXPECT_EQ(bitmap.color(x, y), (Rgb{255, 255, 255}));
        }
    }
}

TEST(Bitmap, IndexedBitmapStartsAtTheWhiteEntry) {
    const Bitmap bitmap(9, 1, PixelFormat::Bits4, {{0, 0, 0}, {255, 255, 255}});
    EXPECT_EQ(bitmap.index(0, 0), 1);
    EXPECT_EQ(bitmap.index(8, 0), 1);
}

TEST(Bitmap, PackedIndicesAreMostSignificantFirst) {
    Bitmap one(10, 1, PixelFormat::Bits1, {{0, 0, 0}, {255, 255, 255}});
    one.setIndex(0, 0, 0);
    one.setIndex(9, 0, 0);
    EXPECT_EQ(one.row(0)[0], 0x7F);
    EXPECT_EQ(one.row(0)[1], 0xBF);  // x = 9 is bit 6 of the second byte
    Bitmap four(3, 1, PixelFormat::Bits4, std::vector<Rgb>(16));
    four.setIndex(0, 0, 0xA);
    four.setIndex(1, 0, 0x5);
    four.setIndex(2, 0, 0xC);
    EXPECT_EQ(four.row(0)[0], 0xA5);
    EXPECT_EQ(four.row(0)[1] & 0xF0, 0xC0);
}

TEST(Bitmap, ConvertsIndexedPixelsTo24BitsInBlueGreenRedOrder) {
    Bitmap bitmap(2, 1, PixelFormat::Bits8, {{10, 20, 30}, {40, 50, 60}});
    bitmap.setIndex(0, 0, 1);
    bitmap.setIndex(1, 0, 7);  // outside the table: black
    bitmap.convertTo24();
    ASSERT_EQ(bitmap.format(), PixelFormat::Bits24);
    const std::uint8_t* row = bitmap.row(0);
    EXPECT_EQ(row[0], 60);
    EXPECT_EQ(row[1], 50);
    EXPECT_EQ(row[2], 40);
    EXPECT_EQ(row[3], 0);
    EXPECT_EQ(row[4], 0);
    EXPECT_EQ(row[5], 0);
}

TEST(Bitmap, New32BitBitmapIsOpaqueWhiteInBlueGreenRedAlphaOrder) {
    Bitmap bitmap(3, 2, PixelFormat::Bits32);
    EXPECT_EQ(bitmap.stride(), 12u);
    EXPECT_EQ(bitmap.rgba(2, 1), (Rgba{255, 255, 255, 255}));
    bitmap.setRgba(1, 0, Rgba{10, 20, 30, 40});
    const std::uint8_t* pixel = bitmap.row(0) + 4;
    EXPECT_EQ(pixel[0], 30);
    EXPECT_EQ(pixel[1], 20);
    EXPECT_EQ(pixel[2], 10);
    EXPECT_EQ(pixel[3], 40);
    bitmap.setColor(0, 1, Rgb{1, 2, 3});
    EXPECT_EQ(bitmap.rgba(0, 1), (Rgba{1, 2, 3, 255}));
}

// A pixel with alpha over white, and the 24-bit colour it becomes (c·a/255 + 255 − a, rounded).
struct WhiteComposition {
    const char* description;
    Rgba pixel;
    Rgb expected;
};

void PrintTo(const WhiteComposition& row, std::ostream* out) {
    *out << row.description;
}

class ComposeOverWhite : public ::testing::TestWithParam<WhiteComposition> {};

TEST_P(ComposeOverWhite, ConversionTo24BitsShowsThePixelOnWhite) {
    Bitmap bitmap(2, 1, PixelFormat::Bits32);
    bitmap.setRgba(1, 0, GetParam().pixel);
    EXPECT_EQ(composeOverWhite(GetParam().pixel), GetParam().expected);
    EXPECT_EQ(bitmap.color(1, 0), GetParam().expected);
    const Bitmap converted = bitmap.to24();
    ASSERT_EQ(converted.format(), PixelFormat::Bits24);
    EXPECT_EQ(converted.color(1, 0), GetParam().expected);
    EXPECT_EQ(converted.color(0, 0), (Rgb{255, 255, 255}));
    bitmap.convertTo24();
    EXPECT_EQ(bitmap, converted);
}

INSTANTIATE_TEST_SUITE_P(
    Bits32, ComposeOverWhite,
    ::testing::Values(WhiteComposition{"opaque keeps its colour", {10, 20, 30, 255}, {10, 20, 30}},
                      WhiteComposition{"transparent is white", {10, 20, 30, 0}, {255, 255, 255}},
                      // 100·51/255 = 20, 200·51/255 = 40, 255·204/255 = 204: exact.
                      WhiteComposition{"a fifth opaque, exact", {100, 0, 200, 51}, {224, 204, 244}},
                      // 3.92 + 155, 7.84 + 155, 11.76 + 155.
                      WhiteComposition{"rounds to nearest", {10, 20, 30, 100}, {159, 163, 167}},
                      // 255·128/255 + 127 = 255; 127 + 0.
                      WhiteComposition{"half-transparent red", {255, 0, 0, 128}, {255, 127, 127}}));

TEST(Bitmap, RefusesAbsurdSizesWithAClearError) {
    EXPECT_THROW(Bitmap(-1, 5), Error);
    EXPECT_THROW(Bitmap(2'000'000'000, 2'000'000'000), Error);
}

}  // namespace
}  // namespace tz
