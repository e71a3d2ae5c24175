// Tests of the JPEG picture: header facts, settings, shared data, decoding, encoding parameters
// checked in the written markers, failures, and the real-world corpus.
#include <gtest/gtest.h>

#include <jerror.h>  // the library's message codes only

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/corpus.h"
#include "support/picture_builders.h"
#include "support/support.h"
#include "tz/errors.h"
#include "tz/jpeg.h"

namespace {

using tz::Bitmap;
using tz::JpegError;
using tz::JpegImage;
using tz::JpegScale;
using tz::PixelFormat;
using tz::Rgb;
using Bytes = std::vector<std::uint8_t>;

using tz::test::gradientBitmap;
using tz::test::jpegBytes;

// Expects `action` to throw JpegError with the library's message code.
template <typename Action>
void expectJpegError(const Action& action, int code) {
    try {
        action();
        ADD_FAILURE() << "no error, expected JPEG error #" << code;
    } catch (const JpegError& error) {
        EXPECT_EQ(error.code(), code);
        EXPECT_EQ(std::string(error.what()), "JPEG error #" + std::to_string(code));
    }
}

// Expects `action` to throw our own tz::Error with `message`, not a library error.
template <typename Action>
void expectPlainError(const Action& action, const char* message) {
    try {
        action();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const JpegError& error) {
        ADD_FAILURE() << error.what();
    } catch (const tz::Error& error) {
        EXPECT_STREQ(error.what(), message);
    }
}

double meanAbsoluteDifference(const Bitmap& a, const Bitmap& b) {
    const Bitmap a24 = a.to24();
    const Bitmap b24 = b.to24();
    double sum = 0;
    for (std::size_t i = 0; i < a24.pixels().size(); ++i) {
        sum += std::abs(int{a24.pixels()[i]} - int{b24.pixels()[i]});
    }
    return sum / static_cast<double>(a24.pixels().size());
}

void expectGreyWithAtMost236Levels(const Bitmap& bitmap) {
    ASSERT_EQ(bitmap.format(), PixelFormat::Bits8);
    const auto& table = bitmap.colorTable();
    EXPECT_LE(table.size(), 236u);
    for (const Rgb& entry : table) {
        EXPECT_TRUE(entry.red == entry.green && entry.green == entry.blue)
            << int{entry.red} << "," << int{entry.green} << "," << int{entry.blue};
    }
    std::set<std::uint8_t> used(bitmap.pixels().begin(), bitmap.pixels().end());
    EXPECT_LT(*used.rbegin(), table.size());
}

// Position of the first marker FF `code`, or the end.
Bytes::iterator findMarker(Bytes& bytes, std::uint8_t code) {
    const std::array<std::uint8_t, 2> marker{0xFF, code};
    return std::search(bytes.begin(), bytes.end(), marker.begin(), marker.end());
}

// ---- Markers of a written file ----

struct Segment {
    std::uint8_t marker = 0;
    Bytes payload;  // without the length field
};

// The marker segments from SOI up to and including SOS.
std::vector<Segment> headerSegments(const Bytes& file) {
    std::vector<Segment> segments;
    if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xD8) {
        ADD_FAILURE() << "no SOI";
        return segments;
    }
    std::size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF) {
        const std::uint8_t marker = file[at + 1];
        const std::size_t length = std::size_t{file[at + 2]} << 8 | file[at + 3];
        if (length < 2 || at + 2 + length > file.size()) {
            ADD_FAILURE() << "bad segment length at " << at;
            break;
        }
        segments.push_back(
            Segment{marker, Bytes(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                                  file.begin() + static_cast<std::ptrdiff_t>(at + 2 + length))});
        if (marker == 0xDA) {
            break;
        }
        at += 2 + length;
    }
    return segments;
}

std::vector<Segment> segmentsOf(const std::vector<Segment>& all, std::uint8_t marker) {
    std::vector<Segment> found;
    std::copy_if(all.begin(), all.end(), std::back_inserter(found),
                 [marker](const Segment& s) { return s.marker == marker; });
    return found;
}

// The example tables of the JPEG standard (Annex K), in natural order.
constexpr std::array<int, 64> kLuminanceTable = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr std::array<int, 64> kChrominanceTable = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};
// Natural position of the k-th coefficient in zigzag order, the order DQT stores them in.
constexpr std::array<int, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// A standard table scaled for a quality from 50 up: (200 − 2q) percent, rounded, kept in
// 1 … 255 for baseline files. Returned in zigzag order.
std::array<int, 64> scaledTable(const std::array<int, 64>& table, int quality) {
    const int percent = 200 - 2 * quality;
    std::array<int, 64> zigzag{};
    for (int k = 0; k < 64; ++k) {
        const int value =
            (table[static_cast<std::size_t>(kZigzag[static_cast<std::size_t>(k)])] * percent + 50) /
            100;
        zigzag[static_cast<std::size_t>(k)] = std::clamp(value, 1, 255);
    }
    return zigzag;
}

// ---- Settings, size and holder ----

