#include "analysis/flow_lag.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "analysis/robust.hpp"

namespace vornakite::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Fewer pairs than this, or a minimum shallower or less certain than this, is no lag found.
constexpr std::size_t kMinPairs = 100;
constexpr double kMinDepth = 0.05;
constexpr double kMinSignificance = 4.0;
// Depth and significance at which the confidence reaches 1.
constexpr double kFullDepth = 0.25;
constexpr double kFullSignificance = 12.0;
// Partners are looked up among at most this many points (an even stride of the track).
constexpr std::size_t kMaxGridPoints = std::size_t{1} << 18;
constexpr double kMaxRadius = 25.0;

bool usable(double a, double b) {
    return std::isfinite(a) && std::isfinite(b);
}

// The track: positions, the distance covered per sample, and its pieces between gaps.
struct Track {
    std::span<const double> x, y;
    double perSample = 0.0;
    std::size_t chord = 2;             // samples each way for a heading
    std::vector<std::uint32_t> piece;  // per sample; a shift never leaves its piece
    std::size_t size() const { return x.size(); }
    bool usable(std::size_t i) const { return analysis::usable(x[i], y[i]); }
    double dist2(std::size_t i, std::size_t j) const {
        const double dx = x[i] - x[j], dy = y[i] - y[j];
        return dx * dx + dy * dy;
    }
    // The direction of travel at i: the chord from `chord` samples before to as many after,
    // within a piece; false where the combine hardly moved (less than half the usual chord).
    bool heading(std::size_t i, double& dx, double& dy) const {
        if (i < chord || i + chord >= size()) {
            return false;
        }
        const std::size_t a = i - chord, b = i + chord;
        if (!usable(a) || !usable(b) || piece[a] != piece[b]) {
            return false;
        }
        dx = x[b] - x[a];
        dy = y[b] - y[a];
        const double usual = static_cast<double>(chord) * perSample;
        return dx * dx + dy * dy >= usual * usual;
    }
};

double distancePerSample(std::span<const double> x, std::span<const double> y) {
    const std::size_t n = std::min(x.size(), y.size());
    if (n <= 10) {
        return 0.0;
    }
    const std::size_t stride = (n - 10) / kStatisticsSample + 1;
    std::vector<double> d;
    for (std::size_t i = 0; i + 10 < n; i += stride) {
        if (usable(x[i], y[i]) && usable(x[i + 10], y[i + 10])) {
            d.push_back(std::hypot(x[i + 10] - x[i], y[i + 10] - y[i]) / 10.0);
        }
    }
    return d.empty() ? 0.0 : median(d);
}

// Cuts the track where a step is far longer than usual: more than 2.5x the distance per sample
// and 1.5 m more than it, per sample passed (samples without a position count as passed).
void cutPieces(Track& t) {
    const std::size_t n = t.size();
    t.piece.assign(n, 0);
    std::uint32_t piece = 0;
    std::size_t last = n;  // the last sample with a position
    for (std::size_t i = 0; i < n; ++i) {
        if (t.usable(i)) {
            if (last != n) {
                const double samples = static_cast<double>(i - last);
                const double limit = std::max(2.5 * t.perSample, t.perSample + 1.5) * samples;
                piece += t.dist2(i, last) > limit * limit ? 1u : 0u;
            }
            last = i;
        }
        t.piece[i] = piece;
    }
}

// Points in square cells, found through a hash of the cell: buckets may share cells, which
// costs a few more candidates, never a missed one.
class BucketGrid {
  public:
    BucketGrid(const Track& t, double cell, std::size_t stride) : t_(t), cell_(cell) {
        std::vector<std::uint32_t> members;
        for (std::size_t i = 0; i < t.size(); i += stride) {
            if (t.usable(i)) {
                members.push_back(static_cast<std::uint32_t>(i));
            }
        }
        std::size_t buckets = 16;
        while (buckets < members.size()) {
            buckets *= 2;
        }
        mask_ = buckets - 1;
        start_.assign(buckets + 1, 0);
        std::vector<std::uint32_t> bucketOf(members.size());
        for (std::size_t k = 0; k < members.size(); ++k) {
            bucketOf[k] = static_cast<std::uint32_t>(bucket(t.x[members[k]], t.y[members[k]]));
            ++start_[bucketOf[k] + 1];
        }
        for (std::size_t b = 0; b < buckets; ++b) {
            start_[b + 1] += start_[b];
        }
        order_.resize(members.size());
        std::vector<std::uint32_t> fill(start_.begin(), start_.end() - 1);
        for (std::size_t k = 0; k < members.size(); ++k) {
            order_[fill[bucketOf[k]]++] = members[k];
        }
    }

