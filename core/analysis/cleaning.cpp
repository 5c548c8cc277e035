// One run of the quality filters: the two passes that read the points (the track, the flags that
// need no statistics, the counts and the samples), then the filter families in their order, each
// in a file of its own, and the counts per filter.
#include "analysis/cleaning.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/cleaner.hpp"
#include "analysis/geo.hpp"
#include "analysis/robust.hpp"
#include "os/memory.hpp"

namespace vornakite::analysis {
namespace detail {
namespace {

bool isFinite(const YieldPoint& p) {
    return std::isfinite(p.yield) && std::isfinite(p.moisture) && std::isfinite(p.weight) &&
           std::isfinite(p.density) && std::isfinite(p.speed);
}

}  // namespace

double Cleaner::threshold(std::string_view option, double automaticValue) const {
    const std::optional<double>& set = opt_.*(findThreshold(option)->member);
    return set ? *set : automaticValue;
}

double Cleaner::use(std::string_view option, double automaticValue) {
    const ThresholdInfo* info = findThreshold(option);
    const std::optional<double>& set = opt_.*(info->member);
    const double value = set ? *set : automaticValue;
    r_.thresholds.push_back({info, value, !set.has_value()});
    return value;
}

std::vector<double>& Cleaner::scratch() {
    os::resizeLarge(scratch_, n_);
    return scratch_;
}

void Cleaner::releaseScratch() {
    std::vector<double>().swap(scratch_);
}

// The first pass: the track, the flags that need no statistics (NAN, POS, DUP) and the counts.
// False, with the note set, when the log cannot be judged.
bool Cleaner::readPoints() {
    os::reserveLarge(track_, n_);
    os::reserveLarge(tv_, n_);
    const double moistureLo = opt_.moistureMin.value_or(5.0);
    const double moistureHi = opt_.moistureMax.value_or(45.0);
    const FilterMask nonFinite = bitIfOn(Filter::NonFinite);
    const FilterMask position = bitIfOn(Filter::Position);
    const FilterMask duplicate = bitIfOn(Filter::Duplicate);
    std::size_t usable = 0;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    bool onePlace = true;
    double firstLon = 0.0, firstLat = 0.0;  // the first valid position
    bool previousPositive = false;
    for (std::size_t i = 0; i < n_; ++i) {
        const YieldPoint& p = p_[i];
        const bool positive = std::isfinite(p.yield) && p.yield > 0.0;
        positiveYields_ += positive ? 1u : 0u;
        positivePairs_ += positive && previousPositive ? 1u : 0u;
        previousPositive = positive;
        positiveSpeeds_ += std::isfinite(p.speed) && p.speed > 0.0 ? 1u : 0u;
        finiteMoistures_ += std::isfinite(p.moisture) ? 1u : 0u;
        plausibleMoistures_ += p.moisture >= moistureLo && p.moisture <= moistureHi ? 1u : 0u;
        FilterMask flags = isFinite(p) ? FilterMask{0} : nonFinite;
        if (validPosition(p)) {
            if (track_.empty()) {
                firstLon = p.longitude;
                firstLat = p.latitude;
            } else if (p.latitude != firstLat || p.longitude != firstLon) {
                onePlace = false;
            }
            if (positive) {
                ++usable;
                lo = std::min(lo, p.yield);
                hi = std::max(hi, p.yield);
            }
            if (i > 0 && p.latitude == p_.latitude(i - 1) && p.longitude == p_.longitude(i - 1)) {
                flags |= duplicate;
            }
            track_.push_back(static_cast<std::uint32_t>(i));
            tv_.push_back(static_cast<float>(p.yield));
        } else {
            flags |= position;
        }
        r_.flags[i] = flags;
    }
    if (n_ > std::numeric_limits<std::uint32_t>::max()) {
        r_.note = "too many points to judge (" + std::to_string(n_) + ")";
        return false;
    }
    if (n_ < kMinPointsToJudge) {
        r_.note = "too few points to judge (" + std::to_string(n_) + ", at least " +
                  std::to_string(kMinPointsToJudge) + " needed)";
        return false;
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

// The second pass: the samples of the speeds, the positive yields, the differences of
// consecutive positive yields, and the plausible moistures, each thinned by its own stride as
// collectSample does.
void Cleaner::takeSamples() {
    struct Sampler {
        std::vector<double>& out;
        std::size_t stride, seen = 0, next = 0;
        Sampler(std::vector<double>& o, std::size_t count)
            : out(o), stride(count > kStatisticsSample ? count / kStatisticsSample + 1 : 1) {
            out.reserve(count / stride + 1);
        }
        void offer(bool keep, double value) {
            if (keep) {
                if (seen == next) {
                    out.push_back(value);
                    next += stride;
                }
                ++seen;
            }
        }
    };
    const bool moisture = on(Filter::MoistureRange) || on(Filter::MoistureOutlier);
    const double moistureLo = opt_.moistureMin.value_or(5.0);
    const double moistureHi = opt_.moistureMax.value_or(45.0);
    Sampler speeds(speedSample_, positiveSpeeds_), yields(yieldSample_, positiveYields_);
    Sampler diffs(diffSample_, positivePairs_);
    Sampler moistures(moistureSample_, moisture ? plausibleMoistures_ : 0);
    bool previousPositive = false;
    double previous = 0.0;
    for (std::size_t i = 0; i < n_; ++i) {
        const double speed = p_.speed(i);
        const double v = yieldOf(i), m = moistureOf(i);
        const bool positive = std::isfinite(v) && v > 0.0;
        speeds.offer(std::isfinite(speed) && speed > 0.0, speed);
        yields.offer(positive, v);
        diffs.offer(positive && previousPositive, v - previous);
        moistures.offer(moisture && m >= moistureLo && m <= moistureHi, m);
        previousPositive = positive;
        previous = v;
    }
}

void Cleaner::run() {
    os::reserveLarge(r_.flags, n_);
    r_.flags.assign(n_, 0);
    if (readPoints()) {
        positions();
        jumps();
        dropJumps();
        undoLag();
        takeSamples();
        pointFilters();
        passEnds();
        localOutliers();
    } else {
        // A log that cannot be judged still has its invalid values and positions flagged: those
        // filters judge each point alone.
        const FilterMask alone = bit(Filter::NonFinite) | bit(Filter::Position);
        for (std::size_t i = 0; i < n_; ++i) {
            r_.flags[i] &= alone;
        }
    }
    countFlags();
}

// The points kept and removed, and those each filter flagged.
void Cleaner::countFlags() {
    // One count per combination of flags: 2^15 of them, on the heap.
    std::vector<std::size_t> masks(std::size_t{1} << kFilterCount);
    for (std::size_t i = 0; i < n_; ++i) {
        ++masks[r_.flags[i]];
    }
    r_.kept = masks[0];
    for (std::size_t m = 1; m < masks.size(); ++m) {
        for (std::size_t f = 0; f < kFilterCount; ++f) {
            r_.flagged[f] += ((m >> f) & 1u) * masks[m];
        }
    }
    r_.removed = n_ - r_.kept;
    if (r_.kept * 2 < n_) {
        r_.warnings.push_back("the filters removed more than half of the points");
    }
}

}  // namespace detail

const ThresholdUsed* CleaningResult::threshold(std::string_view option) const {
    for (const ThresholdUsed& t : thresholds) {
        if (t.info->option == option) {
            return &t;
        }
    }
    return nullptr;
}

CleaningResult cleanPoints(PointView points, const CleaningOptions& options) {
    CleaningResult result;
    detail::Cleaner(points, options, result).run();
    return result;
}

}  // namespace vornakite::analysis
