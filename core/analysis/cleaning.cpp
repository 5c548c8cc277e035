#include "analysis/cleaning.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "analysis/format.hpp"
#include "analysis/geo.hpp"
#include "analysis/robust.hpp"

namespace vornakite::analysis {

const std::array<FilterInfo, kFilterCount> kFilterInfo = {{
    {Filter::NonFinite, "NAN", "value not a number",
     "A yield, moisture, weight, density or speed that is infinite or NaN cannot be mapped or "
     "averaged."},
    {Filter::Position, "POS", "invalid position",
     "A latitude or longitude outside the valid range, or exactly (0, 0), is a receiver without a "
     "fix."},
    {Filter::Jump, "JMP", "position jump",
     "A point far off the track that the next points come back from is a GPS jump: its values "
     "belong elsewhere."},
    {Filter::Duplicate, "DUP", "repeated position",
     "A point at exactly the previous point's position was logged without a new fix; two "
     "samples on one spot double-count it."},
    {Filter::Slow, "SLOW", "stopped or crawling",
     "Yield is grain flow divided by speed: near standstill the division turns small errors "
     "into large ones."},
    {Filter::SpeedBand, "SPD", "speed out of band",
     "A speed far outside the log's usual band is a sensor error or a manoeuvre, not harvest."},
    {Filter::SpeedChange, "DSPD", "abrupt speed change",
     "A speed far from both neighbours' speeds is a glitch or a hard brake; the yield computed "
     "with it is wrong."},
    {Filter::ZeroYield, "ZERO", "zero or negative yield",
     "No grain: header raised over the headland, or the flow sensor not yet filled."},
    {Filter::YieldOutlier, "YLD", "yield outlier",
     "A yield far outside the log's own distribution is a sensor spike or dropout."},
    {Filter::LocalOutlier, "LOC", "local yield outlier",
     "A yield far from the yields around it, within a radius, is noise: neighbouring crop "
     "varies smoothly."},
    {Filter::MoistureRange, "MST", "moisture implausible",
     "Grain moisture outside a plausible range is a sensor fault."},
    {Filter::MoistureOutlier, "MSO", "moisture outlier",
     "A moisture far from the log's own distribution is a sensor spike."},
    {Filter::PassEnd, "END", "pass start or end",
     "Grain takes seconds to reach the flow sensor: at the start and end of a pass the yield "
     "ramps and belongs to other positions."},
}};

const FilterInfo& filterInfo(Filter f) {
    return kFilterInfo[static_cast<std::size_t>(f)];
}

const std::array<ThresholdInfo, kThresholdCount> kThresholdInfo = {{
    {Filter::Jump, "jump-m", "jump distance", "m",
     "largest of 1.5x the median step, 6x the median deviation from the neighbours' midpoint, "
     "and 1 m",
     &CleaningOptions::jumpMetres},
    {Filter::Slow, "slow-mph", "crawling speed", "mph", "0.4x the median speed, at least 0.5 mph",
     &CleaningOptions::slowMph},
    {Filter::SpeedBand, "speed-min-mph", "lowest usual speed", "mph",
     "median speed - 5 robust SD, at most half the median", &CleaningOptions::speedMinMph},
    {Filter::SpeedBand, "speed-max-mph", "highest usual speed", "mph",
     "median speed + 5 robust SD, at least 1.5x the median", &CleaningOptions::speedMaxMph},
    {Filter::SpeedChange, "speed-change", "relative speed change", "fraction",
     "6 robust SD of the change against the neighbours' median speed, at least 0.25",
     &CleaningOptions::speedChange},
    {Filter::YieldOutlier, "yield-min", "lowest plausible yield", "bu/ac",
     "median - 5 robust SD of the positive yields, at most 0.2x the median",
     &CleaningOptions::yieldMin},
    {Filter::YieldOutlier, "yield-max", "highest plausible yield", "bu/ac",
     "median + 5 robust SD of the positive yields", &CleaningOptions::yieldMax},
    {Filter::LocalOutlier, "local-radius-m", "neighbour radius", "m",
     "6x the distance per sample (over ten samples), within 8 to 50 m",
     &CleaningOptions::localRadiusMetres},
    {Filter::LocalOutlier, "local-sd", "local deviation limit", "robust SD",
     "4 local robust SD (MAD of the neighbours), the SD at least the log's sample-to-sample noise",
     &CleaningOptions::localSigmas},
    {Filter::MoistureRange, "moisture-min", "lowest plausible moisture", "%", "5 %",
     &CleaningOptions::moistureMin},
    {Filter::MoistureRange, "moisture-max", "highest plausible moisture", "%", "45 %",
     &CleaningOptions::moistureMax},
    {Filter::MoistureOutlier, "moisture-dev", "moisture deviation from the median", "% points",
     "6 robust SD of the plausible moistures, at least 0.4x their median and 5 points",
     &CleaningOptions::moistureDeviation},
    {Filter::PassEnd, "ramp-fraction", "ramp level", "of pass median",
     "1 - 3x the sample-to-sample noise / median yield, within 0.6 to 0.8",
     &CleaningOptions::rampFraction},
    {Filter::PassEnd, "ramp-samples", "ramp length scanned", "samples",
     "10 s of samples (interval: distance per sample / median speed), 4 to 60",
     &CleaningOptions::rampSamples},
}};

const ThresholdInfo* findThreshold(std::string_view option) {
    for (const ThresholdInfo& t : kThresholdInfo) {
        if (t.option == option) {
            return &t;
        }
    }
    return nullptr;
}

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;

// A plain decimal number ("25", "0.75", "-3", "1e2"), whatever the C locale: std::from_chars.
bool parseNumber(std::string_view text, double& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty() &&
           std::isfinite(value);
}

// Plain Euclidean length: no overflow is possible for projected metres, and std::hypot's extra
// care costs several times as much.
double distance(double dx, double dy) {
    return std::sqrt(dx * dx + dy * dy);
}

bool isFinite(const YieldPoint& p) {
    return std::isfinite(p.yield) && std::isfinite(p.moisture) && std::isfinite(p.weight) &&
           std::isfinite(p.density) && std::isfinite(p.speed);
}

// The state shared by the filters of one run.
class Cleaner {
  public:
    Cleaner(std::span<const YieldPoint> points, const CleaningOptions& options, CleaningResult& r)
        : p_(points), n_(points.size()), opt_(options), r_(r) {}

