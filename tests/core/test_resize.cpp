// The target-size rule, the size text, the output rule and the resize entry point end to end.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <thread>

#include "support/picture_builders.h"
#include "support/support.h"
#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/errors.h"
#include "tz/gif.h"
#include "tz/jpeg.h"
#include "tz/memory_budget.h"
#include "tz/resample.h"
#include "tz/resize.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using test::detailedBitmap;
using test::gradientBitmap;
using test::readFile;
using test::TempDir;
using test::writeFile;

struct TargetCase {
    const char* description;
    int width;
    int height;
    int n;
    Size expected;
};

class TargetSizeTest : public ::testing::TestWithParam<TargetCase> {};

TEST_P(TargetSizeTest, ScalesTheLongerSideToN) {
    const TargetCase& c = GetParam();
    EXPECT_EQ(targetSize(c.width, c.height, c.n), c.expected)
        << c.description << ": got " << targetSize(c.width, c.height, c.n).width << " x "
        << targetSize(c.width, c.height, c.n).height;
}

INSTANTIATE_TEST_SUITE_P(
    Examples, TargetSizeTest,
    ::testing::Values(
        TargetCase{"62.5 rounds to the even 62", 400, 250, 100, {100, 62}},
        TargetCase{"67.5 rounds to the even 68", 400, 270, 100, {100, 68}},
        TargetCase{"portrait takes the height", 250, 400, 100, {62, 100}},
        TargetCase{"square takes the width", 300, 300, 120, {120, 120}},
        TargetCase{"smaller pictures are enlarged", 50, 40, 100, {100, 80}},
        // f = 0.1 as a double is slightly above 0.1; 25 f in extended precision is just
        // above 2.5, while a product rounded to double would be exactly 2.5 and go to 2.
        TargetCase{"product formed in extended precision", 1600, 25, 160, {160, 3}},
        TargetCase{"a side rounding to 0 gets 1 pixel", 10000, 1, 100, {100, 1}},
        TargetCase{"1 x 1 source", 1, 1, 1600, {1600, 1600}}));

TEST(TargetSize, RefusesSizesBelowOne) {
    EXPECT_THROW(targetSize(10, 10, 0), Error);
    EXPECT_THROW(targetSize(0, 10, 100), Error);
}

TEST(SizeText, ParsesDecimalIntegersAndNamesBadText) {
    EXPECT_EQ(parseSizeText("640"), 640);
    EXPECT_EQ(parseSizeText("1600"), 1600);
    try {
        parseSizeText("12a");
        FAIL() << "no error for 12a";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "'12a' is not a valid integer value");
    }
    EXPECT_THROW(parseSizeText(""), Error);
    EXPECT_THROW(parseSizeText("99999999999"), Error);
}

TEST(OutputRule, TheOutputGoesIntoResizedBesideItsSource) {
    EXPECT_EQ(outputPathFor("/photos/2024/IMG 1.JPG"), fs::path("/photos/2024/resized/IMG 1.JPG"));
    EXPECT_EQ(outputPathFor("a.gif"), fs::path("resized/a.gif"));
    EXPECT_EQ(outputPathFor("/a.bmp"), fs::path("/resized/a.bmp"));
    EXPECT_EQ(outputPathFor("shot.Png"), fs::path("resized/shot.Png"));
}

// Phone photos have no encoder here: they become JPEGs under the same base name. A requested
// format names every output with its extension in lower case.
TEST(OutputRule, ConvertedOutputsTakeTheirFormatsExtension) {
    EXPECT_EQ(outputFormatFor(PictureFormat::Heif), PictureFormat::Jpeg);
    EXPECT_EQ(outputFormatFor(PictureFormat::Webp), PictureFormat::Webp);
    EXPECT_EQ(outputFormatFor(PictureFormat::Gif, PictureFormat::Png), PictureFormat::Png);
    EXPECT_EQ(outputPathFor("/p/IMG_0001.HEIC"), fs::path("/p/resized/IMG_0001.jpg"));
    EXPECT_EQ(outputNameFor("b.avif"), fs::path("b.jpg"));
    EXPECT_EQ(outputNameFor("a.JPG", PictureFormat::Jpeg), fs::path("a.jpg"));
    EXPECT_EQ(outputNameFor("a.jpeg", PictureFormat::Webp), fs::path("a.webp"));
    EXPECT_EQ(outputNameFor("v1.2.bmp", PictureFormat::Gif), fs::path("v1.2.gif"));
    EXPECT_EQ(outputNameFor("notes.txt", PictureFormat::Png), fs::path("notes.txt"));
}

