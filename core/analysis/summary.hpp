// The numbers of one cleaned log, and the summary table of a batch as CSV.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "analysis/cleaning.hpp"
#include "analysis/field_numbers.hpp"
#include "analysis/geo.hpp"
#include "model/point_store.hpp"

namespace vornakite::analysis {

// Yield statistics of a set of points (bushels, as Yield_bu); NaN where there is no finite yield.
struct YieldStats {
    std::size_t count = 0;  // points with a finite yield
    double mean, median, min, max;
    double cv;  // coefficient of variation, percent (population SD / mean)
};

struct FieldSummary {
    std::string setName;
    std::size_t points = 0;
    std::size_t kept = 0;
    std::array<std::size_t, kFilterCount> removedBy{};  // points each filter flagged
    YieldStats before;                                  // all points
    YieldStats after;                                   // kept points
    double meanMoisture;                                // kept points, percent
    double medianSpeed;                                 // kept points, mph
    BoundingBox box;                                    // kept points with a valid position
    std::vector<ThresholdUsed> thresholds;
    std::string note;  // why the log could not be judged, or ""
    // The log's file name; "" in the row of a merged set, which sums up all its logs.
    std::string log;
    std::optional<FieldNumbers> numbers;  // the field's numbers, when worked out
    LagFound lag;                         // the lags found and undone; all judged logs
    // False for a log that was not analysed (the note says why): its counts of kept and removed
    // points are left empty.
    bool analysed = true;
};

FieldSummary summarizeField(std::string setName, PointView points, const CleaningResult& result);

// summary.csv: a header row, then one row per log. RFC 4180: fields with a comma, quote, CR
// or LF are quoted with quotes doubled; rows end in CRLF, as the RFC and spreadsheets expect.
// Numbers are plain C-locale decimals; a missing value is an empty field. Thresholds get one
// column each, named after their option, empty where the filter did not run; the column
// "overridden" lists the options the user set. After those, "log" and the field's numbers
// (estimated; empty where not known): swath_m, swath_set, area_ha, area_ac, yield_mean_bu_ac
// (area-weighted, kept points), yield_mean_t_ha, production_bu, production_t,
// standard_moisture_pct, dry_yield_mean_bu_ac, dry_production_bu, numbers_note. Then the filters
// added later (removed_TRN, removed_NOV) and the lags: flow_lag_samples and
// moisture_lag_samples (empty where none was undone), flow_lag_confidence and
// moisture_lag_confidence (0 when none was found, empty when the lag was set or off). The
// "after" figures are those of the kept records as the clean set holds them (the lag undone).
void writeSummaryCsv(std::ostream& out, std::span<const FieldSummary> fields);

}  // namespace vornakite::analysis