TEST(JpegSettings, NewPictureTakesTheDefaults) {
    const JpegImage picture;
    EXPECT_EQ(picture.compressionQuality(), 90);
    EXPECT_FALSE(picture.grayscaleSwitch());
    EXPECT_EQ(picture.performance(), tz::JpegPerformance::BestQuality);
    EXPECT_EQ(picture.pixelFormat(), tz::JpegPixelFormat::Bits24);
    EXPECT_FALSE(picture.progressiveDisplay());
    EXPECT_FALSE(picture.progressiveEncoding());
    EXPECT_EQ(picture.scale(), JpegScale::Full);
    EXPECT_TRUE(picture.smoothing());
    EXPECT_TRUE(picture.empty());
    EXPECT_EQ(picture.width(), 0);
    EXPECT_EQ(picture.height(), 0);
    EXPECT_EQ(picture.bitmap(), nullptr);
}

TEST(JpegSize, SettingWidthOrHeightFails) {
    JpegImage picture;
    picture.loadFromBytes(jpegBytes(gradientBitmap(8, 8)));
    for (const auto& set :
         {+[](JpegImage& p) { p.setWidth(4); }, +[](JpegImage& p) { p.setHeight(4); }}) {
        try {
            set(picture);
            ADD_FAILURE() << "no error";
        } catch (const JpegError& error) {
            EXPECT_STREQ(error.what(), "Cannot change the size of a JPEG image");
        }
    }
    EXPECT_EQ(picture.width(), 8);
}

TEST(JpegSize, OnePixelFileLoadsAndDecodes) {
    Bitmap pixel(1, 1);
    pixel.setColor(0, 0, Rgb{200, 40, 10});
    JpegImage picture;
    picture.loadFromBytes(jpegBytes(pixel, 100));
    EXPECT_EQ(picture.width(), 1);
    EXPECT_EQ(picture.height(), 1);
    EXPECT_EQ(picture.bitmap(), nullptr) << "loading decodes nothing";
    Bitmap target;
    picture.assignTo(target);
    ASSERT_EQ(target.width(), 1);
    ASSERT_EQ(target.height(), 1);
    const Rgb c = target.color(0, 0);
    EXPECT_NEAR(c.red, 200, 8);
    EXPECT_NEAR(c.green, 40, 8);
    EXPECT_NEAR(c.blue, 10, 8);
}

TEST(JpegSize, EmptyStreamLeavesZeroByZero) {
    JpegImage picture;
    picture.loadFromBytes({});
    EXPECT_EQ(picture.width(), 0);
    EXPECT_EQ(picture.height(), 0);
    EXPECT_TRUE(picture.saveToBytes().empty());
    expectJpegError([&] { picture.decode(); }, JERR_INPUT_EMPTY);
}

struct ScaleRow {
    const char* description;
    JpegScale scale;
    int width;
    int height;
};

class JpegOutputScale : public testing::TestWithParam<ScaleRow> {};

// A 100 × 75 picture: each side divided and rounded up.
TEST_P(JpegOutputScale, SizeBeforeAndAfterDecoding) {
    const ScaleRow& row = GetParam();
    JpegImage picture;
    picture.setScale(row.scale);
    picture.loadFromBytes(jpegBytes(gradientBitmap(100, 75)));
    EXPECT_EQ(picture.width(), row.width);
    EXPECT_EQ(picture.height(), row.height);
    picture.decode();
    ASSERT_NE(picture.bitmap(), nullptr);
    EXPECT_EQ(picture.bitmap()->width(), row.width);
    EXPECT_EQ(picture.bitmap()->height(), row.height);

    JpegImage changedLater;
    changedLater.loadFromBytes(jpegBytes(gradientBitmap(100, 75)));
    changedLater.decode();
    changedLater.setScale(row.scale);
    EXPECT_EQ(changedLater.width(), row.width);
    EXPECT_EQ(changedLater.height(), row.height);
}

INSTANTIATE_TEST_SUITE_P(Scales, JpegOutputScale,
                         testing::Values(ScaleRow{"full", JpegScale::Full, 100, 75},
                                         ScaleRow{"half", JpegScale::Half, 50, 38},
                                         ScaleRow{"quarter", JpegScale::Quarter, 25, 19},
                                         ScaleRow{"eighth", JpegScale::Eighth, 13, 10}),
                         [](const auto& rowInfo) {
                             return std::string(rowInfo.param.description);
                         });

TEST(JpegHolder, LoadedPictureIsSavedUnchanged) {
    // Progressive, quality 37 and a trailing byte after EOI: nothing our encoder would write.
    JpegImage source;
    source.setProgressiveEncoding(true);
    source.setCompressionQuality(37);
    source.assign(gradientBitmap(40, 30));
    Bytes bytes = source.saveToBytes();
    bytes.push_back(0x00);

    tz::test::TempDir folder;
    tz::test::writeFile(folder / "in.jpg", bytes);
    JpegImage picture;
    picture.loadFromFile(folder / "in.jpg");
    EXPECT_TRUE(picture.progressive());
    picture.saveToFile(folder / "out.jpg");
    EXPECT_EQ(tz::test::readFile(folder / "out.jpg"), bytes);
    picture.decode();
    EXPECT_EQ(picture.saveToBytes(), bytes) << "decoding keeps the data";
}

