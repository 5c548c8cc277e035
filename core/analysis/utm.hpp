// Universal Transverse Mercator on WGS 84: the zone of a field, the forward projection (Krüger's
// series to the sixth order in the third flattening, sub-millimetre within a zone and a few
// degrees beyond it), and a log's positions projected into its field's zone.
#pragma once

#include <span>
#include <vector>

#include "model/point_store.hpp"

namespace vornakite::analysis {

struct UtmZone {
    int number = 31;  // 1..60
    bool north = true;

    // EPSG code of "WGS 84 / UTM zone N": 32600 + N north, 32700 + N south.
    int epsg() const { return (north ? 32600 : 32700) + number; }
    // Degrees east; zone 1 is centred on -177.
    double centralMeridian() const { return -183.0 + 6.0 * number; }
};

// The zone of a position: six-degree zones from -180, with the grid's exceptions west of Norway
// (zone 32 widened over 3..12 E between 56 and 64 N) and around Svalbard (zones 31, 33, 35 and 37
// between 72 and 84 N). North for latitude >= 0. Beyond 84 N and 80 S, where the polar grid
// takes over, the six-degree zone is kept: a field there is still projected consistently.
UtmZone utmZoneAt(double longitude, double latitude);

struct Projected {
    double easting;
    double northing;
};

class UtmProjection {
  public:
    explicit UtmProjection(UtmZone zone);

    UtmZone zone() const { return zone_; }
    // Easting and northing in metres (false easting 500 km, false northing 10,000 km south).
    // Longitudes are taken relative to the central meridian across the antimeridian.
    Projected forward(double longitude, double latitude) const;
    // The point scale factor: projected length / length on the ellipsoid (0.9996 on the
    // central meridian, about 1.001 at a zone's edge on the equator).
    double scaleFactor(double longitude, double latitude) const;

  private:
    struct Series;
    Series series(double longitude, double latitude) const;

    UtmZone zone_;
    double lon0_;
};

// A log's positions in its field's zone: the zone of the median position of the valid ones
// (medians taken across the antimeridian), easting and northing per point (NaN where the
// position is not valid), and the scale factor at that median position, which turns projected
// lengths into lengths on the ground (divide by it; within a field it varies by far less than
// a thousandth).
struct ProjectedTrack {
    UtmZone zone;
    std::vector<double> x;
    std::vector<double> y;
    double scale = 1.0;
    bool empty() const { return x.empty(); }
};

ProjectedTrack projectTrack(PointView points);

}  // namespace vornakite::analysis
