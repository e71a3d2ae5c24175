// Worker threads taking files in list order, and the turn that lets them settle in that order.
#include "tz/ordered_run.h"

#include <algorithm>

namespace tz {

namespace {

int workerCount(int jobs, std::size_t fileCount) {
    const int wanted = jobs >= 1 ? jobs : static_cast<int>(std::thread::hardware_concurrency());
    const std::size_t most = std::max<std::size_t>(fileCount, 1);
    return static_cast<int>(
        std::clamp<std::size_t>(static_cast<std::size_t>(std::max(wanted, 1)), 1, most));
}

}  // namespace

OrderedRun::OrderedRun(std::size_t fileCount, int jobs, Step step, Settled settled,
                       Finished finished)
    : m_fileCount(fileCount),
      m_jobs(workerCount(jobs, fileCount)),
      m_step(std::move(step)),
      m_settled(std::move(settled)),
      m_finished(std::move(finished)) {}

OrderedRun::~OrderedRun() {
    requestStop();
    wait();
}

void OrderedRun::start() {
    if (m_fileCount == 0) {
        workerEnded();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_activeWorkers = m_jobs;
    }
    for (int worker = 0; worker < m_jobs; ++worker) {
        m_workers.emplace_back([this] { work(); });
    }
}

void OrderedRun::run() {
    if (m_fileCount == 0) {
        workerEnded();
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_activeWorkers = m_jobs;
    }
    for (int worker = 1; worker < m_jobs; ++worker) {
        m_workers.emplace_back([this] { work(); });
    }
    work();
    wait();
}

void OrderedRun::requestStop() {
    std::lock_guard lock(m_mutex);
    m_stopped = true;
    m_changed.notify_all();
}

bool OrderedRun::stopRequested() const {
    std::lock_guard lock(m_mutex);
    return m_stopped;
}

void OrderedRun::wait() {
    for (std::jthread& worker : m_workers) {
        if (worker.joinable()) {
            worker.join();
        }
    }
}

void OrderedRun::work() {
    for (;;) {
        std::size_t index = 0;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopped || m_nextToStart >= m_fileCount) {
                break;
            }
            index = m_nextToStart++;
        }
        process(index);
    }
    workerEnded();
}

void OrderedRun::process(std::size_t index) {
    bool holdsTurn = false;
    std::exception_ptr error;
    try {
        m_step(index, [&] {
            holdsTurn = waitForTurn(index);
            if (!holdsTurn) {
                throw TurnLost{};
            }
        });
    } catch (const TurnLost&) {
        return;
    } catch (...) {
        error = std::current_exception();
    }
    // A file that failed, or wrote nothing, still settles in its turn.
    if (!holdsTurn && !waitForTurn(index)) {
        return;
    }
    settle(index, error);
}

bool OrderedRun::waitForTurn(std::size_t index) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopped || m_nextToSettle == index; });
    return !m_stopped;
}

void OrderedRun::settle(std::size_t index, std::exception_ptr error) {
    bool stop = false;
    if (m_settled) {
        try {
            stop = m_settled(index, std::move(error));
        } catch (...) {
            stop = true;  // a report that failed cannot let later files be written unseen
        }
    }
    std::lock_guard lock(m_mutex);
    ++m_nextToSettle;
    m_stopped = m_stopped || stop;
    m_changed.notify_all();
}

void OrderedRun::workerEnded() {
    bool last = false;
    {
        std::lock_guard lock(m_mutex);
        last = m_activeWorkers <= 1;
        m_activeWorkers = std::max(m_activeWorkers - 1, 0);
    }
    if (last && m_finished) {
        m_finished();
    }
}

}  // namespace tz