TEST(JpegHolder, AssignmentSharesTheData) {
    const Bytes first = jpegBytes(gradientBitmap(20, 10));
    JpegImage a;
    a.loadFromBytes(first);
    JpegImage b;
    b.assign(a);
    EXPECT_EQ(b.width(), 20);
    EXPECT_EQ(b.height(), 10);
    EXPECT_EQ(b.bitmap(), nullptr) << "a has no bitmap to copy";
    a.loadFromBytes(jpegBytes(gradientBitmap(5, 6)));
    EXPECT_EQ(b.saveToBytes(), first) << "reloading a leaves the shared data alone";
    EXPECT_EQ(a.width(), 5);

    b.decode();
    JpegImage c;
    c.assign(b);
    ASSERT_NE(c.bitmap(), nullptr);
    EXPECT_EQ(*c.bitmap(), *b.bitmap());
    EXPECT_EQ(c.saveToBytes(), first);
}

TEST(JpegHolder, AssignedBitmapIsCompressedOnSave) {
    const Bitmap picture = gradientBitmap(30, 20);
    JpegImage jpeg;
    jpeg.loadFromBytes(jpegBytes(gradientBitmap(8, 8)));
    jpeg.assign(picture);
    EXPECT_EQ(jpeg.width(), 30);
    ASSERT_NE(jpeg.bitmap(), nullptr);
    EXPECT_EQ(*jpeg.bitmap(), picture);
    const Bytes saved = jpeg.saveToBytes();
    JpegImage reloaded;
    reloaded.loadFromBytes(saved);
    EXPECT_EQ(reloaded.width(), 30);
    EXPECT_EQ(reloaded.height(), 20);

    JpegImage nothing;
    nothing.assign(Bitmap());
    EXPECT_TRUE(nothing.saveToBytes().empty()) << "an empty bitmap saves zero bytes";
}

// ---- Encoding ----

TEST(JpegEncoding, QualityZeroEncodesAsQualityOne) {
    const Bitmap picture = gradientBitmap(33, 17);
    EXPECT_EQ(jpegBytes(picture, 0), jpegBytes(picture, 1));
    EXPECT_NE(jpegBytes(picture, 1), jpegBytes(picture, 2));
}

TEST(JpegEncoding, WrittenFileIsBaselineJfifAtQuality89) {
    const std::vector<Segment> segments = headerSegments(jpegBytes(gradientBitmap(64, 48), 89));

    const auto app0 = segmentsOf(segments, 0xE0);
    ASSERT_EQ(app0.size(), 1u);
    const Bytes jfif = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    EXPECT_EQ(app0[0].payload, jfif) << "JFIF 1.1, density unit 0, density 1 x 1, no thumbnail";

    const auto sof0 = segmentsOf(segments, 0xC0);
    ASSERT_EQ(sof0.size(), 1u) << "baseline frame";
    EXPECT_TRUE(segmentsOf(segments, 0xC2).empty());
    const Bytes frame = {8, 0, 48, 0, 64, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
    EXPECT_EQ(sof0[0].payload, frame) << "8 bits, 64 x 48, Y 2x2 table 0, Cb and Cr 1x1 table 1";

    EXPECT_TRUE(segmentsOf(segments, 0xDD).empty()) << "no restart interval";

    std::map<int, std::array<int, 64>> tables;
    for (const Segment& dqt : segmentsOf(segments, 0xDB)) {
        for (std::size_t at = 0; at + 65 <= dqt.payload.size(); at += 65) {
            ASSERT_EQ(dqt.payload[at] >> 4, 0) << "8-bit table";
            std::array<int, 64> values{};
            std::copy_n(dqt.payload.begin() + static_cast<std::ptrdiff_t>(at + 1), 64,
                        values.begin());
            tables[dqt.payload[at] & 15] = values;
        }
    }
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0], scaledTable(kLuminanceTable, 89));
    EXPECT_EQ(tables[1], scaledTable(kChrominanceTable, 89));

    // The standard luminance DC table (Annex K.3): code counts per length, then the values.
    const Bytes standardLuminanceDc = {0x00, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0,  0, 0,
                                       0,    0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    bool found = false;
    for (const Segment& dht : segmentsOf(segments, 0xC4)) {
        if (dht.payload.size() >= standardLuminanceDc.size() && dht.payload[0] == 0x00) {
            found = std::equal(standardLuminanceDc.begin(), standardLuminanceDc.end(),
                               dht.payload.begin());
        }
    }
    EXPECT_TRUE(found) << "standard Huffman tables, not optimised ones";
}

TEST(JpegEncoding, GrayscaleSwitchWritesOneComponent) {
    JpegImage picture;
    picture.setGrayscale(true);
    picture.assign(gradientBitmap(16, 16));
    const std::vector<Segment> segments = headerSegments(picture.saveToBytes());
    const auto sof0 = segmentsOf(segments, 0xC0);
    ASSERT_EQ(sof0.size(), 1u);
    EXPECT_EQ(sof0[0].payload[5], 1) << "components";
}

TEST(JpegEncoding, ProgressiveSwitchWritesProgressiveFrame) {
    JpegImage picture;
    picture.setProgressiveEncoding(true);
    picture.assign(gradientBitmap(16, 16));
    const std::vector<Segment> segments = headerSegments(picture.saveToBytes());
    EXPECT_EQ(segmentsOf(segments, 0xC2).size(), 1u);
}

