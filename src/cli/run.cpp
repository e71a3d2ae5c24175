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
#include <string_view>
#include <thread>
#include <vector>

#include "tz/memory_budget.h"
#include "tz/picture_format.h"

namespace tz::cli {

namespace {

namespace fs = std::filesystem;

struct Job {
    fs::path source;
    fs::path output;
};

std::string messageOf(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const PixelLimitError& error) {
        return std::string(error.what()) + " (--max-pixels)";
    } catch (const IncompletePictureError& error) {
        return std::string(error.what()) + " (--strict)";
    } catch (const std::exception& error) {
        return error.what()[0] != '\0' ? error.what() : "Unknown error";
    } catch (...) {
        return "Unknown error";
    }
}

// The length of the UTF-8 sequence `text` starts with, or 0 when it does not start with one
// (a stray continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8SequenceLength(std::string_view text) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80;  // the range of the second byte
    unsigned char high = 0xBF;
    if (lead < 0x80) {
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || at(1) < low || at(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (at(i) < 0x80 || at(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// `text` as it can be printed on one line without ambiguity: control characters, the backslash
// and bytes that are not UTF-8 become escapes (\n, \t, \r, \\, \xff), so that a name cannot
// break a "FILE: message" line apart or garble the terminal.
std::string printable(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    const auto escape = [&](unsigned char byte) {
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = utf8SequenceLength(text.substr(i));
        // U+0080 to U+009F are control characters too.
        const bool control =
            byte < 0x20 || byte == 0x7F ||
            (byte == 0xC2 && length == 2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (length == 0 || (control && length == 2)) {
            for (std::size_t j = 0; j < std::max<std::size_t>(length, 1); ++j) {
                escape(static_cast<unsigned char>(text[i + j]));
            }
            i += std::max<std::size_t>(length, 1);
            continue;
        }
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (control) {
            escape(byte);
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
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
        for (const Job& job : m_jobs) {
            if (const std::optional<FileIdentity> identity = fileIdentity(job.source)) {
                m_sources.push_back(*identity);
            }
        }
        m_request.runSources = m_sources;
        // Files running side by side already use the cores; each resamples on its own thread.
        m_request.resampleThreads = threads > 1 ? 1 : 0;
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
        std::string error;
        ResizeResult result;
        try {
            result = resizeFile(job.source, job.output, m_request, [&] {
                holdsTurn = m_order.waitForTurn(index);
                if (!holdsTurn) {
                    throw Abandoned{};
                }
            });
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
        if (m_progressBar) {
            m_errors << '\r' << "\x1b[K";
        }
        const std::string source = printable(job.source.string());
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
    std::vector<FileIdentity> m_sources;  // no output may replace one of them
    ResizeRequest m_request;
    ListOrder m_order;
    std::atomic<std::size_t> m_nextJob{0};
    bool m_failed;  // a file was skipped; later written only by the file whose turn it is
};

}  // namespace

int runFiles(const Options& options, std::ostream& out, std::ostream& errors, bool progressBar) {
    std::vector<Job> jobs;
    bool skipped = false;
    for (const std::string& file : options.files) {
        const fs::path source(file);
        if (!resizedFormatOf(source.filename().string())) {
            errors << printable(file) << ": skipped: not a " << resizedExtensionList() << " file\n";
            skipped = true;
            continue;
        }
        jobs.push_back({source, outputPathFor(source)});
    }
    const int threads = std::clamp(options.jobs, 1, std::max(1, static_cast<int>(jobs.size())));
    return Run(options, std::move(jobs), out, errors, progressBar, skipped).execute(threads);
}

}  // namespace tz::cli
