// What vornakite-convert prints while a batch runs: plain lines, only the errors, or JSON.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "console.hpp"
#include "convert.hpp"
#include "options.hpp"
#include "progress_sink.hpp"

namespace vornakite::cli {

// Takes the batch's lines (as its sink) and each log's outcome (as its observer, through
// logDone) and prints them in the chosen form, each line as soon as it is known.
class BatchReport : public ProgressSink {
  public:
    // `logs` are the batch's inputs as given; `outputFolder` is where the sets go.
    BatchReport(Report form, TextOutput& out, const std::vector<std::filesystem::path>& logs,
                std::filesystem::path outputFolder);

    void postLine(std::wstring text) override;
    void postBatchDone(int successCount) override;
    void logDone(std::size_t index, const LogOutcome& outcome);

    // With JSON, more keys for each log's object (from its outcome) and for the batch's object:
    // text that starts with ", " and is added before the closing brace.
    std::function<std::string(const LogOutcome&)> logFields;
    std::string batchFields;

  private:
    // One printed line: controls and line separators escaped (a file name may hold a line
    // feed), so that one posted line is always one printed line.
    void writeLine(const std::wstring& text);

    Report form_;
    TextOutput& out_;
    const std::vector<std::filesystem::path>& logs_;
    std::filesystem::path outputFolder_;
    std::size_t logsDone_ = 0;
};

}  // namespace vornakite::cli
