// The grain-flow lag, found and undone before the filters judge the values. The grain a header
// cuts reaches the flow sensor seconds later: the value logged at sample t belongs to the
// position of sample t - d. The lag of the yields and that of the moistures are estimated from
// the track (valid positions, jumps left out); each record then holds the values logged d
// samples after it, within its gap-free stretch of the log: a monitor that stops logging in a
// turn resumes a swath away and seconds later, and no grain is carried across that. Records
// whose values would come from past the log's end or beyond a gap get none (NOV).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <functional>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "analysis/cleaner.hpp"
#include "analysis/flow_lag.hpp"
#include "analysis/geo.hpp"
#include "analysis/robust.hpp"
#include "os/memory.hpp"

namespace vornakite::analysis::detail {
namespace {

constexpr double kMetresPerSecondPerMph = 0.44704;
// The speed a monitor divides the flow by at a standstill, mph.
constexpr float kPaceFloorMph = 0.5f;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Whether the track turns back across the step to track point k (a turn the monitor did not
// log): the headings over a few metres before and after it more than 120 degrees apart.
bool reversesAt(const Cleaner& c, std::size_t k, std::size_t chord) {
    const std::size_t m = c.track_.size();
    if (k < chord + 1 || k + chord >= m) {
        return false;
    }
    const double ux = c.tx_[k - 1] - c.tx_[k - 1 - chord], uy = c.ty_[k - 1] - c.ty_[k - 1 - chord];
    const double vx = c.tx_[k + chord] - c.tx_[k], vy = c.ty_[k + chord] - c.ty_[k];
    const double u = planeDistance(ux, uy), v = planeDistance(vx, vy);
    const double shortest = 0.5 * static_cast<double>(chord) * c.trackStep_;
    return u >= shortest && v >= shortest && ux * vx + uy * vy < -0.5 * u * v;
}

// Per sample, how many samples after it its gap-free stretch goes on (at most 255). A gap is a
// step between consecutive track points far longer than the samples between them cover, or a
// longer step across which the track turns back; samples without a position inside a gap are
// a stretch of their own (when they were logged is not known).
std::vector<std::uint8_t> stretchRoom(const Cleaner& c) {
    const std::size_t n = c.n_, m = c.track_.size();
    constexpr std::uint8_t kOpen = 255;
    std::vector<std::uint8_t> room(n, kOpen);
    const double per = c.trackStep_;
    const double limit = std::max(2.5 * per, per + std::max(1.5, c.jumpMetres_));
    const std::size_t chord = std::clamp<std::size_t>(
        per > 0.0 ? static_cast<std::size_t>(std::ceil(6.0 / per)) : 2, 2, 30);
    for (std::size_t k = 1; k < m; ++k) {
        const std::size_t a = c.track_[k - 1], b = c.track_[k];
        const double passed = static_cast<double>(b - a);
        const double step = planeDistance(c.tx_[k] - c.tx_[k - 1], c.ty_[k] - c.ty_[k - 1]);
        const bool gap =
            step > limit * passed || (step > 1.5 * per * passed && reversesAt(c, k, chord));
        if (gap) {
            room[a] = 0;      // the stretch ends at a
            room[b - 1] = 0;  // and the samples between, if any, end before b
        }
    }
    room[n - 1] = 0;
    for (std::size_t i = n - 1; i-- > 0;) {
        if (room[i] != 0) {
            room[i] = static_cast<std::uint8_t>(std::min<int>(kOpen, room[i + 1] + 1));
        }
    }
    return room;
}

// The pace at each sample: the median of the finite speeds of the five samples around it, at
// least 0.5 mph (the floor a monitor divides by at a standstill).
float paceAt(PointView p, std::size_t i) {
    float v[5];
    int k = 0;
    for (std::size_t j = i >= 2 ? i - 2 : 0; j <= i + 2 && j < p.size(); ++j) {
        if (std::isfinite(p.speed(j))) {
            v[k++] = static_cast<float>(p.speed(j));
        }
    }
    if (k == 0) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    for (int a = 1; a < k; ++a) {  // five values at most: an insertion sort
        for (int b = a; b > 0 && v[b] < v[b - 1]; --b) {
            std::swap(v[b], v[b - 1]);
        }
    }
    return std::max(kPaceFloorMph, k % 2 == 1 ? v[k / 2] : 0.5f * (v[k / 2 - 1] + v[k / 2]));
}

// Per record, the pace its yield was logged at over the pace at its own position (1 where either
// is unknown): the flow moved is divided by the pace it was cut at.
std::vector<float> paceScale(PointView p, const LagShift& lag) {
    const std::size_t n = p.size();
    std::vector<float> pace(n), scale(n, 1.0f);
    for (std::size_t i = 0; i < n; ++i) {
        pace[i] = paceAt(p, i);
    }
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t s = lag.source(i, lag.flow);
        if (s != LagShift::kNone && std::isfinite(pace[s]) && std::isfinite(pace[i])) {
            scale[i] = pace[s] / pace[i];
        }
    }
    return scale;
}

// The lag a setting asks for: estimated, none or given; `found` and the confidence set.
int lagOf(const LagSetting& setting, const FlowLagEstimate* e, bool& found, double& confidence,
          std::string* note) {
    switch (setting.mode) {
        case LagSetting::Mode::Off:
            return 0;
        case LagSetting::Mode::Samples:
            found = true;
            return std::clamp(setting.samples, 0, kMostLagSamples);
        case LagSetting::Mode::Auto:
            break;
    }
    found = e != nullptr && e->found && e->lag <= kMostLagSamples;
    confidence = found ? e->confidence : 0.0;
    if (!found && note != nullptr && e != nullptr) {
        *note = e->note;
    }
    return found ? e->lag : 0;
}

}  // namespace

// The lags the log's own data give, as asked: both from one track setup when both are.
void Cleaner::estimateLags(FlowLagEstimate& flowEstimate, FlowLagEstimate& moistureEstimate) {
    const std::size_t m = track_.size();
    // Seconds per sample: the distance covered per sample over the median speed.
    std::vector<double> speeds = collectSample(
        n_, [&](std::size_t i) { return std::isfinite(p_.speed(i)) && p_.speed(i) > 0.0; },
        [&](std::size_t i) { return p_.speed(i); });
    const double speed = speeds.empty() ? 0.0 : median(speeds) * kMetresPerSecondPerMph;
    interval_ = trackStep_ > 0.0 && speed > 0.0 ? trackStep_ / speed : 1.0;
    FlowLagOptions options;
    options.sampleSeconds = interval_;
    // No longer lag than can be undone is searched (a log that hardly moves between samples
    // would otherwise ask for shifts beyond counting).
    options.maxSamples = kMostLagSamples;
    const std::span<const float> x(tx_.data(), m), y(ty_.data(), m);
    const bool estimateFlow = opt_.flowLag.mode == LagSetting::Mode::Auto;
    const bool estimateMoisture = opt_.moistureLag.mode == LagSetting::Mode::Auto;
    // The yields as logged (the lag is not undone yet), read where the estimate looks.
    const LagValues yields(
        std::function<double(std::size_t)>([&](std::size_t k) { return p_.yield(track_[k]); }));
    // The yield is the flow over the speed: the flow is what lags (the moisture is no rate).
    const PaceOf pace = [&](std::size_t k) {
        const double mph = p_.speed(track_[k]);
        return std::isfinite(mph) ? std::max(mph, double{kPaceFloorMph}) : kNaN;
    };
    if (estimateMoisture) {
        // The moistures are read where the estimate looks (a long log's stretches only).
        const LagValues moisture(std::function<double(std::size_t)>(
            [&](std::size_t k) { return p_.moisture(track_[k]); }));
        if (estimateFlow) {
            // Both on the same track: its share of the work done once.
            const LagValues values[2] = {yields, moisture};
            const PaceOf paces[1] = {pace};
            std::vector<FlowLagEstimate> both = estimateFlowLags(x, y, values, options, paces);
            flowEstimate = std::move(both[0]);
            moistureEstimate = std::move(both[1]);
        } else {
            moistureEstimate = estimateFlowLag(x, y, moisture, options);
        }
    } else if (estimateFlow) {
        flowEstimate = estimateFlowLag(x, y, yields, options, pace);
    }
    // Passes side by side are about a swath apart: the pairs' radius is 1.5x that.
    if (estimateFlow) {
        swath_ = flowEstimate.pairs > 0 ? flowEstimate.pairRadius / 1.5 : 0.0;
    }
    if (estimateMoisture && swath_ == 0.0 && moistureEstimate.pairs > 0) {
        swath_ = moistureEstimate.pairRadius / 1.5;
    }
}

// The lags undone: those set, or those found (the two sensors' estimates weighed together).
void Cleaner::settleLags(FlowLagEstimate& flowEstimate, FlowLagEstimate& moistureEstimate) {
    LagShift& lag = r_.lag;
    const bool estimateFlow = opt_.flowLag.mode == LagSetting::Mode::Auto;
    const bool estimateMoisture = opt_.moistureLag.mode == LagSetting::Mode::Auto;
    if (estimateFlow && estimateMoisture) {
        agreeLags(flowEstimate, moistureEstimate, interval_);
    }
    lag.flow = lagOf(opt_.flowLag, estimateFlow ? &flowEstimate : nullptr, lag.flowFound,
                     lag.flowConfidence, &lag.flowNote);
    lag.moisture = lagOf(opt_.moistureLag, &moistureEstimate, lag.moistureFound,
                         lag.moistureConfidence, nullptr);
    if (estimateMoisture && !lag.moistureFound && lag.flowFound) {
        lag.moisture = lag.flow;
        lag.moistureFollowsFlow = true;
    }
    // Not undone, the flow lag still says how much of a pass start carries other grain: the
    // moisture lag, the flow's neighbour on the same grain stream, tells it roughly.
    if (lag.flow == 0 && estimateFlow && moistureEstimate.found &&
        moistureEstimate.lagSamples >= 1.0) {
        roughLag_ = moistureEstimate.lagSamples;
    }
}

// The values now judged: the counts again, NAN of each record's own values, and NOV.
void Cleaner::recountShifted() {
    const LagShift& lag = r_.lag;
    positiveYields_ = positivePairs_ = finiteMoistures_ = plausibleMoistures_ = 0;
    const double moistureLo = opt_.moistureMin.value_or(5.0);
    const double moistureHi = opt_.moistureMax.value_or(45.0);
    const FilterMask nonFinite = bitIfOn(Filter::NonFinite);
    const FilterMask noValue = bitIfOn(Filter::NoValue);
    bool previousPositive = false;
    for (std::size_t i = 0; i < n_; ++i) {
        const YieldPoint record = lag.record(p_, i);
        const bool missing = lag.source(i, lag.flow) == LagShift::kNone ||
                             lag.source(i, lag.moisture) == LagShift::kNone;
        const bool finite = std::isfinite(record.yield) && std::isfinite(record.moisture) &&
                            std::isfinite(record.weight) && std::isfinite(record.density) &&
                            std::isfinite(record.speed);
        FilterMask& flags = r_.flags[i];
        flags = static_cast<FilterMask>((flags & ~nonFinite) | (missing ? noValue : 0) |
                                        (!finite && !missing ? nonFinite : 0));
        const bool positive = std::isfinite(record.yield) && record.yield > 0.0;
        positiveYields_ += positive ? 1u : 0u;
        positivePairs_ += positive && previousPositive ? 1u : 0u;
        previousPositive = positive;
        finiteMoistures_ += std::isfinite(record.moisture) ? 1u : 0u;
        plausibleMoistures_ +=
            record.moisture >= moistureLo && record.moisture <= moistureHi ? 1u : 0u;
    }
}

void Cleaner::undoLag() {
    LagShift& lag = r_.lag;
    lag.flowMode = opt_.flowLag.mode;
    lag.moistureMode = opt_.moistureLag.mode;
    FlowLagEstimate flowEstimate, moistureEstimate;
    estimateLags(flowEstimate, moistureEstimate);
    // On a long log the estimates ran partly on a second thread, whose freed room this thread
    // cannot reuse: it goes back now (about 70 bytes a sample looked at, at most 2^18 of them).
    os::returnFreedMemory(std::min<std::size_t>(track_.size(), std::size_t{1} << 18) * 70);
    settleLags(flowEstimate, moistureEstimate);
    if (lag.flow == 0 && lag.moisture == 0) {
        return;
    }
    lag.room = stretchRoom(*this);
    lag.scale = paceScale(p_, lag);
    recountShifted();
    for (std::size_t k = 0; k < track_.size(); ++k) {
        tv_[k] = static_cast<float>(yieldOf(track_[k]));
    }
}

}  // namespace vornakite::analysis::detail
