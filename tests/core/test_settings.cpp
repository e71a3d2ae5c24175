// The settings store: stored forms, types, key creation, the file format, atomic replacement and
// refusal to touch a damaged file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/support.h"
#include "tz/errors.h"
#include "tz/settings.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::vector<std::uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::string text(const std::vector<std::uint8_t>& data) {
    return {data.begin(), data.end()};
}

// Sets an environment variable for the scope, restoring the previous state afterwards.
using test::ScopedEnvironment;

// Each test gets its own config folder, so the user's store is never touched.
class SettingsStoreTest : public ::testing::Test {
  protected:
    fs::path configFolder() const { return m_temp / "config"; }
    fs::path storeFile() const { return configFolder() / "tovan-zevediz" / "registry"; }
    fs::path storeFolder() const { return storeFile().parent_path(); }

    void writeStoreText(const std::string& content) {
        fs::create_directories(storeFolder());
        test::writeFile(storeFile(), bytes(content));
    }
    std::string storeText() const { return text(test::readFile(storeFile())); }

    std::vector<std::string> storeFolderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(storeFolder())) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    TempDir m_temp;
    ScopedEnvironment m_config{"XDG_CONFIG_HOME", configFolder().string()};
};

template <typename Call>
std::string errorOf(Call call) {
    try {
        call();
    } catch (const Error& error) {
        return error.what();
    }
    return "(no error)";
}

constexpr const char* kHeaderLine = "Tovan Zevediz settings store, version 1\n";

TEST_F(SettingsStoreTest, StringIsStoredWithTwoNulsAndReadsBackExactly) {
    writeSetting(kProgramKey, "Recent1", "/photos/x");
    const auto raw = readRawValue(kProgramKey, "Recent1");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->first, ValueType::String);
    // Nine characters and two NULs: 11 bytes.
    EXPECT_EQ(raw->second, bytes(std::string("/photos/x\0\0", 11)));
    EXPECT_EQ(readSetting(kProgramKey, "Recent1", "/"), "/photos/x");
}

TEST_F(SettingsStoreTest, EmptyTextIsStoredAsTwoNuls) {
    writeSetting(kProgramKey, "Recent2", "");
    const auto raw = readRawValue(kProgramKey, "Recent2");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->second, (std::vector<std::uint8_t>{0, 0}));
    EXPECT_EQ(readSetting(kProgramKey, "Recent2", "/"), "");
}

TEST_F(SettingsStoreTest, FileHoldsTheKeysAboveAndTheValueInReadableForm) {
    writeSetting(kProgramKey, "Recent1", "/photos/x");
    EXPECT_EQ(storeText(), std::string(kHeaderLine) +
                               "[Software]\n"
                               "[Software\\Ardelwick]\n"
                               "[Software\\Ardelwick\\Tovan Zevediz]\n"
                               "\"Recent1\"=sz:\"/photos/x\\x00\\x00\"\n");
}

TEST_F(SettingsStoreTest, FirstReadOnAFreshProfileCreatesTheEmptyKey) {
    ASSERT_FALSE(fs::exists(storeFile()));
    EXPECT_EQ(readSetting(kProgramKey, "Recent1", "/"), "/");
    EXPECT_EQ(storeText(), std::string(kHeaderLine) +
                               "[Software]\n"
                               "[Software\\Ardelwick]\n"
                               "[Software\\Ardelwick\\Tovan Zevediz]\n");
    // A second read finds the key and leaves the file alone.
    const auto before = fs::last_write_time(storeFile());
    EXPECT_EQ(readSetting(kProgramKey, "Recent5", "dflt"), "dflt");
    EXPECT_EQ(fs::last_write_time(storeFile()), before);
}

TEST_F(SettingsStoreTest, ReadOnlyAccessDoesNotCreateTheKey) {
    EXPECT_FALSE(readRawValue(kProgramKey, "Recent1"));
    EXPECT_FALSE(fs::exists(storeFile()));
}

TEST_F(SettingsStoreTest, ExpandableStringIsReturnedUnexpanded) {
    writeRawValue(kProgramKey, "Recent1", ValueType::ExpandString,
                  bytes(std::string("$HOME/x\0", 8)));
    EXPECT_EQ(readSetting(kProgramKey, "Recent1", "/"), "$HOME/x");
}

