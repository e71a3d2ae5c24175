// The batch run's walk: order of its steps, the run's size, which worker each name gets, and
// where an error stops it. The workers are replaced by recorders, so no codec is involved.
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

const char* formatName(ImageFormat format) {
    switch (format) {
        case ImageFormat::Gif:
            return "gif";
        case ImageFormat::Jpeg:
            return "jpeg";
        case ImageFormat::Bmp:
            return "bmp";
        case ImageFormat::None:
            break;
    }
    return "none";
}

// Runs in its own folder and writes every hook call into `events`.
class BatchTest : public ::testing::Test {
  protected:
    BatchHooks recordingHooks() {
        BatchHooks hooks;
        hooks.runWorker = [this](ImageFormat format, const std::string& name) {
            events.push_back(std::string(formatName(format)) + " " + name + " @" + RunSizeText);
        };
        hooks.recordFolder = [this] {
            // The output rule has been applied by now.
            events.push_back(std::string("record") +
                             (fs::is_directory("resized") ? " resized" : "") + " " + OutputPrefix);
        };
        hooks.showProgress = [this](int maximum) {
            events.push_back("progress " + std::to_string(maximum));
        };
        hooks.afterEachItem = [this] { events.push_back("step"); };
        hooks.finish = [this] { events.push_back("finish"); };
        return hooks;
    }

    test::TempDir m_temp;
    test::CurrentDirGuard m_inTemp{m_temp.path()};
    std::vector<std::string> events;
};

TEST_F(BatchTest, StepsRunInOrderOverTheSelectedItems) {
    OutputPrefix.clear();
    const std::vector<BatchItem> items{
        {"a.jpg", true}, {"b.gif", false}, {"c.bmp", true}, {"d.txt", true}, {"e.gif", true}};
    runBatch("250", items, recordingHooks());
    EXPECT_EQ(events, (std::vector<std::string>{"record resized resized/", "progress 4",
                                                "jpeg a.jpg @250", "step", "bmp c.bmp @250", "step",
                                                "step", "gif e.gif @250", "step", "finish"}));
    EXPECT_EQ(OutputPrefix, "resized/");
}

TEST_F(BatchTest, SizeIsTakenOnceAtTheStart) {
    std::string sizeField = "640";
    BatchHooks hooks = recordingHooks();
    // A preset clicked between two files changes the field, not the run.
    hooks.afterEachItem = [&] { sizeField = "160"; };
    runBatch(sizeField, {{"1.jpg", true}, {"2.jpg", true}}, hooks);
    EXPECT_EQ(events, (std::vector<std::string>{"record resized resized/", "progress 2",
                                                "jpeg 1.jpg @640", "jpeg 2.jpg @640", "finish"}));
    runBatch(sizeField, {{"3.gif", true}}, hooks);
    EXPECT_EQ(events.at(events.size() - 2), "gif 3.gif @160");
}

struct ExtensionCase {
    const char* name;
    const char* worker;  // "" when no worker runs
};

void PrintTo(const ExtensionCase& row, std::ostream* out) {
    *out << row.name;
}

class ExtensionTest : public BatchTest, public ::testing::WithParamInterface<ExtensionCase> {};

