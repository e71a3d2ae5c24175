// Finding the shared corpus and reading the expected outcomes of its MANIFEST.md.
#include "support/corpus.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <set>

namespace tz::test {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCorpusVariable = "TZ_CORPUS_DIR";

fs::path configuredCorpusDir() {
    const char* overridden = std::getenv(kCorpusVariable);
    return overridden != nullptr && *overridden != '\0' ? fs::path(overridden)
                                                        : fs::path(TZ_DEFAULT_CORPUS_DIR);
}

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    const auto last = text.find_last_not_of(' ');
    return first == std::string_view::npos ? std::string()
                                           : std::string(text.substr(first, last - first + 1));
}

// The cells of a table line "| a | b |": {"a", "b"}.
std::vector<std::string> tableCells(std::string_view line) {
    std::vector<std::string> cells;
    line.remove_prefix(1);
    for (auto bar = line.find('|'); bar != std::string_view::npos; bar = line.find('|')) {
        cells.push_back(trimmed(line.substr(0, bar)));
        line.remove_prefix(bar + 1);
    }
    return cells;
}

bool isSeparatorRow(const std::vector<std::string>& cells) {
    return std::ranges::all_of(cells, [](const std::string& cell) {
        return cell.find_first_not_of("-: ") == std::string::npos;
    });
}

// The decimal number of at most `maxDigits` digits at the start of `text`, and what follows it.
std::optional<std::pair<int, std::string_view>> leadingNumber(std::string_view text,
                                                              std::size_t maxDigits) {
    std::size_t digits = 0;
    while (digits < text.size() && digits <= maxDigits &&
           std::isdigit(static_cast<unsigned char>(text[digits])) != 0) {
        ++digits;
    }
    if (digits == 0 || digits > maxDigits) {
        return std::nullopt;
    }
    return std::pair{std::stoi(std::string(text.substr(0, digits))), text.substr(digits)};
}

// The message after the first "fail" of `text`: the first quoted text, else "JPEG error #N".
std::string failureMessage(std::string_view text) {
    const auto fail = text.find("fail");
    if (fail == std::string_view::npos) {
        return {};
    }
    const std::string_view after = text.substr(fail);
    if (const auto open = after.find('"'); open != std::string_view::npos) {
        const auto close = after.find('"', open + 1);
        if (close != std::string_view::npos && close > open + 1) {
            return std::string(after.substr(open + 1, close - open - 1));
        }
    }
    constexpr std::string_view kJpegError = "JPEG error #";
    for (auto at = after.find(kJpegError); at != std::string_view::npos;
         at = after.find(kJpegError, at + 1)) {
        const auto number = after.substr(at + kJpegError.size());
        if (const auto code = leadingNumber(number, 9)) {
            return std::string(kJpegError) + std::to_string(code->first);
        }
    }
    return {};
}

// "WxH" after a whole word "loads" (optionally "loads as").
std::optional<CorpusSize> loadedSize(std::string_view text) {
    constexpr std::string_view kLoads = "loads ";
    for (auto at = text.find(kLoads); at != std::string_view::npos;
         at = text.find(kLoads, at + 1)) {
        if (at > 0 &&
            (std::isalnum(static_cast<unsigned char>(text[at - 1])) != 0 || text[at - 1] == '_')) {
            continue;
        }
        std::string_view rest = text.substr(at + kLoads.size());
        if (rest.starts_with("as ")) {
            rest.remove_prefix(3);
        }
        const auto width = leadingNumber(rest, 9);
        if (!width || !width->second.starts_with('x')) {
            continue;
        }
        if (const auto height = leadingNumber(width->second.substr(1), 9)) {
            return CorpusSize{width->first, height->first};
        }
    }
    return std::nullopt;
}

}  // namespace

fs::path corpusDir() {
    const fs::path folder = configuredCorpusDir();
    return fs::is_regular_file(folder / "MANIFEST.md") ? folder : fs::path();
}

fs::path corpusFolder(std::string_view format) {
    const fs::path corpus = corpusDir();
    return corpus.empty() ? fs::path() : corpus / format;
}

std::string corpusAbsentMessage() {
    return "the shared corpus is absent: no MANIFEST.md in " + configuredCorpusDir().string() +
           " (set " + kCorpusVariable + " to the corpus folder)";
}

CorpusEntry parseExpectedOutcome(std::string_view expected) {
    CorpusEntry entry;
    entry.expected = std::string(expected);
    entry.size = loadedSize(expected);
    if (expected.find("leaves open") != std::string_view::npos) {
        entry.outcome = CorpusOutcome::LeavesOpen;
    } else if (expected.starts_with("must fail")) {
        entry.outcome = CorpusOutcome::MustFail;
        entry.failure = failureMessage(expected);
        entry.size.reset();
    } else if (entry.size) {
        entry.outcome = CorpusOutcome::Loads;
        entry.failure = failureMessage(expected);
    }
    return entry;
}

std::vector<CorpusEntry> readCorpusManifest(std::string_view format) {
    std::vector<CorpusEntry> entries;
    const fs::path corpus = corpusDir();
    if (corpus.empty()) {
        return entries;
    }
    std::ifstream manifest(corpus / "MANIFEST.md");
    const std::string section = "## " + std::string(format) + "/";
    bool inSection = false;
    std::optional<std::size_t> fileColumn;
    std::optional<std::size_t> expectedColumn;
    for (std::string line; std::getline(manifest, line);) {
        if (line.starts_with("## ")) {
            inSection = line == section;
            continue;
        }
        if (!inSection || !line.starts_with("|")) {
            continue;
        }
        const std::vector<std::string> cells = tableCells(line);
        if (!fileColumn || !expectedColumn) {
            // The table's first line names the columns.
            for (std::size_t i = 0; i < cells.size(); ++i) {
                if (cells[i] == "File") {
                    fileColumn = i;
                } else if (cells[i].starts_with("Expected")) {
                    expectedColumn = i;
                }
            }
            continue;
        }
        if (isSeparatorRow(cells) || std::max(*fileColumn, *expectedColumn) >= cells.size()) {
            continue;
        }
        CorpusEntry entry = parseExpectedOutcome(cells[*expectedColumn]);
        entry.file = cells[*fileColumn];
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<CorpusEntry> corpusTestEntries(std::string_view format) {
    std::vector<CorpusEntry> entries = readCorpusManifest(format);
    if (corpusDir().empty()) {
        entries.push_back(CorpusEntry{});
    }
    return entries;
}

std::vector<std::string> filesWithoutManifestRow(std::string_view format) {
    std::set<std::string> listed;
    for (const CorpusEntry& entry : readCorpusManifest(format)) {
        listed.insert(entry.file);
    }
    std::vector<std::string> missing;
    for (const auto& file : fs::directory_iterator(corpusFolder(format))) {
        const std::string name = file.path().filename().string();
        if (!listed.contains(name)) {
            missing.push_back(name);
        }
    }
    std::ranges::sort(missing);
    return missing;
}

std::string corpusTestName(const CorpusEntry& entry) {
    if (entry.file.empty()) {
        return "corpus_absent";
    }
    std::string name = entry.file;
    std::ranges::replace_if(
        name, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
    return name;
}

void PrintTo(const CorpusEntry& entry, std::ostream* out) {
    if (entry.file.empty()) {
        *out << "(corpus absent)";
    } else {
        *out << entry.file << ": " << entry.expected;
    }
}

}  // namespace tz::test
