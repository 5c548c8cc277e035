// vornakite-evalclean's scores of logs with a grain-flow lag: the truth file's lag and true
// yields, the kept yields against the crop's true yield at their positions, and the lag
// estimator against the true lag.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "analysis/cleaning.hpp"
#include "analysis/flow_lag.hpp"
#include "model/yield_point.hpp"

namespace evaluation {

// A truth file: `index,kind` for every sample that is not clean, or, from a log with a lag,
// `# lag=L moisture_lag=M interval=S response=T` and then `index,kind,true_yield` for every
// sample.
struct Truth {
    std::vector<std::string> kind;  // per sample, "clean" where the file names none
    std::vector<double> trueYield;  // per sample; empty without a lag
    bool lagged = false;
    double lag = 0.0, moistureLag = 0.0, interval = 0.0;  // samples, samples, seconds
};
Truth readTruth(const std::string& path, std::size_t samples);

// The kinds the variant tables show, the lag model's first.
inline constexpr const char* kLagKinds[] = {"carryover", "turn",  "delay",     "headland", "stop",
                                            "jump",      "spike", "dip",       "zero",     "speed",
                                            "moisture",  "nofix", "duplicate", "misplaced"};

// The kind of each record as the filters' sets hold it: record i keeps sample i's position and
// speed, and its values come from the samples the lag was undone by (CleaningResult::lag).
// Faults of the place (jump, nofix, duplicate, turn, headland, speed, a slow stop) are sample
// i's; injected value faults (spike, dip, zero, moisture) are those of the sample the value came
// from. On a log with true yields the rest is judged by the value against the crop's true yield
// at the position (the median of the true yields within 2 samples): more than 30 % off is an error
// (named after the lag kind of either sample, else "misplaced"), within 20 % it is the position's
// own kind (clean, wet, edge), between them and without a value "minor"; where no flow lag was
// undone, a sample's lag kind (carry-over, delay, stop) is its record's whatever its value. Without
// true yields (no lag model) a sample's kind is its record's.
std::vector<std::string> recordKinds(std::span<const vornakite::YieldPoint> points,
                                     const Truth& truth,
                                     const vornakite::analysis::CleaningResult& result);

struct LagScore {
    std::string name;
    double interval = 0.0, estimatedInterval = 0.0;  // seconds: true, and as the log shows it
    double trueLag = 0.0, trueMoistureLag = 0.0;     // samples
    vornakite::analysis::FlowLagEstimate flow, moisture;
    double milliseconds = 0.0;  // both estimates
    // |kept yield - true yield at its position| / true yield over the kept points: as logged,
    // as the clean set holds them (the lag undone by the filters), and shifted back by the true
    // lag. flow and moisture: the lags the filters found (the estimator's details beside).
    std::vector<double> asLogged, shiftedEstimated, shiftedTrue;
};
LagScore scoreLag(const std::string& name, std::span<const vornakite::YieldPoint> points,
                  const Truth& truth, const vornakite::analysis::CleaningResult& result);

// Markdown: a table of the logs' lags and the summaries below it; and one variant's rows of the
// tables of evaluate_cleaning.sh (lag, positions, a row per log; without a variant, a row per log
// without that column).
std::string lagTable(const std::vector<LagScore>& scores);
inline constexpr const char* kLagHeader =
    "| set | logs with a lag | flow lag found within 2 samples | found, more than 2 off | not "
    "found | moisture lag found within 2 | moisture not found | ms per log (median) |\n"
    "|---|---:|---:|---:|---:|---:|---:|---:|\n";
inline constexpr const char* kPositionHeader =
    "| set | kept points | median error as logged | as the clean set holds them | shifted back "
    "by the true lag | worst log as logged | worst log as held |\n"
    "|---|---:|---:|---:|---:|---:|---:|\n";
std::string lagRow(const std::string& variant, const std::vector<LagScore>& scores);
std::string positionRow(const std::string& variant, const std::vector<LagScore>& scores);
std::string logRow(const std::string& variant, const LagScore& score);

}  // namespace evaluation
