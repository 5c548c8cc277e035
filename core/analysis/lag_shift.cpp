// A record of the clean and removed sets once the grain-flow lag is undone: the sample's own
// position and speed, the yield, weight and density logged the flow lag later, the moisture
// logged the moisture lag later.
#include <limits>

#include "analysis/cleaning.hpp"

namespace vornakite::analysis {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

double LagShift::moistureAt(PointView points, std::size_t i) const {
    const std::size_t s = source(i, moisture);
    return s == kNone ? kNaN : points.moisture(s);
}

YieldPoint LagShift::record(PointView points, std::size_t i) const {
    YieldPoint r = points[i];
    if (!moves()) {
        return r;
    }
    const std::size_t s = source(i, flow);
    if (s == kNone) {
        r.yield = r.weight = r.density = kNaN;
    } else if (s != i) {
        r.yield = points.yield(s) * static_cast<double>(scale[i]);
        r.weight = points[s].weight;
        r.density = points[s].density;
    }
    r.moisture = moistureAt(points, i);
    return r;
}

}  // namespace vornakite::analysis
