// Reading whole files, replacing files through a temporary file and a rename, folders held
// open, and the user's folders.
#include "tz/file_io.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "file_io_internal.h"

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
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }

  private:
    int m_fd;
};

// The named temporary files of writes in flight, for a signal handler to remove: plain slots a
// handler may read, since it can reach nothing else. A slot is published before its name exists
// on disk and withdrawn once the name is gone, so a handler sees every such name.
struct InFlightName {
    std::atomic<int> folder{-1};  // the folder's descriptor; -1 while the slot is free
    char name[16] = {};
};
constexpr std::size_t kInFlightSlots = 512;  // more than the jobs a run can have
InFlightName g_inFlight[kInFlightSlots];
static_assert(std::atomic<int>::is_always_lock_free);

constexpr char kTemporaryPrefix[] = ".tz-";
constexpr std::size_t kTemporaryRandomLength = 6;

// Claims a slot for `name` in `folder`; the slot's index, or kInFlightSlots when all are taken
// (the name then goes unrecorded, as it would without the handler).
std::size_t recordInFlight(int folder, const std::string& name) {
    for (std::size_t i = 0; i < kInFlightSlots; ++i) {
        int free = -1;
        // Claimed with a folder of -2, so that a handler skips the slot while its name is copied.
        if (g_inFlight[i].folder.compare_exchange_strong(free, -2)) {
            std::strncpy(g_inFlight[i].name, name.c_str(), sizeof g_inFlight[i].name - 1);
            g_inFlight[i].folder.store(folder);
            return i;
        }
    }
    return kInFlightSlots;
}

void forgetInFlight(std::size_t slot) {
    if (slot < kInFlightSlots) {
        g_inFlight[slot].folder.store(-1);
    }
}

// A short name no other file of the folder is likely to have: the prefix and six random letters
// or digits, so the longest output name still leaves room for it.
std::string temporaryName() {
    static constexpr char kAlphabet[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 generator(std::random_device{}());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
    std::string name(kTemporaryPrefix);
    for (std::size_t i = 0; i < kTemporaryRandomLength; ++i) {
        name += kAlphabet[pick(generator)];
    }
    return name;
}

// Whether the system can name a nameless file: through /proc, where the kernel shows it.
bool canNameNamelessFiles() {
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

// A file made to be renamed over another in one folder; removed unless it was. Nameless while
// it is written where the file system allows, so that a killed process leaves nothing behind.
class TemporaryFile {
  public:
    TemporaryFile(int folder, mode_t mode, internal::TemporaryKind kind) : m_folder(folder) {
        if (kind == internal::TemporaryKind::NamelessWherePossible && canNameNamelessFiles()) {
            m_fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
            // File systems without nameless files say so in one of these ways.
            if (m_fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
                m_error = m_fd >= 0 ? 0 : errno;
                return;
            }
        }
        // A clash with another writer's name is retried; any other failure ends the attempts.
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string name = temporaryName();
            const std::size_t slot = recordInFlight(folder, name);
            m_fd = ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            m_error = m_fd >= 0 ? 0 : errno;
            if (m_fd >= 0) {
                m_name = name;
                m_slot = slot;
                return;
            }
            forgetInFlight(slot);
            if (m_error != EEXIST) {
                return;
            }
        }
    }
    ~TemporaryFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (!m_name.empty() && !m_renamed) {
            ::unlinkat(m_folder, m_name.c_str(), 0);
        }
        forgetInFlight(m_slot);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // 0 when the file was created, else why not (an errno value).
    int creationError() const { return m_error; }
    int fd() const { return m_fd; }

    // Gives the file the permission bits of `replaced`, and its owner and group as far as the
    // process may (each tried on its own, failures ignored).
    void takeOwnershipOf(const struct stat& replaced) const {
        if (::fchown(m_fd, replaced.st_uid, replaced.st_gid) != 0) {
            static_cast<void>(::fchown(m_fd, static_cast<uid_t>(-1), replaced.st_gid));
        }
        // After fchown, which may clear the set-ID bits.
        ::fchmod(m_fd, replaced.st_mode & 07777);
    }

    // Flushes the content to disk and closes the file: 0, or the first errno value on failure.
    int finish() {
        const int synced = ::fsync(m_fd) == 0 ? 0 : errno;
        if (synced == 0 && m_name.empty()) {
            // A nameless file gets its short name now, just before the rename.
            if (const int linked = giveName(); linked != 0) {
                ::close(std::exchange(m_fd, -1));
                return linked;
            }
        }
        const int closed = ::close(std::exchange(m_fd, -1)) == 0 ? 0 : errno;
        return synced != 0 ? synced : closed;
    }

    // Renames the file over `target` in the folder: 0, or the errno value on failure (the
    // temporary file is then removed).
    int renameTo(const std::string& target) {
        m_renamed = ::renameat(m_folder, m_name.c_str(), m_folder, target.c_str()) == 0;
        return m_renamed ? 0 : errno;
    }

  private:
    int giveName() {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string name = temporaryName();
            const std::size_t slot = recordInFlight(m_folder, name);
            if (::linkat(AT_FDCWD, self.c_str(), m_folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                m_name = name;
                m_slot = slot;
                return 0;
            }
            const int error = errno;
            forgetInFlight(slot);
            if (error != EEXIST) {
                return error;
            }
        }
        return EEXIST;
    }

    int m_folder;
    int m_fd = -1;
    int m_error = 0;
    std::string m_name;  // empty while the file is nameless
    std::size_t m_slot = kInFlightSlots;
    bool m_renamed = false;
};

// Opens a folder for calls relative to it: -1 with errno set on failure. A folder the process
// may enter but not list is opened all the same, for writing into.
int openFolderDescriptor(int at, const char* name, int flags) {
    const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | flags);
    if (fd >= 0 || errno != EACCES) {
        return fd;
    }
    return ::openat(at, name, O_PATH | O_DIRECTORY | O_CLOEXEC | flags);
}

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

