// The desktop program's run: order of its steps, the run's size, which names are resized and
// where their outputs go, and where an error stops it. The per-file step is replaced by a
// recorder, so no codec is involved, except in the last tests.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/support.h"
#include "tz/batch.h"
#include "tz/bitmap.h"
#include "tz/bmp.h"
#include "tz/errors.h"
#include "tz/resize.h"

namespace tz {
namespace {

namespace fs = std::filesystem;

const char* formatName(const fs::path& source) {
    switch (resizedFormatOf(source.filename().string()).value()) {
        case PictureFormat::Gif:
            return "gif";
        case PictureFormat::Jpeg:
            return "jpeg";
        case PictureFormat::Bmp:
            return "bmp";
        case PictureFormat::Png:
            return "png";
        case PictureFormat::Webp:
            return "webp";
        case PictureFormat::Heif:
            return "heif";
    }
    return "none";
}

// Runs on a folder of its own, from another current folder, and writes every hook call into
// `events`; a file's event names its output relative to the run's folder.
class BatchTest : public ::testing::Test {
  protected:
    RunDescription run(const std::string& sizeText) const {
        RunDescription description;
        description.folder = m_folder.path();
        description.sizeText = sizeText;
        return description;
    }

    BatchHooks recordingHooks() {
        BatchHooks hooks;
        hooks.resizeOne = [this](const fs::path& source, const fs::path& output,
                                 const RunDescription& description) {
            EXPECT_EQ(source.parent_path(), m_folder.path());
            events.push_back(std::string(formatName(source)) + " " + source.filename().string() +
                             " @" + description.sizeText + " -> " +
                             output.lexically_relative(m_folder.path()).string());
        };
        hooks.recordFolder = [this] {
            // The folder "resized" has been created by now.
            events.push_back(std::string("record") +
                             (fs::is_directory(m_folder / "resized") ? " resized" : ""));
        };
        hooks.showProgress = [this](int maximum) {
            events.push_back("progress " + std::to_string(maximum));
        };
        hooks.afterEachItem = [this] { events.push_back("step"); };
        hooks.finish = [this] { events.push_back("finish"); };
        return hooks;
    }

    test::TempDir m_folder;
    test::TempDir m_elsewhere;
    test::CurrentDirGuard m_inElsewhere{m_elsewhere.path()};
    std::vector<std::string> events;
};

TEST_F(BatchTest, StepsRunInOrderOverTheSelectedItems) {
    const std::vector<BatchItem> items{
        {"a.jpg", true}, {"b.gif", false}, {"c.bmp", true}, {"d.txt", true}, {"e.gif", true}};
    runBatch(run("250"), items, recordingHooks());
    EXPECT_EQ(events, (std::vector<std::string>{
                          "record resized", "progress 4", "jpeg a.jpg @250 -> resized/a.jpg",
                          "step", "bmp c.bmp @250 -> resized/c.bmp", "step", "step",
                          "gif e.gif @250 -> resized/e.gif", "step", "finish"}));
    // Nothing depends on the process's current folder.
    EXPECT_TRUE(fs::is_empty(m_elsewhere.path()));
}

// The steps the background run hands to its workers: the selected items in list order, the
// names without a resized format as steps that write nothing.
TEST_F(BatchTest, SelectedFilesAreTheRunsSteps) {
    const std::vector<BatchItem> items{
        {"a.jpg", true}, {"b.gif", false}, {"c.tiff", true}, {"D.Bmp", true}};
    const std::vector<BatchFile> files = selectedFiles(run("640"), items);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].source, m_folder.path() / "a.jpg");
    EXPECT_EQ(files[0].output, m_folder.path() / "resized" / "a.jpg");
    EXPECT_EQ(files[1].source, m_folder.path() / "c.tiff");
    EXPECT_TRUE(files[1].output.empty());
    EXPECT_EQ(files[2].output, m_folder.path() / "resized" / "D.Bmp");
    EXPECT_FALSE(fs::exists(m_folder / "resized"));  // listing creates nothing
    createOutputFolder(run("640"));
    EXPECT_TRUE(fs::is_directory(m_folder / "resized"));
}

