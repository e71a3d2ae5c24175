// The JPEG picture's metadata: segments kept on loading (EXIF, XMP, comments, ICC profiles in one
// or several parts) and pictures turned upright by their tag.
#include <gtest/gtest.h>

#include <string>

#include "support/photo_metadata.h"
#include "support/support.h"
#include "tz/exif.h"
#include "tz/jpeg.h"

namespace tz {
namespace {

using test::Bytes;
using test::JpegSegment;

constexpr std::uint8_t kApp1 = 0xE1;
constexpr std::uint8_t kApp2 = 0xE2;
constexpr std::uint8_t kComment = 0xFE;

// A picture of 3 × 2 blocks of 16 pixels, each block a letter:   a b c
//                                                                 d e f
constexpr int kBlock = 16;

Rgb letterColor(char letter) {
    switch (letter) {
        case 'a':
            return {220, 30, 30};
        case 'b':
            return {30, 200, 30};
        case 'c':
            return {30, 30, 220};
        case 'd':
            return {230, 230, 40};
        case 'e':
            return {30, 220, 220};
        default:
            return {210, 40, 210};
    }
}

Bitmap letterPhoto() {
    const std::string letters = "abcdef";
    Bitmap bitmap(3 * kBlock, 2 * kBlock);
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            bitmap.setColor(
                x, y, letterColor(letters[static_cast<std::size_t>(y / kBlock * 3 + x / kBlock)]));
        }
    }
    return bitmap;
}

// The letters of a block picture, read at each block's centre as the nearest letter colour.
std::string blockLetters(const Bitmap& bitmap) {
    std::string grid;
    for (int by = 0; by < bitmap.height() / kBlock; ++by) {
        grid += by > 0 ? "/" : "";
        for (int bx = 0; bx < bitmap.width() / kBlock; ++bx) {
            const Rgb c = bitmap.color(bx * kBlock + kBlock / 2, by * kBlock + kBlock / 2);
            char nearest = '?';
            int best = 1 << 30;
            for (char letter = 'a'; letter <= 'f'; ++letter) {
                const Rgb l = letterColor(letter);
                const int distance = (c.red - l.red) * (c.red - l.red) +
                                     (c.green - l.green) * (c.green - l.green) +
                                     (c.blue - l.blue) * (c.blue - l.blue);
                if (distance < best) {
                    best = distance;
                    nearest = letter;
                }
            }
            grid += nearest;
        }
    }
    return grid;
}

Bytes encoded(const Bitmap& bitmap) {
    JpegImage picture;
    picture.assign(bitmap);
    return picture.saveToBytes();
}

JpegImage loaded(const Bytes& bytes) {
    JpegImage picture;
    picture.loadFromBytes(bytes);
    return picture;
}

Bytes text(const std::string& characters) {
    return Bytes(characters.begin(), characters.end());
}

Bytes exifWithOrientation(std::uint32_t value) {
    test::ExifContents contents;
    contents.primary = {test::asciiField(test::kMakeTag, "Phone"),
                        test::shortField(test::kOrientationTag, value)};
    return test::exifBlock(contents);
}

const std::string kXmpIdentifier("http://ns.adobe.com/xap/1.0/");

Bytes xmpPayload() {
    Bytes payload = text(kXmpIdentifier);
    payload.push_back(0);
    const Bytes packet = text(
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
        "xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:Rating='4'/></rdf:RDF></x:xmpmeta>");
    payload.insert(payload.end(), packet.begin(), packet.end());
    return payload;
}

// ---- Reading ----

TEST(JpegMetadataReading, SegmentsAreKeptAsFound) {
    const Bytes exif = exifWithOrientation(6);
    const Bytes profile = test::iccProfile("RGB ", 600);
    Bytes secondExif = exifWithOrientation(3);
    const Bytes file =
        test::withSegments(encoded(letterPhoto()), {{kApp1, exif},
                                                    {kApp1, xmpPayload()},
                                                    {kApp1, secondExif},
                                                    {kComment, text("first")},
                                                    {kApp2, test::iccSegments(profile, 1)[0]},
                                                    {kComment, text("second")},
                                                    {kApp1, text("something else")}});
    const JpegImage picture = loaded(file);
    const JpegMetadata& metadata = picture.metadata();
    EXPECT_EQ(metadata.exif, exif) << "the first EXIF segment, whole";
    EXPECT_EQ(metadata.xmp, xmpPayload());
    EXPECT_EQ(metadata.comments, (std::vector<Bytes>{text("first"), text("second")}));
    EXPECT_EQ(metadata.iccProfile, profile);
    EXPECT_EQ(metadata.orientation, Orientation::Rotate90);
    EXPECT_EQ(picture.width(), 48) << "the stored size";
}

TEST(JpegMetadataReading, FileWithoutSegmentsHasNone) {
    const JpegImage picture = loaded(encoded(letterPhoto()));
    EXPECT_TRUE(picture.metadata().empty());
    EXPECT_EQ(picture.metadata().orientation, Orientation::Normal);
}

struct IccRow {
    const char* description;
    std::vector<std::pair<int, int>> parts;  // sequence number and count written in each segment
    bool whole;                              // the profile comes back whole
};

class JpegIccProfileReading : public testing::TestWithParam<IccRow> {};

