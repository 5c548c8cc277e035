// Grain-flow lag: the grain a header cuts reaches the flow sensor seconds later, so the value
// logged at sample t belongs to the position of sample t - d. The lag d is found in samples, as
// the shift that makes the logged field spatially most coherent where passes driven in opposite
// directions lie side by side (a shift moves their values apart along the passes when it is
// wrong, and together when it is right).
#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace vornakite::analysis {

struct FlowLagOptions {
    // Seconds between samples, which sets the range searched in samples: the caller derives it
    // from the log (secondsPerSample below).
    double sampleSeconds = 1.0;
    // Lags searched: 0 to maxSeconds (to 15 s where most passes are too short for more); shifts
    // down to -belowSeconds are scored too, so that a log without a lag shows its minimum inside
    // the curve rather than at its end.
    double maxSeconds = 25.0;
    double belowSeconds = 3.0;
    // The longest lag that can be found, in samples, whatever the rate (the range is cut to it);
    // the estimator scores at most 512 shifts in any case.
    int maxSamples = 440;
    // Pairs of points scored at most (an even choice of anchors), which bounds the cost.
    std::size_t maxPairs = 20000;
    // Largest distance between the two points of a pair, in metres; 0: 1.5x the median
    // distance of an anchor to its nearest opposite partner (about a swath), at most 25 m.
    double pairRadius = 0.0;
};

struct FlowLagEstimate {
    bool found = false;         // see `note` when not
    int lag = 0;                // samples: lagSamples rounded, never below 0
    double lagSamples = 0.0;    // the minimum refined by a parabola through its neighbours
    double confidence = 0.0;    // 0..1 from depth and significance; 0 when not found
    double depth = 0.0;         // (median cost - minimum cost) / median cost over the shifts
    double uncertainty = 0.0;   // samples: standard error of lagSamples (jackknife over pairs)
    double significance = 0.0;  // depth / its standard error
    std::size_t pairs = 0;      // pairs of points scored
    double pairRadius = 0.0;    // metres, as used
    int firstShift = 0;         // the shift of cost[0]
    std::vector<double> cost;   // mismatch per shift from firstShift on; NaN: too few pairs
    std::string note;           // why no lag was found
};

// The pace (speed, any unit) at sample i, for a value the monitor divided by the speed as it
// logged it, a yield: what lags is then the flow, value x pace, and at each shift the flow is
// divided by the pace at the position it moves to. Where the combine slows and speeds up the
// yields it logs rise and fall by the pace at the sensor over the pace at the header, which
// would blur the field's pattern the lag is found from. Not finite or not positive: unknown.
using PaceOf = std::function<double(std::size_t)>;

// The values of one sensor, one per sample: an array, or where none is held, a function that
// reads sample i's (a long log's values are then read for the stretches judged only).
struct LagValues {
    std::span<const double> held;
    std::function<double(std::size_t)> at;
    explicit LagValues(std::span<const double> values) : held(values) {}
    explicit LagValues(std::function<double(std::size_t)> read) : at(std::move(read)) {}
};

// The lag of `value` behind the positions (x, y) in metres, one of each per sample in log
// order. Positions that are not finite, and values that are not finite or not positive (zeros
// of a raised header, a dropout), are skipped; a step far longer than usual (a gap, a turn
// not logged) is never crossed by a shift. With `pace`, the value is a rate over it (above).
FlowLagEstimate estimateFlowLag(std::span<const float> x, std::span<const float> y,
                                const LagValues& value, const FlowLagOptions& options = {},
                                const PaceOf& pace = {});
FlowLagEstimate estimateFlowLag(std::span<const float> x, std::span<const float> y,
                                std::span<const double> value, const FlowLagOptions& options = {},
                                const PaceOf& pace = {});

// The lags of several values on the same track, each as estimateFlowLag would find it alone
// (with paces[v] as its pace where there is one): the track's share of the work is done once,
// and on a long log the values are judged side by side on two threads.
std::vector<FlowLagEstimate> estimateFlowLags(std::span<const float> x, std::span<const float> y,
                                              std::span<const LagValues> values,
                                              const FlowLagOptions& options = {},
                                              std::span<const PaceOf> paces = {});
std::vector<FlowLagEstimate> estimateFlowLags(std::span<const float> x, std::span<const float> y,
                                              std::span<const std::span<const double>> values,
                                              const FlowLagOptions& options = {},
                                              std::span<const PaceOf> paces = {});

// The two sensors' estimates weighed together (both sit on the same grain stream): a flow lag too
// flat to place on its own is taken where the moisture lag agrees with it. `sampleSeconds` as in
// FlowLagOptions.
void agreeLags(FlowLagEstimate& flow, FlowLagEstimate& moisture, double sampleSeconds);

// Seconds between samples: the distance covered per sample (the median displacement over ten
// samples / 10, which GPS noise hardly moves) over the median of the positive speeds (m/s).
// 1 when either is unknown.
double secondsPerSample(std::span<const float> x, std::span<const float> y,
                        std::span<const double> speedMps);

}  // namespace vornakite::analysis
