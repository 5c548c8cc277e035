// The catalogue of the quality filters: their codes, names and rationale, the thresholds an
// option can set, and the texts made from them (the Reason column and the cleaning line). The
// filters themselves, the command line, the summary and the report are all built from these
// tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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
    OffPass,          // TRN: logged in a turn or off the passes (transit over harvested ground)
    NoValue,          // NOV: no value of its own once the lag is undone
};
inline constexpr std::size_t kFilterCount = 15;
// The filters the summary's removed_ columns list first; those after came later and are listed
// at the end of its rows.
inline constexpr std::size_t kFirstFilterCount = 13;

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

// How a lag is found: estimated from the log (auto), none (off), or given in samples.
struct LagSetting {
    enum class Mode : std::uint8_t { Auto, Off, Samples };
    Mode mode = Mode::Auto;
    int samples = 0;
};
// The longest lag that can be set or applied, in samples.
inline constexpr int kMostLagSamples = 250;

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
    // The grain-flow lag undone before the filters judge the values: estimated from the log,
    // none, or set in samples; the moisture sensor's lag likewise (estimated from the
    // moistures; when that finds none it follows the flow lag found).
    LagSetting flowLag;
    LagSetting moistureLag;
};

inline constexpr std::size_t kThresholdCount = 14;
extern const std::array<ThresholdInfo, kThresholdCount> kThresholdInfo;

// The most samples the pass-end filter scans: a larger --ramp-samples is refused, and the
// filter never scans further.
inline constexpr double kMostRampSamples = 1000.0;

// The threshold an option names, or nullptr.
const ThresholdInfo* findThreshold(std::string_view option);

// The filters named by comma-separated codes ("ZERO,LOC"), any case; throws
// std::invalid_argument("Unknown filter code").
FilterMask parseFilterCodes(std::string_view codes);

// The codes of the filters in `mask`, comma-separated in filter order: the Reason column.
// All fifteen codes together are 62 bytes: a C(64) column holds any combination.
std::string reasonText(FilterMask mask);

struct CleaningResult;  // analysis/cleaning.hpp
struct LagFound;

// The lags of a judged log as the cleaning line gives them: "flow lag 13 samples (confidence
// 0.91), moisture lag 11"; "flow lag not found, moisture lag not found"; "(set)", "off", and "11
// (the flow's)" for a moisture lag that follows the flow's.
std::string lagText(const LagFound& lag);

// The line printed per log: "Cleaning: kept 9412 of 10000 points (94.1%); removed 588, by filter:
// ZERO 320, END 140, LOC 60" (a point can count under several filters), then the lags (lagText),
// then any warnings. A log that could not be judged: "kept all 12 points: " and why, or, when NAN
// or POS removed points, the counts and "; not judged otherwise: " and why (no lags). Plain
// ASCII, no thousands separators.
std::string cleaningLine(const CleaningResult& result);

}  // namespace vornakite::analysis
