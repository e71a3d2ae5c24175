// Turning stored pictures upright: the eight orientations on a small picture whose upright forms
// were drawn by hand, every pixel format, and pictures larger than one tile.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tz/orientation.h"

namespace tz {
namespace {

// Stored picture, 3 × 2, each pixel a letter:   a b c
//                                               d e f
// Each row gives the upright picture by hand, rows separated by '/'.
struct OrientationRow {
    const char* description;
    Orientation orientation;
    const char* upright;
};

const OrientationRow kRows[] = {
    {"normal", Orientation::Normal, "abc/def"},
    {"mirror_horizontal", Orientation::MirrorHorizontal, "cba/fed"},
    {"rotate_180", Orientation::Rotate180, "fed/cba"},
    {"mirror_vertical", Orientation::MirrorVertical, "def/abc"},
    // Mirror horizontally, then rotate 270 clockwise.
    {"transpose", Orientation::Transpose, "ad/be/cf"},
    // The left column, read upwards, becomes the top row.
    {"rotate_90", Orientation::Rotate90, "da/eb/fc"},
    // Mirror horizontally, then rotate 90 clockwise.
    {"transverse", Orientation::Transverse, "fc/eb/da"},
    // The right column, read downwards, becomes the top row.
    {"rotate_270", Orientation::Rotate270, "cf/be/ad"},
};

std::vector<std::string> gridRows(const std::string& grid) {
    std::vector<std::string> rows;
    std::size_t start = 0;
    while (start <= grid.size()) {
        const std::size_t end = std::min(grid.find('/', start), grid.size());
        rows.push_back(grid.substr(start, end - start));
        start = end + 1;
    }
    return rows;
}

int letterIndex(char letter) {
    return letter - 'a' + 1;  // 1 to 6: fits every indexed format but the 1-bit one
}

Rgb letterColor(char letter) {
    const int i = letterIndex(letter);
    return Rgb{static_cast<std::uint8_t>(40 * i), static_cast<std::uint8_t>(255 - 30 * i),
               static_cast<std::uint8_t>(7 * i)};
}

std::vector<Rgb> letterTable() {
    std::vector<Rgb> table(16);
    for (char letter = 'a'; letter <= 'f'; ++letter) {
        table[static_cast<std::size_t>(letterIndex(letter))] = letterColor(letter);
    }
    return table;
}

Bitmap letterBitmap(const std::string& grid, PixelFormat format) {
    const std::vector<std::string> rows = gridRows(grid);
    const int width = static_cast<int>(rows[0].size());
    const int height = static_cast<int>(rows.size());
    Bitmap bitmap(width, height, format,
                  format == PixelFormat::Bits24 ? std::vector<Rgb>{} : letterTable());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const char letter = rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
            if (format == PixelFormat::Bits24) {
                bitmap.setColor(x, y, letterColor(letter));
            } else {
                bitmap.setIndex(x, y, static_cast<std::uint8_t>(letterIndex(letter)));
            }
        }
    }
    return bitmap;
}

// The picture as letters again, so failures print both grids.
std::string letters(const Bitmap& bitmap) {
    std::string grid;
    for (int y = 0; y < bitmap.height(); ++y) {
        if (y > 0) {
            grid += '/';
        }
        for (int x = 0; x < bitmap.width(); ++x) {
            char found = '?';
            for (char letter = 'a'; letter <= 'f'; ++letter) {
                if (bitmap.color(x, y) == letterColor(letter)) {
                    found = letter;
                }
            }
            grid += found;
        }
    }
    return grid;
}

class OrientationTable : public testing::TestWithParam<std::tuple<OrientationRow, PixelFormat>> {};

TEST_P(OrientationTable, GivesTheHandDrawnUprightPicture) {
    const auto& [row, format] = GetParam();
    const Bitmap upright = orientedUpright(letterBitmap("abc/def", format), row.orientation);
    EXPECT_EQ(letters(upright), row.upright);
    EXPECT_EQ(upright.format(), format);
    EXPECT_EQ(upright.colorTable(), letterBitmap("abc/def", format).colorTable());
    EXPECT_EQ(swapsWidthAndHeight(row.orientation), upright.width() == 2);
    EXPECT_EQ(upright, letterBitmap(row.upright, format)) << "every byte, row ends included";
}

