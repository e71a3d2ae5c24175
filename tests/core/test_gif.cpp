// The GIF picture: the bytes the writer chooses, the reader's tolerance and errors, the web
// palette, rendering, LZW round trips, an independent decoder and the real-world corpus.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/corpus.h"
#include "support/picture_builders.h"
#include "support/support.h"
#include "tz/errors.h"
#include "tz/gif.h"

namespace tz {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test::bitmapOfColors;
using test::CodePacker;  // GIF files built block by block
using test::GifBytes;
using test::literalLzw;

const std::vector<Rgb> kFour{{255, 0, 0}, {0, 128, 0}, {0, 0, 255}, {255, 255, 0}};

GifImage load(const Bytes& bytes) {
    GifImage image;
    image.loadFromBytes(bytes);
    return image;
}

std::string loadError(const Bytes& bytes) {
    try {
        load(bytes);
    } catch (const GifError& e) {
        return e.what();
    }
    return "(no error)";
}

// All indices of a frame, row by row.
Bytes framePixels(const GifFrame& frame) {
    Bytes pixels;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            pixels.push_back(frame.pixel(x, y));
        }
    }
    return pixels;
}

// ---------------------------------------------------------------- web palette

TEST(GifWebPalette, FourPixelsMapToTheBiasedLevels) {
    GifImage gif;
    gif.assign(bitmapOfColors(4, 1, {{0, 0, 0}, {47, 47, 47}, {48, 48, 48}, {255, 128, 252}}));
    const GifImage reloaded = load(gif.saveToBytes());
    ASSERT_EQ(reloaded.images().size(), 1u);
    EXPECT_EQ(framePixels(reloaded.images()[0]), (Bytes{0, 0, 43, 197}));
}

struct LevelRow {
    int value;
    int level;
};

class GifWebLevel : public testing::TestWithParam<LevelRow> {};

TEST_P(GifWebLevel, ChannelValueGoesToItsLevel) {
    const auto [value, level] = GetParam();
    const auto v = static_cast<std::uint8_t>(value);
    EXPECT_EQ(webPaletteIndex({v, 0, 0}), 36 * level);
    EXPECT_EQ(webPaletteIndex({0, v, 0}), 6 * level);
    EXPECT_EQ(webPaletteIndex({0, 0, v}), level);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, GifWebLevel,
                         testing::Values(LevelRow{0, 0}, LevelRow{47, 0}, LevelRow{48, 1},
                                         LevelRow{98, 1}, LevelRow{99, 2}, LevelRow{149, 2},
                                         LevelRow{150, 3}, LevelRow{200, 3}, LevelRow{201, 4},
                                         LevelRow{251, 4}, LevelRow{252, 5}, LevelRow{255, 5}));

TEST(GifWebPalette, TableHas216ColoursThenBlack) {
    const GifColorTable& palette = webPalette();
    ASSERT_EQ(palette.count(), 256);
    EXPECT_EQ(palette.color(0), (Rgb{0, 0, 0}));
    EXPECT_EQ(palette.color(197), (Rgb{255, 102, 255}));
    EXPECT_EQ(palette.color(215), (Rgb{255, 255, 255}));
    EXPECT_EQ(palette.color(43), (Rgb{51, 51, 51}));
    for (int i = 216; i < 256; ++i) {
        EXPECT_EQ(palette.color(i), (Rgb{0, 0, 0})) << "entry " << i;
    }
}

TEST(GifWebPalette, EveryPixelOfBothRowDirectionsIsReduced) {
    // Odd rows are walked right to left: each pixel must still land in its own place.
    std::vector<Rgb> pixels;
    Bytes expected;
    for (int i = 0; i < 15; ++i) {
        const auto v = static_cast<std::uint8_t>(i * 17);
        pixels.push_back({v, static_cast<std::uint8_t>(255 - v), static_cast<std::uint8_t>(v / 2)});
        expected.push_back(static_cast<std::uint8_t>(36 * ((v + 3) / 51) +
                                                     6 * ((255 - v + 3) / 51) + (v / 2 + 3) / 51));
    }
    GifImage gif;
    gif.assign(bitmapOfColors(5, 3, pixels));
    EXPECT_EQ(framePixels(gif.images()[0]), expected);
}

TEST(GifWebPalette, PixelsWithAlphaAreReducedAsTheyLookOverWhite) {
    Bitmap bitmap(3, 1, PixelFormat::Bits32);
    bitmap.setRgba(0, 0, Rgba{0, 0, 0, 0});      // white: level 5 on every channel
    bitmap.setRgba(1, 0, Rgba{255, 0, 0, 128});  // over white (255, 127, 127): 5, 2, 2
    bitmap.setRgba(2, 0, Rgba{0, 0, 255, 255});  // opaque blue: 0, 0, 5
    GifImage gif;
    gif.assign(bitmap);
    EXPECT_EQ(framePixels(gif.images()[0]), (Bytes{215, 36 * 5 + 6 * 2 + 2, 5}));
}

// ---------------------------------------------------------------- writer bytes

// The data sub-blocks starting at `at` (after the minimum code size); returns the offset past
// the terminator.
std::size_t skipSubBlocks(const Bytes& file, std::size_t at) {
    while (at < file.size() && file[at] != 0) {
        at += file[at] + 1u;
    }
    return at + 1;
}

TEST(GifWriter, TwoByTwoTrueColourBitmapGivesTheFixedHeader) {
    GifImage gif;
    gif.assign(bitmapOfColors(2, 2, {{255, 255, 255}, {0, 0, 0}, {255, 0, 0}, {0, 0, 255}}));
    const Bytes file = gif.saveToBytes();
    const Bytes head{'G', 'I',  'F', '8', '7', 'a', 2, 0, 2, 0, 0x77, 0,
                     0,   0x2C, 0,   0,   0,   0,   2, 0, 2, 0, 0x87};
    ASSERT_GT(file.size(), head.size() + 768 + 3);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(head.size())), head);
    for (int i = 0; i < 256; ++i) {
        const std::size_t at = head.size() + static_cast<std::size_t>(i) * 3;
        const Rgb entry{file[at], file[at + 1], file[at + 2]};
        EXPECT_EQ(entry, webPalette().color(i)) << "entry " << i;
    }
    const std::size_t codeSize = head.size() + 768;
    EXPECT_EQ(file[codeSize], 8);
    const std::size_t end = skipSubBlocks(file, codeSize + 1);
    ASSERT_EQ(end + 1, file.size());
    EXPECT_EQ(file[end], 0x3B);
}

TEST(GifWriter, SixteenColourBitmapKeepsItsTableAndIndices) {
    std::vector<Rgb> table;
    for (int i = 0; i < 16; ++i) {
        table.push_back({static_cast<std::uint8_t>(i * 16), static_cast<std::uint8_t>(255 - i), 7});
    }
    Bitmap bitmap(4, 4, PixelFormat::Bits8, table);
    for (int i = 0; i < 16; ++i) {
        bitmap.setIndex(i % 4, i / 4, static_cast<std::uint8_t>(15 - i));
    }
    GifImage gif;
    gif.assign(bitmap);
    const Bytes file = gif.saveToBytes();
    EXPECT_EQ(file[10], 0x33);  // resolution and size fields: 4 bits, no global table
    EXPECT_EQ(file[13], 0x2C);
    EXPECT_EQ(file[22], 0x83);
    EXPECT_EQ(file[22 + 1 + 48], 4);  // minimum code size after the 16-entry table
    const GifImage reloaded = load(file);
    EXPECT_EQ(reloaded.images()[0].colorTable().colors(), table);
    Bytes expected;
    for (int i = 0; i < 16; ++i) {
        expected.push_back(static_cast<std::uint8_t>(15 - i));
    }
    EXPECT_EQ(framePixels(reloaded.images()[0]), expected);
}

