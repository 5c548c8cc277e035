#include "analysis_sink.hpp"

#include <utility>

#include "analysis/format.hpp"
#include "json.hpp"
#include "text/text.hpp"

namespace vornakite::cli {

AnalysisSink::AnalysisSink(BatchReport& inner, AnalysisOutputs& outputs, Report form,
                           std::filesystem::path folderLabel)
    : inner_(inner), outputs_(outputs), form_(form), folderLabel_(std::move(folderLabel)) {}

void AnalysisSink::postLine(std::wstring text) {
    inner_.postLine(std::move(text));
}

namespace {

// A file's keys on the batch's JSON object: its path or null, why it was not written, and the
// code of that.
void appendFileFields(std::string& fields, const char* key, const AnalysisOutputs::File& file,
                      bool noLog) {
    fields += std::string(", \"") + key + "\": ";
    if (file.written) {
        appendJsonPath(fields, file.path);
    } else {
        fields += "null";
    }
    fields += std::string(", \"") + key + "_error\": ";
    if (!file.error.empty()) {
        appendJsonString(fields, std::string_view(file.error));
    } else {
        fields += noLog ? "\"No log converted\"" : "null";
    }
    fields += std::string(", \"") + key + "_error_code\": ";
    if (!file.error.empty()) {
        appendJsonString(fields, std::string_view(errorCodeName(file.code)));
    } else {
        fields += noLog ? "\"no_log_converted\"" : "null";
    }
}

}  // namespace

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
    std::wstring notWritten;  // the files not written for want of a converted log
    for (const auto& f : files) {
        if (!f.file.wanted) {
            continue;
        }
        // Not written, yet not failed: no log was converted.
        const bool noLog = !f.file.written && f.file.error.empty();
        if (noLog) {
            notWritten += notWritten.empty() ? L"" : L" and ";
            notWritten += f.key == std::string_view("summary") ? L"summary.csv" : L"the report";
        }
        if (form_ == Report::Json) {
            appendFileFields(fields, f.key, f.file, noLog);
        } else if (!f.file.error.empty()) {
            inner_.postLine(L"Error: " + f.shown + L": " + widenText(f.file.error));
        } else if (f.file.written && form_ == Report::Lines) {
            inner_.postLine((f.key == std::string_view("summary") ? L"Summary written to "
                                                                  : L"Report written to ") +
                            f.shown + L".");
        }
    }
    if (!notWritten.empty() && form_ == Report::Lines) {
        const bool both = notWritten.find(L" and ") != std::wstring::npos;
        inner_.postLine(L"No log converted: " + notWritten + (both ? L" were" : L" was") +
                        L" not written.");
    }
    inner_.batchFields = fields;
    inner_.postBatchDone(successCount);
}

std::string cleaningJsonFields(const LogOutcome& outcome) {
    if (!outcome.converted || !outcome.analysed) {
        return ", \"kept\": null, \"removed\": null, \"removed_by\": null, \"cleaning_note\": "
               "null, \"cleaning_warnings\": null, \"flow_lag\": null, \"flow_lag_confidence\": "
               "null, \"moisture_lag\": null, \"moisture_lag_confidence\": null";
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
    out += "]";
    if (outcome.analysed->numbers) {
        appendNumbersJson(out, outcome.analysed->numbers->numbers);
    }
    appendLagJson(out, r);
    return out;
}

void appendLagJson(std::string& out, const analysis::CleaningResult& r) {
    using Mode = analysis::LagSetting::Mode;
    const analysis::LagFound& l = r.lag;
    auto samples = [&](bool found, int lag) {
        return r.judged() && found ? std::to_string(lag) : std::string("null");
    };
    auto confidence = [&](Mode mode, bool found, double c) {
        return r.judged() && mode == Mode::Auto ? analysis::plainNumber(found ? c : 0.0, 2)
                                                : std::string("null");
    };
    out += ", \"flow_lag\": " + samples(l.flowFound, l.flow) +
           ", \"flow_lag_confidence\": " + confidence(l.flowMode, l.flowFound, l.flowConfidence) +
           ", \"moisture_lag\": " + samples(l.moistureFound || l.moistureFollowsFlow, l.moisture) +
           ", \"moisture_lag_confidence\": " +
           confidence(l.moistureMode, l.moistureFound, l.moistureConfidence);
}

namespace {

void appendJsonNumber(std::string& out, const char* key, double v) {
    out += std::string(", \"") + key + "\": ";
    const std::string text = analysis::plainNumber(v, 3);
    out += text.empty() ? "null" : text;
}

}  // namespace

void appendNumbersJson(std::string& out, const analysis::FieldNumbers& r) {
    appendJsonNumber(out, "swath_m", r.swathMetres);
    out += std::string(", \"swath_set\": ") + (r.swathSet ? "true" : "false");
    appendJsonNumber(out, "area_ha", r.areaHectares);
    appendJsonNumber(out, "area_ac", r.areaAcres);
    appendJsonNumber(out, "yield_mean_bu_ac", r.meanYield);
    appendJsonNumber(out, "yield_plain_mean_bu_ac", r.plainMeanYield);
    appendJsonNumber(out, "yield_mean_t_ha", r.meanTonnesPerHectare);
    appendJsonNumber(out, "production_bu", r.totalBushels);
    appendJsonNumber(out, "production_t", r.totalTonnes);
    appendJsonNumber(out, "standard_moisture_pct", r.standardMoisture);
    appendJsonNumber(out, "dry_yield_mean_bu_ac", r.dryMeanYield);
    appendJsonNumber(out, "dry_production_bu", r.dryTotalBushels);
    out += ", \"numbers_notes\": [";
    for (std::size_t k = 0; k < r.notes.size(); ++k) {
        out += k > 0 ? ", " : "";
        appendJsonString(out, std::string_view(r.notes[k]));
    }
    out += "]";
}

std::string outOfMemoryJsonFields(const LogOutcome& outcome) {
    if (!outcome.analysisOutOfMemory) {
        return {};
    }
    std::string out = ", \"analysis_error\": ";
    appendJsonString(out, std::string_view(kAnalysisOutOfMemoryLine));
    out += ", \"analysis_error_code\": ";
    appendJsonString(out, std::string_view(errorCodeName(ErrorCode::outOfMemory)));
    return out;
}

std::string warningJsonFields(const LogOutcome& outcome) {
    if (outcome.warnings.empty()) {
        return {};
    }
    std::string out = ", \"warnings\": [";
    for (std::size_t k = 0; k < outcome.warnings.size(); ++k) {
        out += k > 0 ? ", " : "";
        appendJsonString(out, std::string_view(outcome.warnings[k]));
    }
    return out + "]";
}

}  // namespace vornakite::cli