// Files in a folder of their own, resized by the entry point to 100 pixels into "resized".
class ResizeFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directory(m_folder / "resized");
        m_request.size = 100;
    }
    void resize(const std::string& name, const BeforeWrite& beforeWrite = {}) {
        resizeFile(m_folder / name, outputPathFor(m_folder / name), m_request, beforeWrite);
    }
    TempDir m_folder;
    ResizeRequest m_request;
};
TEST_F(ResizeFileTest, BmpIsWrittenAt24BitsUnderTheSameNameAndTheSourceIsUnchanged) {
    Bitmap source(400, 250, PixelFormat::Bits8, {{0, 0, 0}, {255, 0, 0}, {255, 255, 255}});
    for (int x = 0; x < 200; ++x) {
        source.setIndex(x, 10, 1);
    }
    writeFile(m_folder / "Photo.BMP", encodeBmp(source));
    const auto before = readFile(m_folder / "Photo.BMP");
    resize("Photo.BMP");
    const Bitmap output = loadBmpFile(m_folder / "resized" / "Photo.BMP");
    EXPECT_EQ(output.width(), 100);
    EXPECT_EQ(output.height(), 62);
    EXPECT_EQ(output.format(), PixelFormat::Bits24);
    EXPECT_EQ(readFile(m_folder / "Photo.BMP"), before);
}

TEST_F(ResizeFileTest, JpegIsWrittenAtTheTargetSize) {
    JpegImage source;
    source.assign(gradientBitmap(250, 400));
    writeFile(m_folder / "p.jpg", source.saveToBytes());
    resize("p.jpg");
    JpegImage output;
    output.loadFromFile(m_folder / "resized" / "p.jpg");
    EXPECT_EQ(output.width(), 62);
    EXPECT_EQ(output.height(), 100);
}

// Pictures are resized from rows decoded as they are needed, in parts on several threads when
// the file allows: the output is that of decoding the whole picture and resampling it, with
// any number of threads, also from a reduced decode.
TEST_F(ResizeFileTest, OutputIsTheWholePicturesWithAnyNumberOfThreads) {
    writeFile(m_folder / "p.jpg", test::jpegBytes(detailedBitmap(331, 517), 92));
    for (const bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast" : "exact");
        JpegImage picture;
        picture.loadFromFile(m_folder / "p.jpg");
        const JpegScale scale = fast ? fastJpegScale({331, 517}, {39, 61}) : JpegScale::Full;
        ASSERT_EQ(scale, fast ? JpegScale::Quarter : JpegScale::Full);
        picture.setScale(scale);
        Bitmap whole = picture.releaseBitmap();
        Bitmap target(39, 61);
        ResampleOptions options;
        if (fast) {
            options.sourceReduction = 4;
            options.reducedFromWidth = 331;
            options.reducedFromHeight = 517;
        }
        const KernelEntry& lanczos = kKernelTable[kLanczos3Index];
        resampleBitmap(whole, target, lanczos.function, lanczos.support, options);
        JpegImage expected;
        expected.assign(std::move(target));
        expected.setCompressionQuality(89);

        ResizeRequest request;
        request.size = 61;
        request.fastJpegScaling = fast;
        for (const int threads : {1, 2, 3}) {
            request.threadsPerFile = threads;
            EXPECT_EQ(resizeToBytes(m_folder / "p.jpg", PictureFormat::Jpeg, request),
                      expected.saveToBytes())
                << threads << " threads";
        }
    }
}

