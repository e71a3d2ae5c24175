// Reading whole files, replacing files through a temporary file and a rename, and the user's
// folders.
#include "tz/file_io.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace tz {

namespace fs = std::filesystem;

namespace {

// An owned POSIX file descriptor, closed when it goes out of scope.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    // Closes now and reports whether the close succeeded (a late write error shows up here).
    bool close() { return ::close(std::exchange(m_fd, -1)) == 0; }

  private:
    int m_fd;
};

// A file made to be renamed into place; removed unless it was.
class TemporaryFile {
  public:
    // Creates a new file beside `file` under a hidden name no other file has.
    TemporaryFile(const fs::path& file, mode_t mode) {
        const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
        std::random_device random;
        // A clash with another writer's name is retried; any other failure ends the attempts.
        for (int attempt = 0; attempt < 16; ++attempt) {
            // Appended piece by piece: g++ 12 misreads a chain of + here (-Wrestrict).
            std::string name(".");
            name.append(file.filename().string())
                .append(".tmp-")
                .append(std::to_string(random() % 1000000000u));
            m_path = folder / name;
            m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            m_created = m_fd >= 0;
            m_error = m_created ? 0 : errno;
            if (m_error != EEXIST) {
                break;
            }
        }
    }
    ~TemporaryFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (m_created && !m_renamed) {
            ::unlink(m_path.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // 0 when the file was created, else why not (an errno value).
    int creationError() const { return m_error; }
    int fd() const { return m_fd; }
    // Flushes the content to disk and closes the file: 0, or the first errno value on failure.
    int finish() {
        const int synced = ::fsync(m_fd) == 0 ? 0 : errno;
        const int closed = ::close(std::exchange(m_fd, -1)) == 0 ? 0 : errno;
        return synced != 0 ? synced : closed;
    }
    // Renames the file over `target`: 0, or the errno value on failure (the temporary file is
    // then removed).
    int renameTo(const fs::path& target) {
        m_renamed = ::rename(m_path.c_str(), target.c_str()) == 0;
        return m_renamed ? 0 : errno;
    }

  private:
    fs::path m_path;
    int m_fd = -1;
    int m_error = 0;
    bool m_created = false;
    bool m_renamed = false;
};

[[noreturn]] void throwReadError(const char* what, const fs::path& file, const std::string& why,
                                 FileReadError::Cause cause) {
    throw FileReadError(std::string(what) + " " + file.string() + ": " + why, cause);
}

[[noreturn]] void throwWriteError(const fs::path& file, int error) {
    throw Error("Cannot write " + file.string() + ": " + std::strerror(error));
}

void writeAll(int fd, std::span<const std::uint8_t> bytes, const fs::path& file) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t result = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwWriteError(file, errno);
        }
        written += static_cast<std::size_t>(result);
    }
}

// Makes a rename in `folder` durable; the new content is in place either way.
void syncFolder(const fs::path& folder) {
    const FileDescriptor fd(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) {
        ::fsync(fd.get());
    }
}

// Reads until `buffer` is full or the file ends; the count read, or -1 with errno set.
ssize_t readFully(int fd, std::uint8_t* buffer, std::size_t size) {
    std::size_t length = 0;
    while (length < size) {
        const ssize_t got = ::read(fd, buffer + length, size - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        length += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(length);
}

}  // namespace

ByteBuffer readWholeFile(const fs::path& file, std::size_t maxBytes) {
    using Cause = FileReadError::Cause;
    // Non-blocking, so that opening a pipe cannot wait for a writer; regular files ignore it.
    const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        const int error = errno;
        throwReadError("Cannot open", file, std::strerror(error),
                       error == ENOENT || error == ENOTDIR ? Cause::Missing : Cause::Unreadable);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        throwReadError("Cannot read", file, std::strerror(errno), Cause::Unreadable);
    }
    if (!S_ISREG(status.st_mode)) {
        throwReadError("Cannot read", file, "not a regular file", Cause::NotRegular);
    }
    const auto size = static_cast<std::uintmax_t>(status.st_size);
    if (size > maxBytes) {
        throwReadError("Cannot read", file, "the file is too large", Cause::TooLarge);
    }
    ByteBuffer bytes;
    bytes.reserve(shortLivedCapacity(static_cast<std::size_t>(size)));
    bytes.resize(static_cast<std::size_t>(size));
    // A file that shrinks meanwhile ends at its new end.
    const ssize_t length = readFully(fd.get(), bytes.data(), bytes.size());
    if (length < 0) {
        throwReadError("Cannot read", file, std::strerror(errno), Cause::Unreadable);
    }
    bytes.resize(static_cast<std::size_t>(length));
    // One byte more than its size tells a file that grew while it was read: its content
    // cannot be trusted.
    std::uint8_t extra = 0;
    const ssize_t more = readFully(fd.get(), &extra, 1);
    if (more != 0) {
        throwReadError("Cannot read", file,
                       more < 0 ? std::strerror(errno) : "the file changed while being read",
                       more < 0 ? Cause::Unreadable : Cause::Changed);
    }
    return bytes;
}

void writeFileAtomically(const fs::path& file, std::span<const std::uint8_t> bytes, mode_t mode,
                         Durability durability) {
    TemporaryFile temporary(file, mode);
    if (const int error = temporary.creationError(); error != 0) {
        throwWriteError(file, error);
    }
    writeAll(temporary.fd(), bytes, file);
    if (const int error = temporary.finish(); error != 0) {
        throwWriteError(file, error);
    }
    // A read-only file is refused as a direct write would be: the rename would replace it.
    if (::access(file.c_str(), F_OK) == 0 && ::access(file.c_str(), W_OK) != 0) {
        throwWriteError(file, EACCES);
    }
    if (const int error = temporary.renameTo(file); error != 0) {
        throwWriteError(file, error);
    }
    if (durability == Durability::ContentAndName) {
        syncFolder(file.parent_path());
    }
}

bool createFolders(const fs::path& folder, mode_t mode) {
    fs::path partial;
    for (const fs::path& component : folder) {
        partial /= component;
        if (::mkdir(partial.c_str(), mode) == 0 || errno != EEXIST) {
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

fs::path homeFolder() {
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

fs::path configFolder() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME");
        config != nullptr && config[0] == '/') {
        return config;
    }
    const fs::path home = homeFolder();
    return home.empty() ? fs::path() : home / ".config";
}

}  // namespace tz
