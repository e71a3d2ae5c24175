// The recent-folder list in the settings store, and the special folders from the XDG user-dirs
// file.
#include "tz/recent.h"

#include <cstdlib>
#include <optional>
#include <string_view>

#include "tz/file_io.h"
#include "tz/settings.h"

namespace tz {

namespace {

constexpr std::size_t kRecentCount = 5;

// More than any real user-dirs file holds; a larger file names nothing.
constexpr std::size_t kMaxUserDirsSize = 64 * 1024;

std::string recentName(std::size_t number) {
    return "Recent" + std::to_string(number);
}

// The user-dirs file, or "" when it cannot be read.
std::string userDirsText() {
    const std::filesystem::path config = configFolder();
    if (config.empty()) {
        return {};
    }
    try {
        const ByteBuffer bytes = readWholeFile(config / "user-dirs.dirs", kMaxUserDirsSize);
        return std::string(bytes.begin(), bytes.end());
    } catch (const Error&) {
        return {};
    }
}

void skipBlanks(std::string_view& rest) {
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) {
        rest.remove_prefix(1);
    }
}

bool consume(std::string_view& rest, std::string_view expected) {
    if (!rest.starts_with(expected)) {
        return false;
    }
    rest.remove_prefix(expected.size());
    return true;
}

// One line of the form XDG_NAME_DIR="$HOME/Path" or XDG_NAME_DIR="/Path", read as the
// xdg-user-dirs tools read it: blanks around "=", a backslash takes the next character
// literally, and a value must be absolute or start with "$HOME".
std::optional<std::string> parseUserDirLine(std::string_view line, std::string_view variable,
                                            const std::string& home) {
    skipBlanks(line);
    if (!consume(line, variable)) {
        return std::nullopt;
    }
    skipBlanks(line);
    if (!consume(line, "=")) {
        return std::nullopt;
    }
    skipBlanks(line);
    if (!consume(line, "\"")) {
        return std::nullopt;
    }
    std::string path;
    if (consume(line, "$HOME")) {
        if (home.empty() || (!line.starts_with('/') && !line.starts_with('"'))) {
            return std::nullopt;
        }
        path = home;
    } else if (!line.starts_with('/')) {
        return std::nullopt;
    }
    while (!line.empty() && line.front() != '"') {
        if (line.front() == '\\' && line.size() > 1) {
            line.remove_prefix(1);
        }
        path += line.front();
        line.remove_prefix(1);
    }
    return path;
}

// The folder's name under the home folder when the user-dirs file names none, as the
// xdg-user-dirs defaults have it.
const char* defaultUserDir(SpecialFolder folder) {
    switch (folder) {
        case SpecialFolder::Pictures:
            return "Pictures";
        case SpecialFolder::Documents:
            return "Documents";
        case SpecialFolder::Desktop:
            return "Desktop";
        case SpecialFolder::Recent:
            break;
    }
    return nullptr;
}

const char* userDirVariable(SpecialFolder folder) {
    switch (folder) {
        case SpecialFolder::Pictures:
            return "XDG_PICTURES_DIR";
        case SpecialFolder::Documents:
            return "XDG_DOCUMENTS_DIR";
        case SpecialFolder::Desktop:
            return "XDG_DESKTOP_DIR";
        case SpecialFolder::Recent:
            break;
    }
    return nullptr;
}

}  // namespace

std::array<std::string, 5> loadRecentFolders() {
    SettingsEdit store;
    std::array<std::string, kRecentCount> folders;
    for (std::size_t n = 1; n <= kRecentCount; ++n) {
        folders[n - 1] = store.readString(kProgramKey, recentName(n), kDefaultFolder);
    }
    store.commit();
    return folders;
}

bool addFolderToRecent(const std::string& folder, const std::array<std::string, 5>& captions) {
    // Exact comparison, letter case included, against the captions and not the store: a folder
    // already listed is not moved to the top.
    for (const std::string& caption : captions) {
        if (caption == folder) {
            return false;
        }
    }
    // One load and one save: the entries move down as stored, oldest first.
    SettingsEdit store;
    for (std::size_t n = kRecentCount - 1; n >= 1; --n) {
        store.writeString(kProgramKey, recentName(n + 1),
                          store.readString(kProgramKey, recentName(n), kDefaultFolder));
    }
    store.writeString(kProgramKey, recentName(1), folder);
    store.commit();
    return true;
}

std::string specialFolderPath(SpecialFolder folder) {
    const char* variable = userDirVariable(folder);
    if (variable == nullptr) {
        return {};
    }
    const std::string text = userDirsText();
    // The file is a shell fragment: its "$HOME" is the variable, not the password database's.
    const char* variableHome = std::getenv("HOME");
    const std::string home =
        variableHome != nullptr && variableHome[0] == '/' ? variableHome : std::string();
    std::string found;
    std::size_t start = 0;
    // Each pass consumes one line; a later line overrides an earlier one.
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (std::optional<std::string> path = parseUserDirLine(line, variable, home)) {
            found = std::move(*path);
        }
    }
    if (found.empty() && !home.empty()) {
        found = home + "/" + defaultUserDir(folder);
    }
    return found;
}

}  // namespace tz
