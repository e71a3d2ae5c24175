// The per-user settings store: keys holding typed values, kept in one text file under the XDG
// config folder, reached through readSetting/writeSetting (one access each) or a SettingsEdit
// (several reads and writes in one load and one save).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tz {

// The program's key in the per-user store.
inline constexpr const char* kProgramKey = "Software\\Ardelwick\\Tovan Zevediz";

// Value types, numbered as the registry numbers them.
enum class ValueType : std::uint32_t {
    None = 0,
    String = 1,  // REG_SZ
    ExpandString = 2,
    Binary = 3,
    DWord = 4,
    MultiString = 7,
    QWord = 11
};

// Writes `text` as a String value: the text's bytes, one NUL the wrapper appends and the
// terminating NUL (text length + 2 bytes). Creates the key and the keys above it when absent.
// Throws tz::Error "Failed to create key " when the key cannot be opened or created, and
// "Failed to set data for 'NAME'" when the value cannot be written. The store file is replaced
// atomically, so a failed write leaves it as it was.
void writeSetting(const std::string& key, const std::string& name, const std::string& text);

// The text of a String or ExpandString value (not expanded) up to its first NUL, or
// `defaultValue` when the value is absent. Creates the key (empty) when absent; when that fails
// the value is absent all the same and the default is returned. Throws tz::Error
// "Invalid data type for 'NAME'" for a value of any other type and "Failed to get data for 'NAME'"
// when the store cannot be read.
std::string readSetting(const std::string& key, const std::string& name,
                        const std::string& defaultValue);

// $XDG_CONFIG_HOME/tovan-zevediz/registry; $HOME/.config stands in when XDG_CONFIG_HOME is unset,
// empty or relative. Throws tz::Error when neither gives a folder.
std::filesystem::path settingsStorePath();

// A store file that exists but cannot be parsed (or is larger than the store allows) is renamed
// to "registry.damaged-YYYYMMDD-HHMMSS" (local time; "-2", "-3", ... appended when taken) in
// the same folder, and that path is returned: the next access starts a fresh store. Returns
// nothing for a sound, absent or unreadable file, and when the rename fails (the damaged file
// then stays and reports itself as before). Throws tz::Error only when there is no folder for
// the store.
std::optional<std::filesystem::path> setAsideDamagedStore();

// Several reads and writes of string values against one load of the store, saved in one
// atomic replacement: what readSetting and writeSetting do one access at a time, with the same
// values, defaults and messages. The store is loaded at the first access; a failure to load
// reports the value being accessed. Nothing is written before commit().
class SettingsEdit {
  public:
    SettingsEdit();
    ~SettingsEdit();
    SettingsEdit(const SettingsEdit&) = delete;
    SettingsEdit& operator=(const SettingsEdit&) = delete;

    // As readSetting, but an absent key is created only by commit().
    std::string readString(const std::string& key, const std::string& name,
                           const std::string& defaultValue);
    // As writeSetting, without saving yet.
    void writeString(const std::string& key, const std::string& name, const std::string& text);
    // Saves the store once. Throws the error the first write's own save would have thrown.
    void commit();

    // The loaded store and what the edit made of it; opaque.
    struct State;

  private:
    std::unique_ptr<State> m_state;
};

// Raw access for tests and tools, with the same key creation, errors and atomic replacement as
// the wrappers. Value names and key paths compare without regard to ASCII letter case, as the
// registry's do; a rewritten value keeps the name it was first stored under.
void writeRawValue(const std::string& key, const std::string& name, ValueType type,
                   std::vector<std::uint8_t> data);
// The value's type and data, or nothing when the key or the value is absent. Unlike
// readSetting it never creates the key.
std::optional<std::pair<ValueType, std::vector<std::uint8_t>>> readRawValue(
    const std::string& key, const std::string& name);

// The store's content as held in its file.
struct StoredValue {
    std::string name;
    ValueType type = ValueType::None;
    std::vector<std::uint8_t> data;
    friend bool operator==(const StoredValue&, const StoredValue&) = default;
};

struct StoredKey {
    std::string path;  // full key path, components separated by one backslash
    std::vector<StoredValue> values;
    friend bool operator==(const StoredKey&, const StoredKey&) = default;
};

struct SettingsStore {
    std::vector<StoredKey> keys;  // in file order; a key's parents come before it
    friend bool operator==(const SettingsStore&, const SettingsStore&) = default;
};

// Limits that keep a damaged or hostile file from exhausting memory. The program's own store
// holds a few short values; a file beyond a mebibyte is not one it wrote, and is treated as
// damaged rather than parsed on every start.
inline constexpr std::size_t kMaxStoreFileSize = 1024 * 1024;
inline constexpr std::size_t kMaxKeyPathLength = 1024;
inline constexpr std::size_t kMaxValueNameLength = 16383;

// The text of a store file. Format, one entry per line, each line ending in "\n":
//   Tovan Zevediz settings store, version 1
//   [Software\Ardelwick\Tovan Zevediz]
//   "Recent1"=sz:"/photos/x\x00\x00"
// A key line holds the key path: components of printable ASCII other than "\", "[" and "]",
// separated by single backslashes. A value line belongs to the key above it: its name and data
// are quoted byte strings in which printable ASCII stands for itself, except "\" and '"' written
// as "\\" and "\"", and every other byte is "\xhh". The type is one of none, sz, expand_sz,
// binary, dword, multi_sz, qword, or "type" followed by its decimal number. Empty lines are
// allowed and dropped.
std::string formatSettingsStore(const SettingsStore& store);

// Parses the text of a store file strictly. Throws tz::Error "line N: WHAT" for anything the
// format does not allow (also duplicate keys or values, a missing final end of line).
SettingsStore parseSettingsStore(std::string_view text);

// Key paths and value names are equal when they differ at most in ASCII letter case.
bool sameStoreName(std::string_view a, std::string_view b);

// True when `path` is a key path the store can hold (see formatSettingsStore).
bool isValidKeyPath(std::string_view path);

}  // namespace tz
