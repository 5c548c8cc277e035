// The yield surface of one field: a north-up grid of square cells in the field's UTM zone, each
// cell's yield interpolated from the kept points around its centre by inverse-distance weighting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "analysis/utm.hpp"
#include "model/point_store.hpp"

namespace vornakite::analysis {

struct SurfaceInput {
    std::span<const double> x;           // easting, metres; NaN where there is no position
    std::span<const double> y;           // northing, metres
    std::span<const double> yield;       // bu/ac
    std::span<const std::uint8_t> kept;  // non-zero: the point may be used; empty: all
};

struct SurfaceOptions {
    double cellMetres = 2.0;
    // 0: max(2 x cell, 1.5 x swath); a swath that is not a positive number counts as 10 m.
    double radiusMetres = 0.0;
    // A cell with fewer kept points within the radius has no value.
    std::size_t minPoints = 3;
    // The largest grid: columns and rows each, and cells in all (4 bytes each).
    std::size_t maxSide = 20000;
    std::size_t maxCells = 50000000;
};

struct YieldSurface {
    int epsg = 0;                    // the grid's coordinate system, when built from positions
    double west = 0.0, north = 0.0;  // the outer corner of the north-west cell, metres
    double cellMetres = 0.0;
    double radiusMetres = 0.0;
    std::size_t columns = 0, rows = 0;  // 0 x 0 when no kept point has a position and a yield
    std::vector<float> values;          // row by row from the north; NaN: no value
    std::size_t points = 0;             // kept points used
    std::size_t cellsWithValue = 0;
};

// The grid is too large for the cell size; its message names the size and the limits.
class SurfaceTooLarge : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The surface over the kept points' extent, its edges on whole multiples of the cell size (so
// that grids of one zone and cell size line up from year to year). Each cell's value is
// sum(w_i * yield_i) / sum(w_i) over the kept points within the radius of its centre, with
// w_i = 1 / (d_i^2 + (1 cm)^2): inverse-distance weighting of power 2, a point on a centre not
// infinitely heavy. Cost O(points x cells within the radius of one point + cells): each point
// is spread into the cells around it, one band of rows at a time, so that only one band's sums
// are held besides the result. Throws std::invalid_argument("Invalid grid cell size") for a cell
// that is not a positive number or ("Point arrays of different lengths") for spans of different
// lengths (kept may be empty), SurfaceTooLarge beyond the limits.
YieldSurface buildSurface(const SurfaceInput& input, double swathMetres,
                          const SurfaceOptions& options = {});

// The same from a log's points: projected into the field's zone (projectTrack), `epsg` set.
YieldSurface buildSurface(PointView points, std::span<const std::uint8_t> kept, double swathMetres,
                          const SurfaceOptions& options = {});

}  // namespace vornakite::analysis
