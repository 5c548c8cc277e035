#include "report.hpp"

#include <utility>

#include "json.hpp"
#include "text/escape.hpp"
#include "text/text.hpp"

namespace vornakite::cli {
namespace {

// The failure's code, line and field as JSON keys, each null where there is none.
std::string errorCodeFields(const LogOutcome& outcome) {
    auto numberOrNull = [](const auto& value) {
        return value ? std::to_string(*value) : std::string("null");
    };
    std::string fields = ", \"error_code\": ";
    if (outcome.converted) {
        fields += "null";
    } else {
        appendJsonString(fields, std::string_view(errorCodeName(outcome.errorCode)));
    }
    fields += ", \"line\": " + numberOrNull(outcome.errorPlace.line);
    fields += ", \"field\": " + numberOrNull(outcome.errorPlace.field);
    return fields;
}

}  // namespace

BatchReport::BatchReport(Report form, TextOutput& out,
                         const std::vector<std::filesystem::path>& logs,
                         std::filesystem::path outputFolder)
    : form_(form), out_(out), logs_(logs), outputFolder_(std::move(outputFolder)) {}

void BatchReport::writeLine(const std::wstring& text) {
    out_.write(escape(text, Escape::Console) + "\n");
}

void BatchReport::postLine(std::wstring text) {
    // Quietly, only the lines that come once every log is done: the summary.
    if (form_ == Report::Lines || (form_ == Report::Quiet && logsDone_ == logs_.size())) {
        writeLine(text);
    }
}

void BatchReport::logDone(std::size_t index, const LogOutcome& outcome) {
    ++logsDone_;
    const std::filesystem::path& log = logs_.at(index);
    if (form_ == Report::Quiet && !outcome.converted) {
        // Without its Processing line, the error line names the log itself.
        writeLine(L"Error: " + pathText(log) + L": " + widenText(outcome.error));
    } else if (form_ == Report::Quiet && outcome.analysisOutOfMemory) {
        writeLine(L"Error: " + pathText(log) + L": " + widenText(kAnalysisOutOfMemoryLine));
    } else if (form_ == Report::Json) {
        std::string line = "{\"log\": ";
        appendJsonPath(line, log);
        line += outcome.converted ? ", \"status\": \"ok\", \"set\": "
                                  : ", \"status\": \"error\", \"set\": ";
        if (outcome.converted) {
            appendJsonPath(line, outcome.basePath);
        } else {
            line += "null";
        }
        line += ", \"points\": " + std::to_string(outcome.points) + ", \"error\": ";
        if (outcome.converted) {
            line += "null";
        } else {
            appendJsonString(line, widenText(outcome.error));
        }
        line += errorCodeFields(outcome);
        if (logFields) {
            line += logFields(outcome);
        }
        out_.write(line + "}\n");
    }
}

void BatchReport::postBatchDone(int successCount) {
    if (form_ == Report::Json) {
        std::string line = "{\"converted\": " + std::to_string(successCount) +
                           ", \"total\": " + std::to_string(logs_.size()) + ", \"output\": ";
        appendJsonPath(line, outputFolder_);
        out_.write(line + batchFields + "}\n");
    }
}

}  // namespace vornakite::cli
