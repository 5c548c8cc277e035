// The grain-flow lag estimate: pairs of points on passes driven in opposite directions and the
// mismatch of their values at each shift; the track (pieces, turns, pairs) is in
// flow_lag_track.cpp, the cost curve and its judgement in flow_lag_curve.cpp.
#include "analysis/flow_lag.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

#include "analysis/flow_lag_curve.hpp"
#include "analysis/flow_lag_track.hpp"
#include "analysis/halves.hpp"
#include "analysis/robust.hpp"

namespace vornakite::analysis {
namespace {

using namespace flowlag;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Fewer pairs than this is no lag found.
constexpr std::size_t kMinPairs = 100;
// Rotations of the values that give the depth of chance.
constexpr std::uint64_t kRotations = 4;
constexpr double kMaxRadius = 25.0;
// Seconds: the longest lag searched where passes are too short for the longest asked for.
constexpr double kShortRange = 15.0;
// Longer logs are judged from this many stretches of this many samples.
constexpr std::size_t kChunks = 8;
constexpr std::size_t kChunk = std::size_t{1} << 15;
// The most shifts scored: each costs a pass over the pairs, and their mismatches are kept.
constexpr int kMostShifts = 512;

// The pairs' mismatch per shift: |a - b| / (a + b) of the smoothed values of the two points
// shifted by firstShift + k. Only pairs whose points stay in their pieces over every shift are
// scored, so that every shift sees the same pairs (the pairs near a turn or gap, where the
// values differ most, would otherwise weigh on some shifts only); a pair without a smoothed
// value at more than a tenth of the shifts is dropped too (so is a pair whose pace is unknown,
// where the values are a flow). Returns the pairs scored.
std::size_t mismatches(const Track& t, const Smoothed& smooth, std::vector<Pair>& pairs,
                       const PieceBounds& bounds, int firstShift, std::size_t shifts,
                       std::vector<float>& r) {
    const auto first = static_cast<std::ptrdiff_t>(firstShift);
    const auto last = first + static_cast<std::ptrdiff_t>(shifts);  // one past
    auto stays = [&](std::size_t i) {
        const std::size_t p = t.piece[i];
        const auto at = static_cast<std::ptrdiff_t>(i);
        return at + first >= static_cast<std::ptrdiff_t>(bounds.begin[p]) &&
               at + last <= static_cast<std::ptrdiff_t>(bounds.end[p]);
    };
    std::erase_if(pairs, [&](const Pair& p) { return !stays(p.i) || !stays(p.j); });
    const float nan = std::numeric_limits<float>::quiet_NaN();
    r.assign(pairs.size() * shifts, nan);
    std::size_t kept = 0;
    auto mismatch = [&](std::size_t i, std::size_t j, float fi, float fj, std::size_t& missing) {
        const float a = smooth.value[i] * fi, b = smooth.value[j] * fj;
        if (a > 0.0f && b > 0.0f) {  // false for NaN
            return std::abs(a - b) / (a + b);
        }
        ++missing;
        return nan;
    };
    for (const Pair& p : pairs) {
        float* row = r.data() + kept * shifts;
        std::size_t missing = 0;
        const auto i0 = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(p.i) + first);
        const auto j0 = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(p.j) + first);
        const float fi = smooth.factor(p.i), fj = smooth.factor(p.j);
        for (std::size_t k = 0; k < shifts; ++k) {
            row[k] = mismatch(i0 + k, j0 + k, fi, fj, missing);
        }
        if (10 * missing <= shifts) {
            pairs[kept++] = p;
        }
    }
    pairs.resize(kept);
    r.resize(kept * shifts);
    return kept;
}

