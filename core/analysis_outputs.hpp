// The analysis outputs beside a batch's sets: summary.csv in the output folder and the HTML
// report, each as a temporary moved into place when the batch is done, or not at all. The report
// grows as each log is converted, so no more than one log's points are held at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "analysis/summary.hpp"
#include "convert.hpp"

namespace vornakite {

// Which analysis outputs a batch writes.
struct AnalysisOutputOptions {
    bool summary = false;          // summary.csv in the output folder
    std::filesystem::path report;  // the HTML report; empty: none
    // What may be replaced (see ownFileCheck): with neither, only an earlier summary or report.
    bool force = false;
    bool noClobber = false;
};

class AnalysisOutputs {
  public:
    // One file and what became of it.
    struct File {
        bool wanted = false;
        std::filesystem::path path;
        bool written = false;
        std::string error;  // why it was not written
        ErrorCode code = ErrorCode::none;
    };

    AnalysisOutputs(const AnalysisOutputOptions& options,
                    const std::filesystem::path& outputFolder);
    ~AnalysisOutputs();

    // Works out a log's summary row and report section as soon as the filters have judged it,
    // while its field's numbers are worked out (ConversionOptions::whileWriting); logDone then
    // adds them if the log converted. May be called from any thread.
    void prepare(const std::filesystem::path& basePath, const AnalysedLog& log,
                 const std::function<void()>& awaitNumbers);
    // Each log's outcome, in input order: a converted log's summary row and report section.
    // The first outcome of a merged set adds the set's row, a row per log and one section for
    // the whole set.
    void logDone(const LogOutcome& outcome);
    // Writes summary.csv and completes the report, when any log was converted.
    void finish();

    const File& summary() const { return summary_; }
    const File& report() const { return report_; }
    bool failed() const { return !summary_.error.empty() || !report_.error.empty(); }
    // Some log's row and section were given up for lack of memory, here or in its conversion
    // (LogOutcome::analysisOutOfMemory); each has a note in their place.
    bool outOfMemory() const { return outOfMemory_; }

  private:
    class ReportFile;

    struct Prepared {
        analysis::FieldSummary field;
        std::string section;  // empty without a report
    };
    // What does not need the field's numbers first, then, once awaitNumbers() returns, the rest.
    Prepared work(const std::filesystem::path& basePath, const AnalysedLog& log,
                  const std::function<void()>& awaitNumbers);
    void mergedDone(const LogOutcome& outcome);
    void addSection(const std::string& section);
    void unanalysed(const std::filesystem::path& basePath, const std::string& logName,
                    std::uint64_t points);

    File summary_;
    File report_;
    bool force_ = false;
    bool noClobber_ = false;
    bool outOfMemory_ = false;
    std::vector<analysis::FieldSummary> fields_;
    std::unique_ptr<ReportFile> reportFile_;
    // Prepared logs by their analysis (one that then failed is replaced when the address comes
    // back, or dropped at the end).
    std::mutex mutex_;
    std::map<const AnalysedLog*, Prepared> prepared_;
    std::set<const MergedAnalysis*> mergedDone_;  // the merged sets whose rows were added
};

}  // namespace vornakite