// A GIF is drawn a row at a time as the resampler reads it: the output is that of the picture
// drawn whole over white and resampled, with any number of threads.
TEST_F(ResizeFileTest, GifOutputIsThatOfTheWholeDrawnPictureWithAnyNumberOfThreads) {
    // A frame smaller than the screen with a transparent index: white around and through it.
    std::vector<std::uint8_t> indices(80 * 120);
    for (std::size_t i = 0; i < indices.size(); ++i) {
        indices[i] = static_cast<std::uint8_t>(i * 7 % 5 % 4);
    }
    const std::vector<Rgb> colors{{255, 0, 0}, {0, 128, 0}, {0, 0, 255}, {255, 255, 0}};
    test::GifBytes file;
    file.header(97, 131, colors).graphicControl(0, 0, 3).image(9, 5, 80, 120, indices).trailer();
    writeFile(m_folder / "p.gif", file.bytes());

    ResizeRequest request;
    request.size = 40;
    std::vector<std::vector<std::uint8_t>> outputs;
    for (const int threads : {1, 2, 3}) {
        request.threadsPerFile = threads;
        outputs.push_back(resizeToBytes(m_folder / "p.gif", PictureFormat::Gif, request));
    }
    GifImage written;
    written.loadFromBytes(outputs.front());
    GifImage source;
    source.loadFromBytes(file.bytes());
    Bitmap drawn(97, 131);
    source.draw(drawn, Rect{0, 0, 97, 131});
    Bitmap target(written.width(), written.height());
    const KernelEntry& lanczos = kKernelTable[kLanczos3Index];
    resampleBitmap(drawn, target, lanczos.function, lanczos.support);
    GifImage expected;
    expected.assign(target);
    EXPECT_EQ(written.height(), 40);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        EXPECT_EQ(outputs[i], expected.saveToBytes()) << i + 1 << " threads";
    }
}

TEST_F(ResizeFileTest, GifIsWrittenAsOneWebPaletteFrame) {
    GifImage source;
    source.assign(gradientBitmap(64, 32));
    writeFile(m_folder / "a.gif", source.saveToBytes());
    resize("a.gif");
    GifImage output;
    output.loadFromFile(m_folder / "resized" / "a.gif");
    EXPECT_EQ(output.width(), 100);
    EXPECT_EQ(output.height(), 50);
    EXPECT_EQ(output.images().size(), 1u);
}

TEST_F(ResizeFileTest, TransparentGifIsWrittenOpaqueOverWhite) {
    Bitmap indexed(8, 8, PixelFormat::Bits8, {{0, 0, 0}, {200, 10, 10}});
    GifImage source;
    source.assign(indexed);  // every pixel index 0, which the extension below makes transparent
    std::vector<std::uint8_t> bytes = source.saveToBytes();
    // A graphic control extension marking index 0 transparent, before the image descriptor.
    const std::vector<std::uint8_t> extension{0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00};
    bytes.insert(bytes.begin() + 13, extension.begin(), extension.end());
    writeFile(m_folder / "t.gif", bytes);
    m_request.size = 16;
    resize("t.gif");
    GifImage output;
    output.loadFromFile(m_folder / "resized" / "t.gif");
    Bitmap rendered;
    output.assignTo(rendered);
    const Bitmap flat = rendered.to24();
    for (int y = 0; y < flat.height(); ++y) {
        for (int x = 0; x < flat.width(); ++x) {
            ASSERT_EQ(flat.color(x, y), (Rgb{255, 255, 255})) << "at " << x << "," << y;
        }
    }
}

TEST_F(ResizeFileTest, CorruptFilesFailWithTheCodecsErrorAndWriteNothing) {
    writeFile(m_folder / "bad.jpg", {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
    writeFile(m_folder / "bad.gif", {'n', 'o', 't', ' ', 'g', 'i', 'f'});
    writeFile(m_folder / "bad.bmp", {'B', 'M', 0});
    // A file that fails never reaches the hook before the write.
    const BeforeWrite unreachable = [] { ADD_FAILURE() << "the failing file was to be written"; };
    EXPECT_THROW(resize("bad.jpg", unreachable), JpegError);
    EXPECT_THROW(resize("bad.gif", unreachable), GifError);
    EXPECT_THROW(resize("bad.bmp", unreachable), Error);
    EXPECT_THROW(resize("missing.bmp", unreachable), Error);
    EXPECT_THROW(resize("notes.txt", unreachable), Error);
    EXPECT_TRUE(fs::is_empty(m_folder / "resized"));
}

// A GIF whose frame has no colour table at all fails instead of coming out black.
TEST_F(ResizeFileTest, GifWithoutAnyColorTableFailsAndWritesNothing) {
    // The signature; a 2 x 1 screen without a global table; a frame descriptor without a local
    // one; LZW codes of 3 bits: clear, 0, 1, end; the trailer.
    writeFile(m_folder / "bare.gif",
              {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0,    0,    0, 0x2C, 0,
               0,   0,   0,   2,   0,   1,   0, 0, 2, 2, 0x44, 0x0A, 0, 0x3B});
    try {
        resize("bare.gif");
        FAIL() << "no error";
    } catch (const GifError& error) {
        EXPECT_EQ(std::string(error.what()), "No global or local color table defined");
    }
    EXPECT_TRUE(fs::is_empty(m_folder / "resized"));
}

// Every regular file under `folder` with its bytes, links not followed.
std::map<fs::path, std::vector<std::uint8_t>> snapshot(const fs::path& folder) {
    std::map<fs::path, std::vector<std::uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && !entry.is_symlink()) {
            files[entry.path()] = readFile(entry.path());
        }
    }
    return files;
}