// The depth of the curve of the same pairs when each piece's values are rotated along it by an
// amount of its own: no spatial alignment is left, only the noise (and field) of the same values
// paired in the same way. A depth no larger than such a curve's is chance.
double rotatedDepth(const Track& t, const Smoothed& smooth, const std::vector<Pair>& pairs,
                    const PieceBounds& bounds, int firstShift, std::size_t shifts, double clip,
                    std::uint64_t round) {
    // Where the values of sample i + firstShift come from, and the end of its piece, at which
    // the rotated index wraps to the piece's start.
    struct Rotated {
        std::size_t at, begin, end;
    };
    auto rotated = [&](std::size_t i) {
        const std::size_t p = t.piece[i];
        const std::size_t begin = bounds.begin[p], len = bounds.end[p] - begin;
        std::uint64_t h = (p + 1) * 0x9E3779B97F4A7C15ull + round * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
        h *= 0x94D049BB133111EBull;
        h ^= h >> 29;
        const std::size_t offset = len / 4 + static_cast<std::size_t>(h % (len / 2 + 1));
        const auto first = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(i) + firstShift);
        return Rotated{begin + (first - begin + offset) % len, begin, bounds.end[p]};
    };
    std::vector<double> sum(shifts, 0.0), count(shifts, 0.0);
    for (const Pair& pair : pairs) {
        Rotated a = rotated(pair.i), b = rotated(pair.j);
        const float fa = smooth.factor(pair.i), fb = smooth.factor(pair.j);
        for (std::size_t k = 0; k < shifts; ++k) {
            const float va = smooth.value[a.at] * fa, vb = smooth.value[b.at] * fb;
            if (va > 0.0f && vb > 0.0f) {  // false for NaN
                const double c = std::min(static_cast<double>(std::abs(va - vb) / (va + vb)), clip);
                sum[k] += c * c;
                count[k] += 1.0;
            }
            a.at = a.at + 1 == a.end ? a.begin : a.at + 1;
            b.at = b.at + 1 == b.end ? b.begin : b.at + 1;
        }
    }
    std::vector<double> c(shifts, kNaN);
    std::size_t best = 0;
    for (std::size_t k = 0; k < shifts; ++k) {
        c[k] = count[k] > 0 ? sum[k] / count[k] : kNaN;
        best = c[k] < c[best] ? k : best;
    }
    return depthAt(c, best);
}

// 4x the median mismatch.
double clipOf(const std::vector<float>& r) {
    std::vector<double> sample;
    const std::size_t stride = r.size() / kStatisticsSample + 1;
    for (std::size_t k = 0; k < r.size(); k += stride) {
        if (!std::isnan(r[k])) {
            sample.push_back(r[k]);
        }
    }
    return sample.empty() ? 1.0 : std::max(4.0 * median(sample), 1e-6);
}

// The pairs of points near a pass driven the other way, within `options.pairRadius`, or else
// within 1.5 times their median distance (at most kMaxRadius); `radius` is set to the one used.
std::vector<Pair> pairsWithin(const Track& t, const FlowLagOptions& options, std::size_t span,
                              std::size_t half, double& radius) {
    const double cell = options.pairRadius > 0.0 ? options.pairRadius : kMaxRadius;
    std::vector<Pair> pairs = findPairs(t, cell, span, options.maxPairs, half);
    radius = cell;
    if (options.pairRadius <= 0.0 && !pairs.empty()) {
        std::vector<double> d;
        for (const Pair& p : pairs) {
            d.push_back(p.distance);
        }
        radius = std::min(kMaxRadius, 1.5 * median(d));
        std::erase_if(pairs, [&](const Pair& p) { return p.distance > radius; });
    }
    return pairs;
}

// The shifts searched: from `first` to `longest`, or to `shortest` where passes are short.
struct ShiftRange {
    int first;
    int longest;
    int shortest;
};

// The mismatch of every shift into `r`, over two more shifts than the longest lag, so that a
// minimum at it is seen as one; returns the count of shifts, `used` the pairs that counted. A
// pair must stay in its pass over all shifts; where passes are short for that (fewer than 30 %
// of the pairs do) lags up to `shortest` are searched instead if that keeps twice the pairs.
std::size_t scoreShifts(const Track& t, const Smoothed& smooth, const PieceBounds& bounds,
                        ShiftRange range, std::vector<Pair>& pairs, std::vector<float>& r,
                        std::size_t& used) {
    auto shiftCount = [&](int last) { return static_cast<std::size_t>(last - range.first + 3); };
    std::vector<float> shortR;
    std::vector<Pair> shortPairs = pairs;
    used = mismatches(t, smooth, pairs, bounds, range.first, shiftCount(range.longest), r);
    if (10 * used < 3 * shortPairs.size() && range.shortest < range.longest &&
        mismatches(t, smooth, shortPairs, bounds, range.first, shiftCount(range.shortest),
                   shortR) >= 2 * used) {
        used = shortPairs.size();
        r.swap(shortR);
        pairs.swap(shortPairs);
        return shiftCount(range.shortest);
    }
    return shiftCount(range.longest);
}

int samplesOf(double s, double seconds) {
    return static_cast<int>(std::clamp(std::ceil(s / seconds), 2.0, double{kMostShifts}));
}