    void run();

  private:
    bool on(Filter f) const { return (opt_.enabled & bit(f)) != 0; }
    void flag(std::size_t i, Filter f) { r_.flags[i] |= bit(f); }
    bool has(std::size_t i, FilterMask m) const { return (r_.flags[i] & m) != 0; }
    double use(std::string_view option, double automaticValue);
    bool judgeable();

    void positions();
    void jumps();
    void speeds();
    void yields();
    void moisture();
    void passEnds();
    void localOutliers();

    std::span<const YieldPoint> p_;
    std::size_t n_;
    const CleaningOptions& opt_;
    CleaningResult& r_;

    std::vector<std::uint8_t> valid_;  // valid position
    std::vector<double> x_, y_;        // metres; meaningful where valid_
    std::vector<std::size_t> track_;   // valid positions in file order
    double medianStep_ = 0.0;
    double trackStep_ = 0.0;  // metres covered per sample
    double jumpMetres_ = 1.0;
    double medianYield_ = 0.0;
    double yieldNoise_ = 0.0;   // sample-to-sample standard deviation of the yield
    double medianSpeed_ = 0.0;  // mph
};

double Cleaner::use(std::string_view option, double automaticValue) {
    const ThresholdInfo* info = findThreshold(option);
    const std::optional<double>& set = opt_.*(info->member);
    const double value = set ? *set : automaticValue;
    r_.thresholds.push_back({info, value, !set.has_value()});
    return value;
}

bool Cleaner::judgeable() {
    if (n_ < kMinPointsToJudge) {
        r_.note = "too few points to judge (" + std::to_string(n_) + ", at least " +
                  std::to_string(kMinPointsToJudge) + " needed)";
        return false;
    }
    std::size_t usable = 0;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    bool onePlace = true;
    const YieldPoint* first = nullptr;
    for (const YieldPoint& p : p_) {
        if (!validPosition(p)) {
            continue;
        }
        if (first == nullptr) {
            first = &p;
        } else if (p.latitude != first->latitude || p.longitude != first->longitude) {
            onePlace = false;
        }
        if (std::isfinite(p.yield) && p.yield > 0.0) {
            ++usable;
            lo = std::min(lo, p.yield);
            hi = std::max(hi, p.yield);
        }
    }
    if (usable < kMinPointsToJudge) {
        r_.note = "too few points with a position and a positive yield to judge (" +
                  std::to_string(usable) + ")";
        return false;
    }
    if (onePlace) {
        r_.note = "every point is at one position";
        return false;
    }
    if (lo == hi) {
        r_.note = "every yield is the same: no spread to judge by";
        return false;
    }
    return true;
}

void Cleaner::run() {
    r_.flags.assign(n_, 0);
    if (!judgeable()) {
        r_.kept = n_;
        return;
    }
    valid_.resize(n_);
    for (std::size_t i = 0; i < n_; ++i) {
        valid_[i] = validPosition(p_[i]) ? 1 : 0;
        if (on(Filter::NonFinite) && !isFinite(p_[i])) {
            flag(i, Filter::NonFinite);
        }
        if (on(Filter::Position) && !valid_[i]) {
            flag(i, Filter::Position);
        }
    }
    positions();
    jumps();
    speeds();
    yields();
    moisture();
    passEnds();
    localOutliers();

    for (std::size_t i = 0; i < n_; ++i) {
        const FilterMask m = r_.flags[i];
        if (m == 0) {
            ++r_.kept;
            continue;
        }
        for (std::size_t f = 0; f < kFilterCount; ++f) {
            r_.flagged[f] += (m >> f) & 1u;
        }
    }
    r_.removed = n_ - r_.kept;
    if (r_.kept * 2 < n_) {
        r_.warnings.push_back("the filters removed more than half of the points");
    }
}

// Projects the valid positions and finds the median step between consecutive ones.
void Cleaner::positions() {
    const LocalProjection proj = LocalProjection::around(p_);
    x_.assign(n_, 0.0);
    y_.assign(n_, 0.0);
    track_.reserve(n_);
    for (std::size_t i = 0; i < n_; ++i) {
        if (valid_[i]) {
            x_[i] = proj.x(p_[i].longitude);
            y_[i] = proj.y(p_[i].latitude);
            track_.push_back(i);
            if (on(Filter::Duplicate) && i > 0 && p_[i].latitude == p_[i - 1].latitude &&
                p_[i].longitude == p_[i - 1].longitude) {
                flag(i, Filter::Duplicate);
            }
        }
    }
}

// GPS jumps: a point whose distance from its neighbours' midpoint is beyond the threshold
// while the neighbours agree, and runs of points that a large step leads away from and an
// opposite large step brings back from within 30 samples. A large step with no way back is a
// gap in the log, not an error.
void Cleaner::jumps() {
    const std::size_t m = track_.size();
    auto dist = [&](std::size_t a, std::size_t b) {
        return distance(x_[a] - x_[b], y_[a] - y_[b]);
    };
    std::vector<double> steps = collectSample(
        m > 0 ? m - 1 : 0, [&](std::size_t k) { return dist(track_[k], track_[k + 1]) > 0.0; },
        [&](std::size_t k) { return dist(track_[k], track_[k + 1]); });
    medianStep_ = steps.empty() ? 0.0 : median(steps);
    // The distance covered per sample, over ten samples: at a high sample rate a single step
    // is mostly GPS noise.
    constexpr std::size_t kSpan = 10;
    std::vector<double> spans = collectSample(
        m > kSpan ? m - kSpan : 0,
        [&](std::size_t k) { return dist(track_[k], track_[k + kSpan]) > 0.0; },
        [&](std::size_t k) { return dist(track_[k], track_[k + kSpan]) / kSpan; });
    trackStep_ = spans.empty() ? medianStep_ : median(spans);
    std::vector<double> deviations = collectSample(
        m > 2 ? m - 2 : 0, [](std::size_t) { return true; },
        [&](std::size_t k) {
            const std::size_t a = track_[k], b = track_[k + 1], c = track_[k + 2];
            return distance(x_[b] - 0.5 * (x_[a] + x_[c]), y_[b] - 0.5 * (y_[a] + y_[c]));
        });
    const double medianDeviation = deviations.empty() ? 0.0 : median(deviations);
    const double automatic = std::max({1.5 * medianStep_, 6.0 * medianDeviation, 1.0});
    if (!on(Filter::Jump)) {
        jumpMetres_ = automatic;
        return;
    }
    jumpMetres_ = use("jump-m", automatic);
    const double bigStep = medianStep_ + jumpMetres_;
    const double backTolerance = 2.0 * medianStep_ + jumpMetres_;
    auto dx = [&](std::size_t k) { return x_[track_[k]] - x_[track_[k - 1]]; };
    auto dy = [&](std::size_t k) { return y_[track_[k]] - y_[track_[k - 1]]; };
    auto big = [&](std::size_t k) { return distance(dx(k), dy(k)) > bigStep; };
    constexpr std::size_t kLongestJump = 30;
    for (std::size_t k = 1; k + 1 < m; ++k) {
        if (!big(k)) {
            continue;
        }
        for (std::size_t j = k; j + 1 < m && j < k + kLongestJump; ++j) {
            if (big(j + 1) && distance(dx(k) + dx(j + 1), dy(k) + dy(j + 1)) <= backTolerance) {
                for (std::size_t q = k; q <= j; ++q) {
                    flag(track_[q], Filter::Jump);
                }
                k = j + 1;
                break;
            }
        }
    }
    for (std::size_t k = 1; k + 1 < m; ++k) {
        const std::size_t a = track_[k - 1], b = track_[k], c = track_[k + 1];
        if (has(b, bit(Filter::Jump))) {
            continue;
        }
        const double dev = distance(x_[b] - 0.5 * (x_[a] + x_[c]), y_[b] - 0.5 * (y_[a] + y_[c]));
        if (dev > jumpMetres_ && dist(a, c) <= backTolerance) {
            flag(b, Filter::Jump);
        }
    }
}

void Cleaner::speeds() {
    std::vector<double> sample = collectSample(
        n_, [&](std::size_t i) { return std::isfinite(p_[i].speed) && p_[i].speed > 0.0; },
        [&](std::size_t i) { return p_[i].speed; });
    if (sample.size() < kMinPointsToJudge) {
        if (on(Filter::Slow) || on(Filter::SpeedBand) || on(Filter::SpeedChange)) {
            r_.warnings.push_back("speed filters not run: too few positive speeds");
        }
        return;
    }
    const Robust s = robust(sample);
    medianSpeed_ = s.median;
    const double slow = std::max(0.5, 0.4 * s.median);
    const double slowUsed = on(Filter::Slow) ? use("slow-mph", slow) : slow;
    if (on(Filter::Slow)) {
        for (std::size_t i = 0; i < n_; ++i) {
            if (p_[i].speed < slowUsed) {
                flag(i, Filter::Slow);
            }
        }
    }
    if (on(Filter::SpeedBand)) {
        const double lo = use("speed-min-mph", std::min(s.median - 5.0 * s.sigma, 0.5 * s.median));
        const double hi = use("speed-max-mph", std::max(s.median + 5.0 * s.sigma, 1.5 * s.median));
        for (std::size_t i = 0; i < n_; ++i) {
            if (p_[i].speed < lo || p_[i].speed > hi) {
                flag(i, Filter::SpeedBand);
            }
        }
    }
    if (!on(Filter::SpeedChange)) {
        return;
    }
    // The change of each speed against the median of the two speeds before and after it.
    std::vector<double> change(n_, kNaN);
    for (std::size_t i = 0; i < n_; ++i) {
        double around[4];
        int k = 0;
        for (std::size_t j = i >= 2 ? i - 2 : 0; j <= i + 2 && j < n_; ++j) {
            if (j != i && std::isfinite(p_[j].speed)) {
                around[k++] = p_[j].speed;
            }
        }
        if (k < 2 || !std::isfinite(p_[i].speed)) {
            continue;
        }
        // The median of two to four values: the sum without the extremes, averaged.
        double sum = 0.0, lo = around[0], hi = around[0];
        for (int a = 0; a < k; ++a) {
            sum += around[a];
            lo = std::min(lo, around[a]);
            hi = std::max(hi, around[a]);
        }
        const double ref = k == 2 ? 0.5 * sum : k == 3 ? sum - lo - hi : 0.5 * (sum - lo - hi);
        if (ref > slowUsed) {
            change[i] = p_[i].speed / ref - 1.0;
        }
    }
    std::vector<double> changes = collectSample(
        n_, [&](std::size_t i) { return std::isfinite(change[i]); },
        [&](std::size_t i) { return change[i]; });
    const double limit = use("speed-change", std::max(0.25, 6.0 * robust(changes).sigma));
    for (std::size_t i = 0; i < n_; ++i) {
        if (std::fabs(change[i]) > limit) {
            flag(i, Filter::SpeedChange);
        }
    }
}

void Cleaner::yields() {
    auto positive = [&](std::size_t i) { return std::isfinite(p_[i].yield) && p_[i].yield > 0.0; };
    std::vector<double> sample =
        collectSample(n_, positive, [&](std::size_t i) { return p_[i].yield; });
    const Robust y = robust(sample);
    medianYield_ = y.median;
    // Sample-to-sample noise: the spread of differences between consecutive yields, which the
    // field's slow spatial trend hardly touches.
    std::vector<double> diffs = collectSample(
        n_, [&](std::size_t i) { return i > 0 && positive(i) && positive(i - 1); },
        [&](std::size_t i) { return p_[i].yield - p_[i - 1].yield; });
    yieldNoise_ =
        diffs.size() >= kMinPointsToJudge ? robust(diffs).sigma / std::sqrt(2.0) : y.sigma;
    if (on(Filter::ZeroYield)) {
        for (std::size_t i = 0; i < n_; ++i) {
            if (p_[i].yield <= 0.0) {
                flag(i, Filter::ZeroYield);
            }
        }
    }
    if (on(Filter::YieldOutlier)) {
        const double lo =
            use("yield-min", std::max(0.0, std::min(y.median - 5.0 * y.sigma, 0.2 * y.median)));
        const double hi = use("yield-max", y.median + 5.0 * y.sigma);
        for (std::size_t i = 0; i < n_; ++i) {
            if (positive(i) && (p_[i].yield < lo || p_[i].yield > hi)) {
                flag(i, Filter::YieldOutlier);
            }
        }
    }
}

void Cleaner::moisture() {
    const bool range = on(Filter::MoistureRange), outlier = on(Filter::MoistureOutlier);
    if (!range && !outlier) {
        return;
    }
    const double lo = opt_.moistureMin.value_or(5.0);
    const double hi = opt_.moistureMax.value_or(45.0);
    auto plausible = [&](std::size_t i) { return p_[i].moisture >= lo && p_[i].moisture <= hi; };
    std::vector<double> sample =
        collectSample(n_, plausible, [&](std::size_t i) { return p_[i].moisture; });
    // Counted over all points: the sample above is thinned on large logs.
    std::size_t finite = 0, inRange = 0;
    for (std::size_t i = 0; i < n_; ++i) {
        finite += std::isfinite(p_[i].moisture) ? 1u : 0u;
        inRange += plausible(i) ? 1u : 0u;
    }
    if (inRange * 2 < finite || inRange < kMinPointsToJudge) {
        // No moisture sensor, or another unit: judging by the range would remove everything.
        r_.warnings.push_back("moisture filters not run: most moistures are outside " +
                              plainNumber(lo, 2) + " to " + plainNumber(hi, 2) + " %");
        return;
    }
    if (range) {
        use("moisture-min", 5.0);
        use("moisture-max", 45.0);
        for (std::size_t i = 0; i < n_; ++i) {
            if (std::isfinite(p_[i].moisture) && !plausible(i)) {
                flag(i, Filter::MoistureRange);
            }
        }
    }
    if (outlier) {
        const Robust m = robust(sample);
        const double dev = use("moisture-dev", std::max({6.0 * m.sigma, 0.4 * m.median, 5.0}));
        for (std::size_t i = 0; i < n_; ++i) {
            if (std::fabs(p_[i].moisture - m.median) > dev) {
                flag(i, Filter::MoistureOutlier);
            }
        }
    }
}

// Pass ends. The track (valid positions, jumps left out) is cut at gaps and where the heading
// over 10 m before a point and after it differs by more than 35 degrees; the straight
// runs between are the passes. At each end of a pass, the low points (below a share of the
// pass's median) before the first two good ones, and those of the turn before it, are a ramp
// when one of them is deep (below 0.6 of that level): grain flow fills or empties the sensor.
// A pass that stays low for the whole scanned length, or only a little low, is a low area and
// keeps its points.
void Cleaner::passEnds() {
    if (!on(Filter::PassEnd)) {
        return;
    }
    const double relNoise = medianYield_ > 0.0 ? yieldNoise_ / medianYield_ : 0.0;
    const double level = use("ramp-fraction", std::clamp(1.0 - 3.0 * relNoise, 0.6, 0.8));
    // The sample interval is the distance covered per sample over the median speed; the scan
    // covers 10 s.
    double interval = 1.0;
    if (trackStep_ > 0.0 && medianSpeed_ > 0.0) {
        interval = trackStep_ / (medianSpeed_ * 0.44704);
    }
    const double scanned = use("ramp-samples", std::clamp(std::round(10.0 / interval), 4.0, 60.0));
    const std::size_t scan = static_cast<std::size_t>(std::clamp(scanned, 0.0, 1000.0));
    std::vector<std::size_t> u;
    u.reserve(track_.size());
    for (std::size_t i : track_) {
        if (!has(i, bit(Filter::Jump))) {
            u.push_back(i);
        }
    }
    const std::size_t m = u.size();
    if (m < kMinPointsToJudge || scan == 0) {
        return;
    }
    const double gap = medianStep_ + jumpMetres_;
    // gapBefore[k]: a gap between u[k-1] and u[k]; turn[k]: the heading changes at u[k].
    std::vector<std::uint8_t> gapBefore(m, 0), turn(m, 0);
    for (std::size_t k = 1; k < m; ++k) {
        gapBefore[k] = distance(x_[u[k]] - x_[u[k - 1]], y_[u[k]] - y_[u[k - 1]]) > gap ? 1 : 0;
    }
    // The heading before a point is that of the chord from the latest earlier point at least
    // `chord` metres away, the heading after it that of the chord to the first later one: by
    // displacement, not by sample count, so that neither the sample rate nor GPS noise at a
    // crawl decides. Each search is capped at kLongestChord samples (a long stop).
    const double chord = std::max(10.0, 2.0 * medianStep_);
    const double chord2 = chord * chord;
    constexpr std::size_t kLongestChord = 400;
    const double cosLimit = std::cos(35.0 * kPi / 180.0);
    auto far = [&](std::size_t a, std::size_t b) {
        const double dx = x_[u[a]] - x_[u[b]], dy = y_[u[a]] - y_[u[b]];
        return dx * dx + dy * dy >= chord2;
    };
    std::size_t segment = 0;  // first index of the current gap-free segment
    std::size_t back = 0, ahead = 0;
    for (std::size_t k = 0; k < m; ++k) {
        if (gapBefore[k]) {
            segment = k;
        }
        // back: the latest index in [segment, k) far from k, searched afresh like `ahead`.
        back = k;
        for (std::size_t s = 0; back > segment && (back == k || !far(back, k)) && s < kLongestChord;
             ++s) {
            --back;
        }
        // ahead: the first index after k, within the segment, far from k. Both are searched
        // afresh for each point: on a turn the track comes back alongside itself, so the
        // previous point's answers can be wrong for this one.
        ahead = k;
        for (std::size_t s = 0;
             ahead + 1 < m && !gapBefore[ahead + 1] && !far(ahead, k) && s < kLongestChord; ++s) {
            ++ahead;
        }
        if (back >= k || ahead <= k || !far(back, k) || !far(ahead, k)) {
            continue;
        }
        const double ax = x_[u[k]] - x_[u[back]], ay = y_[u[k]] - y_[u[back]];
        const double bx = x_[u[ahead]] - x_[u[k]], by = y_[u[ahead]] - y_[u[k]];
        if ((ax * bx + ay * by) / (distance(ax, ay) * distance(bx, by)) < cosLimit) {
            turn[k] = 1;
        }
    }
    auto yieldAt = [&](std::size_t k) { return p_[u[k]].yield; };
    auto rampable = [&](std::size_t k, double limit) {
        const double v = yieldAt(k);
        return std::isfinite(v) && v > 0.0 && v < limit;
    };
    std::vector<double> values;
    std::size_t previousEnd = 0;  // first index after the previous pass
    std::size_t k = 0;
    while (k < m) {
        if (turn[k]) {
            ++k;
            continue;
        }
        std::size_t b = k + 1;
        while (b < m && !turn[b] && !gapBefore[b]) {
            ++b;
        }
        const std::size_t a = k, len = b - a;
        // Where the points before and after the pass, in its turns, reach.
        std::size_t before = a;
        while (before > previousEnd && !gapBefore[before]) {
            --before;
        }
        std::size_t after = b;
        while (after < m && turn[after] && !gapBefore[after]) {
            ++after;
        }
        previousEnd = b;
        k = b;
        if (len < std::max<std::size_t>(8, 2 * std::min<std::size_t>(scan, 8))) {
            continue;
        }
        values.clear();
        for (std::size_t q = a + len / 4; q < b - len / 4; ++q) {
            if (std::isfinite(yieldAt(q)) && yieldAt(q) > 0.0) {
                values.push_back(yieldAt(q));
            }
        }
        if (values.size() < 4) {
            continue;
        }
        const double limit = level * median(values);
        auto good = [&](std::size_t q) {
            const double v = yieldAt(q);
            return std::isfinite(v) && v >= limit;
        };
        const std::size_t reach = std::min(scan, len - 1);
        const double deep = 0.6 * limit;
        auto low = [&](std::size_t q) { return rampable(q, limit); };
        // Start: the window runs from the turn before the pass (after its last zero: the header
        // was still up) to `reach` points into the pass. Its low points before the first two
        // good ones are the ramp when one of them is deep.
        std::size_t lo = std::max(before, a >= scan ? a - scan : 0);
        for (std::size_t q = lo; q < a; ++q) {
            if (!(yieldAt(q) > 0.0)) {
                lo = q + 1;
            }
        }
        for (std::size_t g = lo; g < a + reach; ++g) {
            if (!good(g) || !good(g + 1)) {
                continue;
            }
            bool ramp = false;
            for (std::size_t q = lo; q < g; ++q) {
                ramp = ramp || rampable(q, deep);
            }
            for (std::size_t q = lo; ramp && q < g; ++q) {
                if (low(q)) {
                    flag(u[q], Filter::PassEnd);
                }
            }
            break;
        }
        // End: the same, mirrored: from `reach` points before the end of the pass into the turn
        // after it, up to its first zero.
        std::size_t hi = std::min(after, b + scan);  // one past the window
        for (std::size_t q = b; q < hi; ++q) {
            if (!(yieldAt(q) > 0.0)) {
                hi = q;
                break;
            }
        }
        for (std::size_t h = hi - 1; h > b - 1 - reach; --h) {
            if (!good(h) || !good(h - 1)) {
                continue;
            }
            bool ramp = false;
            for (std::size_t q = h + 1; q < hi; ++q) {
                ramp = ramp || rampable(q, deep);
            }
            for (std::size_t q = h + 1; ramp && q < hi; ++q) {
                if (low(q)) {
                    flag(u[q], Filter::PassEnd);
                }
            }
            break;
        }
    }
}

// Cells of a square grid over the pool points, found through an open-addressing hash of the
// cell coordinates: O(n) to build, O(1) to look up, however far apart the points lie.
class CellGrid {
  public:
    CellGrid(double cell, const std::vector<double>& x, const std::vector<double>& y,
             const std::vector<std::uint32_t>& pool)
        : cell_(cell) {
        std::size_t size = 64;
        while (size < pool.size()) {
            size *= 2;
        }
        slots_.assign(size, Slot{});
        std::vector<std::uint32_t> cellOf(pool.size());
        for (std::size_t k = 0; k < pool.size(); ++k) {
            const std::uint64_t key = keyOf(x[pool[k]], y[pool[k]]);
            std::uint32_t id = find(key);
            if (id == kNone) {
                if (2 * (counts_.size() + 1) > slots_.size()) {
                    grow();
                }
                id = insert(key);
            }
            cellOf[k] = id;
            ++counts_[id];
        }
        starts_.assign(counts_.size() + 1, 0);
        for (std::size_t c = 0; c < counts_.size(); ++c) {
            starts_[c + 1] = starts_[c] + counts_[c];
        }
        items_.resize(pool.size());
        std::vector<std::uint32_t> fill(starts_.begin(), starts_.end() - 1);
        for (std::size_t k = 0; k < pool.size(); ++k) {
            items_[fill[cellOf[k]]++] = pool[k];
        }
    }

    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    std::int64_t column(double v) const {
        return static_cast<std::int64_t>(std::clamp(std::floor(v / cell_), -1e9, 1e9));
    }
    static std::uint64_t pack(std::int64_t cx, std::int64_t cy) {
        return (static_cast<std::uint64_t>(cx + (1ll << 31)) << 32) |
               static_cast<std::uint64_t>(cy + (1ll << 31));
    }
    std::uint64_t keyOf(double x, double y) const { return pack(column(x), column(y)); }

