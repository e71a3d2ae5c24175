// The file-system layer every part of the core goes through: reading a whole file with a size
// cap, replacing a file atomically, creating folders, and finding the user's folders.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <limits>
#include <optional>
#include <span>
#include <string>

#include "tz/byte_buffer.h"
#include "tz/errors.h"

namespace tz {

// A failure to read a file; the message names the file and the cause.
class FileReadError : public Error {
  public:
    enum class Cause {
        Missing,     // no such file, or a folder on the way is not one
        NotRegular,  // a folder, pipe or device
        TooLarge,    // larger than the cap the caller set
        Changed,     // the file's size or modification time changed while it was read, twice
        Unreadable,  // any other failure to open or read
    };
    FileReadError(const std::string& message, Cause cause) : Error(message), m_cause(cause) {}
    Cause cause() const { return m_cause; }

  private:
    Cause m_cause;
};

// Reads a whole regular file. Pipes, devices and folders are refused rather than read, so a
// stray name can never block the program. A file whose size or modification time changes while
// it is read (a copy still being made) is read once more; changing again, it fails with "the
// file changed while being read". Throws FileReadError naming the file, also when it is larger
// than `maxBytes`.
ByteBuffer readWholeFile(const std::filesystem::path& file,
                         std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// A regular file held open for reading parts of it, from several threads at once. Opening
// refuses what readWholeFile refuses; a part the file no longer holds (it shrank) fails with
// "the file changed while being read". Throws FileReadError naming the file.
class OpenFile {
  public:
    explicit OpenFile(const std::filesystem::path& file);
    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    // The size when opened.
    std::uint64_t size() const { return m_size; }
    // Fills `bytes` from `offset` on.
    void readAt(std::uint64_t offset, std::span<std::uint8_t> bytes) const;

  private:
    std::filesystem::path m_path;
    int m_fd = -1;
    std::uint64_t m_size = 0;
};

// What a finished write survives. The content is always on disk before the rename, so a crash
// leaves the old file or the new one whole; the name too costs a flush of the folder, which
// only files that must not go back to their old content after a crash are worth.
enum class Durability { Content, ContentAndName };

// Writes `bytes` to `file` through a temporary file in the same folder, flushed to disk and
// renamed over it, so a failed or interrupted write never leaves a damaged file: see
// OpenFolder::writeFileAtomically. Throws tz::Error "Cannot write FILE: REASON".
void writeFileAtomically(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                         mode_t mode = 0666, Durability durability = Durability::Content);

// A file as the system tells files apart: two names of one file have the same identity.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file `path` names, following symbolic links; nothing when there is none.
std::optional<FileIdentity> fileIdentity(const std::filesystem::path& path);

// A file's identity with its size and modification time: as far as the system tells, a file
// whose version is unchanged has not been written meanwhile.
struct FileVersion {
    FileIdentity identity;
    std::int64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

// The version of the file `path` names, following symbolic links; nothing when there is none.
std::optional<FileVersion> fileVersion(const std::filesystem::path& path);

// A folder held open: files written through it land in this folder even when a folder on its
// path is renamed or replaced by a link meanwhile.
class OpenFolder {
  public:
    // Opens `folder` (the current folder when empty), following symbolic links as for any folder
    // a user names. Throws tz::Error "Cannot write into FOLDER: REASON".
    explicit OpenFolder(const std::filesystem::path& folder);
    // Opens the folder `name` (one path component) inside `parent` without following a symbolic
    // link, creating it with `mode` less the umask when it is missing. Throws tz::Error "Cannot
    // create folder PATH: REASON", or "Cannot write into PATH: it is a symbolic link", "...: it
    // is not a folder", "...: REASON".
    OpenFolder(const OpenFolder& parent, const std::string& name, mode_t mode);
    ~OpenFolder();
    OpenFolder(OpenFolder&& other) noexcept;
    OpenFolder& operator=(OpenFolder&& other) noexcept;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // The open folder, for calls relative to it (openat and the like).
    int descriptor() const { return m_fd; }

    // The identity of the entry `name` itself (a symbolic link is not followed); nothing when
    // the folder has no such entry.
    std::optional<FileIdentity> entryIdentity(const std::string& name) const;

    // Writes `bytes` as the file `name` (one path component) of this folder: into a nameless
    // temporary file where the file system has them (else one named ".tz-" and six characters),
    // flushed to disk, named and renamed over the file, so a failed or interrupted write never
    // leaves a damaged file and a name as long as the system allows can be written. A new file
    // gets `mode` less the umask; a replaced one passes on its permission bits, and its owner
    // and group where the process may set them. A read-only file is not replaced. Throws
    // tz::Error "Cannot write PATH: REASON".
    void writeFileAtomically(const std::string& name, std::span<const std::uint8_t> bytes,
                             mode_t mode = 0666, Durability durability = Durability::Content) const;

  private:
    friend void writeFileAtomically(const std::filesystem::path&, std::span<const std::uint8_t>,
                                    mode_t, Durability);
    OpenFolder(int fd, std::filesystem::path path);  // takes over `fd`

    int m_fd = -1;
    std::filesystem::path m_path;
};

// Removes the named temporary files that writes of this process have in flight, for a handler of
// a signal that ends the process: async-signal-safe. Nameless temporary files need nothing:
// the system drops them with the process.
void removeInFlightTemporaryFiles() noexcept;

// Creates `folder` and the missing folders above it with `mode`; false when that fails or a
// component is not a folder.
bool createFolders(const std::filesystem::path& folder, mode_t mode);

// The user's home folder: $HOME when it is absolute, else the password database's entry; empty
// when neither gives one.
std::filesystem::path homeFolder();

// The user's configuration folder: $XDG_CONFIG_HOME when it is absolute, else the home folder's
// ".config"; empty when there is no home folder either.
std::filesystem::path configFolder();

}  // namespace tz
