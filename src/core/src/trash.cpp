// The freedesktop.org trash: choosing the trash for a file, reserving a name with the info file,
// and renaming the file into the trash.
#include "tz/trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "tz/errors.h"
#include "tz/file_io.h"

namespace tz {

namespace fs = std::filesystem;

namespace {

// More candidates than any trash holds of one name; the search for a free name ends there.
constexpr int kMaxNameAttempts = 100'000;

std::string reason(int error) {
    return std::strerror(error);
}

// The cause alone: whoever reports it names the file.
[[noreturn]] void fail(const std::string& why) {
    throw Error(why);
}

std::optional<struct stat> linkStatus(const fs::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return status;
}

std::optional<struct stat> followedStatus(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return status;
}

// The device of `path`, or of the nearest folder above it that exists.
std::optional<dev_t> deviceOfNearest(fs::path path) {
    for (int depth = 0; depth < 4096; ++depth) {
        if (const std::optional<struct stat> status = followedStatus(path)) {
            return status->st_dev;
        }
        if (!path.has_relative_path()) {
            return std::nullopt;
        }
        path = path.parent_path();
    }
    return std::nullopt;
}

// The top folder of the file system holding `folder` (an absolute path without links): the
// highest folder above it on the same device.
fs::path topFolderOf(const fs::path& folder, dev_t device) {
    fs::path top = folder;
    while (top.has_relative_path()) {
        const fs::path parent = top.parent_path();
        const std::optional<struct stat> status = followedStatus(parent);
        if (!status || status->st_dev != device) {
            break;
        }
        top = parent;
    }
    return top;
}

bool isOwnFolder(const fs::path& folder, uid_t uid) {
    const std::optional<struct stat> status = linkStatus(folder);
    return status && S_ISDIR(status->st_mode) && status->st_uid == uid;
}

bool makeOwnFolder(const fs::path& folder, uid_t uid) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    return isOwnFolder(folder, uid);
}

bool prepareTrash(const fs::path& trash, uid_t uid) {
    return makeOwnFolder(trash, uid) && makeOwnFolder(trash / "files", uid) &&
           makeOwnFolder(trash / "info", uid);
}

// A path as the info file holds it: bytes other than unreserved characters and "/" escaped as
// %XX, so any name, UTF-8 or not, is kept exactly.
std::string escapedPath(const std::string& path) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char character : path) {
        const auto byte = static_cast<unsigned char>(character);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' ||
                           byte == '.' || byte == '~' || byte == '/';
        if (plain) {
            escaped += character;
        } else {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0xF];
        }
    }
    return escaped;
}

std::string deletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// "name", then "name.2.ext", "name.3.ext", ... (the number before the extension, so the trash
// still shows the kind of file).
std::string candidateName(const fs::path& name, int attempt) {
    if (attempt == 1) {
        return name.native();
    }
    return name.stem().native() + "." + std::to_string(attempt) + name.extension().native();
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// Moves `file` into `trash`; `recordedPath` is the path the info file keeps.
fs::path moveInto(const fs::path& file, const fs::path& trash, const std::string& recordedPath) {
    const std::string info = "[Trash Info]\nPath=" + escapedPath(recordedPath) +
                             "\nDeletionDate=" + deletionDate() + "\n";
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const std::string name = candidateName(file.filename(), attempt);
        const fs::path infoFile = trash / "info" / (name + ".trashinfo");
        const fs::path target = trash / "files" / name;
        // Creating the info file exclusively reserves the name.
        const int fd = ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            fail("cannot write " + infoFile.string() + ": " + reason(errno));
        }
        const bool written = writeAll(fd, info);
        const int writeError = errno;
        if (::close(fd) != 0 || !written) {
            ::unlink(infoFile.c_str());
            fail("cannot write " + infoFile.string() + ": " + reason(writeError));
        }
        if (linkStatus(target)) {
            ::unlink(infoFile.c_str());  // a file left without its info: not to be replaced
            continue;
        }
        if (::rename(file.c_str(), target.c_str()) != 0) {
            const int renameError = errno;
            ::unlink(infoFile.c_str());
            fail(reason(renameError));
        }
        return target;
    }
    fail("no free name in " + trash.string());
}

}  // namespace

fs::path homeTrash() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
        return fs::path(data) / "Trash";
    }
    const fs::path home = homeFolder();
    if (home.empty()) {
        return {};
    }
    return home / ".local" / "share" / "Trash";
}

fs::path topFolderTrash(const fs::path& topFolder, uid_t uid) {
    const std::string user = std::to_string(uid);
    const fs::path shared = topFolder / ".Trash";
    if (const std::optional<struct stat> status = linkStatus(shared);
        status && S_ISDIR(status->st_mode) && (status->st_mode & S_ISVTX) != 0) {
        if (prepareTrash(shared / user, uid)) {
            return shared / user;
        }
    }
    const fs::path own = topFolder / (".Trash-" + user);
    if (prepareTrash(own, uid)) {
        return own;
    }
    throw Error("No usable trash folder on the file system of " + topFolder.string());
}

fs::path trashFile(const fs::path& file) {
    std::error_code error;
    const fs::path absolute = fs::absolute(file, error);
    if (error) {
        fail(error.message());
    }
    const std::optional<struct stat> status = linkStatus(absolute);
    if (!status) {
        fail(reason(errno));
    }
    if (S_ISDIR(status->st_mode)) {
        fail("it is a folder");
    }
    // The folder's real path: the top folder is found by walking up real folders.
    const fs::path folder = fs::canonical(absolute.parent_path(), error);
    if (error) {
        fail(error.message());
    }
    const fs::path source = folder / absolute.filename();
    const uid_t uid = ::getuid();

    const fs::path home = homeTrash();
    const std::optional<dev_t> homeDevice = home.empty() ? std::nullopt : deviceOfNearest(home);
    if (homeDevice && *homeDevice == status->st_dev) {
        // The home trash and the folders above it are created as needed, private to the user.
        if (!createFolders(home / "files", 0700) || !createFolders(home / "info", 0700)) {
            fail("cannot create the trash folder " + home.string());
        }
        return moveInto(source, home, source.native());
    }
    const fs::path top = topFolderOf(folder, status->st_dev);
    fs::path trash;
    try {
        trash = topFolderTrash(top, uid);
    } catch (const Error& noTrash) {
        fail(noTrash.what());
    }
    // Paths in a file system's own trash are relative to its top folder.
    return moveInto(source, trash, source.lexically_relative(top).native());
}

}  // namespace tz