    std::uint32_t find(std::uint64_t key) const {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t s = hash(key) & mask;; s = (s + 1) & mask) {
            if (slots_[s].idPlusOne == 0) {
                return kNone;
            }
            if (slots_[s].key == key) {
                return slots_[s].idPlusOne - 1;
            }
        }
    }
    std::span<const std::uint32_t> items(std::uint32_t id) const {
        return {items_.data() + starts_[id], items_.data() + starts_[id + 1]};
    }

  private:
    static std::size_t hash(std::uint64_t key) {
        key ^= key >> 29;
        key *= 0xBF58476D1CE4E5B9ull;
        key ^= key >> 32;
        return static_cast<std::size_t>(key);
    }
    std::uint32_t insert(std::uint64_t key) {
        const auto id = static_cast<std::uint32_t>(counts_.size());
        counts_.push_back(0);
        place(key, id + 1);
        return id;
    }
    void place(std::uint64_t key, std::uint32_t idPlusOne) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t s = hash(key) & mask;
        while (slots_[s].idPlusOne != 0) {
            s = (s + 1) & mask;
        }
        slots_[s] = {key, idPlusOne};
    }
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.size() * 2, Slot{});
        for (const Slot& slot : old) {
            if (slot.idPlusOne != 0) {
                place(slot.key, slot.idPlusOne);
            }
        }
    }

    // Key and id side by side: one cache line per probe.
    struct Slot {
        std::uint64_t key = 0;
        std::uint32_t idPlusOne = 0;  // 0: empty
    };
    double cell_;
    std::vector<Slot> slots_;
    std::vector<std::uint32_t> counts_;
    std::vector<std::uint32_t> starts_;
    std::vector<std::uint32_t> items_;
};