// What stands where the output folder "resized" belongs, and what refusing it says.
struct PlacementCase {
    const char* description;
    const char* linkTarget;  // nullptr: a regular file named "resized"
    const char* why;
};

class OutputPlacement : public ::testing::TestWithParam<PlacementCase> {};

// A "resized" that is a link (to the source folder, its parent or elsewhere) or a file is never
// written through: every file stays as it was, sources and unrelated pictures alike.
TEST_P(OutputPlacement, ResizedThatIsALinkOrAFileIsRefusedAndNothingChanges) {
    const TempDir top;
    fs::create_directories(top / "album");
    fs::create_directories(top / "elsewhere");
    writeFile(top / "album" / "a.bmp", encodeBmp(detailedBitmap(40, 20)));
    writeFile(top / "a.bmp",
              encodeBmp(detailedBitmap(30, 30)));  // an unrelated picture of that name
    const fs::path resized = top / "album" / "resized";
    if (GetParam().linkTarget != nullptr) {
        fs::create_directory_symlink(GetParam().linkTarget, resized);
    } else {
        writeFile(resized, {'x'});
    }
    const auto before = snapshot(top.path());
    ResizeRequest request;
    request.size = 10;
    try {
        resizeFile(top / "album" / "a.bmp", outputPathFor(top / "album" / "a.bmp"), request);
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot write into " + resized.string() + ": " + GetParam().why);
    }
    EXPECT_EQ(snapshot(top.path()), before);
    EXPECT_TRUE(fs::is_empty(top / "elsewhere"));
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, OutputPlacement,
    ::testing::Values(PlacementCase{"LinkToTheSourceFolder", ".", "it is a symbolic link"},
                      PlacementCase{"LinkToTheParentFolder", "..", "it is a symbolic link"},
                      PlacementCase{"LinkToAnotherFolder", "../../elsewhere",
                                    "it is a symbolic link"},
                      PlacementCase{"RegularFile", nullptr, "it is not a folder"}),
    [](const ::testing::TestParamInfo<PlacementCase>& row) { return row.param.description; });

