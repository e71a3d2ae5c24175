// The recent-folder list in the settings store and the special folders from user-dirs.dirs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/support.h"
#include "tz/errors.h"
#include "tz/recent.h"
#include "tz/settings.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using Folders = std::array<std::string, 5>;

// Sets an environment variable for the scope, restoring the previous state afterwards.
using test::ScopedEnvironment;

// Each test gets its own config folder and home folder.
class RecentTest : public ::testing::Test {
  protected:
    fs::path configFolder() const { return m_temp / "config"; }
    std::string home() const { return (m_temp / "home").string(); }

    void storeList(const Folders& folders) {
        for (std::size_t n = 0; n < folders.size(); ++n) {
            writeSetting(kProgramKey, "Recent" + std::to_string(n + 1), folders[n]);
        }
    }

    void writeUserDirs(const std::string& content) {
        fs::create_directories(configFolder());
        test::writeFile(configFolder() / "user-dirs.dirs", {content.begin(), content.end()});
    }

    test::TempDir m_temp;
    ScopedEnvironment m_config{"XDG_CONFIG_HOME", configFolder().string()};
    ScopedEnvironment m_home{"HOME", home()};
};

TEST_F(RecentTest, FreshStoreListsTheRootFiveTimes) {
    EXPECT_EQ(loadRecentFolders(), (Folders{"/", "/", "/", "/", "/"}));
}

TEST_F(RecentTest, FirstRunIsRecordedAtTheTop) {
    EXPECT_TRUE(addFolderToRecent("/photos", loadRecentFolders()));
    EXPECT_EQ(loadRecentFolders(), (Folders{"/photos", "/", "/", "/", "/"}));
}

TEST_F(RecentTest, ListedFolderIsNotMovedAndNothingIsWritten) {
    const Folders listed{"/a", "/b", "/c", "/d", "/e"};
    storeList(listed);
    const std::string before = [] {
        const auto bytes = test::readFile(settingsStorePath());
        return std::string(bytes.begin(), bytes.end());
    }();
    EXPECT_FALSE(addFolderToRecent("/c", loadRecentFolders()));
    EXPECT_EQ(loadRecentFolders(), listed);
    const auto after = test::readFile(settingsStorePath());
    EXPECT_EQ(std::string(after.begin(), after.end()), before);
}

TEST_F(RecentTest, NewFolderPushesTheOldestOut) {
    storeList({"/a", "/b", "/c", "/d", "/e"});
    EXPECT_TRUE(addFolderToRecent("/f", loadRecentFolders()));
    EXPECT_EQ(loadRecentFolders(), (Folders{"/f", "/a", "/b", "/c", "/d"}));
}

TEST_F(RecentTest, ComparisonRespectsLetterCase) {
    storeList({"/photos", "/b", "/c", "/d", "/e"});
    EXPECT_TRUE(addFolderToRecent("/Photos", loadRecentFolders()));
    EXPECT_EQ(loadRecentFolders(), (Folders{"/Photos", "/photos", "/b", "/c", "/d"}));
}

TEST_F(RecentTest, ComparesWithTheCaptionsButShiftsTheStoredValues) {
    storeList({"/a", "/b", "/c", "/d", "/e"});
    // Captions loaded before another copy of the program changed the store.
    const Folders captions{"/old1", "/x", "/old3", "/old4", "/old5"};
    EXPECT_FALSE(addFolderToRecent("/x", captions));
    EXPECT_EQ(loadRecentFolders(), (Folders{"/a", "/b", "/c", "/d", "/e"}));
    EXPECT_TRUE(addFolderToRecent("/a", captions));
    EXPECT_EQ(loadRecentFolders(), (Folders{"/a", "/a", "/b", "/c", "/d"}));
}

TEST_F(RecentTest, NumberStoredByAnotherToolStopsTheLoading) {
    storeList({"/a", "/b", "/c", "/d", "/e"});
    writeRawValue(kProgramKey, "Recent3", ValueType::DWord, {1, 0, 0, 0});
    try {
        loadRecentFolders();
        FAIL() << "loading succeeded";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for 'Recent3'");
    }
}

// The list moves down in one load and one save: a value another tool damaged stops the move
// before anything is written, so the store never holds a half-moved list.
TEST_F(RecentTest, DamagedEntryLeavesTheStoreUntouchedWhenRecording) {
    storeList({"/a", "/b", "/c", "/d", "/e"});
    writeRawValue(kProgramKey, "Recent3", ValueType::DWord, {1, 0, 0, 0});
    const auto before = test::readFile(settingsStorePath());
    try {
        addFolderToRecent("/new", Folders{"/a", "/b", "/c", "/d", "/e"});
        FAIL() << "recording succeeded";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "Invalid data type for 'Recent3'");
    }
    EXPECT_EQ(test::readFile(settingsStorePath()), before);
}

