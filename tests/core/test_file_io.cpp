// The file-system layer: whole-file reads with their refusals, atomic replacement, folders and
// the user's folders.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "file_io_internal.h"
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

// Rewrites `file` in place, as a copy over it does, with `bytes` and the given modification time.
void rewriteInPlace(const fs::path& file, const std::vector<std::uint8_t>& bytes,
                    std::time_t modified) {
    writeFile(file, bytes);
    const timespec times[2] = {{modified, 0}, {modified, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// A file rewritten while it is read is read again; one that keeps changing fails. Each row
// rewrites the file after the content was read, on the first reading only or on every one.
struct ChangeCase {
    const char* description;
    std::vector<std::uint8_t> rewritten;
    bool everyReading;
};

class ChangedWhileRead : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangedWhileRead, IsReadOnceMoreThenRefused) {
    const TempDir folder;
    const fs::path file = folder / "copying.jpg";
    rewriteInPlace(file, {1, 2, 3, 4}, 1'000'000'000);
    int readings = 0;
    const auto rewrite = [&] {
        if (readings++ == 0 || GetParam().everyReading) {
            rewriteInPlace(file, GetParam().rewritten, 1'000'000'000 + readings);
        }
    };
    if (GetParam().everyReading) {
        try {
            internal::readWholeFile(file, SIZE_MAX, rewrite);
            FAIL() << "no error";
        } catch (const FileReadError& error) {
            EXPECT_EQ(error.cause(), Cause::Changed);
            EXPECT_EQ(std::string(error.what()),
                      "Cannot read " + file.string() + ": the file changed while being read");
        }
    } else {
        const ByteBuffer bytes = internal::readWholeFile(file, SIZE_MAX, rewrite);
        EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), GetParam().rewritten);
    }
    EXPECT_EQ(readings, 2);
}

INSTANTIATE_TEST_SUITE_P(Rewrites, ChangedWhileRead,
                         ::testing::Values(ChangeCase{"SameSizeOnce", {5, 6, 7, 8}, false},
                                           ChangeCase{"ShorterOnce", {5, 6}, false},
                                           ChangeCase{"LongerOnce", {5, 6, 7, 8, 9, 10}, false},
                                           ChangeCase{"SameSizeAlways", {5, 6, 7, 8}, true},
                                           ChangeCase{"ShorterAlways", {5}, true}),
                         [](const ::testing::TestParamInfo<ChangeCase>& row) {
                             return row.param.description;
                         });

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

// A replaced file passes on its permission bits and, where the process may set them (root may
// set any), its owner and group.
TEST(AtomicWrite, AReplacedFileKeepsItsModeOwnerAndGroup) {
    const TempDir folder;
    const fs::path file = folder / "out.jpg";
    writeFile(file, {1, 2, 3});
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    struct stat before {};
    ASSERT_EQ(::stat(file.c_str(), &before), 0);
    const uid_t owner = ::geteuid() == 0 ? 4321 : before.st_uid;
    const gid_t group = ::geteuid() == 0 ? 8765 : before.st_gid;
    ASSERT_EQ(::chown(file.c_str(), owner, group), 0);
    writeFileAtomically(file, std::vector<std::uint8_t>{9});
    struct stat after {};
    ASSERT_EQ(::stat(file.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);  // replaced, not rewritten
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(after.st_uid, owner);
    EXPECT_EQ(after.st_gid, group);
    EXPECT_EQ(readFile(file), (std::vector<std::uint8_t>{9}));
}

// The temporary file's name is short, so a name as long as the system allows is written.
TEST(AtomicWrite, NamesUpToTheSystemsLimitAreWritten) {
    const TempDir folder;
    for (const std::size_t length : {241u, 250u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".bmp";
        writeFileAtomically(folder / name, std::vector<std::uint8_t>{1, 2});
        EXPECT_EQ(readFile(folder / name), (std::vector<std::uint8_t>{1, 2})) << length;
        writeFileAtomically(folder / name, std::vector<std::uint8_t>{3});
        EXPECT_EQ(readFile(folder / name), (std::vector<std::uint8_t>{3})) << length;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 3);
}

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Whichever kind of temporary file a write uses, it has a short hidden name only just before
// the rename, and removing the writes in flight (what a signal handler does) removes it.
class TemporaryFiles : public ::testing::TestWithParam<internal::TemporaryKind> {};

TEST_P(TemporaryFiles, AreNamedShortlyAndRemovedWhenInFlight) {
    const TempDir folder;
    const OpenFolder open(folder.path());
    std::vector<std::string> seen;
    internal::writeFileAtomically(open, "a.gif", std::vector<std::uint8_t>{1}, 0666, GetParam(),
                                  [&] { seen = entriesOf(folder.path()); });
    ASSERT_EQ(seen.size(), 1u);
    // ".tz-" and six letters or digits.
    EXPECT_EQ(seen[0].size(), 10u);
    EXPECT_EQ(seen[0].rfind(".tz-", 0), 0u) << seen[0];
    EXPECT_TRUE(std::all_of(seen[0].begin() + 4, seen[0].end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c));
    })) << seen[0];
    EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"a.gif"});
    try {
        internal::writeFileAtomically(open, "b.gif", std::vector<std::uint8_t>{2}, 0666, GetParam(),
                                      [] { removeInFlightTemporaryFiles(); });
        ADD_FAILURE() << "the rename found its temporary file";
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Cannot write " + (folder / "b.gif").string() + ": No such file or directory");
    }
    EXPECT_EQ(entriesOf(folder.path()), std::vector<std::string>{"a.gif"});
}

