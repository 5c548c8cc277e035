#include "analysis/surface.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace vornakite::analysis {

namespace {

constexpr double kDefaultSwath = 10.0;
// Added to the squared distance: a point on a cell's centre weighs as one 1 cm away.
constexpr float kNearest2 = 0.01f * 0.01f;

// Spreads each point's weights into the cells around it, one band of rows at a time.
class Splatter {
  public:
    Splatter(const SurfaceInput& in, YieldSurface& s, std::size_t minPoints)
        : in_(in), s_(s), minPoints_(std::max<std::size_t>(1, minPoints)) {}
    void run(const std::vector<std::uint32_t>& used);

  private:
    void splat(std::size_t i, std::size_t rowFirst, std::size_t rowEnd);
    void finishBand(std::size_t rowFirst, std::size_t rowEnd);

    const SurfaceInput& in_;
    YieldSurface& s_;
    std::vector<float> weight_, sum_;
    std::vector<float> count_;  // exact up to 2^24, far beyond any minimum
    std::size_t minPoints_;
};

// Adds point i to the cells of rows [rowFirst, rowEnd) whose centres lie within the radius.
// The square of cells around the point is walked whole, the cells outside the circle masked: the
// rows need no set-up of their own, and each runs four cells at a time in single precision.
void Splatter::splat(std::size_t i, std::size_t rowFirst, std::size_t rowEnd) {
    const double c = s_.cellMetres, r = s_.radiusMetres;
    const double px = in_.x[i], py = in_.y[i];
    // Row j's centre is at north - (j + 0.5) c, column k's at west + (k + 0.5) c.
    const double top =
        std::max(std::ceil((s_.north - py - r) / c - 0.5), static_cast<double>(rowFirst));
    const double bottom =
        std::min(std::floor((s_.north - py + r) / c - 0.5), static_cast<double>(rowEnd) - 1.0);
    const double left = std::max(std::ceil((px - r - s_.west) / c - 0.5), 0.0);
    const double right =
        std::min(std::floor((px + r - s_.west) / c - 0.5), static_cast<double>(s_.columns) - 1.0);
    if (bottom < top || right < left) {
        return;
    }
    const auto j0 = static_cast<std::size_t>(top), j1 = static_cast<std::size_t>(bottom);
    const auto i0 = static_cast<std::size_t>(left);
    const int m = static_cast<int>(right - left) + 1;  // at most maxSide
    const auto dx0 = static_cast<float>(s_.west + (left + 0.5) * c - px);
    const auto cell = static_cast<float>(c), value = static_cast<float>(in_.yield[i]);
    const auto r2 = static_cast<float>(r * r);
    for (std::size_t j = j0; j <= j1; ++j) {
        const double dy = s_.north - (static_cast<double>(j) + 0.5) * c - py;
        const auto dy2 = static_cast<float>(dy * dy);
        const std::size_t base = (j - rowFirst) * s_.columns + i0;
        // The three arrays never overlap; saying so lets the compiler vectorise the loop.
        float* __restrict weight = weight_.data() + base;
        float* __restrict sum = sum_.data() + base;
        float* __restrict count = count_.data() + base;
        for (int k = 0; k < m; ++k) {  // int: its conversion to float vectorises
            const float dx = dx0 + static_cast<float>(k) * cell;
            const float d2 = dx * dx + dy2;
            const auto inside = static_cast<float>(d2 <= r2);
            const float w = inside / (d2 + kNearest2);
            weight[k] += w;
            sum[k] += w * value;
            count[k] += inside;
        }
    }
}

void Splatter::finishBand(std::size_t rowFirst, std::size_t rowEnd) {
    const std::size_t cells = (rowEnd - rowFirst) * s_.columns;
    float* out = s_.values.data() + rowFirst * s_.columns;
    for (std::size_t k = 0; k < cells; ++k) {
        if (count_[k] >= static_cast<float>(minPoints_)) {
            out[k] = sum_[k] / weight_[k];
            ++s_.cellsWithValue;
        }
    }
}

void Splatter::run(const std::vector<std::uint32_t>& used) {
    const double c = s_.cellMetres;
    // Bands at least a radius tall: a point reaches its own band and the next on either side.
    const std::size_t bandRows =
        std::max<std::size_t>(32, static_cast<std::size_t>(std::ceil(s_.radiusMetres / c)));
    const std::size_t bands = (s_.rows + bandRows - 1) / bandRows;
    std::vector<std::uint32_t> start(bands + 1, 0), order(used.size());
    auto bandOf = [&](std::uint32_t i) {
        const double row = std::floor((s_.north - in_.y[i]) / c);
        return std::min(bands - 1, static_cast<std::size_t>(std::max(0.0, row)) / bandRows);
    };
    for (const std::uint32_t i : used) {
        ++start[bandOf(i) + 1];
    }
    for (std::size_t b = 1; b <= bands; ++b) {
        start[b] += start[b - 1];
    }
    std::vector<std::uint32_t> next(start.begin(), start.end() - 1);
    for (const std::uint32_t i : used) {
        order[next[bandOf(i)]++] = i;
    }
    s_.values.assign(s_.rows * s_.columns, std::numeric_limits<float>::quiet_NaN());
    for (std::size_t b = 0; b < bands; ++b) {
        const std::size_t rowFirst = b * bandRows, rowEnd = std::min(s_.rows, rowFirst + bandRows);
        const std::size_t cells = (rowEnd - rowFirst) * s_.columns;
        weight_.assign(cells, 0.0f);
        sum_.assign(cells, 0.0f);
        count_.assign(cells, 0.0f);
        const std::size_t from = b > 0 ? b - 1 : 0, to = std::min(bands, b + 2);
        for (std::uint32_t k = start[from]; k < start[to]; ++k) {
            splat(order[k], rowFirst, rowEnd);
        }
        finishBand(rowFirst, rowEnd);
    }
}

std::string tooLargeMessage(double columns, double rows, const SurfaceOptions& o) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "Yield grid too large: %.0f x %.0f cells of %g m (at most %zu x %zu and %zu "
                  "cells); choose larger cells",
                  columns, rows, o.cellMetres, o.maxSide, o.maxSide, o.maxCells);
    return text;
}

}  // namespace