FileVersion versionOf(const struct stat& status) {
    return {{status.st_dev, status.st_ino},
            status.st_size,
            status.st_mtim.tv_sec,
            status.st_mtim.tv_nsec};
}

// Opens a regular file for reading, its status into `status`. Pipes, devices and folders are
// refused rather than read, so a stray name can never block the program.
FileDescriptor openRegularFile(const fs::path& file, struct stat& status) {
    using Cause = FileReadError::Cause;
    // Non-blocking, so that opening a pipe cannot wait for a writer; regular files ignore it.
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        const int error = errno;
        throwReadError("Cannot open", file, std::strerror(error),
                       error == ENOENT || error == ENOTDIR ? Cause::Missing : Cause::Unreadable);
    }
    if (::fstat(fd.get(), &status) != 0) {
        throwReadError("Cannot read", file, std::strerror(errno), Cause::Unreadable);
    }
    if (!S_ISREG(status.st_mode)) {
        throwReadError("Cannot read", file, "not a regular file", Cause::NotRegular);
    }
    return fd;
}

// One attempt at reading the whole file.
ByteBuffer readOnce(const fs::path& file, std::size_t maxBytes,
                    const std::function<void()>& afterReading) {
    using Cause = FileReadError::Cause;
    struct stat status {};
    const FileDescriptor fd = openRegularFile(file, status);
    const auto size = static_cast<std::uintmax_t>(status.st_size);
    if (size > maxBytes) {
        throwReadError("Cannot read", file, "the file is too large", Cause::TooLarge);
    }
    ByteBuffer bytes;
    bytes.reserve(shortLivedCapacity(static_cast<std::size_t>(size)));
    bytes.resize(static_cast<std::size_t>(size));
    const ssize_t length = readFully(fd.get(), bytes.data(), bytes.size());
    if (length < 0) {
        throwReadError("Cannot read", file, std::strerror(errno), Cause::Unreadable);
    }
    // One byte more than its size tells a file that grew while it was read.
    std::uint8_t extra = 0;
    const ssize_t more = readFully(fd.get(), &extra, 1);
    if (more < 0) {
        throwReadError("Cannot read", file, std::strerror(errno), Cause::Unreadable);
    }
    if (afterReading) {
        afterReading();
    }
    // A file that shrank, grew, or was rewritten in place while it was read (a copy still being
    // made) holds content that cannot be trusted.
    struct stat after {};
    if (static_cast<std::size_t>(length) != bytes.size() || more != 0 ||
        ::fstat(fd.get(), &after) != 0 || versionOf(after) != versionOf(status)) {
        throwReadError("Cannot read", file, "the file changed while being read", Cause::Changed);
    }
    return bytes;
}

}  // namespace

namespace internal {

ByteBuffer readWholeFile(const fs::path& file, std::size_t maxBytes,
                         const std::function<void()>& afterReading) {
    // A change seen once is often the end of a copy: the second reading then finds it done.
    try {
        return readOnce(file, maxBytes, afterReading);
    } catch (const FileReadError& error) {
        if (error.cause() != FileReadError::Cause::Changed) {
            throw;
        }
    }
    return readOnce(file, maxBytes, afterReading);
}

void writeFileAtomically(const OpenFolder& folder, const std::string& name,
                         std::span<const std::uint8_t> bytes, mode_t mode, TemporaryKind kind,
                         const std::function<void()>& beforeRename, Durability durability) {
    const fs::path file = folder.path() / name;
    const int at = folder.descriptor();
    // What the file replaces, when it is a regular file, passes on its permissions.
    struct stat replaced {};
    const bool replacing = ::fstatat(at, name.c_str(), &replaced, AT_SYMLINK_NOFOLLOW) == 0 &&
                           S_ISREG(replaced.st_mode);
    TemporaryFile temporary(at, mode, kind);
    if (const int error = temporary.creationError(); error != 0) {
        throwWriteError(file, error);
    }
    writeAll(temporary.fd(), bytes, file);
    if (replacing) {
        temporary.takeOwnershipOf(replaced);
    }
    if (const int error = temporary.finish(); error != 0) {
        throwWriteError(file, error);
    }
    // A read-only file is refused as a direct write would be: the rename would replace it.
    if (::faccessat(at, name.c_str(), F_OK, 0) == 0 &&
        ::faccessat(at, name.c_str(), W_OK, 0) != 0) {
        throwWriteError(file, EACCES);
    }
    if (beforeRename) {
        beforeRename();
    }
    if (const int error = temporary.renameTo(name); error != 0) {
        throwWriteError(file, error);
    }
    if (durability == Durability::ContentAndName) {
        ::fsync(at);
    }
}

}  // namespace internal