TEST(GifWriter, OneBitBitmapGivesATwoEntryTableAndCodeSizeTwo) {
    Bitmap bitmap(10, 2, PixelFormat::Bits1, {{10, 20, 30}, {200, 100, 50}});  // filled with 0
    bitmap.setIndex(1, 0, 1);
    bitmap.setIndex(8, 1, 1);
    GifImage gif;
    gif.assign(bitmap);
    const Bytes file = gif.saveToBytes();
    EXPECT_EQ(file[22], 0x80);
    EXPECT_EQ(file[23], 10);  // the two entries, nothing more
    EXPECT_EQ(file[26], 200);
    EXPECT_EQ(file[29], 2);
    const GifImage loaded = load(file);
    const GifFrame& frame = loaded.images()[0];
    EXPECT_EQ(frame.colorTable().count(), 2);
    Bytes expected(20, 0);
    expected[1] = 1;
    expected[18] = 1;
    EXPECT_EQ(framePixels(frame), expected);
}

TEST(GifWriter, FourBitBitmapIsUnpackedMostSignificantFirst) {
    std::vector<Rgb> table(16);
    for (int i = 0; i < 16; ++i) {
        table[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i), 1, 2};
    }
    Bitmap bitmap(3, 1, PixelFormat::Bits4, table);
    bitmap.setIndex(0, 0, 0xA);
    bitmap.setIndex(1, 0, 0x5);
    bitmap.setIndex(2, 0, 0xC);
    GifImage gif;
    gif.assign(bitmap);
    EXPECT_EQ(framePixels(load(gif.saveToBytes()).images()[0]), (Bytes{0xA, 0x5, 0xC}));
}

TEST(GifWriter, EmptyPictureHasNoVersion) {
    GifImage gif;
    try {
        gif.saveToBytes();
        FAIL() << "saved an empty picture";
    } catch (const GifError& e) {
        EXPECT_STREQ(e.what(), "Unsupported GIF version");
    }
}

TEST(GifWriter, IndexOutsideTheTableIsRefused) {
    GifImage gif;
    gif.addImage(GifFrame(0, 0, 2, 1, GifColorTable(kFour), {0, 4}));
    try {
        gif.saveToBytes();
        FAIL() << "saved index 4 of a 4-entry table";
    } catch (const GifError& e) {
        EXPECT_STREQ(e.what(), "Color not in color table");
    }
}

TEST(GifWriter, ExtensionsOrSortedTablesNeedVersion89a) {
    GifImage gif;
    gif.addImage(GifFrame(0, 0, 1, 1, GifColorTable(kFour), {1}));
    EXPECT_EQ(gif.version(), "87a");
    GifFrame sorted(0, 0, 1, 1, GifColorTable(kFour, true), {1});
    gif.addImage(sorted);
    EXPECT_EQ(gif.version(), "89a");
    const Bytes file = gif.saveToBytes();
    EXPECT_EQ(std::string(file.begin() + 3, file.begin() + 6), "89a");
    const GifImage reloaded = load(file);
    ASSERT_EQ(reloaded.images().size(), 2u);
    EXPECT_TRUE(reloaded.images()[1].colorTable().sorted());
}

TEST(GifWriter, ExtensionsRoundTrip) {
    GifFrame frame(1, 2, 2, 2, GifColorTable(kFour), {0, 1, 2, 3});
    frame.addExtension(GifGraphicControl{0x09, 25, 3});
    frame.addExtension(GifComment{std::string(600, 'c')});
    frame.addExtension(GifApplicationExtension{"NETSCAPE", "2.0", {{1, 7, 0}}});
    frame.addExtension(GifPlainText{{0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0}, "text"});
    // A text block without its grid, as read from a damaged file: no text sub-blocks follow.
    frame.addExtension(GifPlainText{{}, ""});
    GifImage gif;
    gif.setScreenSize(5, 5);
    gif.addImage(frame);
    const GifImage reloaded = load(gif.saveToBytes());
    EXPECT_EQ(reloaded.width(), 5);
    ASSERT_EQ(reloaded.images().size(), 1u);
    EXPECT_EQ(reloaded.images()[0].extensions(), frame.extensions());
    EXPECT_EQ(reloaded.images()[0].transparentIndex(), 3);
    EXPECT_EQ(reloaded.loopCount(), 7);
    EXPECT_EQ(reloaded.images()[0].left(), 1);
    EXPECT_EQ(reloaded.images()[0].top(), 2);
}

TEST(GifWriter, GlobalTableSmallerThanALocalOneStaysReadable) {
    // The size field covers the largest table, so the global table is padded to it.
    GifImage gif;
    gif.globalColorTable() = GifColorTable({{1, 2, 3}, {4, 5, 6}});
    std::vector<Rgb> big(200, Rgb{9, 9, 9});
    gif.addImage(GifFrame(0, 0, 2, 1, GifColorTable(big), {199, 5}));
    const GifImage reloaded = load(gif.saveToBytes());
    ASSERT_EQ(reloaded.images().size(), 1u);
    EXPECT_EQ(reloaded.globalColorTable().color(1), (Rgb{4, 5, 6}));
    EXPECT_EQ(framePixels(reloaded.images()[0]), (Bytes{199, 5}));
}

// ---------------------------------------------------------------- reading

TEST(GifReader, ReadsAHandMadeFile) {
    const Bytes file =
        GifBytes().header(3, 2, kFour).image(0, 0, 3, 2, {0, 1, 2, 3, 2, 1}).trailer().bytes();
    const GifImage gif = load(file);
    EXPECT_EQ(gif.width(), 3);
    EXPECT_EQ(gif.height(), 2);
    EXPECT_EQ(gif.globalColorTable().colors(), kFour);
    ASSERT_EQ(gif.images().size(), 1u);
    EXPECT_EQ(framePixels(gif.images()[0]), (Bytes{0, 1, 2, 3, 2, 1}));
}

TEST(GifReader, DecodesTableCodesIncludingTheCodeNotYetInTheTable) {
    // Clear, literal 0, then code 6 (the next free code: "0" + "0"), end: three zeros.
    // Codes of 3 bits: 100 000 110 101 -> 0x0B84.
    const Bytes file = GifBytes()
                           .header(3, 1, kFour)
                           .descriptor(0, 0, 3, 1, 0)
                           .data(2, {0x84, 0x0B})
                           .trailer()
                           .bytes();
    EXPECT_EQ(framePixels(load(file).images()[0]), (Bytes{0, 0, 0}));
    // 0, 1, 1, 0: the fourth code is read with 4 bits once the table reaches 8 -> 44 02 05.
    const Bytes widening = GifBytes()
                               .header(4, 1, kFour)
                               .descriptor(0, 0, 4, 1, 0)
                               .data(2, {0x44, 0x02, 0x05})
                               .trailer()
                               .bytes();
    EXPECT_EQ(framePixels(load(widening).images()[0]), (Bytes{0, 1, 1, 0}));
}

