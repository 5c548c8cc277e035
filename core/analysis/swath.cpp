// The working width from the spacing of neighbouring passes (declared in field_track.hpp).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "analysis/cell_grid.hpp"
#include "analysis/field_track.hpp"
#include "analysis/halves.hpp"
#include "analysis/robust.hpp"

namespace vornakite::analysis {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kMostSamples = 4000;
constexpr std::size_t kFewestSpacings = 20;
constexpr double kParallelDegrees = 20.0;
// At most this many points near a sampled point are examined, at an even stride, so that a track
// that comes back over itself thousands of times costs no more per sample than a field (whose
// 75 m square around a point holds a few thousand points at the most, at 5 samples a second).
constexpr std::size_t kMostCandidates = 4096;

// The spacings of one point to the nearest parallel piece on either side.
struct Neighbour {
    std::int32_t piece;
    bool left;
    double sum;
    std::size_t count;
};

// Works on the track's own arrays: the points of the pieces are found by their places, their
// ground positions computed where they are read, so that beside the input only the grid is held.
// The grid's cells are kSwathMaxMetres square and only those with points exist, so that a query
// looks at the points within reach however far apart a season's fields lie.
class SpacingFinder {
  public:
    SpacingFinder(const TrackInput& in, const TrackWalk& walk)
        : in_(in), walk_(walk), g_(in.groundPerUnit > 0.0 ? in.groundPerUnit : 1.0) {
        for (std::size_t i = 0; i < in.size(); ++i) {
            points_ += onPiece(i) ? 1u : 0u;
        }
        along_ = std::max(5.0, 1.5 * walk.medianStep);
    }
    std::size_t points() const { return points_; }
    std::vector<double> spacings();

  private:
    bool onPiece(std::size_t i) const {
        return walk_.piece[i] >= 0 && std::isfinite(walk_.heading[i]);
    }
    PlanePosition ground(std::size_t i) const {
        const PlanePosition p = in_.at(i);
        return {p.x * g_, p.y * g_};
    }
    void makeGrid();
    // The state of one thread's measurements.
    struct Scratch {
        std::vector<Neighbour> neighbours;
        std::vector<std::int32_t> slot;  // per piece and side: its place in neighbours, or -1
    };
    void measureAll(std::span<const std::size_t> samples, std::vector<double>& out) const;
    std::uint64_t keyOf(std::size_t i) const {
        const PlanePosition p = ground(i);
        return CellGrid::keyOf(p.x - x0_, p.y - y0_, kSwathMaxMetres);
    }
    void measure(std::size_t s, Scratch& scratch, std::vector<double>& out) const;
    void consider(std::size_t s, PlanePosition from, std::size_t q, double hx, double hy,
                  Scratch& scratch) const;

    const TrackInput& in_;
    const TrackWalk& walk_;
    double g_ = 1.0;
    std::size_t points_ = 0;      // the points of the pieces
    double x0_ = 0.0, y0_ = 0.0;  // the grid's corner: the least x and y of the pieces
    std::optional<CellGrid> grid_;
    double along_ = 5.0;  // how far along the heading a neighbour's points are taken
};

void SpacingFinder::makeGrid() {
    x0_ = y0_ = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < in_.size(); ++i) {
        if (onPiece(i)) {
            const PlanePosition p = ground(i);
            x0_ = std::min(x0_, p.x);
            y0_ = std::min(y0_, p.y);
        }
    }
    grid_.emplace(
        in_.size(), [&](std::size_t i) { return keyOf(i); },
        [&](std::size_t i) { return onPiece(i); });
}

std::vector<double> SpacingFinder::spacings() {
    makeGrid();
    // Every stride-th point of the pieces, counted in file order, measured on its own: a long
    // log's samples in two halves side by side, their spacings joined in order.
    const std::size_t stride = std::max<std::size_t>(1, points() / kMostSamples);
    std::vector<std::size_t> samples;
    std::size_t counted = 0;
    for (std::size_t i = 0; i < in_.size(); ++i) {
        if (onPiece(i) && counted++ % stride == 0) {
            samples.push_back(i);
        }
    }
    const std::span<const std::size_t> all(samples);
    std::vector<double> out, second;
    if (points() < kParallelPoints) {
        measureAll(all, out);
        return out;
    }
    const std::size_t half = samples.size() / 2;
    sideBySide([&] { measureAll(all.first(half), out); },
               [&] { measureAll(all.subspan(half), second); });
    out.insert(out.end(), second.begin(), second.end());
    return out;
}

void SpacingFinder::measureAll(std::span<const std::size_t> samples,
                               std::vector<double>& out) const {
    Scratch scratch;
    scratch.slot.assign(2 * walk_.pieces, -1);
    for (const std::size_t i : samples) {
        measure(i, scratch, out);
    }
}