// What an estimate takes from the track alone, the same for every value judged on it: the
// track cut into pieces, the range of shifts, and the pairs of points on passes driven the other
// way. `e` holds what is known of the estimate so far; `ready` is false when no value can be
// judged (the note says why).
struct TrackSetup {
    Track t;
    FlowLagEstimate e;
    bool ready = false;
    double seconds = 1.0;
    int below = 0, longest = 0;
    std::size_t half = 1;
    std::vector<Pair> pairs;
};

// The setup over the n samples of (x, y); `chunk`: they are pieces of the log this long, each
// its own stretch of track (0: the whole log).
void setUp(TrackSetup& s, std::span<const float> x, std::span<const float> y, std::size_t n,
           const FlowLagOptions& options, std::size_t chunk) {
    FlowLagEstimate& e = s.e;
    Track& t = s.t;
    t.x = x.first(n);
    t.y = y.first(n);
    t.chunk = chunk;
    t.perSample = distancePerSample(t.x, t.y);
    if (n < 2 * kMinPairs || !(t.perSample > 0.0)) {
        e.note = "too few samples that move";
        return;
    }
    t.noise = gpsNoise(t);
    // The chords span at least 6 m and 12 times the GPS noise each way: the noise hardly turns
    // them, and a headland turn (radius up to about 11 m) turns them by more than 30 degrees.
    const double chord = std::max(6.0, 12.0 * t.noise) / t.perSample;
    t.chord = std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(chord)), 2, 30);
    cutPieces(t);
    s.seconds = options.sampleSeconds > 0.0 ? options.sampleSeconds : 1.0;
    // At most kMostShifts shifts: at high rates the range searched is cut, to maxSamples (two
    // more shifts, so that a minimum at it is inside the curve).
    s.below = std::min(samplesOf(options.belowSeconds, s.seconds), kMostShifts / 8);
    s.longest = std::clamp(samplesOf(options.maxSeconds, s.seconds), 3,
                           std::clamp(options.maxSamples + 2, 3, kMostShifts - s.below - 3));
    e.firstShift = -s.below;

    // Values are averaged over windows of about 10 m of track; anchors closer than half a window
    // would add work, not information.
    s.half =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::lround(5.0 / t.perSample)), 1, 8);
    s.pairs = pairsWithin(t, options, static_cast<std::size_t>(s.longest + s.below), s.half,
                          e.pairRadius);
    e.pairs = s.pairs.size();
    if (s.pairs.size() < kMinPairs) {
        e.note = "too few points near a pass driven the other way";
        return;
    }
    s.ready = true;
}

// The estimate of `value` (one per sample of the setup's track), with `pace` alike or none (used
// up).
FlowLagEstimate estimate(const TrackSetup& s, std::span<const double> value,
                         std::vector<double> pace) {
    FlowLagEstimate e = s.e;
    if (!s.ready) {
        return e;
    }
    const Track& t = s.t;
    const PieceBounds bounds(t);
    const Smoothed smooth = smoothedFlow(t, bounds, value, pace, s.half, s.seconds);
    // Where passes are short, lags up to kShortRange only.
    std::vector<float> r;
    std::vector<Pair> pairs = s.pairs;
    const std::size_t shifts = scoreShifts(
        t, smooth, bounds,
        {e.firstShift, s.longest, std::min(s.longest, samplesOf(kShortRange, s.seconds))}, pairs, r,
        e.pairs);
    if (e.pairs < kMinPairs) {
        e.note = "too few points near a pass driven the other way, away from turns and gaps";
        return e;
    }
    // The parabola is fitted over 3 s (at least 3 samples) either side of the lowest cost.
    const double clip = clipOf(r);
    double chance = 0.0;
    for (std::uint64_t round = 0; round < kRotations; ++round) {
        chance += rotatedDepth(t, smooth, pairs, bounds, e.firstShift, shifts, clip, round) /
                  static_cast<double>(kRotations);
    }
    judge(e, Curves(r, shifts, clip), chance,
          std::max<std::size_t>(3, static_cast<std::size_t>(std::ceil(3.0 / s.seconds))));
    return e;
}

}  // namespace

FlowLagEstimate estimateFlowLag(std::span<const float> x, std::span<const float> y,
                                const LagValues& value, const FlowLagOptions& options,
                                const PaceOf& pace) {
    const PaceOf paces[1] = {pace};
    return std::move(estimateFlowLags(x, y, {&value, 1}, options, paces).front());
}

