#include "analysis/passes.hpp"

#include <algorithm>
#include <cmath>

#include "analysis/geo.hpp"
#include "analysis/halves.hpp"

namespace vornakite::analysis {
namespace {

constexpr double kPi = 3.14159265358979323846;
// A chord search looks at most this many points away.
constexpr std::size_t kLongestChord = 400;
// The searches skip runs of this many points whose bounding box lies within a chord of the point
// (a crawl or a stop on one spot, where no point of the 400 may be a chord away).
constexpr std::size_t kRun = 16;

// The gaps, and the distance along the track to each point.
void markGaps(std::span<const float> x, std::span<const float> y, double gapMetres,
              std::span<double> along, std::vector<std::uint8_t>& gapBefore) {
    along[0] = 0.0;
    for (std::size_t k = 1; k < x.size(); ++k) {
        const double step = planeDistance(x[k] - x[k - 1], y[k] - y[k - 1]);
        gapBefore[k] = step > gapMetres ? 1 : 0;
        along[k] = along[k - 1] + step;
    }
}

// The walk over the track that marks the turns, a stretch of it at a time.
class TurnWalk {
  public:
    TurnWalk(std::span<const float> x, std::span<const float> y, const double* along,
             double chordMetres, TrackPasses& t)
        : x_(x),
          y_(y),
          along_(along),
          m_(x.size()),
          chord2_(chordMetres * chordMetres),
          // A point less far along the track than a chord cannot be a chord away in a straight
          // line: the searches start where the track has covered that distance. The margin
          // covers the rounding of the sums, so the result is the same as searching every point.
          surelyShort_(chordMetres * (1.0 - 1e-9) - 1e-12 * along[x.size() - 1]),
          cosLimit_(std::cos(kTurnDegrees * kPi / 180.0)),
          gapBefore_(t.gapBefore),
          turn_(t.turn) {
        boxes_.resize(m_ / kRun);
        for (std::size_t q = 0; q < boxes_.size(); ++q) {
            Box& b = boxes_[q];
            b = {x[q * kRun], x[q * kRun], y[q * kRun], y[q * kRun]};
            for (std::size_t k = q * kRun + 1; k < (q + 1) * kRun; ++k) {
                b.xLo = std::min<double>(b.xLo, x[k]), b.xHi = std::max<double>(b.xHi, x[k]);
                b.yLo = std::min<double>(b.yLo, y[k]), b.yHi = std::max<double>(b.yHi, y[k]);
            }
        }
    }

    void walk(std::size_t from, std::size_t to) const;

  private:
    bool far(std::size_t a, std::size_t b) const {
        const double dx = x_[a] - x_[b], dy = y_[a] - y_[b];
        return dx * dx + dy * dy >= chord2_;
    }
    // Whether a point of run q may be far from k. Rounding is monotone, so the box's farther
    // edges bound every point's differences as far() computes them: false means none is far.
    bool mayBeFar(std::size_t q, std::size_t k) const {
        const Box& b = boxes_[q];
        const double dx = std::max(b.xHi - x_[k], x_[k] - b.xLo);
        const double dy = std::max(b.yHi - y_[k], y_[k] - b.yLo);
        return dx * dx + dy * dy >= chord2_;
    }
    bool bends(std::size_t back, std::size_t k, std::size_t ahead) const;
    std::size_t searchBack(std::size_t from, std::size_t lowest, std::size_t k) const;
    std::size_t searchAhead(std::size_t from, std::size_t highest, std::size_t k) const;

    struct Box {
        double xLo, xHi, yLo, yHi;
    };