// An output that would replace a source of the run (here through a hard link) is refused, and
// so is one that is its own source.
TEST_F(ResizeFileTest, AnOutputThatIsASourceOfTheRunIsRefused) {
    writeFile(m_folder / "a.bmp", encodeBmp(detailedBitmap(40, 20)));
    writeFile(m_folder / "b.bmp", encodeBmp(detailedBitmap(20, 40)));
    fs::create_hard_link(m_folder / "b.bmp", m_folder / "resized" / "a.bmp");
    const std::vector<FileIdentity> sources{*fileIdentity(m_folder / "a.bmp"),
                                            *fileIdentity(m_folder / "b.bmp")};
    m_request.runSources = sources;
    const auto before = snapshot(m_folder.path());
    const std::string message = "Cannot write " + (m_folder / "resized" / "a.bmp").string() +
                                ": it is a source of this run";
    try {
        resize("a.bmp");
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
    m_request.runSources = {};
    try {
        resizeFile(m_folder / "a.bmp", m_folder / "a.bmp", m_request);
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot write " + (m_folder / "a.bmp").string() + ": it is a source of this run");
    }
    EXPECT_EQ(snapshot(m_folder.path()), before);
}

// Runs `call` as a user without root's power to ignore permissions (in a child process when the
// tests run as root); what it threw, or "(no error)".
std::string failureWithoutPrivileges(const std::function<void()>& call) {
    const auto attempt = [&]() -> std::string {
        try {
            call();
        } catch (const Error& error) {
            return error.what();
        }
        return "(no error)";
    };
    if (::geteuid() != 0) {
        return attempt();
    }
    int channel[2];
    if (::pipe(channel) != 0) {
        return "(no pipe)";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        constexpr uid_t kNobody = 65534;
        const std::string message = ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0
                                        ? attempt()
                                        : std::string("(cannot become nobody)");
        static_cast<void>(::write(channel[1], message.data(), message.size()));
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string message;
    char buffer[512];
    for (ssize_t got = 0; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;) {
        message.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(channel[0]);
    ::waitpid(child, nullptr, 0);
    return message;
}

// A folder where "resized" cannot be created says why, as the system says it.
TEST(OutputFolder, AFolderThatCannotBeCreatedGivesTheSystemsReason) {
    const TempDir folder;
    writeFile(folder / "a.bmp", encodeBmp(detailedBitmap(40, 20)));
    fs::permissions(folder.path(), fs::perms::owner_all | fs::perms::group_read |
                                       fs::perms::group_exec | fs::perms::others_read |
                                       fs::perms::others_exec);
    if (::geteuid() != 0) {
        fs::permissions(folder.path(), fs::perms::owner_write, fs::perm_options::remove);
    }
    ResizeRequest request;
    request.size = 10;
    const std::string message = failureWithoutPrivileges(
        [&] { resizeFile(folder / "a.bmp", outputPathFor(folder / "a.bmp"), request); });
    fs::permissions(folder.path(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(message,
              "Cannot create folder " + (folder / "resized").string() + ": Permission denied");
    EXPECT_FALSE(fs::exists(folder / "resized"));
}

// A budget that examines every allocation and has nothing to give: a picture refused with its
// pixel limit under it was refused before anything was allocated for it.
MemoryBudget& nothingToGive() {
    static MemoryBudget budget([] { return std::size_t{0}; }, 0);
    return budget;
}

// Tiny files declaring huge pictures, one per format.
std::vector<std::uint8_t> tinyBmp(int width, int height) {
    std::vector<std::uint8_t> bytes(54, 0);
    const auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    bytes[0] = 'B';
    bytes[1] = 'M';
    put32(2, 54);
    put32(10, 54);  // pixel data offset
    put32(14, 40);  // info header size
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    bytes[26] = 1;   // planes
    bytes[28] = 24;  // bits per pixel
    return bytes;
}

std::vector<std::uint8_t> tinyGif(int width, int height) {
    // The screen, a two-colour global table, a 1 x 1 frame (codes clear, 0, end) and the trailer.
    std::vector<std::uint8_t> bytes{'G', 'I', 'F', '8', '9', 'a', 0,   0,    0,    0, 0x80, 0,
                                    0,   0,   0,   0,   255, 255, 255, 0x2C, 0,    0, 0,    0,
                                    1,   0,   1,   0,   0,   2,   2,   0x44, 0x01, 0, 0x3B};
    bytes[6] = static_cast<std::uint8_t>(width);
    bytes[7] = static_cast<std::uint8_t>(width >> 8);
    bytes[8] = static_cast<std::uint8_t>(height);
    bytes[9] = static_cast<std::uint8_t>(height >> 8);
    return bytes;
}

std::vector<std::uint8_t> tinyJpeg(int width, int height) {
    JpegImage small;
    small.assign(detailedBitmap(8, 8));
    std::vector<std::uint8_t> bytes = small.saveToBytes();
    // The frame header (SOF0): marker, length, precision, then height and width.
    for (std::size_t at = 2; at + 9 < bytes.size(); ++at) {
        if (bytes[at] == 0xFF && bytes[at + 1] == 0xC0) {
            bytes[at + 5] = static_cast<std::uint8_t>(height >> 8);
            bytes[at + 6] = static_cast<std::uint8_t>(height);
            bytes[at + 7] = static_cast<std::uint8_t>(width >> 8);
            bytes[at + 8] = static_cast<std::uint8_t>(width);
            break;
        }
    }
    return bytes;
}

struct DeclaredSizeCase {
    const char* name;
    std::vector<std::uint8_t> (*file)(int width, int height);
    int width;
    int height;
};

class DeclaredSize : public ::testing::TestWithParam<DeclaredSizeCase> {};

// A picture declaring more pixels than the request allows fails with a message naming its size
// and the limit, before anything is allocated.
TEST_P(DeclaredSize, BeyondThePixelLimitIsRefusedBeforeAllocating) {
    const TempDir folder;
    const DeclaredSizeCase& row = GetParam();
    writeFile(folder / row.name, row.file(row.width, row.height));
    ResizeRequest request;
    request.maxPixels = std::uint64_t{1} << 28;
    request.memoryBudget = &nothingToGive();
    try {
        resizeFile(folder / row.name, outputPathFor(folder / row.name), request);
        FAIL() << "no error";
    } catch (const PixelLimitError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Picture of " + std::to_string(row.width) + " x " + std::to_string(row.height) +
                      " pixels is larger than the limit of 268435456 pixels");
    }
    EXPECT_FALSE(fs::exists(folder / "resized"));
}

INSTANTIATE_TEST_SUITE_P(Formats, DeclaredSize,
                         ::testing::Values(DeclaredSizeCase{"huge.gif", tinyGif, 65535, 65535},
                                           DeclaredSizeCase{"huge.bmp", tinyBmp, 65535, 65535},
                                           DeclaredSizeCase{"huge.jpg", tinyJpeg, 60000, 60000},
                                           DeclaredSizeCase{"long.gif", tinyGif, 65535, 4097}),
                         [](const ::testing::TestParamInfo<DeclaredSizeCase>& row) {
                             std::string name = row.param.name;
                             name[name.find('.')] = '_';
                             return name;
                         });

// Two files resized at the same time whose pictures fit the memory one at a time but not
// together: the second waits for the first and both are written.
TEST(ResizeMemory, TwoJobsThatFitOneAtATimeBothFinish) {
    const TempDir folder;
    const Bitmap picture = detailedBitmap(1000, 1000);  // a 3 MB raster
    writeFile(folder / "a.bmp", encodeBmp(picture));
    writeFile(folder / "b.bmp", encodeBmp(picture));
    MemoryBudget budget([] { return std::size_t{4} << 20; }, 1 << 20);
    ResizeRequest request;
    request.size = 10;
    request.threadsPerFile = 1;
    request.memoryBudget = &budget;
    std::string errors[2];
    const auto resizeOne = [&](int index, const char* name) {
        try {
            resizeFile(folder / name, outputPathFor(folder / name), request);
        } catch (const Error& error) {
            errors[index] = error.what();
        }
    };
    std::thread first(resizeOne, 0, "a.bmp");
    std::thread second(resizeOne, 1, "b.bmp");
    first.join();
    second.join();
    EXPECT_EQ(errors[0], "");
    EXPECT_EQ(errors[1], "");
    EXPECT_EQ(loadBmpFile(folder / "resized" / "a.bmp").width(), 10);
    EXPECT_EQ(loadBmpFile(folder / "resized" / "b.bmp").width(), 10);
}

// A source rewritten while it is resized (here each time memory is asked for, after reading)
// is resized once more from its new content; one rewritten every time fails.
TEST(ResizeChangingSource, IsResizedOnceMoreThenRefused) {
    const TempDir folder;
    const fs::path source = folder / "copying.bmp";
    // Encoded beforehand: the budget asks for the free memory with its lock held.
    std::vector<std::vector<std::uint8_t>> versions;
    for (int height = 20; height <= 200; height += 20) {
        versions.push_back(encodeBmp(detailedBitmap(40, height)));
    }
    for (const bool everyTime : {false, true}) {
        writeFile(source, versions[0]);
        std::size_t rewrites = 0;
        MemoryBudget budget(
            [&] {
                if ((rewrites == 0 || everyTime) && rewrites + 1 < versions.size()) {
                    ++rewrites;
                    writeFile(source, versions[rewrites]);
                }
                return std::numeric_limits<std::size_t>::max();
            },
            0);
        ResizeRequest request;
        request.size = 10;
        request.memoryBudget = &budget;
        if (everyTime) {
            try {
                resizeFile(source, outputPathFor(source), request);
                ADD_FAILURE() << "no error";
            } catch (const FileReadError& error) {
                EXPECT_EQ(error.cause(), FileReadError::Cause::Changed);
                EXPECT_EQ(std::string(error.what()),
                          "Cannot read " + source.string() + ": the file changed while being read");
            }
        } else {
            resizeFile(source, outputPathFor(source), request);
            EXPECT_EQ(rewrites, 1u);
            // The 40 x 40 picture written during the first attempt, not the 40 x 20 one.
            EXPECT_EQ(loadBmpFile(folder / "resized" / "copying.bmp").height(), 10);
        }
    }
}

// Source files whose data ends before their picture does, and the same files whole.
std::vector<std::uint8_t> cutJpeg(bool whole) {
    JpegImage picture;
    picture.assign(detailedBitmap(64, 48));
    std::vector<std::uint8_t> bytes = picture.saveToBytes();
    if (!whole) {
        bytes.resize(bytes.size() * 3 / 5);
    }
    return bytes;
}

std::vector<std::uint8_t> cutGif(bool whole) {
    GifImage picture;
    picture.assign(detailedBitmap(64, 48));
    std::vector<std::uint8_t> bytes = picture.saveToBytes();
    if (!whole) {
        bytes.resize(bytes.size() * 3 / 5);  // inside the frame's LZW data
    }
    return bytes;
}

std::vector<std::uint8_t> cutRleBmp(bool whole) {
    // A 4 x 2 RLE8 picture: a run of four index 1, end of line, a run of four index 2, and the
    // end-of-bitmap escape unless the data is cut before it.
    std::vector<std::uint8_t> bytes = tinyBmp(4, 2);
    bytes[28] = 8;   // bits per pixel
    bytes[30] = 1;   // RLE8
    bytes[10] = 62;  // pixel data after a two-entry colour table
    const std::vector<std::uint8_t> table{0, 0, 0, 0, 255, 255, 255, 0};
    bytes.insert(bytes.end(), table.begin(), table.end());
    const std::vector<std::uint8_t> runs{4, 1, 0, 0, 4, 0};
    bytes.insert(bytes.end(), runs.begin(), runs.end());
    if (whole) {
        bytes.push_back(0);
        bytes.push_back(1);
    }
    return bytes;
}

struct IncompleteCase {
    const char* name;
    std::vector<std::uint8_t> (*file)(bool whole);
};

class IncompleteSource : public ::testing::TestWithParam<IncompleteCase> {};

// A source whose data ends early is written with its missing part filled, as always, and says
// so; a request that refuses such pictures fails and writes nothing. A whole file says nothing.
TEST_P(IncompleteSource, IsWrittenFilledAndReportedOrRefusedOnRequest) {
    const TempDir folder;
    const std::string name = GetParam().name;
    ResizeRequest request;
    request.size = 16;
    writeFile(folder / name, GetParam().file(true));
    EXPECT_FALSE(resizeFile(folder / name, outputPathFor(folder / name), request).incomplete);

    writeFile(folder / name, GetParam().file(false));
    const PictureFormat format = *resizedFormatOf(name);
    const std::vector<std::uint8_t> expected = resizeToBytes(folder / name, format, request);
    EXPECT_TRUE(resizeFile(folder / name, outputPathFor(folder / name), request).incomplete);
    EXPECT_EQ(readFile(folder / "resized" / name), expected);

    fs::remove(folder / "resized" / name);
    request.refuseIncomplete = true;
    try {
        resizeFile(folder / name, outputPathFor(folder / name), request);
        ADD_FAILURE() << "no error";
    } catch (const IncompletePictureError& error) {
        EXPECT_EQ(std::string(error.what()), "The picture's data ends early");
    }
    EXPECT_FALSE(fs::exists(folder / "resized" / name));
}

INSTANTIATE_TEST_SUITE_P(Formats, IncompleteSource,
                         ::testing::Values(IncompleteCase{"cut.jpg", cutJpeg},
                                           IncompleteCase{"cut.gif", cutGif},
                                           IncompleteCase{"cut.bmp", cutRleBmp}),
                         [](const ::testing::TestParamInfo<IncompleteCase>& row) {
                             std::string name = row.param.name;
                             name[name.find('.')] = '_';
                             return name;
                         });

// The hook runs once the output is encoded; throwing from it abandons the file unwritten, and
// a caller that lets the write go gets exactly what resizeToBytes gives.
TEST_F(ResizeFileTest, TheHookBeforeWritingCanAbandonTheFile) {
    writeFile(m_folder / "a.bmp", encodeBmp(gradientBitmap(40, 20)));
    struct Abandon {};
    EXPECT_THROW(resize("a.bmp", [] { throw Abandon{}; }), Abandon);
    EXPECT_TRUE(fs::is_empty(m_folder / "resized"));
    int calls = 0;
    resize("a.bmp", [&] { ++calls; });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(readFile(m_folder / "resized" / "a.bmp"),
              resizeToBytes(m_folder / "a.bmp", PictureFormat::Bmp, m_request));
}

}  // namespace
}  // namespace tz