// What an independent decoder (ImageMagick's identify) reports about a written file: size,
// sampling, estimated quality, interlacing and the mean of each channel, all on one line.
std::string identify(const std::filesystem::path& file) {
    const std::string command =
        "identify -format '%w %h %[jpeg:sampling-factor] %Q %[interlace] "
        "%[fx:255*mean.r] %[fx:255*mean.g] %[fx:255*mean.b]' '" +
        file.string() + "' 2>/dev/null";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
            output += buffer;
        }
        pclose(pipe);
    }
    return output;
}

TEST(JpegEncoding, IndependentDecoderReadsTheWrittenFile) {
    if (!std::filesystem::exists("/usr/bin/identify")) {
        GTEST_SKIP() << "ImageMagick's identify is not installed";
    }
    // Left half red, right half blue: a channel swap would exchange the means.
    Bitmap picture(64, 48);
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            picture.setColor(x, y, x < 32 ? Rgb{255, 0, 0} : Rgb{0, 0, 255});
        }
    }
    tz::test::TempDir folder;
    JpegImage jpeg;
    jpeg.assign(picture);
    jpeg.setCompressionQuality(89);
    jpeg.saveToFile(folder / "written.jpg");
    std::istringstream report(identify(folder / "written.jpg"));
    std::string width, height, sampling, quality, interlace;
    double red = 0, green = 0, blue = 0;
    report >> width >> height >> sampling >> quality >> interlace >> red >> green >> blue;
    ASSERT_TRUE(report) << report.str();
    EXPECT_EQ(width + "x" + height, "64x48");
    EXPECT_EQ(sampling, "2x2,1x1,1x1");
    EXPECT_EQ(quality, "89");
    EXPECT_EQ(interlace, "None");
    EXPECT_NEAR(red, 127.5, 8.0);
    EXPECT_NEAR(green, 0.0, 8.0);
    EXPECT_NEAR(blue, 127.5, 8.0);
}

// ---- Decoding ----

TEST(JpegDecoding, ColoursComeBackInPlace) {
    const Bitmap picture = gradientBitmap(64, 64);
    JpegImage jpeg;
    jpeg.loadFromBytes(jpegBytes(picture, 95));
    Bitmap decoded;
    jpeg.assignTo(decoded);
    ASSERT_EQ(decoded.format(), PixelFormat::Bits24);
    EXPECT_LT(meanAbsoluteDifference(decoded, picture), 3.0);
    // Red rises to the right: a channel swap would show here.
    EXPECT_GT(decoded.color(63, 32).red, 230);
    EXPECT_LT(decoded.color(0, 32).red, 25);
    EXPECT_NEAR(decoded.color(32, 32).blue, 96, 6);
}

TEST(JpegDecoding, DrawStretchesIntoTheRectangle) {
    JpegImage jpeg;
    jpeg.loadFromBytes(jpegBytes(gradientBitmap(64, 64), 95));
    Bitmap canvas(40, 20);
    jpeg.draw(canvas, tz::Rect{10, 0, 42, 16});
    EXPECT_EQ(canvas.color(5, 5), (Rgb{255, 255, 255})) << "outside the rectangle";
    EXPECT_EQ(canvas.color(30, 18), (Rgb{255, 255, 255}));
    EXPECT_LT(canvas.color(10, 8).red, 30);
    EXPECT_GT(canvas.color(39, 8).red, 180);
}

TEST(JpegDecoding, TruncatedScanDataDecodes) {
    const Bytes whole = jpegBytes(gradientBitmap(128, 96), 95);
    const Bytes truncated(whole.begin(),
                          whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));
    JpegImage picture;
    picture.loadFromBytes(truncated);
    Bitmap decoded;
    EXPECT_NO_THROW(picture.assignTo(decoded));
    EXPECT_EQ(decoded.width(), 128);
    EXPECT_EQ(decoded.height(), 96);
}

// ---- Rows decoded while read ----

// The rows of a picture, read from the top and from part-way (as a second thread reads them),
// are the decoded picture's, and say as much about the data's end.
void expectRowsAsDecoded(const JpegImage& picture, const Bitmap& decoded) {
    const std::unique_ptr<tz::PictureRows> rows = picture.rows();
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->width(), decoded.width());
    ASSERT_EQ(rows->height(), decoded.height());
    for (const int first : {0, decoded.height() / 3 | 1, decoded.height() - 1}) {
        if (first < decoded.height()) {
            ASSERT_EQ(tz::test::readRows(*rows, first), tz::test::whiteAbove(decoded, first))
                << "rows from " << first;
        }
    }
    rows->finish();
    EXPECT_EQ(rows->incomplete(), picture.incomplete());
}

TEST(JpegRows, AreTheDecodedPictureFromAnyRow) {
    const Bitmap detailed = tz::test::detailedBitmap(203, 131);
    JpegImage progressive;
    progressive.setProgressiveEncoding(true);
    progressive.assign(detailed);
    const Bytes whole = jpegBytes(detailed, 95);
    struct Case {
        const char* name;
        Bytes file;
        JpegScale scale;
    };
    for (const Case& c :
         {Case{"baseline", whole, JpegScale::Full},
          Case{"baseline at 1/4", whole, JpegScale::Quarter},
          Case{"progressive", progressive.saveToBytes(), JpegScale::Full},
          Case{"cut short", Bytes(whole.begin(), whole.begin() + 3000), JpegScale::Full}}) {
        SCOPED_TRACE(c.name);
        JpegImage picture;
        picture.loadFromBytes(c.file);
        picture.setScale(c.scale);
        picture.decode();
        expectRowsAsDecoded(picture, *picture.bitmap());
    }
}

