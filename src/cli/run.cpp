// Runs the resize workers over the command line's files.
#include "run.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>
#include <vector>

#include "tz/errors.h"

namespace tz::cli {

namespace {

namespace fs = std::filesystem;

struct Job {
    fs::path source;
    fs::path output;
    ImageFormat format = ImageFormat::None;
};

struct Result {
    std::vector<std::uint8_t> bytes;
    std::string error;  // empty on success
};

Job makeJob(const std::string& file) {
    const fs::path source(file);
    return {source, source.parent_path() / std::string(kOutputFolder) / source.filename(),
            workerFormat(source.filename().string())};
}

std::string messageOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const std::exception& error) {
        return error.what();
    }
}

Result resizeJob(const Job& job, const ResizeRequest& request) {
    Result result;
    try {
        result.bytes = resizeToBytes(job.source, job.format, request);
    } catch (...) {
        result.error = messageOf(std::current_exception());
        if (result.error.empty()) {
            result.error = "Unknown error";
        }
    }
    return result;
}

void writeOutput(const Job& job, const Result& result) {
    std::error_code ignored;
    fs::create_directory(job.output.parent_path(), ignored);
    writeFileAtomically(job.output, result.bytes);
}

// Draws "[#####.....] 3/10 name" on one terminal line.
void drawProgress(std::ostream& errors, std::size_t done, std::size_t total,
                  const std::string& name) {
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = total == 0 ? kWidth : done * kWidth / total;
    errors << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] " << done
           << '/' << total << ' ' << name.substr(0, 40) << "\x1b[K" << std::flush;
}

// Hands out file indexes to worker threads and collects their results, so that the caller can
// consume the results strictly in list order. Workers never run further ahead of the consumer
// than a few files, which bounds the memory held by finished, unwritten outputs.
class OrderedPool {
  public:
    OrderedPool(const std::vector<Job>& jobs, const ResizeRequest& request, int threads)
        : m_jobs(jobs),
          m_request(request),
          m_results(jobs.size()),
          m_window(static_cast<std::size_t>(threads) * 2) {
        for (int i = 0; i < threads; ++i) {
            m_threads.emplace_back([this] { work(); });
        }
    }

    ~OrderedPool() {
        stop();
        for (std::thread& thread : m_threads) {
            thread.join();
        }
    }

    OrderedPool(const OrderedPool&) = delete;
    OrderedPool& operator=(const OrderedPool&) = delete;

    // Waits for the result of job `index` and takes it.
    Result take(std::size_t index) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_results[index].has_value(); });
        Result result = std::move(*m_results[index]);
        m_results[index].reset();
        m_consumed = index + 1;
        m_changed.notify_all();
        return result;
    }

    // No further job is started.
    void stop() {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
    }

  private:
    void work() {
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] {
                    return m_stopped || m_next >= m_jobs.size() || m_next < m_consumed + m_window;
                });
                if (m_stopped || m_next >= m_jobs.size()) {
                    return;
                }
                index = m_next++;
            }
            Result result = resizeJob(m_jobs[index], m_request);
            std::lock_guard lock(m_mutex);
            m_results[index] = std::move(result);
            m_changed.notify_all();
        }
    }

    const std::vector<Job>& m_jobs;
    const ResizeRequest& m_request;
    std::vector<std::optional<Result>> m_results;
    const std::size_t m_window;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_next = 0;
    std::size_t m_consumed = 0;
    bool m_stopped = false;
    std::vector<std::thread> m_threads;
};

}  // namespace

int runFiles(const Options& options, std::ostream& out, std::ostream& errors, bool progressBar) {
    std::vector<Job> jobs;
    for (const std::string& file : options.files) {
        Job job = makeJob(file);
        if (job.format == ImageFormat::None) {
            errors << file << ": skipped: not a .jpg, .gif or .bmp file\n";
            continue;
        }
        jobs.push_back(std::move(job));
    }
    const int threads = std::clamp(options.jobs, 1, std::max(1, static_cast<int>(jobs.size())));
    ResizeRequest request = options.request;
    // Files running side by side already use the cores; each resamples on its own thread.
    request.resampleThreads = threads > 1 ? 1 : 0;
    OrderedPool pool(jobs, request, threads);
    int status = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const Job& job = jobs[i];
        Result result = pool.take(i);
        if (result.error.empty()) {
            try {
                writeOutput(job, result);
            } catch (const std::exception& error) {
                result.error = error.what();
            }
        }
        if (progressBar) {
            errors << '\r' << "\x1b[K";
        }
        if (!result.error.empty()) {
            errors << job.source.string() << ": " << result.error << '\n';
            status = 1;
            if (!options.keepGoing) {
                pool.stop();
                break;
            }
        } else if (!options.quiet && !progressBar) {
            out << job.source.string() << " -> " << job.output.string() << '\n';
        }
        if (progressBar) {
            drawProgress(errors, i + 1, jobs.size(), job.source.filename().string());
        }
    }
    if (progressBar) {
        errors << '\n';
    }
    return status;
}

}  // namespace tz::cli
