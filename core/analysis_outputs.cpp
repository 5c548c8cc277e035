#include "analysis_outputs.hpp"

#include <exception>
#include <new>
#include <optional>
#include <ostream>
#include <utility>

#include "analysis/log_numbers.hpp"
#include "analysis/report.hpp"
#include "own_files.hpp"
#include "text/text.hpp"
#include "write/output_transaction.hpp"
#include "write/text_output.hpp"

namespace vornakite {
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
    void commit(const EntryCheck& check) {
        report_->finish();
        output_.finish();
        transaction_.commit(path_, true, check);
    }

  private:
    std::filesystem::path path_;
    OutputTransaction transaction_;
    StreamedOutput output_;
    std::ostream stream_;
    std::optional<analysis::HtmlReport> report_;
};

AnalysisOutputs::AnalysisOutputs(const AnalysisOutputOptions& options,
                                 const std::filesystem::path& outputFolder) {
    summary_.wanted = options.summary;
    summary_.path = outputFolder / "summary.csv";
    report_.wanted = !options.report.empty();
    report_.path = options.report;
    force_ = options.force;
    noClobber_ = options.noClobber;
}

AnalysisOutputs::~AnalysisOutputs() = default;

AnalysisOutputs::Prepared AnalysisOutputs::work(const std::filesystem::path& basePath,
                                                const AnalysedLog& log,
                                                const std::function<void()>& awaitNumbers) {
    Prepared p;
    p.field =
        analysis::summarizeField(toUtf8(pathText(basePath.filename())), log.points, log.cleaning);
    p.field.log = log.logName;
    std::optional<analysis::ReportSection> section;
    if (report_.wanted) {
        // The set's name is the section's id: unique in the batch, and the same with any -j.
        analysis::SectionExtras extras;
        extras.logNames = std::span<const std::string>(&log.logName, 1);
        section =
            analysis::reportSection(p.field.setName, p.field, log.points, log.cleaning, extras);
    }
    awaitNumbers();
    if (log.numbers) {
        p.field.numbers = log.numbers->numbers;
        if (section) {
            section->summary.numbers = p.field.numbers;
            if (log.numbers->surface) {
                section->surface = analysis::surfaceLayer(*log.numbers->surface, section->map);
            }
        }
    }
    if (section) {
        p.section = analysis::renderSection(*section);
    }
    return p;
}

namespace {

// The logs of a merged set one after another, as one log: their points, the filters' verdicts
// (each log judged on its own), the counts summed, and where each log begins.
struct MergedLogs {
    std::vector<YieldPoint> points;
    analysis::CleaningResult cleaning;
    std::vector<std::uint8_t> kept;
    std::vector<std::size_t> starts;
};

MergedLogs mergeLogs(const MergedAnalysis& merged) {
    MergedLogs m;
    for (const auto& log : merged.logs) {
        m.starts.push_back(m.points.size());
        const analysis::CleaningResult& r = log->cleaning;
        // The records as the clean and removed sets hold them (each log's lag undone).
        for (std::size_t i = 0; i < log->points.size(); ++i) {
            m.points.push_back(r.lag.record(log->points, i));
        }
        m.cleaning.flags.insert(m.cleaning.flags.end(), r.flags.begin(), r.flags.end());
        for (std::size_t f = 0; f < r.flagged.size(); ++f) {
            m.cleaning.flagged[f] += r.flagged[f];
        }
        m.cleaning.kept += r.kept;
        m.cleaning.removed += r.removed;
        m.cleaning.warnings.insert(m.cleaning.warnings.end(), r.warnings.begin(), r.warnings.end());
    }
    m.kept.resize(m.points.size());
    for (std::size_t i = 0; i < m.kept.size(); ++i) {
        m.kept[i] = m.cleaning.flags[i] == 0 ? 1 : 0;
    }
    return m;
}

}  // namespace

