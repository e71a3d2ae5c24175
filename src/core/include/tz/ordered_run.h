// A run over a list of files on worker threads, settled strictly in list order: outputs are
// written in list order, none after the run stopped, whichever thread finishes first.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "tz/resize.h"

namespace tz {

class OrderedRun {
  public:
    // The work on file `index`, called on a worker thread, several files at a time. When its
    // output is ready it calls `beforeWrite` (resizeFile's hook), which waits until every earlier
    // file has settled and throws, abandoning the file unwritten, when the run stopped meanwhile;
    // that throw must be let through. A step that writes nothing need not call it.
    using Step = std::function<void(std::size_t index, const BeforeWrite& beforeWrite)>;
    // Called once per file in list order, one call at a time, on a worker thread, when the
    // file's step has ended: `error` is empty when it returned, else what it threw. Returns true
    // to stop the run after this file. Must not throw.
    using Settled = std::function<bool(std::size_t index, std::exception_ptr error)>;
    // Called once after the last settled call, when no step runs any more: on the last worker
    // thread to end, or inside start() and run() when there is no file.
    using Finished = std::function<void()>;

    // `jobs` files run at a time (below 1: one per core), never more than there are files.
    OrderedRun(std::size_t fileCount, int jobs, Step step, Settled settled, Finished finished = {});
    // Stops the run and waits for its workers: no step, settled or finished call comes after it.
    ~OrderedRun();
    OrderedRun(const OrderedRun&) = delete;
    OrderedRun& operator=(const OrderedRun&) = delete;

    // Starts the workers and returns at once. Call start() or run() once.
    void start();
    // Runs on the calling thread and the workers, and returns when the run has finished.
    void run();
    // No file starts after it; a file waiting for its turn, or reaching beforeWrite, is abandoned
    // without being written or settled; a file already writing finishes and settles. Any thread.
    void requestStop();
    bool stopRequested() const;
    // Waits until every worker has ended.
    void wait();

    // The number of workers the run uses.
    int jobs() const { return m_jobs; }

  private:
    // Thrown by beforeWrite when the run stopped before the file's turn came.
    struct TurnLost {};

    void work();
    void process(std::size_t index);
    // Waits until every earlier file has settled; false when the run stopped meanwhile.
    bool waitForTurn(std::size_t index);
    void settle(std::size_t index, std::exception_ptr error);
    void workerEnded();

    const std::size_t m_fileCount;
    const int m_jobs;
    const Step m_step;
    const Settled m_settled;
    const Finished m_finished;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_nextToStart = 0;   // guarded by m_mutex
    std::size_t m_nextToSettle = 0;  // guarded by m_mutex
    bool m_stopped = false;          // guarded by m_mutex
    int m_activeWorkers = 0;         // guarded by m_mutex

    // Declared last: joined first, while everything the workers use still exists.
    std::vector<std::jthread> m_workers;
};

}  // namespace tz
