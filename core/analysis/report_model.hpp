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
#include "analysis/surface.hpp"
#include "model/point_store.hpp"

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
    std::uint32_t index;      // the point's index among the section's points
};

// The colour a removed point is drawn in, by the first filter that flagged it (filter order),
// and that of a kept point without a finite yield (in no class).
inline constexpr std::array<std::string_view, kFilterCount> kReasonColours = {
    "#762a83", "#8c510a", "#e7298a", "#878787", "#bdd7e7", "#74a9cf", "#08306b", "#222222",
    "#fa9fb5", "#9970ab", "#01665e", "#5ab4ac", "#0571b0", "#b35806", "#525252"};
inline constexpr std::string_view kNoValueColour = "#00e5ff";
// Quantiles of the kept yields embedded per section (0, 1/64, ..., 1), from which the page
// works out classes common to all its sections.
inline constexpr int kSketchSteps = 64;

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
    // Where each map point's values (yield, moisture, weight, density and speed, as the clean
    // and removed sets hold them) are read when the map is written: the section's points,
    // which must outlive it until then, with their lag undone. They are not copied.
    PointView source;
    const LagShift* lag = nullptr;  // none: the points as they are
    YieldPoint record(const MapPoint& p) const {
        return lag != nullptr ? lag->record(source, p.index) : source[p.index];
    }
};

// The yield surface as the map shows it: resampled into the map's metres (cells of `cell`
// metres from the map's lower left corner, rows from the south), each value quantised to
// 0..254 over lo..hi, 255 where the surface has no value.
struct SurfaceLayer {
    std::size_t columns = 0, rows = 0;  // 0: no surface
    double cell = 0.0, lo = 0.0, hi = 0.0;
    std::vector<std::uint8_t> values;
};

// What a section shows beyond one log's points and verdicts.
struct SectionExtras {
    const YieldSurface* surface = nullptr;   // the yield surface layer
    std::span<const std::string> logNames;   // the log(s) whose points the section holds
    std::span<const std::size_t> logStarts;  // where each log's points begin; empty: one log
    std::span<const std::string> warnings;   // about the whole section (merged logs far apart)
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
    std::vector<std::string> logNames;
    std::vector<std::size_t> logStarts;  // one per log name
    std::vector<double> sketch;          // kSketchSteps + 1 quantiles of the kept yields, or none
    std::size_t sketchCount = 0;         // the kept finite yields they stand for
    SurfaceLayer surface;
};

// Works out the section of a log whose points `result` judged and `summary` sums up.
ReportSection reportSection(std::string_view id, const FieldSummary& summary, PointView points,
                            const CleaningResult& result, const SectionExtras& extras = {});

// The surface resampled onto the map's extent, at most kSurfaceLayerSide cells a side.
inline constexpr std::size_t kSurfaceLayerSide = 200;
SurfaceLayer surfaceLayer(const YieldSurface& surface, const YieldMap& map);

}  // namespace vornakite::analysis