// Local outliers: each point with a position and a positive yield against the median of the
// yields of the trusted points within the radius (the ones no hard filter flagged), in units
// of their median absolute deviation. The spread is floored at the log's sample-to-sample noise
// so that a calm neighbourhood does not make every wobble an outlier. At most 256 candidates of
// the 3x3 cells around a point are examined, taken at an even stride, so that a dense spot of a
// million points costs no more than a field.
void Cleaner::localOutliers() {
    if (!on(Filter::LocalOutlier)) {
        return;
    }
    const double radius = use("local-radius-m", std::clamp(6.0 * trackStep_, 8.0, 50.0));
    const double sigmas = use("local-sd", 4.0);
    if (!(radius > 0.0)) {
        return;
    }
    const FilterMask hard =
        bit(Filter::NonFinite) | bit(Filter::Position) | bit(Filter::Jump) | bit(Filter::ZeroYield);
    const FilterMask untrusted = hard | bit(Filter::YieldOutlier) | bit(Filter::Slow) |
                                 bit(Filter::SpeedBand) | bit(Filter::SpeedChange) |
                                 bit(Filter::PassEnd);
    std::vector<std::uint32_t> pool;
    pool.reserve(track_.size());
    for (std::size_t i : track_) {
        if (!has(i, untrusted) && p_[i].yield > 0.0 && n_ <= 0xFFFFFFFFu) {
            pool.push_back(static_cast<std::uint32_t>(i));
        }
    }
    if (pool.size() < kMinPointsToJudge) {
        return;
    }
    const CellGrid grid(radius, x_, y_, pool);
    const double floor = std::max(yieldNoise_, 0.01 * medianYield_);
    const double r2 = radius * radius;
    constexpr std::size_t kMaxCandidates = 256;
    constexpr std::size_t kMinNeighbours = 6;
    std::vector<float> cx, cy, cv;
    std::vector<std::uint32_t> ci;
    std::vector<float> near;
    cx.reserve(kMaxCandidates + 16);
    near.reserve(kMaxCandidates + 16);
    std::uint64_t gathered = ~0ull;
    constexpr std::size_t kLookupCache = 64;
    std::uint64_t cacheKeys[kLookupCache];
    std::uint32_t cacheIds[kLookupCache];
    std::fill(std::begin(cacheKeys), std::end(cacheKeys), ~0ull);
    double originX = 0.0, originY = 0.0;
    for (std::size_t i : track_) {
        const double v = p_[i].yield;
        if (has(i, hard) || !(v > 0.0) || !std::isfinite(v)) {
            continue;
        }
        const std::int64_t col = grid.column(x_[i]), row = grid.column(y_[i]);
        const std::uint64_t key = CellGrid::pack(col, row);
        if (key != gathered) {
            // The candidates of the 3x3 cells around this point's cell, relative to its corner
            // so that floats keep centimetres.
            gathered = key;
            originX = static_cast<double>(col) * radius;
            originY = static_cast<double>(row) * radius;
            std::span<const std::uint32_t> cells[9];
            std::size_t total = 0;
            for (int d = 0; d < 9; ++d) {
                // Neighbouring gathers share six of their nine cells: a small cache of the
                // last lookups saves the hash table's cache misses.
                const std::uint64_t cellKey = CellGrid::pack(col + d % 3 - 1, row + d / 3 - 1);
                const std::size_t line = (cellKey ^ (cellKey >> 29)) & (kLookupCache - 1);
                if (cacheKeys[line] != cellKey) {
                    cacheKeys[line] = cellKey;
                    cacheIds[line] = grid.find(cellKey);
                }
                const std::uint32_t id = cacheIds[line];
                cells[d] =
                    id == CellGrid::kNone ? std::span<const std::uint32_t>{} : grid.items(id);
                total += cells[d].size();
            }
            const std::size_t stride = total > kMaxCandidates ? total / kMaxCandidates + 1 : 1;
            cx.clear();
            cy.clear();
            cv.clear();
            ci.clear();
            std::size_t seen = 0;
            for (const auto& items : cells) {
                for (std::uint32_t j : items) {
                    if (stride == 1 || seen % stride == 0) {
                        cx.push_back(static_cast<float>(x_[j] - originX));
                        cy.push_back(static_cast<float>(y_[j] - originY));
                        cv.push_back(static_cast<float>(p_[j].yield));
                        ci.push_back(j);
                    }
                    ++seen;
                }
            }
        }
        const auto px = static_cast<float>(x_[i] - originX);
        const auto py = static_cast<float>(y_[i] - originY);
        const auto fr2 = static_cast<float>(r2);
        // First only count: the neighbours, and those below and above the band of the floor
        // spread around this yield. While fewer than half lie on either side, the median is in
        // the band and the point is no outlier, which settles most points without a sort.
        const auto bandLo = static_cast<float>(v - sigmas * floor);
        const auto bandHi = static_cast<float>(v + sigmas * floor);
        // Branch-free so that it vectorises; the point itself may be among the candidates and
        // is then counted once, inside the band, which the tests below allow for.
        unsigned count = 0, below = 0, above = 0;
        for (std::size_t c = 0; c < cx.size(); ++c) {
            const float ddx = cx[c] - px, ddy = cy[c] - py;
            const unsigned in = ddx * ddx + ddy * ddy <= fr2 ? 1u : 0u;
            count += in;
            below += in & (cv[c] < bandLo ? 1u : 0u);
            above += in & (cv[c] > bandHi ? 1u : 0u);
        }
        if (count < kMinNeighbours || (2 * below + 1 < count && 2 * above + 1 < count)) {
            continue;
        }
        near.clear();
        for (std::size_t c = 0; c < cx.size(); ++c) {
            const float ddx = cx[c] - px, ddy = cy[c] - py;
            if (ddx * ddx + ddy * ddy <= fr2 && ci[c] != i) {
                near.push_back(cv[c]);
            }
        }
        if (near.size() < kMinNeighbours) {
            continue;
        }
        auto mid = near.begin() + static_cast<std::ptrdiff_t>(near.size() / 2);
        std::nth_element(near.begin(), mid, near.end());
        const double centre = *mid;
        const double dev = std::fabs(v - centre);
        for (float& w : near) {
            w = std::fabs(w - static_cast<float>(centre));
        }
        std::nth_element(near.begin(), mid, near.end());
        const double spread = std::max(1.4826 * static_cast<double>(*mid), floor);
        if (dev > sigmas * spread) {
            flag(i, Filter::LocalOutlier);
        }
    }
}

}  // namespace

