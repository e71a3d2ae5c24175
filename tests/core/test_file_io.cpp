// The file-system layer: whole-file reads with their refusals, atomic replacement, folders and
// the user's folders.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/support.h"
#include "tz/file_io.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using Cause = FileReadError::Cause;
using test::readFile;
using test::ScopedEnvironment;
using test::TempDir;
using test::writeFile;

// The cause of the read's failure, or nothing when it succeeded.
std::optional<Cause> readFailure(const fs::path& file, std::size_t maxBytes = SIZE_MAX) {
    try {
        readWholeFile(file, maxBytes);
    } catch (const FileReadError& error) {
        return error.cause();
    }
    return std::nullopt;
}

TEST(ReadWholeFile, ReadsRegularFilesAndRefusesEverythingElse) {
    const TempDir folder;
    writeFile(folder / "five.bin", {1, 2, 3, 4, 5});
    const ByteBuffer bytes = readWholeFile(folder / "five.bin", 5);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(readFailure(folder / "five.bin", 4), Cause::TooLarge);
    EXPECT_EQ(readFailure(folder / "absent.bin"), Cause::Missing);
    EXPECT_EQ(readFailure(folder / "five.bin" / "below"), Cause::Missing);
    EXPECT_EQ(readFailure(folder.path()), Cause::NotRegular);
    ASSERT_EQ(::mkfifo((folder / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(readFailure(folder / "pipe"), Cause::NotRegular);  // never waits for a writer
}

TEST(ReadWholeFile, MessagesNameTheFileAndTheCause) {
    const TempDir folder;
    writeFile(folder / "big.bin", {1, 2, 3});
    try {
        readWholeFile(folder / "big.bin", 2);
        FAIL() << "no error";
    } catch (const FileReadError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot read " + (folder / "big.bin").string() + ": the file is too large");
    }
}

// A file whose content outgrows the size it had when opened cannot be trusted. Files of the
// proc file system report size 0 and then deliver content, as a file being copied in would.
TEST(ReadWholeFile, AFileThatGrowsWhileReadIsRefused) {
    if (!fs::exists("/proc/self/status")) {
        GTEST_SKIP() << "no /proc file system";
    }
    EXPECT_EQ(readFailure("/proc/self/status"), Cause::Changed);
}

TEST(AtomicWrite, ReplacesAnExistingFileAndLeavesNoTemporaryFile) {
    const TempDir folder;
    const fs::path file = folder / "out.bin";
    writeFile(file, {1, 2, 3});
    const std::vector<std::uint8_t> bytes{9, 8, 7, 6};
    writeFileAtomically(file, bytes);
    EXPECT_EQ(readFile(file), bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 1);
}

TEST(AtomicWrite, ANewFileGetsTheModeLessTheUmask) {
    const TempDir folder;
    writeFileAtomically(folder / "private.bin", std::vector<std::uint8_t>{1}, 0600);
    writeFileAtomically(folder / "shared.bin", std::vector<std::uint8_t>{1});
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::stat((folder / "private.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u & ~mask);
    ASSERT_EQ(::stat((folder / "shared.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0666u & ~mask);
}

TEST(AtomicWrite, FailuresNameTheFileAndKeepTheOldContent) {
    const TempDir folder;
    try {
        writeFileAtomically(folder / "missing" / "out.bin", std::vector<std::uint8_t>{1});
        FAIL() << "no error";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot write " +
                                                 (folder / "missing" / "out.bin").string() +
                                                 ": No such file or directory");
    }
    if (::geteuid() != 0) {
        const fs::path file = folder / "readonly.bin";
        writeFile(file, {1, 2, 3});
        fs::permissions(file, fs::perms::owner_read);
        EXPECT_THROW(writeFileAtomically(file, std::vector<std::uint8_t>{4}), Error);
        EXPECT_EQ(readFile(file), (std::vector<std::uint8_t>{1, 2, 3}));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()),
              ::geteuid() != 0 ? 1 : 0);
}

TEST(CreateFolders, CreatesTheMissingFoldersAndRefusesAFileOnTheWay) {
    const TempDir folder;
    EXPECT_TRUE(createFolders(folder / "a" / "b" / "c", 0700));
    EXPECT_TRUE(fs::is_directory(folder / "a" / "b" / "c"));
    EXPECT_TRUE(createFolders(folder / "a" / "b", 0700));  // existing folders are fine
    writeFile(folder / "file", {1});
    EXPECT_FALSE(createFolders(folder / "file" / "sub", 0700));
}

TEST(UserFolders, ConfigFolderFollowsXdgThenHome) {
    {
        const ScopedEnvironment config("XDG_CONFIG_HOME", "/config/here");
        EXPECT_EQ(configFolder(), fs::path("/config/here"));
    }
    const ScopedEnvironment relative("XDG_CONFIG_HOME", "relative/is/ignored");
    const ScopedEnvironment home("HOME", "/home/someone");
    EXPECT_EQ(homeFolder(), fs::path("/home/someone"));
    EXPECT_EQ(configFolder(), fs::path("/home/someone/.config"));
}

}  // namespace
}  // namespace tz
