// Helpers shared by the tests.
#include "support/support.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace tz::test {

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::random_device device;
    std::mt19937_64 generator(device());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate =
            fs::temp_directory_path() / ("tz-test-" + std::to_string(generator() % 1000000000ULL));
        if (fs::create_directory(candidate)) {
            m_path = fs::canonical(candidate);
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_path, ignored);
}

CurrentDirGuard::CurrentDirGuard(const fs::path& folder) : m_previous(fs::current_path()) {
    fs::current_path(folder);
}

CurrentDirGuard::~CurrentDirGuard() {
    std::error_code ignored;
    fs::current_path(m_previous, ignored);
}

ScopedEnvironment::ScopedEnvironment(const char* name, const std::optional<std::string>& value)
    : m_name(name) {
    if (const char* previous = std::getenv(name)) {
        m_previous = previous;
    }
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_previous) {
        ::setenv(m_name, m_previous->c_str(), 1);
    } else {
        ::unsetenv(m_name);
    }
}

std::vector<std::uint8_t> readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + file.string());
    }
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

}  // namespace tz::test
