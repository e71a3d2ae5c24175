// The file-system layer every part of the core goes through: reading a whole file with a size
// cap, replacing a file atomically, creating folders, and finding the user's folders.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <limits>
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
        Changed,     // the file grew while it was read
        Unreadable,  // any other failure to open or read
    };
    FileReadError(const std::string& message, Cause cause) : Error(message), m_cause(cause) {}
    Cause cause() const { return m_cause; }

  private:
    Cause m_cause;
};

// Reads a whole regular file. Pipes, devices and folders are refused rather than read, so a
// stray name can never block the program. Throws FileReadError naming the file, also when it is
// larger than `maxBytes` or grows while it is read.
ByteBuffer readWholeFile(const std::filesystem::path& file,
                         std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

// What a finished write survives. The content is always on disk before the rename, so a crash
// leaves the old file or the new one whole; the name too costs a flush of the folder, which
// only files that must not go back to their old content after a crash are worth.
enum class Durability { Content, ContentAndName };

// Writes `bytes` to `file` through a temporary file in the same folder, flushed to disk and
// renamed over it, so a failed or interrupted write never leaves a damaged file. A new file gets
// `mode` less the umask. A read-only file is not replaced. Throws tz::Error "Cannot write FILE:
// REASON".
void writeFileAtomically(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                         mode_t mode = 0666, Durability durability = Durability::Content);

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