// Greyscale and 8-bit output go through a palette made from the whole picture.
TEST(JpegRows, NoneWhereThePictureGoesThroughAPalette) {
    JpegImage grey;
    grey.setGrayscale(true);
    grey.assign(gradientBitmap(40, 30));
    JpegImage greyFile;
    greyFile.loadFromBytes(grey.saveToBytes());
    EXPECT_FALSE(greyFile.rows());
    JpegImage eightBit;
    eightBit.loadFromBytes(jpegBytes(gradientBitmap(40, 30)));
    eightBit.setPixelFormat(tz::JpegPixelFormat::Bits8);
    EXPECT_FALSE(eightBit.rows());
    eightBit.setPixelFormat(tz::JpegPixelFormat::Bits24);
    EXPECT_TRUE(eightBit.rows());
}

TEST(JpegDecoding, NotAJpegFailsOnLoad) {
    const Bytes text = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0};
    JpegImage picture;
    expectJpegError([&] { picture.loadFromBytes(text); }, JERR_NO_SOI);
    EXPECT_EQ(picture.saveToBytes(), text) << "the picture keeps its data";
}

TEST(JpegDecoding, CorruptScanFailsOnDecodeAndKeepsData) {
    // A table-selector byte of the scan header pointing at a Huffman table that does not exist.
    Bytes bytes = jpegBytes(gradientBitmap(16, 16));
    const auto sos = findMarker(bytes, 0xDA);
    ASSERT_NE(sos, bytes.end());
    *(sos + 6) = 0x33;  // component 1: DC table 3, AC table 3
    JpegImage picture;
    picture.loadFromBytes(bytes);
    EXPECT_EQ(picture.width(), 16);
    expectJpegError([&] { picture.decode(); }, JERR_NO_HUFF_TABLE);
    EXPECT_EQ(picture.bitmap(), nullptr);
    EXPECT_EQ(picture.saveToBytes(), bytes);
}

TEST(JpegDecoding, ThousandsOfScansAreRefused) {
    // The first scan of a progressive file repeated: the library only warns about the repeats,
    // and each would cost a pass over the whole picture.
    JpegImage writer;
    writer.setProgressiveEncoding(true);
    writer.assign(gradientBitmap(16, 16));
    Bytes bytes = writer.saveToBytes();
    const auto first = findMarker(bytes, 0xDA);
    ASSERT_NE(first, bytes.end());
    auto end = first + 2;
    while (end + 1 < bytes.end() &&
           !(end[0] == 0xFF && end[1] != 0x00 && (end[1] & 0xF8) != 0xD0)) {
        ++end;
    }
    const Bytes scan(first, end);
    Bytes repeated(bytes.begin(), end);
    for (int i = 0; i < 1000; ++i) {
        repeated.insert(repeated.end(), scan.begin(), scan.end());
    }
    repeated.insert(repeated.end(), end, bytes.end());
    JpegImage picture;
    picture.loadFromBytes(repeated);
    expectPlainError([&] { picture.decode(); }, "Too many scans in JPEG data (more than 1000)");
}

TEST(JpegDecoding, MissingFileIsNamedInTheError) {
    tz::test::TempDir folder;
    JpegImage picture;
    try {
        picture.loadFromFile(folder / "absent.jpg");
        ADD_FAILURE() << "loaded";
    } catch (const tz::Error& error) {
        EXPECT_NE(std::string(error.what()).find("absent.jpg"), std::string::npos) << error.what();
    }
}

TEST(JpegDecoding, GreyscaleFileGivesEightBitGrey) {
    JpegImage writer;
    writer.setGrayscale(true);
    writer.assign(gradientBitmap(256, 64));
    JpegImage picture;
    picture.loadFromBytes(writer.saveToBytes());
    EXPECT_TRUE(picture.grayscale());
    Bitmap decoded;
    picture.assignTo(decoded);
    expectGreyWithAtMost236Levels(decoded);
    EXPECT_EQ(decoded.colorTable().size(), 236u);
}

TEST(JpegDecoding, GrayscaleSwitchTurnsColourToGrey) {
    JpegImage picture;
    picture.loadFromBytes(jpegBytes(gradientBitmap(64, 64)));
    EXPECT_FALSE(picture.grayscale());
    picture.decode();
    picture.setGrayscale(true);
    EXPECT_EQ(picture.bitmap(), nullptr) << "a bitmap decoded with the old setting is dropped";
    picture.decode();
    expectGreyWithAtMost236Levels(*picture.bitmap());
}

TEST(JpegDecoding, EightBitOutputHasAPaletteOf236) {
    JpegImage picture;
    picture.loadFromBytes(jpegBytes(gradientBitmap(64, 64), 95));
    picture.setPixelFormat(tz::JpegPixelFormat::Bits8);
    picture.decode();
    const Bitmap& decoded = *picture.bitmap();
    ASSERT_EQ(decoded.format(), PixelFormat::Bits8);
    EXPECT_LE(decoded.colorTable().size(), 236u);
    EXPECT_LT(meanAbsoluteDifference(decoded, gradientBitmap(64, 64)), 6.0);
}

