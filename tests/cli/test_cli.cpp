// zevediz-resize as scripts use it: exit statuses, messages, outputs and the order guarantee.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

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
    // Runs the tool in the test's folder, after `prefix` (a command that runs it) if any. What
    // it prints is caught beside the folder, which the tool may be unable to write into and
    // whose content some tests compare.
    Outcome run(const std::string& arguments, const std::string& prefix = "") {
        const fs::path out =
            m_folder.path().parent_path() / (m_folder.path().filename().string() + ".out");
        const fs::path err =
            m_folder.path().parent_path() / (m_folder.path().filename().string() + ".err");
        const std::string command = "cd '" + m_folder.path().string() + "' && " + prefix + "'" +
                                    TZ_CLI_PATH "' " + arguments + " >'" + out.string() + "' 2>'" +
                                    err.string() + "' </dev/null";
        const int raw = std::system(command.c_str());
        Outcome outcome;
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        outcome.out = slurp(out);
        outcome.err = slurp(err);
        fs::remove(out);
        fs::remove(err);
        return outcome;
    }

    void writeBmp(const std::string& name, int width, int height) {
        writeFile(m_folder / name, encodeBmp(Bitmap(width, height)));
    }

    bool written(const std::string& name) const { return fs::exists(m_folder / "resized" / name); }

    TempDir m_folder;
};

// Short options take their values attached as getopt reads them, and flags group behind one
// dash; an equals sign after a short option is still accepted.
TEST_F(CliTest, ShortOptionsTakeAttachedValuesAndGroup) {
    writeBmp("a.bmp", 40, 30);
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
    writeBmp("a.bmp", 4, 4);
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
    writeFile(m_folder / "album" / "wide.bmp", encodeBmp(Bitmap(400, 250)));
    const Outcome outcome = run("--size 100 --quiet album/wide.bmp");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const Bitmap output = loadBmpFile(m_folder / "album" / "resized" / "wide.bmp");
    EXPECT_EQ(output.width(), 100);
    EXPECT_EQ(output.height(), 62);
    EXPECT_TRUE(outcome.out.empty());
}

TEST_F(CliTest, GeometryAndKernelOptions) {
    writeBmp("a.bmp", 40, 30);
    ASSERT_EQ(run("--geometry 7x9 --kernel Box a.bmp").status, 0);
    const Bitmap output = loadBmpFile(m_folder / "resized" / "a.bmp");
    EXPECT_EQ(output.width(), 7);
    EXPECT_EQ(output.height(), 9);
}

