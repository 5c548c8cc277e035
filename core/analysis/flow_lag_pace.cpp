// The pace in the flow lag estimate: a yield is the flow over the speed, and the monitor divides
// the grain arriving now by the speed now. Where the pace swings, the flow is what a shift moves.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "analysis/flow_lag_track.hpp"
#include "analysis/robust.hpp"

namespace vornakite::analysis::flowlag {

namespace {

// The least swing of the pace (the spread of the change of its mean over 20 s, over its median)
// that the flow is moved with.
constexpr double kPaceSwing = 0.03;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// How much the pace swings along the track beyond the jitter of single readings, over the time a
// lag spans: the robust spread of the change of the pace's mean over `window` samples from one
// window to the next (within a piece), over the pace's median, less what the jitter (from
// successive differences) leaves in such a change. The pace of one field against another's
// (a season's log) does not count: a lag never spans a gap.
double paceSwing(const PieceBounds& pieces, std::span<const double> pace, std::size_t window) {
    auto usable = [&](std::size_t i) { return pace[i] > 0.0 && std::isfinite(pace[i]); };
    // Statistics need no more than kStatisticsSample values each: every stride-th is kept.
    const std::size_t stride = pace.size() / kStatisticsSample + 1;
    std::vector<double> level, change, step;
    // The window means of the last window + 1 samples of the piece, NaN where too few.
    std::vector<double> means(window + 1);
    for (std::size_t p = 0; p < pieces.begin.size(); ++p) {
        const std::size_t begin = pieces.begin[p], end = pieces.end[p];
        double sum = 0.0;
        std::size_t count = 0;
        for (std::size_t i = begin; i < end; ++i) {  // the window [i + 1 - window, i]
            sum += usable(i) ? pace[i] : 0.0;
            count += usable(i) ? 1u : 0u;
            if (i >= begin + window) {
                sum -= usable(i - window) ? pace[i - window] : 0.0;
                count -= usable(i - window) ? 1u : 0u;
            }
            const bool full = i + 1 >= begin + window && 2 * count > window;
            const std::size_t k = i - begin;
            const double mean = full ? sum / static_cast<double>(count) : kNaN;
            means[k % (window + 1)] = mean;
            if (i % stride != 0) {
                continue;
            }
            if (full) {
                level.push_back(mean);
            }
            const double before = k >= window ? means[(k - window) % (window + 1)] : kNaN;
            if (full && !std::isnan(before)) {
                change.push_back(mean - before);
            }
            if (i > begin && usable(i) && usable(i - 1)) {
                step.push_back(pace[i] - pace[i - 1]);
            }
        }
    }
    if (level.empty() || change.empty() || step.empty()) {
        return 0.0;
    }
    const Robust l = robust(level), c = robust(change), d = robust(step);
    const double jitter = d.sigma / std::sqrt(2.0);
    const double w = static_cast<double>(window);
    const double slow = (c.sigma * c.sigma - 2.0 * jitter * jitter / w) / 2.0;
    return slow > 0.0 && l.median > 0.0 ? std::sqrt(slow) / l.median : 0.0;
}

}  // namespace

// The values a shift moves, smoothed along the track. With paces that swing by 3 % or more, the
// flow (value x pace, smoothed) and 1 / the pace smoothed alike, which the flow moved to a
// position is divided by. Else the values themselves: a steady pace moves nothing, and the
// jitter of its readings would pull the minimum towards no shift (the pace at nearby shifts
// shares readings with the pace at the position).
Smoothed smoothedFlow(const Track& t, const PieceBounds& pieces, std::span<const double> value,
                      std::vector<double>& pace, std::size_t half, double seconds) {
    // The swing is judged over about 20 s (at most 4,095 samples), where the jitter of single
    // readings averages out.
    const auto window = std::max(
        2 * half + 1, static_cast<std::size_t>(std::clamp(20.0 / seconds, 1.0, 4095.0)) | 1u);
    Smoothed s;
    if (pace.empty() || paceSwing(pieces, pace, window) < kPaceSwing) {
        std::vector<double>().swap(pace);  // its room is free for the rest of the estimate
        s.value = smoothAlong(t, value.first(t.size()), half);
        return s;
    }
    s.inverse = smoothAlong(t, pace, half);
    std::vector<double>& flow = pace;  // the pace is not needed again
    for (std::size_t i = 0; i < t.size(); ++i) {
        flow[i] = pace[i] > 0.0 && std::isfinite(pace[i]) ? value[i] * pace[i] : kNaN;
        s.inverse[i] = 1.0f / s.inverse[i];  // NaN stays NaN
    }
    s.value = smoothAlong(t, flow, half);
    return s;
}

}  // namespace vornakite::analysis::flowlag