TEST_F(SettingsStoreTest, TextEndsAtTheFirstNulOrAtTheEndOfTheData) {
    writeRawValue(kProgramKey, "A", ValueType::String, bytes(std::string("ab\0cd", 5)));
    writeRawValue(kProgramKey, "B", ValueType::String, bytes("no terminator"));
    writeRawValue(kProgramKey, "C", ValueType::String, {});
    EXPECT_EQ(readSetting(kProgramKey, "A", "-"), "ab");
    EXPECT_EQ(readSetting(kProgramKey, "B", "-"), "no terminator");
    EXPECT_EQ(readSetting(kProgramKey, "C", "-"), "");
}

class NonStringTypeTest : public SettingsStoreTest,
                          public ::testing::WithParamInterface<ValueType> {};

TEST_P(NonStringTypeTest, IsAnInvalidDataTypeForTheStringReader) {
    writeRawValue(kProgramKey, "Recent1", GetParam(), {5, 0, 0, 0});
    EXPECT_EQ(errorOf([] { readSetting(kProgramKey, "Recent1", "/"); }),
              "Invalid data type for 'Recent1'");
}

INSTANTIATE_TEST_SUITE_P(Types, NonStringTypeTest,
                         ::testing::Values(ValueType::None, ValueType::Binary, ValueType::DWord,
                                           ValueType::MultiString, ValueType::QWord,
                                           static_cast<ValueType>(5)));

TEST_F(SettingsStoreTest, NamesAndKeysIgnoreLetterCaseAndKeepTheirFirstSpelling) {
    writeSetting(kProgramKey, "Recent1", "/a");
    writeSetting("software\\ARDELWICK\\tovan zevediz", "RECENT1", "/b");
    EXPECT_EQ(readSetting(kProgramKey, "recent1", "/"), "/b");
    const SettingsStore store = parseSettingsStore(storeText());
    ASSERT_EQ(store.keys.size(), 3u);
    ASSERT_EQ(store.keys[2].values.size(), 1u);
    EXPECT_EQ(store.keys[2].path, kProgramKey);
    EXPECT_EQ(store.keys[2].values[0].name, "Recent1");
}

TEST_F(SettingsStoreTest, WritingOneValueKeepsEveryOtherKeyAndValue) {
    writeStoreText(std::string(kHeaderLine) +
                   "[Other]\n"
                   "\"\"=binary:\"\\x00\\xff\"\n"
                   "[Software\\Ardelwick\\Tovan Zevediz]\n"
                   "\"Count\"=dword:\"\\x05\\x00\\x00\\x00\"\n"
                   "\"Odd\"=type99:\"\"\n");
    writeSetting(kProgramKey, "Recent1", "/p");
    EXPECT_EQ(readRawValue("Other", ""),
              std::make_pair(ValueType::Binary, std::vector<std::uint8_t>{0, 0xFF}));
    EXPECT_EQ(readRawValue(kProgramKey, "Count"),
              std::make_pair(ValueType::DWord, std::vector<std::uint8_t>{5, 0, 0, 0}));
    EXPECT_EQ(readRawValue(kProgramKey, "Odd"),
              std::make_pair(static_cast<ValueType>(99), std::vector<std::uint8_t>{}));
    EXPECT_EQ(readSetting(kProgramKey, "Recent1", "/"), "/p");
}

TEST(SettingsStoreFormat, EveryByteOfNamesAndDataSurvivesTheTextForm) {
    std::string allBytes;
    for (int c = 0; c < 256; ++c) {
        allBytes += static_cast<char>(c);
    }
    SettingsStore store;
    store.keys.push_back({"Software", {}});
    store.keys.push_back({"Software\\A key (with) odd = chars; \"quoted\"",
                          {{allBytes, ValueType::QWord, bytes(allBytes)},
                           {"", ValueType::None, {}},
                           {"big", static_cast<ValueType>(4294967295u), {0}}}});
    const std::string formatted = formatSettingsStore(store);
    EXPECT_EQ(parseSettingsStore(formatted), store);
    // Printable ASCII other than the backslash and the quote stands for itself.
    EXPECT_NE(formatted.find(R"(\x1f !\"#)"), std::string::npos);
    EXPECT_NE(formatted.find(R"(Z[\\]^)"), std::string::npos);
    EXPECT_NE(formatted.find(R"(}~\x7f\x80)"), std::string::npos);
    EXPECT_NE(formatted.find("\n\"\"=none:\"\"\n"), std::string::npos);
    EXPECT_NE(formatted.find("\"big\"=type4294967295:\"\\x00\"\n"), std::string::npos);
}

struct DamagedCase {
    const char* description;
    std::string content;
    std::string expectedReason;  // "line N: ..." prefix
};

void PrintTo(const DamagedCase& damaged, std::ostream* out) {
    *out << damaged.description;
}