const ThresholdUsed* CleaningResult::threshold(std::string_view option) const {
    for (const ThresholdUsed& t : thresholds) {
        if (t.info->option == option) {
            return &t;
        }
    }
    return nullptr;
}

void setThreshold(CleaningOptions& options, std::string_view option, std::string_view value) {
    const ThresholdInfo* info = findThreshold(option);
    if (info == nullptr) {
        throw std::invalid_argument("Unknown cleaning option");
    }
    double v = 0.0;
    if (!parseNumber(value, v) || v < 0.0 || (option == "ramp-fraction" && v > 1.0) ||
        (option == "ramp-samples" && v > 1000.0)) {
        throw std::invalid_argument("Invalid threshold value");
    }
    options.*(info->member) = v;
}

std::string cleaningHelp() {
    // `text` after `prefix`, words wrapped at 100 columns, continuation lines indented as far
    // as the prefix is long.
    auto wrap = [](std::string line, std::string_view text) {
        const std::size_t indent = line.size();
        std::string out;
        bool first = true;
        while (!text.empty()) {
            const std::size_t space = text.find(' ');
            const std::string_view word = text.substr(0, space);
            text = space == std::string_view::npos ? std::string_view{} : text.substr(space + 1);
            if (!first && line.size() + 1 + word.size() > 100) {
                out += line + "\n";
                line.assign(indent, ' ');
            } else if (!first) {
                line += ' ';
            }
            line += word;
            first = false;
        }
        return out + line + "\n";
    };
    std::string out;
    for (const FilterInfo& f : kFilterInfo) {
        std::string head = "  " + std::string(f.code);
        head.resize(8, ' ');
        out += head + std::string(f.name) + "\n";
        for (const ThresholdInfo& t : kThresholdInfo) {
            if (t.filter == f.filter) {
                std::string option = "      --" + std::string(t.option) + " VALUE";
                option.resize(std::max<std::size_t>(option.size() + 2, 30), ' ');
                out += wrap(option, std::string(t.name) + ", " + std::string(t.unit) +
                                        " (automatic: " + std::string(t.automatic) + ")");
            }
        }
    }
    return out;
}