YieldSurface buildSurface(const SurfaceInput& in, double swathMetres, const SurfaceOptions& o) {
    if (!(o.cellMetres > 0.0) || !std::isfinite(o.cellMetres)) {
        throw std::invalid_argument("Invalid grid cell size");
    }
    if (in.y.size() != in.x.size() || in.yield.size() != in.x.size() ||
        (!in.kept.empty() && in.kept.size() != in.x.size())) {
        throw std::invalid_argument("Point arrays of different lengths");
    }
    YieldSurface s;
    s.cellMetres = o.cellMetres;
    const double swath =
        swathMetres > 0.0 && std::isfinite(swathMetres) ? swathMetres : kDefaultSwath;
    s.radiusMetres =
        o.radiusMetres > 0.0 ? o.radiusMetres : std::max(2.0 * o.cellMetres, 1.5 * swath);
    std::vector<std::uint32_t> used;
    double xMin = HUGE_VAL, xMax = -HUGE_VAL, yMin = HUGE_VAL, yMax = -HUGE_VAL;
    for (std::size_t i = 0; i < in.x.size(); ++i) {
        if ((in.kept.empty() || in.kept[i] != 0) && std::isfinite(in.x[i]) &&
            std::isfinite(in.y[i]) && std::isfinite(in.yield[i])) {
            used.push_back(static_cast<std::uint32_t>(i));
            xMin = std::min(xMin, in.x[i]), xMax = std::max(xMax, in.x[i]);
            yMin = std::min(yMin, in.y[i]), yMax = std::max(yMax, in.y[i]);
        }
    }
    s.points = used.size();
    if (used.empty()) {
        return s;
    }
    const double c = o.cellMetres;
    s.west = std::floor(xMin / c) * c;
    s.north = std::ceil(yMax / c) * c;
    const double columns = std::max(1.0, std::ceil((xMax - s.west) / c + 1e-9));
    const double rows = std::max(1.0, std::ceil((s.north - yMin) / c + 1e-9));
    const auto side = static_cast<double>(o.maxSide);
    if (columns > side || rows > side || columns * rows > static_cast<double>(o.maxCells)) {
        throw SurfaceTooLarge(tooLargeMessage(columns, rows, o));
    }
    s.columns = static_cast<std::size_t>(columns);
    s.rows = static_cast<std::size_t>(rows);
    Splatter(in, s, o.minPoints).run(used);
    return s;
}

YieldSurface buildSurface(PointView points, std::span<const std::uint8_t> kept, double swathMetres,
                          const SurfaceOptions& options) {
    const ProjectedTrack track = projectTrack(points);
    std::vector<double> yield(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        yield[i] = points.yield(i);
    }
    YieldSurface s = buildSurface({track.x, track.y, yield, kept}, swathMetres, options);
    s.epsg = track.zone.epsg();
    return s;
}

}  // namespace vornakite::analysis