class DamagedStoreTest : public SettingsStoreTest,
                         public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedStoreTest, IsReportedAndNeverOverwritten) {
    writeStoreText(GetParam().content);
    const std::string expectedStart =
        "Settings store " + storeFile().string() + " is damaged: " + GetParam().expectedReason;
    const std::string onRead = errorOf([] { readSetting(kProgramKey, "Recent1", "/"); });
    const std::string onWrite = errorOf([] { writeSetting(kProgramKey, "Recent1", "/new"); });
    const std::string onRawRead = errorOf([] { readRawValue(kProgramKey, "Recent1"); });
    EXPECT_EQ(onRead.substr(0, expectedStart.size()), expectedStart) << onRead;
    EXPECT_EQ(onWrite.substr(0, expectedStart.size()), expectedStart) << onWrite;
    EXPECT_EQ(onRawRead.substr(0, expectedStart.size()), expectedStart) << onRawRead;
    EXPECT_EQ(storeText(), GetParam().content);
    EXPECT_EQ(storeFolderEntries(), std::vector<std::string>{"registry"});
}

// Moved aside on request, the damaged file keeps its content beside a fresh store.
TEST_P(DamagedStoreTest, IsSetAsideOnRequestAndAFreshStoreWorks) {
    writeStoreText(GetParam().content);
    const std::optional<fs::path> kept = setAsideDamagedStore();
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->parent_path(), storeFolder());
    const std::string name = kept->filename().string();
    // registry.damaged-YYYYMMDD-HHMMSS
    ASSERT_EQ(name.size(), std::string("registry.damaged-").size() + 15) << name;
    EXPECT_TRUE(name.starts_with("registry.damaged-")) << name;
    EXPECT_EQ(name[25], '-') << name;
    EXPECT_EQ(text(test::readFile(*kept)), GetParam().content);
    EXPECT_FALSE(fs::exists(storeFile()));
    writeSetting(kProgramKey, "Recent1", "/new");
    EXPECT_EQ(readSetting(kProgramKey, "Recent1", "/"), "/new");
    EXPECT_FALSE(setAsideDamagedStore().has_value());
}

const std::string kKey = "[Software\\Ardelwick\\Tovan Zevediz]\n";

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedStoreTest,
    ::testing::Values(
        DamagedCase{"empty file", "", "line 1: the file is empty"},
        DamagedCase{"no header", kKey, "line 1: expected the header"},
        DamagedCase{"newer version", "Tovan Zevediz settings store, version 2\n", "line 1:"},
        DamagedCase{"cut short", kHeaderLine + kKey + "\"Recent1\"=sz:\"/a\\x00",
                    "line 3: missing end of line"},
        DamagedCase{"value before any key", std::string(kHeaderLine) + "\"Recent1\"=sz:\"/\"\n",
                    "line 2: a value before the first key"},
        DamagedCase{"unknown escape", kHeaderLine + kKey + "\"Recent1\"=sz:\"\\q\"\n",
                    "line 3: bad escape"},
        DamagedCase{"short hex escape", kHeaderLine + kKey + "\"Recent1\"=sz:\"\\x4\"\n",
                    "line 3: bad escape"},
        DamagedCase{"unterminated data", kHeaderLine + kKey + "\"Recent1\"=sz:\"/a\n",
                    "line 3: unterminated value data"},
        DamagedCase{"raw control byte", kHeaderLine + kKey + "\"Recent1\"=sz:\"a\tb\"\n",
                    "line 3: unescaped control"},
        DamagedCase{"unknown type", kHeaderLine + kKey + "\"Recent1\"=text:\"/\"\n",
                    "line 3: unknown value type 'text'"},
        DamagedCase{"type number with a leading zero",
                    kHeaderLine + kKey + "\"Recent1\"=type04:\"\"\n", "line 3: unknown value type"},
        DamagedCase{"type number too large",
                    kHeaderLine + kKey + "\"Recent1\"=type4294967296:\"\"\n",
                    "line 3: unknown value type"},
        DamagedCase{"text after the data", kHeaderLine + kKey + "\"Recent1\"=sz:\"/\" x\n",
                    "line 3: unexpected text after the value data"},
        DamagedCase{"duplicate key in another case",
                    kHeaderLine + kKey + "\n[software\\ardelwick\\tovan zevediz]\n",
                    "line 4: key [software\\ardelwick\\tovan zevediz] appears twice"},
        DamagedCase{"duplicate value",
                    kHeaderLine + kKey + "\"Recent1\"=sz:\"/\"\n\"RECENT1\"=sz:\"/\"\n",
                    "line 4: value appears twice"},
        DamagedCase{"empty key component", kHeaderLine + std::string("[Software\\\\X]\n"),
                    "line 2: invalid key path"},
        DamagedCase{"unclosed key line", kHeaderLine + std::string("[Software\n"),
                    "line 2: a key line must end with ']'"},
        DamagedCase{"carriage returns", std::string("Tovan Zevediz settings store, version 1\r\n"),
                    "line 1: expected the header"},
        DamagedCase{"stray text", kHeaderLine + kKey + "Recent1=/\n", "line 3: expected a key"},
        DamagedCase{"larger than a mebibyte",
                    kHeaderLine + kKey + "\"Big\"=binary:\"" + std::string(1 << 20, 'a') + "\"\n",
                    "line 1: the file is larger than 1048576 bytes"}),
    [](const ::testing::TestParamInfo<DamagedCase>& row) {
        std::string name;
        for (const char c : std::string(row.param.description)) {
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name;
    });

