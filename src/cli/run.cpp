// Runs the resize entry point over the command line's files, several at a time, settling them
// in list order.
#include "run.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <system_error>
#include <thread>
#include <vector>

#include "file_list.h"
#include "printable.h"
#include "tz/memory_budget.h"

namespace tz::cli {

namespace {

namespace fs = std::filesystem;

std::string messageOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const PixelLimitError& error) {
        return std::string(error.what()) + " (--max-pixels)";
    } catch (const IncompletePictureError& error) {
        return std::string(error.what()) + " (--strict)";
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const std::exception& error) {
        return error.what()[0] != '\0' ? error.what() : "Unknown error";
    } catch (...) {
        return "Unknown error";
    }
}

// Draws "[#####.....] 3/10 name" on one terminal line.
void drawProgress(std::ostream& errors, std::size_t done, std::size_t total,
                  const std::string& name) {
    constexpr std::size_t kWidth = 30;
    const std::size_t filled = total == 0 ? kWidth : done * kWidth / total;
    errors << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] " << done
           << '/' << total << ' ' << printable(name.substr(0, 40)) << "\x1b[K" << std::flush;
}

// Lets files settle (be written, or reported as failed) strictly in list order, whichever
// thread finishes first. A file waits for its turn holding at most its own encoded output, so
// the memory held by finished, unwritten outputs is bounded by the number of threads.
class ListOrder {
  public:
    // Waits until every earlier file has settled; false when the run stopped meanwhile.
    bool waitForTurn(std::size_t index) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stopped || m_next == index; });
        return !m_stopped;
    }

    // The file whose turn it is has settled; `stop` ends the run after it.
    void settle(bool stop) {
        std::lock_guard lock(m_mutex);
        ++m_next;
        m_stopped = m_stopped || stop;
        m_changed.notify_all();
    }

    bool stopped() {
        std::lock_guard lock(m_mutex);
        return m_stopped;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_next = 0;
    bool m_stopped = false;
};

// Thrown from the hook before writing when the run stopped: the file is dropped unwritten.
struct Abandoned {};

class Run {
  public:
    Run(const Options& options, std::vector<Job> jobs, std::ostream& out, std::ostream& errors,
        bool progressBar, bool skipped)
        : m_options(options),
          m_jobs(std::move(jobs)),
          m_out(out),
          m_errors(errors),
          m_progressBar(progressBar),
          m_failed(skipped) {}

    // Resizes every job on `threads` threads; returns the exit status.
    int execute(int threads) {
        m_request = m_options.request;
        // Files running side by side already use the cores; each resamples on its own thread.
        m_request.resampleThreads = threads > 1 ? 1 : 0;
        for (const Job& job : m_jobs) {
            if (const std::optional<FileIdentity> identity = fileIdentity(job.source)) {
                m_sources.push_back(*identity);
            }
        }
        m_request.runSources = m_sources;
        {
            std::vector<std::jthread> workers;
            for (int t = 1; t < threads; ++t) {
                workers.emplace_back([this] { work(); });
            }
            work();
        }
        if (m_progressBar) {
            m_errors << '\n';
        }
        return m_failed ? 1 : 0;
    }

  private:
    void work() {
        for (;;) {
            const std::size_t index = m_nextJob.fetch_add(1);
            if (index >= m_jobs.size() || m_order.stopped()) {
                return;
            }
            process(index);
        }
    }

    void process(std::size_t index) {
        const Job& job = m_jobs[index];
        bool holdsTurn = false;
        std::string error = job.refusal;
        ResizeResult result;
        try {
            if (error.empty()) {
                result = resizeFile(job.source, job.output, m_request, [&] {
                    holdsTurn = m_order.waitForTurn(index);
                    if (!holdsTurn) {
                        throw Abandoned{};
                    }
                    // A failure to create them is reported by the write that follows.
                    std::error_code ignored;
                    fs::create_directories(job.output.parent_path(), ignored);
                });
            }
        } catch (const Abandoned&) {
            return;
        } catch (...) {
            error = messageOf(std::current_exception());
        }
        if (!holdsTurn && !m_order.waitForTurn(index)) {
            return;
        }
        const bool stop = report(index, error, result);
        m_order.settle(stop);
    }

    // Prints the outcome of the file whose turn it is; true when the run stops after it.
    bool report(std::size_t index, const std::string& error, const ResizeResult& result) {
        const Job& job = m_jobs[index];
        const std::string source = printable(job.source.string());
        if (m_progressBar) {
            m_errors << '\r' << "\x1b[K";
        }
        if (!error.empty()) {
            m_errors << source << ": " << printable(error) << '\n';
            m_failed = true;
            if (!m_options.keepGoing) {
                return true;
            }
        } else {
            if (result.incomplete) {
                m_errors
                    << source
                    << ": warning: the picture's data ends early; the missing part is filled\n";
            }
            if (!m_options.quiet && !m_progressBar) {
                m_out << source << " -> " << printable(job.output.string()) << '\n';
            }
        }
        if (m_progressBar) {
            drawProgress(m_errors, index + 1, m_jobs.size(), job.source.filename().string());
        }
        return false;
    }

    const Options& m_options;
    const std::vector<Job> m_jobs;
    std::ostream& m_out;
    std::ostream& m_errors;
    const bool m_progressBar;
    ResizeRequest m_request;
    ListOrder m_order;
    std::atomic<std::size_t> m_nextJob{0};
    std::vector<FileIdentity> m_sources;  // no output may replace one of them
    bool m_failed;  // a file was skipped; later written only by the file whose turn it is
};

}  // namespace

int runFiles(const Options& options, std::ostream& out, std::ostream& errors, bool progressBar) {
    // Outputs are never written through a link in the folder they go to, as a "resized" that
    // is a link could lead them anywhere; a --output-dir the user named as a link is meant.
    Options resolved = options;
    if (resolved.outputFolder) {
        fs::path folder = resolved.outputFolder->lexically_normal();
        if (!folder.has_filename()) {
            folder = folder.parent_path();
        }
        std::error_code error;
        if (fs::is_symlink(folder, error)) {
            if (fs::path target = fs::canonical(folder, error); !error) {
                resolved.outputFolder = std::move(target);
            }
        }
    }
    JobList list = listJobs(resolved, errors);
    std::vector<Job>& jobs = list.jobs;
    const int threads = std::clamp(options.jobs, 1, std::max(1, static_cast<int>(jobs.size())));
    return Run(resolved, std::move(jobs), out, errors, progressBar, list.skipped > 0)
        .execute(threads);
}

}  // namespace tz::cli
