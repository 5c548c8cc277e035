// The harvesting track of one log in metres: the distance travelled on the passes, the share of
// it each point stands for, the straight pieces of pass and their headings, the working width
// estimated from the spacing of neighbouring passes, and, for callers without pass flags of
// their own, the points that lie on passes judged from the track alone.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "analysis/geo.hpp"
#include "model/point_store.hpp"

namespace vornakite::analysis {

struct TrackInput {
    // Projected positions; NaN where a point has no valid position.
    std::span<const double> x;
    std::span<const double> y;
    // Metres on the ground per projected unit (1 / the projection's scale factor).
    double groundPerUnit = 1.0;
    // Per point, non-zero when it was logged while harvesting on a pass (the header cutting,
    // whether or not its yield value was kept); empty: every point with a position.
    std::span<const std::uint8_t> onPass;
    // When not empty, the positions instead of x and y (which are then empty): these points
    // projected by `frame` (metres east and north of a centre) as they are read, so that no copy
    // of them is held.
    PointView points{};
    LocalProjection frame{};

    std::size_t size() const { return points.empty() ? x.size() : points.size(); }
    PlanePosition at(std::size_t i) const {
        return points.empty() ? PlanePosition{x[i], y[i]} : frame.at(points, i);
    }
};

// A chord of the track is at least this long: its direction and length are those of the track,
// not of the GPS noise of single steps.
inline constexpr double kChordMetres = 10.0;
// A chord that turns by more than this from the one before ends a piece of pass.
inline constexpr double kPieceTurnDegrees = 30.0;

struct TrackWalk {
    // Per point: the metres of track it stands for, half of the smoothed step before it and half
    // of the one after it (half a median step beyond the ends of a piece); 0 off the passes.
    // Their sum is `distance`.
    std::vector<double> length;
    // Per point: the straight piece of pass it lies on, -1 for none.
    std::vector<std::int32_t> piece;
    // Per point on a piece: the direction of its chord, radians counter-clockwise from x; NaN
    // otherwise.
    std::vector<float> heading;
    double distance = 0.0;    // metres travelled on the passes
    double medianStep = 0.0;  // metres between consecutive points on passes
    double gapMetres = 0.0;   // a longer step between two points on a pass adds nothing
    std::size_t pieces = 0;
    std::size_t gaps = 0;   // steps left out as gaps
    std::size_t turns = 0;  // turns found between two points flagged as on a pass
};

// Walks the points on passes in file order. Runs of consecutive points on a pass are cut at
// steps longer than the gap (`gapMetres`, or when 0 three times the median step and at least
// 3 m). Each run is measured by chords of at least kChordMetres; a chord turning more than
// kPieceTurnDegrees from the one before holds a turn that was logged as pass (an unlogged
// headland turn): the run is cut at the step in it that turns most sharply, the longest such,
// and that step adds nothing. A chord's length is shared among its steps in proportion to
// their own lengths. O(n). Throws std::invalid_argument("Point arrays of different lengths").
TrackWalk walkTrack(const TrackInput& input, double gapMetres = 0.0);

// The band of plausible working widths, metres.
inline constexpr double kSwathMinMetres = 2.0;
inline constexpr double kSwathMaxMetres = 25.0;

struct SwathEstimate {
    bool estimated = false;
    double metres = 0.0;
    std::size_t spacings = 0;  // spacings to a neighbouring pass measured in the band
    std::string note;          // why none was estimated
};

// The working width from the spacing of neighbouring passes: for up to 4000 points spread evenly
// over the pieces of pass, on each side the mean distance across the heading to the nearest
// other piece running parallel or antiparallel (within 20 degrees), over its points within a
// few metres along the heading; the width is the median of the spacings near the most common
// one (a histogram of 0.1 m bins summed over +-0.3 m, the median within +-10 % of its peak).
// Spacings outside 2..25 m do not count. O(n).
SwathEstimate estimateSwath(const TrackInput& input, const TrackWalk& walk);

// For callers without pass flags: the points with a position on the straight pieces of the
// whole track (every point with a position taken as on a pass) that are at least 30 m long,
// without the points of a piece's ends whose yield is not positive (header raised at a turn).
std::vector<std::uint8_t> findPassPoints(std::span<const double> x, std::span<const double> y,
                                         double groundPerUnit, std::span<const double> yield,
                                         double gapMetres = 0.0);

// The same over the positions of `track` (its pass flags not read).
std::vector<std::uint8_t> findPassPoints(const TrackInput& track, std::span<const double> yield,
                                         double gapMetres = 0.0);

}  // namespace vornakite::analysis