TEST_F(SettingsStoreTest, RepeatedWritesLeaveNoTemporaryFilesBehind) {
    for (int i = 0; i < 20; ++i) {
        writeSetting(kProgramKey, "Recent" + std::to_string(i % 5 + 1), "/f" + std::to_string(i));
    }
    EXPECT_EQ(storeFolderEntries(), std::vector<std::string>{"registry"});
    EXPECT_EQ(readSetting(kProgramKey, "Recent5", "/"), "/f19");
}

// A store kept elsewhere through a symbolic link (as dotfile managers do) stays linked: its
// target is what gets replaced.
TEST_F(SettingsStoreTest, StoreThatIsASymbolicLinkHasItsTargetReplaced) {
    const fs::path elsewhere = m_temp / "dotfiles";
    fs::create_directories(elsewhere);
    test::writeFile(elsewhere / "registry", bytes(kHeaderLine));
    fs::create_directories(storeFolder());
    fs::create_symlink("../../dotfiles/registry", storeFile());
    writeSetting(kProgramKey, "Recent1", "/p");
    EXPECT_TRUE(fs::is_symlink(storeFile()));
    EXPECT_EQ(fs::read_symlink(storeFile()), fs::path("../../dotfiles/registry"));
    EXPECT_NE(text(test::readFile(elsewhere / "registry")).find("/p"), std::string::npos);
    EXPECT_EQ(readSetting(kProgramKey, "Recent1", "/"), "/p");
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 1);
}

TEST_F(SettingsStoreTest, ConfigFolderThatIsAFileCannotHoldTheKey) {
    test::writeFile(configFolder(), bytes("not a folder"));
    EXPECT_EQ(errorOf([] { writeSetting(kProgramKey, "Recent1", "/p"); }), "Failed to create key ");
    // Reading finds the value absent, as it is, and returns the default.
    EXPECT_EQ(readSetting(kProgramKey, "Recent1", "/"), "/");
    EXPECT_EQ(text(test::readFile(configFolder())), "not a folder");
}

TEST_F(SettingsStoreTest, UnreadableStoreIsAReadErrorAndIsNotReplaced) {
    fs::create_directories(storeFile());  // a folder where the file belongs
    EXPECT_EQ(errorOf([] { readSetting(kProgramKey, "Recent1", "/"); }),
              "Failed to get data for 'Recent1'");
    EXPECT_EQ(errorOf([] { writeSetting(kProgramKey, "Recent1", "/p"); }), "Failed to create key ");
    EXPECT_TRUE(fs::is_directory(storeFile()));
}

TEST_F(SettingsStoreTest, PipeInPlaceOfTheStoreIsAnErrorNotAHang) {
    fs::create_directories(storeFolder());
    ASSERT_EQ(::mkfifo(storeFile().c_str(), 0600), 0);
    EXPECT_EQ(errorOf([] { readSetting(kProgramKey, "Recent1", "/"); }),
              "Failed to get data for 'Recent1'");
    EXPECT_EQ(errorOf([] { writeSetting(kProgramKey, "Recent1", "/p"); }), "Failed to create key ");
    EXPECT_TRUE(fs::is_fifo(storeFile()));
}

TEST_F(SettingsStoreTest, InvalidKeyPathCannotBeCreated) {
    EXPECT_EQ(errorOf([] { writeSetting("Software\\\\X", "A", "b"); }), "Failed to create key ");
    EXPECT_EQ(errorOf([] { writeSetting("", "A", "b"); }), "Failed to create key ");
    EXPECT_EQ(errorOf([] { readSetting("Software\\[X]", "A", "b"); }), "Failed to create key ");
    EXPECT_FALSE(fs::exists(storeFile()));
}