// A skipped file is a file not written: the run goes on, and its status says so.
TEST_F(CliTest, OtherExtensionsAreSkippedWithANoticeAndTheStatusIsOne) {
    writeBmp("a.bmp", 4, 4);
    writeFile(m_folder / "b.jpeg", {1, 2, 3});
    const Outcome outcome = run("--size 8 b.jpeg a.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "b.jpeg: skipped: not a .jpg, .gif or .bmp file\n");
    EXPECT_TRUE(written("a.bmp"));
    EXPECT_FALSE(written("b.jpeg"));
    EXPECT_EQ(run("--size 8 a.bmp").status, 0);
    EXPECT_EQ(run("--size 8 /dev/zero").status, 1);
}

TEST_F(CliTest, StopsAtTheFirstFailureInListOrderWhateverTheJobs) {
    for (const char* name : {"1.bmp", "3.bmp", "4.bmp", "5.bmp"}) {
        writeBmp(name, 64, 48);
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
    writeBmp("1.bmp", 20, 20);
    writeBmp("3.bmp", 20, 20);
    const Outcome outcome = run("--keep-going --jobs 3 --size 10 1.bmp missing.bmp 3.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("missing.bmp: "), std::string::npos) << outcome.err;
    EXPECT_TRUE(written("1.bmp"));
    EXPECT_TRUE(written("3.bmp"));
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
    writeBmp(odd, 8, 8);
    writeBmp("caf\xc3\xa9.bmp", 8, 8);
    const Outcome outcome = run("--size 4 " + quoted(odd) + " " + quoted("caf\xc3\xa9.bmp") + " " +
                                quoted("tab\there.txt"));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out,
              "new\\nline\\xff\\x1b[31m.bmp -> resized/new\\nline\\xff\\x1b[31m.bmp\n"
              "caf\xc3\xa9.bmp -> resized/caf\xc3\xa9.bmp\n");
    EXPECT_EQ(outcome.err, "tab\\there.txt: skipped: not a .jpg, .gif or .bmp file\n");
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

// A "resized" that links back to the sources' folder is refused: the source stays as it was.
TEST_F(CliTest, ResizedLinkedToTheSourceFolderIsRefusedAndTheSourceKept) {
    writeBmp("a.bmp", 40, 30);
    fs::create_directory_symlink(".", m_folder / "resized");
    const auto before = snapshot(m_folder.path());
    const Outcome outcome = run("--size 10 a.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "a.bmp: Cannot write into resized: it is a symbolic link\n");
    EXPECT_EQ(snapshot(m_folder.path()), before);
}

// Where "resized" cannot be created, the message gives the system's reason, as any user other
// than root meets it (root, who ignores permissions, runs the tool as nobody).
TEST_F(CliTest, AFolderThatCannotBeCreatedGivesTheSystemsReason) {
    writeBmp("a.bmp", 40, 30);
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

// A replaced output keeps its permission bits, and its owner and group where the tool may set
// them (root may set any).
TEST_F(CliTest, AReplacedOutputKeepsItsModeAndGroup) {
    writeBmp("a.bmp", 40, 30);
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
    writeBmp(name, 40, 30);
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

// SIGTERM arriving while an output is written (the moment a temporary file shows in "resized")
// ends the run without leaving the temporary file behind.
TEST_F(CliTest, TerminationDuringARunOfLargeBmpsLeavesNoTemporaryFile) {
    const Bitmap large(3000, 2000);
    std::vector<std::string> arguments{TZ_CLI_PATH, "--size", "3000", "--jobs", "2"};
    for (const char* name : {"1.bmp", "2.bmp", "3.bmp", "4.bmp"}) {
        writeFile(m_folder / name, encodeBmp(large));
        arguments.push_back((m_folder / name).string());
    }
    const fs::path resized = m_folder / "resized";
    fs::create_directory(resized);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, resized.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    ASSERT_EQ(::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    // The first name made in "resized" that starts with a dot is a temporary file in flight.
    bool signalled = false;
    alignas(inotify_event) char events[4096];
    for (ssize_t got = 0; !signalled && (got = ::read(watch, events, sizeof events)) > 0;) {
        for (char* at = events; at < events + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            if (event->len > 0 && event->name[0] == '.' && !signalled) {
                ::kill(child, SIGTERM);
                signalled = true;
            }
            at += sizeof(inotify_event) + event->len;
        }
        if (!signalled &&
            std::distance(fs::directory_iterator(resized), fs::directory_iterator()) == 4) {
            break;  // every output written without a temporary name showing
        }
    }
    ::close(watch);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(signalled) << "no temporary file was seen";
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) ||
                (WIFEXITED(status) && WEXITSTATUS(status) == 0));
    EXPECT_EQ(hiddenEntries(resized), std::vector<std::string>{});
}

// A picture whose data ends early is written filled, with a warning; --strict makes it a failure.
TEST_F(CliTest, TruncatedSourceWarnsAndStrictMakesItAFailure) {
    // Detail enough for the scan to be most of the file; cut in its middle.
    Bitmap pattern(160, 120);
    for (int y = 0; y < pattern.height(); ++y) {
        for (int x = 0; x < pattern.width(); ++x) {
            pattern.setColor(x, y,
                             Rgb{static_cast<std::uint8_t>(x * 7), static_cast<std::uint8_t>(y * 5),
                                 static_cast<std::uint8_t>((x + y) * 3)});
        }
    }
    JpegImage picture;
    picture.assign(pattern);
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

// Tiny files declaring huge pictures fail at once with the limit's message; the two gigapixel
// files of the corpus among them.
TEST_F(CliTest, PicturesDeclaringMoreThanTheMaxPixelsAreRefused) {
    writeFile(m_folder / "huge.gif",
              {'G', 'I', 'F', '8', '9', 'a', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x3B});
    const Outcome outcome = run("huge.gif");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err,
              "huge.gif: Picture of 65535 x 65535 pixels is larger than the limit of 268435456 "
              "pixels (--max-pixels)\n");
    EXPECT_FALSE(fs::exists(m_folder / "resized"));
    const fs::path corpus = test::sharedDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "the shared corpus is absent";
    }
    for (const char* file : {"gif/moz-523528-1.gif", "jpeg/fc-moz-random.jpg"}) {
        const fs::path source = corpus / "corpus" / file;
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