TEST_P(ExtensionTest, ChoosesTheWorkerByTheUpperCasedExtensionAndAlwaysCountsAStep) {
    runBatch("120", {{GetParam().name, true}}, recordingHooks());
    std::vector<std::string> expected{"record resized resized/", "progress 1"};
    if (*GetParam().worker != '\0') {
        expected.push_back(std::string(GetParam().worker) + " " + GetParam().name + " @120");
    }
    expected.insert(expected.end(), {"step", "finish"});
    EXPECT_EQ(events, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ExtensionTest,
    ::testing::Values(ExtensionCase{"PHOTO.Jpg", "jpeg"}, ExtensionCase{"photo.jpg", "jpeg"},
                      ExtensionCase{"ANIM.GIF", "gif"}, ExtensionCase{"scan.bMp", "bmp"},
                      ExtensionCase{"archive.bmp.gif", "gif"}, ExtensionCase{".jpg", "jpeg"},
                      ExtensionCase{"photo.JPEG", ""}, ExtensionCase{"photo.jpe", ""},
                      ExtensionCase{"photo.jpg.txt", ""}, ExtensionCase{"README", ""},
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
    hooks.runWorker = [&](ImageFormat, const std::string& name) {
        if (name == "p5.jpg") {
            throw JpegError("JPEG error #53", 53);
        }
        ++runs;
    };
    hooks.afterEachItem = [&] { ++steps; };
    hooks.finish = [&] { finished = true; };
    try {
        runBatch("640", items, hooks);
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
    EXPECT_THROW(runBatch("640", {{"a.jpg", true}}, hooks), Error);
    EXPECT_TRUE(events.empty());
    EXPECT_TRUE(fs::is_directory("resized"));  // created before the folder was recorded
}

TEST_F(BatchTest, NoSelectionStillCreatesTheFolderAndRecordsIt) {
    runBatch("640", {{"a.jpg", false}, {"b.gif", false}}, recordingHooks());
    EXPECT_EQ(events,
              (std::vector<std::string>{"record resized resized/", "progress 0", "finish"}));
    EXPECT_TRUE(fs::is_directory("resized"));
    EXPECT_TRUE(fs::is_empty("resized"));
}

TEST_F(BatchTest, EmptyListRunsAllFrameSteps) {
    runBatch("640", {}, recordingHooks());
    EXPECT_EQ(events,
              (std::vector<std::string>{"record resized resized/", "progress 0", "finish"}));
}

TEST_F(BatchTest, ChangesToTheCallersListDuringTheRunDoNotDisturbIt) {
    std::vector<BatchItem> items{{"a.gif", true}, {"b.gif", true}, {"c.gif", true}};
    BatchHooks hooks = recordingHooks();
    hooks.afterEachItem = [&] {
        items.clear();  // e.g. the list re-read after a folder change between two files
        events.push_back("step");
    };
    runBatch("160", items, hooks);
    EXPECT_EQ(events, (std::vector<std::string>{"record resized resized/", "progress 3",
                                                "gif a.gif @160", "step", "gif b.gif @160", "step",
                                                "gif c.gif @160", "step", "finish"}));
}

TEST_F(BatchTest, MissingHooksAreSkipped) {
    runBatch("640", {{"notes.txt", true}}, BatchHooks{});
    EXPECT_TRUE(fs::is_directory("resized"));
}

// The default workers: the real better-quality workers on files in the current folder.
TEST_F(BatchTest, DefaultWorkerWritesTheOutputUnderTheSameNameIntoResized) {
    Bitmap picture(8, 4);
    picture.setColor(0, 0, Rgb{10, 20, 30});
    const std::vector<std::uint8_t> source = encodeBmp(picture);
    test::writeFile("Scan.Bmp", source);
    BatchHooks hooks = recordingHooks();
    hooks.runWorker = nullptr;
    runBatch("4", {{"Scan.Bmp", true}, {"notes.jpeg", true}}, hooks);
    EXPECT_EQ(events, (std::vector<std::string>{"record resized resized/", "progress 2", "step",
                                                "step", "finish"}));
    const Bitmap output = loadBmpFile(fs::path("resized") / "Scan.Bmp");
    EXPECT_EQ(output.width(), 4);  // longer side 8 -> 4
    EXPECT_EQ(output.height(), 2);
    EXPECT_EQ(test::readFile("Scan.Bmp"), source);  // the source is never changed
    EXPECT_FALSE(fs::exists(fs::path("resized") / "notes.jpeg"));
}

TEST_F(BatchTest, DefaultWorkerErrorOnAnUnreadableFileStopsTheRun) {
    test::writeFile("broken.gif", {'G', 'I', 'F', '8', '9', 'a'});
    BatchHooks hooks = recordingHooks();
    hooks.runWorker = nullptr;
    EXPECT_THROW(runBatch("640", {{"broken.gif", true}, {"b.txt", true}}, hooks), Error);
    EXPECT_EQ(events, (std::vector<std::string>{"record resized resized/", "progress 2"}));
    EXPECT_FALSE(fs::exists(fs::path("resized") / "broken.gif"));
}

}  // namespace
}  // namespace tz