    // Calls f(j) for the points of the 3x3 cells around sample i (and of buckets they share).
    template <class F>
    void near(std::size_t i, F f) const {
        const std::int64_t cx = column(t_.x[i]), cy = column(t_.y[i]);
        for (std::int64_t dy = -1; dy <= 1; ++dy) {
            for (std::int64_t dx = -1; dx <= 1; ++dx) {
                const std::size_t b = hash(cx + dx, cy + dy) & mask_;
                for (std::size_t k = start_[b]; k < start_[b + 1]; ++k) {
                    f(static_cast<std::size_t>(order_[k]));
                }
            }
        }
    }

  private:
    std::int64_t column(double v) const {
        return static_cast<std::int64_t>(std::floor(std::clamp(v / cell_, -1e9, 1e9)));
    }
    static std::size_t hash(std::int64_t cx, std::int64_t cy) {
        std::uint64_t h = static_cast<std::uint64_t>(cx) * 0x9E3779B97F4A7C15ull ^
                          static_cast<std::uint64_t>(cy) * 0xC2B2AE3D27D4EB4Full;
        h ^= h >> 29;
        return static_cast<std::size_t>(h * 0xBF58476D1CE4E5B9ull >> 20);
    }
    std::size_t bucket(double x, double y) const { return hash(column(x), column(y)) & mask_; }

    const Track& t_;
    double cell_;
    std::size_t mask_ = 0;
    std::vector<std::size_t> start_;
    std::vector<std::uint32_t> order_;
};

struct Pair {
    std::size_t i, j;
    double distance;
};

// For an even choice of anchors, the nearest point within `cell` that was driven the other way
// (headings more than 120 degrees apart) and more than `apart` samples away in time.
std::vector<Pair> findPairs(const Track& t, double cell, std::size_t apart, std::size_t maxPairs) {
    const std::size_t n = t.size();
    const BucketGrid grid(t, cell, n / kMaxGridPoints + 1);
    const std::size_t stride = n / std::max<std::size_t>(maxPairs, 1) + 1;
    std::vector<Pair> pairs;
    for (std::size_t i = 0; i < n; i += stride) {
        double hx = 0, hy = 0;
        if (!t.usable(i) || !t.heading(i, hx, hy)) {
            continue;
        }
        const double hLength = std::hypot(hx, hy);
        double best = cell * cell;
        std::size_t partner = n;
        grid.near(i, [&](std::size_t j) {
            if (j + apart >= i && i + apart >= j) {
                return;  // the same stretch of track
            }
            const double d2 = t.dist2(i, j);
            double gx = 0, gy = 0;
            if (d2 >= best || !t.heading(j, gx, gy)) {
                return;
            }
            if (hx * gx + hy * gy < -0.5 * hLength * std::hypot(gx, gy)) {
                best = d2;
                partner = j;
            }
        });
        if (partner != n) {
            pairs.push_back({i, partner, std::sqrt(best)});
        }
    }
    return pairs;
}

// Values along the track around sample e, for the shifts firstShift + k (k below out.size()):
// each the mean over `half` samples either side of the median of three consecutive values (which
// takes out a one-sample spike or dropout), staying in e's piece; NaN where fewer than half the
// window could be taken. Averaging a few metres of track keeps the field's variation and takes
// out most of the sample noise.
void windowMeans(const Track& t, std::span<const double> value, std::size_t e, int firstShift,
                 std::size_t half, std::vector<double>& raw, std::span<double> out) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const auto n = static_cast<std::ptrdiff_t>(t.size());
    const auto h = static_cast<std::ptrdiff_t>(half);
    // raw[m]: the value at first - h - 1 + m, NaN where it cannot be used.
    const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(e) + firstShift - h - 1;
    raw.resize(out.size() + 2 * half + 2);
    for (std::size_t m = 0; m < raw.size(); ++m) {
        const std::ptrdiff_t a = first + static_cast<std::ptrdiff_t>(m);
        const double v = a >= 0 && a < n && t.piece[static_cast<std::size_t>(a)] == t.piece[e]
                             ? value[static_cast<std::size_t>(a)]
                             : nan;
        raw[m] = v > 0.0 && std::isfinite(v) ? v : nan;
    }
    auto med3 = [&](std::size_t m) {  // NaN unless the middle and one more are usable
        const double a = raw[m - 1], b = raw[m], c = raw[m + 1];
        if (std::isnan(b) || (std::isnan(a) && std::isnan(c))) {
            return nan;
        }
        if (std::isnan(a) || std::isnan(c)) {
            return 0.5 * (b + (std::isnan(a) ? c : a));
        }
        return std::max(std::min(a, b), std::min(std::max(a, b), c));
    };
    double sum = 0;
    std::size_t count = 0;
    const std::size_t width = 2 * half + 1;
    for (std::size_t m = 1; m + 1 < raw.size(); ++m) {
        const double v = med3(m);
        if (!std::isnan(v)) {
            sum += v;
            ++count;
        }
        if (m > width) {  // the value that left the window
            const double w = med3(m - width);
            if (!std::isnan(w)) {
                sum -= w;
                --count;
            }
        }
        if (m >= width) {
            out[m - width] = 2 * count > width ? sum / static_cast<double>(count) : nan;
        }
    }
}

