// Local outliers (LOC): each point with a position and a positive yield against the median of
// the yields of the trusted points within the radius (the ones no hard filter flagged), in units
// of their median absolute deviation. The spread is floored at the log's sample-to-sample noise
// so that a calm neighbourhood does not make every wobble an outlier. At most 256 candidates of
// the 3x3 cells around a point are examined, taken at an even stride, so that a dense spot of a
// million points costs no more than a field.
//
// A point is no outlier while fewer than half of its neighbours lie below the band of
// `sigmas` floor spreads around its yield, and fewer than half above: the median is then in the
// band. So most points are settled by counting alone, in steps that each cost less than the
// next: the block's three lowest and highest yields; the neighbours outside the band, found
// through each cell's extremes; and the neighbours, counted until there are enough. Distances
// are compared in floats relative to the block's middle cell, the same for every step.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "analysis/cell_grid.hpp"
#include "analysis/cleaner.hpp"
#include "analysis/halves.hpp"
#include "analysis/robust.hpp"
#include "os/memory.hpp"

namespace vornakite::analysis::detail {
namespace {

constexpr std::size_t kMaxCandidates = 256;
constexpr unsigned kMinNeighbours = 6;
// The cells of the block: the middle one first, then those beside it, then the corners,
// so that counting neighbours finds the near ones first.
constexpr int kOrder[9] = {4, 1, 3, 5, 7, 0, 2, 6, 8};
constexpr std::size_t kLookupCache = 1024;
constexpr std::size_t kCandidateBlocks = 32;

// The points judged by the filter and what they are judged against.
struct LocalSearch {
    Cleaner& cleaner;
    const CellGrid& grid;
    double radius;
    double sigmas;
    double floor;  // the least spread
    FilterMask hard;
};

// Judges the points of a stretch of the track, one after the other: each point on its own, but
// the block of 3x3 cells around a point's cell, and a dense block's candidates, are kept for the
// next points in the same cell.
class LocalJudge {
  public:
    explicit LocalJudge(const LocalSearch& s)
        : s_(s), c_(s.cleaner), fr2_(static_cast<float>(s.radius * s.radius)) {
        std::fill(std::begin(cacheKeys_), std::end(cacheKeys_), ~0ull);
    }

    void judge(std::size_t from, std::size_t to);

  private:
    // Dense blocks' candidates, taken at an even stride, relative to the middle cell: the last
    // few dozen blocks', since a dense spot across cell borders enters up to four blocks in turn,
    // and a track round a small loop a dozen or so.
    struct Candidates {
        std::uint64_t key = ~0ull;
        std::vector<float> x, y, v;
        std::vector<std::size_t> id;
    };

    // The j-th listed point of the grid: position, yield, and the point.
    double cellX(std::size_t j) const { return c_.tx_[s_.grid.member(j)]; }
    double cellY(std::size_t j) const { return c_.ty_[s_.grid.member(j)]; }
    float cellV(std::size_t j) const { return c_.tv_[s_.grid.member(j)]; }
    std::size_t cellId(std::size_t j) const { return c_.track_[s_.grid.member(j)]; }
    bool near(std::size_t j) const {
        const float dx = static_cast<float>(cellX(j) - originX_) - px_;
        const float dy = static_cast<float>(cellY(j) - originY_) - py_;
        return dx * dx + dy * dy <= fr2_;
    }

    void enterBlock(std::uint64_t key);
    unsigned countBelow(std::uint32_t id, float lo) const;
    unsigned countAbove(std::uint32_t id, float hi) const;
    const Candidates& gatherStrided();
    bool denseNeighbours(std::size_t i, float bandLo, float bandHi);
    bool countedNeighbours(std::size_t i, float bandLo, float bandHi);
    bool outlier(double v);

