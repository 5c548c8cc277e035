#include "analysis/flow_lag_track.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "analysis/robust.hpp"

namespace vornakite::analysis::flowlag {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Partners are looked up among at most this many points (an even stride of the track).
constexpr std::size_t kMaxGridPoints = std::size_t{1} << 18;
// A bucket keeps at most this many of its points, at an even stride: a field's 25 m cell holds
// a few dozen partners, and a track that comes back over one spot thousands of times would
// otherwise make every anchor look at all of them.
constexpr std::size_t kMaxBucketPoints = 512;

}  // namespace

double distancePerSample(std::span<const float> x, std::span<const float> y) {
    const std::size_t n = std::min(x.size(), y.size());
    if (n <= 10) {
        return 0.0;
    }
    const std::size_t stride = (n - 10) / kStatisticsSample + 1;
    std::vector<double> d;
    for (std::size_t i = 0; i + 10 < n; i += stride) {
        if (usable(x[i], y[i]) && usable(x[i + 10], y[i + 10])) {
            const double dx = x[i + 10] - x[i], dy = y[i + 10] - y[i];
            d.push_back(std::sqrt(dx * dx + dy * dy) / 10.0);
        }
    }
    return d.empty() ? 0.0 : median(d);
}

// The GPS noise: the median distance of a point from its neighbours' midpoint, scaled to the
// standard deviation of one coordinate (for noise alone that median is 1.44 of it).
double gpsNoise(const Track& t) {
    const std::size_t n = t.size();
    const std::size_t stride = n / kStatisticsSample + 1;
    std::vector<double> d;
    for (std::size_t i = 1; i + 1 < n; i += stride) {
        if (t.usable(i - 1) && t.usable(i) && t.usable(i + 1)) {
            const double dx = t.x[i] - 0.5 * (t.x[i - 1] + t.x[i + 1]);
            const double dy = t.y[i] - 0.5 * (t.y[i - 1] + t.y[i + 1]);
            d.push_back(std::sqrt(dx * dx + dy * dy));
        }
    }
    return d.empty() ? 0.0 : median(d) / 1.44;
}

namespace {

// Marks the samples in turns: where the chords to `chord` samples before and after turn by more
// than 30 degrees (a headland turn or a loop; a contour pass bends far less over a few metres).
// Where the combine hardly moves the heading is unknown and nothing is marked.
void markTurns(Track& t) {
    const std::size_t n = t.size(), c = t.chord;
    t.turning.assign(n, 0);
    const double shortest = 0.5 * static_cast<double>(c) * t.perSample;
    const double cos30 = 0.866;
    for (std::size_t i = c; i + c < n; ++i) {
        if (!t.usable(i - c) || !t.usable(i) || !t.usable(i + c)) {
            continue;
        }
        const double ax = t.x[i] - t.x[i - c], ay = t.y[i] - t.y[i - c];
        const double bx = t.x[i + c] - t.x[i], by = t.y[i + c] - t.y[i];
        const double a2 = ax * ax + ay * ay, b2 = bx * bx + by * by;
        if (a2 >= shortest * shortest && b2 >= shortest * shortest &&
            ax * bx + ay * by < cos30 * std::sqrt(a2 * b2)) {
            t.turning[i] = 1;
        }
    }
    // A run shorter than a chord is GPS noise, not a turn.
    for (std::size_t i = 0; i < n;) {
        std::size_t end = i;
        while (end < n && t.turning[end] == t.turning[i]) {
            ++end;
        }
        if (t.turning[i] != 0 && end - i < c) {
            std::fill(t.turning.begin() + static_cast<std::ptrdiff_t>(i),
                      t.turning.begin() + static_cast<std::ptrdiff_t>(end), std::uint8_t{0});
        }
        i = end;
    }
}

}  // namespace

// Cuts the track into pieces, so that no value is compared across a gap or a turn, where the
// time between samples or the place the grain came from is not what a shift assumes: a gap is
// a step longer than 2.5x the distance per sample and more than it by 1.5 m or 8x the GPS noise
// (per sample passed: samples without a position count as passed); a turn is a piece of its
// own, and so is each stretch of a long log.
void cutPieces(Track& t) {
    markTurns(t);
    const std::size_t n = t.size();
    t.piece.assign(n, 0);
    std::uint32_t piece = 0;
    std::size_t last = n;  // the last sample with a position
    for (std::size_t i = 0; i < n; ++i) {
        if (t.usable(i)) {
            if (last != n) {
                const double samples = static_cast<double>(i - last);
                const double limit =
                    std::max(2.5 * t.perSample, t.perSample + std::max(1.5, 8.0 * t.noise)) *
                    samples;
                const bool gap = t.dist2(i, last) > limit * limit;
                const bool stretch = t.chunk != 0 && i / t.chunk != last / t.chunk;
                piece += gap || stretch || t.turning[i] != t.turning[last] ? 1u : 0u;
            }
            last = i;
        }
        t.piece[i] = piece;
    }
}