FlowLagEstimate estimateFlowLag(std::span<const float> x, std::span<const float> y,
                                std::span<const double> value, const FlowLagOptions& options,
                                const PaceOf& pace) {
    return estimateFlowLag(x, y, LagValues(value), options, pace);
}

std::vector<FlowLagEstimate> estimateFlowLags(std::span<const float> x, std::span<const float> y,
                                              std::span<const LagValues> values,
                                              const FlowLagOptions& options,
                                              std::span<const PaceOf> paces) {
    if (values.empty()) {
        return {};
    }
    std::size_t n = std::min(x.size(), y.size());
    for (const LagValues& v : values) {
        n = v.at ? n : std::min(n, v.held.size());
    }
    // A long log (several fields, a season) is judged from stretches of it spread evenly over
    // it, which bounds the cost: the lag is the machine's, the same throughout.
    const bool chunked = n > kChunks * kChunk;
    auto stretchStart = [&](std::size_t k) { return k * (n - kChunk) / (kChunks - 1); };
    // Sample i of what the estimate sees: of the stretches, or of the whole log.
    auto sampleOf = [&](std::size_t i) {
        return chunked ? stretchStart(i / kChunk) + i % kChunk : i;
    };
    // The positions of the samples the estimate sees, copied where they are stretches.
    std::vector<float> cx, cy;
    if (chunked) {
        cx.resize(kChunks * kChunk);
        cy.resize(kChunks * kChunk);
        for (std::size_t i = 0; i < cx.size(); ++i) {
            cx[i] = x[sampleOf(i)];
            cy[i] = y[sampleOf(i)];
        }
    }
    TrackSetup setup;
    setUp(setup, chunked ? std::span<const float>(cx) : x, chunked ? std::span<const float>(cy) : y,
          chunked ? cx.size() : n, options, chunked ? kChunk : 0);
    // The pace of value v at each sample the estimate sees; none without one.
    auto paceOf = [&](std::size_t v) {
        std::vector<double> pace;
        if (v >= paces.size() || !paces[v] || !setup.ready) {
            return pace;
        }
        pace.resize(setup.t.size());
        for (std::size_t i = 0; i < pace.size(); ++i) {
            pace[i] = paces[v](sampleOf(i));
        }
        return pace;
    };
    std::vector<FlowLagEstimate> out(values.size());
    auto one = [&](std::size_t v) {
        const LagValues& value = values[v];
        if (!setup.ready) {
            out[v] = estimate(setup, {}, {});
        } else if (!value.at && !chunked) {
            out[v] = estimate(setup, value.held.first(n), paceOf(v));
        } else {
            // The values of the samples the estimate sees: read, or copied from the stretches.
            std::vector<double> seen(setup.t.size());
            for (std::size_t i = 0; i < seen.size(); ++i) {
                seen[i] = value.at ? value.at(sampleOf(i)) : value.held[sampleOf(i)];
            }
            out[v] = estimate(setup, seen, paceOf(v));
        }
    };
    auto others = [&] {
        for (std::size_t v = 1; v < values.size(); ++v) {
            one(v);
        }
    };
    // On a long log the first value on this thread, the others beside it: they share the track
    // only.
    if (values.size() > 1 && n >= kParallelPoints) {
        sideBySide([&] { one(0); }, others);
    } else {
        one(0);
        others();
    }
    return out;
}

std::vector<FlowLagEstimate> estimateFlowLags(std::span<const float> x, std::span<const float> y,
                                              std::span<const std::span<const double>> values,
                                              const FlowLagOptions& options,
                                              std::span<const PaceOf> paces) {
    std::vector<LagValues> held;
    held.reserve(values.size());
    for (const std::span<const double> v : values) {
        held.emplace_back(v);
    }
    return estimateFlowLags(x, y, held, options, paces);
}

double secondsPerSample(std::span<const float> x, std::span<const float> y,
                        std::span<const double> speedMps) {
    const double step = distancePerSample(x, y);
    std::vector<double> speeds = collectSample(
        speedMps.size(),
        [&](std::size_t i) { return speedMps[i] > 0.0 && std::isfinite(speedMps[i]); },
        [&](std::size_t i) { return speedMps[i]; });
    const double speed = speeds.empty() ? 0.0 : median(speeds);
    return step > 0.0 && speed > 0.0 ? step / speed : 1.0;
}

}  // namespace vornakite::analysis
