// What --summary and --report write beside a batch's sets: summary.csv in the output folder and
// the HTML report, each as a temporary moved into place when the batch is done, or not at all.
// The report grows as each log is converted, so no more than one log's points are held at once.
#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analysis/report.hpp"
#include "analysis/summary.hpp"
#include "analysis_options.hpp"
#include "convert.hpp"
#include "options.hpp"
#include "progress_sink.hpp"
#include "report.hpp"
#include "write/output_transaction.hpp"

namespace vornakite::cli {

class AnalysisOutputs {
  public:
    // One file and what became of it.
    struct File {
        bool wanted = false;
        std::filesystem::path path;
        bool written = false;
        std::string error;  // why it was not written
    };

    AnalysisOutputs(const AnalysisOptions& options, const std::filesystem::path& outputFolder);
    ~AnalysisOutputs();

    // Works out a log's summary row and report section as soon as the filters have judged it,
    // while its sets are written (ConversionOptions::whileWriting); logDone then adds them if
    // the log converted. May be called from any thread.
    void prepare(const std::filesystem::path& basePath, const AnalysedLog& log);
    // Each log's outcome, in input order: a converted log's summary row and report section.
    void logDone(const LogOutcome& outcome);
    // Writes summary.csv and completes the report, when any log was converted.
    void finish();

    const File& summary() const { return summary_; }
    const File& report() const { return report_; }
    bool failed() const { return !summary_.error.empty() || !report_.error.empty(); }

  private:
    class ReportFile;

    struct Prepared {
        analysis::FieldSummary field;
        std::string section;  // empty without a report
    };
    Prepared work(const std::filesystem::path& basePath, const AnalysedLog& log);

    File summary_;
    File report_;
    std::vector<analysis::FieldSummary> fields_;
    std::unique_ptr<ReportFile> reportFile_;
    // Prepared logs by their analysis (one that then failed is replaced when the address comes
    // back, or dropped at the end).
    std::mutex mutex_;
    std::map<const AnalysedLog*, Prepared> prepared_;
};

// Passes the batch's lines on to `inner` and, when the batch is done, first completes the
// outputs and tells of them: in lines "Summary written to Rx/summary.csv." and "Report written
// to FILE.", an error line (also when quiet) for one that failed, and in JSON the keys
// "summary" and "report" (the paths, or null) and "summary_error" and "report_error" on the
// batch's object.
class AnalysisSink : public ProgressSink {
  public:
    AnalysisSink(BatchReport& inner, AnalysisOutputs& outputs, Report form,
                 std::filesystem::path folderLabel);
    void postLine(std::wstring text) override;
    void postBatchDone(int successCount) override;

  private:
    BatchReport& inner_;
    AnalysisOutputs& outputs_;
    Report form_;
    std::filesystem::path folderLabel_;
};

// The cleaning counts of a log for its JSON object: "kept", "removed", "removed_by" (points per
// filter code), "cleaning_note" and "cleaning_warnings"; null for a log that failed.
std::string cleaningJsonFields(const LogOutcome& outcome);

}  // namespace vornakite::cli