    std::span<const float> x_, y_;
    const double* along_;
    std::size_t m_;
    double chord2_;
    double surelyShort_;
    double cosLimit_;
    const std::vector<std::uint8_t>& gapBefore_;
    std::vector<std::uint8_t>& turn_;
    std::vector<Box> boxes_;  // of the runs of kRun points
};

// The latest index in (lowest, from] far from k, else lowest.
std::size_t TurnWalk::searchBack(std::size_t from, std::size_t lowest, std::size_t k) const {
    std::size_t back = from;
    while (back > lowest) {
        if (back % kRun == kRun - 1 && back + 1 - kRun > lowest && !mayBeFar(back / kRun, k)) {
            back -= kRun;
        } else if (far(back, k)) {
            break;
        } else {
            --back;
        }
    }
    return back;
}

// The first index in [from, highest) far from k, else highest.
std::size_t TurnWalk::searchAhead(std::size_t from, std::size_t highest, std::size_t k) const {
    std::size_t ahead = from;
    while (ahead < highest) {
        if (ahead % kRun == 0 && ahead + kRun <= highest && !mayBeFar(ahead / kRun, k)) {
            ahead += kRun;
        } else if (far(ahead, k)) {
            break;
        } else {
            ++ahead;
        }
    }
    return ahead;
}

// The turns of [from, to); the state of the walk is set up as a walk from 0 would have it.
void TurnWalk::walk(std::size_t from, std::size_t to) const {
    std::size_t segment = from;  // first index of the current gap-free segment
    while (segment > 0 && !gapBefore_[segment]) {
        --segment;
    }
    std::size_t segmentEnd = 0;  // its last index
    // [shortBefore, k): along the track less than surelyShort from k; (k, shortAfter): the same.
    const double* along = along_;
    std::size_t shortBefore = static_cast<std::size_t>(
        std::partition_point(along, along + from,
                             [&](double a) { return along[from] - a >= surelyShort_; }) -
        along);
    std::size_t shortAfter = from;
    for (std::size_t k = from; k < to; ++k) {
        if (gapBefore_[k]) {
            segment = k;
        }
        if (segmentEnd < k) {
            segmentEnd = k;
        }
        if (segmentEnd == k) {
            while (segmentEnd + 1 < m_ && !gapBefore_[segmentEnd + 1]) {
                ++segmentEnd;
            }
        }
        while (shortBefore < k && along[k] - along[shortBefore] >= surelyShort_) {
            ++shortBefore;
        }
        shortAfter = std::max(shortAfter, k + 1);
        while (shortAfter < m_ && along[shortAfter] - along[k] < surelyShort_) {
            ++shortAfter;
        }
        // back: the latest index in [segment, k) far from k, looking back at most kLongestChord
        // points. Both searches are done afresh for each point: on a turn the track comes back
        // alongside itself, so the previous point's answers can be wrong for this one.
        const std::size_t lowest = std::max(segment, k >= kLongestChord ? k - kLongestChord : 0);
        std::size_t back = k;
        if (k > segment) {
            back =
                searchBack(shortBefore > 0 ? std::max(lowest, shortBefore - 1) : lowest, lowest, k);
        }
        // ahead: the first index after k, within the segment, far from k.
        const std::size_t highest = std::min(segmentEnd, k + kLongestChord);
        const std::size_t ahead = searchAhead(std::min(highest, shortAfter), highest, k);
        if (bends(back, k, ahead)) {
            turn_[k] = 1;
        }
    }
}

// Whether the chords back -> k and k -> ahead, when both are found, meet at more than the
// turn angle.
bool TurnWalk::bends(std::size_t back, std::size_t k, std::size_t ahead) const {
    if (back >= k || ahead <= k || !far(back, k) || !far(ahead, k)) {
        return false;
    }
    const double ax = x_[k] - x_[back], ay = y_[k] - y_[back];
    const double bx = x_[ahead] - x_[k], by = y_[ahead] - y_[k];
    return (ax * bx + ay * by) / (planeDistance(ax, ay) * planeDistance(bx, by)) < cosLimit_;
}

// The runs of points between the turns and gaps, with the turns around each.
void listPasses(TrackPasses& t) {
    const std::size_t m = t.turn.size();
    std::size_t previousEnd = 0;  // first index after the previous pass
    std::size_t k = 0;
    while (k < m) {
        if (t.turn[k]) {
            ++k;
            continue;
        }
        std::size_t b = k + 1;
        while (b < m && !t.turn[b] && !t.gapBefore[b]) {
            ++b;
        }
        // Where the points before and after the pass, in its turns, reach.
        std::size_t before = k;
        while (before > previousEnd && !t.gapBefore[before]) {
            --before;
        }
        std::size_t after = b;
        while (after < m && t.turn[after] && !t.gapBefore[after]) {
            ++after;
        }
        t.passes.push_back({k, b, before, after});
        previousEnd = b;
        k = b;
    }
}

}  // namespace

TrackPasses findPasses(std::span<const float> x, std::span<const float> y, double gapMetres,
                       double chordMetres, std::span<double> along) {
    const std::size_t m = x.size();
    TrackPasses t;
    t.gapBefore.assign(m, 0);
    t.turn.assign(m, 0);
    if (m == 0) {
        return t;
    }
    markGaps(x, y, gapMetres, along, t.gapBefore);
    const TurnWalk turns(x, y, along.data(), chordMetres, t);
    inHalves(m, [&](std::size_t from, std::size_t to, int) { turns.walk(from, to); });
    listPasses(t);
    return t;
}

}  // namespace vornakite::analysis
