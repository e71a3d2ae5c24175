// The JPEG picture's metadata: segments kept on loading (EXIF, XMP, comments, ICC profiles in one
// or several parts), pictures turned upright by their tag, and what compressing writes, checked
// against libjpeg-turbo's cjpeg and read back by exiftool.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "support/corpus.h"
#include "support/photo_metadata.h"
#include "support/support.h"
#include "tz/errors.h"
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

Bytes encoded(const Bitmap& bitmap, const JpegMetadata& metadata = {}, bool grayscale = false) {
    JpegImage picture;
    picture.setGrayscale(grayscale);
    picture.setMetadataToWrite(metadata);
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

std::vector<std::uint8_t> markersOf(const Bytes& jpeg) {
    std::vector<std::uint8_t> markers;
    for (const JpegSegment& segment : test::segmentsBeforeScan(jpeg)) {
        markers.push_back(segment.marker);
    }
    return markers;
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

// ---- Writing ----

// What libjpeg-turbo's own cjpeg makes of `bitmap` with this program's encoding parameters, or
// nothing when cjpeg is not installed.
std::optional<Bytes> cjpeg(const Bitmap& bitmap, const std::string& extraOptions = "") {
    if (!std::filesystem::exists("/usr/bin/cjpeg")) {
        return std::nullopt;
    }
    test::TempDir folder;
    std::ofstream ppm(folder / "in.ppm", std::ios::binary);
    ppm << "P6\n" << bitmap.width() << ' ' << bitmap.height() << "\n255\n";
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            const Rgb c = bitmap.color(x, y);
            ppm.put(static_cast<char>(c.red))
                .put(static_cast<char>(c.green))
                .put(static_cast<char>(c.blue));
        }
    }
    ppm.close();
    const std::string command = "cd '" + folder.path().string() +
                                "' && cjpeg -quality 90 -dct float -sample 2x2,1x1,1x1 " +
                                extraOptions + " in.ppm > out.jpg 2>/dev/null";
    if (std::system(command.c_str()) != 0) {
        return std::nullopt;
    }
    return test::readFile(folder / "out.jpg");
}

TEST(JpegMetadataWriting, NothingIsWrittenUnlessAsked) {
    const Bytes exif =
        test::exifBlock({false, {test::shortField(test::kOrientationTag, 6)}, {}, {}});
    const Bytes source = test::withSegments(
        encoded(letterPhoto()), {{kApp1, exif},
                                 {kApp1, xmpPayload()},
                                 {kApp2, test::iccSegments(test::iccProfile("RGB ", 400), 1)[0]},
                                 {kComment, text("note")}});
    JpegImage decoded = loaded(source);
    const Bitmap bitmap = decoded.releaseBitmap();

    const Bytes output = encoded(bitmap);
    EXPECT_EQ(markersOf(output),
              (std::vector<std::uint8_t>{0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4}))
        << "JFIF, two quantisation tables, frame, four Huffman tables";
    EXPECT_EQ(encoded(bitmap, JpegMetadata{}), output);
    const std::optional<Bytes> reference = cjpeg(bitmap);
    if (!reference) {
        GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
    }
    EXPECT_TRUE(*reference == output) << "the file libjpeg-turbo's cjpeg writes, byte for byte";
}

struct ProfileRow {
    const char* description;
    const char* colorSpace;
    bool grayscaleOutput;
    bool written;
};

class JpegIccProfileWriting : public testing::TestWithParam<ProfileRow> {};

TEST_P(JpegIccProfileWriting, OnlyOnAnOutputOfItsColourSpace) {
    const ProfileRow& row = GetParam();
    Bytes profile = test::iccProfile(row.colorSpace, 1000);
    if (std::string(row.description) == "not_a_profile") {
        profile[36] = 'x';  // no "acsp" signature
    }
    JpegMetadata metadata;
    metadata.iccProfile = profile;
    const Bytes output = encoded(letterPhoto(), metadata, row.grayscaleOutput);
    EXPECT_EQ(loaded(output).metadata().iccProfile, row.written ? profile : Bytes{});
    if (!row.written) {
        EXPECT_EQ(output, encoded(letterPhoto(), {}, row.grayscaleOutput))
            << "as without a profile";
    }
}

INSTANTIATE_TEST_SUITE_P(Spaces, JpegIccProfileWriting,
                         testing::Values(ProfileRow{"rgb_on_colour", "RGB ", false, true},
                                         ProfileRow{"cmyk_on_colour", "CMYK", false, false},
                                         ProfileRow{"grey_on_colour", "GRAY", false, false},
                                         ProfileRow{"grey_on_greyscale", "GRAY", true, true},
                                         ProfileRow{"rgb_on_greyscale", "RGB ", true, false},
                                         ProfileRow{"lab_on_colour", "Lab ", false, false},
                                         ProfileRow{"not_a_profile", "RGB ", false, false}),
                         [](const auto& rowInfo) {
                             return std::string(rowInfo.param.description);
                         });

