// The data model shared by every stage: one yield sample and the attribute columns it fills.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace vornakite {

// One yield sample. The seven members are the log's seven used values; the attribute columns
// below name the five that become table columns, the first two are the point geometry.
struct YieldPoint {
    double longitude;  // decimal degrees, WGS 84 (shapefile X)
    double latitude;   // decimal degrees, WGS 84 (shapefile Y)
    double yield;      // bushels
    double moisture;   // percent
    double weight;
    double density;  // pounds per bushel
    double speed;    // miles per hour
};

// The members in the order above, and the units a log writes each in: whole numbers of 1e-7
// degrees, tenths of a bushel, and so on.
inline constexpr double YieldPoint::*kPointMembers[7] = {
    &YieldPoint::longitude, &YieldPoint::latitude, &YieldPoint::yield, &YieldPoint::moisture,
    &YieldPoint::weight,    &YieldPoint::density,  &YieldPoint::speed,
};
inline constexpr double kPointUnits[7] = {1e7, 1e7, 10.0, 10.0, 100.0, 10.0, 10.0};

// One attribute column of every output: its dBASE name (at most 10 ASCII characters), type
// letter, field width and decimals, and the point member it holds.
struct AttributeColumn {
    std::string_view name;
    char type;
    std::uint8_t width;
    std::uint8_t decimals;
    double YieldPoint::*member;
};

// The columns in output order; the dBASE record is 1 + 10 + 6 + 10 + 8 + 6 bytes.
inline constexpr AttributeColumn kAttributeColumns[] = {
    {"Yield_bu", 'N', 10, 2, &YieldPoint::yield},   {"Moist_pct", 'N', 6, 1, &YieldPoint::moisture},
    {"Weight_ta", 'N', 10, 2, &YieldPoint::weight}, {"Dens_lbbu", 'N', 8, 1, &YieldPoint::density},
    {"Speed_MPH", 'N', 6, 1, &YieldPoint::speed},
};

// Where a stage hands its points on, in file order and in pieces of any size; the seam that
// writers, filters and other outputs attach to.
class PointSink {
  public:
    virtual ~PointSink() = default;
    virtual void addPoints(std::span<const YieldPoint> points) = 0;
};

}  // namespace vornakite