INSTANTIATE_TEST_SUITE_P(EightValues, OrientationTable,
                         testing::Combine(testing::ValuesIn(kRows),
                                          testing::Values(PixelFormat::Bits24, PixelFormat::Bits8,
                                                          PixelFormat::Bits4)),
                         [](const auto& rowInfo) {
                             const PixelFormat format = std::get<1>(rowInfo.param);
                             return std::string(std::get<0>(rowInfo.param).description) + "_" +
                                    (format == PixelFormat::Bits24  ? "24"
                                     : format == PixelFormat::Bits8 ? "8"
                                                                    : "4");
                         });

Bitmap randomBitmap(int width, int height, PixelFormat format, unsigned seed) {
    std::mt19937 random(seed);
    const int colours = format == PixelFormat::Bits1 ? 2 : format == PixelFormat::Bits4 ? 16 : 256;
    std::vector<Rgb> table;
    const bool direct = format == PixelFormat::Bits24 || format == PixelFormat::Bits32;
    for (int i = 0; !direct && i < colours; ++i) {
        table.push_back(Rgb{static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(i),
                            static_cast<std::uint8_t>(random())});
    }
    Bitmap bitmap(width, height, format, table);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (direct) {
                // On a 24-bit bitmap the alpha is dropped.
                bitmap.setRgba(
                    x, y,
                    Rgba{static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                         static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random())});
            } else {
                bitmap.setIndex(x, y, static_cast<std::uint8_t>(random() % colours));
            }
        }
    }
    return bitmap;
}

// The header's table, pixel by pixel, alpha included.
Rgba storedColorFor(const Bitmap& stored, Orientation orientation, int x, int y) {
    const int right = stored.width() - 1;
    const int bottom = stored.height() - 1;
    switch (orientation) {
        case Orientation::Normal:
            return stored.rgba(x, y);
        case Orientation::MirrorHorizontal:
            return stored.rgba(right - x, y);
        case Orientation::Rotate180:
            return stored.rgba(right - x, bottom - y);
        case Orientation::MirrorVertical:
            return stored.rgba(x, bottom - y);
        case Orientation::Transpose:
            return stored.rgba(y, x);
        case Orientation::Rotate90:
            return stored.rgba(y, bottom - x);
        case Orientation::Transverse:
            return stored.rgba(right - y, bottom - x);
        case Orientation::Rotate270:
            return stored.rgba(right - y, x);
    }
    return {};
}

class OrientationLarge : public testing::TestWithParam<PixelFormat> {};

// Sizes that are not multiples of the tile or of a byte's pixels, in every format.
TEST_P(OrientationLarge, EveryPixelFollowsTheTable) {
    const Bitmap stored = randomBitmap(150, 67, GetParam(), 7);
    for (const OrientationRow& row : kRows) {
        const Bitmap upright = orientedUpright(stored, row.orientation);
        ASSERT_EQ(upright.width(), swapsWidthAndHeight(row.orientation) ? 67 : 150);
        ASSERT_EQ(upright.height(), swapsWidthAndHeight(row.orientation) ? 150 : 67);
        int wrong = 0;
        for (int y = 0; y < upright.height(); ++y) {
            for (int x = 0; x < upright.width(); ++x) {
                wrong +=
                    upright.rgba(x, y) == storedColorFor(stored, row.orientation, x, y) ? 0 : 1;
            }
        }
        EXPECT_EQ(wrong, 0) << row.description;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, OrientationLarge,
                         testing::Values(PixelFormat::Bits32, PixelFormat::Bits24,
                                         PixelFormat::Bits8, PixelFormat::Bits4,
                                         PixelFormat::Bits1));

TEST(Orientation, EmptyPicturesStayEmpty) {
    const Bitmap upright = orientedUpright(Bitmap(0, 5), Orientation::Rotate90);
    EXPECT_EQ(upright.width(), 5);
    EXPECT_EQ(upright.height(), 0);
    EXPECT_TRUE(orientedUpright(Bitmap(), Orientation::Rotate180).empty());
}

}  // namespace
}  // namespace tz
