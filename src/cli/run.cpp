// Runs the resize entry point over the command line's files, several at a time, settling them
// in list order.
#include "run.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <istream>
#include <mutex>
#include <new>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "file_list.h"
#include "printable.h"
#include "tz/file_io.h"
#include "tz/memory_budget.h"
#include "tz/ordered_run.h"

namespace tz::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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

// "0:42", "12:05", "1:02:03".
std::string clockText(double seconds) {
    const auto whole = static_cast<long long>(std::max(0.0, seconds) + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

// Watches SIGINT, SIGTERM and SIGHUP from construction to destruction: they are blocked in the
// constructing thread and in every thread it starts later, and a thread of its own takes them.
// The first one asks the run to stop (files in flight are abandoned at their write, so no
// temporary file stays); a second one ends the process at once, removing the temporary files
// of the writes in flight.
class SignalWatch {
  public:
    SignalWatch() : m_wake(SIGRTMIN + 1) {
        sigemptyset(&m_signals);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, m_wake}) {
            sigaddset(&m_signals, signal);
        }
        ::pthread_sigmask(SIG_BLOCK, &m_signals, &m_previous);
        m_watcher = std::jthread([this](std::stop_token stop) { watch(stop); });
    }

    ~SignalWatch() {
        m_watcher.request_stop();
        // Sent to the watcher alone, and blocked there until it waits: it cannot be missed.
        ::pthread_kill(m_watcher.native_handle(), m_wake);
        m_watcher.join();
        // A signal that came in the last moments is handled as it would have been without us.
        ::pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }

    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // `stop` is called once on the first signal; at once when one came already.
    void onFirstSignal(std::function<void()> stop) {
        std::lock_guard lock(m_mutex);
        m_stop = std::move(stop);
        if (m_signal != 0) {
            m_stop();
        }
    }

    // The first signal received, or 0.
    int received() const {
        std::lock_guard lock(m_mutex);
        return m_signal;
    }

  private:
    void watch(const std::stop_token& stop) {
        while (!stop.stop_requested()) {
            int signal = 0;
            if (::sigwait(&m_signals, &signal) != 0 || signal == m_wake) {
                continue;
            }
            std::lock_guard lock(m_mutex);
            if (m_signal != 0) {
                removeInFlightTemporaryFiles();
                ::_exit(128 + signal);
            }
            m_signal = signal;
            if (m_stop) {
                m_stop();
            }
        }
    }

    const int m_wake;  // a real-time signal that only ends the watcher's wait
    sigset_t m_signals{};
    sigset_t m_previous{};
    mutable std::mutex m_mutex;
    int m_signal = 0;              // guarded by m_mutex
    std::function<void()> m_stop;  // guarded by m_mutex
    std::jthread m_watcher;        // declared last: started once the rest is ready
};

// What the run did, counted as its files settle.
struct Tally {
    std::size_t written = 0;
    std::size_t failed = 0;
    std::size_t skipped = 0;
    std::uint64_t pixels = 0;  // of the sources written
};

class Run {
  public:
    Run(const Options& options, std::vector<Job> jobs, std::size_t skipped, std::ostream& out,
        std::ostream& errors, bool progressBar)
        : m_options(options),
          m_jobs(std::move(jobs)),
          m_results(m_jobs.size()),
          m_out(out),
          m_errors(errors),
          m_progressBar(progressBar) {
        m_tally.skipped = skipped;
    }

    // Resizes every job; returns the exit status.
    int execute(SignalWatch& signals) {
        OrderedRun run(
            m_jobs.size(), m_options.jobs,
            [this](std::size_t index, const BeforeWrite& beforeWrite) {
                resize(index, beforeWrite);
            },
            [this](std::size_t index, std::exception_ptr error) { return settle(index, error); });
        m_request = m_options.request;
        // Files running side by side already use the cores; each one keeps to its thread.
        m_request.threadsPerFile = m_options.threadsPerFile > 0 ? m_options.threadsPerFile
                                   : run.jobs() > 1             ? 1
                                                                : 0;
        for (const Job& job : m_jobs) {
            if (const std::optional<FileIdentity> identity = fileIdentity(job.source)) {
                m_sources.push_back(*identity);
            }
        }
        m_request.runSources = m_sources;
        m_start = Clock::now();
        signals.onFirstSignal([&run] { run.requestStop(); });
        if (signals.received() == 0) {
            run.run();
        }
        if (m_progressBar && m_settled > 0) {
            m_errors << '\r' << "\x1b[K";
        }
        const int signal = signals.received();
        // A stopped run says what it left undone even when quiet.
        if (signal != 0 || (!m_options.quiet && m_jobs.size() + m_tally.skipped > 1)) {
            m_errors << summary(signal != 0) << '\n';
        }
        if (signal != 0) {
            return 128 + signal;
        }
        return m_tally.failed + m_tally.skipped > 0 ? 1 : 0;
    }

  private:
    // A worker's step: resizes the file, writing it in its turn.
    void resize(std::size_t index, const BeforeWrite& beforeWrite) {
        const Job& job = m_jobs[index];
        if (!job.refusal.empty()) {
            throw Error(job.refusal);
        }
        m_results[index] = resizeFile(job.source, job.output, m_request, [&] {
            beforeWrite();
            // The folders above the output's own, for --output-dir and --recursive; resizeFile
            // makes the last one itself. A failure is reported by the write that follows.
            std::error_code ignored;
            fs::create_directories(job.output.parent_path().parent_path(), ignored);
        });
    }

