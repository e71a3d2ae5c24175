// EXIF blocks: the orientation read from blocks written by hand in both byte orders, damaged
// blocks that must give nothing, and re-made blocks read back by exiftool.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/photo_metadata.h"
#include "support/support.h"
#include "tz/exif.h"

namespace tz {
namespace {

using test::asciiField;
using test::Bytes;
using test::ExifContents;
using test::kOrientationTag;
using test::longField;
using test::shortField;

struct OrientationRow {
    const char* description;
    bool bigEndian;
    test::TiffField field;
    Orientation expected;
};

class ExifOrientationTag : public testing::TestWithParam<OrientationRow> {};

TEST_P(ExifOrientationTag, IsReadFromTheFirstDirectory) {
    const OrientationRow& row = GetParam();
    ExifContents contents;
    contents.bigEndian = row.bigEndian;
    contents.primary = {asciiField(test::kMakeTag, "Phone"), row.field};
    EXPECT_EQ(exifOrientation(test::exifBlock(contents)), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ExifOrientationTag,
    testing::Values(OrientationRow{"one_little_endian", false, shortField(kOrientationTag, 1),
                                   Orientation::Normal},
                    OrientationRow{"two_big_endian", true, shortField(kOrientationTag, 2),
                                   Orientation::MirrorHorizontal},
                    OrientationRow{"three_little_endian", false, shortField(kOrientationTag, 3),
                                   Orientation::Rotate180},
                    OrientationRow{"four_big_endian", true, shortField(kOrientationTag, 4),
                                   Orientation::MirrorVertical},
                    OrientationRow{"five_little_endian", false, shortField(kOrientationTag, 5),
                                   Orientation::Transpose},
                    OrientationRow{"six_big_endian", true, shortField(kOrientationTag, 6),
                                   Orientation::Rotate90},
                    OrientationRow{"six_little_endian", false, shortField(kOrientationTag, 6),
                                   Orientation::Rotate90},
                    OrientationRow{"seven_little_endian", false, shortField(kOrientationTag, 7),
                                   Orientation::Transverse},
                    OrientationRow{"eight_big_endian", true, shortField(kOrientationTag, 8),
                                   Orientation::Rotate270},
                    OrientationRow{"zero_is_no_orientation", false, shortField(kOrientationTag, 0),
                                   Orientation::Normal},
                    OrientationRow{"nine_is_no_orientation", true, shortField(kOrientationTag, 9),
                                   Orientation::Normal},
                    OrientationRow{"a_long_is_not_the_tag", false, longField(kOrientationTag, 6),
                                   Orientation::Normal},
                    OrientationRow{"absent", false, shortField(0x0131, 6), Orientation::Normal}),
    [](const auto& rowInfo) { return std::string(rowInfo.param.description); });

// A block with every part the re-making touches: orientation 6 (turn right), a Make, an Exif
// directory with the pixel size as shorts and a date, and a 200-byte thumbnail.
ExifContents phoneContents(bool bigEndian = false) {
    ExifContents contents;
    contents.bigEndian = bigEndian;
    contents.primary = {asciiField(test::kMakeTag, "Phone"), shortField(kOrientationTag, 6)};
    contents.exif = {asciiField(test::kDateTimeOriginalTag, "2024:05:01 10:20:30"),
                     shortField(test::kPixelXDimensionTag, 4000),
                     shortField(test::kPixelYDimensionTag, 3000)};
    contents.thumbnail = Bytes(200, 0xAB);
    contents.thumbnail[0] = 0xFF;
    contents.thumbnail[1] = 0xD8;
    return contents;
}

struct DamageRow {
    const char* description;
    Bytes (*damage)(Bytes block);
};

class ExifDamagedBlock : public testing::TestWithParam<DamageRow> {};

TEST_P(ExifDamagedBlock, GivesNoOrientationAndNoBlock) {
    const Bytes block = GetParam().damage(test::exifBlock(phoneContents()));
    EXPECT_EQ(exifOrientation(block), Orientation::Normal);
    EXPECT_TRUE(exifForOutput(block, 10, 10, Orientation::Normal).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Damage, ExifDamagedBlock,
    testing::Values(DamageRow{"empty", [](Bytes) { return Bytes{}; }},
                    DamageRow{"header_only",
                              [](Bytes b) { return Bytes(b.begin(), b.begin() + 6); }},
                    DamageRow{"cut_inside_the_tiff_header",
                              [](Bytes b) { return Bytes(b.begin(), b.begin() + 10); }},
                    DamageRow{"tiff_without_the_exif_header",
                              [](Bytes b) { return Bytes(b.begin() + 6, b.end()); }},
                    DamageRow{"unknown_byte_order",
                              [](Bytes b) {
                                  b[test::kTiffStart] = 'X';
                                  b[test::kTiffStart + 1] = 'X';
                                  return b;
                              }},
                    DamageRow{"first_directory_beyond_the_end",
                              [](Bytes b) {
                                  b[test::kTiffStart + 7] =
                                      0x7F;  // offset 0x7F000008, little-endian
                                  return b;
                              }}),
    [](const auto& rowInfo) { return std::string(rowInfo.param.description); });

TEST(ExifDamagedBlock, RandomDamageNeverFailsAndGivesParsableBlocks) {
    const Bytes original = test::exifBlock(phoneContents(true));
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round) {
        Bytes block = original;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < flips; ++i) {
            // Past the "Exif" header, so libexif reads the damage rather than refusing early.
            block[6 + random() % (block.size() - 6)] = static_cast<std::uint8_t>(random());
        }
        if (round % 3 == 0) {
            block.resize(6 + random() % (block.size() - 6));
        }
        const auto value = static_cast<int>(exifOrientation(block));
        EXPECT_TRUE(value >= 1 && value <= 8) << "round " << round;
        const Bytes remade = exifForOutput(block, 640, 480, Orientation::Normal);
        if (!remade.empty()) {
            EXPECT_EQ(exifOrientation(remade), Orientation::Normal) << "round " << round;
            EXPECT_LE(remade.size(), 65533u);
        }
    }
}

// An EXIF block in a file exiftool reads: SOI, the APP1 segment, EOI.
std::map<std::string, std::string> exiftoolReading(const Bytes& block) {
    Bytes file = {0xFF, 0xD8};
    file = test::withSegments(file, {{0xE1, block}});
    file.insert(file.end(), {0xFF, 0xD9});
    test::TempDir folder;
    test::writeFile(folder / "exif.jpg", file);
    return test::exiftoolTags(folder / "exif.jpg");
}

struct RemakeRow {
    const char* description;
    ExifContents contents;
    Orientation orientation;
    int width;
    int height;
    std::map<std::string, std::string> expected;  // tags exiftool must read, value "" = absent
};

class ExifForOutput : public testing::TestWithParam<RemakeRow> {};

TEST_P(ExifForOutput, IsReadBackByAnIndependentReader) {
    const RemakeRow& row = GetParam();
    const Bytes remade =
        exifForOutput(test::exifBlock(row.contents), row.width, row.height, row.orientation);
    ASSERT_FALSE(remade.empty());
    EXPECT_EQ(exifOrientation(remade), row.orientation);
    if (!test::hasExiftool()) {
        GTEST_SKIP() << "exiftool is not installed (scripts/setup.sh installs it)";
    }
    const auto tags = exiftoolReading(remade);
    for (const auto& [tag, value] : row.expected) {
        const auto found = tags.find(tag);
        if (value.empty()) {
            EXPECT_TRUE(found == tags.end()) << tag << " should be absent, is " << found->second;
        } else {
            ASSERT_NE(found, tags.end()) << tag << " is absent";
            EXPECT_EQ(found->second, value) << tag;
        }
    }
    for (const auto& [tag, value] : tags) {
        EXPECT_NE(tag.rfind("IFD1:", 0), 0u) << "thumbnail directory left: " << tag;
    }
}

ExifContents withoutOrientation() {
    ExifContents contents = phoneContents();
    contents.primary = {asciiField(test::kMakeTag, "Phone")};
    return contents;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ExifForOutput,
    testing::Values(RemakeRow{"turned_upright",
                              phoneContents(),
                              Orientation::Normal,
                              300,
                              400,
                              {{"IFD0:Orientation", "1"},
                               {"IFD0:Make", "Phone"},
                               {"ExifIFD:DateTimeOriginal", "2024:05:01 10:20:30"},
                               {"ExifIFD:ExifImageWidth", "300"},
                               {"ExifIFD:ExifImageHeight", "400"},
                               {"IFD1:ThumbnailLength", ""}}},
                    RemakeRow{"big_endian_left_as_stored_wider_than_a_short",
                              phoneContents(true),
                              Orientation::Rotate90,
                              70000,
                              5,
                              {{"IFD0:Orientation", "6"},
                               {"IFD0:Make", "Phone"},
                               {"ExifIFD:ExifImageWidth", "70000"},
                               {"ExifIFD:ExifImageHeight", "5"}}},
                    RemakeRow{"no_tag_stays_without_one",
                              withoutOrientation(),
                              Orientation::Normal,
                              8,
                              6,
                              {{"IFD0:Orientation", ""}, {"IFD0:Make", "Phone"}}},
                    RemakeRow{"no_tag_gets_one_when_not_upright",
                              withoutOrientation(),
                              Orientation::Rotate270,
                              8,
                              6,
                              {{"IFD0:Orientation", "8"}, {"ExifIFD:ExifImageWidth", "8"}}}),
    [](const auto& rowInfo) { return std::string(rowInfo.param.description); });

// The hand-written block itself, as exiftool reads it: the tests above start from valid data.
TEST(ExifForOutput, TheBuiltBlockIsValidForAnIndependentReader) {
    if (!test::hasExiftool()) {
        GTEST_SKIP() << "exiftool is not installed (scripts/setup.sh installs it)";
    }
    for (const bool bigEndian : {false, true}) {
        const auto tags = exiftoolReading(test::exifBlock(phoneContents(bigEndian)));
        EXPECT_EQ(tags.count("IFD0:Orientation") ? tags.at("IFD0:Orientation") : "", "6");
        EXPECT_EQ(tags.count("ExifIFD:ExifImageWidth") ? tags.at("ExifIFD:ExifImageWidth") : "",
                  "4000");
        EXPECT_EQ(tags.count("IFD1:ThumbnailLength") ? tags.at("IFD1:ThumbnailLength") : "", "200");
    }
}

}  // namespace
}  // namespace tz
