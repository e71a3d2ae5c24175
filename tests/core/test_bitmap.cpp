// Bitmap storage, colour lookup and conversion to 24 bits.
#include <gtest/gtest.h>

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

TEST(Bitmap, RefusesAbsurdSizesWithAClearError) {
    EXPECT_THROW(Bitmap(-1, 5), Error);
    EXPECT_THROW(Bitmap(2'000'000'000, 2'000'000'000), Error);
}

}  // namespace
}  // namespace tz