INSTANTIATE_TEST_SUITE_P(Kinds, TemporaryFiles,
                         ::testing::Values(internal::TemporaryKind::NamelessWherePossible,
                                           internal::TemporaryKind::Named));

// A folder opened inside another never goes through a symbolic link and is never a file; a
// missing one is created.
TEST(OpenFolder, SubfolderIsCreatedOrRefusedWhenItIsALinkOrAFile) {
    const TempDir folder;
    const OpenFolder parent(folder.path());
    const OpenFolder created(parent, "resized", 0777);
    EXPECT_TRUE(fs::is_directory(folder / "resized"));
    EXPECT_EQ(created.path(), folder / "resized");
    fs::create_directory(folder / "elsewhere");
    fs::create_directory_symlink("elsewhere", folder / "linked");
    fs::create_directory_symlink("missing", folder / "dangling");
    writeFile(folder / "file", {1});
    for (const auto& [name, why] : {std::pair{"linked", "it is a symbolic link"},
                                    std::pair{"dangling", "it is a symbolic link"},
                                    std::pair{"file", "it is not a folder"}}) {
        try {
            const OpenFolder refused(parent, name, 0777);
            ADD_FAILURE() << name << " was opened";
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()),
                      "Cannot write into " + (folder / name).string() + ": " + why);
        }
    }
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

TEST(OpenFolder, EntryIdentitiesTellTheSameFileApart) {
    const TempDir folder;
    writeFile(folder / "a.bmp", {1});
    fs::create_hard_link(folder / "a.bmp", folder / "b.bmp");
    fs::create_symlink("a.bmp", folder / "c.bmp");
    const OpenFolder open(folder.path());
    EXPECT_EQ(open.entryIdentity("a.bmp"), fileIdentity(folder / "a.bmp"));
    EXPECT_EQ(open.entryIdentity("b.bmp"), fileIdentity(folder / "a.bmp"));
    // The link itself, not what it names.
    EXPECT_NE(open.entryIdentity("c.bmp"), fileIdentity(folder / "a.bmp"));
    EXPECT_EQ(fileIdentity(folder / "c.bmp"), fileIdentity(folder / "a.bmp"));
    EXPECT_EQ(open.entryIdentity("d.bmp"), std::nullopt);
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
