// The corpus manifest as the corpus tests read it: each kind of Expected cell, the tables, the
// setting that finds the corpus, and a row for every file of the real corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include "support/corpus.h"
#include "support/support.h"

namespace tz::test {
namespace {

struct ExpectedCell {
    const char* description;
    const char* text;
    CorpusOutcome outcome;
    std::optional<CorpusSize> size;
    const char* failure;
};

void PrintTo(const ExpectedCell& cell, std::ostream* out) {
    *out << cell.description;
}

class CorpusExpectedCell : public ::testing::TestWithParam<ExpectedCell> {};

TEST_P(CorpusExpectedCell, GivesTheOutcomeSizeAndMessage) {
    const ExpectedCell& cell = GetParam();
    const CorpusEntry entry = parseExpectedOutcome(cell.text);
    EXPECT_EQ(entry.outcome, cell.outcome);
    ASSERT_EQ(entry.size.has_value(), cell.size.has_value());
    if (cell.size) {
        EXPECT_EQ(entry.size->width, cell.size->width);
        EXPECT_EQ(entry.size->height, cell.size->height);
    }
    EXPECT_EQ(entry.failure, cell.failure);
    EXPECT_EQ(entry.expected, cell.text);
}

INSTANTIATE_TEST_SUITE_P(
    Manifest, CorpusExpectedCell,
    ::testing::Values(
        ExpectedCell{"a size", "loads 127x64", CorpusOutcome::Loads, CorpusSize{127, 64}, ""},
        ExpectedCell{"a size and a note", "loads 100x100 (warnings only: Image exceeds Logical)",
                     CorpusOutcome::Loads, CorpusSize{100, 100}, ""},
        ExpectedCell{"a size, decoding too", "loads 1x1000 and decodes; greyscale: 8-bit bitmap",
                     CorpusOutcome::Loads, CorpusSize{1, 1000}, ""},
        ExpectedCell{"a header that loads, data that fails",
                     "loads 96x132 (header only); decoding (draw/assign) fails: \"JPEG error #68\" "
                     "(JERR_UNKNOWN_MARKER: Unsupported marker type 0x97)",
                     CorpusOutcome::Loads, CorpusSize{96, 132}, "JPEG error #68"},
        ExpectedCell{
            "an empty stream",
            "an empty stream loads as 0x0 without parsing a header; any later "
            "decode fails (libjpeg-turbo: JPEG error #42 JERR_INPUT_EMPTY); must not crash",
            CorpusOutcome::Loads, CorpusSize{0, 0}, "JPEG error #42"},
        ExpectedCell{"a quoted message", "must fail: \"Premature end of data\"",
                     CorpusOutcome::MustFail, std::nullopt, "Premature end of data"},
        ExpectedCell{"a library code",
                     "must fail at load: \"JPEG error #53\" (JERR_NO_SOI: Not a JPEG file)",
                     CorpusOutcome::MustFail, std::nullopt, "JPEG error #53"},
        ExpectedCell{"no message", "must fail with a clear error", CorpusOutcome::MustFail,
                     std::nullopt, ""},
        ExpectedCell{"open, with the size it has when it loads",
                     "leaves open: loads 2x2, or fails with \"Invalid GIF data\"",
                     CorpusOutcome::LeavesOpen, CorpusSize{2, 2}, ""},
        ExpectedCell{"open, whatever words come before",
                     "the format leaves open: 127x64 or a clear error", CorpusOutcome::LeavesOpen,
                     std::nullopt, ""},
        ExpectedCell{"no outcome", "see the notes", CorpusOutcome::Unrecognised, std::nullopt, ""}),
    [](const auto& row) {
        std::string name = row.param.description;
        std::ranges::replace_if(
            name, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
        return name;
    });

TEST(CorpusManifest, TablesAreReadByTheirColumnNames) {
    const TempDir corpus;
    writeFile(corpus / "MANIFEST.md", [] {
        const std::string text =
            "# Corpus\n\n| File | Expected |\n|---|---|\n| not.gif | must fail |\n\n"
            "## gif/\n\n"
            "| Bytes | File | Expected (rule) | Notes |\n"
            "|---|---|---|---|\n"
            "| 10 | a.gif | loads 2x3 | x |\n"
            "| 11 | b.gif | must fail: \"Bad\" | y |\n"
            "\n## jpeg/\n\n| File | Expected |\n|---|---|\n| c.jpg | loads 1x1 |\n";
        return std::vector<std::uint8_t>(text.begin(), text.end());
    }());
    const ScopedEnvironment setting("TZ_CORPUS_DIR", corpus.path().string());
    EXPECT_EQ(corpusDir(), corpus.path());
    EXPECT_EQ(corpusFolder("gif"), corpus.path() / "gif");
    const std::vector<CorpusEntry> gif = readCorpusManifest("gif");
    ASSERT_EQ(gif.size(), 2u);
    EXPECT_EQ(gif[0].file, "a.gif");
    EXPECT_EQ(gif[0].outcome, CorpusOutcome::Loads);
    EXPECT_EQ(gif[1].file, "b.gif");
    EXPECT_EQ(gif[1].failure, "Bad");
    EXPECT_EQ(readCorpusManifest("jpeg").size(), 1u);
    EXPECT_TRUE(readCorpusManifest("bmp").empty());
}

TEST(CorpusManifest, AFolderWithoutManifestIsNoCorpus) {
    const TempDir folder;
    const ScopedEnvironment setting("TZ_CORPUS_DIR", folder.path().string());
    EXPECT_EQ(corpusDir(), std::filesystem::path());
    EXPECT_EQ(corpusFolder("gif"), std::filesystem::path());
    EXPECT_TRUE(readCorpusManifest("gif").empty());
    const std::vector<CorpusEntry> entries = corpusTestEntries("gif");
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(corpusTestName(entries[0]), "corpus_absent");
    EXPECT_NE(corpusAbsentMessage().find(folder.path().string()), std::string::npos);
    EXPECT_NE(corpusAbsentMessage().find("TZ_CORPUS_DIR"), std::string::npos);
}

// The real corpus: each format's table lists every file of its folder.
class CorpusFolder : public ::testing::TestWithParam<const char*> {};

TEST_P(CorpusFolder, EveryFileHasAManifestRow) {
    if (corpusDir().empty()) {
        GTEST_SKIP() << corpusAbsentMessage();
    }
    EXPECT_EQ(filesWithoutManifestRow(GetParam()), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Formats, CorpusFolder, ::testing::Values("bmp", "gif", "jpeg"),
                         [](const auto& row) { return std::string(row.param); });

}  // namespace
}  // namespace tz::test
