// The freedesktop trash: where a file goes, what its info file says, name clashes, failures
// that leave the file in place, and the trash at the top of another file system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/support.h"
#include "tz/errors.h"
#include "tz/trash.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnvironment;
using test::TempDir;

std::string textOf(const fs::path& file) {
    const std::vector<std::uint8_t> bytes = test::readFile(file);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// A home without ~/.local/share, and a picture folder beside it on the same file system.
class TrashTest : public ::testing::Test {
  protected:
    fs::path home() const { return m_temp / "home"; }
    fs::path pictures() const { return m_temp / "pictures"; }
    fs::path makePicture(const std::string& name, const std::string& content = "picture") {
        const fs::path file = pictures() / name;
        test::writeFile(file, std::vector<std::uint8_t>(content.begin(), content.end()));
        return file;
    }

    TempDir m_temp;
    bool m_made = fs::create_directories(m_temp / "home") && fs::create_directories(pictures());
    ScopedEnvironment m_home{"HOME", home().string()};
    ScopedEnvironment m_data{"XDG_DATA_HOME", std::nullopt};
};

TEST_F(TrashTest, FreshHomeGetsItsTrashAndThePictureFolderNothing) {
    const fs::path file = makePicture("Garden.jpg", "garden");
    const fs::path trash = home() / ".local" / "share" / "Trash";
    EXPECT_EQ(homeTrash(), trash);
    EXPECT_EQ(trashFile(file), trash / "files" / "Garden.jpg");

    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(textOf(trash / "files" / "Garden.jpg"), "garden");
    const std::string info = textOf(trash / "info" / "Garden.jpg.trashinfo");
    EXPECT_TRUE(info.starts_with("[Trash Info]\nPath=" + file.string() + "\nDeletionDate="))
        << info;
    EXPECT_EQ(info.size(), info.find("DeletionDate=") + 13 + 19 + 1);  // YYYY-MM-DDThh:mm:ss\n
    EXPECT_TRUE(namesIn(pictures()).empty());
    // The folders are private to the user.
    struct stat status {};
    ASSERT_EQ(::stat((trash / "files").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
}

TEST_F(TrashTest, DataHomeVariableNamesTheTrash) {
    const ScopedEnvironment data("XDG_DATA_HOME", (m_temp / "data").string());
    const fs::path file = makePicture("a.bmp");
    EXPECT_EQ(trashFile(file), m_temp / "data" / "Trash" / "files" / "a.bmp");
    EXPECT_FALSE(fs::exists(home() / ".local"));
}

TEST_F(TrashTest, SameNameTwiceKeepsBothWithTheirInfo) {
    const fs::path first = makePicture("a.jpg", "one");
    const fs::path trash = trashFile(first).parent_path().parent_path();
    const fs::path second = makePicture("a.jpg", "two");
    EXPECT_EQ(trashFile(second), trash / "files" / "a.2.jpg");
    EXPECT_EQ(textOf(trash / "files" / "a.jpg"), "one");
    EXPECT_EQ(textOf(trash / "files" / "a.2.jpg"), "two");
    EXPECT_EQ(namesIn(trash / "info"),
              (std::vector<std::string>{"a.2.jpg.trashinfo", "a.jpg.trashinfo"}));
}

TEST_F(TrashTest, InfoPathEscapesEveryOtherByte) {
    const std::string name = "caf\xE9 au lait%.jpg";  // Latin-1, not UTF-8
    const fs::path file = makePicture(name);
    const fs::path moved = trashFile(file);
    EXPECT_EQ(moved.filename().native(), name);
    const std::string info =
        textOf(moved.parent_path().parent_path() / "info" / (name + ".trashinfo"));
    EXPECT_NE(info.find("/caf%E9%20au%20lait%25.jpg\n"), std::string::npos) << info;
}

TEST_F(TrashTest, RefusalsLeaveTheFileWhereItWas) {
    EXPECT_THROW(trashFile(pictures() / "missing.jpg"), Error);
    EXPECT_THROW(trashFile(pictures()), Error);
    // A trash whose "files" is not a folder cannot take anything.
    const fs::path trash = home() / ".local" / "share" / "Trash";
    fs::create_directories(trash);
    test::writeFile(trash / "files", {'x'});
    const fs::path file = makePicture("kept.jpg");
    EXPECT_THROW(trashFile(file), Error);
    EXPECT_TRUE(fs::exists(file));
    EXPECT_FALSE(fs::exists(trash / "info" / "kept.jpg.trashinfo"));
}

TEST_F(TrashTest, TopFolderTrashFollowsTheStickyRule) {
    const uid_t uid = ::getuid();
    const std::string user = std::to_string(uid);
    const fs::path sticky = m_temp / "sticky";
    fs::create_directories(sticky / ".Trash");
    fs::permissions(sticky / ".Trash", fs::perms::all | fs::perms::sticky_bit);
    EXPECT_EQ(topFolderTrash(sticky, uid), sticky / ".Trash" / user);
    EXPECT_TRUE(fs::is_directory(sticky / ".Trash" / user / "files"));
    EXPECT_TRUE(fs::is_directory(sticky / ".Trash" / user / "info"));

    // Without the sticky bit, or as a link, the shared folder is not trusted.
    const fs::path plain = m_temp / "plain";
    fs::create_directories(plain / ".Trash");
    EXPECT_EQ(topFolderTrash(plain, uid), plain / (".Trash-" + user));
    EXPECT_TRUE(fs::is_directory(plain / (".Trash-" + user) / "info"));
    EXPECT_FALSE(fs::exists(plain / ".Trash" / user));

    const fs::path linked = m_temp / "linked";
    fs::create_directories(linked);
    fs::create_directory_symlink(sticky / ".Trash", linked / ".Trash");
    EXPECT_EQ(topFolderTrash(linked, uid), linked / (".Trash-" + user));
}

}  // namespace
}  // namespace tz