// The pairs' mismatch per shift: |a - b| / (a + b) of the two points' window means shifted by
// firstShift + k, NaN where either could not be taken.
std::vector<float> mismatches(const Track& t, std::span<const double> value,
                              const std::vector<Pair>& pairs, int firstShift, std::size_t shifts,
                              std::size_t half) {
    std::vector<float> r(pairs.size() * shifts, std::numeric_limits<float>::quiet_NaN());
    std::vector<double> a(shifts), b(shifts), raw;
    for (std::size_t p = 0; p < pairs.size(); ++p) {
        windowMeans(t, value, pairs[p].i, firstShift, half, raw, a);
        windowMeans(t, value, pairs[p].j, firstShift, half, raw, b);
        for (std::size_t k = 0; k < shifts; ++k) {
            if (a[k] > 0.0 && b[k] > 0.0) {  // false for NaN
                r[p * shifts + k] = static_cast<float>(std::abs(a[k] - b[k]) / (a[k] + b[k]));
            }
        }
    }
    return r;
}

// z of the mean paired difference of the clipped mismatch at shift index k2 over that at k1.
double pairedSignificance(const std::vector<float>& r, std::size_t shifts, std::size_t k1,
                          std::size_t k2, double clip) {
    double sum = 0, sum2 = 0;
    std::size_t m = 0;
    for (std::size_t p = 0; p * shifts < r.size(); ++p) {
        const double a = r[p * shifts + k1], b = r[p * shifts + k2];
        if (std::isnan(a) || std::isnan(b)) {
            continue;
        }
        const double d = std::min(b, clip) - std::min(a, clip);
        sum += d;
        sum2 += d * d;
        ++m;
    }
    if (m < 2) {
        return 0.0;
    }
    const double mean = sum / static_cast<double>(m);
    const double var = std::max(0.0, sum2 / static_cast<double>(m) - mean * mean);
    const double se = std::sqrt(var / static_cast<double>(m));
    return se > 0.0 ? mean / se : (mean > 0.0 ? kFullSignificance : 0.0);
}

// The cost curve: per shift the mean mismatch clipped at 4x the median mismatch (a spike or a
// value of another field weighs no more than a few ordinary pairs); NaN where fewer than half
// the pairs, or fewer than kMinPairs, could be scored. Returns the clip.
double costCurve(const std::vector<float>& r, std::size_t shifts, std::vector<double>& cost) {
    std::vector<double> sample;
    const std::size_t stride = r.size() / kStatisticsSample + 1;
    for (std::size_t k = 0; k < r.size(); k += stride) {
        if (!std::isnan(r[k])) {
            sample.push_back(r[k]);
        }
    }
    const double clip = sample.empty() ? 1.0 : std::max(4.0 * median(sample), 1e-6);
    const std::size_t pairs = r.size() / shifts;
    cost.assign(shifts, kNaN);
    for (std::size_t k = 0; k < shifts; ++k) {
        double sum = 0;
        std::size_t m = 0;
        for (std::size_t p = 0; p < pairs; ++p) {
            const float v = r[p * shifts + k];
            if (!std::isnan(v)) {
                sum += std::min(static_cast<double>(v), clip);
                ++m;
            }
        }
        if (m >= kMinPairs && 2 * m >= pairs) {
            cost[k] = sum / static_cast<double>(m);
        }
    }
    return clip;
}