TEST_F(BatchTest, SizeIsTakenOnceAtTheStart) {
    std::string sizeField = "640";
    BatchHooks hooks = recordingHooks();
    // A preset clicked between two files changes the field, not the run.
    hooks.afterEachItem = [&] { sizeField = "160"; };
    runBatch(run(sizeField), {{"1.jpg", true}, {"2.jpg", true}}, hooks);
    EXPECT_EQ(events, (std::vector<std::string>{"record resized", "progress 2",
                                                "jpeg 1.jpg @640 -> resized/1.jpg",
                                                "jpeg 2.jpg @640 -> resized/2.jpg", "finish"}));
    runBatch(run(sizeField), {{"3.gif", true}}, hooks);
    EXPECT_EQ(events.at(events.size() - 2), "gif 3.gif @160 -> resized/3.gif");
}

struct ExtensionCase {
    const char* name;
    const char* worker;  // "" when no worker runs
};

void PrintTo(const ExtensionCase& row, std::ostream* out) {
    *out << row.name;
}

class ExtensionTest : public BatchTest, public ::testing::WithParamInterface<ExtensionCase> {};

TEST_P(ExtensionTest, ChoosesTheFormatByTheExtensionInAnyCaseAndAlwaysCountsAStep) {
    runBatch(run("120"), {{GetParam().name, true}}, recordingHooks());
    std::vector<std::string> expected{"record resized", "progress 1"};
    if (*GetParam().worker != '\0') {
        expected.push_back(std::string(GetParam().worker) + " " + GetParam().name + " @120 -> " +
                           (fs::path("resized") / outputNameFor(GetParam().name)).string());
    }
    expected.insert(expected.end(), {"step", "finish"});
    EXPECT_EQ(events, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExtensionTest,
    ::testing::Values(ExtensionCase{"PHOTO.Jpg", "jpeg"}, ExtensionCase{"photo.jpg", "jpeg"},
                      ExtensionCase{"ANIM.GIF", "gif"}, ExtensionCase{"scan.bMp", "bmp"},
                      ExtensionCase{"archive.bmp.gif", "gif"}, ExtensionCase{".jpg", "jpeg"},
                      ExtensionCase{"photo.JPEG", "jpeg"}, ExtensionCase{"photo.jpe", "jpeg"},
                      ExtensionCase{"Shot.PNG", "png"}, ExtensionCase{"web.WebP", "webp"},
                      ExtensionCase{"IMG_1.HEIC", "heif"}, ExtensionCase{"a.heif", "heif"},
                      ExtensionCase{"b.avif", "heif"}, ExtensionCase{"photo.jpg.txt", ""},
                      ExtensionCase{"scan.tiff", ""}, ExtensionCase{"README", ""},
                      ExtensionCase{"photo.", ""}));

TEST_F(BatchTest, ErrorInTheFifthOfTenStopsTheRunThere) {
    std::vector<BatchItem> items;
    for (int i = 1; i <= 10; ++i) {
        items.push_back({"p" + std::to_string(i) + ".jpg", true});
    }
    int runs = 0;
    int steps = 0;
    bool finished = false;
    BatchHooks hooks;
    hooks.resizeOne = [&](const fs::path& source, const fs::path&, const RunDescription&) {
        if (source.filename() == "p5.jpg") {
            throw JpegError("JPEG error #53", 53);
        }
        ++runs;
    };
    hooks.afterEachItem = [&] { ++steps; };
    hooks.finish = [&] { finished = true; };
    try {
        runBatch(run("640"), items, hooks);
        FAIL() << "the run did not stop";
    } catch (const JpegError& error) {
        EXPECT_STREQ(error.what(), "JPEG error #53");
    }
    EXPECT_EQ(runs, 4);
    EXPECT_EQ(steps, 4);  // the progress bar stays at 4
    EXPECT_FALSE(finished);
}

TEST_F(BatchTest, StoreErrorWhileRecordingStopsBeforeTheProgressBar) {
    BatchHooks hooks = recordingHooks();
    hooks.recordFolder = [] { throw Error("Failed to create key "); };
    EXPECT_THROW(runBatch(run("640"), {{"a.jpg", true}}, hooks), Error);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(fs::is_directory(m_folder / "resized"));  // created before the folder was recorded
}

TEST_F(BatchTest, NoSelectionStillCreatesTheFolderAndRecordsIt) {
    runBatch(run("640"), {{"a.jpg", false}, {"b.gif", false}}, recordingHooks());
    EXPECT_EQ(events, (std::vector<std::string>{"record resized", "progress 0", "finish"}));
    EXPECT_TRUE(fs::is_directory(m_folder / "resized"));
    EXPECT_TRUE(fs::is_empty(m_folder / "resized"));
}

TEST_F(BatchTest, EmptyListRunsAllFrameSteps) {
    runBatch(run("640"), {}, recordingHooks());
    EXPECT_EQ(events, (std::vector<std::string>{"record resized", "progress 0", "finish"}));
}

TEST_F(BatchTest, ChangesToTheCallersListDuringTheRunDoNotDisturbIt) {
    std::vector<BatchItem> items{{"a.gif", true}, {"b.gif", true}, {"c.gif", true}};
    BatchHooks hooks = recordingHooks();
    hooks.afterEachItem = [&] {
        items.clear();  // e.g. the list re-read after a folder change between two files
        events.push_back("step");
    };
    runBatch(run("160"), items, hooks);
    EXPECT_EQ(events, (std::vector<std::string>{
                          "record resized", "progress 3", "gif a.gif @160 -> resized/a.gif", "step",
                          "gif b.gif @160 -> resized/b.gif", "step",
                          "gif c.gif @160 -> resized/c.gif", "step", "finish"}));
}

TEST_F(BatchTest, MissingHooksAreSkipped) {
    runBatch(run("640"), {{"notes.txt", true}}, BatchHooks{});
    EXPECT_TRUE(fs::is_directory(m_folder / "resized"));
}

// The default per-file step: the real resize of files in the run's folder.
TEST_F(BatchTest, DefaultStepWritesTheOutputUnderTheSameNameIntoResized) {
    Bitmap picture(8, 4);
    picture.setColor(0, 0, Rgb{10, 20, 30});
    const std::vector<std::uint8_t> source = encodeBmp(picture);
    test::writeFile(m_folder / "Scan.Bmp", source);
    BatchHooks hooks = recordingHooks();
    hooks.resizeOne = nullptr;
    runBatch(run("4"), {{"Scan.Bmp", true}, {"notes.txt", true}}, hooks);
    EXPECT_EQ(events,
              (std::vector<std::string>{"record resized", "progress 2", "step", "step", "finish"}));
    const Bitmap output = loadBmpFile(m_folder / "resized" / "Scan.Bmp");
    EXPECT_EQ(output.width(), 4);  // longer side 8 -> 4
    EXPECT_EQ(output.height(), 2);
    EXPECT_EQ(test::readFile(m_folder / "Scan.Bmp"), source);  // the source is never changed
    EXPECT_FALSE(fs::exists(m_folder / "resized" / "notes.txt"));
}

TEST_F(BatchTest, DefaultStepErrorOnAnUnreadableFileStopsTheRun) {
    test::writeFile(m_folder / "broken.gif", {'G', 'I', 'F', '8', '9', 'a'});
    BatchHooks hooks = recordingHooks();
    hooks.resizeOne = nullptr;
    EXPECT_THROW(runBatch(run("640"), {{"broken.gif", true}, {"b.txt", true}}, hooks), Error);
    EXPECT_EQ(events, (std::vector<std::string>{"record resized", "progress 2"}));
    EXPECT_FALSE(fs::exists(m_folder / "resized" / "broken.gif"));
}

// The size text is converted as each file starts, so a text that is no number fails the first
// file resized, after the folder was created and recorded.
TEST_F(BatchTest, DefaultStepConvertsTheSizeTextPerFile) {
    BatchHooks hooks = recordingHooks();
    hooks.resizeOne = nullptr;
    try {
        runBatch(run("big"), {{"notes.txt", true}, {"missing.bmp", true}}, hooks);
        FAIL() << "the run did not stop";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "'big' is not a valid integer value");
    }
    EXPECT_EQ(events, (std::vector<std::string>{"record resized", "progress 2", "step"}));
}

}  // namespace
}  // namespace tz