    const LocalSearch& s_;
    Cleaner& c_;
    const float fr2_;                // the radius squared
    std::uint64_t current_ = ~0ull;  // the cell whose 3x3 block is looked up
    std::uint32_t ids_[9];           // in block order, row by row from the south-west
    std::size_t total_ = 0;          // points in the block
    CellGrid::Extremes block_;
    std::uint64_t cacheKeys_[kLookupCache];
    std::uint32_t cacheIds_[kLookupCache];
    double originX_ = 0.0, originY_ = 0.0;  // the block's middle cell
    float px_ = 0.0f, py_ = 0.0f;           // the point judged, relative to it
    Candidates blocks_[kCandidateBlocks];
    std::size_t nextBlock_ = 0;               // the one replaced next
    const Candidates* candidates_ = nullptr;  // the current block's, once gathered
    std::vector<float> values_;               // the neighbours' yields
};

void LocalJudge::judge(std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) {
        const std::size_t i = c_.track_[k];
        const double v = c_.trackYield(k);
        if (c_.has(i, s_.hard) || !(v > 0.0) || !std::isfinite(v)) {
            continue;
        }
        const std::uint64_t key = CellGrid::keyOf(c_.tx_[k], c_.ty_[k], s_.radius);
        if (key != current_) {
            enterBlock(key);
        }
        const auto bandLo = static_cast<float>(v - s_.sigmas * s_.floor);
        const auto bandHi = static_cast<float>(v + s_.sigmas * s_.floor);
        // At most two of the block's yields below the band and two above: at most two
        // neighbours on either side, which with six or more neighbours leaves the median in the
        // band; with fewer the point is not judged.
        if (!(block_.low[2] < bandLo) && !(block_.high[2] > bandHi)) {
            continue;
        }
        px_ = static_cast<float>(c_.tx_[k] - originX_);
        py_ = static_cast<float>(c_.ty_[k] - originY_);
        values_.clear();
        const bool judged = total_ > kMaxCandidates ? denseNeighbours(i, bandLo, bandHi)
                                                    : countedNeighbours(i, bandLo, bandHi);
        if (judged && values_.size() >= kMinNeighbours && outlier(v)) {
            c_.flag(i, Filter::LocalOutlier);
        }
    }
}

// The block of the cell `key`: its cells, their extremes together, and how many points it has.
void LocalJudge::enterBlock(std::uint64_t key) {
    const std::int64_t col = CellGrid::columnOf(key), row = CellGrid::rowOf(key);
    current_ = key;
    candidates_ = nullptr;
    originX_ = static_cast<double>(col) * s_.radius;
    originY_ = static_cast<double>(row) * s_.radius;
    block_ = CellGrid::Extremes{};
    total_ = 0;
    for (int d = 0; d < 9; ++d) {
        // Neighbouring blocks share six of their nine cells: a small cache of the last lookups
        // saves the hash table's cache misses.
        const std::uint64_t cellKey = CellGrid::pack(col + d % 3 - 1, row + d / 3 - 1);
        const std::size_t line = (cellKey ^ (cellKey >> 29)) & (kLookupCache - 1);
        if (cacheKeys_[line] != cellKey) {
            cacheKeys_[line] = cellKey;
            cacheIds_[line] = s_.grid.find(cellKey);
        }
        ids_[d] = cacheIds_[line];
        if (ids_[d] != CellGrid::kNone) {
            block_.add(s_.grid.extremes(ids_[d]));
            total_ += s_.grid.end(ids_[d]) - s_.grid.begin(ids_[d]);
        }
    }
}

// The neighbours below `lo` in cell `id`.
unsigned LocalJudge::countBelow(std::uint32_t id, float lo) const {
    const CellGrid::Extremes& e = s_.grid.extremes(id);
    unsigned n = 0;
    if (!(e.low[2] < lo)) {  // at most the two lowest are below
        for (int k = 0; k < 2 && e.low[k] < lo; ++k) {
            n += near(e.lowAt[k]) ? 1u : 0u;
        }
        return n;
    }
    for (std::size_t j = s_.grid.begin(id); j < s_.grid.end(id); ++j) {
        n += cellV(j) < lo && near(j) ? 1u : 0u;
    }
    return n;
}

// The neighbours above `hi` in cell `id`.
unsigned LocalJudge::countAbove(std::uint32_t id, float hi) const {
    const CellGrid::Extremes& e = s_.grid.extremes(id);
    unsigned n = 0;
    if (!(e.high[2] > hi)) {
        for (int k = 0; k < 2 && e.high[k] > hi; ++k) {
            n += near(e.highAt[k]) ? 1u : 0u;
        }
        return n;
    }
    for (std::size_t j = s_.grid.begin(id); j < s_.grid.end(id); ++j) {
        n += cellV(j) > hi && near(j) ? 1u : 0u;
    }
    return n;
}

// A dense block's candidates: every stride-th of its points, from the first, picked by their
// place in the block's cells, so that a gather costs its candidates and not the block's points
// (a spot that straddles a cell border enters a block at nearly every point).
const LocalJudge::Candidates& LocalJudge::gatherStrided() {
    for (const Candidates& b : blocks_) {
        if (b.key == current_) {
            return b;
        }
    }
    Candidates& c = blocks_[nextBlock_];
    nextBlock_ = (nextBlock_ + 1) % kCandidateBlocks;
    c.key = current_;
    c.x.clear();
    c.y.clear();
    c.v.clear();
    c.id.clear();
    const std::size_t stride = total_ / kMaxCandidates + 1;
    std::size_t seen = 0, next = 0;  // the block's points before this cell; the next one taken
    for (const std::uint32_t id : ids_) {
        if (id == CellGrid::kNone) {
            continue;
        }
        const std::size_t begin = s_.grid.begin(id), count = s_.grid.end(id) - begin;
        for (; next < seen + count; next += stride) {
            const std::size_t j = begin + (next - seen);
            c.x.push_back(static_cast<float>(cellX(j) - originX_));
            c.y.push_back(static_cast<float>(cellY(j) - originY_));
            c.v.push_back(cellV(j));
            c.id.push_back(cellId(j));
        }
        seen += count;
    }
    return c;
}

// A dense block: only every so many of its points count as neighbours, so all of them are
// counted. False when the point is settled without its neighbours' yields.
bool LocalJudge::denseNeighbours(std::size_t i, float bandLo, float bandHi) {
    if (candidates_ == nullptr) {
        candidates_ = &gatherStrided();
    }
    const std::vector<float>&cx = candidates_->x, &cy = candidates_->y, &cv = candidates_->v;
    const std::vector<std::size_t>& ci = candidates_->id;
    unsigned count = 0, below = 0, above = 0;
    for (std::size_t c = 0; c < cx.size(); ++c) {
        const float dx = cx[c] - px_, dy = cy[c] - py_;
        const unsigned in = dx * dx + dy * dy <= fr2_ ? 1u : 0u;
        count += in;
        below += in & (cv[c] < bandLo ? 1u : 0u);
        above += in & (cv[c] > bandHi ? 1u : 0u);
    }
    if (count < kMinNeighbours || (2 * below + 1 < count && 2 * above + 1 < count)) {
        return false;
    }
    for (std::size_t c = 0; c < cx.size(); ++c) {
        const float dx = cx[c] - px_, dy = cy[c] - py_;
        if (dx * dx + dy * dy <= fr2_ && ci[c] != i) {
            values_.push_back(cv[c]);
        }
    }
    return true;
}

// Any other block: the neighbours outside the band (the point itself is inside it), then the
// neighbours, counted until there are enough. False when the point is settled by counting.
bool LocalJudge::countedNeighbours(std::size_t i, float bandLo, float bandHi) {
    unsigned below = 0, above = 0;
    for (const std::uint32_t id : ids_) {
        if (id != CellGrid::kNone) {
            below += countBelow(id, bandLo);
            above += countAbove(id, bandHi);
        }
    }
    const unsigned most = std::max(below, above);
    if (most <= 2) {
        return false;
    }
    // Then the neighbours (the point itself among them when it is in the pool), until there are
    // more than twice as many as on the fuller side.
    unsigned count = 0;
    for (int d = 0; d < 9 && count <= 2 * most + 1; ++d) {
        const std::uint32_t id = ids_[kOrder[d]];
        if (id == CellGrid::kNone) {
            continue;
        }
        for (std::size_t j = s_.grid.begin(id); j < s_.grid.end(id); ++j) {
            count += near(j) ? 1u : 0u;
        }
    }
    if (count < kMinNeighbours || count > 2 * most + 1) {
        return false;
    }
    for (const std::uint32_t id : ids_) {
        if (id == CellGrid::kNone) {
            continue;
        }
        for (std::size_t j = s_.grid.begin(id); j < s_.grid.end(id); ++j) {
            if (near(j) && cellId(j) != i) {
                values_.push_back(cellV(j));
            }
        }
    }
    return true;
}

// Whether yield `v` lies beyond `sigmas` spreads from the median of the neighbours' yields
// (which are reordered). The spread is their median absolute deviation, at least the floor.
bool LocalJudge::outlier(double v) {
    const double centre = kthSmallest(values_, values_.size() / 2);
    const double dev = std::fabs(v - centre);
    if (dev <= s_.sigmas * s_.floor) {
        return false;  // within the least spread: no need of the spread itself
    }
    // Whether a deviation taken as the spread would make `v` an outlier falls from true to false
    // as the deviation grows: it holds for the median deviation exactly when it holds for more
    // than half of them, which a count settles without a second selection.
    const auto c = static_cast<float>(centre);
    std::size_t small = 0;
    for (const float w : values_) {
        const double spread = 1.4826 * static_cast<double>(std::fabs(w - c));
        small += spread < s_.floor || dev > s_.sigmas * spread ? 1u : 0u;
    }
    return small > values_.size() / 2;
}

}  // namespace

