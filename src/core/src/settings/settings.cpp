// The settings store file: where it lives, reading it, replacing it atomically, and the
// registry-style wrappers on top.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tz/errors.h"
#include "tz/file_io.h"
#include "tz/settings.h"

namespace tz {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStoreFolder = "tovan-zevediz";
constexpr const char* kStoreFile = "registry";

enum class LoadStatus { Loaded, Absent, Unreadable };

struct LoadedStore {
    LoadStatus status = LoadStatus::Absent;
    SettingsStore store;
};

[[noreturn]] void throwDamaged(const fs::path& file, const std::string& what) {
    throw Error("Settings store " + file.string() + " is damaged: " + what);
}

// Reads and parses the store file. A missing file (or folder) is an empty store; a damaged
// one throws; any other failure to read is reported as Unreadable.
LoadedStore loadStore(const fs::path& file) {
    ByteBuffer bytes;
    try {
        bytes = readWholeFile(file, kMaxStoreFileSize);
    } catch (const FileReadError& error) {
        switch (error.cause()) {
            case FileReadError::Cause::Missing:
                return {LoadStatus::Absent, {}};
            case FileReadError::Cause::TooLarge:
                throwDamaged(file, "line 1: the file is larger than " +
                                       std::to_string(kMaxStoreFileSize) + " bytes");
            case FileReadError::Cause::NotRegular:
            case FileReadError::Cause::Changed:  // edited while being read: not to be trusted
            case FileReadError::Cause::Unreadable:
                break;
        }
        return {LoadStatus::Unreadable, {}};
    }
    try {
        return {LoadStatus::Loaded,
                parseSettingsStore(
                    std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))};
    } catch (const Error& error) {
        throwDamaged(file, error.what());
    }
}

// The file a store path names in the end: a store kept elsewhere through symbolic links (as
// dotfile managers keep it) is replaced there, and the links stay. Nothing for a loop of links.
std::optional<fs::path> linkTarget(fs::path file) {
    // As many links as the system itself follows before it gives up (ELOOP).
    constexpr int kMostLinks = 40;
    for (int link = 0; link <= kMostLinks; ++link) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(file, error))) {
            return file;
        }
        const fs::path target = fs::read_symlink(file, error);
        if (error) {
            return std::nullopt;
        }
        file = target.is_absolute() ? target : file.parent_path() / target;
    }
    return std::nullopt;
}

// Replaces the store file atomically, private to the user, so that a crash leaves either the
// old or the new file whole. False when that fails.
bool saveStore(const fs::path& file, const SettingsStore& store) {
    const std::string text = formatSettingsStore(store);
    // The folders are private to the user, as the XDG rules ask.
    if (text.size() > kMaxStoreFileSize || !createFolders(file.parent_path(), 0700)) {
        return false;
    }
    const std::optional<fs::path> target = linkTarget(file);
    if (!target) {
        return false;
    }
    try {
        writeFileAtomically(
            *target, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
            0600);
    } catch (const Error&) {
        return false;
    }
    return true;
}

StoredKey* findKey(SettingsStore& store, const std::string& path) {
    const auto found =
        std::find_if(store.keys.begin(), store.keys.end(),
                     [&](const StoredKey& key) { return sameStoreName(key.path, path); });
    return found == store.keys.end() ? nullptr : &*found;
}

StoredValue* findValue(StoredKey& key, const std::string& name) {
    const auto found =
        std::find_if(key.values.begin(), key.values.end(),
                     [&](const StoredValue& value) { return sameStoreName(value.name, name); });
    return found == key.values.end() ? nullptr : &*found;
}

// Adds the key and the keys above it that are missing, parents first; returns the key.
StoredKey& createKey(SettingsStore& store, const std::string& path) {
    std::size_t end = 0;
    // Each pass moves `end` past one more backslash, so the loop ends.
    while (true) {
        end = path.find('\\', end);
        const std::string prefix = path.substr(0, end);
        if (findKey(store, prefix) == nullptr) {
            store.keys.push_back(StoredKey{prefix, {}});
        }
        if (end == std::string::npos) {
            return *findKey(store, path);
        }
        ++end;
    }
}

std::string failedToCreateKey() {
    // The placeholder is filled with the empty string, as the program has always done.
    return "Failed to create key ";
}

std::string quotedName(const std::string& name) {
    return "'" + name + "'";
}

std::string stringData(const StoredValue& value) {
    const auto nul = std::find(value.data.begin(), value.data.end(), std::uint8_t{0});
    return std::string(value.data.begin(), nul);
}

}  // namespace

fs::path settingsStorePath() {
    const fs::path config = configFolder();
    if (config.empty()) {
        throw Error("No folder for the settings store: neither XDG_CONFIG_HOME nor HOME is set");
    }
    return config / kStoreFolder / kStoreFile;
}

