// How the command line tells of the analysis outputs (summary.csv and the report, written by
// AnalysisOutputs) and of each log's cleaning in JSON.
#pragma once

#include <filesystem>
#include <string>

#include "analysis_outputs.hpp"
#include "convert.hpp"
#include "progress_sink.hpp"
#include "report.hpp"

namespace vornakite::cli {

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
// Then the field's numbers, estimated (null where not known): "swath_m", "swath_set",
// "area_ha", "area_ac", "yield_mean_bu_ac", "yield_plain_mean_bu_ac", "yield_mean_t_ha",
// "production_bu", "production_t", "standard_moisture_pct", "dry_yield_mean_bu_ac",
// "dry_production_bu", "numbers_notes". Last the lags: "flow_lag" and "moisture_lag" (samples
// undone, null where none), "flow_lag_confidence" and "moisture_lag_confidence" (0 when not
// found, null when set or off).
std::string cleaningJsonFields(const LogOutcome& outcome);
void appendLagJson(std::string& out, const analysis::CleaningResult& cleaning);
void appendNumbersJson(std::string& out, const analysis::FieldNumbers& numbers);

// "analysis_error" and "analysis_error_code" ("out_of_memory") on a log whose analysis was
// given up for lack of memory; "" otherwise.
std::string outOfMemoryJsonFields(const LogOutcome& outcome);

// "warnings" (a list) on the last log of a merged set whose logs lie far apart; "" otherwise.
std::string warningJsonFields(const LogOutcome& outcome);

}  // namespace vornakite::cli
