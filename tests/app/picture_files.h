// The shared file and picture builders (tests/support) for the Qt tests, which name files with
// QString.
#pragma once

#include <QString>
#include <filesystem>

#include "support/picture_builders.h"
#include "support/support.h"

namespace tz::test {

inline std::filesystem::path toPath(const QString& file) {
    return std::filesystem::path(file.toStdString());
}

inline void writeFile(const QString& file, const Bytes& bytes) {
    writeFile(toPath(file), bytes);
}

inline void writePicture(const QString& file, int width, int height) {
    writePicture(toPath(file), width, height);
}

}  // namespace tz::test
