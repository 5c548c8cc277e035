// Positions in metres: validity of a WGS 84 position, a local equirectangular projection that
// holds across the antimeridian, and the bounding box of a set of positions.
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>
#include <span>

#include "model/point_store.hpp"

namespace vornakite::analysis {

// Inside -90..90 latitude and -180..180 longitude, finite, and not (0, 0): a receiver without a
// fix often reports zeros. (NaN fails every comparison.)
inline bool validPosition(double longitude, double latitude) {
    return latitude >= -90.0 && latitude <= 90.0 && longitude >= -180.0 && longitude <= 180.0 &&
           !(latitude == 0.0 && longitude == 0.0);
}
inline bool validPosition(const YieldPoint& p) {
    return validPosition(p.longitude, p.latitude);
}
// Point i's, its other values not read.
inline bool validPosition(PointView points, std::size_t i) {
    return validPosition(points.longitude(i), points.latitude(i));
}

// The length of a step of dx east and dy north metres. Plain Euclidean: no overflow is possible
// for projected metres, and std::hypot's extra care costs several times as much.
inline double planeDistance(double dx, double dy) {
    return std::sqrt(dx * dx + dy * dy);
}

double wrapLongitudeSlow(double lon);

// `lon` moved by whole turns into [-180, 180).
inline double wrapLongitude(double lon) {
    return lon >= -180.0 && lon < 180.0 ? lon : wrapLongitudeSlow(lon);
}

// A projected position: x east and y north.
struct PlanePosition {
    double x, y;
};

// x east and y north in metres from a centre, longitude scaled by cos(latitude of the centre)
// so that a field is not stretched; longitudes are taken relative to the centre across the
// antimeridian. Accurate to a fraction of a percent over a few kilometres.
class LocalProjection {
  public:
    LocalProjection() = default;
    LocalProjection(double centreLon, double centreLat);
    // Round a centre already wrapped and clamped, with scales of the caller's (an ellipsoid's
    // radii of curvature, say).
    LocalProjection(double centreLon, double centreLat, double metresPerDegreeLon,
                    double metresPerDegreeLat)
        : lon0_(centreLon), lat0_(centreLat), kx_(metresPerDegreeLon), ky_(metresPerDegreeLat) {}

    // Centred on the median of the valid positions; (0, 0) when there are none.
    static LocalProjection around(PointView points);

    double x(double lon) const { return wrapLongitude(lon - lon0_) * kx_; }
    double y(double lat) const { return (lat - lat0_) * ky_; }
    // A point's position; NaN where it has no valid one.
    double x(const YieldPoint& p) const {
        return validPosition(p) ? x(p.longitude) : std::numeric_limits<double>::quiet_NaN();
    }
    double y(const YieldPoint& p) const {
        return validPosition(p) ? y(p.latitude) : std::numeric_limits<double>::quiet_NaN();
    }
    // Point i's position, its other values not read; NaN where it has no valid one.
    PlanePosition at(PointView points, std::size_t i) const {
        const double lon = points.longitude(i), lat = points.latitude(i);
        if (!validPosition(lon, lat)) {
            constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
            return {kNaN, kNaN};
        }
        return {x(lon), y(lat)};
    }
    double centreLon() const { return lon0_; }
    double centreLat() const { return lat0_; }
    double metresPerDegreeLon() const { return kx_; }
    double metresPerDegreeLat() const { return ky_; }

  private:
    double lon0_ = 0.0;
    double lat0_ = 0.0;
    double kx_ = 111319.49;
    double ky_ = 110574.0;
};

// West, south, east, north in degrees; west > east when the box spans the antimeridian. All NaN
// when no position was added.
struct BoundingBox {
    double west, south, east, north;
};

// The smallest box of the valid positions added: of the two ways to measure longitude
// (-180..180 or 0..360) the narrower one, so that a field on the antimeridian gets a narrow box.
class BoxBuilder {
  public:
    void add(const YieldPoint& p) { add(p.longitude, p.latitude); }
    void add(double longitude, double latitude) {
        if (!validPosition(longitude, latitude)) {
            return;
        }
        const double lon = wrapLongitude(longitude);
        const double lon360 = lon < 0.0 ? lon + 360.0 : lon;
        minLon_ = lon < minLon_ ? lon : minLon_;
        maxLon_ = lon > maxLon_ ? lon : maxLon_;
        minLon360_ = lon360 < minLon360_ ? lon360 : minLon360_;
        maxLon360_ = lon360 > maxLon360_ ? lon360 : maxLon360_;
        minLat_ = latitude < minLat_ ? latitude : minLat_;
        maxLat_ = latitude > maxLat_ ? latitude : maxLat_;
    }
    BoundingBox box() const;

  private:
    double minLon_ = 1e300, maxLon_ = -1e300, minLon360_ = 1e300, maxLon360_ = -1e300;
    double minLat_ = 1e300, maxLat_ = -1e300;
};

// The box of the positions where keep(i) holds.
template <class Keep>
BoundingBox boundingBox(PointView points, Keep keep) {
    BoxBuilder box;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (keep(i)) {
            box.add(points[i]);
        }
    }
    return box.box();
}

}  // namespace vornakite::analysis
