// Pass ends (END). The track (valid positions, jumps left out) is cut at gaps and where the
// heading over 10 m before a point and after it differs by more than 35 degrees; the straight
// runs between are the passes. At each end of a pass, the low points (below a share of the
// pass's median) before the first two good ones, and those of the turn before it, are a ramp
// when one of them is deep (below 0.6 of that level): grain flow fills or empties the sensor.
// A pass that stays low for the whole scanned length, or only a little low, is a low area and
// keeps its points.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <span>
#include <vector>

#include "analysis/cleaner.hpp"
#include "analysis/passes.hpp"
#include "analysis/robust.hpp"

namespace vornakite::analysis::detail {
namespace {

// The ramps at the ends of each pass of the track.
class RampFinder {
  public:
    RampFinder(Cleaner& c, double level, std::size_t scan, std::size_t dipReach, std::size_t smear)
        : c_(c), level_(level), scan_(scan), dipReach_(dipReach), smear_(smear) {}

    void pass(const Pass& p);

  private:
    double yieldAt(std::size_t k) const { return c_.trackYield(k); }
    bool rampable(std::size_t k, double limit) const {
        const double v = yieldAt(k);
        return std::isfinite(v) && v > 0.0 && v < limit;
    }
    bool good(std::size_t k, double limit) const {
        const double v = yieldAt(k);
        return std::isfinite(v) && v >= limit;
    }
    void startRamp(const Pass& p, double limit, std::size_t reach);
    void endRamp(const Pass& p, double limit, std::size_t reach);
    void carryOverDip(const Pass& p, std::size_t lo, double limit, bool startsHigh);

