// The shared corpus of real-world picture files and the outcome its MANIFEST.md expects of each
// file, for the codec tests and the window tests alike (no test framework needed).
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace tz::test {

// The corpus folder: the environment variable TZ_CORPUS_DIR when it is set and not empty,
// otherwise the shared corpus beside the source tree (../shared/corpus). An empty path when that
// folder holds no MANIFEST.md: tests then skip with corpusAbsentMessage().
std::filesystem::path corpusDir();
// The folder of one format's files ("bmp", "gif", "jpeg"), or an empty path without a corpus.
std::filesystem::path corpusFolder(std::string_view format);
// Why corpus tests skip: the folder looked in and how to point the tests at the corpus.
std::string corpusAbsentMessage();

// What the manifest's Expected column says must happen when the file is loaded.
enum class CorpusOutcome {
    Loads,         // "loads WxH": loading succeeds and reports that size
    MustFail,      // "must fail": loading raises an error
    LeavesOpen,    // "leaves open": any clean outcome is acceptable
    Unrecognised,  // the column names none of the above
};

struct CorpusSize {
    int width = 0;
    int height = 0;
};

// One row of a format's table in the manifest, read from its File and Expected columns only.
struct CorpusEntry {
    std::string file;  // name in the format's folder; empty for the stand-in of an absent corpus
    CorpusOutcome outcome = CorpusOutcome::Unrecognised;
    // The size of "loads WxH" (for LeavesOpen, the size the file has if it loads).
    std::optional<CorpusSize> size;
    // The message a failure must carry, where the manifest gives one ("" otherwise): the quoted
    // text or "JPEG error #N" after "fail". For MustFail it is the error of loading; for Loads
    // the error of decoding a file whose header loads.
    std::string failure;
    std::string expected;  // the whole Expected cell, for failure messages only
};

// The outcome the text of an Expected cell gives (the entry's file is left empty).
CorpusEntry parseExpectedOutcome(std::string_view expected);

// The rows of the manifest's table for `format` (its section "## <format>/"), in manifest order.
// Empty when the corpus is absent.
std::vector<CorpusEntry> readCorpusManifest(std::string_view format);

// The rows for a parameterised test: when the corpus is absent, one stand-in entry with an empty
// file name, so the test can skip with a message instead of having no instances.
std::vector<CorpusEntry> corpusTestEntries(std::string_view format);

// The files of the format's folder that have no row in its table, sorted.
std::vector<std::string> filesWithoutManifestRow(std::string_view format);

// A file name as a test name: every character but letters and digits becomes '_'; the stand-in
// entry is called "corpus_absent".
std::string corpusTestName(const CorpusEntry& entry);

// Prints the file name and the Expected cell (GoogleTest finds it for parameters).
void PrintTo(const CorpusEntry& entry, std::ostream* out);

}  // namespace tz::test
