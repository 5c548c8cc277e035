// Quality filters over one log's points: each flags the points it finds bad, with a short
// code, a threshold taken from the log's own distribution unless an option sets it, and a
// reason a user can read. Nothing is deleted: the result says per point which filters
// flagged it, and a writer splits the points into kept and removed. The filters' codes, their
// thresholds and the texts made from them are in filter_catalogue.hpp.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/filter_catalogue.hpp"
#include "model/yield_point.hpp"

namespace vornakite::analysis {

// One threshold as used on a log.
struct ThresholdUsed {
    const ThresholdInfo* info;
    double value;
    bool automatic;
};

struct CleaningResult {
    std::vector<FilterMask> flags;                    // per point; 0 = kept
    std::array<std::size_t, kFilterCount> flagged{};  // points each filter flagged
    std::size_t kept = 0;
    std::size_t removed = 0;
    std::vector<ThresholdUsed> thresholds;  // of the filters that ran, in table order
    // Set when the log could not be judged: then only the filters that judge each point alone
    // (NAN, POS) ran.
    std::string note;
    // Filters that could not run on this log, and a cleaning that removes half the points.
    std::vector<std::string> warnings;

    bool judged() const { return note.empty(); }
    bool isKept(std::size_t i) const { return flags[i] == 0; }
    std::size_t flaggedBy(Filter f) const { return flagged[static_cast<std::size_t>(f)]; }
    const ThresholdUsed* threshold(std::string_view option) const;
};

// Fewer points than this, or fewer with a position and a positive yield, cannot be judged.
inline constexpr std::size_t kMinPointsToJudge = 20;

// Runs the enabled filters over one log's points in file order. Never throws on any values:
// non-finite attributes, out-of-range positions, a single point or millions at one spot.
CleaningResult cleanPoints(std::span<const YieldPoint> points, const CleaningOptions& options = {});

}  // namespace vornakite::analysis
