// Helpers shared by the tests: temporary folders, current-folder and environment guards, file
// bytes. Pictures are built by picture_builders.h, the shared corpus is read by corpus.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tz::test {

// A fresh folder under the system's temporary folder, removed with its content at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

  private:
    std::filesystem::path m_path;
};

// Makes a folder the process's current folder for the guard's lifetime.
class CurrentDirGuard {
  public:
    explicit CurrentDirGuard(const std::filesystem::path& folder);
    ~CurrentDirGuard();
    CurrentDirGuard(const CurrentDirGuard&) = delete;
    CurrentDirGuard& operator=(const CurrentDirGuard&) = delete;

  private:
    std::filesystem::path m_previous;
};

// Sets (or, with no value, removes) an environment variable for the guard's lifetime.
class ScopedEnvironment {
  public:
    ScopedEnvironment(const char* name, const std::optional<std::string>& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  private:
    const char* m_name;
    std::optional<std::string> m_previous;
};

std::vector<std::uint8_t> readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

}  // namespace tz::test
