#include "analysis/report.hpp"

namespace vornakite::analysis {

HtmlReport::HtmlReport(std::ostream& out, std::string_view title) : out_(out) {
    out_ << reportPageStart(title);
}

void HtmlReport::addField(const FieldSummary& summary, PointView points,
                          const CleaningResult& result) {
    addSection(section(std::to_string(++count_), summary, points, result));
}

void HtmlReport::addSection(std::string_view text) {
    out_ << text;
}

std::string HtmlReport::section(std::string_view id, const FieldSummary& summary, PointView points,
                                const CleaningResult& result, const SectionExtras& extras) {
    return renderSection(reportSection(id, summary, points, result, extras));
}

void HtmlReport::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    out_ << reportPageEnd();
}

}  // namespace vornakite::analysis
