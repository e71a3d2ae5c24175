// The memory budget of concurrent jobs, the pixel limit of a job, and the free memory the system
// and the control groups report.
#include "tz/memory_budget.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace tz {

namespace fs = std::filesystem;

namespace {

// The job the current thread works for; deep in the codecs there is no other way to it.
thread_local MemoryBudget::Job* t_currentJob = nullptr;

constexpr std::size_t kUnlimited = std::numeric_limits<std::size_t>::max();

// A file holding one decimal number; nothing when it holds anything else ("max": no limit).
std::optional<std::size_t> readNumber(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    if (!(in >> text) || text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    try {
        return static_cast<std::size_t>(std::stoull(text));
    } catch (const std::exception&) {
        return std::nullopt;  // out of range: as good as no limit
    }
}

std::size_t availableMemory(const fs::path& meminfo) {
    std::ifstream in(meminfo);
    std::string key;
    std::size_t value = 0;
    std::string unit;
    while (in >> key >> value) {
        std::getline(in, unit);
        if (key == "MemAvailable:") {
            return value > kUnlimited / 1024 ? kUnlimited : value * 1024;
        }
    }
    return kUnlimited;
}

bool listsController(const std::string& controllers, const std::string& wanted) {
    std::size_t start = 0;
    while (start <= controllers.size()) {
        const std::size_t end = std::min(controllers.find(',', start), controllers.size());
        if (controllers.compare(start, end - start, wanted) == 0) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// What the memory-limited control groups of the process have left: at every level from the
// hierarchy's root down to the process's own group, the limit less the usage; the least.
std::size_t controlGroupMemory(const fs::path& root) {
    std::size_t least = kUnlimited;
    std::ifstream groups(root / "proc/self/cgroup");
    std::string line;
    // Lines "ID:CONTROLLERS:PATH": the unified (v2) hierarchy is "0::PATH"; a v1 hierarchy lists
    // "memory" among its controllers.
    while (std::getline(groups, line)) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) {
            continue;
        }
        const std::string controllers = line.substr(first + 1, second - first - 1);
        fs::path folder;
        const char* limitName = nullptr;
        const char* usageName = nullptr;
        if (line.compare(0, first, "0") == 0 && controllers.empty()) {
            folder = root / "sys/fs/cgroup";
            limitName = "memory.max";
            usageName = "memory.current";
        } else if (listsController(controllers, "memory")) {
            folder = root / "sys/fs/cgroup/memory";
            limitName = "memory.limit_in_bytes";
            usageName = "memory.usage_in_bytes";
        } else {
            continue;
        }
        std::vector<fs::path> levels{folder};
        for (const fs::path& component : fs::path(line.substr(second + 1)).relative_path()) {
            folder /= component;
            levels.push_back(folder);
        }
        for (const fs::path& level : levels) {
            const std::optional<std::size_t> limit = readNumber(level / limitName);
            const std::optional<std::size_t> usage = readNumber(level / usageName);
            if (limit && usage) {
                least = std::min(least, *limit > *usage ? *limit - *usage : 0);
            }
        }
    }
    return least;
}

[[noreturn]] void throwNotEnoughMemory(int width, int height) {
    throw Error("Not enough memory for a picture of " + std::to_string(width) + " x " +
                std::to_string(height) + " pixels");
}

}  // namespace

std::size_t freeSystemMemory(const fs::path& root) {
    return std::min(availableMemory(root / "proc/meminfo"), controlGroupMemory(root));
}

MemoryBudget::MemoryBudget(FreeMemory freeMemory, std::size_t smallest)
    : m_freeMemory(freeMemory ? std::move(freeMemory) : [] { return freeSystemMemory(); }),
      m_smallest(smallest) {}

MemoryBudget::Job::Job(MemoryBudget& budget, std::uint64_t maxPixels)
    : m_budget(budget), m_maxPixels(maxPixels), m_outer(t_currentJob) {
    t_currentJob = this;
}

MemoryBudget::Job::~Job() {
    m_budget.release(*this);
    t_currentJob = m_outer;
}

void MemoryBudget::admit(Job* job, std::size_t bytes, int width, int height) {
    if (bytes <= m_smallest) {
        return;
    }
    std::unique_lock lock(m_mutex);
    for (;;) {
        const std::size_t own = job != nullptr ? job->m_held : 0;
        const std::size_t others = m_held - own;
        const std::size_t free = m_freeMemory();
        // The others' holdings count whole, as if none of it were in use yet: the free memory
        // read now may not show what they were admitted a moment ago.
        if (others <= free && bytes <= free - others) {
            if (job != nullptr) {
                m_runningHolders += own == 0 ? 1 : 0;
                job->m_held += bytes;
                m_held += bytes;
            }
            return;
        }
        const int othersRunning = m_runningHolders - (own > 0 ? 1 : 0);
        if (othersRunning == 0) {
            throwNotEnoughMemory(width, height);
        }
        // Waits for a job that holds memory to end. While this one waits it no longer counts as
        // running, and jobs waiting on it are told so: if nothing else runs, one of them fails.
        if (job != nullptr) {
            job->m_waiting = true;
            m_runningHolders -= own > 0 ? 1 : 0;
        }
        m_changed.notify_all();
        m_changed.wait(lock);
        if (job != nullptr) {
            job->m_waiting = false;
            m_runningHolders += own > 0 ? 1 : 0;
        }
    }
}

void MemoryBudget::release(Job& job) {
    const std::lock_guard lock(m_mutex);
    if (job.m_held == 0) {
        return;
    }
    m_held -= job.m_held;
    job.m_held = 0;
    --m_runningHolders;  // a job ends on its own thread, never while it waits
    m_changed.notify_all();
}

MemoryBudget& processMemoryBudget() {
    static MemoryBudget budget;
    return budget;
}

void admitAllocation(std::size_t bytes, int width, int height) {
    MemoryBudget::Job* job = t_currentJob;
    MemoryBudget& budget = job != nullptr ? job->m_budget : processMemoryBudget();
    budget.admit(job, bytes, width, height);
}

void admitDeclaredSize(int width, int height) {
    const MemoryBudget::Job* job = t_currentJob;
    if (job == nullptr || job->m_maxPixels == 0) {
        return;
    }
    const std::uint64_t pixels = static_cast<std::uint64_t>(std::max(width, 0)) *
                                 static_cast<std::uint64_t>(std::max(height, 0));
    if (pixels > job->m_maxPixels) {
        throw PixelLimitError("Picture of " + std::to_string(width) + " x " +
                              std::to_string(height) + " pixels is larger than the limit of " +
                              std::to_string(job->m_maxPixels) + " pixels");
    }
}

}  // namespace tz
