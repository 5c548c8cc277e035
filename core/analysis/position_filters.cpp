// The track's positions: projected to metres, the step statistics the other filters use, and
// the GPS jumps (JMP) found and left out of the track.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "analysis/cleaner.hpp"
#include "analysis/geo.hpp"
#include "analysis/halves.hpp"
#include "analysis/robust.hpp"
#include "os/memory.hpp"

namespace vornakite::analysis::detail {
namespace {

// A jump and the step back from it lie at most this many samples apart.
constexpr std::size_t kLongestJump = 30;

// The squared distance between track points a and b.
double squared(const Cleaner& c, std::size_t a, std::size_t b) {
    const double dx = c.tx_[a] - c.tx_[b], dy = c.ty_[a] - c.ty_[b];
    return dx * dx + dy * dy;
}

// The distance of track point b from the midpoint of a and d.
double deviation(const Cleaner& c, std::size_t a, std::size_t b, std::size_t d) {
    return planeDistance(c.tx_[b] - 0.5 * (c.tx_[a] + c.tx_[d]),
                         c.ty_[b] - 0.5 * (c.ty_[a] + c.ty_[d]));
}

// The median step and the distance covered per sample; the automatic jump distance.
double trackSteps(Cleaner& c) {
    const std::size_t m = c.track_.size();
    // A step is longer than zero when its square is.
    std::vector<double> steps = collectSampleInHalves(
        m > 0 ? m - 1 : 0, [&](std::size_t k) { return squared(c, k, k + 1) > 0.0; },
        [&](std::size_t k) { return std::sqrt(squared(c, k, k + 1)); });
    c.medianStep_ = steps.empty() ? 0.0 : median(steps);
    // The distance covered per sample, over ten samples: at a high sample rate a single step
    // is mostly GPS noise.
    constexpr std::size_t kSpan = 10;
    std::vector<double> spans = collectSampleInHalves(
        m > kSpan ? m - kSpan : 0, [&](std::size_t k) { return squared(c, k, k + kSpan) > 0.0; },
        [&](std::size_t k) { return std::sqrt(squared(c, k, k + kSpan)) / kSpan; });
    c.trackStep_ = spans.empty() ? c.medianStep_ : median(spans);
    std::vector<double> deviations = collectSample(
        m > 2 ? m - 2 : 0, m > 2 ? m - 2 : 0, [](std::size_t) { return true; },
        [&](std::size_t k) { return deviation(c, k, k + 1, k + 2); });
    const double medianDeviation = deviations.empty() ? 0.0 : median(deviations);
    return std::max({1.5 * c.medianStep_, 6.0 * medianDeviation, 1.0});
}

// Runs of points that a large step leads away from and an opposite large step brings back from.
void flagJumpRuns(Cleaner& c, double bigStep, double backTolerance) {
    const std::size_t m = c.track_.size();
    auto dx = [&](std::size_t k) { return c.tx_[k] - c.tx_[k - 1]; };
    auto dy = [&](std::size_t k) { return c.ty_[k] - c.ty_[k - 1]; };
    auto big = [&](std::size_t k) { return planeDistance(dx(k), dy(k)) > bigStep; };
    for (std::size_t k = 1; k + 1 < m; ++k) {
        if (!big(k)) {
            continue;
        }
        for (std::size_t j = k; j + 1 < m && j < k + kLongestJump; ++j) {
            if (big(j + 1) &&
                planeDistance(dx(k) + dx(j + 1), dy(k) + dy(j + 1)) <= backTolerance) {
                for (std::size_t q = k; q <= j; ++q) {
                    c.flag(c.track_[q], Filter::Jump);
                }
                k = j + 1;
                break;
            }
        }
    }
}

// Each point against its neighbours' midpoint: on its own, so in halves.
void flagSingleJumps(Cleaner& c, double backTolerance) {
    const std::size_t m = c.track_.size();
    inHalves(m, [&](std::size_t from, std::size_t to, int) {
        for (std::size_t k = std::max<std::size_t>(from, 1); k < to && k + 1 < m; ++k) {
            if (c.has(c.track_[k], bit(Filter::Jump))) {
                continue;
            }
            if (deviation(c, k - 1, k, k + 1) > c.jumpMetres_ &&
                std::sqrt(squared(c, k - 1, k + 1)) <= backTolerance) {
                c.flag(c.track_[k], Filter::Jump);
            }
        }
    });
}

}  // namespace

// Projects the valid positions around their median.
void Cleaner::positions() {
    const std::size_t m = track_.size();
    // The first valid position anchors longitudes, so that a field across the antimeridian is
    // measured as one piece.
    auto lon = [&](std::size_t k) { return p_.longitude(track_[k]); };
    auto lat = [&](std::size_t k) { return p_.latitude(track_[k]); };
    const double anchor = lon(0);
    auto all = [](std::size_t) { return true; };
    std::vector<double> lats = collectSample(m, m, all, lat);
    std::vector<double> lons =
        collectSample(m, m, all, [&](std::size_t k) { return wrapLongitude(lon(k) - anchor); });
    const LocalProjection proj(anchor + median(lons), median(lats));
    os::resizeLarge(tx_, m);
    os::resizeLarge(ty_, m);
    for (std::size_t k = 0; k < m; ++k) {
        tx_[k] = static_cast<float>(proj.x(lon(k)));
        ty_[k] = static_cast<float>(proj.y(lat(k)));
    }
}

// GPS jumps: a point whose distance from its neighbours' midpoint is beyond the threshold
// while the neighbours agree, and runs of points that a large step leads away from and an
// opposite large step brings back from within 30 samples. A large step with no way back is a
// gap in the log, not an error.
void Cleaner::jumps() {
    const double automatic = trackSteps(*this);
    if (!on(Filter::Jump)) {
        jumpMetres_ = automatic;
        return;
    }
    jumpMetres_ = use("jump-m", automatic);
    const double backTolerance = 2.0 * medianStep_ + jumpMetres_;
    flagJumpRuns(*this, medianStep_ + jumpMetres_, backTolerance);
    flagSingleJumps(*this, backTolerance);
}

// The filters after this one leave the jumps out: the track is compacted in place.
void Cleaner::dropJumps() {
    std::size_t to = 0;
    for (std::size_t k = 0; k < track_.size(); ++k) {
        if (!has(track_[k], bit(Filter::Jump))) {
            track_[to] = track_[k];
            tx_[to] = tx_[k];
            ty_[to] = ty_[k];
            tv_[to] = tv_[k];
            ++to;
        }
    }
    track_.resize(to);
    tx_.resize(to);
    ty_.resize(to);
    tv_.resize(to);
}

}  // namespace vornakite::analysis::detail
