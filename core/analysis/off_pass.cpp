// Off the passes (TRN): points logged in a turn, a loop or a drive over ground already
// harvested, where the header cuts no crop and whatever grain is logged was cut on a pass. The
// track is cut into passes at turns and gaps (passes.hpp); a turn's first and last points that
// still run on the pass's line are given back to it; a run of pass points lying within half a
// swath of earlier passes is on harvested ground (a transit across the field, a drive back to
// a pass). The verdict per point is also what the field's numbers take as "on a pass".
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/cleaner.hpp"
#include "analysis/geo.hpp"
#include "analysis/passes.hpp"

namespace vornakite::analysis::detail {
namespace {

constexpr std::uint32_t kEnd = 0xFFFFFFFFu;
// A turn point continues a pass while it lies within this angle of the pass's line seen from
// the pass's end and this close to the line (or three steps, whichever is more).
constexpr double kLineCos = 0.966;  // 15 degrees
constexpr double kLineMetres = 1.0;
// Slower than this share of the log's median speed is the pace of a turn.
constexpr double kTurnPace = 0.85;

// The pass's line: a point on it and its unit direction, from the middle half of its points.
struct Line {
    double x = 0, y = 0, ux = 0, uy = 0;
    bool valid = false;
};

Line lineOf(const Cleaner& c, const Pass& p) {
    Line l;
    const std::size_t len = p.end - p.begin;
    const std::size_t a = p.begin + len / 4, b = p.end - 1 - len / 4;
    const double dx = c.tx_[b] - c.tx_[a], dy = c.ty_[b] - c.ty_[a];
    const double d = planeDistance(dx, dy);
    if (len < 4 || !(d > 0.0)) {
        return l;
    }
    l = {c.tx_[a], c.ty_[a], dx / d, dy / d, true};
    return l;
}

// Whether track point `to` lies on the line, ahead of the pass's end point `from` (the first or
// last point of the pass) within the angle: a turn's first points run on, its arc leaves it.
// Within 2 m of the end the direction is GPS noise: only the distance from the line counts.
bool onLine(const Cleaner& c, const Line& l, std::size_t from, std::size_t to, double tolerance,
            double sign) {
    const double vx = c.tx_[to] - c.tx_[from], vy = c.ty_[to] - c.ty_[from];
    const double v = planeDistance(vx, vy);
    const double along = (vx * l.ux + vy * l.uy) * sign;
    const double off = std::fabs((c.tx_[to] - l.x) * l.uy - (c.ty_[to] - l.y) * l.ux);
    return off <= tolerance && along >= 0.0 && (v < 2.0 || along >= kLineCos * v);
}

// Marks the points of each pass, and the turn points on either side that continue its line at
// the pace of harvest (turns are driven slower).
void markPasses(const Cleaner& c, const TrackPasses& t, std::vector<std::uint8_t>& on) {
    const double tolerance = std::max(kLineMetres, 3.0 * c.medianStep_);
    const double slower = kTurnPace * c.medianSpeed_;
    auto continues = [&](const Line& l, std::size_t from, std::size_t to, double sign) {
        const double speed = c.p_.speed(c.track_[to]);
        return !(speed < slower) && onLine(c, l, from, to, tolerance, sign);
    };
    for (const Pass& p : t.passes) {
        std::fill(on.begin() + static_cast<std::ptrdiff_t>(p.begin),
                  on.begin() + static_cast<std::ptrdiff_t>(p.end), std::uint8_t{1});
        const Line l = lineOf(c, p);
        if (!l.valid) {
            continue;
        }
        for (std::size_t k = p.end; k < p.turnAfter && continues(l, p.end - 1, k, 1.0); ++k) {
            on[k] = 1;
        }
        for (std::size_t k = p.begin; k > p.turnBefore && continues(l, p.begin, k - 1, -1.0); --k) {
            on[k - 1] = 1;
        }
    }
}

// Track points in square cells found through a hash, added pass by pass, so that a pass's
// points are looked up among the earlier passes' only.
class HarvestedGround {
  public:
    HarvestedGround(const Cleaner& c, double radius)
        : c_(c), cell_(radius), radius2_(radius * radius), next_(c.track_.size(), kEnd) {
        std::size_t buckets = 64;
        while (buckets < c.track_.size() / 2) {
            buckets *= 2;
        }
        head_.assign(buckets, kEnd);
    }
    void add(std::size_t k) {
        const std::size_t b = bucket(column(c_.tx_[k]), column(c_.ty_[k]));
        next_[k] = head_[b];
        head_[b] = static_cast<std::uint32_t>(k);
    }
    // Whether an earlier pass's point lies within the radius of track point k.
    bool harvested(std::size_t k) const {
        const std::int64_t cx = column(c_.tx_[k]), cy = column(c_.ty_[k]);
        for (std::int64_t dy = -1; dy <= 1; ++dy) {
            for (std::int64_t dx = -1; dx <= 1; ++dx) {
                for (std::uint32_t j = head_[bucket(cx + dx, cy + dy)]; j != kEnd; j = next_[j]) {
                    const double ex = c_.tx_[j] - c_.tx_[k], ey = c_.ty_[j] - c_.ty_[k];
                    if (ex * ex + ey * ey < radius2_) {
                        return true;
                    }
                }
            }
        }
        return false;
    }