    // Reports the file whose turn it is; true when the run stops after it.
    bool settle(std::size_t index, const std::exception_ptr& error) {
        const Job& job = m_jobs[index];
        const std::string source = printable(job.source.string());
        ++m_settled;
        if (m_progressBar) {
            m_errors << '\r' << "\x1b[K";
        }
        bool stop = false;
        if (error) {
            m_errors << source << ": " << printable(messageOf(error)) << '\n';
            ++m_tally.failed;
            stop = !m_options.keepGoing;
        } else {
            const ResizeResult& result = m_results[index];
            if (result.incomplete) {
                m_errors
                    << source
                    << ": warning: the picture's data ends early; the missing part is filled\n";
            }
            ++m_tally.written;
            m_tally.pixels += static_cast<std::uint64_t>(result.sourceSize.width) *
                              static_cast<std::uint64_t>(result.sourceSize.height);
            if (!m_options.quiet && !m_progressBar) {
                m_out << source << " -> " << printable(job.output.string()) << '\n';
            }
        }
        if (m_progressBar && !stop) {
            drawProgress(job.source.filename().string());
        }
        return stop;
    }

    // "[#####.....] 3/10 12.5 MP/s 0:42 left name" on one terminal line.
    void drawProgress(const std::string& name) {
        constexpr std::size_t kWidth = 30;
        const std::size_t total = m_jobs.size();
        const std::size_t filled = total == 0 ? kWidth : m_settled * kWidth / total;
        m_errors << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] "
                 << m_settled << '/' << total;
        const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
        if (elapsed > 0 && m_settled > 0) {
            char rate[32];
            std::snprintf(rate, sizeof rate, " %.1f MP/s",
                          static_cast<double>(m_tally.pixels) / 1e6 / elapsed);
            m_errors << rate;
            if (m_settled < total) {
                const double left = elapsed / static_cast<double>(m_settled) *
                                    static_cast<double>(total - m_settled);
                m_errors << ' ' << clockText(left) << " left";
            }
        }
        m_errors << ' ' << printable(name.substr(0, 40)) << "\x1b[K" << std::flush;
    }

    // "3 written, 1 failed, 1 skipped (2.4 s)", with the files not reached when the run stopped
    // early.
    std::string summary(bool interrupted) const {
        std::ostringstream text;
        if (interrupted) {
            text << "Interrupted: ";
        }
        text << m_tally.written << " written, " << m_tally.failed << " failed, " << m_tally.skipped
             << " skipped";
        if (m_settled < m_jobs.size()) {
            text << ", " << m_jobs.size() - m_settled << " not done";
        }
        text << " (" << secondsText(std::chrono::duration<double>(Clock::now() - m_start).count())
             << ')';
        return text.str();
    }

    const Options& m_options;
    const std::vector<Job> m_jobs;
    std::vector<ResizeResult> m_results;  // each written by its file's step, read when it settles
    std::ostream& m_out;
    std::ostream& m_errors;
    const bool m_progressBar;
    ResizeRequest m_request;
    std::vector<FileIdentity> m_sources;  // no output may replace one of them
    Clock::time_point m_start;
    // Touched by the settling file only.
    Tally m_tally;
    std::size_t m_settled = 0;
};

// Prints where each file would be written; returns the exit status. Files that cannot be read
// and outputs refused are reported as the run would report them.
int dryRun(const Options& options, const JobList& list, std::ostream& out, std::ostream& errors) {
    bool failed = list.skipped > 0;
    for (const Job& job : list.jobs) {
        const std::string source = printable(job.source.string());
        if (!job.refusal.empty()) {
            errors << source << ": " << printable(job.refusal) << '\n';
            failed = true;
        } else if (::access(job.source.c_str(), R_OK) != 0) {
            // As the run would say it.
            errors << source << ": Cannot open " << source << ": " << std::strerror(errno) << '\n';
            failed = true;
        } else if (!options.quiet) {
            out << source << " -> " << printable(job.output.string()) << '\n';
        }
    }
    return failed ? 1 : 0;
}

// The names of a --files-from list: lines, or NUL-terminated names; empty ones are left out.
std::vector<std::string> readNameList(std::istream& in, bool nullSeparated) {
    std::vector<std::string> names;
    std::string name;
    while (std::getline(in, name, nullSeparated ? '\0' : '\n')) {
        if (!name.empty()) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

}  // namespace

int runFiles(const Options& given, std::istream& input, std::ostream& out, std::ostream& errors,
             bool progressBar) {
    // Signals are watched from the start: a Ctrl+C while a long list is read or a tree walked
    // stops the run before it starts.
    SignalWatch signals;
    Options options = given;
    if (options.filesFrom) {
        std::ifstream file;
        std::istream* list = &input;
        if (*options.filesFrom != "-") {
            file.open(*options.filesFrom, std::ios::binary);
            if (!file) {
                errors << "zevediz-resize: cannot read " << printable(*options.filesFrom) << ": "
                       << std::strerror(errno) << '\n';
                return 2;
            }
            list = &file;
        }
        for (std::string& name : readNameList(*list, options.nullSeparated)) {
            options.files.push_back(std::move(name));
        }
    }
    // Outputs are never written through a link in the folder they go to, as a "resized" that
    // is a link could lead them anywhere; a --output-dir the user named as a link is meant.
    if (options.outputFolder) {
        fs::path folder = options.outputFolder->lexically_normal();
        if (!folder.has_filename()) {
            folder = folder.parent_path();
        }
        std::error_code error;
        if (fs::is_symlink(folder, error)) {
            if (fs::path target = fs::canonical(folder, error); !error) {
                options.outputFolder = std::move(target);
            }
        }
    }
    JobList list = listJobs(options, errors);
    if (options.dryRun) {
        return dryRun(options, list, out, errors);
    }
    return Run(options, std::move(list.jobs), list.skipped, out, errors, progressBar)
        .execute(signals);
}

}  // namespace tz::cli