// The profile is cut into three parts (or one); each row writes segments with the given
// sequence numbers and counts, taking part n's bytes for sequence number n.
TEST_P(JpegIccProfileReading, IsReassembledInSequenceOrderOrIgnored) {
    const IccRow& row = GetParam();
    const Bytes profile = test::iccProfile("RGB ", 3000);
    const int count = row.parts.size() == 1 ? 1 : 3;
    const std::vector<Bytes> pieces = test::iccSegments(profile, count);
    std::vector<JpegSegment> segments;
    for (const auto& [sequence, declaredCount] : row.parts) {
        Bytes payload = pieces[static_cast<std::size_t>(std::clamp(sequence, 1, count) - 1)];
        payload[12] = static_cast<std::uint8_t>(sequence);
        payload[13] = static_cast<std::uint8_t>(declaredCount);
        segments.push_back({kApp2, payload});
    }
    const JpegImage picture = loaded(test::withSegments(encoded(letterPhoto()), segments));
    EXPECT_EQ(picture.metadata().iccProfile, row.whole ? profile : Bytes{});
    EXPECT_EQ(picture.width(), 48) << "a broken profile never stops the picture";
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, JpegIccProfileReading,
    testing::Values(IccRow{"one_segment", {{1, 1}}, true},
                    IccRow{"three_in_order", {{1, 3}, {2, 3}, {3, 3}}, true},
                    IccRow{"three_out_of_order", {{2, 3}, {3, 3}, {1, 3}}, true},
                    IccRow{"part_missing", {{1, 3}, {3, 3}}, false},
                    IccRow{"part_repeated", {{1, 3}, {2, 3}, {2, 3}, {3, 3}}, false},
                    IccRow{"counts_disagree", {{1, 3}, {2, 4}, {3, 3}}, false},
                    IccRow{"sequence_number_zero", {{0, 3}, {1, 3}, {2, 3}, {3, 3}}, false}),
    [](const auto& rowInfo) { return std::string(rowInfo.param.description); });

// Files of thousands of tiny segments are read in linear time and memory: comments past the
// 256th are skipped, and more APP2 parts than a profile can have give no profile.
TEST(JpegMetadataReading, SegmentsPastTheLimitsAreSkipped) {
    std::vector<JpegSegment> segments;
    for (int i = 0; i < 1000; ++i) {
        std::string comment = "c";
        comment += std::to_string(i);
        segments.push_back({kComment, text(comment)});
    }
    Bytes iccPart = test::iccSegments(test::iccProfile("RGB ", 400), 1)[0];
    for (int i = 0; i < 300; ++i) {
        segments.push_back({kApp2, iccPart});
    }
    const JpegImage picture = loaded(test::withSegments(encoded(letterPhoto()), segments));
    const std::vector<Bytes>& comments = picture.metadata().comments;
    ASSERT_EQ(comments.size(), 256u);
    EXPECT_EQ(comments.front(), text("c0"));
    EXPECT_EQ(comments.back(), text("c255"));
    EXPECT_TRUE(picture.metadata().iccProfile.empty());
    EXPECT_EQ(picture.width(), 48);
}

struct OrientationRow {
    const char* description;
    std::uint32_t tag;
    const char* upright;  // drawn by hand from the tag's definition
};

class JpegOrientedPhoto : public testing::TestWithParam<OrientationRow> {};

TEST_P(JpegOrientedPhoto, DecodesUprightThroughItsTag) {
    const OrientationRow& row = GetParam();
    JpegImage picture =
        loaded(test::withSegments(encoded(letterPhoto()), {{kApp1, exifWithOrientation(row.tag)}}));
    ASSERT_EQ(static_cast<std::uint32_t>(picture.metadata().orientation), row.tag);
    const Bitmap upright = orientedUpright(picture.releaseBitmap(), picture.metadata().orientation);
    const bool swapped = row.tag >= 5;
    EXPECT_EQ(upright.width(), swapped ? 32 : 48);
    EXPECT_EQ(upright.height(), swapped ? 48 : 32);
    EXPECT_EQ(blockLetters(upright), row.upright);
}

INSTANTIATE_TEST_SUITE_P(EightValues, JpegOrientedPhoto,
                         testing::Values(OrientationRow{"normal", 1, "abc/def"},
                                         OrientationRow{"mirror_horizontal", 2, "cba/fed"},
                                         OrientationRow{"rotate_180", 3, "fed/cba"},
                                         OrientationRow{"mirror_vertical", 4, "def/abc"},
                                         OrientationRow{"transpose", 5, "ad/be/cf"},
                                         OrientationRow{"rotate_90", 6, "da/eb/fc"},
                                         OrientationRow{"transverse", 7, "fc/eb/da"},
                                         OrientationRow{"rotate_270", 8, "cf/be/ad"}),
                         [](const auto& rowInfo) {
                             return std::string(rowInfo.param.description);
                         });

TEST(JpegMetadataReading, DamagedExifIsIgnored) {
    const Bytes plain = encoded(letterPhoto());
    Bytes cut = exifWithOrientation(6);
    cut.resize(20);  // the directory is gone
    Bytes scrambled = exifWithOrientation(6);
    for (std::size_t i = 6; i < scrambled.size(); ++i) {
        scrambled[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    for (const Bytes& exif : {cut, scrambled}) {
        JpegImage picture = loaded(test::withSegments(plain, {{kApp1, exif}}));
        EXPECT_EQ(picture.metadata().orientation, Orientation::Normal);
        EXPECT_EQ(picture.metadata().exif, exif) << "kept as found, for whoever copies it";
        EXPECT_EQ(picture.releaseBitmap(), loaded(plain).releaseBitmap());
    }
}

}  // namespace
}  // namespace tz
