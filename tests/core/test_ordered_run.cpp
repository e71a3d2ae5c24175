// The ordered runner: files settle and write in list order whatever thread finishes first, a
// failure or a stop lets no later file write or settle, and nothing runs after destruction.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tz/ordered_run.h"

namespace tz {
namespace {

// What the steps and the settled calls saw, in the order they saw it.
class Journal {
  public:
    void add(const std::string& entry) {
        std::lock_guard lock(m_mutex);
        m_entries.push_back(entry);
    }
    std::vector<std::string> entries() const {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
};

// "w3" for letter 'w' and index 3.
std::string label(char letter, std::size_t index) {
    std::string text(1, letter);
    text += std::to_string(index);
    return text;
}

std::vector<std::string> sequence(char letter, std::size_t count) {
    std::vector<std::string> result;
    for (std::size_t index = 0; index < count; ++index) {
        result.push_back(label(letter, index));
    }
    return result;
}

class OrderedRunJobs : public ::testing::TestWithParam<int> {};

// Later files finish their work first (each waits until the next one has started, when there
// is one on another worker): the writes and the settled calls still come in list order.
TEST_P(OrderedRunJobs, WritesAndSettlesInListOrder) {
    constexpr int kFiles = 12;
    const int jobs = GetParam();
    Journal writes;
    Journal settled;
    std::atomic<int> started{0};
    OrderedRun run(
        kFiles, jobs,
        [&](std::size_t index, const BeforeWrite& beforeWrite) {
            started.fetch_add(1);
            if (jobs > 1 && index + 1 < kFiles) {
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                while (started.load() < static_cast<int>(index) + 2 &&
                       std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::yield();
                }
            }
            beforeWrite();
            writes.add(label('w', index));
        },
        [&](std::size_t index, std::exception_ptr error) {
            EXPECT_FALSE(error);
            settled.add(label('s', index));
            return false;
        });
    EXPECT_EQ(run.jobs(), jobs);
    run.run();
    EXPECT_EQ(writes.entries(), sequence('w', kFiles));
    EXPECT_EQ(settled.entries(), sequence('s', kFiles));
}

INSTANTIATE_TEST_SUITE_P(Jobs, OrderedRunJobs, ::testing::Values(1, 2, 4),
                         [](const ::testing::TestParamInfo<int>& row) {
                             return std::to_string(row.param) + "jobs";
                         });

TEST(OrderedRun, FailureStopsTheRunAfterItsFile) {
    for (const int jobs : {1, 3}) {
        Journal writes;
        Journal settled;
        std::atomic<bool> finished{false};
        OrderedRun run(
            10, jobs,
            [&](std::size_t index, const BeforeWrite& beforeWrite) {
                if (index == 4) {
                    throw std::runtime_error("JPEG error #53");
                }
                beforeWrite();
                writes.add(label('w', index));
            },
            [&](std::size_t index, std::exception_ptr error) {
                std::string entry = label('s', index);
                if (error) {
                    try {
                        std::rethrow_exception(error);
                    } catch (const std::exception& failure) {
                        entry += std::string(" ") + failure.what();
                    }
                }
                settled.add(entry);
                return error != nullptr;
            },
            [&] { finished = true; });
        run.run();
        EXPECT_TRUE(finished);
        EXPECT_TRUE(run.stopRequested());
        EXPECT_EQ(writes.entries(), sequence('w', 4)) << jobs << " jobs";
        EXPECT_EQ(settled.entries(),
                  (std::vector<std::string>{"s0", "s1", "s2", "s3", "s4 JPEG error #53"}))
            << jobs << " jobs";
    }
}

// Stopped while file 2 settles: file 2 counts, every later one is abandoned at its write or
// never starts, also those that failed or wrote nothing.
TEST(OrderedRun, StopLetsNoLaterFileWriteOrSettle) {
    Journal writes;
    Journal settled;
    std::atomic<int> finishedCalls{0};
    OrderedRun* self = nullptr;
    OrderedRun run(
        20, 3,
        [&](std::size_t index, const BeforeWrite& beforeWrite) {
            if (index % 3 == 1) {
                return;  // writes nothing
            }
            if (index % 5 == 4) {
                throw std::runtime_error("bad");
            }
            beforeWrite();
            writes.add(label('w', index));
        },
        [&](std::size_t index, std::exception_ptr) {
            settled.add(label('s', index));
            if (index == 2) {
                self->requestStop();
            }
            return false;
        },
        [&] { finishedCalls.fetch_add(1); });
    self = &run;
    run.start();
    run.wait();
    EXPECT_EQ(writes.entries(), (std::vector<std::string>{"w0", "w2"}));
    EXPECT_EQ(settled.entries(), sequence('s', 3));
    EXPECT_EQ(finishedCalls.load(), 1);
}

TEST(OrderedRun, DestructionStopsAndWaitsForTheWorkers) {
    std::atomic<int> stepsEnded{0};
    std::atomic<int> callsAfterDestruction{0};
    std::atomic<bool> destroyed{false};
    std::atomic<bool> release{false};
    {
        OrderedRun run(
            50, 2,
            [&](std::size_t, const BeforeWrite& beforeWrite) {
                while (!release.load()) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                if (destroyed) {
                    callsAfterDestruction.fetch_add(1);
                }
                beforeWrite();
                stepsEnded.fetch_add(1);
            },
            [&](std::size_t, std::exception_ptr) {
                if (destroyed) {
                    callsAfterDestruction.fetch_add(1);
                }
                return false;
            },
            [&] {
                if (destroyed) {
                    callsAfterDestruction.fetch_add(1);
                }
            });
        run.start();
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            release = true;
        });
        releaser.detach();
    }
    destroyed = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(callsAfterDestruction.load(), 0);
    // The two files in flight when the run was stopped: at most the first was written.
    EXPECT_LE(stepsEnded.load(), 1);
}

TEST(OrderedRun, NoFileFinishesAtOnce) {
    int finished = 0;
    int settledCalls = 0;
    OrderedRun run(
        0, 4, [](std::size_t, const BeforeWrite&) {},
        [&](std::size_t, std::exception_ptr) {
            ++settledCalls;
            return false;
        },
        [&] { ++finished; });
    EXPECT_EQ(run.jobs(), 1);
    run.start();
    run.wait();
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(settledCalls, 0);
}

TEST(OrderedRun, JobsNeverExceedTheFiles) {
    const auto jobsFor = [](std::size_t files, int jobs) {
        return OrderedRun(files, jobs, {}, {}).jobs();
    };
    EXPECT_EQ(jobsFor(3, 8), 3);
    EXPECT_EQ(jobsFor(10, 2), 2);
    EXPECT_GE(jobsFor(10, 0), 1);  // one per core
    EXPECT_EQ(jobsFor(10, -5), jobsFor(10, 0));
}

}  // namespace
}  // namespace tz
