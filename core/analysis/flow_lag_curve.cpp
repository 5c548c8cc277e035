#include "analysis/flow_lag_curve.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/robust.hpp"

namespace vornakite::analysis::flowlag {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// A minimum shallower or less certain than this is no lag found.
constexpr double kMinDepth = 0.05;
// Below this median mismatch (squared relative difference of neighbours on opposite passes,
// 0.5 % on average) the values hardly vary: a minimum is the noise's or a pattern of the sensor's.
constexpr double kMinCost = 0.005 * 0.005;
constexpr double kMinSignificance = 2.0;  // depth / the depth of chance
constexpr double kMaxUncertainty = 1.0;   // samples
// A minimum in the last shifts searched may lie beyond them: it is no lag found.
constexpr std::size_t kEndShifts = 2;
// The significance at which it adds nothing more to the confidence.
constexpr double kFullSignificance = 6.0;

// The jackknife's standard error from the estimates without each block.
double jackknifeError(const std::vector<double>& without) {
    double mean = 0.0, spread = 0.0;
    for (double j : without) {
        mean += j / static_cast<double>(without.size());
    }
    for (double j : without) {
        spread += (j - mean) * (j - mean);
    }
    const double n = static_cast<double>(without.size());
    return std::sqrt(spread * (n - 1.0) / n);
}

// The vertex of the parabola fitted by least squares to c[k], k in [lo, hi]; NaN unless it opens
// upward.
double vertex(const std::vector<double>& c, std::size_t lo, std::size_t hi) {
    const double centre = 0.5 * static_cast<double>(lo + hi);
    double s[5] = {}, t[3] = {};
    for (std::size_t k = lo; k <= hi; ++k) {
        if (std::isnan(c[k])) {
            return kNaN;
        }
        const double x = static_cast<double>(k) - centre;
        double p = 1.0;
        for (int j = 0; j < 5; ++j) {
            s[j] += p;
            if (j < 3) {
                t[j] += p * c[k];
            }
            p *= x;
        }
    }
    // The normal equations of c = a + b x + q x^2, by Cramer's rule.
    auto det3 = [](double a, double b, double cc, double d, double e, double f, double g, double h,
                   double i) {
        return a * (e * i - f * h) - b * (d * i - f * g) + cc * (d * h - e * g);
    };
    const double d = det3(s[0], s[1], s[2], s[1], s[2], s[3], s[2], s[3], s[4]);
    const double db = det3(s[0], t[0], s[2], s[1], t[1], s[3], s[2], t[2], s[4]);
    const double dq = det3(s[0], s[1], t[0], s[1], s[2], t[1], s[2], s[3], t[2]);
    if (!(d != 0.0) || !(dq / d > 0.0)) {
        return kNaN;
    }
    const double x = -0.5 * (db / d) / (dq / d);
    return centre + x;
}

}  // namespace

// (median - c[k]) / median over the finite costs.
double depthAt(const std::vector<double>& c, std::size_t k) {
    std::vector<double> finite;
    for (double v : c) {
        if (!std::isnan(v)) {
            finite.push_back(v);
        }
    }
    const double middle = finite.empty() ? kNaN : median(finite);
    return middle > 0.0 ? (middle - c[k]) / middle : 0.0;
}

// Finds the minimum: the vertex of a parabola fitted over `fit` shifts either side of the lowest
// cost, its uncertainty by a jackknife over the blocks of pairs, and judges it.
void judge(FlowLagEstimate& e, const Curves& curves, double chance, std::size_t fit) {
    e.cost = curves.curve();
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
    e.depth = depthAt(c, best);
    const double middle = median(finite);
    const std::size_t lo = best > fit ? best - fit : 0, hi = std::min(shifts - 1, best + fit);
    const double v = vertex(c, lo, hi);
    std::vector<double> vertices;
    for (std::size_t g = 0; g < kBlocks; ++g) {
        vertices.push_back(vertex(curves.curve(g), lo, hi));
    }
    e.uncertainty = jackknifeError(vertices);
    e.significance = chance > 0.0 ? e.depth / chance : 0.0;

    // The estimate stays within the fitted range; the jackknife's do not, so that a flat curve,
    // whose parabolas open either way, shows as uncertain.
    e.lagSamples = e.firstShift + (std::isnan(v) ? static_cast<double>(best)
                                                 : std::clamp(v, static_cast<double>(lo),
                                                              static_cast<double>(hi)));
    e.lag = std::max(0, static_cast<int>(std::lround(e.lagSamples)));
    if (best + kEndShifts >= shifts) {
        e.note = "the mismatch is lowest beyond the longest lag searched";
    } else if (e.lagSamples < -2.0) {
        e.note = "the mismatch is lowest below a lag of 0";
    } else if (e.depth < kMinDepth || middle < kMinCost) {
        e.note = "no clear minimum: the field varies too little along the passes";
    } else if (e.significance < kMinSignificance) {
        e.note = "no clear minimum: no deeper than chance would give these values";
    } else if (!(e.uncertainty <= kMaxUncertainty)) {  // also NaN
        e.note = "the minimum is too flat to place within a sample";
    } else {
        e.found = true;
        e.confidence = std::min(1.0, e.significance / kFullSignificance) *
                       (1.0 - 0.5 * e.uncertainty / kMaxUncertainty);
    }
}

}  // namespace vornakite::analysis::flowlag

