// Finding the shared corpus and reading the expected outcomes of its MANIFEST.md.
#include "support/corpus.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <regex>
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

// The message after the first "fail" of `text`: the first quoted text, else "JPEG error #N".
std::string failureMessage(std::string_view text) {
    const auto fail = text.find("fail");
    if (fail == std::string_view::npos) {
        return {};
    }
    const std::string after(text.substr(fail));
    std::smatch match;
    if (std::regex_search(after, match, std::regex("\"([^\"]+)\""))) {
        return match[1].str();
    }
    if (std::regex_search(after, match, std::regex("JPEG error #[0-9]+"))) {
        return match[0].str();
    }
    return {};
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
    std::smatch match;
    if (std::regex_search(entry.expected, match,
                          std::regex(R"(\bloads (?:as )?([0-9]{1,9})x([0-9]{1,9}))"))) {
        entry.size = CorpusSize{std::stoi(match[1].str()), std::stoi(match[2].str())};
    }
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