std::optional<fs::path> setAsideDamagedStore() {
    const fs::path file = settingsStorePath();
    try {
        loadStore(file);
        return std::nullopt;
    } catch (const Error&) {
        // Damaged: kept aside below.
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = file.filename().string() + ".damaged-" + stamp;
    for (int attempt = 1; attempt <= 1000; ++attempt) {
        const fs::path kept =
            file.parent_path() / (attempt == 1 ? base : base + "-" + std::to_string(attempt));
        struct stat existing {};
        if (::lstat(kept.c_str(), &existing) == 0) {
            continue;
        }
        if (std::rename(file.c_str(), kept.c_str()) != 0) {
            return std::nullopt;
        }
        return kept;
    }
    return std::nullopt;
}

// The store as loaded once, with what the reads and writes made of it.
struct SettingsEdit::State {
    fs::path file;
    bool loaded = false;
    SettingsStore store;
    bool changed = false;
    // The first write: its value name and whether its key existed before this edit.
    std::optional<std::pair<std::string, bool>> firstWrite;

    // A read's load: a store that exists but cannot be read fails the read of `name`.
    void loadForReading(const std::string& name) {
        if (loaded) {
            return;
        }
        file = settingsStorePath();
        LoadedStore loadedStore = loadStore(file);
        if (loadedStore.status == LoadStatus::Unreadable) {
            throw Error("Failed to get data for " + quotedName(name));
        }
        store = std::move(loadedStore.store);
        loaded = true;
    }

    // A write's load: writing without the old content would lose it.
    void loadForWriting() {
        if (loaded) {
            return;
        }
        file = settingsStorePath();
        LoadedStore loadedStore = loadStore(file);
        if (loadedStore.status == LoadStatus::Unreadable) {
            throw Error(failedToCreateKey());
        }
        store = std::move(loadedStore.store);
        loaded = true;
    }

    void write(const std::string& key, const std::string& name, ValueType type,
               std::vector<std::uint8_t> data) {
        if (!isValidKeyPath(key)) {
            throw Error(failedToCreateKey());
        }
        loadForWriting();
        if (name.size() > kMaxValueNameLength) {
            throw Error("Failed to set data for " + quotedName(name));
        }
        if (!firstWrite) {
            firstWrite.emplace(name, findKey(store, key) != nullptr);
        }
        StoredKey& stored = createKey(store, key);
        if (StoredValue* value = findValue(stored, name)) {
            value->type = type;
            value->data = std::move(data);
        } else {
            stored.values.push_back(StoredValue{name, type, std::move(data)});
        }
        changed = true;
    }

    void commit() {
        if (!changed) {
            return;
        }
        changed = false;
        // A key created only by reading may stay uncreated: the value is absent all the same
        // and the next write reports the failure.
        if (!saveStore(file, store) && firstWrite) {
            throw Error(firstWrite->second
                            ? "Failed to set data for " + quotedName(firstWrite->first)
                            : failedToCreateKey());
        }
    }
};

SettingsEdit::SettingsEdit() : m_state(std::make_unique<State>()) {}

SettingsEdit::~SettingsEdit() = default;

std::string SettingsEdit::readString(const std::string& key, const std::string& name,
                                     const std::string& defaultValue) {
    if (!isValidKeyPath(key)) {
        throw Error(failedToCreateKey());
    }
    m_state->loadForReading(name);
    StoredKey* stored = findKey(m_state->store, key);
    if (stored == nullptr) {
        // Opening the key creates it, as for a write.
        createKey(m_state->store, key);
        m_state->changed = true;
        return defaultValue;
    }
    const StoredValue* value = findValue(*stored, name);
    if (value == nullptr) {
        return defaultValue;
    }
    if (value->type != ValueType::String && value->type != ValueType::ExpandString) {
        throw Error("Invalid data type for " + quotedName(name));
    }
    return stringData(*value);
}

void SettingsEdit::writeString(const std::string& key, const std::string& name,
                               const std::string& text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    // The wrapper appends one NUL to the text and the store adds the terminating one.
    data.push_back(0);
    data.push_back(0);
    m_state->write(key, name, ValueType::String, std::move(data));
}

void SettingsEdit::commit() {
    m_state->commit();
}

void writeRawValue(const std::string& key, const std::string& name, ValueType type,
                   std::vector<std::uint8_t> data) {
    SettingsEdit::State state;
    state.write(key, name, type, std::move(data));
    state.commit();
}

std::optional<std::pair<ValueType, std::vector<std::uint8_t>>> readRawValue(
    const std::string& key, const std::string& name) {
    SettingsEdit::State state;
    state.loadForReading(name);
    StoredKey* stored = findKey(state.store, key);
    if (stored == nullptr) {
        return std::nullopt;
    }
    StoredValue* value = findValue(*stored, name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::pair{value->type, std::move(value->data)};
}

void writeSetting(const std::string& key, const std::string& name, const std::string& text) {
    SettingsEdit edit;
    edit.writeString(key, name, text);
    edit.commit();
}

std::string readSetting(const std::string& key, const std::string& name,
                        const std::string& defaultValue) {
    SettingsEdit edit;
    std::string text = edit.readString(key, name, defaultValue);
    edit.commit();
    return text;
}

}  // namespace tz