// A profile longer than one segment, split as the format says and as cjpeg splits it.
TEST(JpegMetadataWriting, LargeProfileIsSplitInSequence) {
    const Bytes profile = test::iccProfile("RGB ", 150000);
    JpegMetadata metadata;
    metadata.iccProfile = profile;
    const Bytes output = encoded(letterPhoto(), metadata);

    std::vector<JpegSegment> app2;
    for (const JpegSegment& segment : test::segmentsBeforeScan(output)) {
        if (segment.marker == kApp2) {
            app2.push_back(segment);
        }
    }
    ASSERT_EQ(app2.size(), 3u) << "150000 bytes in parts of at most 65519";
    Bytes reassembled;
    for (std::size_t i = 0; i < app2.size(); ++i) {
        const Bytes& payload = app2[i].payload;
        ASSERT_GT(payload.size(), 14u);
        EXPECT_EQ(Bytes(payload.begin(), payload.begin() + 12),
                  text(std::string("ICC_PROFILE") + '\0'));
        EXPECT_EQ(payload[12], i + 1) << "sequence number";
        EXPECT_EQ(payload[13], 3) << "count";
        reassembled.insert(reassembled.end(), payload.begin() + 14, payload.end());
    }
    EXPECT_EQ(reassembled, profile);
    EXPECT_EQ(loaded(output).metadata().iccProfile, profile);

    test::TempDir folder;
    test::writeFile(folder / "profile.icc", profile);
    const std::optional<Bytes> reference =
        cjpeg(letterPhoto(), "-icc '" + (folder / "profile.icc").string() + "'");
    if (!reference) {
        GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
    }
    EXPECT_TRUE(*reference == output) << "the file cjpeg -icc writes, byte for byte";
}

// The photograph a phone takes on its side: EXIF with orientation 6, the camera's pixel size and
// a thumbnail; XMP; a comment; an RGB profile.
Bytes phonePhoto() {
    test::ExifContents contents;
    contents.primary = {test::asciiField(test::kMakeTag, "Phone"),
                        test::shortField(test::kOrientationTag, 6)};
    contents.exif = {test::shortField(test::kPixelXDimensionTag, 4000),
                     test::shortField(test::kPixelYDimensionTag, 3000)};
    contents.thumbnail = Bytes(300, 0x55);
    return test::withSegments(encoded(letterPhoto()),
                              {{kApp1, test::exifBlock(contents)},
                               {kApp1, xmpPayload()},
                               {kApp2, test::iccSegments(test::iccProfile("RGB ", 700), 1)[0]},
                               {kComment, text("Holiday")}});
}

TEST(JpegMetadataWriting, KeptMetadataIsReadBackByAnIndependentReader) {
    JpegImage source = loaded(phonePhoto());
    const Bitmap upright = orientedUpright(source.releaseBitmap(), source.metadata().orientation);
    JpegMetadata kept = source.metadata();
    kept.orientation = Orientation::Normal;  // the pixels were turned
    const Bytes output = encoded(upright, kept);

    EXPECT_EQ(markersOf(output),
              (std::vector<std::uint8_t>{0xE0, kApp1, kApp1, kApp2, kComment, 0xDB, 0xDB, 0xC0,
                                         0xC4, 0xC4, 0xC4, 0xC4}));
    const JpegImage reloaded = loaded(output);
    EXPECT_EQ(reloaded.metadata().orientation, Orientation::Normal);
    EXPECT_EQ(reloaded.metadata().xmp, xmpPayload());
    EXPECT_EQ(reloaded.metadata().comments, std::vector<Bytes>{text("Holiday")});
    EXPECT_EQ(reloaded.metadata().iccProfile, source.metadata().iccProfile);

    if (!test::hasExiftool()) {
        GTEST_SKIP() << "exiftool is not installed (scripts/setup.sh installs it)";
    }
    test::TempDir folder;
    test::writeFile(folder / "out.jpg", output);
    auto tags = test::exiftoolTags(folder / "out.jpg");
    EXPECT_EQ(tags["IFD0:Orientation"], "1");
    EXPECT_EQ(tags["IFD0:Make"], "Phone");
    EXPECT_EQ(tags["ExifIFD:ExifImageWidth"], "32");
    EXPECT_EQ(tags["ExifIFD:ExifImageHeight"], "48");
    EXPECT_EQ(tags["XMP-xmp:Rating"], "4");
    EXPECT_EQ(tags["File:Comment"], "Holiday");
    EXPECT_EQ(tags["ICC-header:ColorSpaceData"], "RGB");
    EXPECT_EQ(test::exiftoolBinary(folder / "out.jpg", "ICC_Profile"),
              source.metadata().iccProfile);
    EXPECT_EQ(tags["File:ImageWidth"], "32");
    EXPECT_EQ(tags.count("IFD1:ThumbnailLength"), 0u) << "the thumbnail is removed";
}