TEST(GifReader, FourJunkBytesBeforeTheSignatureAreSkipped) {
    GifBytes file;
    file.raw({0, 0, 0, 0}).header(2, 1, kFour).image(0, 0, 2, 1, {3, 2}).trailer();
    const GifImage gif = load(file.bytes());
    EXPECT_EQ(gif.width(), 2);
    EXPECT_EQ(framePixels(gif.images()[0]), (Bytes{3, 2}));
}

TEST(GifReader, ThreeJunkBytesFail) {
    GifBytes file;
    file.raw({0, 0, 0}).header(2, 1, kFour).image(0, 0, 2, 1, {3, 2}).trailer();
    EXPECT_EQ(loadError(file.bytes()), "Invalid GIF signature");
}

TEST(GifReader, SignatureIgnoresCaseAndVersion) {
    for (const std::string signature : {"gif89a", "GiF87a", "GIF90z"}) {
        GifBytes file;
        file.header(2, 1, kFour, signature).image(0, 0, 2, 1, {1, 2}).trailer();
        EXPECT_EQ(load(file.bytes()).width(), 2) << signature;
    }
}

TEST(GifReader, MissingTrailerIsTolerated) {
    GifBytes file;
    file.header(2, 1, kFour).image(0, 0, 2, 1, {1, 2});
    const GifImage gif = load(file.bytes());
    ASSERT_EQ(gif.images().size(), 1u);
    EXPECT_EQ(framePixels(gif.images()[0]), (Bytes{1, 2}));
}

TEST(GifReader, LzwDataCutShortKeepsTheDecodedRows) {
    Bytes pixels(40 * 10);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(1 + i % 3);
    }
    GifBytes full;
    full.header(40, 10, kFour).image(0, 0, 40, 10, pixels).trailer();
    // Cut in the middle of the data: no terminator, no trailer.
    Bytes cut(full.bytes().begin(), full.bytes().begin() + 13 + 12 + 10 + 60);
    const GifImage gif = load(cut);
    ASSERT_EQ(gif.images().size(), 1u);
    const GifFrame& frame = gif.images()[0];
    EXPECT_EQ(frame.width(), 40);
    EXPECT_EQ(frame.pixel(0, 0), 1);
    EXPECT_EQ(frame.pixel(39, 1), pixels[79]);
    EXPECT_EQ(frame.pixel(39, 9), 0);  // never reached
    // Rendering and saving take the missing rows as index 0.
    Bitmap bitmap;
    gif.assignTo(bitmap);
    EXPECT_EQ(bitmap.color(39, 9), kFour[0]);
    EXPECT_EQ(framePixels(load(gif.saveToBytes()).images()[0]), framePixels(frame));
}

TEST(GifReader, ZeroBytesBetweenBlocksAreSkippedAndAnUnknownByteEndsTheFrames) {
    GifBytes file;
    file.header(2, 1, kFour).raw({0, 0, 0}).image(0, 0, 2, 1, {1, 2}).raw({0, 0});
    file.image(0, 0, 2, 1, {3, 3}).raw({0x47}).image(0, 0, 2, 1, {0, 0}).trailer();
    const GifImage gif = load(file.bytes());
    ASSERT_EQ(gif.images().size(), 2u);
    EXPECT_EQ(framePixels(gif.images()[1]), (Bytes{3, 3}));
}

TEST(GifReader, FrameOfSizeZeroTakesTheScreenSize) {
    GifBytes file;
    file.header(2, 2, kFour)
        .descriptor(0, 0, 0, 7, 0)
        .data(2, literalLzw({1, 2, 3, 0}, 2))
        .trailer();
    const GifImage loaded = load(file.bytes());
    const GifFrame& frame = loaded.images()[0];
    EXPECT_EQ(frame.width(), 2);
    EXPECT_EQ(frame.height(), 2);
    EXPECT_EQ(framePixels(frame), (Bytes{1, 2, 3, 0}));
}

TEST(GifReader, InterlacedRowsArePutInPlace) {
    // Rows are sent in the order 0, 8 | 4 | 2, 6 | 1, 3, 5, 7, 9 for a height of 10.
    const std::array<int, 10> order{0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    Bytes stream;
    for (const int y : order) {
        stream.push_back(static_cast<std::uint8_t>(y % 4));
        stream.push_back(static_cast<std::uint8_t>((y / 4) % 4));
    }
    GifBytes file;
    file.header(2, 10, kFour).image(0, 0, 2, 10, stream, 2, 0x40).trailer();
    const GifImage loaded = load(file.bytes());
    const GifFrame& frame = loaded.images()[0];
    EXPECT_TRUE(frame.interlaced());
    for (int y = 0; y < 10; ++y) {
        EXPECT_EQ(frame.pixel(0, y), y % 4) << "row " << y;
        EXPECT_EQ(frame.pixel(1, y), (y / 4) % 4) << "row " << y;
    }
}

TEST(GifReader, InterlacedFrameWithoutLocalTableIsWrittenInterlaced) {
    Bytes stream;
    for (const int y : {0, 2, 1}) {  // height 3: passes give rows 0 | - | 2 | 1
        stream.push_back(static_cast<std::uint8_t>(y));
    }
    GifBytes file;
    file.header(1, 3, kFour).image(0, 0, 1, 3, stream, 2, 0x40).trailer();
    const Bytes saved = load(file.bytes()).saveToBytes();
    const GifImage loaded = load(saved);
    const GifFrame& frame = loaded.images()[0];
    EXPECT_TRUE(frame.interlaced());
    EXPECT_EQ(framePixels(frame), (Bytes{0, 1, 2}));
}

TEST(GifReader, ExtensionsAndLoopingBlockAreRead) {
    GifBytes file;
    file.header(2, 1, kFour).loop(5, "ANIMEXTS1.0").graphicControl(2, 40, 1);
    file.raw({0x21, 0xFE, 2, 'h', 'i', 0});
    file.raw({0x21, 0x01, 12, 0, 0, 0, 0, 8, 0, 8, 0, 8, 8, 1, 0, 1, 'x', 0});
    file.image(0, 0, 2, 1, {1, 2}).trailer();
    const GifImage gif = load(file.bytes());
    ASSERT_EQ(gif.images().size(), 1u);
    const GifFrame& frame = gif.images()[0];
    ASSERT_EQ(frame.extensions().size(), 4u);
    EXPECT_EQ(gif.loopCount(), 5);
    ASSERT_NE(frame.graphicControl(), nullptr);
    EXPECT_EQ(frame.graphicControl()->disposal(), GifDisposal::RestoreBackground);
    EXPECT_EQ(frame.graphicControl()->delay, 40);
    EXPECT_EQ(frame.transparentIndex(), 1);
    EXPECT_EQ(std::get<GifComment>(frame.extensions()[2]).text, "hi");
    EXPECT_EQ(std::get<GifPlainText>(frame.extensions()[3]).text, "x");
}

TEST(GifReader, ExtensionOnlyFrameAtTheEndIsKeptEmpty) {
    GifBytes file;
    file.header(2, 1, kFour).image(0, 0, 2, 1, {1, 2}).raw({0x21, 0xFE, 1, 'c', 0}).trailer();
    const GifImage gif = load(file.bytes());
    ASSERT_EQ(gif.images().size(), 2u);
    EXPECT_TRUE(gif.images()[1].empty());
    EXPECT_FALSE(GifAnimation(gif).animated());
}

TEST(GifReader, HugeFrameInATinyFileAllocatesOnlyWhatItsDataReaches) {
    GifBytes file;
    file.header(16, 16, kFour).image(0, 0, 65535, 65535, Bytes(300, 1)).trailer();
    const GifImage gif = load(file.bytes());
    const GifFrame& frame = gif.images()[0];
    EXPECT_EQ(frame.width(), 65535);
    EXPECT_EQ(frame.storedRows(), 1);
    EXPECT_EQ(frame.pixel(299, 0), 1);
    EXPECT_EQ(frame.pixel(300, 0), 0);
    EXPECT_EQ(frame.pixel(65534, 65534), 0);
    Bitmap bitmap;
    gif.assignTo(bitmap);
    EXPECT_EQ(bitmap.width(), 16);
    EXPECT_EQ(bitmap.color(15, 0), kFour[1]);
    EXPECT_EQ(bitmap.color(15, 15), kFour[0]);
}

TEST(GifReader, DataAfterTheLastPixelIsNotInterpreted) {
    // Two pixels, then a code far beyond the table: the frame was complete, so it loads.
    CodePacker packer;
    packer.put(4, 3);
    packer.put(1, 3);
    packer.put(2, 3);
    packer.put(7, 3);
    GifBytes file;
    file.header(2, 1, kFour).descriptor(0, 0, 2, 1, 0).data(2, packer.finish()).trailer();
    EXPECT_EQ(framePixels(load(file.bytes()).images()[0]), (Bytes{1, 2}));
}

struct ErrorRow {
    const char* what;
    Bytes file;
    const char* message;
};

std::ostream& operator<<(std::ostream& out, const ErrorRow& row) {
    return out << row.what;
}

Bytes cutAfter(const Bytes& bytes, std::size_t size) {
    return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)};
}

