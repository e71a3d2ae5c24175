// What the files resized at one time may take from the machine: one budget for the large
// allocations of all the jobs of a process, and each job's limit on the pixels a picture may
// declare.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>

#include "tz/errors.h"

namespace tz {

// A picture that declares more pixels than its job allows. The message names the size and the
// limit: "Picture of W x H pixels is larger than the limit of N pixels".
class PixelLimitError : public Error {
  public:
    using Error::Error;
};

// Bytes the system can still give this process: MemAvailable from /proc/meminfo, lowered to
// what every memory-limited control group the process is in has left (its limit less its usage,
// at each level of the hierarchy; cgroup v2 memory.max and memory.current, or v1
// memory.limit_in_bytes and memory.usage_in_bytes). The largest value when nothing says.
// `root` stands for "/" (tests give a folder of made-up system files).
std::size_t freeSystemMemory(const std::filesystem::path& root = "/");

// Admits large allocations against the free memory, counting what the jobs running at the same
// time were admitted and still hold: free memory is read when an allocation is asked for, and
// two jobs asking at once would both see it whole. An allocation that does not fit beside the
// other jobs' holdings waits while another job that holds memory runs on (it frees all it holds
// when it ends); when none does, it fails with "Not enough memory for a picture of W x H
// pixels". Of jobs that each hold memory and each need more than is left, one fails, so that
// the others can go on: no two jobs wait for each other.
class MemoryBudget {
  public:
    using FreeMemory = std::function<std::size_t()>;
    static constexpr std::size_t kSmallest = std::size_t{64} << 20;

    // `freeMemory` tells the free memory (freeSystemMemory by default). Allocations of at most
    // `smallest` bytes pass unexamined: there are many, and each is small.
    explicit MemoryBudget(FreeMemory freeMemory = {}, std::size_t smallest = kSmallest);
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // One file's work on the current thread, from construction to destruction: the allocations
    // admitted meanwhile on this thread count as the job's until it ends. A pixel limit of 0
    // means none. Jobs nest: an inner one stands in for the outer until it ends.
    class Job {
      public:
        explicit Job(MemoryBudget& budget, std::uint64_t maxPixels = 0);
        ~Job();
        Job(const Job&) = delete;
        Job& operator=(const Job&) = delete;

      private:
        friend class MemoryBudget;
        friend void admitAllocation(std::size_t bytes, int width, int height);
        friend void admitDeclaredSize(int width, int height);

        MemoryBudget& m_budget;
        std::uint64_t m_maxPixels;
        Job* m_outer;
        std::size_t m_held = 0;  // guarded by the budget's mutex
        bool m_waiting = false;  // guarded by the budget's mutex
    };

  private:
    friend void admitAllocation(std::size_t bytes, int width, int height);

    // Admits `bytes` for `job` (nullptr: work outside any job, which holds nothing).
    void admit(Job* job, std::size_t bytes, int width, int height);
    void release(Job& job);

    FreeMemory m_freeMemory;
    std::size_t m_smallest;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_held = 0;    // by all jobs
    int m_runningHolders = 0;  // jobs that hold memory and are not waiting for more
};

// The budget every job of the process shares unless it names another.
MemoryBudget& processMemoryBudget();

// Admits `bytes` more for a picture of width × height: against the budget of the current
// thread's job, else against the process's budget, holding nothing. Throws tz::Error "Not enough
// memory for a picture of W x H pixels" when they cannot be had.
void admitAllocation(std::size_t bytes, int width, int height);

// Called by the readers as soon as a picture's declared size is known, before anything is
// allocated for it: throws PixelLimitError when width × height exceeds the current thread's
// job's pixel limit. Outside any job there is no limit.
void admitDeclaredSize(int width, int height);

}  // namespace tz
