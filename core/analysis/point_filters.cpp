// The point filters, the third pass over the points: each point judged by its own values against
// thresholds from the samples (SLOW, SPD, ZERO, YLD, MST, MSO), and each speed's change against
// its neighbours (DSPD), whose threshold comes from those changes.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include "analysis/cleaner.hpp"
#include "analysis/format.hpp"
#include "analysis/halves.hpp"
#include "analysis/robust.hpp"

namespace vornakite::analysis::detail {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A yield this many times the median of the positive yields has no physical meaning in any unit:
// a second crop or field in the log stays within a few times it, and even the grain of a stop
// logged at a crawl's speed (yield is flow / speed) within about 15 times. Such yields are a
// sensor or logging fault: they never count as a population of their own and are above the
// automatic high limit.
constexpr double kAbsurdYield = 100.0;

// The limits a point's own values are judged by. Outside a band from -infinity to +infinity is
// never.
struct PointLimits {
    bool speeds = false;  // enough positive speeds to judge by
    double slow = 0.0, speedLo = -kInfinity, speedHi = kInfinity;
    double yieldLoAuto = 0.0, yieldHiAuto = 0.0;
    double yieldLo = -kInfinity, yieldHi = kInfinity;
    bool moisture = false;  // the moisture filters run
    double moistureLo = 0.0, moistureHi = 0.0;
    double moistureCentre = 0.0, moistureDevAuto = 0.0, moistureDev = kInfinity;
};

// The speed limits, and the median speed.
void speedLimits(Cleaner& c, PointLimits& l) {
    l.speeds = c.speedSample_.size() >= kMinPointsToJudge;
    if (!l.speeds) {
        if (c.on(Filter::Slow) || c.on(Filter::SpeedBand) || c.on(Filter::SpeedChange)) {
            c.r_.warnings.push_back("speed filters not run: too few positive speeds");
        }
        return;
    }
    const Robust s = robust(c.speedSample_);
    c.medianSpeed_ = s.median;
    const double slow = std::max(0.5, 0.4 * s.median);
    l.slow = c.on(Filter::Slow) ? c.use("slow-mph", slow) : slow;
    if (c.on(Filter::SpeedBand)) {
        l.speedLo = c.use("speed-min-mph", std::min(s.median - 5.0 * s.sigma, 0.5 * s.median));
        l.speedHi = c.use("speed-max-mph", std::max(s.median + 5.0 * s.sigma, 1.5 * s.median));
    }
}

// The highest plausible yield: median + 5 robust SD of the positive yields. An outlier is rare:
// when more than 2 % of them, and enough to judge, lie above that, they are a population of their
// own (fields or crops of different yields in one log), and the limit is taken from them instead.
double upperYieldLimit(std::span<double> sample, const Robust& all) {
    double limit = all.median + 5.0 * all.sigma;
    std::vector<double> above;
    for (int round = 0; round < 4; ++round) {
        above.clear();
        for (const double v : sample) {
            if (v > limit) {
                above.push_back(v);
            }
        }
        if (above.size() * 50 <= sample.size() || above.size() < kMinPointsToJudge) {
            break;
        }
        const Robust upper = robust(above);
        limit = std::max(limit, upper.median + 5.0 * upper.sigma);
    }
    return limit;
}

// The lowest plausible yield: median - 5 robust SD, at most 0.2x the median, and never below a
// fifth of the 2nd percentile nor 0.05x the median. On a skewed log (a long tail of low yields)
// or one of two crops the robust SD is wide and median - 5 SD falls below zero; the percentile
// is the low crop's level when it has at least 2 % of the points, and a yield far below it is
// a dropout or a header that was not cutting.
double lowerYieldLimit(std::vector<double> sample, const Robust& all) {
    const double ceiling = 0.2 * all.median;
    if (sample.empty()) {
        return std::max(0.0, std::min(all.median - 5.0 * all.sigma, ceiling));
    }
    const auto at = static_cast<std::ptrdiff_t>(sample.size() / 50);
    std::nth_element(sample.begin(), sample.begin() + at, sample.end());
    const double floor = std::max(0.2 * sample[static_cast<std::size_t>(at)], 0.05 * all.median);
    return std::clamp(all.median - 5.0 * all.sigma, std::min(floor, ceiling), ceiling);
}

// Leaves out of `sample` the values whose magnitude is above `limit`; whether there were any.
bool dropBeyond(std::vector<double>& sample, double limit) {
    return std::erase_if(sample, [&](double v) { return std::fabs(v) > limit; }) > 0;
}

// The yield limits, the median yield and the yield's sample-to-sample noise. Yields above
// kAbsurdYield times the median are left out of the statistics first.
void yieldLimits(Cleaner& c, PointLimits& l) {
    Robust y = robust(c.yieldSample_);
    const double absurd = kAbsurdYield * y.median;
    if (dropBeyond(c.yieldSample_, absurd)) {
        y = robust(c.yieldSample_);
        dropBeyond(c.diffSample_, absurd);  // a difference that large has an absurd side
    }
    c.medianYield_ = y.median;
    // Sample-to-sample noise: the spread of differences between consecutive yields, which the
    // field's slow trend hardly touches.
    c.yieldNoise_ = c.diffSample_.size() >= kMinPointsToJudge
                        ? robust(c.diffSample_).sigma / std::sqrt(2.0)
                        : y.sigma;
    l.yieldLoAuto = lowerYieldLimit(c.yieldSample_, y);
    l.yieldHiAuto = std::min(upperYieldLimit(c.yieldSample_, y), absurd);
    if (c.on(Filter::YieldOutlier)) {
        l.yieldLo = c.threshold("yield-min", l.yieldLoAuto);
        l.yieldHi = c.threshold("yield-max", l.yieldHiAuto);
    }
}

// The moisture limits. When most finite moistures lie outside the plausible range (no sensor,
// or another unit), judging by the range would remove everything. Counted over all points while
// reading: the sample is thinned on large logs.
void moistureLimits(Cleaner& c, PointLimits& l) {
    l.moistureLo = c.opt_.moistureMin.value_or(5.0);
    l.moistureHi = c.opt_.moistureMax.value_or(45.0);
    l.moisture = c.on(Filter::MoistureRange) || c.on(Filter::MoistureOutlier);
    if (l.moisture && (c.plausibleMoistures_ * 2 < c.finiteMoistures_ ||
                       c.plausibleMoistures_ < kMinPointsToJudge)) {
        c.r_.warnings.push_back("moisture filters not run: most moistures are outside " +
                                plainNumber(l.moistureLo, 2) + " to " +
                                plainNumber(l.moistureHi, 2) + " %");
        l.moisture = false;
    }
    if (l.moisture && c.on(Filter::MoistureOutlier)) {
        const Robust m = robust(c.moistureSample_);
        l.moistureCentre = m.median;
        l.moistureDevAuto = std::max({6.0 * m.sigma, 0.4 * m.median, 5.0});
        l.moistureDev = c.threshold("moisture-dev", l.moistureDevAuto);
    }
}

// The change of the speed at point i, a finite speed, against the median of the finite speeds
// of the two points before and after it; NaN when fewer than two of those are finite or their
// median is not above `slow`.
double speedChange(PointView points, std::size_t i, double slow) {
    const std::size_t n = points.size();
    double around[4];
    int k = 0;
    if (i >= 2 && i + 2 < n) {
        // Inside the log: the four neighbours, then only the finite ones.
        const double a[4] = {points.speed(i - 2), points.speed(i - 1), points.speed(i + 1),
                             points.speed(i + 2)};
        for (const double w : a) {
            around[k] = w;
            k += std::isfinite(w) ? 1 : 0;
        }
    } else {
        for (std::size_t j = i >= 2 ? i - 2 : 0; j <= i + 2 && j < n; ++j) {
            if (j != i && std::isfinite(points.speed(j))) {
                around[k++] = points.speed(j);
            }
        }
    }
    if (k < 2) {
        return kNaN;
    }
    // The median of two to four values: the sum without the extremes, averaged.
    double sum = 0.0, lo = around[0], hi = around[0];
    for (int a = 0; a < k; ++a) {
        sum += around[a];
        lo = std::min(lo, around[a]);
        hi = std::max(hi, around[a]);
    }
    const double ref = k == 2 ? 0.5 * sum : k == 3 ? sum - lo - hi : 0.5 * (sum - lo - hi);
    return ref > slow ? points.speed(i) / ref - 1.0 : kNaN;
}

// Flags each point by its own values; with `change`, also its speed change. The number of finite
// changes.
std::size_t flagPoints(Cleaner& c, const PointLimits& l, double* change) {
    const FilterMask slowBit = l.speeds ? c.bitIfOn(Filter::Slow) : FilterMask{0};
    const FilterMask bandBit = l.speeds ? c.bitIfOn(Filter::SpeedBand) : FilterMask{0};
    const FilterMask zeroBit = c.bitIfOn(Filter::ZeroYield);
    const FilterMask yieldBit = c.bitIfOn(Filter::YieldOutlier);
    const FilterMask rangeBit = l.moisture ? c.bitIfOn(Filter::MoistureRange) : FilterMask{0};
    const FilterMask moistureBit = l.moisture ? c.bitIfOn(Filter::MoistureOutlier) : FilterMask{0};
    std::size_t finiteHalves[2] = {0, 0};
    inHalves(c.n_, [&](std::size_t from, std::size_t to, int half) {
        std::size_t finiteChanges = 0;
        for (std::size_t i = from; i < to; ++i) {
            const double speed = c.p_.speed(i);
            const double v = c.yieldOf(i), m = c.moistureOf(i);
            c.r_.flags[i] |= static_cast<FilterMask>(
                (speed < l.slow ? slowBit : 0) |
                (speed < l.speedLo || speed > l.speedHi ? bandBit : 0) | (v <= 0.0 ? zeroBit : 0) |
                (std::isfinite(v) && v > 0.0 && (v < l.yieldLo || v > l.yieldHi) ? yieldBit : 0) |
                (std::isfinite(m) && !(m >= l.moistureLo && m <= l.moistureHi) ? rangeBit : 0) |
                (std::fabs(m - l.moistureCentre) > l.moistureDev ? moistureBit : 0));
            if (change == nullptr) {
                continue;
            }
            change[i] = std::isfinite(speed) ? speedChange(c.p_, i, l.slow) : kNaN;
            finiteChanges += std::isfinite(change[i]) ? 1u : 0u;
        }
        finiteHalves[half] = finiteChanges;
    });
    return finiteHalves[0] + finiteHalves[1];
}

// Flags the speed changes beyond their limit, taken from the `finite` finite changes.
void flagSpeedChanges(Cleaner& c, const double* change, std::size_t finite) {
    std::vector<double> sampled = collectSample(
        c.n_, finite, [&](std::size_t i) { return std::isfinite(change[i]); },
        [&](std::size_t i) { return change[i]; });
    const double limit = c.use("speed-change", std::max(0.25, 6.0 * robust(sampled).sigma));
    inHalves(c.n_, [&](std::size_t from, std::size_t to, int) {
        for (std::size_t i = from; i < to; ++i) {
            if (std::fabs(change[i]) > limit) {
                c.flag(i, Filter::SpeedChange);
            }
        }
    });
}

}  // namespace

void Cleaner::pointFilters() {
    PointLimits limits;
    speedLimits(*this, limits);
    yieldLimits(*this, limits);
    moistureLimits(*this, limits);
    // The change of each speed against the median of the two speeds before and after it.
    const bool changes = limits.speeds && on(Filter::SpeedChange);
    double* change = changes ? scratch().data() : nullptr;
    const std::size_t finiteChanges = flagPoints(*this, limits, change);
    if (changes) {
        flagSpeedChanges(*this, change, finiteChanges);
    }
    // The thresholds in the order the filters report them.
    if (on(Filter::YieldOutlier)) {
        use("yield-min", limits.yieldLoAuto);
        use("yield-max", limits.yieldHiAuto);
    }
    if (limits.moisture && on(Filter::MoistureRange)) {
        use("moisture-min", 5.0);
        use("moisture-max", 45.0);
    }
    if (limits.moisture && on(Filter::MoistureOutlier)) {
        use("moisture-dev", limits.moistureDevAuto);
    }
}

}  // namespace vornakite::analysis::detail
