// The text form of the settings store: writing it and parsing it strictly.
#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_set>

#include "tz/errors.h"
#include "tz/settings.h"

namespace tz {

namespace {

constexpr std::string_view kHeader = "Tovan Zevediz settings store, version 1";

struct TypeName {
    ValueType type;
    std::string_view name;
};

constexpr std::array<TypeName, 7> kTypeNames = {{
    {ValueType::None, "none"},
    {ValueType::String, "sz"},
    {ValueType::ExpandString, "expand_sz"},
    {ValueType::Binary, "binary"},
    {ValueType::DWord, "dword"},
    {ValueType::MultiString, "multi_sz"},
    {ValueType::QWord, "qword"},
}};

constexpr std::string_view kNumberedType = "type";

bool isPrintable(unsigned char c) {
    return c >= 0x20 && c <= 0x7E;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string folded(std::string_view name) {
    std::string result(name);
    for (char& c : result) {
        c = asciiLower(c);
    }
    return result;
}

std::string typeText(ValueType type) {
    for (const TypeName& entry : kTypeNames) {
        if (entry.type == type) {
            return std::string(entry.name);
        }
    }
    return std::string(kNumberedType) + std::to_string(static_cast<std::uint32_t>(type));
}

template <typename Bytes>
void appendQuoted(std::string& out, const Bytes& bytes) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    out += '"';
    for (const auto byte : bytes) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (isPrintable(c)) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    out += '"';
}

[[noreturn]] void fail(std::size_t lineNumber, const std::string& what) {
    throw Error("line " + std::to_string(lineNumber) + ": " + what);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads one line's fields from left to right; every read checks the bounds of the line.
class LineReader {
  public:
    LineReader(std::string_view line, std::size_t number) : m_line(line), m_number(number) {}

    bool atEnd() const { return m_position >= m_line.size(); }
    std::size_t number() const { return m_number; }

    void expect(char c, const char* what) {
        if (atEnd() || m_line[m_position] != c) {
            fail(m_number, std::string("expected ") + what);
        }
        ++m_position;
    }

    // A quoted byte string, at most `limit` bytes once unescaped.
    std::string quoted(std::size_t limit, const char* what) {
        expect('"', (std::string("'\"' opening the ") + what).c_str());
        std::string bytes;
        while (true) {
            if (atEnd()) {
                fail(m_number, std::string("unterminated ") + what);
            }
            const char c = m_line[m_position++];
            if (c == '"') {
                return bytes;
            }
            if (!isPrintable(static_cast<unsigned char>(c))) {
                fail(m_number, std::string("unescaped control or non-ASCII byte in ") + what);
            }
            if (bytes.size() >= limit) {
                fail(m_number, std::string(what) + " too long");
            }
            bytes += c == '\\' ? escaped(what) : c;
        }
    }

    // The type word before the ':'.
    ValueType type() {
        const std::size_t colon = m_line.find(':', m_position);
        if (colon == std::string_view::npos) {
            fail(m_number, "expected ':' after the value type");
        }
        const std::string_view word = m_line.substr(m_position, colon - m_position);
        m_position = colon + 1;
        for (const TypeName& entry : kTypeNames) {
            if (word == entry.name) {
                return entry.type;
            }
        }
        if (word.starts_with(kNumberedType)) {
            const std::string_view digits = word.substr(kNumberedType.size());
            std::uint32_t number = 0;
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), number);
            const bool canonical = !digits.empty() && (digits.size() == 1 || digits[0] != '0');
            if (error == std::errc() && end == digits.data() + digits.size() && canonical) {
                return static_cast<ValueType>(number);
            }
        }
        fail(m_number, "unknown value type '" + std::string(word) + "'");
    }

  private:
    char escaped(const char* what) {
        if (atEnd()) {
            fail(m_number, std::string("unterminated ") + what);
        }
        const char c = m_line[m_position++];
        if (c == '\\' || c == '"') {
            return c;
        }
        if (c != 'x' || m_line.size() - m_position < 2) {
            fail(m_number, std::string("bad escape in ") + what);
        }
        const int high = hexDigit(m_line[m_position]);
        const int low = hexDigit(m_line[m_position + 1]);
        if (high < 0 || low < 0) {
            fail(m_number, std::string("bad escape in ") + what);
        }
        m_position += 2;
        return static_cast<char>(high * 16 + low);
    }

