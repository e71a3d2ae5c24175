// The memory budget of concurrent jobs, the pixel limit of a job, and the free memory read from
// the system's files and the control groups'.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/support.h"
#include "tz/errors.h"
#include "tz/memory_budget.h"

namespace tz {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

constexpr std::size_t kMiB = std::size_t{1} << 20;

// ---------------------------------------------------------------- free memory

struct SystemFilesCase {
    const char* description;
    std::vector<std::pair<std::string, std::string>> files;  // path below the root, content
    std::size_t expected;
};

class FreeSystemMemory : public ::testing::TestWithParam<SystemFilesCase> {};

TEST_P(FreeSystemMemory, IsTheLeastOfMemAvailableAndWhatTheGroupsHaveLeft) {
    const TempDir root;
    for (const auto& [path, content] : GetParam().files) {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path) << content;
    }
    EXPECT_EQ(freeSystemMemory(root.path()), GetParam().expected);
}

const std::pair<std::string, std::string> kMeminfo{
    "proc/meminfo", "MemTotal:       16000000 kB\nMemAvailable:    8000000 kB\n"};
constexpr std::size_t kAvailable = std::size_t{8000000} * 1024;

INSTANTIATE_TEST_SUITE_P(
    Layouts, FreeSystemMemory,
    ::testing::Values(
        SystemFilesCase{"NothingSaysAnything", {}, SIZE_MAX},
        SystemFilesCase{"MemAvailableAlone", {kMeminfo}, kAvailable},
        SystemFilesCase{"UnifiedGroupLimitedAboveTheProcessGroup",
                        {kMeminfo,
                         {"proc/self/cgroup", "0::/user.slice/app.scope\n"},
                         {"sys/fs/cgroup/user.slice/memory.max", "1000000\n"},
                         {"sys/fs/cgroup/user.slice/memory.current", "400000\n"},
                         {"sys/fs/cgroup/user.slice/app.scope/memory.max", "max\n"},
                         {"sys/fs/cgroup/user.slice/app.scope/memory.current", "100\n"}},
                        600000},
        SystemFilesCase{"UnifiedGroupOfAContainerAtItsRoot",
                        {kMeminfo,
                         {"proc/self/cgroup", "0::/\n"},
                         {"sys/fs/cgroup/memory.max", "536870912\n"},
                         {"sys/fs/cgroup/memory.current", "36870912\n"}},
                        500000000},
        SystemFilesCase{"UnlimitedGroupLeavesMemAvailable",
                        {kMeminfo,
                         {"proc/self/cgroup", "0::/a\n"},
                         {"sys/fs/cgroup/a/memory.max", "max\n"},
                         {"sys/fs/cgroup/a/memory.current", "5\n"}},
                        kAvailable},
        SystemFilesCase{"VersionOneMemoryHierarchy",
                        {kMeminfo,
                         {"proc/self/cgroup", "5:cpu,cpuacct:/x\n4:memory:/batch\n0::/\n"},
                         {"sys/fs/cgroup/memory/batch/memory.limit_in_bytes", "2000000\n"},
                         {"sys/fs/cgroup/memory/batch/memory.usage_in_bytes", "500000\n"}},
                        1500000},
        SystemFilesCase{"GroupUsingMoreThanItsLimitHasNothingLeft",
                        {kMeminfo,
                         {"proc/self/cgroup", "0::/full\n"},
                         {"sys/fs/cgroup/full/memory.max", "1000\n"},
                         {"sys/fs/cgroup/full/memory.current", "1200\n"}},
                        0}),
    [](const ::testing::TestParamInfo<SystemFilesCase>& row) { return row.param.description; });

// ---------------------------------------------------------------- the budget

std::string errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Error& error) {
        return error.what();
    }
    return "(no error)";
}

// A budget over a fixed amount of free memory that counts how often it was asked; allocations
// above a mebibyte are examined.
struct FixedMemory {
    explicit FixedMemory(std::size_t bytes)
        : budget(
              [this, bytes] {
                  ++asked;
                  return bytes;
              },
              kMiB) {}
    std::atomic<int> asked{0};
    MemoryBudget budget;
};

