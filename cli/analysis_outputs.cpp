#include "analysis_outputs.hpp"

#include <exception>
#include <optional>
#include <ostream>
#include <utility>

#include "json.hpp"
#include "text/text.hpp"
#include "write/text_output.hpp"

namespace vornakite::cli {
namespace {

constexpr OutputMessages kSummaryMessages = {"Failed to create summary.csv",
                                             "Failed to write summary.csv"};
constexpr OutputMessages kReportMessages = {"Failed to create the report",
                                            "Failed to write the report"};

}  // namespace

// The report as it grows: its temporary, and the stream the report is written through.
class AnalysisOutputs::ReportFile {
  public:
    explicit ReportFile(const std::filesystem::path& path)
        : path_(path),
          transaction_(path.parent_path(), nullptr),
          output_(transaction_, L"", kReportMessages),
          stream_(&output_) {
        transaction_.open();
        report_.emplace(stream_);
    }
    void add(const std::string& section) { report_->addSection(section); }
    void commit() {
        report_->finish();
        output_.finish();
        transaction_.commit(path_);
    }

  private:
    std::filesystem::path path_;
    OutputTransaction transaction_;
    StreamedOutput output_;
    std::ostream stream_;
    std::optional<analysis::HtmlReport> report_;
};

AnalysisOutputs::AnalysisOutputs(const AnalysisOptions& options,
                                 const std::filesystem::path& outputFolder) {
    summary_.wanted = options.summary;
    summary_.path = outputFolder / "summary.csv";
    report_.wanted = !options.report.empty();
    report_.path = options.report;
}

AnalysisOutputs::~AnalysisOutputs() = default;

AnalysisOutputs::Prepared AnalysisOutputs::work(const std::filesystem::path& basePath,
                                                const AnalysedLog& log) {
    Prepared p;
    p.field =
        analysis::summarizeField(toUtf8(pathText(basePath.filename())), log.points, log.cleaning);
    if (report_.wanted) {
        // The set's name is the section's id: unique in the batch, and the same with any -j.
        p.section =
            analysis::HtmlReport::section(p.field.setName, p.field, log.points, log.cleaning);
    }
    return p;
}

void AnalysisOutputs::prepare(const std::filesystem::path& basePath, const AnalysedLog& log) {
    try {
        Prepared p = work(basePath, log);
        const std::lock_guard<std::mutex> lock(mutex_);
        prepared_.insert_or_assign(&log, std::move(p));
    } catch (const std::exception&) {
        // Left to logDone, which works it out again.
    }
}

void AnalysisOutputs::logDone(const LogOutcome& outcome) {
    if (!outcome.converted || !outcome.analysed) {
        return;
    }
    Prepared p;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = prepared_.find(outcome.analysed.get());
        if (found != prepared_.end()) {
            p = std::move(found->second);
            prepared_.erase(found);
        }
        // Worked out before the log's name was taken: a name that got a suffix (_2) since,
        // or a log not prepared at all, is worked out now.
        if (p.field.setName != toUtf8(pathText(outcome.basePath.filename()))) {
            p = work(outcome.basePath, *outcome.analysed);
        }
    }
    if (report_.wanted && report_.error.empty()) {
        // A report that cannot be written is given up; the conversion goes on.
        try {
            if (!reportFile_) {
                reportFile_ = std::make_unique<ReportFile>(report_.path);
            }
            reportFile_->add(p.section);
        } catch (const std::exception& e) {
            report_.error = e.what();
            reportFile_.reset();
        }
    }
    if (summary_.wanted) {
        fields_.push_back(std::move(p.field));
    }
}

void AnalysisOutputs::finish() {
    prepared_.clear();
    if (summary_.wanted && !fields_.empty()) {
        try {
            OutputTransaction transaction(summary_.path.parent_path(), nullptr);
            StreamedOutput output(transaction, L"", kSummaryMessages);
            transaction.open();
            std::ostream csv(&output);
            analysis::writeSummaryCsv(csv, fields_);
            output.finish();
            transaction.commit(summary_.path);
            summary_.written = true;
        } catch (const std::exception& e) {
            summary_.error = e.what();
        }
    }
    if (reportFile_) {
        try {
            reportFile_->commit();
            report_.written = true;
        } catch (const std::exception& e) {
            report_.error = e.what();
        }
        reportFile_.reset();
    }
}

AnalysisSink::AnalysisSink(BatchReport& inner, AnalysisOutputs& outputs, Report form,
                           std::filesystem::path folderLabel)
    : inner_(inner), outputs_(outputs), form_(form), folderLabel_(std::move(folderLabel)) {}

void AnalysisSink::postLine(std::wstring text) {
    inner_.postLine(std::move(text));
}

void AnalysisSink::postBatchDone(int successCount) {
    outputs_.finish();
    const struct {
        const AnalysisOutputs::File& file;
        const char* key;
        std::wstring shown;  // the path as the lines name it
    } files[] = {
        {outputs_.summary(), "summary", pathText(folderLabel_ / "summary.csv")},
        {outputs_.report(), "report", pathText(outputs_.report().path)},
    };
    std::string fields;
    for (const auto& f : files) {
        if (!f.file.wanted) {
            continue;
        }
        if (form_ == Report::Json) {
            fields += std::string(", \"") + f.key + "\": ";
            if (f.file.written) {
                appendJsonPath(fields, f.file.path);
            } else {
                fields += "null";
            }
            fields += std::string(", \"") + f.key + "_error\": ";
            if (f.file.error.empty()) {
                fields += "null";
            } else {
                appendJsonString(fields, std::string_view(f.file.error));
            }
        } else if (!f.file.error.empty()) {
            inner_.postLine(L"Error: " + f.shown + L": " + widenText(f.file.error));
        } else if (f.file.written && form_ == Report::Lines) {
            inner_.postLine((f.key == std::string_view("summary") ? L"Summary written to "
                                                                  : L"Report written to ") +
                            f.shown + L".");
        }
    }
    inner_.batchFields = fields;
    inner_.postBatchDone(successCount);
}

std::string cleaningJsonFields(const LogOutcome& outcome) {
    if (!outcome.converted || !outcome.analysed) {
        return ", \"kept\": null, \"removed\": null, \"removed_by\": null, \"cleaning_note\": "
               "null, \"cleaning_warnings\": null";
    }
    const analysis::CleaningResult& r = outcome.analysed->cleaning;
    std::string out = ", \"kept\": " + std::to_string(r.kept) +
                      ", \"removed\": " + std::to_string(r.removed) + ", \"removed_by\": {";
    for (const analysis::FilterInfo& f : analysis::kFilterInfo) {
        out += f.filter == analysis::Filter::NonFinite ? "\"" : ", \"";
        out += f.code;
        out += "\": " + std::to_string(r.flaggedBy(f.filter));
    }
    out += "}, \"cleaning_note\": ";
    if (r.judged()) {
        out += "null";
    } else {
        appendJsonString(out, std::string_view(r.note));
    }
    out += ", \"cleaning_warnings\": [";
    for (std::size_t k = 0; k < r.warnings.size(); ++k) {
        out += k > 0 ? ", " : "";
        appendJsonString(out, std::string_view(r.warnings[k]));
    }
    return out + "]";
}

}  // namespace vornakite::cli