TEST_F(RecentTest, StoreErrorsReachTheCaller) {
    test::writeFile(configFolder(), {'x'});  // the config folder is a file
    EXPECT_THROW(addFolderToRecent("/photos", loadRecentFolders()), Error);
}

TEST_F(RecentTest, SpecialFoldersComeFromUserDirsWithHomeExpanded) {
    writeUserDirs(
        "# written by xdg-user-dirs-update\n"
        "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
        "XDG_DOCUMENTS_DIR=\"/srv/documents\"\n"
        "  XDG_PICTURES_DIR = \"$HOME/Slike \\\"2016\\\"\"\n"
        "XDG_MUSIC_DIR=\"$HOME/Music\"\n");
    EXPECT_EQ(specialFolderPath(SpecialFolder::Desktop), home() + "/Desktop");
    EXPECT_EQ(specialFolderPath(SpecialFolder::Documents), "/srv/documents");
    EXPECT_EQ(specialFolderPath(SpecialFolder::Pictures), home() + "/Slike \"2016\"");
    EXPECT_EQ(specialFolderPath(SpecialFolder::Recent), "");
}

TEST_F(RecentTest, UnnamedOrInvalidSpecialFoldersAreTheDefaults) {
    writeUserDirs(
        "XDG_DOCUMENTS_DIR=\"Elsewhere\"\n"     // relative: invalid
        "XDG_PICTURES_DIR=\"$HOMEPhotos\"\n"    // not $HOME followed by a slash
        "#XDG_DESKTOP_DIR=\"$HOME/Radna\"\n");  // a comment
    EXPECT_EQ(specialFolderPath(SpecialFolder::Desktop), home() + "/Desktop");
    EXPECT_EQ(specialFolderPath(SpecialFolder::Documents), home() + "/Documents");
    EXPECT_EQ(specialFolderPath(SpecialFolder::Pictures), home() + "/Pictures");
}

TEST_F(RecentTest, LaterLineWinsAndHomeAloneIsTheHomeFolder) {
    writeUserDirs(
        "XDG_PICTURES_DIR=\"$HOME/Pictures\"\n"
        "XDG_PICTURES_DIR=\"/media/pictures\"\n"
        "XDG_DOCUMENTS_DIR=\"$HOME\"");  // no final end of line
    EXPECT_EQ(specialFolderPath(SpecialFolder::Pictures), "/media/pictures");
    EXPECT_EQ(specialFolderPath(SpecialFolder::Documents), home());
}

TEST_F(RecentTest, NoUserDirsFileGivesTheDefaults) {
    EXPECT_EQ(specialFolderPath(SpecialFolder::Desktop), home() + "/Desktop");
    EXPECT_EQ(specialFolderPath(SpecialFolder::Pictures), home() + "/Pictures");
    EXPECT_EQ(specialFolderPath(SpecialFolder::Recent), "");
}

TEST_F(RecentTest, PipeInPlaceOfUserDirsGivesTheDefaults) {
    fs::create_directories(configFolder());
    ASSERT_EQ(::mkfifo((configFolder() / "user-dirs.dirs").c_str(), 0600), 0);
    EXPECT_EQ(specialFolderPath(SpecialFolder::Desktop), home() + "/Desktop");
}

TEST_F(RecentTest, UserDirsFileUnderHomeWhenTheConfigFolderIsUnset) {
    const ScopedEnvironment config("XDG_CONFIG_HOME", std::nullopt);
    fs::create_directories(fs::path(home()) / ".config");
    const std::string line = "XDG_DESKTOP_DIR=\"$HOME/Radna povrsina\"\n";
    test::writeFile(fs::path(home()) / ".config" / "user-dirs.dirs", {line.begin(), line.end()});
    EXPECT_EQ(specialFolderPath(SpecialFolder::Desktop), home() + "/Radna povrsina");
}

TEST_F(RecentTest, HomeValueWithoutAHomeFolderIsIgnored) {
    writeUserDirs("XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"/docs\"\n");
    const ScopedEnvironment noHome("HOME", std::nullopt);
    EXPECT_EQ(specialFolderPath(SpecialFolder::Desktop), "");
    EXPECT_EQ(specialFolderPath(SpecialFolder::Documents), "/docs");
}

}  // namespace
}  // namespace tz