TEST(MemoryBudget, AJobAloneGetsWhatIsFreeAndNoMore) {
    FixedMemory memory(200 * kMiB);
    const MemoryBudget::Job job(memory.budget);
    EXPECT_EQ(errorOf([] { admitAllocation(150 * kMiB, 10, 20); }), "(no error)");
    // Its own holdings do not count against it: each allocation is judged as before.
    EXPECT_EQ(errorOf([] { admitAllocation(200 * kMiB, 10, 20); }), "(no error)");
    EXPECT_EQ(errorOf([] { admitAllocation(201 * kMiB, 7, 9); }),
              "Not enough memory for a picture of 7 x 9 pixels");
    const int asked = memory.asked;
    admitAllocation(kMiB, 1, 1);  // small ones are not examined
    EXPECT_EQ(memory.asked, asked);
}

// Two jobs whose pictures fit one at a time but not together: the second waits for the first
// to end instead of failing, and both finish.
TEST(MemoryBudget, AJobThatDoesNotFitBesideAnotherWaitsForItToEnd) {
    FixedMemory memory(100 * kMiB);
    std::optional<MemoryBudget::Job> first(std::in_place, memory.budget);
    admitAllocation(80 * kMiB, 1, 1);
    std::atomic<bool> secondAdmitted = false;
    std::string secondError = "(not run)";
    std::thread second([&] {
        const MemoryBudget::Job job(memory.budget);
        secondError = errorOf([] { admitAllocation(80 * kMiB, 2, 2); });
        secondAdmitted = true;
    });
    while (memory.asked < 2) {
        std::this_thread::yield();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(secondAdmitted) << "admitted beside the first job";
    first.reset();
    second.join();
    EXPECT_EQ(secondError, "(no error)");
}

// Two jobs that each hold memory and each need more than is left cannot wait for each other:
// one fails, and the other then goes on.
TEST(MemoryBudget, OfTwoJobsWaitingForEachOtherOneFailsAndTheOtherGoesOn) {
    FixedMemory memory(100 * kMiB);
    std::vector<std::string> errors(2);
    std::atomic<int> holding = 0;
    const auto work = [&](std::size_t index) {
        const MemoryBudget::Job job(memory.budget);
        admitAllocation(40 * kMiB, 1, 1);
        ++holding;
        while (holding < 2) {
            std::this_thread::yield();
        }
        errors[index] = errorOf([] { admitAllocation(70 * kMiB, 3, 4); });
    };
    std::thread a(work, 0);
    std::thread b(work, 1);
    a.join();
    b.join();
    const std::string failed = "Not enough memory for a picture of 3 x 4 pixels";
    EXPECT_TRUE((errors[0] == failed && errors[1] == "(no error)") ||
                (errors[0] == "(no error)" && errors[1] == failed))
        << errors[0] << " / " << errors[1];
}

// ---------------------------------------------------------------- the pixel limit

TEST(PixelLimit, OnlyAJobWithALimitRefusesLargerDeclaredSizes) {
    admitDeclaredSize(65535, 65535);  // no job: no limit
    FixedMemory memory(0);
    {
        const MemoryBudget::Job unlimited(memory.budget);
        admitDeclaredSize(65535, 65535);
    }
    const MemoryBudget::Job job(memory.budget, 100 * 50);
    admitDeclaredSize(100, 50);
    admitDeclaredSize(5000, 1);
    try {
        admitDeclaredSize(101, 50);
        FAIL() << "no error";
    } catch (const PixelLimitError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Picture of 101 x 50 pixels is larger than the limit of 5000 pixels");
    }
    {
        // An inner job stands in for the outer one until it ends.
        const MemoryBudget::Job inner(memory.budget);
        admitDeclaredSize(101, 50);
    }
    EXPECT_THROW(admitDeclaredSize(101, 50), PixelLimitError);
}

}  // namespace
}  // namespace tz