// The values smoothed along the track, within each piece: the median of three consecutive
// usable values (which takes out a one-sample spike or dropout), then the mean of those within
// `half` samples either side; NaN where fewer than half the window could be taken. Averaging ten
// metres or so of track keeps the field's variation and takes out most of the sample noise.
std::vector<float> smoothAlong(const Track& t, std::span<const double> value, std::size_t half) {
    const std::size_t n = t.size();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto at = [&](std::size_t i, std::size_t k) {  // value k if usable and in i's piece, else NaN
        const double v = value[k];
        return t.piece[k] == t.piece[i] && v > 0.0 && std::isfinite(v) ? v : kNaN;
    };
    // The medians, replaced by the means as the window passes: the medians the window still
    // needs behind it are kept in a ring of half + 1.
    std::vector<float> out(n, nan);
    for (std::size_t i = 0; i < n; ++i) {
        const double b = at(i, i);
        if (std::isnan(b)) {
            continue;
        }
        const double a = i > 0 ? at(i, i - 1) : kNaN, c = i + 1 < n ? at(i, i + 1) : kNaN;
        const double m = std::isnan(a) && std::isnan(c) ? b
                         : std::isnan(a)                ? 0.5 * (b + c)
                         : std::isnan(c)                ? 0.5 * (a + b)
                                         : std::max(std::min(a, b), std::min(std::max(a, b), c));
        out[i] = static_cast<float>(m);
    }
    const std::size_t width = 2 * half + 1;
    std::vector<float> behind(half + 1, nan);
    for (std::size_t begin = 0; begin < n;) {  // piece by piece
        std::size_t end = begin;
        while (end < n && t.piece[end] == t.piece[begin]) {
            ++end;
        }
        double sum = 0;
        std::size_t count = 0;
        // The window of sample i is [i - half, i + half] within [begin, end).
        for (std::size_t k = begin; k < std::min(end, begin + half); ++k) {
            sum += std::isnan(out[k]) ? 0.0 : out[k];
            count += std::isnan(out[k]) ? 0u : 1u;
        }
        for (std::size_t i = begin; i < end; ++i) {
            if (i + half < end && !std::isnan(out[i + half])) {
                sum += out[i + half];
                ++count;
            }
            if (i >= begin + half + 1) {
                const float gone = behind[(i - half - 1) % (half + 1)];
                if (!std::isnan(gone)) {
                    sum -= gone;
                    --count;
                }
            }
            behind[i % (half + 1)] = out[i];
            out[i] = 2 * count > width ? static_cast<float>(sum / static_cast<double>(count)) : nan;
        }
        begin = end;
    }
    return out;
}

namespace {

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
        thinCrowdedBuckets();
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
    // Keeps every stride-th point of a bucket of more than kMaxBucketPoints, in place.
    void thinCrowdedBuckets() {
        std::size_t to = 0;
        for (std::size_t b = 0; b + 1 < start_.size(); ++b) {
            const std::size_t begin = start_[b], count = start_[b + 1] - begin;
            const std::size_t stride = count > kMaxBucketPoints ? count / kMaxBucketPoints + 1 : 1;
            start_[b] = to;
            for (std::size_t k = 0; k < count; k += stride) {
                order_[to++] = order_[begin + k];
            }
        }
        start_.back() = to;
        order_.resize(to);
    }
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

}  // namespace

// For anchors every `spacing` samples or more, the nearest points within `cell` that were driven
// the other way (headings more than 120 degrees apart) and more than `apart` samples away in
// time, one on either side; at most maxPairs pairs.
std::vector<Pair> findPairs(const Track& t, double cell, std::size_t apart, std::size_t maxPairs,
                            std::size_t spacing) {
    const std::size_t n = t.size();
    // Partners are taken about every 2 m of track at most: closer they add only candidates.
    const auto every = static_cast<std::size_t>(std::max(1.0, std::floor(2.0 / t.perSample)));
    const BucketGrid grid(t, cell, std::max(n / kMaxGridPoints + 1, every));
    const std::size_t stride = std::max(2 * n / std::max<std::size_t>(maxPairs, 2) + 1, spacing);
    std::vector<Pair> pairs;
    for (std::size_t i = 0; i < n; i += stride) {
        double hx = 0, hy = 0;
        if (!t.usable(i) || !t.heading(i, hx, hy)) {
            continue;
        }
        const double hLength = std::sqrt(hx * hx + hy * hy);
        // The nearest on the left of the heading and on the right: where the field's pattern
        // runs at a slant to the passes, the two sides' mismatches are biased in opposite
        // directions and cancel.
        double best[2] = {cell * cell, cell * cell};
        std::size_t partner[2] = {n, n};
        grid.near(i, [&](std::size_t j) {
            if (j + apart >= i && i + apart >= j) {
                return;  // the same stretch of track
            }
            const double dx = t.x[j] - t.x[i], dy = t.y[j] - t.y[i];
            const double d2 = dx * dx + dy * dy;
            if (d2 >= best[0] && d2 >= best[1]) {
                return;
            }
            const int side = hx * dy - hy * dx > 0.0 ? 0 : 1;
            double gx = 0, gy = 0;
            if (d2 >= best[side] || !t.heading(j, gx, gy)) {
                return;
            }
            if (hx * gx + hy * gy < -0.5 * hLength * std::sqrt(gx * gx + gy * gy)) {
                best[side] = d2;
                partner[side] = j;
            }
        });
        for (int side = 0; side < 2; ++side) {
            if (partner[side] != n) {
                pairs.push_back({i, partner[side], std::sqrt(best[side])});
            }
        }
    }
    return pairs;
}

}  // namespace vornakite::analysis::flowlag