    std::string_view m_line;
    std::size_t m_number;
    std::size_t m_position = 0;
};

StoredKey parseKeyLine(std::string_view line, std::size_t number) {
    if (line.size() < 2 || line.back() != ']') {
        fail(number, "a key line must end with ']'");
    }
    const std::string_view path = line.substr(1, line.size() - 2);
    if (!isValidKeyPath(path)) {
        fail(number, "invalid key path");
    }
    return StoredKey{std::string(path), {}};
}

StoredValue parseValueLine(std::string_view line, std::size_t number) {
    LineReader reader(line, number);
    StoredValue value;
    value.name = reader.quoted(kMaxValueNameLength, "value name");
    reader.expect('=', "'=' after the value name");
    value.type = reader.type();
    const std::string data = reader.quoted(kMaxStoreFileSize, "value data");
    value.data.assign(data.begin(), data.end());
    if (!reader.atEnd()) {
        fail(number, "unexpected text after the value data");
    }
    return value;
}

}  // namespace

bool sameStoreName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

bool isValidKeyPath(std::string_view path) {
    if (path.empty() || path.size() > kMaxKeyPathLength) {
        return false;
    }
    bool componentEmpty = true;
    for (const char c : path) {
        if (c == '\\') {
            if (componentEmpty) {
                return false;
            }
            componentEmpty = true;
            continue;
        }
        if (!isPrintable(static_cast<unsigned char>(c)) || c == '[' || c == ']') {
            return false;
        }
        componentEmpty = false;
    }
    return !componentEmpty;
}

std::string formatSettingsStore(const SettingsStore& store) {
    std::string out(kHeader);
    out += '\n';
    for (const StoredKey& key : store.keys) {
        out += '[';
        out += key.path;
        out += "]\n";
        for (const StoredValue& value : key.values) {
            appendQuoted(out, value.name);
            out += '=';
            out += typeText(value.type);
            out += ':';
            appendQuoted(out, value.data);
            out += '\n';
        }
    }
    return out;
}

SettingsStore parseSettingsStore(std::string_view text) {
    if (text.size() > kMaxStoreFileSize) {
        fail(1, "the file is larger than " + std::to_string(kMaxStoreFileSize) + " bytes");
    }
    SettingsStore store;
    // Folded names seen so far, so that duplicates are found in linear time.
    std::unordered_set<std::string> keyPaths;
    std::unordered_set<std::string> valueNames;
    std::size_t start = 0;
    std::size_t number = 0;
    // Each pass consumes one line, so the loop ends after at most text.size() passes.
    while (start < text.size()) {
        ++number;
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            fail(number, "missing end of line (the file is cut short)");
        }
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (number == 1) {
            if (line != kHeader) {
                fail(number, "expected the header \"" + std::string(kHeader) + "\"");
            }
            continue;
        }
        if (line.empty()) {
            continue;
        }
        if (line.front() == '[') {
            StoredKey key = parseKeyLine(line, number);
            if (!keyPaths.insert(folded(key.path)).second) {
                fail(number, "key [" + key.path + "] appears twice");
            }
            valueNames.clear();
            store.keys.push_back(std::move(key));
            continue;
        }
        if (line.front() != '"') {
            fail(number, "expected a key line '[...]' or a value line '\"name\"=type:\"data\"'");
        }
        if (store.keys.empty()) {
            fail(number, "a value before the first key");
        }
        StoredValue value = parseValueLine(line, number);
        if (!valueNames.insert(folded(value.name)).second) {
            fail(number, "value appears twice in its key");
        }
        store.keys.back().values.push_back(std::move(value));
    }
    if (number == 0) {
        fail(1, "the file is empty");
    }
    return store;
}

}  // namespace tz