namespace vornakite::analysis {
namespace {

constexpr double kAnyPlacement = std::numeric_limits<double>::infinity();

// Whether an estimate not found still has a minimum inside the range searched (not in its last
// shifts, as the estimate itself asks of a minimum found): at least `depth` deep,
// `significance` times chance, placed within `uncertainty` samples (kAnyPlacement: however flat,
// its placement not even measured).
bool hasMinimum(const FlowLagEstimate& e, double significance, double uncertainty,
                double depth = 0.05) {
    const bool placed = uncertainty == kAnyPlacement || e.uncertainty <= uncertainty;
    return e.depth >= depth && e.significance >= significance && placed && e.lagSamples >= 0.0 &&
           !e.cost.empty() &&
           e.lag - e.firstShift + static_cast<int>(flowlag::kEndShifts) <
               static_cast<int>(e.cost.size());
}

// Found, with a confidence of at most half: less the more `uncertainty` (samples, the flow's own
// placement, taken as `flat` where it is flatter or not measured).
void takeAsFound(FlowLagEstimate& e, double flat = 1.0) {
    e.found = true;
    const double u = e.uncertainty <= flat ? e.uncertainty : flat;
    e.confidence =
        0.5 * std::min(1.0, e.significance / flowlag::kFullSignificance) * (1.0 - 0.2 * u);
    e.note.clear();
}

}  // namespace

// A lag too flat to place on its own is taken when the other sensor's agrees with it: both sit
// on the same grain stream, a second or two apart, and two independent curves whose minima agree
// are unlikely to do so by chance. A flow lag whose curve still has a minimum (5 % deep, 1.2x
// chance, placed within 2.5 samples or 1.25 s) is taken where a moisture lag found on its own
// (confidence 0.5 or more) lies within twice their combined standard error of it, and within 2
// samples or 2 s; or where one found at any confidence lies within a sample of a minimum as
// deep as chance gives (a curve that chance shaped seldom puts its minimum within a sample of
// the other sensor's); or, however flat, where a minimum twice as deep as chance gives lies
// within a sample of it. The lag is then the two weighed by their precision (a flat flow curve
// places its minimum a few samples off, the moisture's sharper one does not). Two lags neither
// found on their own are taken when both curves have a deep minimum (30 %, placed within a sample;
// on a small field chance alone may reach as deep) and the two lie within a sample of each other.
// Confidences are then at most half.
void agreeLags(FlowLagEstimate& flow, FlowLagEstimate& moisture, double sampleSeconds) {
    if (flow.found) {
        return;
    }
    if (moisture.found) {
        const double samplesPerSecond = sampleSeconds > 0.0 ? 1.0 / sampleSeconds : 1.0;
        const double flat = std::max(2.5, 1.25 * samplesPerSecond);
        const double apart = std::fabs(flow.lagSamples - moisture.lagSamples);
        const double spread = std::hypot(flow.uncertainty, moisture.uncertainty);
        const bool agrees = moisture.confidence >= 0.5 && hasMinimum(flow, 1.2, flat) &&
                            apart <= std::max(2.0, std::min(2.0 * spread, 2.0 * samplesPerSecond));
        const bool within =
            apart <= 1.0 && (hasMinimum(flow, 1.0, flat) || hasMinimum(flow, 2.0, kAnyPlacement));
        if (agrees || within) {
            // A flow minimum whose placement could not be measured weighs nothing.
            const double wf = std::isfinite(flow.uncertainty)
                                  ? 1.0 / std::max(0.25, flow.uncertainty * flow.uncertainty)
                                  : 0.0;
            const double wm = 1.0 / std::max(0.25, moisture.uncertainty * moisture.uncertainty);
            flow.lagSamples = (wf * flow.lagSamples + wm * moisture.lagSamples) / (wf + wm);
            flow.lag = std::max(0, static_cast<int>(std::lround(flow.lagSamples)));
            takeAsFound(flow, flat);
        }
        return;
    }
    if (hasMinimum(flow, 0.9, 1.0, 0.3) && hasMinimum(moisture, 0.9, 1.0, 0.3) &&
        std::fabs(flow.lagSamples - moisture.lagSamples) <= 1.0) {
        takeAsFound(flow);
        takeAsFound(moisture);
    }
}

}  // namespace vornakite::analysis