void Cleaner::localOutliers() {
    if (!on(Filter::LocalOutlier)) {
        return;
    }
    // Six samples' distance along the track, but no farther than the second pass on either side
    // where the passes give the swath: at 2 s per sample a wider circle holds mostly the higher
    // ground around a wet spot, whose points it then takes for outliers.
    const double along = 6.0 * trackStep_;
    const double radius =
        use("local-radius-m",
            std::clamp(swath_ > 0.0 ? std::min(along, 2.0 * swath_) : along, 8.0, 50.0));
    const double sigmas = use("local-sd", 4.0);
    if (!(radius > 0.0)) {
        return;
    }
    const FilterMask hard =
        bit(Filter::NonFinite) | bit(Filter::Position) | bit(Filter::Jump) | bit(Filter::ZeroYield);
    const FilterMask untrusted = hard | bit(Filter::YieldOutlier) | bit(Filter::Slow) |
                                 bit(Filter::SpeedBand) | bit(Filter::SpeedChange) |
                                 bit(Filter::PassEnd);
    // Each track point's cell is worked out where it is needed (an array of the keys would be
    // 8 bytes a point at the filters' peak).
    const CellGrid grid(
        track_.size(), [&](std::size_t k) { return CellGrid::keyOf(tx_[k], ty_[k], radius); }, tv_,
        [&](std::size_t k) {
            // A positive yield's single-precision value is positive, or 0 below 1e-45.
            return !has(track_[k], untrusted) &&
                   (tv_[k] > 0.0f || (tv_[k] == 0.0f && trackYield(k) > 0.0));
        });
    if (grid.size() < kMinPointsToJudge) {
        return;
    }
    const LocalSearch search{
        *this, grid, radius, sigmas, std::max(yieldNoise_, 0.01 * medianYield_), hard};
    inHalves(track_.size(),
             [&](std::size_t from, std::size_t to, int) { LocalJudge(search).judge(from, to); });
}

}  // namespace vornakite::analysis::detail