TEST(JpegMetadataWriting, PartsThatCannotBeWrittenAreLeftOut) {
    JpegMetadata metadata;
    metadata.exif = text("Exif");
    metadata.exif.insert(metadata.exif.end(), {0, 0, 'X', 'X', 0, 0});
    metadata.xmp = Bytes(70000, 'x');
    metadata.iccProfile = Bytes(100, 0);
    EXPECT_EQ(encoded(letterPhoto(), metadata), encoded(letterPhoto()));
}

TEST(JpegMetadataWriting, LoadedFileIsNotRewritten) {
    const Bytes source = phonePhoto();
    JpegImage picture = loaded(source);
    picture.setMetadataToWrite(JpegMetadata{});
    EXPECT_EQ(picture.saveToBytes(), source) << "setting what to write does not re-compress";
}

// A CMYK photograph's profile describes its inks; the RGB output never carries it.
TEST(JpegMetadataWriting, CmykProfileOfACmykSourceIsNotAttached) {
    const std::filesystem::path corpus = test::corpusFolder("jpeg");
    if (corpus.empty()) {
        GTEST_SKIP() << test::corpusAbsentMessage();
    }
    const std::filesystem::path cmykFile = corpus / "go-video-001.cmyk.jpg";
    if (!std::filesystem::exists(cmykFile)) {
        GTEST_SKIP() << "the corpus has no " << cmykFile.filename();
    }
    const Bytes profile = test::iccProfile("CMYK", 2000);
    JpegImage source = loaded(
        test::withSegments(test::readFile(cmykFile), {{kApp2, test::iccSegments(profile, 1)[0]}}));
    ASSERT_EQ(source.metadata().iccProfile, profile);
    const Bitmap bitmap = source.releaseBitmap();
    const Bytes output = encoded(bitmap, source.metadata());
    EXPECT_TRUE(loaded(output).metadata().empty());
    EXPECT_EQ(output, encoded(bitmap));
}

// ---- The real-world corpus ----

// exiftool's reading of the corpus, one row per file: name, IFD0 orientation, profile colour space.
std::map<std::string, std::pair<std::string, std::string>> exiftoolCorpusReading(
    const std::filesystem::path& folder) {
    const std::string command =
        "exiftool -csv -n -q -q -IFD0:Orientation "
        "-ICC-header:ColorSpaceData '" +
        folder.string() + "' 2>/dev/null";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        pclose(pipe);
    }
    std::map<std::string, std::pair<std::string, std::string>> rows;
    std::istringstream lines(output);
    std::string line;
    std::getline(lines, line);  // SourceFile,Orientation,ColorSpaceData
    while (std::getline(lines, line)) {
        std::vector<std::string> cells;
        std::string cell;
        std::istringstream fields(line);
        while (std::getline(fields, cell, ',')) {
            cell.erase(std::remove(cell.begin(), cell.end(), '"'), cell.end());
            cell.erase(cell.find_last_not_of(' ') + 1);  // "RGB " as "RGB"
            cells.push_back(cell);
        }
        cells.resize(3);
        rows[std::filesystem::path(cells[0]).filename().string()] = {cells[1], cells[2]};
    }
    return rows;
}

// Every file the picture loads gives the orientation and profile exiftool finds in it.
TEST(JpegCorpusMetadata, AgreesWithAnIndependentReader) {
    const std::filesystem::path corpus = test::corpusFolder("jpeg");
    if (corpus.empty()) {
        GTEST_SKIP() << test::corpusAbsentMessage();
    }
    if (!test::hasExiftool()) {
        GTEST_SKIP() << "exiftool is not installed (scripts/setup.sh installs it)";
    }
    const auto reading = exiftoolCorpusReading(corpus);
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        const std::string name = entry.path().filename().string();
        JpegImage picture;
        try {
            picture.loadFromFile(entry.path());
        } catch (const Error&) {
            continue;  // refused files have their outcome checked with the decoder's tests
        }
        const auto found = reading.find(name);
        ASSERT_NE(found, reading.end()) << name;
        const auto& [orientationTag, colorSpace] = found->second;
        const int tag = orientationTag.empty() ? 1 : std::stoi(orientationTag);
        const int expected = tag >= 1 && tag <= 8 ? tag : 1;
        EXPECT_EQ(static_cast<int>(picture.metadata().orientation), expected) << name;
        const IccColorSpace space = iccColorSpace(picture.metadata().iccProfile);
        const IccColorSpace expectedSpace = colorSpace == "RGB"    ? IccColorSpace::Rgb
                                            : colorSpace == "GRAY" ? IccColorSpace::Gray
                                            : colorSpace == "CMYK" ? IccColorSpace::Cmyk
                                                                   : IccColorSpace::Other;
        EXPECT_EQ(space, expectedSpace) << name << ": exiftool reads '" << colorSpace << "'";
        EXPECT_EQ(picture.metadata().iccProfile.empty(), colorSpace.empty()) << name;
    }
}

}  // namespace
}  // namespace tz
