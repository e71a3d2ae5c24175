// zevediz-resize as scripts use it: exit statuses, messages, outputs and the order guarantee.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/photo_metadata.h"
#include "support/picture_builders.h"
#include "support/support.h"
#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/jpeg.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeFile;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CliTest : public ::testing::Test {
  protected:
    Outcome run(const std::string& arguments) {
        const fs::path out = m_folder / "stdout.txt";
        const fs::path err = m_folder / "stderr.txt";
        const std::string command = "cd '" + m_folder.path().string() + "' && '" TZ_CLI_PATH "' " +
                                    arguments + " >'" + out.string() + "' 2>'" + err.string() +
                                    "' </dev/null";
        const int raw = std::system(command.c_str());
        Outcome outcome;
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        outcome.out = slurp(out);
        outcome.err = slurp(err);
        return outcome;
    }

    void writePicture(const std::string& name, int width, int height) {
        test::writePicture(m_folder / name, width, height);
    }

    bool written(const std::string& name) const { return fs::exists(m_folder / "resized" / name); }

    TempDir m_folder;
};

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("--frobnicate a.bmp").status, 2);
    EXPECT_EQ(run("--size 12x a.bmp").status, 2);
    EXPECT_EQ(run("--size 0 a.bmp").status, 2);
    EXPECT_EQ(run("--geometry 10 a.bmp").status, 2);
    EXPECT_EQ(run("--kernel Sharpest a.bmp").status, 2);
    EXPECT_EQ(run("--jobs").status, 2);
    const Outcome unknown = run("--frobnicate a.bmp");
    EXPECT_NE(unknown.err.find("--frobnicate"), std::string::npos) << unknown.err;
}

TEST_F(CliTest, HelpAndVersionExitWithZero) {
    const Outcome help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--keep-going"), std::string::npos);
    EXPECT_EQ(run("--version").status, 0);
}

TEST_F(CliTest, WritesIntoResizedBesideTheSource) {
    fs::create_directory(m_folder / "album");
    writePicture("album/wide.bmp", 400, 250);
    const Outcome outcome = run("--size 100 --quiet album/wide.bmp");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const Bitmap output = loadBmpFile(m_folder / "album" / "resized" / "wide.bmp");
    EXPECT_EQ(output.width(), 100);
    EXPECT_EQ(output.height(), 62);
    EXPECT_TRUE(outcome.out.empty());
}

TEST_F(CliTest, GeometryAndKernelOptions) {
    writePicture("a.bmp", 40, 30);
    ASSERT_EQ(run("--geometry 7x9 --kernel Box a.bmp").status, 0);
    const Bitmap output = loadBmpFile(m_folder / "resized" / "a.bmp");
    EXPECT_EQ(output.width(), 7);
    EXPECT_EQ(output.height(), 9);
}

TEST_F(CliTest, OtherExtensionsAreSkippedWithANotice) {
    writePicture("a.bmp", 4, 4);
    writeFile(m_folder / "b.tiff", {1, 2, 3});
    const Outcome outcome = run("--size 8 b.tiff a.bmp");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.err.find("b.tiff: skipped: "), std::string::npos);
    EXPECT_TRUE(written("a.bmp"));
    EXPECT_FALSE(written("b.tiff"));
}

