// The grain-flow lag estimator on fields of known lag.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <vector>

#include "analysis/flow_lag.hpp"

using namespace vornakite::analysis;

namespace {

struct Track {
    std::vector<float> x, y;  // as the filters hold them
    std::vector<double> value;
};

struct FieldCase {
    const char* name;
    int passes;
    double step;  // metres per sample
    int lag;      // samples
    double amplitude;
    bool turnsLogged;
    bool spikes;
    double gpsNoise;  // metres, standard deviation of each coordinate
    bool oneWay;      // every pass driven the same way (the way back not logged)
    bool found;
};

// Passes of 300 m, 9 m apart, serpentine with half-circle turns (header raised: no grain), or
// one way. The value logged at sample t is the crop's at the position of sample t - lag, with
// 6 % noise.
Track harvest(const FieldCase& c) {
    std::vector<float> px, py;
    std::vector<double> crop;
    std::uint64_t state = 7;
    auto noise = [&] {  // splitmix64: uniform in -0.5..0.5
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1p-53 - 0.5;
    };
    for (int j = 0; j < c.passes; ++j) {
        const double y = 9.0 * j;
        for (double u = 0; u <= 300; u += c.step) {
            const double x = j % 2 == 0 || c.oneWay ? u : 300 - u;
            px.push_back(static_cast<float>(x + c.gpsNoise * 2.45 * (noise() + noise())));
            py.push_back(static_cast<float>(y + c.gpsNoise * 2.45 * (noise() + noise())));
            crop.push_back(100 * (1 + c.amplitude * std::sin(x / 37) * std::cos(y / 23)) *
                           (1 + 0.2 * noise()));
        }
        for (int k = 1; k < 6 && c.turnsLogged && !c.oneWay && j + 1 < c.passes; ++k) {
            const double a = 3.14159265 * k / 6;
            px.push_back(
                static_cast<float>(j % 2 == 0 ? 300 + 4.5 * std::sin(a) : -4.5 * std::sin(a)));
            py.push_back(static_cast<float>(y + 4.5 - 4.5 * std::cos(a)));
            crop.push_back(0.0);
        }
    }
    Track t{px, py, std::vector<double>(px.size(), 0.0)};
    for (std::size_t i = 0; i < px.size(); ++i) {
        const auto source = static_cast<std::ptrdiff_t>(i) - c.lag;
        t.value[i] = source >= 0 ? crop[static_cast<std::size_t>(source)] : 0.0;
        if (c.spikes && i % 37 == 0) {
            t.value[i] *= 4;
        } else if (c.spikes && i % 53 == 0) {
            t.value[i] = i % 2 == 0 ? 0.0 : NAN;
        } else if (c.spikes && i % 61 == 0) {  // no fix
            t.x[i] = t.y[i] = NAN;
        }
    }
    return t;
}

}  // namespace

TEST(FlowLag, FindsTheLagOfFieldsAndNoneWhereTheFieldCannotShowIt) {
    const FieldCase cases[] = {
        {"1 Hz, lag 13", 14, 2.0, 13, 0.25, true, false, 0.0, false, true},
        {"no lag", 14, 2.0, 0, 0.25, true, false, 0.0, false, true},
        {"0.5 s, lag 24, turns not logged", 10, 1.0, 24, 0.2, false, false, 0.0, false, true},
        {"2 s, lag 4, spikes, zeros, NaN, no fix", 14, 4.0, 4, 0.25, true, true, 0.0, false, true},
        {"0.2 s, lag 50, GPS noise 0.5 m", 10, 0.4, 50, 0.25, true, false, 0.5, false, true},
        {"a long log, judged in stretches", 900, 1.0, 20, 0.25, true, false, 0.0, false, true},
        {"flat field", 14, 2.0, 13, 0.0, true, false, 0.0, false, false},
        {"a single pass", 1, 2.0, 13, 0.25, true, false, 0.0, false, false},
        {"every pass driven one way", 14, 2.0, 13, 0.25, false, false, 0.0, true, false},
    };
    for (const FieldCase& c : cases) {
        const Track t = harvest(c);
        FlowLagOptions options;
        options.sampleSeconds = c.step / 2.0;
        const FlowLagEstimate e = estimateFlowLag(t.x, t.y, t.value, options);
        EXPECT_EQ(e.found, c.found) << c.name << ": " << e.note;
        if (c.found) {
            EXPECT_NEAR(e.lagSamples, c.lag, 1.0) << c.name;
            EXPECT_LE(std::abs(e.lag - c.lag), 1) << c.name;
            EXPECT_GT(e.confidence, 0.3) << c.name;
            EXPECT_TRUE(e.note.empty()) << c.name;
        } else {
            EXPECT_EQ(e.confidence, 0.0) << c.name;
            EXPECT_FALSE(e.note.empty()) << c.name;
        }
    }
}