  private:
    std::int64_t column(double v) const {
        return static_cast<std::int64_t>(std::floor(std::clamp(v / cell_, -1e9, 1e9)));
    }
    std::size_t bucket(std::int64_t cx, std::int64_t cy) const {
        std::uint64_t h = static_cast<std::uint64_t>(cx) * 0x9E3779B97F4A7C15ull ^
                          static_cast<std::uint64_t>(cy) * 0xC2B2AE3D27D4EB4Full;
        h ^= h >> 29;
        return static_cast<std::size_t>(h * 0xBF58476D1CE4E5B9ull >> 17) & (head_.size() - 1);
    }

    const Cleaner& c_;
    double cell_, radius2_;
    std::vector<std::uint32_t> head_, next_;
};

// Runs of pass points within half a swath of earlier passes, at least a swath and three samples
// long, are off the passes: the crop there was cut before.
void markHarvested(const Cleaner& c, const TrackPasses& t, std::vector<std::uint8_t>& on) {
    const double radius = 0.5 * c.swath_;
    HarvestedGround ground(c, radius);
    const std::size_t shortest = std::max<std::size_t>(
        3, c.trackStep_ > 0.0 ? static_cast<std::size_t>(std::ceil(c.swath_ / c.trackStep_)) : 3);
    std::vector<std::uint8_t> hit;
    for (const Pass& p : t.passes) {
        hit.assign(p.end - p.begin, 0);
        auto harvested = [&](std::size_t k) { return on[k] != 0 && ground.harvested(k); };
        // A run long enough holds one of every `shortest` points: those are looked up, and the
        // points around one that is on harvested ground, as far as the run goes.
        for (std::size_t k = p.begin; k < p.end; k += shortest) {
            if (hit[k - p.begin] != 0 || !harvested(k)) {
                continue;
            }
            hit[k - p.begin] = 1;
            for (std::size_t q = k; q > p.begin && hit[q - 1 - p.begin] == 0 && harvested(q - 1);
                 --q) {
                hit[q - 1 - p.begin] = 1;
            }
            for (std::size_t q = k + 1; q < p.end && harvested(q); ++q) {
                hit[q - p.begin] = 1;
            }
        }
        for (std::size_t q = 0; q < hit.size();) {
            std::size_t e = q;
            while (e < hit.size() && hit[e] == hit[q]) {
                ++e;
            }
            if (hit[q] != 0 && e - q >= shortest) {
                std::fill(on.begin() + static_cast<std::ptrdiff_t>(p.begin + q),
                          on.begin() + static_cast<std::ptrdiff_t>(p.begin + e), std::uint8_t{0});
            }
            q = e;
        }
        for (std::size_t k = p.begin; k < p.end; ++k) {
            if (on[k] != 0) {
                ground.add(k);
            }
        }
    }
}

}  // namespace

void Cleaner::offPass(const TrackPasses& t) {
    const std::size_t m = track_.size();
    std::vector<std::uint8_t> on(m, 0);
    markPasses(*this, t, on);
    if (swath_ > 0.0) {
        markHarvested(*this, t, on);
    }
    r_.onPass.assign(n_, 0);
    const FilterMask offBit = bitIfOn(Filter::OffPass);
    for (std::size_t k = 0; k < m; ++k) {
        r_.onPass[track_[k]] = on[k];
        if (on[k] == 0) {
            r_.flags[track_[k]] |= offBit;
        }
    }
}

}  // namespace vornakite::analysis::detail
