// Quality filters over one log's points: each flags the points it finds bad, with a short
// code, a threshold taken from the log's own distribution unless an option sets it, and a
// reason a user can read. Nothing is deleted: the result says per point which filters
// flagged it, and a writer splits the points into kept and removed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/yield_point.hpp"

namespace vornakite::analysis {

// The filters, in the order they run and are listed.
enum class Filter : std::uint8_t {
    NonFinite,        // NAN: a value that is not a number
    Position,         // POS: outside the valid range, or at (0, 0)
    Jump,             // JMP: far off the track, then back
    Duplicate,        // DUP: the same position as the previous point
    Slow,             // SLOW: stopped or crawling
    SpeedBand,        // SPD: outside the log's usual speed band
    SpeedChange,      // DSPD: an abrupt change from the neighbouring speeds
    ZeroYield,        // ZERO: yield zero or negative
    YieldOutlier,     // YLD: a yield outlier over the whole log
    LocalOutlier,     // LOC: a yield outlier against its spatial neighbours
    MoistureRange,    // MST: moisture outside a plausible range
    MoistureOutlier,  // MSO: a moisture outlier over the whole log
    PassEnd,          // END: yield still ramping at the start or end of a pass
};
inline constexpr std::size_t kFilterCount = 13;

// One bit per filter: bit (1 << Filter).
using FilterMask = std::uint16_t;
constexpr FilterMask bit(Filter f) {
    return static_cast<FilterMask>(1u << static_cast<unsigned>(f));
}
inline constexpr FilterMask kAllFilters = static_cast<FilterMask>((1u << kFilterCount) - 1);

// What a filter is, for --help, the report and the documentation.
struct FilterInfo {
    Filter filter;
    std::string_view code;       // at most 4 ASCII capitals, used in the Reason column
    std::string_view name;       // a few words
    std::string_view rationale;  // one sentence: why such points are bad
};
extern const std::array<FilterInfo, kFilterCount> kFilterInfo;

const FilterInfo& filterInfo(Filter f);

struct CleaningOptions;

// One threshold an option can set: the filter it belongs to, the option's name (without the
// leading dashes), what it sets, its unit, and how the automatic value is found.
struct ThresholdInfo {
    Filter filter;
    std::string_view option;
    std::string_view name;
    std::string_view unit;
    std::string_view automatic;
    std::optional<double> CleaningOptions::*member;
};

// Which filters run and the thresholds set by the user; every unset threshold is derived from
// the log itself.
struct CleaningOptions {
    FilterMask enabled = kAllFilters;
    std::optional<double> jumpMetres;
    std::optional<double> slowMph;
    std::optional<double> speedMinMph;
    std::optional<double> speedMaxMph;
    std::optional<double> speedChange;
    std::optional<double> yieldMin;
    std::optional<double> yieldMax;
    std::optional<double> localRadiusMetres;
    std::optional<double> localSigmas;
    std::optional<double> moistureMin;
    std::optional<double> moistureMax;
    std::optional<double> moistureDeviation;
    std::optional<double> rampFraction;
    std::optional<double> rampSamples;
};

inline constexpr std::size_t kThresholdCount = 14;
extern const std::array<ThresholdInfo, kThresholdCount> kThresholdInfo;

// The threshold an option names, or nullptr.
const ThresholdInfo* findThreshold(std::string_view option);

// Sets a threshold from its option text; throws std::invalid_argument("Unknown cleaning option")
// or std::invalid_argument("Invalid threshold value") for text that is not a finite number, a
// negative value, or a fraction or count out of its range.
void setThreshold(CleaningOptions& options, std::string_view option, std::string_view value);

// The filters and their options for --help, from the two tables: per filter its code and name,
// then each option with what it sets, its unit and how its automatic value is found, wrapped at
// 100 columns; every line ends in '\n'.
std::string cleaningHelp();

// The filters named by comma-separated codes ("ZERO,LOC"), any case; throws
// std::invalid_argument("Unknown filter code").
FilterMask parseFilterCodes(std::string_view codes);

// The codes of the filters in `mask`, comma-separated in filter order: the Reason column.
// All thirteen codes together are 54 bytes: a C(64) column holds any combination.
std::string reasonText(FilterMask mask);

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
    // Set when the log could not be judged; every point is then kept.
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

// The line printed per log: "Cleaning: kept 9412 of 10000 points (94.1%); removed 588, by filter:
// ZERO 320, END 140, LOC 60" (a point can count under several filters), then any warnings; or
// why nothing was removed. Plain ASCII, no thousands separators.
std::string cleaningLine(const CleaningResult& result);

}  // namespace vornakite::analysis