// Finds the minimum of the curve and judges it against the best shift at least `apart` away.
void judge(FlowLagEstimate& e, const std::vector<float>& r, double clip, std::size_t apart) {
    const std::vector<double>& c = e.cost;
    const std::size_t shifts = c.size();
    std::size_t best = shifts;
    std::vector<double> finite;
    for (std::size_t k = 0; k < shifts; ++k) {
        if (!std::isnan(c[k])) {
            finite.push_back(c[k]);
            best = best == shifts || c[k] < c[best] ? k : best;
        }
    }
    if (finite.size() < 5) {
        e.note = "too few shifts could be scored";
        return;
    }
    const double middle = median(finite);
    e.depth = middle > 0.0 ? (middle - c[best]) / middle : 0.0;
    std::size_t rival = shifts;
    for (std::size_t k = 0; k < shifts; ++k) {
        const std::size_t distance = k > best ? k - best : best - k;
        if (distance >= apart && !std::isnan(c[k]) && (rival == shifts || c[k] < c[rival])) {
            rival = k;
        }
    }
    e.significance = rival == shifts ? 0.0 : pairedSignificance(r, shifts, best, rival, clip);
    double offset = 0.0;
    if (best > 0 && best + 1 < shifts && !std::isnan(c[best - 1]) && !std::isnan(c[best + 1])) {
        const double curve = c[best - 1] - 2.0 * c[best] + c[best + 1];
        offset =
            curve > 0.0 ? std::clamp(0.5 * (c[best - 1] - c[best + 1]) / curve, -0.5, 0.5) : 0.0;
    }
    e.lagSamples = e.firstShift + static_cast<double>(best) + offset;
    e.lag = std::max(0, static_cast<int>(std::lround(e.lagSamples)));
    if (best + 2 >= shifts) {
        e.note = "the mismatch is lowest beyond the longest lag searched";
    } else if (e.lagSamples < -2.0) {
        e.note = "the mismatch is lowest below a lag of 0";
    } else if (e.depth < kMinDepth || e.significance < kMinSignificance) {
        e.note = "no clear minimum: the field varies too little along the passes";
    } else {
        e.found = true;
        e.confidence = std::min(1.0, (e.depth - kMinDepth) / (kFullDepth - kMinDepth)) *
                       std::min(1.0, (e.significance - kMinSignificance) /
                                         (kFullSignificance - kMinSignificance));
    }
}

}  // namespace

FlowLagEstimate estimateFlowLag(std::span<const double> x, std::span<const double> y,
                                std::span<const double> value, const FlowLagOptions& options) {
    FlowLagEstimate e;
    Track t;
    const std::size_t n = std::min({x.size(), y.size(), value.size()});
    t.x = x.first(n);
    t.y = y.first(n);
    t.perSample = distancePerSample(t.x, t.y);
    if (n < 2 * kMinPairs || !(t.perSample > 0.0)) {
        e.note = "too few samples that move";
        return e;
    }
    // The heading's chord spans at least 3 m each way, so that GPS noise hardly turns it.
    t.chord =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::ceil(3.0 / t.perSample)), 2, 10);
    cutPieces(t);
    const double seconds = options.sampleSeconds > 0.0 ? options.sampleSeconds : 1.0;
    const int longest = std::max(3, static_cast<int>(std::ceil(options.maxSeconds / seconds)));
    const int below = std::max(2, static_cast<int>(std::ceil(options.belowSeconds / seconds)));
    e.firstShift = -below;
    // Two more shifts than the longest lag, so that a minimum at it is seen as one.
    const auto shifts = static_cast<std::size_t>(longest + below + 3);

    const double cell = options.pairRadius > 0.0 ? options.pairRadius : kMaxRadius;
    std::vector<Pair> pairs =
        findPairs(t, cell, static_cast<std::size_t>(longest + below), options.maxPairs);
    if (options.pairRadius <= 0.0 && !pairs.empty()) {
        std::vector<double> d;
        for (const Pair& p : pairs) {
            d.push_back(p.distance);
        }
        const double radius = std::min(kMaxRadius, 1.5 * median(d));
        std::erase_if(pairs, [&](const Pair& p) { return p.distance > radius; });
        e.pairRadius = radius;
    } else {
        e.pairRadius = cell;
    }
    e.pairs = pairs.size();
    if (pairs.size() < kMinPairs) {
        e.note = "too few points near a pass driven the other way";
        return e;
    }
    // Windows of about 10 m of track.
    const std::size_t half =
        std::clamp<std::size_t>(static_cast<std::size_t>(std::lround(5.0 / t.perSample)), 1, 8);
    const std::vector<float> r = mismatches(t, value.first(n), pairs, e.firstShift, shifts, half);
    const double clip = costCurve(r, shifts, e.cost);
    // The rival minimum lies 3 samples or 2 s away, whichever is more.
    judge(e, r, clip, std::max<std::size_t>(3, static_cast<std::size_t>(std::ceil(2.0 / seconds))));
    return e;
}

double secondsPerSample(std::span<const double> x, std::span<const double> y,
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