    Cleaner& c_;
    double level_;
    std::size_t scan_;
    std::size_t dipReach_;
    std::size_t smear_;
    std::vector<double> values_;
};

// A pass long enough is judged against `level` times the median of the positive yields of its
// middle half.
void RampFinder::pass(const Pass& p) {
    const std::size_t a = p.begin, b = p.end, len = b - a;
    if (len < std::max<std::size_t>(8, 2 * std::min<std::size_t>(scan_, 8))) {
        return;
    }
    values_.clear();
    for (std::size_t q = a + len / 4; q < b - len / 4; ++q) {
        if (std::isfinite(yieldAt(q)) && yieldAt(q) > 0.0) {
            values_.push_back(yieldAt(q));
        }
    }
    if (values_.size() < 4) {
        return;
    }
    const double limit = level_ * median(values_);
    const std::size_t reach = std::min(scan_, len - 1);
    startRamp(p, limit, reach);
    endRamp(p, limit, reach);
}

// The start: the window runs from the turn before the pass (after its last zero: the header was
// still up) to `reach` points into the pass. Its low points before the first two good ones are
// the ramp when one of them is deep, or, once a lag is undone, when they end within `smear_`
// points of the start: the sensor's response mixes a few seconds of flow, so that the first
// values put back in place still hold some of the empty turn's. A pass may also start high, with
// grain cut before the turn, and dip towards nothing while the empty turn's flow arrives: when a
// point within the lag's reach of the start falls below a third of the deep level and the yield
// recovers after it, everything from the start through the recovery is flagged.
void RampFinder::startRamp(const Pass& p, double limit, std::size_t reach) {
    const std::size_t a = p.begin;
    const double deep = 0.6 * limit;
    std::size_t lo = std::max(p.turnBefore, a >= scan_ ? a - scan_ : 0);
    for (std::size_t q = lo; q < a; ++q) {
        if (!(yieldAt(q) > 0.0)) {
            lo = q + 1;
        }
    }
    for (std::size_t g = lo; g < a + reach; ++g) {
        if (!good(g, limit) || !good(g + 1, limit)) {
            continue;
        }
        bool ramp = smear_ > 0 && g <= a + smear_;
        for (std::size_t q = lo; q < g; ++q) {
            ramp = ramp || rampable(q, deep);
        }
        for (std::size_t q = lo; ramp && q < g; ++q) {
            if (rampable(q, limit)) {
                c_.flag(c_.track_[q], Filter::PassEnd);
            }
        }
        carryOverDip(p, lo, limit, false);
        return;
    }
    // No two good points within the scan: a dip after a long turn, with its recovery, may last
    // longer than the scan. Then it is a carry-over dip only when the pass starts with grain (a
    // point at twice the dip's level before it); a start that rises slowly from nothing is left
    // as it is, as a low area at a pass start is.
    carryOverDip(p, lo, limit, true);
}

// The dip after a start that carries the previous pass's grain: a point below a third of the
// deep level within `dipReach_` points of the pass start (with `startsHigh`, after a point at
// twice that level), then two good points. A dip that does not recover within the pass is a low
// area and stays.
void RampFinder::carryOverDip(const Pass& p, std::size_t lo, double limit, bool startsHigh) {
    const double bottom = 0.2 * limit;
    const std::size_t last = std::min(p.end - 1, p.begin + dipReach_);
    std::size_t q = lo;
    bool high = !startsHigh;
    while (q < last && !rampable(q, bottom)) {
        high = high || good(q, 2.0 * bottom);
        ++q;
    }
    if (q >= last || !high) {
        return;
    }
    for (std::size_t g = q + 1; g + 1 < p.end; ++g) {
        if (good(g, limit) && good(g + 1, limit)) {
            for (std::size_t k = lo; k < g; ++k) {
                c_.flag(c_.track_[k], Filter::PassEnd);
            }
            return;
        }
    }
}

// The end: the same, mirrored: from `reach` points before the end of the pass into the turn
// after it, up to its first zero.
void RampFinder::endRamp(const Pass& p, double limit, std::size_t reach) {
    const std::size_t b = p.end;
    const double deep = 0.6 * limit;
    std::size_t hi = std::min(p.turnAfter, b + scan_);  // one past the window
    for (std::size_t q = b; q < hi; ++q) {
        if (!(yieldAt(q) > 0.0)) {
            hi = q;
            break;
        }
    }
    for (std::size_t h = hi - 1; h > b - 1 - reach; --h) {
        if (!good(h, limit) || !good(h - 1, limit)) {
            continue;
        }
        bool ramp = smear_ > 0 && h + 1 + smear_ >= b;
        for (std::size_t q = h + 1; q < hi; ++q) {
            ramp = ramp || rampable(q, deep);
        }
        for (std::size_t q = h + 1; ramp && q < hi; ++q) {
            if (rampable(q, limit)) {
                c_.flag(c_.track_[q], Filter::PassEnd);
            }
        }
        break;
    }
}

// The unit direction of a pass, from its first to its last point; false when it is too short.
bool direction(const Cleaner& c, const Pass& p, double& ux, double& uy) {
    const double dx = c.tx_[p.end - 1] - c.tx_[p.begin], dy = c.ty_[p.end - 1] - c.ty_[p.begin];
    const double d = std::sqrt(dx * dx + dy * dy);
    if (p.end - p.begin < 3 || !(d > 0.0)) {
        return false;
    }
    ux = dx / d;
    uy = dy / d;
    return true;
}

// With a flow lag that is not undone, the first `carried` points of a pass after a headland turn
// (the previous pass driven the other way) or a gap log grain cut before the pass: the previous
// pass's, the turn's, or none.
void carriedStarts(Cleaner& c, const TrackPasses& t, std::size_t carried) {
    double px = 0.0, py = 0.0;
    bool previous = false;
    for (const Pass& p : t.passes) {
        double ux = 0.0, uy = 0.0;
        if (!direction(c, p, ux, uy)) {
            continue;
        }
        const bool turned = previous && ux * px + uy * py < 0.0;
        if (turned || (p.begin > 0 && t.gapBefore[p.begin] != 0)) {
            // From the pass's first point on its line: the turn's last points may run on it.
            std::size_t first = p.begin;
            while (first > p.turnBefore && c.r_.onPass[c.track_[first - 1]] != 0) {
                --first;
            }
            for (std::size_t k = first; k < std::min(p.end, first + carried); ++k) {
                c.flag(c.track_[k], Filter::PassEnd);
            }
        }
        px = ux;
        py = uy;
        previous = true;
    }
}

}  // namespace

void Cleaner::passEnds() {
    const std::size_t m = track_.size();  // the track without the jumps
    if (m < kMinPointsToJudge) {
        return;
    }
    // The heading is taken over at least 10 m, and over two steps.
    const TrackPasses t =
        findPasses(tx_, ty_, medianStep_ + jumpMetres_, std::max(10.0, 2.0 * medianStep_),
                   std::span<double>(scratch().data(), m));
    // The distances along the track are not read: the room goes before TRN's grid is made.
    releaseScratch();
    offPass(t);
    if (!on(Filter::PassEnd)) {
        return;
    }
    const double relNoise = medianYield_ > 0.0 ? yieldNoise_ / medianYield_ : 0.0;
    const double level = use("ramp-fraction", std::clamp(1.0 - 3.0 * relNoise, 0.6, 0.8));
    // The scan covers 10 s.
    const double scanned = use("ramp-samples", std::clamp(std::round(10.0 / interval_), 4.0, 60.0));
    const std::size_t scan = static_cast<std::size_t>(std::clamp(scanned, 0.0, kMostRampSamples));
    if (scan == 0) {
        return;
    }
    // A carry-over dip is looked for as far as the lag reaches past the scan; with a lag that
    // is not known (not found, or not undone), 20 s.
    const LagShift& lag = r_.lag;
    const double dipSeconds =
        lag.flowFound || lag.flowMode == LagSetting::Mode::Samples ? 0.0 : 20.0;
    const std::size_t dipReach =
        std::max(scan, static_cast<std::size_t>(
                           std::clamp(std::round(dipSeconds / interval_), 0.0, kMostRampSamples)));
    // Once a lag is undone, the response's mixing leaves the first and last 3 s of a pass low.
    const std::size_t smear =
        lag.flow > 0
            ? std::max<std::size_t>(2, static_cast<std::size_t>(std::clamp(
                                           std::ceil(3.0 / interval_), 0.0, kMostRampSamples)))
            : 0;
    RampFinder ramps(*this, level, scan, dipReach, smear);
    for (const Pass& p : t.passes) {
        ramps.pass(p);
    }
    if (roughLag_ > 0.0) {
        carriedStarts(*this, t, static_cast<std::size_t>(std::ceil(roughLag_ + 1.0 / interval_)));
    }
}

}  // namespace vornakite::analysis::detail
