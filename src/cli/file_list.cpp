// Listing the command line's files and where their outputs go.
#include "file_list.h"

#include <algorithm>
#include <map>
#include <ostream>
#include <system_error>

#include "printable.h"
#include "tz/picture_format.h"
#include "tz/resize.h"

namespace tz::cli {

namespace {

namespace fs = std::filesystem;

bool isPicture(const fs::path& file) {
    return resizedFormatOf(file.filename().string()).has_value();
}

// Collects the pictures under `folder` (the walk's `top`) in a stable order.
class FolderWalk {
  public:
    FolderWalk(const Options& options, const fs::path& top, std::vector<Job>& jobs)
        : m_options(options), m_top(top), m_jobs(jobs) {}

    void walk(const fs::path& folder) {
        std::error_code error;
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            entries.push_back(*it);
        }
        if (error) {
            m_jobs.push_back({folder, {}, "Cannot read the folder: " + error.message()});
            return;
        }
        // Byte order of the names, so that runs over the same tree are reproducible.
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a.path().filename().native() < b.path().filename().native();
        });
        for (const fs::directory_entry& entry : entries) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with('.')) {
                continue;
            }
            std::error_code statusError;
            const fs::file_status status = entry.symlink_status(statusError);
            if (fs::is_directory(status)) {
                if (name != kOutputFolder) {
                    walk(entry.path());
                }
            } else if (!fs::is_symlink(status) || !fs::is_directory(entry.status(statusError))) {
                if (isPicture(entry.path())) {
                    m_jobs.push_back({entry.path(), outputOf(entry.path()), {}});
                }
            }
        }
    }

  private:
    fs::path outputOf(const fs::path& source) const {
        const std::optional<PictureFormat> format = m_options.request.outputFormat;
        if (m_options.outputFolder) {
            return *m_options.outputFolder / source.parent_path().lexically_relative(m_top) /
                   outputNameFor(source, format);
        }
        return outputPathFor(source, format);
    }

    const Options& m_options;
    const fs::path m_top;
    std::vector<Job>& m_jobs;
};

// The same output spelt differently ("a.jpg", "./a.jpg", through a linked folder) compares
// equal here.
fs::path outputKey(const fs::path& output) {
    std::error_code error;
    fs::path key = fs::weakly_canonical(fs::absolute(output, error), error);
    return error ? fs::absolute(output, error).lexically_normal() : key;
}

void refuseSharedOutputs(std::vector<Job>& jobs) {
    std::map<fs::path, const Job*> firstWriter;
    for (Job& job : jobs) {
        if (!job.refusal.empty()) {
            continue;
        }
        const auto [found, inserted] = firstWriter.emplace(outputKey(job.output), &job);
        if (!inserted) {
            job.refusal = "not written: " + job.output.string() + " is already the output of " +
                          found->second->source.string();
        }
    }
}

}  // namespace

JobList listJobs(const Options& options, std::ostream& errors) {
    JobList list;
    std::vector<Job>& jobs = list.jobs;
    for (const std::string& name : options.files) {
        const fs::path source(name);
        std::error_code error;
        if (options.recursive && fs::is_directory(source, error)) {
            FolderWalk(options, source, jobs).walk(source);
            continue;
        }
        if (!isPicture(source)) {
            errors << printable(name) << ": skipped: not a " << resizedExtensionList() << " file\n";
            ++list.skipped;
            continue;
        }
        const std::optional<PictureFormat> format = options.request.outputFormat;
        jobs.push_back({source,
                        options.outputFolder ? *options.outputFolder / outputNameFor(source, format)
                                             : outputPathFor(source, format),
                        {}});
    }
    refuseSharedOutputs(jobs);
    return list;
}

}  // namespace tz::cli