struct DecodeModeRow {
    const char* description;
    void (*apply)(JpegImage&);
    bool progressiveFile;
};

class JpegDecodeModes : public testing::TestWithParam<DecodeModeRow> {};

// Every mode gives the picture at its size and close to the original.
TEST_P(JpegDecodeModes, CloseToTheOriginal) {
    const Bitmap original = gradientBitmap(80, 60);
    JpegImage writer;
    writer.setProgressiveEncoding(GetParam().progressiveFile);
    writer.setCompressionQuality(95);
    writer.assign(original);
    JpegImage picture;
    GetParam().apply(picture);
    picture.loadFromBytes(writer.saveToBytes());
    picture.decode();
    ASSERT_EQ(picture.bitmap()->width(), 80);
    ASSERT_EQ(picture.bitmap()->height(), 60);
    EXPECT_LT(meanAbsoluteDifference(*picture.bitmap(), original), 6.0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, JpegDecodeModes,
    testing::Values(DecodeModeRow{"best_speed",
                                  [](JpegImage& p) {
                                      p.setPerformance(tz::JpegPerformance::BestSpeed);
                                  },
                                  false},
                    DecodeModeRow{"no_smoothing_progressive",
                                  [](JpegImage& p) { p.setSmoothing(false); }, true},
                    DecodeModeRow{"progressive_display",
                                  [](JpegImage& p) { p.setProgressiveDisplay(true); }, true},
                    DecodeModeRow{"progressive_display_8_bit",
                                  [](JpegImage& p) {
                                      p.setProgressiveDisplay(true);
                                      p.setPixelFormat(tz::JpegPixelFormat::Bits8);
                                  },
                                  true},
                    DecodeModeRow{"progressive_display_best_speed",
                                  [](JpegImage& p) {
                                      p.setProgressiveDisplay(true);
                                      p.setPerformance(tz::JpegPerformance::BestSpeed);
                                  },
                                  true}),
    [](const auto& rowInfo) { return std::string(rowInfo.param.description); });

TEST(JpegDecoding, ProgressiveDisplayEndsWithTheFinalPicture) {
    JpegImage writer;
    writer.setProgressiveEncoding(true);
    writer.assign(gradientBitmap(50, 40));
    const Bytes bytes = writer.saveToBytes();
    JpegImage plain;
    plain.loadFromBytes(bytes);
    plain.decode();
    JpegImage shown;
    shown.setProgressiveDisplay(true);
    shown.loadFromBytes(bytes);
    shown.decode();
    EXPECT_EQ(*shown.bitmap(), *plain.bitmap());
}

// A progressive file holds the same coefficients as its baseline twin, only sent in several
// scans, so both decode to the same pixels: the whole-picture coefficient arrays progressive
// decoding goes through hold every block where the library expects it.
TEST(JpegDecoding, ProgressiveFileDecodesExactlyAsItsBaselineTwin) {
    std::mt19937 random(7);
    for (const auto& [width, height] : {std::pair{301, 203}, {17, 900}, {1024, 9}}) {
        Bitmap picture = gradientBitmap(width, height);
        for (int i = 0; i < width * height / 4; ++i) {
            picture.setColor(
                static_cast<int>(random() % static_cast<unsigned>(width)),
                static_cast<int>(random() % static_cast<unsigned>(height)),
                Rgb{static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random()),
                    static_cast<std::uint8_t>(random())});
        }
        Bitmap decoded[2];
        for (const bool progressive : {false, true}) {
            JpegImage writer;
            writer.setProgressiveEncoding(progressive);
            writer.assign(picture);
            JpegImage reader;
            reader.loadFromBytes(writer.saveToBytes());
            ASSERT_EQ(reader.progressive(), progressive);
            reader.decode();
            const Bitmap* bitmap = reader.bitmap();
            ASSERT_NE(bitmap, nullptr);
            decoded[progressive ? 1 : 0] = *bitmap;
        }
        EXPECT_EQ(decoded[1], decoded[0]) << width << " x " << height;
    }
}

// Memory the system reports available, or 0 when unknown.
std::uint64_t availableMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kilobytes = 0;
    std::string unit;
    while (meminfo >> key >> kilobytes >> unit) {
        if (key == "MemAvailable:") {
            return kilobytes * 1024;
        }
    }
    return 0;
}

TEST(JpegDecoding, PictureTooLargeForMemoryFailsClearly) {
    // A progressive 8-bit-output file claiming 65500 x 65500 pixels: the bitmap (4 GiB), the
    // coefficients (12 GiB) and the two-pass quantiser's picture (12 GiB), about 28 GiB.
    constexpr std::uint64_t needed = std::uint64_t{25} << 30;
    if (availableMemory() == 0 || availableMemory() > needed) {
        GTEST_SKIP() << "this machine could hold the picture";
    }
    JpegImage writer;
    writer.setProgressiveEncoding(true);
    writer.assign(gradientBitmap(16, 16));
    Bytes bytes = writer.saveToBytes();
    const auto sof = findMarker(bytes, 0xC2);
    ASSERT_NE(sof, bytes.end());
    *(sof + 5) = 0xFF;  // height 65500
    *(sof + 6) = 0xDC;
    *(sof + 7) = 0xFF;  // width 65500
    *(sof + 8) = 0xDC;
    JpegImage picture;
    picture.setPixelFormat(tz::JpegPixelFormat::Bits8);
    picture.loadFromBytes(bytes);
    EXPECT_EQ(picture.width(), 65500);
    expectPlainError([&] { picture.decode(); },
                     "Not enough memory for a picture of 65500 x 65500 pixels");
}