// A combine that slows and speeds up: the value logged at t is the flow cut at t - lag (the crop
// times the pace then) over the pace at t. The pace given may jitter from one reading to the
// next where the values do not show it.
TEST(FlowLag, MovesTheFlowWhereThePaceSwings) {
    struct PaceCase {
        const char* name;
        int passes;
        double step;
        int lag;
        double swing, jitter;
        bool unusable;  // every 7th reading NaN, infinite, zero, negative or absurd
        double later;   // the pace of the second half of the log over the first's
    };
    const PaceCase cases[] = {
        {"pace swinging by 30 %", 14, 2.0, 13, 0.3, 0.0, false, 1.0},
        {"a long log, judged in stretches", 900, 1.0, 20, 0.3, 0.0, false, 1.0},
        {"a steady pace with jitter the values do not show", 14, 2.0, 13, 0.0, 0.05, false, 1.0},
        {"steady paces of 4 and 6.4 mph, jitter", 14, 2.0, 13, 0.0, 0.05, false, 1.6},
        {"unusable readings", 14, 2.0, 13, 0.3, 0.0, true, 1.0},
    };
    const double unusable[] = {NAN, INFINITY, 0.0, -4.0, 1e308};
    for (const PaceCase& c : cases) {
        Track t = harvest({c.name, c.passes, c.step, 0, 0.25, true, false, 0.0, false, true});
        const std::size_t n = t.value.size();
        std::vector<double> pace(n), given(n), logged(n, 0.0);
        for (std::size_t i = 0; i < n; ++i) {
            pace[i] = 4.0 * (1 + c.swing * std::sin(static_cast<double>(i) / 11.0)) *
                      (2 * i < n ? 1.0 : c.later);
            given[i] = pace[i] * (1 + c.jitter * std::sin(static_cast<double>(i * i % 1009)));
            if (c.unusable && i % 7 == 0) {
                given[i] = unusable[i / 7 % 5];
            }
            if (i >= static_cast<std::size_t>(c.lag)) {
                const std::size_t cut = i - static_cast<std::size_t>(c.lag);
                logged[i] = t.value[cut] * pace[cut] / pace[i];
            }
        }
        FlowLagOptions options;
        options.sampleSeconds = c.step / 2.0;
        const FlowLagEstimate e =
            estimateFlowLag(t.x, t.y, logged, options, [&](std::size_t i) { return given[i]; });
        EXPECT_TRUE(e.found) << c.name << ": " << e.note;
        EXPECT_NEAR(e.lagSamples, c.lag, 1.0) << c.name;
        if (c.swing == 0.0) {  // a steady pace moves nothing: the estimate of the values alone
            EXPECT_EQ(e.lagSamples, estimateFlowLag(t.x, t.y, logged, options).lagSamples);
        }
    }
}

TEST(FlowLag, SeveralValuesOnOneTrackAreEachEstimatedAsAlone) {
    const FieldCase cases[] = {
        {"short", 14, 2.0, 13, 0.25, true, false, 0.0, false, true},
        {"long, in stretches, side by side", 900, 1.0, 20, 0.25, true, false, 0.0, false, true},
        {"a single pass", 1, 2.0, 13, 0.25, true, false, 0.0, false, false},
    };
    for (const FieldCase& c : cases) {
        const Track t = harvest(c);
        std::vector<double> other = t.value;  // another value: the first one, shifted
        std::rotate(other.begin(), other.begin() + 5, other.end());
        const std::span<const double> values[2] = {t.value, other};
        const std::vector<FlowLagEstimate> both = estimateFlowLags(t.x, t.y, values);
        ASSERT_EQ(both.size(), 2u) << c.name;
        // The second value read through a function where the estimate looks, not held.
        const LagValues mixed[2] = {
            LagValues(values[0]),
            LagValues(std::function<double(std::size_t)>([&](std::size_t i) { return other[i]; }))};
        const std::vector<FlowLagEstimate> read = estimateFlowLags(t.x, t.y, mixed);
        for (std::size_t v = 0; v < 2; ++v) {
            EXPECT_EQ(read[v].lagSamples, both[v].lagSamples) << c.name;
            EXPECT_EQ(read[v].cost, both[v].cost) << c.name;
            const FlowLagEstimate alone = estimateFlowLag(t.x, t.y, values[v]);
            EXPECT_EQ(both[v].found, alone.found) << c.name;
            EXPECT_EQ(both[v].lagSamples, alone.lagSamples) << c.name;
            EXPECT_EQ(both[v].significance, alone.significance) << c.name;
            EXPECT_EQ(both[v].pairs, alone.pairs) << c.name;
            EXPECT_EQ(both[v].note, alone.note) << c.name;
            EXPECT_EQ(both[v].cost.size(), alone.cost.size()) << c.name;
        }
    }
}