Bytes goodFile() {
    return GifBytes()
        .header(2, 1, kFour)
        .graphicControl(0, 0)
        .descriptor(0, 0, 2, 1, 0x81)
        .table(kFour)
        .data(2, literalLzw({1, 2}, 2))
        .trailer()
        .bytes();
}

Bytes withLzw(std::initializer_list<int> codes3Bits, int minCodeSize = 2) {
    CodePacker packer;
    for (const int code : codes3Bits) {
        packer.put(code, 3);
    }
    return GifBytes()
        .header(4, 1, kFour)
        .descriptor(0, 0, 4, 1, 0)
        .data(minCodeSize, packer.finish())
        .trailer()
        .bytes();
}

class GifReaderError : public testing::TestWithParam<ErrorRow> {};

TEST(GifReader, TheFileCutForTheErrorTableIsSound) {
    const GifImage gif = load(goodFile());
    ASSERT_EQ(gif.images().size(), 1u);
    EXPECT_EQ(framePixels(gif.images()[0]), (Bytes{1, 2}));
    EXPECT_EQ(gif.images()[0].colorTable().count(), 4);
}

TEST_P(GifReaderError, RaisesItsMessage) {
    EXPECT_EQ(loadError(GetParam().file), GetParam().message);
}

// Offsets in goodFile(): 13 header, 12 global table, 8 graphic control, 10 descriptor,
// 12 local table.
INSTANTIATE_TEST_SUITE_P(
    Table, GifReaderError,
    testing::Values(
        ErrorRow{"empty", {}, "Invalid GIF signature"},
        ErrorRow{"not a GIF", {'P', 'N', 'G', 0, 0, 0, 0, 0, 0, 0, 0, 0}, "Invalid GIF signature"},
        ErrorRow{"cut in the signature", {'G', 'I', 'F', '8'}, "Premature end of data"},
        ErrorRow{"cut in the screen", cutAfter(goodFile(), 10), "Premature end of data"},
        ErrorRow{"cut in the global table", cutAfter(goodFile(), 20), "Premature end of data"},
        ErrorRow{"cut after the introducer", cutAfter(goodFile(), 26), "Premature end of data"},
        ErrorRow{"cut in the graphic control", cutAfter(goodFile(), 30), "Premature end of data"},
        ErrorRow{"cut in the descriptor", cutAfter(goodFile(), 38), "Premature end of data"},
        ErrorRow{"cut in the local table", cutAfter(goodFile(), 50), "Premature end of data"},
        ErrorRow{"unknown extension label",
                 GifBytes().header(1, 1, kFour).raw({0x21, 0x2A, 0}).trailer().bytes(),
                 "Unknown extension type"},
        ErrorRow{"application block of 10",
                 GifBytes()
                     .header(1, 1, kFour)
                     .raw({0x21, 0xFF, 10})
                     .text("NETSCAPE2.")
                     .raw({0})
                     .trailer()
                     .bytes(),
                 "Unsupported Application Extension block size"},
        ErrorRow{"code beyond the next free code", withLzw({4, 0, 7, 5}), "Invalid GIF data"},
        ErrorRow{"table code right after a clear", withLzw({4, 6, 5}), "Invalid GIF data"},
        ErrorRow{"minimum code size 0", withLzw({4, 0, 5}, 0), "Invalid GIF data"},
        ErrorRow{"minimum code size 9", withLzw({4, 0, 5}, 9), "Invalid GIF data"}));

TEST(GifReader, ErrorRestoresThePositionAndKeepsCompleteFrames) {
    GifBytes file;
    file.raw({'x', 'y'}).header(2, 1, kFour).image(0, 0, 2, 1, {1, 2}).image(0, 0, 2, 1, {3, 0});
    file.raw({0x21, 0xF9, 4, 0});  // cut inside a graphic control extension
    GifImage gif;
    std::size_t position = 2;
    EXPECT_THROW(gif.loadFromStream(file.bytes(), position), GifError);
    EXPECT_EQ(position, 2u);
    EXPECT_EQ(gif.width(), 2);
    ASSERT_EQ(gif.images().size(), 2u);
    EXPECT_EQ(framePixels(gif.images()[1]), (Bytes{3, 0}));
}

TEST(GifReader, StreamPositionEndsAfterTheTrailer) {
    GifBytes file;
    file.header(2, 1, kFour).image(0, 0, 2, 1, {1, 2}).trailer().raw({1, 2, 3});
    GifImage gif;
    std::size_t position = 0;
    gif.loadFromStream(file.bytes(), position);
    EXPECT_EQ(position, file.bytes().size() - 3);
}