// Point q's spacing from sampled point s (at `from`, heading hx, hy), when it lies on a parallel
// piece beside it.
void SpacingFinder::consider(std::size_t s, PlanePosition from, std::size_t q, double hx, double hy,
                             Scratch& scratch) const {
    const std::int32_t piece = walk_.piece[s];
    const double theta = walk_.heading[s];
    const double cosParallel = std::cos(kParallelDegrees * kPi / 180.0);
    const std::int32_t other = walk_.piece[q];
    const PlanePosition p = ground(q);
    const double dx = p.x - from.x, dy = p.y - from.y;
    const double across = hx * dy - hy * dx;  // positive: to the left
    if (other == piece || std::abs(hx * dx + hy * dy) > along_ ||
        std::abs(across) < kSwathMinMetres || std::abs(across) > kSwathMaxMetres ||
        std::abs(std::cos(walk_.heading[q] - theta)) < cosParallel) {
        return;
    }
    const bool left = across > 0.0;
    std::int32_t& at = scratch.slot[2 * static_cast<std::size_t>(other) + (left ? 1 : 0)];
    if (at < 0) {
        at = static_cast<std::int32_t>(scratch.neighbours.size());
        scratch.neighbours.push_back({other, left, 0.0, 0});
    }
    Neighbour& n = scratch.neighbours[static_cast<std::size_t>(at)];
    n.sum += std::abs(across);
    ++n.count;
}

void SpacingFinder::measure(std::size_t s, Scratch& scratch, std::vector<double>& out) const {
    const double theta = walk_.heading[s];
    const double hx = std::cos(theta), hy = std::sin(theta);
    scratch.neighbours.clear();
    const PlanePosition at = ground(s);
    const double sx = at.x - x0_, sy = at.y - y0_;
    const std::int64_t c0 = CellGrid::column(sx - kSwathMaxMetres, kSwathMaxMetres);
    const std::int64_t c1 = CellGrid::column(sx + kSwathMaxMetres, kSwathMaxMetres);
    const std::int64_t r0 = CellGrid::column(sy - kSwathMaxMetres, kSwathMaxMetres);
    const std::int64_t r1 = CellGrid::column(sy + kSwathMaxMetres, kSwathMaxMetres);
    // The cells within reach, row by row from the south-west (at most 3x3).
    std::uint32_t cells[9];
    std::size_t found = 0, total = 0;
    for (std::int64_t r = r0; r <= r1; ++r) {
        for (std::int64_t c = c0; c <= c1; ++c) {
            const std::uint32_t id = grid_->find(CellGrid::pack(c, r));
            if (id != CellGrid::kNone && found < std::size(cells)) {
                cells[found++] = id;
                total += grid_->end(id) - grid_->begin(id);
            }
        }
    }
    // Every stride-th of the candidates, picked by its place in the cells' lists.
    const std::size_t stride = total > kMostCandidates ? total / kMostCandidates + 1 : 1;
    std::size_t seen = 0, next = 0;  // candidates before this cell; the next one taken
    for (std::size_t k = 0; k < found; ++k) {
        const std::size_t begin = grid_->begin(cells[k]), count = grid_->end(cells[k]) - begin;
        for (; next < seen + count; next += stride) {
            consider(s, at, grid_->member(begin + (next - seen)), hx, hy, scratch);
        }
        seen += count;
    }
    for (const Neighbour& n : scratch.neighbours) {
        scratch.slot[2 * static_cast<std::size_t>(n.piece) + (n.left ? 1 : 0)] = -1;
    }
    // On each side the nearest piece, by the mean of its spacings.
    for (const bool left : {true, false}) {
        double nearest = kSwathMaxMetres + 1.0;
        for (const Neighbour& n : scratch.neighbours) {
            if (n.left == left) {
                nearest = std::min(nearest, n.sum / static_cast<double>(n.count));
            }
        }
        if (nearest <= kSwathMaxMetres) {
            out.push_back(nearest);
        }
    }
}

// The median of the spacings within +-10 % of the histogram's peak; 0 when fewer than a fifth
// of them lie there.
double commonSpacing(std::vector<double>& spacings) {
    constexpr double kBin = 0.1;
    const auto bins = static_cast<std::size_t>((kSwathMaxMetres - kSwathMinMetres) / kBin) + 1;
    std::vector<std::size_t> histogram(bins, 0);
    for (const double s : spacings) {
        ++histogram[static_cast<std::size_t>((s - kSwathMinMetres) / kBin)];
    }
    std::size_t best = 0, bestCount = 0;
    for (std::size_t b = 0; b < bins; ++b) {
        std::size_t sum = 0;
        for (std::size_t k = b >= 3 ? b - 3 : 0; k <= std::min(bins - 1, b + 3); ++k) {
            sum += histogram[k];
        }
        if (sum > bestCount) {
            bestCount = sum;
            best = b;
        }
    }
    const double peak = kSwathMinMetres + (static_cast<double>(best) + 0.5) * kBin;
    std::vector<double> near;
    for (const double s : spacings) {
        if (std::abs(s - peak) <= 0.1 * peak) {
            near.push_back(s);
        }
    }
    if (near.size() * 5 < spacings.size()) {
        return 0.0;
    }
    return median(near);
}

}  // namespace

SwathEstimate estimateSwath(const TrackInput& input, const TrackWalk& walk) {
    SwathEstimate r;
    SpacingFinder finder(input, walk);
    if (finder.points() < kFewestSpacings) {
        r.note = "too few points on passes";
        return r;
    }
    std::vector<double> spacings = finder.spacings();
    r.spacings = spacings.size();
    if (spacings.size() < kFewestSpacings) {
        r.note = "no parallel passes 2 to 25 m apart";
        return r;
    }
    const double width = commonSpacing(spacings);
    if (!(width > 0.0)) {
        r.note = "no common spacing of the passes";
        return r;
    }
    r.estimated = true;
    r.metres = width;
    return r;
}

}  // namespace vornakite::analysis