TEST(FlowLag, BoundsThePairsAndDerivesTheSampleInterval) {
    const Track t = harvest({"", 14, 2.0, 13, 0.25, true, false, 0.0, false, true});
    FlowLagOptions options;
    options.maxPairs = 300;
    const FlowLagEstimate e = estimateFlowLag(t.x, t.y, t.value, options);
    EXPECT_LE(e.pairs, 300u);
    EXPECT_EQ(e.cost.size(), static_cast<std::size_t>(25 + 3 + 3));
    EXPECT_EQ(e.firstShift, -3);
    EXPECT_NEAR(e.pairRadius, 1.5 * 9.0, 1.0);  // about a swath and a half
    // 2 m per sample at 4 m/s: every 0.5 s; no speeds: 1 s.
    const std::vector<double> speeds(t.x.size(), 4.0);
    EXPECT_NEAR(secondsPerSample(t.x, t.y, speeds), 0.5, 0.01);
    EXPECT_EQ(secondsPerSample(t.x, t.y, {}), 1.0);
}

TEST(FlowLag, AFlatFlowMinimumIsTakenWhereTheMoistureLagAgrees) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    // An estimate with a minimum at `at` (samples) placed within `error`, 60 shifts from -6.
    auto estimate = [](bool found, double at, double error, double confidence,
                       double significance) {
        FlowLagEstimate e;
        e.found = found;
        e.lagSamples = at;
        e.lag = static_cast<int>(std::lround(at));
        e.uncertainty = error;
        e.confidence = confidence;
        e.depth = 0.15;
        e.significance = significance;
        e.firstShift = -6;
        e.cost.assign(60, 1.0);
        return e;
    };
    const struct {
        const char* name;
        double flowAt, flowError;  // the flow's own minimum, not found alone
        double moistureAt, moistureConfidence;
        double seconds;   // per sample
        double expected;  // lag taken; -1: none
        double flowSignificance = 3.0;
    } cases[] = {
        // 0.5 s per sample: 3.4 samples (1.7 s) apart, within twice the combined error.
        {"flat flow 1.7 s off a sharp moisture", 26.4, 1.9, 29.8, 0.9, 0.5, 29.6},
        {"flat flow beside a moisture lag too uncertain", 26.4, 1.9, 29.8, 0.4, 0.5, -1},
        {"flow too flat to place at all", 26.4, 6.0, 29.8, 0.9, 0.5, -1},
        // 1 s per sample: 3.4 samples is 3.4 s, more than two seconds apart.
        {"same samples apart at 1 s per sample", 12.0, 1.9, 15.4, 0.9, 1.0, -1},
        {"flat flow a sample off at 1 s per sample", 14.0, 1.5, 15.0, 0.9, 1.0, 14.9},
        // A minimum as deep as chance gives, within a sample of an uncertain moisture lag.
        {"chance-deep flow within a sample of a weak moisture", 7.4, 0.9, 7.7, 0.3, 2.0, 7.7, 1.0},
        {"chance-deep flow two samples off a weak moisture", 5.7, 0.9, 7.7, 0.3, 2.0, -1, 1.0},
        {"flow shallower than chance beside a weak moisture", 7.4, 0.9, 7.7, 0.3, 2.0, -1, 0.8},
        // However flat, a minimum twice as deep as chance within a sample: the moisture's lag.
        {"unplaced flow twice chance within a sample", 9.9, kNaN, 10.3, 0.9, 1.0, 10.3, 2.5},
        {"very flat flow twice chance within a sample", 29.6, 25.0, 30.4, 0.9, 0.5, 30.4, 3.5},
        {"very flat flow twice chance two samples off", 28.5, 25.0, 30.5, 0.9, 0.5, -1, 3.5},
        {"unplaced flow below twice chance within a sample", 9.9, kNaN, 10.3, 0.9, 1.0, -1, 1.9},
        // The range searched ends at 53: a minimum in its last two shifts may lie beyond it.
        {"flow minimum two shifts inside the range's end", 51.0, 0.9, 51.3, 0.9, 1.0, 51.2},
        {"flow minimum in the range's last two shifts", 52.0, 0.9, 52.3, 0.9, 1.0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FlowLagEstimate flow = estimate(false, c.flowAt, c.flowError, 0.0, c.flowSignificance);
        FlowLagEstimate moisture = estimate(true, c.moistureAt, 0.25, c.moistureConfidence, 3.0);
        agreeLags(flow, moisture, c.seconds);
        EXPECT_EQ(flow.found, c.expected >= 0.0);
        if (c.expected >= 0.0) {
            EXPECT_NEAR(flow.lagSamples, c.expected, 0.1);
            EXPECT_EQ(flow.lag, static_cast<int>(std::lround(c.expected)));
            EXPECT_LE(flow.confidence, 0.5);
            EXPECT_GT(flow.confidence, 0.0);
        } else {
            EXPECT_EQ(flow.lagSamples, c.flowAt);
        }
    }
}