FilterMask parseFilterCodes(std::string_view codes) {
    FilterMask mask = 0;
    while (!codes.empty()) {
        const std::size_t comma = codes.find(',');
        std::string code(codes.substr(0, comma));
        codes = comma == std::string_view::npos ? std::string_view{} : codes.substr(comma + 1);
        for (char& c : code) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        bool found = false;
        for (const FilterInfo& f : kFilterInfo) {
            if (f.code == code) {
                mask |= bit(f.filter);
                found = true;
            }
        }
        if (!found) {
            throw std::invalid_argument("Unknown filter code");
        }
    }
    return mask;
}

std::string reasonText(FilterMask mask) {
    std::string out;
    for (const FilterInfo& f : kFilterInfo) {
        if ((mask & bit(f.filter)) != 0) {
            if (!out.empty()) {
                out += ',';
            }
            out += f.code;
        }
    }
    return out;
}

CleaningResult cleanPoints(std::span<const YieldPoint> points, const CleaningOptions& options) {
    CleaningResult result;
    Cleaner(points, options, result).run();
    return result;
}

std::string cleaningLine(const CleaningResult& result) {
    const std::size_t total = result.kept + result.removed;
    if (!result.judged()) {
        return "Cleaning: kept all " + std::to_string(total) + " points: " + result.note;
    }
    const double share =
        total > 0 ? 100.0 * static_cast<double>(result.kept) / static_cast<double>(total) : 100.0;
    std::string line = "Cleaning: kept " + std::to_string(result.kept) + " of " +
                       std::to_string(total) + " points (" + fixedNumber(share, 1) + "%)";
    if (result.removed == 0) {
        line += "; removed none";
    } else {
        line += "; removed " + std::to_string(result.removed) + ", by filter:";
        bool first = true;
        for (const FilterInfo& f : kFilterInfo) {
            const std::size_t c = result.flaggedBy(f.filter);
            if (c > 0) {
                line += first ? " " : ", ";
                line += std::string(f.code) + " " + std::to_string(c);
                first = false;
            }
        }
    }
    for (const std::string& w : result.warnings) {
        line += "; " + w;
    }
    return line;
}

}  // namespace vornakite::analysis