TEST(GifReader, UnreadableFilesArePlainErrors) {
    test::TempDir dir;
    for (const auto& path : {std::filesystem::path("/nonexistent/folder/x.gif"), dir.path()}) {
        GifImage gif;
        try {
            gif.loadFromFile(path);
            FAIL() << path << " loaded";
        } catch (const GifError& e) {
            FAIL() << path << " is not a format error: " << e.what();
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find(path.string()), std::string::npos) << e.what();
        }
    }
}

TEST(GifReader, FileRoundTrip) {
    test::TempDir dir;
    GifImage gif;
    gif.assign(bitmapOfColors(3, 1, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}}));
    gif.saveToFile(dir / "a.gif");
    GifImage loaded;
    loaded.loadFromFile(dir / "a.gif");
    EXPECT_EQ(framePixels(loaded.images()[0]), (Bytes{180, 30, 5}));
}

// ---------------------------------------------------------------- colour tables

TEST(GifColorTable, GrowsBySixteenThenThirtyTwoUpTo256) {
    GifColorTable table;
    EXPECT_EQ(table.capacity(), 0);
    table.add({});
    EXPECT_EQ(table.capacity(), 16);
    for (int i = 1; i < 17; ++i) {
        table.add({});
    }
    EXPECT_EQ(table.capacity(), 48);
    while (table.count() < 256) {
        table.add({});
    }
    EXPECT_EQ(table.capacity(), 256);
    try {
        table.add({});
        FAIL();
    } catch (const GifError& e) {
        EXPECT_STREQ(e.what(), "Color table overflow");
    }
}

TEST(GifColorTable, LookupsOutsideTheTableFail) {
    GifColorTable table;
    try {
        table.color(0);
        FAIL();
    } catch (const GifError& e) {
        EXPECT_STREQ(e.what(), "Color table is empty");
    }
    table.add({1, 2, 3});
    try {
        table.color(1);
        FAIL();
    } catch (const GifError& e) {
        EXPECT_STREQ(e.what(), "Invalid color index");
    }
}

TEST(GifColorTable, BitsPerPixel) {
    EXPECT_EQ(colorBitsPerPixel(0), 0);
    EXPECT_EQ(colorBitsPerPixel(1), 1);
    EXPECT_EQ(colorBitsPerPixel(2), 1);
    EXPECT_EQ(colorBitsPerPixel(3), 2);
    EXPECT_EQ(colorBitsPerPixel(16), 4);
    EXPECT_EQ(colorBitsPerPixel(17), 5);
    EXPECT_EQ(colorBitsPerPixel(256), 8);
}

// ---------------------------------------------------------------- rendering

TEST(GifRendering, SmallFrameIsAssignedAtItsOffsetOnAScreenSizedBitmap) {
    GifBytes file;
    file.header(5, 4, kFour).image(2, 1, 2, 2, {0, 1, 2, 3}).trailer();
    Bitmap bitmap;
    load(file.bytes()).assignTo(bitmap);
    ASSERT_EQ(bitmap.width(), 5);
    ASSERT_EQ(bitmap.height(), 4);
    const Rgb white{255, 255, 255};
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x) {
            const bool inside = x >= 2 && x < 4 && y >= 1 && y < 3;
            const Rgb expected =
                inside ? kFour[static_cast<std::size_t>((y - 1) * 2 + (x - 2))] : white;
            EXPECT_EQ(bitmap.color(x, y), expected) << x << "," << y;
        }
    }
}

TEST(GifRendering, ScreenSizedFrameIsAssignedAsAnEightBitCopyKeepingTransparentColours) {
    GifBytes file;
    file.header(2, 1, kFour).graphicControl(0, 0, 1).image(0, 0, 2, 1, {1, 2}).trailer();
    Bitmap bitmap;
    load(file.bytes()).assignTo(bitmap);
    EXPECT_EQ(bitmap.format(), PixelFormat::Bits8);
    EXPECT_EQ(bitmap.colorTable(), kFour);
    EXPECT_EQ(bitmap.color(0, 0), kFour[1]);
    EXPECT_EQ(bitmap.color(1, 0), kFour[2]);
}

