// Reading whole files and replacing files through a temporary file and a rename.
#include "tz/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>

#include "file_descriptor.h"
#include "tz/errors.h"

namespace tz {

namespace fs = std::filesystem;

namespace {

// Removes a temporary file unless it was renamed into place.
class TemporaryFile {
  public:
    explicit TemporaryFile(fs::path path) : m_path(std::move(path)) {}
    ~TemporaryFile() {
        if (!m_committed) {
            std::error_code ignored;
            fs::remove(m_path, ignored);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const fs::path& path() const { return m_path; }
    void commit() { m_committed = true; }

  private:
    fs::path m_path;
    bool m_committed = false;
};

[[noreturn]] void throwFileError(const char* what, const fs::path& file, int error) {
    throw Error(std::string(what) + " " + file.string() + ": " + std::strerror(error));
}

std::string temporaryName(const fs::path& file) {
    std::random_device device;
    std::string name(".");
    name.append(file.filename().string())
        .append(".tmp-")
        .append(std::to_string(device() % 1000000000u));
    return name;
}

void writeAll(int fd, std::span<const std::uint8_t> bytes, const fs::path& file) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t result = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwFileError("Cannot write", file, errno);
        }
        written += static_cast<std::size_t>(result);
    }
}

}  // namespace

ByteBuffer readWholeFile(const fs::path& file, std::size_t maxBytes) {
    // Non-blocking, so that opening a pipe cannot wait for a writer; regular files ignore it.
    const FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        throwFileError("Cannot open", file, errno);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        throwFileError("Cannot read", file, errno);
    }
    if (!S_ISREG(status.st_mode)) {
        throw Error("Cannot read " + file.string() + ": not a regular file");
    }
    const auto size = static_cast<std::uintmax_t>(status.st_size);
    if (size > maxBytes) {
        throw Error("Cannot read " + file.string() + ": the file is too large");
    }
    ByteBuffer bytes;
    bytes.reserve(shortLivedCapacity(static_cast<std::size_t>(size)));
    bytes.resize(static_cast<std::size_t>(size));
    std::size_t length = 0;
    // The size was read before; a file that shrinks meanwhile ends the loop at its new end.
    while (length < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + length, bytes.size() - length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throwFileError("Cannot read", file, errno);
        }
        if (got == 0) {
            break;
        }
        length += static_cast<std::size_t>(got);
    }
    bytes.resize(length);
    return bytes;
}

void writeFileAtomically(const fs::path& file, std::span<const std::uint8_t> bytes) {
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    TemporaryFile temporary(folder / temporaryName(file));
    FileDescriptor fd(
        ::open(temporary.path().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.valid()) {
        throwFileError("Cannot write", file, errno);
    }
    writeAll(fd.get(), bytes, file);
    if (::fsync(fd.get()) != 0 || !fd.close()) {
        throwFileError("Cannot write", file, errno);
    }
    // A read-only output is refused as a direct write would be: the rename would replace it.
    if (::access(file.c_str(), F_OK) == 0 && ::access(file.c_str(), W_OK) != 0) {
        throwFileError("Cannot write", file, EACCES);
    }
    if (::rename(temporary.path().c_str(), file.c_str()) != 0) {
        throwFileError("Cannot write", file, errno);
    }
    temporary.commit();
}

}  // namespace tz