void AnalysisOutputs::mergedDone(const LogOutcome& outcome) {
    const MergedAnalysis& merged = *outcome.merged;
    if (!mergedDone_.insert(&merged).second) {
        return;  // the set's rows and section went with its first log
    }
    const std::string setName = toUtf8(pathText(outcome.basePath.filename()));
    const MergedLogs m = mergeLogs(merged);
    analysis::FieldSummary whole = analysis::summarizeField(setName, m.points, m.cleaning);
    analysis::LogNumbersOptions options;
    const AnalysedLog& first = *merged.logs.front();
    if (first.numbers) {
        const analysis::FieldNumbers& n = first.numbers->numbers;
        options.field.swathMetres =
            n.swathSet ? std::optional<double>(n.swathMetres) : std::nullopt;
        options.field.standardMoisture =
            n.standardSet ? std::optional<double>(n.standardMoisture) : std::nullopt;
    }
    whole.numbers = analysis::logNumbers(m.points, m.kept, first.crop, options).numbers;
    if (report_.wanted) {
        analysis::SectionExtras extras;
        extras.surface = merged.surface.get();
        extras.logNames = merged.logNames;
        extras.logStarts = m.starts;
        extras.warnings = merged.warnings;
        addSection(analysis::HtmlReport::section(setName, whole, m.points, m.cleaning, extras));
    }
    if (summary_.wanted) {
        fields_.push_back(std::move(whole));
        for (std::size_t k = 0; k < merged.logs.size(); ++k) {
            const AnalysedLog& log = *merged.logs[k];
            analysis::FieldSummary row =
                analysis::summarizeField(setName, log.points, log.cleaning);
            row.log = merged.logNames[k];
            if (log.numbers) {
                row.numbers = log.numbers->numbers;
            }
            fields_.push_back(std::move(row));
        }
    }
}

void AnalysisOutputs::addSection(const std::string& section) {
    if (!report_.wanted || !report_.error.empty()) {
        return;
    }
    // A report that cannot be written is given up; the conversion goes on.
    try {
        if (!reportFile_) {
            reportFile_ = std::make_unique<ReportFile>(report_.path);
        }
        reportFile_->add(section);
    } catch (const std::exception& e) {
        report_.error = e.what();
        report_.code = failureOf(e).code;
        reportFile_.reset();
    }
}

void AnalysisOutputs::prepare(const std::filesystem::path& basePath, const AnalysedLog& log,
                              const std::function<void()>& awaitNumbers) {
    try {
        Prepared p = work(basePath, log, awaitNumbers);
        const std::lock_guard<std::mutex> lock(mutex_);
        prepared_.insert_or_assign(&log, std::move(p));
    } catch (const std::exception&) {
        // Left to logDone, which works it out again.
    }
}

// The row and section of a log whose analysis was given up: its name, its points and the note.
void AnalysisOutputs::unanalysed(const std::filesystem::path& basePath, const std::string& logName,
                                 std::uint64_t points) {
    outOfMemory_ = true;
    const std::string setName = toUtf8(pathText(basePath.filename()));
    if (report_.wanted) {
        addSection(analysis::renderUnanalysedSection(setName, setName, logName, points,
                                                     kAnalysisOutOfMemoryNote));
    }
    if (summary_.wanted) {
        analysis::FieldSummary row = analysis::summarizeField(setName, {}, {});
        row.points = static_cast<std::size_t>(points);
        row.analysed = false;
        row.note = kAnalysisOutOfMemoryNote;
        row.log = logName;
        fields_.push_back(std::move(row));
    }
}

void AnalysisOutputs::logDone(const LogOutcome& outcome) {
    if (outcome.converted && outcome.analysisOutOfMemory) {
        unanalysed(outcome.basePath, outcome.logName, outcome.points);
        return;
    }
    if (!outcome.converted || !outcome.analysed) {
        return;
    }
    if (outcome.merged) {
        try {
            mergedDone(outcome);
        } catch (const std::bad_alloc&) {
            std::uint64_t points = 0;
            for (const auto& log : outcome.merged->logs) {
                points += log->points.size();
            }
            unanalysed(outcome.basePath, {}, points);
        }
        return;
    }
    Prepared p;
    try {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = prepared_.find(outcome.analysed.get());
        if (found != prepared_.end()) {
            p = std::move(found->second);
            prepared_.erase(found);
        }
        // Worked out before the log's name was taken: a name that got a suffix (_2) since,
        // or a log not prepared at all, is worked out now.
        if (p.field.setName != toUtf8(pathText(outcome.basePath.filename()))) {
            p = work(outcome.basePath, *outcome.analysed, [] {});
        }
    } catch (const std::bad_alloc&) {
        unanalysed(outcome.basePath, outcome.analysed->logName, outcome.points);
        return;
    }
    addSection(p.section);
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
            transaction.commit(summary_.path, true,
                               ownFileCheck(OwnFile::summary, force_, noClobber_));
            summary_.written = true;
        } catch (const std::exception& e) {
            summary_.error = e.what();
            summary_.code = failureOf(e).code;
        }
    }
    if (reportFile_) {
        try {
            reportFile_->commit(ownFileCheck(OwnFile::report, force_, noClobber_));
            report_.written = true;
        } catch (const std::exception& e) {
            report_.error = e.what();
            report_.code = failureOf(e).code;
        }
        reportFile_.reset();
    }
}

}  // namespace vornakite