TEST_F(SettingsStoreTest, OversizedValueIsRefusedAndTheFileKept) {
    writeSetting(kProgramKey, "Recent1", "/keep");
    const std::string before = storeText();
    // Each NUL takes four characters in the file, so this passes the file size limit.
    const std::vector<std::uint8_t> huge(kMaxStoreFileSize / 4 + 1, 0);
    EXPECT_EQ(errorOf([&] { writeRawValue(kProgramKey, "Huge", ValueType::Binary, huge); }),
              "Failed to set data for 'Huge'");
    EXPECT_EQ(storeText(), before);
}

// Limits the size of files this process writes, so that writing a larger file fails part-way
// (also for root, who ignores permissions).
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit m_previous{};
    void (*m_previousHandler)(int) = nullptr;
};

TEST_F(SettingsStoreTest, WriteThatFailsPartWayKeepsTheOldFileWhole) {
    writeSetting(kProgramKey, "Recent1", "/keep");
    const std::string before = storeText();
    const std::string longFolder(20000, 'x');
    {
        const FileSizeLimit limit(4096);
        EXPECT_EQ(errorOf([&] { writeSetting(kProgramKey, "Recent2", longFolder); }),
                  "Failed to set data for 'Recent2'");
    }
    EXPECT_EQ(storeText(), before);
    EXPECT_EQ(storeFolderEntries(), std::vector<std::string>{"registry"});
    writeSetting(kProgramKey, "Recent2", longFolder);
    EXPECT_EQ(readSetting(kProgramKey, "Recent2", "/"), longFolder);
}

TEST_F(SettingsStoreTest, KeyThatCannotBeWrittenIsReportedAsNotCreated) {
    const std::string longFolder(20000, 'x');
    {
        const FileSizeLimit limit(4096);
        EXPECT_EQ(errorOf([&] { writeSetting(kProgramKey, "Recent1", longFolder); }),
                  "Failed to create key ");
    }
    EXPECT_FALSE(fs::exists(storeFile()));
}

TEST_F(SettingsStoreTest, ReadOnlyFolderIsAFailureToSetData) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders; the file size limit test covers this";
    }
    writeSetting(kProgramKey, "Recent1", "/keep");
    const std::string before = storeText();
    fs::permissions(storeFolder(), fs::perms::owner_read | fs::perms::owner_exec);
    const std::string error = errorOf([] { writeSetting(kProgramKey, "Recent1", "/new"); });
    fs::permissions(storeFolder(), fs::perms::owner_all);
    EXPECT_EQ(error, "Failed to set data for 'Recent1'");
    EXPECT_EQ(storeText(), before);
}

struct PathCase {
    const char* description;
    std::optional<std::string> config;
    std::optional<std::string> home;
    std::string expected;
};

void PrintTo(const PathCase& path, std::ostream* out) {
    *out << path.description;
}

TEST_F(SettingsStoreTest, SoundOrAbsentStoreIsNotSetAside) {
    EXPECT_FALSE(setAsideDamagedStore().has_value());
    writeSetting(kProgramKey, "Recent1", "/a");
    const std::string before = storeText();
    EXPECT_FALSE(setAsideDamagedStore().has_value());
    EXPECT_EQ(storeText(), before);
    EXPECT_EQ(storeFolderEntries(), std::vector<std::string>{"registry"});
}

TEST_F(SettingsStoreTest, SecondDamagedStoreInOneSecondGetsItsOwnName) {
    writeStoreText("damaged\n");
    const std::optional<fs::path> first = setAsideDamagedStore();
    writeStoreText("damaged again\n");
    const std::optional<fs::path> second = setAsideDamagedStore();
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(text(test::readFile(*first)), "damaged\n");
    EXPECT_EQ(text(test::readFile(*second)), "damaged again\n");
}

class StorePathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(StorePathTest, FollowsTheXdgRules) {
    const ScopedEnvironment config("XDG_CONFIG_HOME", GetParam().config);
    const ScopedEnvironment home("HOME", GetParam().home);
    EXPECT_EQ(settingsStorePath(), fs::path(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Environments, StorePathTest,
                         ::testing::Values(PathCase{"config folder set", "/cfg", "/home/u",
                                                    "/cfg/tovan-zevediz/registry"},
                                           PathCase{"config folder unset", std::nullopt, "/home/u",
                                                    "/home/u/.config/tovan-zevediz/registry"},
                                           PathCase{"config folder empty", "", "/home/u",
                                                    "/home/u/.config/tovan-zevediz/registry"},
                                           PathCase{"relative config folder is ignored", "cfg",
                                                    "/home/u",
                                                    "/home/u/.config/tovan-zevediz/registry"}));

}  // namespace
}  // namespace tz