TEST(GifRendering, TransparentPixelsDrawnOverWhiteStayWhite) {
    GifBytes file;
    file.header(3, 1, kFour).graphicControl(0, 0, 0).image(0, 0, 3, 1, {0, 2, 0}).trailer();
    Bitmap canvas(3, 1);
    load(file.bytes()).draw(canvas, Rect{0, 0, 3, 1});
    EXPECT_EQ(canvas.color(0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(canvas.color(1, 0), kFour[2]);
    EXPECT_EQ(canvas.color(2, 0), (Rgb{255, 255, 255}));
}

TEST(GifRendering, DrawingScalesByRectangleOverScreen) {
    // A 2x2 frame at (2, 0) of a 4x2 screen drawn into an 8x4 rectangle at (1, 1).
    GifBytes file;
    file.header(4, 2, kFour).image(2, 0, 2, 2, {0, 1, 2, 3}).trailer();
    Bitmap canvas(10, 6);
    load(file.bytes()).draw(canvas, Rect{1, 1, 9, 5});
    const Rgb white{255, 255, 255};
    EXPECT_EQ(canvas.color(4, 1), white);
    EXPECT_EQ(canvas.color(5, 1), kFour[0]);
    EXPECT_EQ(canvas.color(6, 2), kFour[0]);
    EXPECT_EQ(canvas.color(7, 1), kFour[1]);
    EXPECT_EQ(canvas.color(8, 4), kFour[3]);
    EXPECT_EQ(canvas.color(5, 3), kFour[2]);
    EXPECT_EQ(canvas.color(9, 1), white);
    EXPECT_EQ(canvas.color(5, 5), white);
}

TEST(GifRendering, FrameBeyondTheScreenIsClippedAndOutOfTableIndicesAreBlack) {
    const std::vector<Rgb> two{{255, 0, 0}, {0, 0, 255}};
    GifBytes file;
    // 3x1 frame at x = 1 of a 2x1 screen; index 3 is outside the 2-entry table.
    file.header(2, 1, two).image(1, 0, 3, 1, {3, 1, 1}).trailer();
    Bitmap canvas(4, 1);
    load(file.bytes()).draw(canvas, Rect{0, 0, 2, 1});
    EXPECT_EQ(canvas.color(0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(canvas.color(1, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(canvas.color(2, 0), (Rgb{255, 255, 255}));  // beyond the screen: not drawn
}

TEST(GifRendering, EmptyPictureDrawsAndAssignsNothing) {
    GifImage gif;
    Bitmap canvas(2, 2);
    gif.draw(canvas, Rect{0, 0, 2, 2});
    EXPECT_EQ(canvas, Bitmap(2, 2));
    Bitmap target(1, 1);
    gif.assignTo(target);
    EXPECT_EQ(target, Bitmap(1, 1));
}

TEST(GifRendering, AnimatedPictureDrawsItsFirstFrame) {
    GifBytes file;
    file.header(2, 1, kFour).loop(0).graphicControl(1, 5).image(0, 0, 2, 1, {1, 1});
    file.graphicControl(1, 5).image(0, 0, 2, 1, {2, 2}).trailer();
    Bitmap canvas(2, 1);
    load(file.bytes()).draw(canvas, Rect{0, 0, 2, 1});
    EXPECT_EQ(canvas.color(0, 0), kFour[1]);
    EXPECT_EQ(canvas.color(1, 0), kFour[1]);
}

// A frame with pixels and neither a local nor a global table has no colours to draw with.
TEST(GifRendering, FrameWithoutAnyColorTableCannotBeDrawn) {
    GifBytes file;
    file.header(2, 1).image(0, 0, 2, 1, {1, 0}).trailer();
    const GifImage gif = load(file.bytes());
    const std::string message = "No global or local color table defined";
    Bitmap canvas(2, 1);
    Bitmap target;
    for (const auto& render : std::vector<std::function<void()>>{
             [&] {
                 gif.draw(canvas, Rect{0, 0, 2, 1});
             },
             [&] { gif.assignTo(target); }, [&] { GifAnimation animation(gif); }}) {
        try {
            render();
            ADD_FAILURE() << "no error";
        } catch (const GifError& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
    EXPECT_EQ(canvas, Bitmap(2, 1));  // nothing drawn
    // A local table is enough without a global one.
    GifBytes local;
    local.header(2, 1).descriptor(0, 0, 2, 1, 0x81).table(kFour);
    local.data(2, literalLzw({1, 0}, 2)).trailer();
    load(local.bytes()).assignTo(target);
    EXPECT_EQ(target.color(0, 0), kFour[1]);
    EXPECT_EQ(target.color(1, 0), kFour[0]);
}

// ---------------------------------------------------------------- LZW round trips

GifImage roundTrip(int width, int height, const GifColorTable& table, const Bytes& pixels) {
    GifImage gif;
    gif.addImage(GifFrame(0, 0, width, height, table, ByteBuffer(pixels.begin(), pixels.end())));
    return load(gif.saveToBytes());
}

GifColorTable tableOf(int entries) {
    std::vector<Rgb> colors;
    for (int i = 0; i < entries; ++i) {
        colors.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 7),
                          static_cast<std::uint8_t>(255 - i)});
    }
    return GifColorTable(colors);
}

struct LzwRow {
    const char* what;
    int entries;
    int width;
    int height;
    int pattern;  // 0 random, 1 flat, 2 gradient, 3 stripes, 4 runs of random length
};

std::ostream& operator<<(std::ostream& out, const LzwRow& row) {
    return out << row.what;
}

Bytes patternPixels(const LzwRow& row) {
    std::mt19937 random(1234);
    Bytes pixels(static_cast<std::size_t>(row.width) * static_cast<std::size_t>(row.height));
    std::size_t runLeft = 0;
    std::uint8_t runValue = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const auto x = static_cast<int>(i % static_cast<std::size_t>(row.width));
        const auto y = static_cast<int>(i / static_cast<std::size_t>(row.width));
        int value = 0;
        switch (row.pattern) {
            case 0:
                value = static_cast<int>(random() % static_cast<unsigned>(row.entries));
                break;
            case 1:
                value = row.entries - 1;
                break;
            case 2:
                value = (x + y) % row.entries;
                break;
            case 3:
                value = (y / 3) % row.entries;
                break;
            default:
                if (runLeft == 0) {
                    runLeft = 1 + random() % 40;
                    runValue =
                        static_cast<std::uint8_t>(random() % static_cast<unsigned>(row.entries));
                }
                --runLeft;
                value = runValue;
                break;
        }
        pixels[i] = static_cast<std::uint8_t>(value);
    }
    return pixels;
}

class GifLzw : public testing::TestWithParam<LzwRow> {};

TEST_P(GifLzw, RoundTripsThroughSeveralTableResets) {
    const LzwRow& row = GetParam();
    const Bytes pixels = patternPixels(row);
    const GifImage reloaded = roundTrip(row.width, row.height, tableOf(row.entries), pixels);
    ASSERT_EQ(reloaded.images().size(), 1u);
    const Bytes decoded = framePixels(reloaded.images()[0]);
    ASSERT_EQ(decoded.size(), pixels.size());
    const auto mismatch = std::mismatch(decoded.begin(), decoded.end(), pixels.begin());
    EXPECT_TRUE(mismatch.first == decoded.end())
        << "first difference at pixel " << (mismatch.first - decoded.begin());
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, GifLzw,
    testing::Values(LzwRow{"random256", 256, 640, 480, 0}, LzwRow{"random4", 4, 700, 500, 0},
                    LzwRow{"random2", 2, 1000, 300, 0}, LzwRow{"random16", 16, 333, 777, 0},
                    LzwRow{"flat256", 256, 2000, 1500, 1}, LzwRow{"gradient256", 256, 1024, 768, 2},
                    LzwRow{"stripes8", 8, 999, 401, 3}, LzwRow{"runs256", 256, 800, 600, 4},
                    LzwRow{"runs3", 3, 513, 257, 4}, LzwRow{"onePixel", 2, 1, 1, 0},
                    LzwRow{"oneRow", 256, 5000, 1, 0}, LzwRow{"column", 5, 1, 3000, 4}));

// ---------------------------------------------------------------- decoder against a plain one

// A random but valid code stream as an unusual encoder may write it: long strings, the code
// being defined, clear codes anywhere, with or without an end code. `decoded` is what a table
// of whole strings, the plainest possible decoder, makes of it.
struct CodeStream {
    int minCodeSize;
    Bytes data;
    Bytes decoded;
};

// Shares per thousand codes: clear codes, the code being defined, and table codes (four in
// seven among the `recent` last defined); the rest are literals.
struct CodeMix {
    int clears = 3;
    int defining = 147;
    int table = 700;
    int recent = 8;
};

CodeStream randomCodeStream(std::mt19937& random, int minCodeSize, int codes, bool endCode,
                            const CodeMix& mix = {}) {
    const int clear = 1 << minCodeSize;
    const auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::vector<Bytes> strings;
    int width = 0;
    std::optional<Bytes> previous;
    CodePacker packer;
    const auto reset = [&] {
        strings.assign(static_cast<std::size_t>(clear) + 2, Bytes{});
        for (int i = 0; i < clear; ++i) {
            strings[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i)};
        }
        width = minCodeSize + 1;
        previous.reset();
    };
    reset();
    CodeStream stream{minCodeSize, {}, {}};
    packer.put(clear, width);
    for (int n = 0; n < codes; ++n) {
        const int choice = below(1000);
        if (choice < mix.clears) {
            packer.put(clear, width);
            reset();
            continue;
        }
        const int defined = static_cast<int>(strings.size()) - (clear + 2);
        int code = below(clear);
        const int tableChoice = choice - mix.clears - mix.defining;
        if (previous && choice < mix.clears + mix.defining && strings.size() < 4096) {
            code = static_cast<int>(strings.size());  // the code being defined
        } else if (previous && tableChoice >= 0 && tableChoice < mix.table && defined > 0) {
            // Mostly recent codes, whose strings are the longest.
            const int back = tableChoice < mix.table * 4 / 7 ? below(std::min(defined, mix.recent))
                                                             : below(defined);
            code = static_cast<int>(strings.size()) - 1 - back;
        }
        const Bytes string = code < static_cast<int>(strings.size())
                                 ? strings[static_cast<std::size_t>(code)]
                                 : [&] {
                                       Bytes s = *previous;
                                       s.push_back(previous->front());
                                       return s;
                                   }();
        packer.put(code, width);
        stream.decoded.insert(stream.decoded.end(), string.begin(), string.end());
        if (previous && strings.size() < 4096) {
            Bytes entry = *previous;
            entry.push_back(string.front());
            strings.push_back(std::move(entry));
            if (static_cast<int>(strings.size()) == (1 << width) && width < 12) {
                ++width;
            }
        }
        previous = string;
    }
    if (endCode) {
        packer.put(clear + 1, width);
    }
    stream.data = packer.finish();
    return stream;
}

// The frame a plain decoder fills from `linear`: rows in interlaced order when asked, the
// indices beyond the frame dropped, the pixels the data never reached index 0.
Bytes placedFrame(const Bytes& linear, int width, int height, bool interlaced) {
    std::vector<int> order;
    if (interlaced) {
        for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
            for (int y = start; y < height; y += step) {
                order.push_back(y);
            }
        }
    } else {
        for (int y = 0; y < height; ++y) {
            order.push_back(y);
        }
    }
    Bytes frame(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    const std::size_t count = std::min(linear.size(), frame.size());
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t row = i / static_cast<std::size_t>(width);
        const std::size_t x = i % static_cast<std::size_t>(width);
        frame[static_cast<std::size_t>(order[row]) * static_cast<std::size_t>(width) + x] =
            linear[i];
    }
    return frame;
}

// Expects the frame a file with this code stream decodes to to match the plain decoder.
void expectFrameOf(const CodeStream& stream, int width, int height, bool interlaced,
                   int blockSize = 255) {
    GifBytes file;
    file.header(width, height, tableOf(256).colors())
        .descriptor(0, 0, width, height, interlaced ? 0x40 : 0)
        .data(stream.minCodeSize, stream.data, true, static_cast<std::size_t>(blockSize))
        .trailer();
    const GifImage gif = load(file.bytes());
    ASSERT_EQ(gif.images().size(), 1u);
    const Bytes expected = placedFrame(stream.decoded, width, height, interlaced);
    const Bytes decoded = framePixels(gif.images()[0]);
    const auto mismatch = std::mismatch(decoded.begin(), decoded.end(), expected.begin());
    ASSERT_TRUE(mismatch.first == decoded.end())
        << width << " x " << height << (interlaced ? " interlaced" : "") << ", minimum code size "
        << stream.minCodeSize << ", first difference at pixel "
        << (mismatch.first - decoded.begin());
}

TEST(GifLzwDecoder, MatchesAPlainDecoderOnRandomCodeStreams) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; ++round) {
        // From 2, as encoders write it: with 1 the codes stay 2 bits wide, too narrow for any
        // table code.
        const int minCodeSize = 2 + static_cast<int>(random() % 7);
        const int codes = 1 + static_cast<int>(random() % (round % 10 == 0 ? 60000 : 3000));
        const bool endCode = random() % 4 != 0;
        const CodeStream stream = randomCodeStream(random, minCodeSize, codes, endCode);
        // Frames smaller than the data, about its size, and larger: cut strings, rows partly
        // reached, rows never reached.
        const std::size_t length = stream.decoded.size();
        const int width = 1 + static_cast<int>(random() % 700);
        const auto fullRows = static_cast<int>(
            std::min<std::size_t>(length / static_cast<std::size_t>(width), 65535));
        const int height = std::clamp(fullRows + static_cast<int>(random() % 7) - 3, 1, 65535);
        const bool interlaced = random() % 3 == 0;
        const int blockSize = 1 + static_cast<int>(random() % 255);
        SCOPED_TRACE("round " + std::to_string(round));
        expectFrameOf(stream, width, height, interlaced, blockSize);
        if (testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

// 65536 indices, just the decoder's first storage, in rows of 1000: the last row reached
// passes the end of that storage and must still be stored whole.
TEST(GifLzwDecoder, LastRowPastTheFirstStorageIsStoredWhole) {
    constexpr std::size_t kTotal = 65536;
    CodeStream stream{8, {}, {}};
    CodePacker packer;
    int width = 9;
    int nextCode = 258;
    const auto put = [&](int code, bool defines) {
        packer.put(code, width);
        if (defines) {
            ++nextCode;
            if (nextCode == (1 << width) && width < 12) {
                ++width;
            }
        }
    };
    put(256, false);
    put(1, false);
    stream.decoded.push_back(1);
    std::size_t length = 1;
    while (stream.decoded.size() + length + 1 <= kTotal) {
        put(nextCode, true);  // the previous string and its first index again
        ++length;
        stream.decoded.insert(stream.decoded.end(), length, 1);
    }
    while (stream.decoded.size() < kTotal) {
        put(2, true);
        stream.decoded.push_back(2);
    }
    put(257, false);
    stream.data = packer.finish();
    expectFrameOf(stream, 1000, 100, false);
}

// Each code the one being defined: strings of 1 to 3841 indices, megabytes from a little
// data, so the storage moves many times while the table points into it. (A table left
// pointing at the storage given up still reads the same indices; the sanitizer build sees it.)
TEST(GifLzwDecoder, FollowsItsStorageAsItGrows) {
    std::mt19937 random(42);
    const CodeStream stream = randomCodeStream(random, 8, 6000, true, {0, 1000, 0, 1});
    ASSERT_GT(stream.decoded.size(), std::size_t{4} << 20);
    const int width = 1000;
    expectFrameOf(stream, width, static_cast<int>(stream.decoded.size() / width), false);
}

// ---------------------------------------------------------------- independent decoder

const char* const kPythonDecoder = R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
print(im.mode, im.size[0], im.size[1])
print(bytes(im.getdata()).hex())
)";

// The first frame's mode, size and indices as Pillow decodes them, or nullopt without Pillow.
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

std::string hex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

TEST(GifIndependentDecoder, PillowReadsTheWrittenIndices) {
    test::TempDir dir;
    struct Case {
        std::string name;
        GifImage gif;
        Bytes indices;
        int width;
        int height;
    };
    std::vector<Case> cases;
    {
        LzwRow rows[] = {{"random", 256, 300, 200, 0},
                         {"runs", 256, 640, 480, 4},
                         {"four", 4, 97, 61, 0},
                         {"flat", 16, 512, 512, 1}};
        for (const LzwRow& row : rows) {
            GifImage gif;
            const Bytes pixels = patternPixels(row);
            gif.addImage(GifFrame(0, 0, row.width, row.height, tableOf(row.entries),
                                  ByteBuffer(pixels.begin(), pixels.end())));
            cases.push_back({row.what, gif, pixels, row.width, row.height});
        }
        std::vector<Rgb> colors;
        Bytes expected;
        for (int i = 0; i < 64 * 48; ++i) {
            const Rgb c{static_cast<std::uint8_t>(i * 5), static_cast<std::uint8_t>(i / 12),
                        static_cast<std::uint8_t>(i * 11)};
            colors.push_back(c);
            expected.push_back(webPaletteIndex(c));
        }
        GifImage reduced;
        reduced.assign(bitmapOfColors(64, 48, colors));
        cases.push_back({"webPalette", reduced, expected, 64, 48});
    }
    for (const Case& c : cases) {
        const auto file = dir / (c.name + ".gif");
        c.gif.saveToFile(file);
        const auto decoded = decodeWithPillow(file, dir);
        if (!decoded) {
            GTEST_SKIP() << "Debian's Pillow (/usr/bin/python3 with PIL) is not available";
        }
        const std::string expected = "P " + std::to_string(c.width) + " " +
                                     std::to_string(c.height) + "\n" + hex(c.indices) + "\n";
        EXPECT_TRUE(*decoded == expected)
            << c.name << ": Pillow read " << decoded->substr(0, 80) << "...";
    }
}

// ---------------------------------------------------------------- rows drawn as read

// drawnRows gives, from any row on, what draw() gives on a white screen-sized bitmap.
void expectRowsAsDrawn(const GifImage& gif) {
    Bitmap drawn(gif.width(), gif.height());
    gif.draw(drawn, Rect{0, 0, gif.width(), gif.height()});
    const std::unique_ptr<PictureRows> rows = drawnRows(gif);
    ASSERT_EQ(rows->width(), gif.width());
    ASSERT_EQ(rows->height(), gif.height());
    EXPECT_EQ(rows->skipCost(), 0.0);
    for (const int first : {0, gif.height() / 2, gif.height() - 1}) {
        EXPECT_EQ(test::readRows(*rows, first), test::whiteAbove(drawn, first))
            << "from row " << first;
    }
    EXPECT_EQ(rows->incomplete(), !gif.empty() && !gif.images().front().complete());
}

TEST(GifDrawnRows, AreTheRowsDrawOnWhiteGives) {
    Bytes tall(18 * 37);
    for (std::size_t i = 0; i < tall.size(); ++i) {
        tall[i] = static_cast<std::uint8_t>(i * 7 % 5 % 4);
    }
    const std::vector<Rgb> two{{255, 0, 0}, {0, 0, 255}};
    GifBytes offset, taller, beyond, animated, noFrame;
    offset.header(5, 4, kFour).graphicControl(0, 0, 2).image(2, 1, 2, 2, {0, 1, 2, 3}).trailer();
    taller.header(20, 40, kFour).graphicControl(0, 0, 3).image(1, 2, 18, 37, tall).trailer();
    beyond.header(2, 1, two).image(1, 0, 3, 1, {3, 1, 1}).trailer();
    animated.header(2, 3, kFour).loop(0).graphicControl(1, 5).image(0, 0, 2, 3, {1, 1, 2, 2, 3, 3});
    animated.graphicControl(1, 5).image(0, 0, 2, 3, {0, 0, 0, 0, 0, 0}).trailer();
    noFrame.header(3, 2, kFour).trailer();
    std::vector<std::pair<std::string, Bytes>> files{
        {"frame at an offset, transparent index", offset.bytes()},
        {"taller than a block of rows, transparent index", taller.bytes()},
        {"frame beyond the screen, index outside the table", beyond.bytes()},
        {"animated", animated.bytes()},
        {"no frame", noFrame.bytes()}};
    Bytes pixels(40 * 10);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        pixels[i] = static_cast<std::uint8_t>(1 + i % 3);
    }
    GifBytes full;
    full.header(40, 10, kFour).image(0, 0, 40, 10, pixels).trailer();
    files.emplace_back("data cut short",
                       Bytes(full.bytes().begin(), full.bytes().begin() + 13 + 12 + 10 + 60));
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        expectRowsAsDrawn(load(bytes));
    }
    EXPECT_FALSE(load(files.back().second).images().front().complete());
}

