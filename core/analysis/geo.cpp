#include "analysis/geo.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "analysis/robust.hpp"

namespace vornakite::analysis {

namespace {
constexpr double kPi = 3.14159265358979323846;
// Metres per degree on the WGS 84 ellipsoid near mid latitudes; the difference to the exact
// local values is well under a percent, which is all a map and neighbour radii need.
constexpr double kMetresPerDegreeLat = 110574.0;
constexpr double kMetresPerDegreeLonAtEquator = 111319.49;
// At the poles a degree of longitude shrinks to nothing; a floor keeps the scale invertible.
constexpr double kMinCosLatitude = 1e-6;
}  // namespace

// The rare case of wrapLongitude: outside [-180, 180).
double wrapLongitudeSlow(double lon) {
    if (!std::isfinite(lon)) {
        return lon;
    }
    double r = std::fmod(lon + 180.0, 360.0);
    if (r < 0.0) {
        r += 360.0;
    }
    return r - 180.0;
}

LocalProjection::LocalProjection(double centreLon, double centreLat)
    : lon0_(wrapLongitude(centreLon)), lat0_(std::clamp(centreLat, -90.0, 90.0)) {
    const double c = std::max(std::cos(lat0_ * kPi / 180.0), kMinCosLatitude);
    kx_ = kMetresPerDegreeLonAtEquator * c;
    ky_ = kMetresPerDegreeLat;
}

LocalProjection LocalProjection::around(PointView points) {
    // The first valid position anchors longitudes, so that a field across the antimeridian
    // is measured as one piece.
    double anchor = 0.0;
    bool found = false;
    for (const YieldPoint& p : points) {
        if (validPosition(p)) {
            anchor = p.longitude;
            found = true;
            break;
        }
    }
    if (!found) {
        return LocalProjection(0.0, 0.0);
    }
    auto valid = [&](std::size_t i) { return validPosition(points, i); };
    std::vector<double> lats =
        collectSample(points.size(), valid, [&](std::size_t i) { return points.latitude(i); });
    std::vector<double> lons = collectSample(points.size(), valid, [&](std::size_t i) {
        return wrapLongitude(points.longitude(i) - anchor);
    });
    return LocalProjection(anchor + median(lons), median(lats));
}

BoundingBox BoxBuilder::box() const {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    if (minLat_ > maxLat_) {
        return {nan, nan, nan, nan};
    }
    if (maxLon360_ - minLon360_ < maxLon_ - minLon_) {
        return {wrapLongitude(minLon360_), minLat_, wrapLongitude(maxLon360_), maxLat_};
    }
    return {minLon_, minLat_, maxLon_, maxLat_};
}

}  // namespace vornakite::analysis