// ---- Real-world files ----

std::filesystem::path jpegCorpus() {
    return tz::test::corpusFolder("jpeg");
}

// Pearson correlation of one channel (0 blue, 1 green, 2 red) of two 24-bit pictures.
double channelCorrelation(const Bitmap& a, const Bitmap& b, int channel) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    const auto n = static_cast<double>(a.pixels().size() / 3);
    for (std::size_t i = static_cast<std::size_t>(channel); i < a.pixels().size(); i += 3) {
        const double x = a.pixels()[i];
        const double y = b.pixels()[i];
        sa += x;
        sb += y;
        saa += x * x;
        sbb += y * y;
        sab += x * y;
    }
    return (sab - sa * sb / n) / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
}

Bitmap decodedCorpusFile(const char* name) {
    JpegImage picture;
    picture.loadFromFile(jpegCorpus() / name);
    Bitmap decoded;
    picture.assignTo(decoded);
    return decoded;
}

std::size_t countPixels(const Bitmap& bitmap, bool (*predicate)(Rgb)) {
    std::size_t count = 0;
    for (int y = 0; y < bitmap.height(); ++y) {
        for (int x = 0; x < bitmap.width(); ++x) {
            count += predicate(bitmap.color(x, y)) ? 1 : 0;
        }
    }
    return count;
}

bool isRed(Rgb c) {
    return c.red > 180 && c.green < 80 && c.blue < 80;
}
bool isGreen(Rgb c) {
    return c.green > 180 && c.red < 80 && c.blue < 80;
}
bool isBlue(Rgb c) {
    return c.blue > 180 && c.red < 80 && c.green < 80;
}
bool isWhite(Rgb c) {
    return c.red > 240 && c.green > 240 && c.blue > 240;
}
bool isBlack(Rgb c) {
    return c.red < 30 && c.green < 30 && c.blue < 30;
}

// The Adobe CMYK copy of a YCbCr file follows it closely. (It was made through a colour profile
// and is darker, so only the channels' correlation is close.)
TEST(JpegCorpus, AdobeCmykFileFollowsItsYCbCrTwin) {
    if (jpegCorpus().empty()) {
        GTEST_SKIP() << tz::test::corpusAbsentMessage();
    }
    const Bitmap cmyk = decodedCorpusFile("go-video-001.cmyk.jpg");
    const Bitmap ycbcr = decodedCorpusFile("go-video-001.jpg");
    ASSERT_EQ(cmyk.format(), PixelFormat::Bits24);
    ASSERT_EQ(cmyk.width(), ycbcr.width());
    ASSERT_EQ(cmyk.height(), ycbcr.height());
    for (int channel = 0; channel < 3; ++channel) {
        EXPECT_GT(channelCorrelation(cmyk, ycbcr, channel), 0.9) << "channel " << channel;
    }
    EXPECT_LT(meanAbsoluteDifference(cmyk, ycbcr), 45.0);
}

// What the other four-channel files show, seen in an independent viewer.
TEST(JpegCorpus, FourChannelFilesShowTheirColours) {
    if (jpegCorpus().empty()) {
        GTEST_SKIP() << tz::test::corpusAbsentMessage();
    }
    // A colour wheel (Adobe CMYK).
    const Bitmap wheel = decodedCorpusFile("jd-moz-jpg-cmyk-1.jpg");
    EXPECT_GT(countPixels(wheel, isRed), 0u);
    EXPECT_GT(countPixels(wheel, isGreen), 0u);
    EXPECT_GT(countPixels(wheel, isBlue), 0u);
    // Red letters on black (YCCK).
    const Bitmap letters = decodedCorpusFile("pil-pil_sample_cmyk.jpg");
    EXPECT_GT(countPixels(letters, isBlack), 5000u);
    EXPECT_GT(countPixels(letters, isRed), 500u);
    EXPECT_EQ(countPixels(letters, isWhite), 0u);
    // A red logo on white (YCCK), in two copies.
    for (const char* name : {"fc-moz-ymck-jpg.jpg", "its-1cbb1bb37d62c44f67374cd451643dc4.jpg"}) {
        SCOPED_TRACE(name);
        const Bitmap logo = decodedCorpusFile(name);
        EXPECT_TRUE(isWhite(logo.color(0, 0)));
        EXPECT_GT(countPixels(logo, isWhite), std::size_t(logo.width() * logo.height() / 2));
        EXPECT_GT(countPixels(logo, isRed), 500u);
        EXPECT_EQ(countPixels(logo, isGreen) + countPixels(logo, isBlue), 0u);
    }
}

using tz::test::CorpusEntry;
using tz::test::CorpusOutcome;