TEST(GifDrawnRows, FrameWithoutAnyColorTableFailsBeforeAnyRow) {
    GifBytes file;
    file.header(2, 1).image(0, 0, 2, 1, {1, 0}).trailer();
    try {
        drawnRows(load(file.bytes()));
        ADD_FAILURE() << "no error";
    } catch (const GifError& error) {
        EXPECT_EQ(std::string(error.what()), "No global or local color table defined");
    }
}

// ---------------------------------------------------------------- corpus

using test::CorpusEntry;
using test::CorpusOutcome;

class GifCorpusFile : public testing::TestWithParam<CorpusEntry> {};

// The file loads at its size, or fails with the message its row gives; what loads renders.
TEST_P(GifCorpusFile, GivesTheExpectedOutcome) {
    const CorpusEntry& entry = GetParam();
    if (entry.file.empty()) {
        GTEST_SKIP() << test::corpusAbsentMessage();
    }
    const Bytes bytes = test::readFile(test::corpusFolder("gif") / entry.file);
    GifImage gif;
    std::string error;
    try {
        gif.loadFromBytes(bytes);
    } catch (const GifError& e) {
        error = e.what();
    }
    switch (entry.outcome) {
        case CorpusOutcome::Loads:
            EXPECT_EQ(error, "");
            EXPECT_EQ(gif.width(), entry.size->width);
            EXPECT_EQ(gif.height(), entry.size->height);
            break;
        case CorpusOutcome::MustFail:
            ASSERT_NE(entry.failure, "") << "the manifest names the message of every GIF failure";
            EXPECT_EQ(error, entry.failure);
            break;
        case CorpusOutcome::LeavesOpen:
            break;
        case CorpusOutcome::Unrecognised:
            ADD_FAILURE() << "the manifest gives no outcome";
            break;
    }
    // Whatever was read renders without fault while the screen is of sensible size, or
    // refuses a first frame without colours.
    if (!gif.empty() && static_cast<long long>(gif.width()) * gif.height() <= 4096LL * 4096) {
        try {
            Bitmap bitmap;
            gif.assignTo(bitmap);
            Bitmap canvas(37, 23);
            gif.draw(canvas, Rect{-3, 2, 40, 20});
            if (gif.width() > 0 && gif.height() > 0) {
                expectRowsAsDrawn(gif);
            }
            GifAnimation animation(gif);
            for (int step = 0; step < 200 && animation.advance(); ++step) {
                EXPECT_EQ(animation.current().width(), gif.width());
            }
        } catch (const GifError& e) {
            EXPECT_EQ(std::string(e.what()), "No global or local color table defined");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Manifest, GifCorpusFile, testing::ValuesIn(test::corpusTestEntries("gif")),
                         [](const auto& row) { return test::corpusTestName(row.param); });

TEST(GifCorpus, InterlacedAndProgressiveTwinsDecodeAlike) {
    const auto folder = test::corpusFolder("gif");
    if (folder.empty()) {
        GTEST_SKIP() << test::corpusAbsentMessage();
    }
    for (const auto& [plain, interlaced] :
         {std::pair{"giflib-treescap.gif", "giflib-treescap-interlaced.gif"},
          std::pair{"go-video-001.gif", "go-video-001.interlaced.gif"}}) {
        GifImage a;
        GifImage b;
        a.loadFromFile(folder / plain);
        b.loadFromFile(folder / interlaced);
        Bitmap first;
        Bitmap second;
        a.assignTo(first);
        b.assignTo(second);
        EXPECT_TRUE(first.to24() == second.to24()) << plain;
    }
}

}  // namespace
}  // namespace tz
