// The file-system layer's steps that tests reach one by one: the changed-file check of whole-file
// reads and the temporary files of atomic writes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>

#include "tz/byte_buffer.h"
#include "tz/file_io.h"

namespace tz::internal {

// readWholeFile, calling `afterReading` each time the content has been read, before the file is
// examined for changes.
ByteBuffer readWholeFile(const std::filesystem::path& file, std::size_t maxBytes,
                         const std::function<void()>& afterReading);

enum class TemporaryKind {
    NamelessWherePossible,  // what writes use: O_TMPFILE, named only just before the rename
    Named,                  // the fallback for file systems without nameless files
};

// OpenFolder::writeFileAtomically with the kind of temporary file given, calling `beforeRename`
// once the temporary file has its name, just before it is renamed over the file.
void writeFileAtomically(const OpenFolder& folder, const std::string& name,
                         std::span<const std::uint8_t> bytes, mode_t mode, TemporaryKind kind,
                         const std::function<void()>& beforeRename,
                         Durability durability = Durability::Content);

}  // namespace tz::internal
