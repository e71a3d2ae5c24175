// The settings store file: where it lives, reading it, replacing it atomically, and the
// registry-style wrappers on top.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "file_descriptor.h"
#include "tz/errors.h"
#include "tz/settings.h"

namespace tz {

namespace fs = std::filesystem;

namespace {

constexpr const char* kStoreFolder = "tovan-zevediz";
constexpr const char* kStoreFile = "registry";

// Removes a temporary file unless it was renamed into place.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
    ~TemporaryFile() {
        if (!m_kept) {
            ::unlink(m_path.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::string& path() const { return m_path; }
    void keep() { m_kept = true; }

  private:
    std::string m_path;
    bool m_kept = false;
};

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        return found->pw_dir;
    }
    return {};
}

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
    // Non-blocking, so that a pipe put in the file's place cannot hang the program.
    const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        const bool absent = errno == ENOENT || errno == ENOTDIR;
        return {absent ? LoadStatus::Absent : LoadStatus::Unreadable, {}};
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return {LoadStatus::Unreadable, {}};
    }
    if (static_cast<std::uintmax_t>(status.st_size) > kMaxStoreFileSize) {
        throwDamaged(file, "line 1: the file is larger than " + std::to_string(kMaxStoreFileSize) +
                               " bytes");
    }
    // One byte more than its size, so that a file that grew meanwhile is noticed.
    std::string text(static_cast<std::size_t>(status.st_size) + 1, '\0');
    std::size_t length = 0;
    while (length < text.size()) {
        const ssize_t got = ::read(fd.get(), text.data() + length, text.size() - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return {LoadStatus::Unreadable, {}};
        }
        if (got == 0) {
            break;
        }
        length += static_cast<std::size_t>(got);
    }
    if (length == text.size()) {
        // Edited while being read: the content cannot be trusted.
        return {LoadStatus::Unreadable, {}};
    }
    text.resize(length);
    try {
        return {LoadStatus::Loaded, parseSettingsStore(text)};
    } catch (const Error& error) {
        throwDamaged(file, error.what());
    }
}

// Creates the missing folders of `folder` (mode 0700, as the XDG rules ask); false on failure.
bool ensureFolder(const fs::path& folder) {
    fs::path partial;
    for (const fs::path& component : folder) {
        partial /= component;
        if (::mkdir(partial.c_str(), 0700) == 0 || errno != EEXIST) {
            continue;
        }
        struct stat status {};
        if (::stat(partial.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
            return false;
        }
    }
    struct stat status {};
    return ::stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool writeAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t put = ::write(fd, text.data() + written, text.size() - written);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        written += static_cast<std::size_t>(put);
    }
    return true;
}

// Replaces the store file through a temporary file in the same folder, flushed to disk before
// it is renamed over the old one, so that a crash leaves either the old or the new file whole.
bool saveStore(const fs::path& file, const SettingsStore& store) {
    const std::string text = formatSettingsStore(store);
    if (text.size() > kMaxStoreFileSize || !ensureFolder(file.parent_path())) {
        return false;
    }
    std::string pattern = file.string() + ".XXXXXX";
    FileDescriptor fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!fd.valid()) {
        return false;
    }
    TemporaryFile temporary(pattern);
    if (!writeAll(fd.get(), text) || ::fsync(fd.get()) != 0 || !fd.close()) {
        return false;
    }
    if (::rename(temporary.path().c_str(), file.c_str()) != 0) {
        return false;
    }
    temporary.keep();
    // Makes the rename itself durable; the new content is in place either way.
    const FileDescriptor folder(
        ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) {
        ::fsync(folder.get());
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

}  // namespace

fs::path settingsStorePath() {
    fs::path base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && config[0] == '/') {
        base = config;
    } else if (const std::string home = homeFolder(); !home.empty()) {
        base = fs::path(home) / ".config";
    } else {
        throw Error("No folder for the settings store: neither XDG_CONFIG_HOME nor HOME is set");
    }
    return base / kStoreFolder / kStoreFile;
}

void writeRawValue(const std::string& key, const std::string& name, ValueType type,
                   std::vector<std::uint8_t> data) {
    if (!isValidKeyPath(key)) {
        throw Error(failedToCreateKey());
    }
    const fs::path file = settingsStorePath();
    LoadedStore loaded = loadStore(file);
    if (loaded.status == LoadStatus::Unreadable) {
        // Writing without the old content would lose it.
        throw Error(failedToCreateKey());
    }
    if (name.size() > kMaxValueNameLength) {
        throw Error("Failed to set data for " + quotedName(name));
    }
    const bool keyExisted = findKey(loaded.store, key) != nullptr;
    StoredKey& stored = createKey(loaded.store, key);
    if (StoredValue* value = findValue(stored, name)) {
        value->type = type;
        value->data = std::move(data);
    } else {
        stored.values.push_back(StoredValue{name, type, std::move(data)});
    }
    if (!saveStore(file, loaded.store)) {
        throw Error(keyExisted ? "Failed to set data for " + quotedName(name)
                               : failedToCreateKey());
    }
}

namespace {

// The store as a read of `name` sees it; a store that exists but cannot be read fails the read.
LoadedStore loadStoreForReading(const fs::path& file, const std::string& name) {
    LoadedStore loaded = loadStore(file);
    if (loaded.status == LoadStatus::Unreadable) {
        throw Error("Failed to get data for " + quotedName(name));
    }
    return loaded;
}

}  // namespace

std::optional<std::pair<ValueType, std::vector<std::uint8_t>>> readRawValue(
    const std::string& key, const std::string& name) {
    const fs::path file = settingsStorePath();
    LoadedStore loaded = loadStoreForReading(file, name);
    StoredKey* stored = findKey(loaded.store, key);
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
    std::vector<std::uint8_t> data(text.begin(), text.end());
    // The wrapper appends one NUL to the text and the store adds the terminating one.
    data.push_back(0);
    data.push_back(0);
    writeRawValue(key, name, ValueType::String, std::move(data));
}

std::string readSetting(const std::string& key, const std::string& name,
                          const std::string& defaultValue) {
    if (!isValidKeyPath(key)) {
        throw Error(failedToCreateKey());
    }
    const fs::path file = settingsStorePath();
    LoadedStore loaded = loadStoreForReading(file, name);
    StoredKey* stored = findKey(loaded.store, key);
    if (stored == nullptr) {
        // Opening the key creates it, as for a write. When that fails the value is absent all
        // the same, so the default is the right answer; the next write reports the failure.
        createKey(loaded.store, key);
        saveStore(file, loaded.store);
        return defaultValue;
    }
    const StoredValue* value = findValue(*stored, name);
    if (value == nullptr) {
        return defaultValue;
    }
    if (value->type != ValueType::String && value->type != ValueType::ExpandString) {
        throw Error("Invalid data type for " + quotedName(name));
    }
    const auto nul = std::find(value->data.begin(), value->data.end(), std::uint8_t{0});
    return std::string(value->data.begin(), nul);
}

}  // namespace tz