ByteBuffer readWholeFile(const fs::path& file, std::size_t maxBytes) {
    return internal::readWholeFile(file, maxBytes, {});
}

OpenFile::OpenFile(const fs::path& file) : m_path(file) {
    struct stat status {};
    FileDescriptor fd = openRegularFile(file, status);
    m_size = static_cast<std::uint64_t>(status.st_size);
    m_fd = fd.release();
}

OpenFile::~OpenFile() {
    ::close(m_fd);
}

void OpenFile::readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::pread(m_fd, bytes.data() + done, bytes.size() - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throwReadError("Cannot read", m_path, std::strerror(errno),
                           FileReadError::Cause::Unreadable);
        }
        if (got == 0) {
            throwReadError("Cannot read", m_path, "the file changed while being read",
                           FileReadError::Cause::Changed);
        }
        done += static_cast<std::size_t>(got);
    }
}

void writeFileAtomically(const fs::path& file, std::span<const std::uint8_t> bytes, mode_t mode,
                         Durability durability) {
    const fs::path folder = file.parent_path();
    const int fd = openFolderDescriptor(AT_FDCWD, folder.empty() ? "." : folder.c_str(), 0);
    if (fd < 0) {
        throwWriteError(file, errno);
    }
    OpenFolder(fd, folder).writeFileAtomically(file.filename().string(), bytes, mode, durability);
}

OpenFolder::OpenFolder(int fd, std::filesystem::path path) : m_fd(fd), m_path(std::move(path)) {}

OpenFolder::OpenFolder(const fs::path& folder) : m_path(folder) {
    m_fd = openFolderDescriptor(AT_FDCWD, folder.empty() ? "." : folder.c_str(), 0);
    if (m_fd < 0) {
        const int error = errno;
        throw Error("Cannot write into " + folder.string() + ": " + std::strerror(error));
    }
}

OpenFolder::OpenFolder(const OpenFolder& parent, const std::string& name, mode_t mode)
    : m_path(parent.m_path / name) {
    // Never through a link: a folder of that name that is a link to elsewhere (a source folder,
    // its parent) must not receive the outputs.
    m_fd = openFolderDescriptor(parent.m_fd, name.c_str(), O_NOFOLLOW);
    if (m_fd < 0 && errno == ENOENT) {
        if (::mkdirat(parent.m_fd, name.c_str(), mode) != 0 && errno != EEXIST) {
            const int error = errno;
            throw Error("Cannot create folder " + m_path.string() + ": " + std::strerror(error));
        }
        m_fd = openFolderDescriptor(parent.m_fd, name.c_str(), O_NOFOLLOW);
    }
    if (m_fd < 0) {
        const int error = errno;
        // The system says ELOOP or ENOTDIR for a link, depending on its version.
        struct stat entry {};
        const bool found = ::fstatat(parent.m_fd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0;
        const std::string why = found && S_ISLNK(entry.st_mode)    ? "it is a symbolic link"
                                : found && !S_ISDIR(entry.st_mode) ? "it is not a folder"
                                                                   : std::strerror(error);
        throw Error("Cannot write into " + m_path.string() + ": " + why);
    }
}

OpenFolder::~OpenFolder() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

OpenFolder::OpenFolder(OpenFolder&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_path(std::move(other.m_path)) {}

OpenFolder& OpenFolder::operator=(OpenFolder&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        m_fd = std::exchange(other.m_fd, -1);
        m_path = std::move(other.m_path);
    }
    return *this;
}

std::optional<FileIdentity> OpenFolder::entryIdentity(const std::string& name) const {
    struct stat status {};
    if (::fstatat(m_fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return std::nullopt;
    }
    return FileIdentity{status.st_dev, status.st_ino};
}

void OpenFolder::writeFileAtomically(const std::string& name, std::span<const std::uint8_t> bytes,
                                     mode_t mode, Durability durability) const {
    internal::writeFileAtomically(*this, name, bytes, mode,
                                  internal::TemporaryKind::NamelessWherePossible, {}, durability);
}

void removeInFlightTemporaryFiles() noexcept {
    for (InFlightName& slot : g_inFlight) {
        const int folder = slot.folder.load();
        if (folder >= 0) {
            ::unlinkat(folder, slot.name, 0);
        }
    }
}

std::optional<FileIdentity> fileIdentity(const fs::path& path) {
    const std::optional<FileVersion> version = fileVersion(path);
    return version ? std::optional(version->identity) : std::nullopt;
}

std::optional<FileVersion> fileVersion(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return versionOf(status);
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
