// The working width from the spacing of neighbouring passes (declared in field_track.hpp).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "analysis/field_track.hpp"
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

// The points of the pieces of pass in buckets of a square grid: bucket (i, j) holds the points
// order[start[j * columns + i] .. start[j * columns + i + 1]), in file order.
struct BucketGrid {
    double x0 = 0.0, y0 = 0.0, size = 1.0;
    std::size_t columns = 0, rows = 0;
    std::vector<std::uint32_t> start;
    std::vector<std::uint32_t> order;

    std::size_t column(double x) const {
        return std::min(columns - 1, static_cast<std::size_t>(std::max(0.0, (x - x0) / size)));
    }
    std::size_t row(double y) const {
        return std::min(rows - 1, static_cast<std::size_t>(std::max(0.0, (y - y0) / size)));
    }
    std::size_t bucket(double x, double y) const { return row(y) * columns + column(x); }
};

// The spacings of one point to the nearest parallel piece on either side.
struct Neighbour {
    std::int32_t piece;
    bool left;
    double sum;
    std::size_t count;
};

// Works on the track's own arrays: the points of the pieces are found by their places, their
// ground positions computed where they are read, so that beside the input only the grid's
// 4-byte places are held.
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
    double x(std::size_t i) const { return in_.xAt(i) * g_; }
    double y(std::size_t i) const { return in_.yAt(i) * g_; }
    void makeGrid(double reach);
    void measure(std::size_t s, std::vector<double>& out);
    void consider(std::size_t s, std::size_t q, double hx, double hy);

    const TrackInput& in_;
    const TrackWalk& walk_;
    double g_ = 1.0;
    std::size_t points_ = 0;  // the points of the pieces
    BucketGrid grid_;
    double along_ = 5.0;  // how far along the heading a neighbour's points are taken
    std::vector<Neighbour> neighbours_;
    std::vector<std::int32_t> slot_;  // per piece and side: its place in neighbours_, or -1
};

// Buckets at least `reach` wide, and no more of them than about twice the points.
void SpacingFinder::makeGrid(double reach) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double xMin = kInf, xMax = -kInf, yMin = kInf, yMax = -kInf;
    for (std::size_t i = 0; i < in_.size(); ++i) {
        if (onPiece(i)) {
            xMin = std::min(xMin, x(i));
            xMax = std::max(xMax, x(i));
            yMin = std::min(yMin, y(i));
            yMax = std::max(yMax, y(i));
        }
    }
    BucketGrid& g = grid_;
    const double w = xMax - xMin, h = yMax - yMin;
    const auto n = static_cast<double>(points_);
    g.size = std::max(reach, std::sqrt(w * h / (2.0 * n)));
    g.size = std::max({g.size, w / (2.0 * n), h / (2.0 * n)});
    g.x0 = xMin;
    g.y0 = yMin;
    g.columns = static_cast<std::size_t>(w / g.size) + 1;
    g.rows = static_cast<std::size_t>(h / g.size) + 1;
    // Counts in start[b + 1], summed into each bucket's first place; filling moves start[b] on to
    // the bucket's end, which is then shifted back a bucket.
    g.start.assign(g.columns * g.rows + 1, 0);
    for (std::size_t i = 0; i < in_.size(); ++i) {
        if (onPiece(i)) {
            ++g.start[g.bucket(x(i), y(i)) + 1];
        }
    }
    for (std::size_t b = 1; b < g.start.size(); ++b) {
        g.start[b] += g.start[b - 1];
    }
    g.order.resize(points_);
    for (std::size_t i = 0; i < in_.size(); ++i) {
        if (onPiece(i)) {
            g.order[g.start[g.bucket(x(i), y(i))]++] = static_cast<std::uint32_t>(i);
        }
    }
    for (std::size_t b = g.start.size() - 1; b > 0; --b) {
        g.start[b] = g.start[b - 1];
    }
    g.start[0] = 0;
}

std::vector<double> SpacingFinder::spacings() {
    makeGrid(kSwathMaxMetres);
    slot_.assign(2 * walk_.pieces, -1);
    std::vector<double> out;
    const std::size_t stride = std::max<std::size_t>(1, points() / kMostSamples);
    // Every stride-th point of the pieces, counted in file order.
    std::size_t counted = 0;
    for (std::size_t i = 0; i < in_.size(); ++i) {
        if (onPiece(i) && counted++ % stride == 0) {
            measure(i, out);
        }
    }
    return out;
}

// Point q's spacing from sampled point s (heading hx, hy), when it lies on a parallel piece
// beside it.
void SpacingFinder::consider(std::size_t s, std::size_t q, double hx, double hy) {
    const std::int32_t piece = walk_.piece[s];
    const double theta = walk_.heading[s];
    const double cosParallel = std::cos(kParallelDegrees * kPi / 180.0);
    const std::int32_t other = walk_.piece[q];
    const double dx = x(q) - x(s), dy = y(q) - y(s);
    const double across = hx * dy - hy * dx;  // positive: to the left
    if (other == piece || std::abs(hx * dx + hy * dy) > along_ ||
        std::abs(across) < kSwathMinMetres || std::abs(across) > kSwathMaxMetres ||
        std::abs(std::cos(walk_.heading[q] - theta)) < cosParallel) {
        return;
    }
    const bool left = across > 0.0;
    std::int32_t& at = slot_[2 * static_cast<std::size_t>(other) + (left ? 1 : 0)];
    if (at < 0) {
        at = static_cast<std::int32_t>(neighbours_.size());
        neighbours_.push_back({other, left, 0.0, 0});
    }
    Neighbour& n = neighbours_[static_cast<std::size_t>(at)];
    n.sum += std::abs(across);
    ++n.count;
}

void SpacingFinder::measure(std::size_t s, std::vector<double>& out) {
    const double theta = walk_.heading[s];
    const double hx = std::cos(theta), hy = std::sin(theta);
    neighbours_.clear();
    const double sx = x(s), sy = y(s);
    const std::size_t c0 = grid_.column(sx - kSwathMaxMetres);
    const std::size_t c1 = grid_.column(sx + kSwathMaxMetres);
    const std::size_t r0 = grid_.row(sy - kSwathMaxMetres);
    const std::size_t r1 = grid_.row(sy + kSwathMaxMetres);
    auto first = [&](std::size_t r) { return grid_.start[r * grid_.columns + c0]; };
    auto last = [&](std::size_t r) { return grid_.start[r * grid_.columns + c1 + 1]; };
    std::size_t total = 0;
    for (std::size_t r = r0; r <= r1; ++r) {
        total += last(r) - first(r);
    }
    // Every stride-th of the candidates, picked by its place in the rows' runs.
    const std::size_t stride = total > kMostCandidates ? total / kMostCandidates + 1 : 1;
    std::size_t seen = 0, next = 0;  // candidates before this row; the next one taken
    for (std::size_t r = r0; r <= r1; ++r) {
        const std::size_t begin = first(r), count = last(r) - begin;
        for (; next < seen + count; next += stride) {
            consider(s, grid_.order[begin + (next - seen)], hx, hy);
        }
        seen += count;
    }
    for (const Neighbour& n : neighbours_) {
        slot_[2 * static_cast<std::size_t>(n.piece) + (n.left ? 1 : 0)] = -1;
    }
    // On each side the nearest piece, by the mean of its spacings.
    for (const bool left : {true, false}) {
        double nearest = kSwathMaxMetres + 1.0;
        for (const Neighbour& n : neighbours_) {
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
