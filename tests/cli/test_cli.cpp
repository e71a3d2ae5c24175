// zevediz-resize as scripts use it: exit statuses, messages, outputs and the order guarantee.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/corpus.h"
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

    // Standard error without the summary line a run of several files ends with.
    std::string messages() const {
        const std::size_t start = err.empty() ? 0 : err.rfind('\n', err.size() - 2);
        const std::string last = err.substr(start == std::string::npos ? 0 : start + 1);
        const bool summary =
            last.find(" written, ") != std::string::npos && last.ends_with(" s)\n");
        return summary ? err.substr(0, err.size() - last.size()) : err;
    }
};

std::string slurp(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CliTest : public ::testing::Test {
  protected:
    // Runs the tool in the test's folder, after `prefix` (a command that runs it) if any. What
    // it prints is caught beside the folder, which the tool may be unable to write into and
    // whose content some tests compare.
    Outcome run(const std::string& arguments, const std::string& prefix = "",
                const std::string& input = "/dev/null") {
        const fs::path out =
            m_folder.path().parent_path() / (m_folder.path().filename().string() + ".out");
        const fs::path err =
            m_folder.path().parent_path() / (m_folder.path().filename().string() + ".err");
        const std::string command = "cd '" + m_folder.path().string() + "' && " + prefix + "'" +
                                    TZ_CLI_PATH "' " + arguments + " >'" + out.string() + "' 2>'" +
                                    err.string() + "' <'" + input + "'";
        const int raw = std::system(command.c_str());
        Outcome outcome;
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        outcome.out = slurp(out);
        outcome.err = slurp(err);
        fs::remove(out);
        fs::remove(err);
        return outcome;
    }

    void writePicture(const std::string& name, int width, int height) {
        test::writePicture(m_folder / name, width, height);
    }

    bool written(const std::string& name) const { return fs::exists(m_folder / "resized" / name); }

    TempDir m_folder;
};

// Short options take their values attached as getopt reads them, and flags group behind one
// dash; an equals sign after a short option is still accepted.
TEST_F(CliTest, ShortOptionsTakeAttachedValuesAndGroup) {
    writePicture("a.bmp", 40, 30);
    for (const char* arguments : {"-j1 -s20 a.bmp", "-qj1 -s20 a.bmp", "-qs20 a.bmp",
                                  "-s=20 -j=1 a.bmp", "-kBox -s20 a.bmp", "-g20x15 a.bmp"}) {
        fs::remove_all(m_folder / "resized");
        const Outcome outcome = run(arguments);
        EXPECT_EQ(outcome.status, 0) << arguments << ": " << outcome.err;
        EXPECT_EQ(loadBmpFile(m_folder / "resized" / "a.bmp").width(), 20) << arguments;
    }
    EXPECT_EQ(run("-qx a.bmp").status, 2);
    EXPECT_NE(run("-qx a.bmp").err.find("unknown option -x"), std::string::npos);
    EXPECT_EQ(run("-j0 a.bmp").status, 2);
    EXPECT_EQ(run("-j a.bmp").status, 2);  // "a.bmp" is no number of jobs
}

// Sizes stop at the largest side a JPEG file can have, with a usage error rather than the
// library's failure per file.
TEST_F(CliTest, SizesAboveTheLargestSideAreUsageErrors) {
    for (const char* arguments : {"--size 65501 a.bmp", "-s 65535 a.bmp", "-g 65501x10 a.bmp",
                                  "--geometry=10x65535 a.bmp"}) {
        const Outcome outcome = run(arguments);
        EXPECT_EQ(outcome.status, 2) << arguments;
        EXPECT_NE(outcome.err.find("(expected 1 to 65500)"), std::string::npos) << outcome.err;
    }
    writePicture("a.bmp", 4, 4);
    EXPECT_EQ(run("--size 65500 --max-pixels 1 a.bmp").status, 1);  // taken, then refused
}

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

// --fast takes JPEGs through a reduced decode, here an eighth (100 x 75, more than twice
// 40 x 30), and writes them at the size of the whole picture.
TEST_F(CliTest, FastWritesJpegsAtTheWholePicturesSize) {
    writePicture("a.jpg", 800, 600);
    const Outcome outcome = run("--fast --size 40 a.jpg");
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    JpegImage output;
    output.loadFromFile(m_folder / "resized" / "a.jpg");
    EXPECT_EQ(output.width(), 40);
    EXPECT_EQ(output.height(), 30);
    EXPECT_NE(run("--help").out.find("--fast"), std::string::npos);
}

// --threads sets how many threads one file may use; the output is the same whatever it is.
TEST_F(CliTest, ThreadsPerFileChangeNothingInTheOutput) {
    writeFile(m_folder / "a.jpg", test::jpegBytes(test::detailedBitmap(300, 420)));
    ASSERT_EQ(run("--threads 1 --size 50 a.jpg").status, 0);
    const test::Bytes oneThread = test::readFile(m_folder / "resized" / "a.jpg");
    ASSERT_EQ(run("--threads 3 --size 50 a.jpg").status, 0);
    EXPECT_EQ(test::readFile(m_folder / "resized" / "a.jpg"), oneThread);
    EXPECT_EQ(run("--threads 0 a.jpg").status, 2);
    EXPECT_EQ(run("--threads 257 a.jpg").status, 2);
}

// A skipped file is a file not written: the run goes on, and its status says so.
TEST_F(CliTest, OtherExtensionsAreSkippedWithANoticeAndTheStatusIsOne) {
    writePicture("a.bmp", 4, 4);
    writeFile(m_folder / "b.tiff", {1, 2, 3});
    const Outcome outcome = run("--size 8 b.tiff a.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.messages(),
              "b.tiff: skipped: not a .jpg, .gif, .bmp, .jpeg, .jpe, .png, .webp, .heic, .heif or "
              ".avif file\n");
    EXPECT_TRUE(written("a.bmp"));
    EXPECT_FALSE(written("b.tiff"));
    EXPECT_EQ(run("--size 8 a.bmp").status, 0);
    EXPECT_EQ(run("--size 8 /dev/zero").status, 1);
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
    EXPECT_EQ(outcome.messages(), "");
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
    EXPECT_EQ(flat.status, 1);
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
    EXPECT_EQ(outcome.messages(),
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

// A name as the shell passes it, whatever its bytes.
std::string quoted(const std::string& name) {
    std::string out = "'";
    for (const char c : name) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

// Control characters and bytes that are not UTF-8 are printed escaped, so each file's line
// stays one line; valid UTF-8 is printed as it is.
TEST_F(CliTest, NamesArePrintedWithControlCharactersAndBadBytesEscaped) {
    const std::string odd = "new\nline\xff\x1b[31m.bmp";
    writePicture(odd, 8, 8);
    writePicture("caf\xc3\xa9.bmp", 8, 8);
    const Outcome outcome = run("--size 4 " + quoted(odd) + " " + quoted("caf\xc3\xa9.bmp") + " " +
                                quoted("tab\there.txt"));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out,
              "new\\nline\\xff\\x1b[31m.bmp -> resized/new\\nline\\xff\\x1b[31m.bmp\n"
              "caf\xc3\xa9.bmp -> resized/caf\xc3\xa9.bmp\n");
    EXPECT_EQ(outcome.messages(),
              "tab\\there.txt: skipped: not a .jpg, .gif, .bmp, .jpeg, .jpe, .png, .webp, "
              ".heic, .heif or .avif file\n");
    EXPECT_TRUE(written(odd));
}

// Every file of the tree with its bytes, links not followed.
std::map<fs::path, std::vector<std::uint8_t>> snapshot(const fs::path& folder) {
    std::map<fs::path, std::vector<std::uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && !entry.is_symlink()) {
            files[entry.path()] = test::readFile(entry.path());
        }
    }
    return files;
}

// A "resized" that links back to the sources' folder is refused: the source stays as it
// was.
TEST_F(CliTest, ResizedLinkedToTheSourceFolderIsRefusedAndTheSourceKept) {
    writePicture("a.bmp", 40, 30);
    fs::create_directory_symlink(".", m_folder / "resized");
    const auto before = snapshot(m_folder.path());
    const Outcome outcome = run("--size 10 a.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "a.bmp: Cannot write into resized: it is a symbolic link\n");
    EXPECT_EQ(snapshot(m_folder.path()), before);
}

// Where "resized" cannot be created, the message gives the system's reason, as any user
// other than root meets it (root, who ignores permissions, runs the tool as nobody).
TEST_F(CliTest, AFolderThatCannotBeCreatedGivesTheSystemsReason) {
    writePicture("a.bmp", 40, 30);
    std::string prefix;
    if (::geteuid() == 0) {
        if (std::system("command -v setpriv >/dev/null") != 0) {
            GTEST_SKIP() << "running as root without setpriv to run as another user";
        }
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        fs::permissions(m_folder.path(), fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::add);
    } else {
        fs::permissions(m_folder.path(), fs::perms::owner_write, fs::perm_options::remove);
    }
    const Outcome outcome = run("--size 10 a.bmp", prefix);
    fs::permissions(m_folder.path(), fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "a.bmp: Cannot create folder resized: Permission denied\n");
}

// A replaced output keeps its permission bits, and its owner and group where the tool may
// set them (root may set any).
TEST_F(CliTest, AReplacedOutputKeepsItsModeAndGroup) {
    writePicture("a.bmp", 40, 30);
    fs::create_directory(m_folder / "resized");
    writeFile(m_folder / "resized" / "a.bmp", {1, 2, 3});
    const fs::path output = m_folder / "resized" / "a.bmp";
    ASSERT_EQ(::chmod(output.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(output.c_str(), &before), 0);
    const gid_t group = ::geteuid() == 0 ? 8765 : before.st_gid;
    ASSERT_EQ(::chown(output.c_str(), static_cast<uid_t>(-1), group), 0);
    ASSERT_EQ(run("--size 10 a.bmp").status, 0);
    struct stat after {};
    ASSERT_EQ(::stat(output.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_gid, group);
    EXPECT_EQ(loadBmpFile(output).width(), 10);
}

// A name of 250 bytes leaves no room for a long temporary name beside it, yet is written.
TEST_F(CliTest, AFileWithA250ByteNameIsWritten) {
    const std::string name = std::string(246, 'n') + ".bmp";
    writePicture(name, 40, 30);
    const Outcome outcome = run("--size 10 " + name);
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_EQ(loadBmpFile(m_folder / "resized" / name).width(), 10);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder / "resized"), fs::directory_iterator()),
              1);
}

// Names in a folder that start with a dot: temporary files.
std::vector<std::string> hiddenEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().filename().string().front() == '.') {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

// A run over four large BMPs with `signal` sent to it when the first name shows in "resized"
// that `when` accepts; what it printed on standard error goes to `errors`. Returns the raw
// status from waitpid, or -1 when no such name showed before the run ended.
int signalDuringRun(const fs::path& folder, int signal,
                    const std::function<bool(const std::string&)>& when, const fs::path& errors) {
    const Bitmap large(3000, 2000);
    std::vector<std::string> arguments{TZ_CLI_PATH, "--size", "3000", "--jobs", "2"};
    for (const char* name : {"1.bmp", "2.bmp", "3.bmp", "4.bmp"}) {
        writeFile(folder / name, encodeBmp(large));
        arguments.push_back((folder / name).string());
    }
    const fs::path resized = folder / "resized";
    fs::create_directory(resized);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    EXPECT_GE(watch, 0);
    EXPECT_GE(::inotify_add_watch(watch, resized.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t child = 0;
    EXPECT_EQ(::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    bool signalled = false;
    alignas(inotify_event) char events[4096];
    for (ssize_t got = 0; !signalled && (got = ::read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->len > 0 && !signalled && when(event->name)) {
                ::kill(child, signal);
                signalled = true;
            }
            at += sizeof(inotify_event) + event->len;
        }
        if (!signalled &&
            std::distance(fs::directory_iterator(resized), fs::directory_iterator()) == 4) {
            break;  // every output written before the name showed
        }
    }
    ::close(watch);
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    return signalled ? status : -1;
}

// SIGTERM arriving while an output is written (the moment a temporary file shows in
// "resized") ends the run without leaving the temporary file behind.
TEST_F(CliTest, TerminationDuringARunOfLargeBmpsLeavesNoTemporaryFile) {
    const fs::path errors = m_folder.path().parent_path() / "term.err";
    const int status = signalDuringRun(
        m_folder.path(), SIGTERM, [](const std::string& name) { return name[0] == '.'; }, errors);
    fs::remove(errors);
    ASSERT_NE(status, -1) << "no temporary file was seen";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
    EXPECT_EQ(hiddenEntries(m_folder / "resized"), std::vector<std::string>{});
}

// Ctrl+C once the first output is in place: the files in flight are abandoned unwritten, what
// was written stays whole, the status is 130 and one line says how far the run came.
TEST_F(CliTest, InterruptStopsCleanlyWithStatus130AndASummary) {
    const fs::path errors = m_folder.path().parent_path() / "int.err";
    const int status = signalDuringRun(
        m_folder.path(), SIGINT, [](const std::string& name) { return name == "1.bmp"; }, errors);
    const std::string printed = slurp(errors);
    fs::remove(errors);
    ASSERT_NE(status, -1) << "the first output never showed";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status;
    EXPECT_EQ(printed.rfind("Interrupted: ", 0), 0u) << printed;
    EXPECT_NE(printed.find(" failed, 0 skipped"), std::string::npos) << printed;
    EXPECT_EQ(hiddenEntries(m_folder / "resized"), std::vector<std::string>{});
    std::size_t written = 0;
    for (const auto& entry : fs::directory_iterator(m_folder / "resized")) {
        EXPECT_EQ(loadBmpFile(entry.path()).width(), 3000) << entry.path();
        ++written;
    }
    EXPECT_GE(written, 1u);
    EXPECT_NE(printed.find(std::to_string(written) + " written"), std::string::npos) << printed;
}

// Names from a list: one per line, or ended by NUL bytes, from a file or standard input; any
// byte but NUL may be in a name. They follow the names of the command line, in list order.
TEST_F(CliTest, FilesFromReadsLinesOrNulSeparatedNamesFromAFileOrStandardInput) {
    for (const char* name : {"a.bmp", "b c.bmp", "new\nline.bmp", "d.bmp", "-e.bmp"}) {
        writePicture(name, 40, 20);
    }
    writeFile(m_folder / "lines.txt", test::Bytes{'b', ' ', 'c', '.', 'b', 'm', 'p', '\n', '\n',
                                                  'a', '.', 'b', 'm', 'p', '\n'});
    const Outcome lines = run("-s 10 --files-from lines.txt d.bmp");
    EXPECT_EQ(lines.status, 0) << lines.err;
    EXPECT_EQ(lines.out,
              "d.bmp -> resized/d.bmp\nb c.bmp -> resized/b c.bmp\n"
              "a.bmp -> resized/a.bmp\n");
    const std::string nul = "new\nline.bmp";
    test::Bytes list(nul.begin(), nul.end());
    list.push_back(0);
    list.insert(list.end(), {'-', 'e', '.', 'b', 'm', 'p', 0, 'a', '.', 'b', 'm', 'p', 0});
    writeFile(m_folder.path().parent_path() / "list0", list);
    const Outcome nulls =
        run("-s 10 -0 --files-from -", "", (m_folder.path().parent_path() / "list0").string());
    fs::remove(m_folder.path().parent_path() / "list0");
    EXPECT_EQ(nulls.status, 0) << nulls.err;
    // A name of the list is never an option, whatever it starts with.
    EXPECT_EQ(nulls.out,
              "new\\nline.bmp -> resized/new\\nline.bmp\n-e.bmp -> resized/-e.bmp\n"
              "a.bmp -> resized/a.bmp\n");
    EXPECT_TRUE(written(nul));
    const Outcome missing = run("--files-from absent.txt");
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "zevediz-resize: cannot read absent.txt: No such file or directory\n");
    EXPECT_EQ(run("--null a.bmp").status, 2);
}

// A dry run names every output and writes nothing, not even the folder; what the run would
// refuse it reports as the run would.
TEST_F(CliTest, DryRunPrintsWhereOutputsWouldGoAndWritesNothing) {
    writePicture("a.bmp", 40, 20);
    writePicture("b.bmp", 40, 20);
    const auto before = snapshot(m_folder.path());
    const Outcome outcome = run("--dry-run -f png -o out a.bmp gone.bmp b.bmp ./b.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "a.bmp -> out/a.png\nb.bmp -> out/b.png\n");
    EXPECT_EQ(outcome.err,
              "gone.bmp: Cannot open gone.bmp: No such file or directory\n"
              "./b.bmp: not written: out/b.png is already the output of b.bmp\n");
    EXPECT_EQ(snapshot(m_folder.path()), before);
    EXPECT_FALSE(fs::exists(m_folder / "out"));
    EXPECT_EQ(run("-n a.bmp").status, 0);
}

// A run of more than one file ends with one line of counts; one file, or --quiet, has none.
TEST_F(CliTest, ARunOfSeveralFilesEndsWithASummaryLine) {
    writePicture("a.bmp", 40, 20);
    writePicture("b.bmp", 40, 20);
    writeFile(m_folder / "c.bmp", {'B', 'M', 1});
    const Outcome outcome = run("-s 10 --keep-going a.bmp c.bmp notes.txt b.bmp");
    EXPECT_EQ(outcome.status, 1);
    const std::string last =
        outcome.err.substr(outcome.err.rfind('\n', outcome.err.size() - 2) + 1);
    EXPECT_EQ(last.rfind("2 written, 1 failed, 1 skipped (", 0), 0u) << outcome.err;
    EXPECT_EQ(last.substr(last.size() - 4), " s)\n") << last;
    // Stopped at the failure, the files not reached are counted.
    const Outcome stopped = run("-s 10 -j1 a.bmp c.bmp b.bmp");
    EXPECT_NE(stopped.err.find("1 written, 1 failed, 0 skipped, 1 not done ("), std::string::npos)
        << stopped.err;
    EXPECT_EQ(run("-s 10 a.bmp").err, "");
    EXPECT_EQ(run("-s 10 -q a.bmp b.bmp").err, "");
}

// On a terminal the bar shows the rate and the time left; nothing of it goes to a file.
TEST_F(CliTest, ProgressBarOnATerminalShowsTheRateAndTheTimeLeft) {
    if (std::system("command -v script >/dev/null") != 0) {
        GTEST_SKIP() << "script (util-linux) is not installed to give the tool a terminal";
    }
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) {
        writePicture(name, 400, 300);
    }
    // script runs the tool on a terminal of its own and copies what it shows to a file.
    const fs::path shown = m_folder.path().parent_path() / "terminal.txt";
    const std::string command = "cd '" + m_folder.path().string() + "' && script -qec \"'" +
                                TZ_CLI_PATH "' -s 10 -j1 a.bmp b.bmp c.bmp\" /dev/null >'" +
                                shown.string() + "' </dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string terminal = slurp(shown);
    fs::remove(shown);
    EXPECT_NE(terminal.find("] 1/3 "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" MP/s "), std::string::npos) << terminal;
    EXPECT_NE(terminal.find(" left a.bmp"), std::string::npos) << terminal;
    EXPECT_NE(terminal.find("3 written, 0 failed, 0 skipped ("), std::string::npos) << terminal;
    EXPECT_EQ(run("-s 10 a.bmp b.bmp").out.find("MP/s"), std::string::npos);
}

// A picture whose data ends early is written filled, with a warning; --strict makes it a
// failure.
TEST_F(CliTest, TruncatedSourceWarnsAndStrictMakesItAFailure) {
    // Detail enough for the scan to be most of the file; cut in its middle.
    JpegImage picture;
    picture.assign(test::detailedBitmap(160, 120));
    std::vector<std::uint8_t> bytes = picture.saveToBytes();
    bytes.resize(bytes.size() * 3 / 4);
    writeFile(m_folder / "cut.jpg", bytes);
    const Outcome warned = run("--size 16 cut.jpg");
    EXPECT_EQ(warned.status, 0);
    EXPECT_EQ(warned.err,
              "cut.jpg: warning: the picture's data ends early; the missing part is filled\n");
    EXPECT_TRUE(written("cut.jpg"));
    fs::remove_all(m_folder / "resized");
    const Outcome strict = run("--strict --size 16 cut.jpg");
    EXPECT_EQ(strict.status, 1);
    EXPECT_EQ(strict.err, "cut.jpg: The picture's data ends early (--strict)\n");
    EXPECT_FALSE(written("cut.jpg"));
}

// Tiny files declaring huge pictures fail at once with the limit's message; the two
// gigapixel files of the corpus among them.
TEST_F(CliTest, PicturesDeclaringMoreThanTheMaxPixelsAreRefused) {
    writeFile(m_folder / "huge.gif",
              {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x3B});
    const Outcome outcome = run("huge.gif");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "huge.gif: Picture of 65535 x 65535 pixels is larger than the limit of 268435456 "
              "pixels (--max-pixels)\n");
    EXPECT_FALSE(fs::exists(m_folder / "resized"));
    const fs::path corpus = test::corpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << test::corpusAbsentMessage();
    }
    for (const char* file : {"gif/moz-523528-1.gif", "jpeg/fc-moz-random.jpg"}) {
        const fs::path source = corpus / file;
        fs::copy_file(source, m_folder / source.filename());
        const Outcome gigapixel = run("--max-pixels=268435456 " + source.filename().string());
        EXPECT_EQ(gigapixel.status, 1) << file;
        EXPECT_NE(gigapixel.err.find("pixels is larger than the limit of 268435456 pixels "
                                     "(--max-pixels)"),
                  std::string::npos)
            << gigapixel.err;
    }
}

}  // namespace
}  // namespace tz