// The library's message code of a "JPEG error #N" text.
int jpegErrorCode(const std::string& message) {
    constexpr std::string_view kPrefix = "JPEG error #";
    const std::string_view number = std::string_view(message).substr(
        message.starts_with(kPrefix) ? kPrefix.size() : message.size());
    if (number.empty() || number.size() > 9 ||
        number.find_first_not_of("0123456789") != std::string_view::npos) {
        ADD_FAILURE() << "not a JPEG error message: \"" << message << "\"";
        return -1;
    }
    return std::stoi(std::string(number));
}

// The number of colour components the frame header (SOFn) declares, read from the file's markers
// without the library (extraneous bytes between markers skipped, as decoders do); none when no
// frame header comes before the first scan.
std::optional<int> frameComponents(const Bytes& file) {
    if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xD8) {
        return std::nullopt;
    }
    std::size_t at = 2;
    for (;;) {
        while (at < file.size() && file[at] != 0xFF) {
            ++at;
        }
        while (at + 1 < file.size() && file[at + 1] == 0xFF) {
            ++at;  // fill bytes
        }
        if (at + 4 > file.size()) {
            return std::nullopt;
        }
        const std::uint8_t marker = file[at + 1];
        const std::size_t length = std::size_t{file[at + 2]} << 8 | file[at + 3];
        const bool frameHeader =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frameHeader) {
            // Length (2), precision (1), height (2), width (2), then the component count.
            return at + 9 < file.size() ? std::optional<int>(file[at + 9]) : std::nullopt;
        }
        if (marker == 0xDA || marker == 0xD9 || length < 2) {
            return std::nullopt;
        }
        at += 2 + length;
    }
}

// Pictures above this size are only decoded by the disabled test below (gigabytes of memory).
constexpr std::uint64_t kHugePixels = 100'000'000;

class JpegCorpusFile : public testing::TestWithParam<CorpusEntry> {
  protected:
    static void check(const CorpusEntry& entry, bool decodeHuge);
};

void JpegCorpusFile::check(const CorpusEntry& entry, bool decodeHuge) {
    const std::filesystem::path file = jpegCorpus() / entry.file;
    JpegImage picture;
    if (entry.outcome == CorpusOutcome::MustFail) {
        expectJpegError([&] { picture.loadFromFile(file); }, jpegErrorCode(entry.failure));
        return;
    }
    // The header of every other file loads: only what decoding gives is left open.
    ASSERT_NE(entry.outcome, CorpusOutcome::Unrecognised) << "the manifest gives no outcome";
    ASSERT_TRUE(entry.size.has_value()) << "the manifest gives no size";
    const int width = entry.size->width;
    const int height = entry.size->height;
    ASSERT_NO_THROW(picture.loadFromFile(file));
    EXPECT_EQ(picture.width(), width);
    EXPECT_EQ(picture.height(), height);
    if (!decodeHuge && std::uint64_t(width) * std::uint64_t(height) > kHugePixels) {
        return;
    }
    Bitmap decoded;
    if (entry.outcome == CorpusOutcome::Loads && !entry.failure.empty()) {
        expectJpegError([&] { picture.assignTo(decoded); }, jpegErrorCode(entry.failure));
        // Read as rows, it fails alike.
        expectJpegError([&] { tz::test::readRows(*picture.rows()); }, jpegErrorCode(entry.failure));
        return;
    }
    // Four-channel files are left open; ours decode them to 24-bit colour.
    const std::optional<int> components = frameComponents(tz::test::readFile(file));
    if (entry.outcome == CorpusOutcome::Loads || components == 4) {
        ASSERT_NO_THROW(picture.assignTo(decoded));
        EXPECT_EQ(decoded.width(), width);
        EXPECT_EQ(decoded.height(), height);
        if (components == 4) {
            EXPECT_EQ(decoded.format(), PixelFormat::Bits24);
        }
        if (components == 1) {
            expectGreyWithAtMost236Levels(decoded);
        } else {
            expectRowsAsDecoded(picture, decoded);
        }
        return;
    }
    // Left open: any clear outcome.
    try {
        picture.assignTo(decoded);
        EXPECT_EQ(decoded.width(), width);
    } catch (const tz::Error& error) {
        EXPECT_STRNE(error.what(), "");
    }
}

TEST_P(JpegCorpusFile, HasTheExpectedOutcome) {
    if (GetParam().file.empty()) {
        GTEST_SKIP() << tz::test::corpusAbsentMessage();
    }
    check(GetParam(), false);
}

INSTANTIATE_TEST_SUITE_P(Manifest, JpegCorpusFile,
                         testing::ValuesIn(tz::test::corpusTestEntries("jpeg")),
                         [](const auto& row) { return tz::test::corpusTestName(row.param); });

// Decodes the gigapixel files too: several GB of memory and minutes. Run by hand with
// --gtest_also_run_disabled_tests.
class JpegHugeCorpus : public JpegCorpusFile {};

TEST_F(JpegHugeCorpus, DISABLED_EveryFileHasTheExpectedOutcomeAtAnySize) {
    if (jpegCorpus().empty()) {
        GTEST_SKIP() << tz::test::corpusAbsentMessage();
    }
    for (const CorpusEntry& entry : tz::test::readCorpusManifest("jpeg")) {
        SCOPED_TRACE(entry.file + ": " + entry.expected);
        check(entry, true);
    }
}

}  // namespace
