// zevediz-resize as scripts use it: exit statuses, messages, outputs and the order guarantee.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/support.h"
#include "tz/bitmap.h"
#include "tz/bmp.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeFile;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CliTest : public ::testing::Test {
  protected:
    Outcome run(const std::string& arguments) {
        const fs::path out = m_folder / "stdout.txt";
        const fs::path err = m_folder / "stderr.txt";
        const std::string command = "cd '" + m_folder.path().string() + "' && '" TZ_CLI_PATH "' " +
                                    arguments + " >'" + out.string() + "' 2>'" + err.string() +
                                    "' </dev/null";
        const int raw = std::system(command.c_str());
        Outcome outcome;
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        outcome.out = slurp(out);
        outcome.err = slurp(err);
        return outcome;
    }

    void writeBmp(const std::string& name, int width, int height) {
        writeFile(m_folder / name, encodeBmp(Bitmap(width, height)));
    }

    bool written(const std::string& name) const { return fs::exists(m_folder / "resized" / name); }

    TempDir m_folder;
};

TEST_F(CliTest, UsageErrorsExitWithTwo) {
    EXPECT_EQ(run("").status, 2);
    EXPECT_EQ(run("--frobnicate a.bmp").status, 2);
    EXPECT_EQ(run("--size 12x a.bmp").status, 2);
    EXPECT_EQ(run("--size 0 a.bmp").status, 2);
    EXPECT_EQ(run("--geometry 10 a.bmp").status, 2);
    EXPECT_EQ(run("--kernel Sharpest a.bmp").status, 2);
    EXPECT_EQ(run("--jobs").status, 2);
    const Outcome unknown = run("--frobnicate a.bmp");
    EXPECT_NE(unknown.err.find("--frobnicate"), std::string::npos) << unknown.err;
}

TEST_F(CliTest, HelpAndVersionExitWithZero) {
    const Outcome help = run("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--keep-going"), std::string::npos);
    EXPECT_EQ(run("--version").status, 0);
}

TEST_F(CliTest, WritesIntoResizedBesideTheSource) {
    fs::create_directory(m_folder / "album");
    writeFile(m_folder / "album" / "wide.bmp", encodeBmp(Bitmap(400, 250)));
    const Outcome outcome = run("--size 100 --quiet album/wide.bmp");
    EXPECT_EQ(outcome.status, 0) << outcome.err;
    const Bitmap output = loadBmpFile(m_folder / "album" / "resized" / "wide.bmp");
    EXPECT_EQ(output.width(), 100);
    EXPECT_EQ(output.height(), 62);
    EXPECT_TRUE(outcome.out.empty());
}

TEST_F(CliTest, GeometryAndKernelOptions) {
    writeBmp("a.bmp", 40, 30);
    ASSERT_EQ(run("--geometry 7x9 --kernel Box a.bmp").status, 0);
    const Bitmap output = loadBmpFile(m_folder / "resized" / "a.bmp");
    EXPECT_EQ(output.width(), 7);
    EXPECT_EQ(output.height(), 9);
}

TEST_F(CliTest, OtherExtensionsAreSkippedWithANotice) {
    writeBmp("a.bmp", 4, 4);
    writeFile(m_folder / "b.jpeg", {1, 2, 3});
    const Outcome outcome = run("--size 8 b.jpeg a.bmp");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_NE(outcome.err.find("b.jpeg"), std::string::npos);
    EXPECT_TRUE(written("a.bmp"));
    EXPECT_FALSE(written("b.jpeg"));
}

TEST_F(CliTest, StopsAtTheFirstFailureInListOrderWhateverTheJobs) {
    for (const char* name : {"1.bmp", "3.bmp", "4.bmp", "5.bmp"}) {
        writeBmp(name, 64, 48);
    }
    writeFile(m_folder / "2.bmp", {'B', 'M', 1, 2, 3});
    const Outcome outcome = run("--size 16 --jobs 2 1.bmp 2.bmp 3.bmp 4.bmp 5.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err.rfind("2.bmp: ", 0), 0u) << outcome.err;
    EXPECT_TRUE(written("1.bmp"));
    for (const char* name : {"2.bmp", "3.bmp", "4.bmp", "5.bmp"}) {
        EXPECT_FALSE(written(name)) << name;
    }
}

TEST_F(CliTest, KeepGoingWritesEverythingElseAndStillFails) {
    writeBmp("1.bmp", 20, 20);
    writeBmp("3.bmp", 20, 20);
    const Outcome outcome = run("--keep-going --jobs 3 --size 10 1.bmp missing.bmp 3.bmp");
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.err.find("missing.bmp: "), std::string::npos) << outcome.err;
    EXPECT_TRUE(written("1.bmp"));
    EXPECT_TRUE(written("3.bmp"));
}

}  // namespace
}  // namespace tz
