// What one log's section of the HTML report shows, as plain numbers: the yield classes, the
// yield histogram, the map's points (sampled, projected into metres and quantised) and the
// filters' rows. report_html turns it into the page's text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/cleaning.hpp"
#include "analysis/geo.hpp"
#include "analysis/summary.hpp"
#include "model/yield_point.hpp"

namespace vornakite::analysis {

// Yield classes, low to high: ColorBrewer RdYlGn with seven classes.
inline constexpr int kYieldClasses = 7;
inline constexpr std::array<std::string_view, kYieldClasses> kClassColours = {
    "#d73027", "#fc8d59", "#fee08b", "#ffffbf", "#d9ef8b", "#91cf60", "#1a9850"};
// The class a removed point is drawn in.
inline constexpr std::uint8_t kRemovedClass = 7;
inline constexpr int kHistogramBins = 32;
// A log of more points than this is mapped from an even subsample of them.
inline constexpr std::size_t kMaxMapPoints = 200000;

// Class breaks: the 1/7 ... 6/7 quantiles of the kept yields (a sample of them, reordered);
// empty without any.
std::vector<double> classBreaks(std::vector<double>& kept);

// The class of yield `v`: the number of breaks at or below it.
std::uint8_t classOf(double v, const std::vector<double>& breaks);

// The yield histogram's bins, from zero (or the lowest value) to the 99.5th percentile of a
// sample of the finite yields: a few spikes would squash the rest; values beyond land in the
// last bin.
struct YieldHistogram {
    YieldHistogram() = default;
    // The range from `sample` (reordered); no bins when it is empty.
    explicit YieldHistogram(std::vector<double>& sample);
    // Counts `v` in its bin, with the kept or the removed points; ignores a value that is not
    // finite.
    void add(double v, bool isKept);
    // The highest bar: kept and removed together, at least 1.
    std::size_t tallest() const;

    double lo = 0.0, hi = 0.0, width = 0.0;
    std::vector<std::size_t> kept, removed;  // per bin; empty without finite yields
    std::vector<std::uint8_t> classes;       // the class of each bin's centre; empty without breaks
};

// One point as the map draws it.
struct MapPoint {
    std::uint16_t x, y;       // across the map's width and up its height, 0 to 65535
    std::uint8_t yieldClass;  // 0 .. kYieldClasses - 1 for a kept point, else kRemovedClass
    FilterMask flags;         // the filters that flagged it; 0 when kept
};

// The map: the kept points' extent with a margin, in metres of a local projection around the
// kept points (all points when none is kept).
struct YieldMap {
    LocalProjection projection;
    double minX = 0.0, minY = 0.0;     // the lower left corner in the projection
    double width = 0.0, height = 0.0;  // metres
    double dot = 0.0;                  // a point's dot: about their spacing, metres
    std::size_t stride = 1;            // every stride-th point of the log is mapped
    std::size_t offMap = 0;            // removed points that lie off the map and are left off
    std::vector<MapPoint> points;      // in log order
};

// One filter's row in the report's table.
struct FilterRow {
    const FilterInfo* info;
    std::size_t removed;                    // points it flagged
    std::vector<ThresholdUsed> thresholds;  // those it used, in table order
};

// One log's section of the report.
struct ReportSection {
    std::string id;  // unlike every other section's in the page
    FieldSummary summary;
    std::vector<std::string> warnings;  // the cleaning's
    std::vector<double> breaks;         // kYieldClasses - 1 class breaks, or none
    YieldHistogram histogram;
    YieldMap map;
    std::vector<FilterRow> filters;  // every filter, in table order
};

// Works out the section of a log whose points `result` judged and `summary` sums up.
ReportSection reportSection(std::string_view id, const FieldSummary& summary,
                            std::span<const YieldPoint> points, const CleaningResult& result);

}  // namespace vornakite::analysis