TEST_F(CliTest, StopsAtTheFirstFailureInListOrderWhateverTheJobs) {
    for (const char* name : {"1.bmp", "3.bmp", "4.bmp", "5.bmp"}) {
        writePicture(name, 64, 48);
    }
    writeFile(m_folder / "2.bmp", {'B', 'M', 1, 2, 3});
    const Outcome outcome = run("--size 16 --jobs 2 1.bmp 2.bmp 3.bmp 4.bmp 5.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.rfind("2.bmp: ", 0), 0u) << outcome.err;
    EXPECT_TRUE(written("1.bmp"));
    for (const char* name : {"2.bmp", "3.bmp", "4.bmp", "5.bmp"}) {
        EXPECT_FALSE(written(name)) << name;
    }
}

TEST_F(CliTest, KeepGoingWritesEverythingElseAndStillFails) {
    writePicture("1.bmp", 20, 20);
    writePicture("3.bmp", 20, 20);
    const Outcome outcome = run("--keep-going --jobs 3 --size 10 1.bmp missing.bmp 3.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("missing.bmp: "), std::string::npos) << outcome.err;
    EXPECT_TRUE(written("1.bmp"));
    EXPECT_TRUE(written("3.bmp"));
}

// A tree as cameras and unpacked archives leave them: outputs of an earlier run, a hidden
// folder, a link back up the tree and a file that is no picture.
class CliTreeTest : public CliTest {
  protected:
    void SetUp() override {
        for (const char* folder : {"tree/2024/trip", "tree/2024/resized", "tree/.thumbs"}) {
            fs::create_directories(m_folder / folder);
        }
        writePicture("tree/b.bmp", 40, 20);
        writePicture("tree/2024/a.bmp", 20, 40);
        writePicture("tree/2024/trip/c.bmp", 40, 40);
        writePicture("tree/2024/resized/old.bmp", 40, 40);
        writePicture("tree/.thumbs/t.bmp", 40, 40);
        writePicture("tree/.hidden.bmp", 40, 40);
        writeFile(m_folder / "tree/notes.txt", {'n'});
        fs::create_directory_symlink("..", m_folder / "tree/2024/up");
    }

    // Every file under `folder`, relative to it, sorted.
    std::vector<std::string> filesUnder(const std::string& folder) const {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(m_folder / folder)) {
            if (entry.is_regular_file() && !entry.is_symlink()) {
                files.push_back(entry.path().lexically_relative(m_folder / folder).string());
            }
        }
        std::sort(files.begin(), files.end());
        return files;
    }
};

TEST_F(CliTreeTest, RecursiveWalksInNameOrderAndWritesBesideEachPicture) {
    const Outcome outcome = run("--recursive --jobs 2 --size 10 tree");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    // Byte order of the names, subfolders in place; nothing from "resized", hidden entries or
    // the link back up, and no notice about files that are no pictures.
    EXPECT_EQ(outcome.out,
              "tree/2024/a.bmp -> tree/2024/resized/a.bmp\n"
              "tree/2024/trip/c.bmp -> tree/2024/trip/resized/c.bmp\n"
              "tree/b.bmp -> tree/resized/b.bmp\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(filesUnder("tree/2024/resized"), (std::vector<std::string>{"a.bmp", "old.bmp"}));
    EXPECT_TRUE(fs::exists(m_folder / "tree/resized/b.bmp"));
    EXPECT_FALSE(fs::exists(m_folder / "tree/.thumbs/resized"));
}

TEST_F(CliTreeTest, OutputFolderMirrorsTheFoldersOfTheTree) {
    const Outcome outcome = run("-r --size 10 -o out tree");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(filesUnder("out"),
              (std::vector<std::string>{"2024/a.bmp", "2024/trip/c.bmp", "b.bmp"}));
    // Without --recursive a folder is no picture and named files go straight into the folder.
    const Outcome flat = run("--size 10 --output-dir flat tree tree/2024/a.bmp");
    EXPECT_EQ(flat.status, 0);
    EXPECT_EQ(flat.err.rfind("tree: skipped: ", 0), 0u) << flat.err;
    EXPECT_EQ(filesUnder("flat"), (std::vector<std::string>{"a.bmp"}));
}

// Two files of one run that would write the same output: the second fails in its turn, the
// first output stays.
TEST_F(CliTest, AnOutputIsNeverWrittenTwiceInOneRun) {
    fs::create_directories(m_folder / "one");
    fs::create_directories(m_folder / "two");
    writePicture("one/x.bmp", 40, 40);
    writePicture("two/x.bmp", 40, 20);
    const Outcome outcome = run("--size 10 -o out one/x.bmp two/x.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "two/x.bmp: not written: out/x.bmp is already the output of one/x.bmp\n");
    EXPECT_EQ(loadBmpFile(m_folder / "out/x.bmp").height(), 10);  // the first one's
    // The same file twice, spelt two ways; with --keep-going the rest still runs.
    writePicture("y.bmp", 40, 40);
    const Outcome twice = run("--keep-going --size 10 y.bmp ./y.bmp one/x.bmp");
    EXPECT_EQ(twice.status, 1);
    EXPECT_NE(twice.err.find("./y.bmp: not written: "), std::string::npos) << twice.err;
    EXPECT_TRUE(written("y.bmp"));
    EXPECT_TRUE(fs::exists(m_folder / "one/resized/x.bmp"));
}

TEST_F(CliTest, PhotoOptionsAreCheckedAndListed) {
    const Outcome both = run("--strip --keep-metadata a.jpg");
    EXPECT_EQ(both.status, 2);
    EXPECT_NE(both.err.find("--strip and --keep-metadata cannot be used together"),
              std::string::npos);
    const Outcome help = run("--help");
    for (const char* option : {"--no-auto-orient", "--strip", "--keep-metadata", "--keep-date",
                               "--shrink-only", "--output-dir", "--recursive"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
}

// The kept metadata as an independent reader sees it: upright, the thumbnail gone, the sizes
// of the output.
TEST_F(CliTest, KeptMetadataReadsBackWithAnIndependentReader) {
    if (!test::hasExiftool()) {
        GTEST_SKIP() << "exiftool is not installed (Debian package libimage-exiftool-perl)";
    }
    Bitmap picture(64, 32);
    JpegImage jpeg;
    jpeg.assign(picture);
    const std::vector<std::uint8_t> plain = jpeg.saveToBytes();
    test::ExifContents contents;
    contents.primary = {test::asciiField(test::kMakeTag, "Camera"),
                        test::shortField(test::kOrientationTag, 6)};
    contents.exif = {test::longField(test::kPixelXDimensionTag, 64),
                     test::longField(test::kPixelYDimensionTag, 32)};
    contents.thumbnail = test::Bytes(plain.begin(), plain.end());
    writeFile(m_folder / "p.jpg", test::withSegments(test::Bytes(plain.begin(), plain.end()),
                                                     {{0xE1, test::exifBlock(contents)}}));
    ASSERT_EQ(run("--size 16 --keep-metadata p.jpg").status, 0);
    const auto tags = test::exiftoolTags(m_folder / "resized/p.jpg");
    EXPECT_EQ(tags.at("IFD0:Orientation"), "1");
    EXPECT_EQ(tags.at("IFD0:Make"), "Camera");
    EXPECT_EQ(tags.at("ExifIFD:ExifImageWidth"), "8");
    EXPECT_EQ(tags.at("ExifIFD:ExifImageHeight"), "16");
    EXPECT_EQ(tags.count("IFD1:ThumbnailLength"), 0u);
}

TEST_F(CliTest, FormatConvertsEveryOutputAndNamesItByItsExtension) {
    writePicture("Scan.BMP", 40, 20);
    writePicture("b.bmp", 20, 20);
    const Outcome outcome = run("--size 10 --format png Scan.BMP b.bmp");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "Scan.BMP -> resized/Scan.png\nb.bmp -> resized/b.png\n");
    const std::vector<std::uint8_t> png = test::readFile(m_folder / "resized/Scan.png");
    ASSERT_GE(png.size(), 8u);
    EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
    const Outcome unknown = run("--format tiff b.bmp");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("unknown format 'tiff' (one of: jpeg, png, webp, gif, bmp)"),
              std::string::npos)
        << unknown.err;
}

TEST_F(CliTest, VersionListsTheCodecLibraries) {
    const Outcome outcome = run("--version");
    EXPECT_EQ(outcome.status, 0);
    for (const char* library : {"libjpeg-turbo ", "libpng ", "libwebp ", "libheif ", "libexif "}) {
        EXPECT_NE(outcome.out.find(library), std::string::npos) << library;
    }
}

}  // namespace
}  // namespace tz
