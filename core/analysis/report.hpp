// The HTML report: one self-contained file (no network, no external script or font) with, per
// log, a yield map drawn on a canvas from compactly embedded points, a yield histogram (inline
// SVG), the summary table and the filters with the thresholds used. report_model works out what
// a log's section shows, report_html writes it.
#pragma once

#include <cstddef>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "analysis/cleaning.hpp"
#include "analysis/report_html.hpp"
#include "analysis/report_model.hpp"
#include "analysis/summary.hpp"
#include "model/point_store.hpp"

namespace vornakite::analysis {

// Logs are written as they are added, so a batch never holds more than one log's points: the
// constructor writes the page head, addField one log's section, finish the script that draws
// the maps and the end of the page. A log of more than kMaxMapPoints points is drawn from an
// even subsample of them.
class HtmlReport {
  public:
    static constexpr std::size_t kMaxMapPoints = analysis::kMaxMapPoints;

    explicit HtmlReport(std::ostream& out, std::string_view title = "Yield report");
    void addField(const FieldSummary& summary, PointView points, const CleaningResult& result);
    void finish();

    // addField in two steps, so that a log's section can be worked out on another thread: the
    // section's text, with `id` unlike every other section's in the page (a number, or the set's
    // name, which is unique in a batch), then the text added to the page. Sections are added in
    // the order of the log list.
    static std::string section(std::string_view id, const FieldSummary& summary, PointView points,
                               const CleaningResult& result, const SectionExtras& extras = {});
    void addSection(std::string_view text);

  private:
    std::ostream& out_;
    int count_ = 0;
    bool finished_ = false;
};

}  // namespace vornakite::analysis
