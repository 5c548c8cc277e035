// Quality filters over one log's points: each flags the points it finds bad, with a short
// code, a threshold taken from the log's own distribution unless an option sets it, and a
// reason a user can read. Nothing is deleted: the result says per point which filters
// flagged it, and a writer splits the points into kept and removed. The filters' codes, their
// thresholds and the texts made from them are in filter_catalogue.hpp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/filter_catalogue.hpp"
#include "model/point_store.hpp"

namespace vornakite::analysis {

// One threshold as used on a log.
struct ThresholdUsed {
    const ThresholdInfo* info;
    double value;
    bool automatic;
};

// The lags found (or set) for a log, as its line, summary row and report give them.
struct LagFound {
    LagSetting::Mode flowMode = LagSetting::Mode::Auto, moistureMode = LagSetting::Mode::Auto;
    bool flowFound = false, moistureFound = false;  // estimated (or set)
    int flow = 0, moisture = 0;                     // samples undone; 0: none
    double flowConfidence = 0.0, moistureConfidence = 0.0;
    bool moistureFollowsFlow = false;  // its own not found: the flow lag used
    std::string flowNote;              // why no flow lag was found
};

// The grain-flow lag as it was found and undone: the value logged at sample t belongs to the
// position of sample t - d. Record i of the clean and removed sets keeps sample i's position
// and speed; its yield, weight and density are those logged at i + flow, its moisture that
// logged at i + moisture, within the same gap-free stretch of the log. The yield is the grain
// flow over the speed: moved, it is divided by the pace at its new position instead of the pace
// it was logged at (each the median of the speeds of five samples around it, at least 0.5 mph:
// single speed readings jitter more than the combine's pace changes).
struct LagShift : LagFound {
    // Per point: how many samples after it its gap-free stretch goes on, at most 255; empty
    // when nothing moves.
    std::vector<std::uint8_t> room;
    std::vector<float> scale;  // per point: the pace its yield was logged at over its own

    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    bool moves() const { return !room.empty(); }
    // The sample whose values record i holds, moved by d samples; kNone past the log's end or
    // beyond a gap.
    std::size_t source(std::size_t i, int d) const {
        if (room.empty() || d <= 0) {
            return i;
        }
        return static_cast<int>(room[i]) >= d ? i + static_cast<std::size_t>(d) : kNone;
    }
    // Record i's yield and moisture; NaN where it has none of its own.
    double yieldAt(PointView points, std::size_t i) const {
        const std::size_t s = source(i, flow);
        if (s == i) {
            return points.yield(i);
        }
        return s == kNone ? std::numeric_limits<double>::quiet_NaN()
                          : points.yield(s) * static_cast<double>(scale[i]);
    }
    double moistureAt(PointView points, std::size_t i) const;
    // Record i as the clean and removed sets hold it.
    YieldPoint record(PointView points, std::size_t i) const;
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
    LagShift lag;  // the lag undone before judging the values
    // Per point, 1 when it was logged on a pass (not in a turn, a transit or beyond the
    // passes); empty when the log was not judged.
    std::vector<std::uint8_t> onPass;

    bool judged() const { return note.empty(); }
    bool isKept(std::size_t i) const { return flags[i] == 0; }
    std::size_t flaggedBy(Filter f) const { return flagged[static_cast<std::size_t>(f)]; }
    const ThresholdUsed* threshold(std::string_view option) const;
};

// Fewer points than this, or fewer with a position and a positive yield, cannot be judged.
inline constexpr std::size_t kMinPointsToJudge = 20;

// Runs the enabled filters over one log's points in file order. Never throws on any values:
// non-finite attributes, out-of-range positions, a single point or millions at one spot.
CleaningResult cleanPoints(PointView points, const CleaningOptions& options = {});

}  // namespace vornakite::analysis
