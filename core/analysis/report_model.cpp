#include "analysis/report_model.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/robust.hpp"
#include "analysis/utm.hpp"

namespace vornakite::analysis {

namespace {

// What each point is, and how many of each there are.
constexpr std::uint8_t kFinite = 1, kKept = 2, kValid = 4;
struct PointKinds {
    std::vector<std::uint8_t> kind;  // kFinite | kKept | kValid per point
    std::size_t keptFinite = 0, keptValid = 0, valid = 0, finite = 0;
    // The points the map's extent and projection come from: the kept points with a valid
    // position, or all with one when none is kept.
    std::uint8_t extent = kValid;
    bool inExtent(std::size_t i) const { return (kind[i] & extent) == extent; }
};

PointKinds classify(PointView points, const CleaningResult& result) {
    PointKinds k;
    k.kind.resize(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const bool f = std::isfinite(result.lag.yieldAt(points, i)), kept = result.flags[i] == 0;
        const bool v = validPosition(points, i);
        k.kind[i] =
            static_cast<std::uint8_t>((f ? kFinite : 0) | (kept ? kKept : 0) | (v ? kValid : 0));
        k.finite += f ? 1u : 0u;
        k.keptFinite += kept && f ? 1u : 0u;
        k.valid += v ? 1u : 0u;
        k.keptValid += kept && v ? 1u : 0u;
    }
    k.extent = k.keptValid > 0 ? kValid | kKept : kValid;
    return k;
}

// An even sample of at most about kStatisticsSample of `count` values offered in turn.
struct Sampler {
    std::vector<double> values;
    std::size_t stride, seen = 0, next = 0;
    explicit Sampler(std::size_t count)
        : stride(count > kStatisticsSample ? count / kStatisticsSample + 1 : 1) {
        values.reserve(count / stride + 1);
    }
    bool take(bool keep) {
        if (!keep) {
            return false;
        }
        const bool taken = seen++ == next;
        next += taken ? stride : 0;
        return taken;
    }
};

// Samples of the kept and of all finite yields, and of the extent's positions.
struct Samples {
    Sampler keptYields, yields, lons;
    std::vector<double> lats;
};

// The yields are the records' (the lag undone), as the clean and removed sets hold them.
Samples sample(PointView points, const LagShift& lag, const PointKinds& k) {
    Samples s{Sampler(k.keptFinite),
              Sampler(k.finite),
              Sampler(k.extent == kValid ? k.valid : k.keptValid),
              {}};
    s.lats.reserve(s.lons.values.capacity());
    for (std::size_t i = 0; i < points.size(); ++i) {
        const std::uint8_t kind = k.kind[i];
        if (s.keptYields.take((kind & (kFinite | kKept)) == (kFinite | kKept))) {
            s.keptYields.values.push_back(lag.yieldAt(points, i));
        }
        if (s.yields.take((kind & kFinite) != 0)) {
            s.yields.values.push_back(lag.yieldAt(points, i));
        }
        if (s.lons.take(k.inExtent(i))) {
            s.lons.values.push_back(points.longitude(i));
            s.lats.push_back(points.latitude(i));
        }
    }
    return s;
}

// Centred on the median position of the sample (reordered), longitudes taken from the first
// across the antimeridian.
LocalProjection projectionOf(std::vector<double>& lons, std::vector<double>& lats) {
    if (lons.empty()) {
        return LocalProjection();
    }
    const double anchor = lons.front();
    for (double& l : lons) {
        l = wrapLongitude(l - anchor);
    }
    return LocalProjection(anchor + median(lons), median(lats));
}

// Counts the finite yields into the histogram, and sets the map's corner and size to the
// extent's points with a margin for the removed points around the field: headland turns, pass
// ends. One pass for both.
void countAndMeasure(PointView points, const LagShift& lag, const PointKinds& k,
                     YieldHistogram& hist, YieldMap& map) {
    const LocalProjection& proj = map.projection;
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if ((k.kind[i] & kFinite) != 0) {
            hist.add(lag.yieldAt(points, i), (k.kind[i] & kKept) != 0);
        }
        if (k.inExtent(i)) {
            const double x = proj.x(points.longitude(i)), y = proj.y(points.latitude(i));
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (minX > maxX) {
        minX = maxX = minY = maxY = 0.0;
    }
    const double margin = std::max({0.05 * (maxX - minX), 0.05 * (maxY - minY), 15.0});
    minX -= margin;
    maxX += margin;
    minY -= margin;
    maxY += margin;
    map.minX = minX;
    map.minY = minY;
    map.width = maxX - minX;
    map.height = maxY - minY;
}

// std::lround(f * 65535) for f in [0, 1], without the library call.
std::uint16_t roundUnit(double f) {
    const double v = f * 65535.0;
    const auto t = static_cast<std::uint32_t>(v);
    return static_cast<std::uint16_t>(v - t >= 0.5 ? t + 1 : t);
}

// The map's points: every stride-th point with a valid position, quantised to 16 bits over the
// map; removed points off it (GPS jumps) are left off and counted.
void placePoints(PointView points, const CleaningResult& result, const PointKinds& k,
                 const std::vector<double>& breaks, YieldMap& map) {
    const std::size_t n = points.size();
    map.stride = n > kMaxMapPoints ? (n + kMaxMapPoints - 1) / kMaxMapPoints : 1;
    map.points.reserve(n / map.stride + 1);
    map.source = points;
    map.lag = &result.lag;
    const double w = map.width, h = map.height;
    for (std::size_t i = 0; i < n; i += map.stride) {
        if ((k.kind[i] & kValid) == 0) {
            continue;
        }
        const double x = map.projection.x(points.longitude(i)) - map.minX;
        const double y = map.projection.y(points.latitude(i)) - map.minY;
        if (!(x >= 0.0 && x <= w && y >= 0.0 && y <= h)) {
            ++map.offMap;
            continue;
        }
        MapPoint p{w > 0 ? roundUnit(x / w) : std::uint16_t{0},
                   h > 0 ? roundUnit(y / h) : std::uint16_t{0}, kRemovedClass, result.flags[i],
                   static_cast<std::uint32_t>(i)};
        if (p.flags == 0) {
            const double v = result.lag.yieldAt(points, i);
            p.yieldClass =
                std::isfinite(v) && !breaks.empty() ? classOf(v, breaks) : std::uint8_t{0};
        }
        map.points.push_back(p);
    }
    // Dot size: about the spacing of the points, from the extent and their number.
    const double area = std::max(w * h, 1.0);
    map.dot =
        0.85 * std::sqrt(area / static_cast<double>(std::max<std::size_t>(1, map.points.size())));
}

std::vector<FilterRow> filterRows(const FieldSummary& summary) {
    std::vector<FilterRow> rows;
    for (const FilterInfo& f : kFilterInfo) {
        FilterRow row{&f, summary.removedBy[static_cast<std::size_t>(f.filter)], {}};
        for (const ThresholdUsed& t : summary.thresholds) {
            if (t.info->filter == f.filter) {
                row.thresholds.push_back(t);
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

std::vector<double> classBreaks(std::vector<double>& kept) {
    std::vector<double> breaks;
    if (kept.empty()) {
        return breaks;
    }
    for (int k = 1; k < kYieldClasses; ++k) {
        breaks.push_back(quantile(kept, static_cast<double>(k) / kYieldClasses));
    }
    return breaks;
}

std::uint8_t classOf(double v, const std::vector<double>& breaks) {
    return static_cast<std::uint8_t>(std::upper_bound(breaks.begin(), breaks.end(), v) -
                                     breaks.begin());
}

YieldHistogram::YieldHistogram(std::vector<double>& sample) {
    if (sample.empty()) {
        return;
    }
    lo = std::min(0.0, quantile(sample, 0.0));
    hi = quantile(sample, 0.995) * 1.05;
    if (!(hi > lo)) {
        hi = lo + 1.0;
    }
    width = (hi - lo) / kHistogramBins;
    kept.assign(kHistogramBins, 0);
    removed.assign(kHistogramBins, 0);
}

void YieldHistogram::add(double v, bool isKept) {
    if (kept.empty() || !std::isfinite(v)) {
        return;
    }
    // Written so that an infinite or NaN quotient (values near the double range) lands in a bin
    // instead of reaching the integer conversion.
    const double f = (v - lo) / width;
    const auto b = f >= kHistogramBins - 1 ? std::size_t{kHistogramBins - 1}
                   : f >= 0.0              ? static_cast<std::size_t>(f)
                                           : std::size_t{0};
    ++(isKept ? kept : removed)[b];
}

std::size_t YieldHistogram::tallest() const {
    std::size_t top = 1;
    for (std::size_t b = 0; b < kept.size(); ++b) {
        top = std::max(top, kept[b] + removed[b]);
    }
    return top;
}

SurfaceLayer surfaceLayer(const YieldSurface& surface, const YieldMap& map) {
    SurfaceLayer layer;
    if (surface.columns == 0 || !(map.width > 0.0 && map.height > 0.0)) {
        return layer;
    }
    const double side = std::max(map.width, map.height);
    layer.cell = std::max(surface.cellMetres, side / static_cast<double>(kSurfaceLayerSide));
    layer.columns = static_cast<std::size_t>(std::ceil(map.width / layer.cell));
    layer.rows = static_cast<std::size_t>(std::ceil(map.height / layer.cell));
    float lo = std::numeric_limits<float>::max(), hi = std::numeric_limits<float>::lowest();
    for (float v : surface.values) {
        if (std::isfinite(v)) {
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    layer.lo = lo;
    layer.hi = hi;
    const UtmProjection utm(UtmZone{surface.epsg % 100, surface.epsg < 32700});
    const LocalProjection& proj = map.projection;
    layer.values.assign(layer.columns * layer.rows, 255);
    for (std::size_t r = 0; r < layer.rows; ++r) {
        const double lat =
            proj.centreLat() +
            (map.minY + (static_cast<double>(r) + 0.5) * layer.cell) / proj.metresPerDegreeLat();
        for (std::size_t c = 0; c < layer.columns; ++c) {
            const double lon =
                proj.centreLon() + (map.minX + (static_cast<double>(c) + 0.5) * layer.cell) /
                                       proj.metresPerDegreeLon();
            const Projected e = utm.forward(lon, lat);
            const double col = (e.easting - surface.west) / surface.cellMetres;
            const double row = (surface.north - e.northing) / surface.cellMetres;
            if (!(col >= 0.0 && row >= 0.0 && col < static_cast<double>(surface.columns) &&
                  row < static_cast<double>(surface.rows))) {
                continue;
            }
            const float v = surface.values[static_cast<std::size_t>(row) * surface.columns +
                                           static_cast<std::size_t>(col)];
            if (std::isfinite(v)) {
                const double f = hi > lo ? (v - lo) / (hi - lo) : 0.0;
                layer.values[r * layer.columns + c] =
                    static_cast<std::uint8_t>(std::lround(std::clamp(f, 0.0, 1.0) * 254.0));
            }
        }
    }
    return layer;
}

ReportSection reportSection(std::string_view id, const FieldSummary& summary, PointView points,
                            const CleaningResult& result, const SectionExtras& extras) {
    ReportSection s{std::string(id),
                    summary,
                    result.warnings,
                    {},
                    {},
                    {},
                    filterRows(summary),
                    {extras.logNames.begin(), extras.logNames.end()},
                    {extras.logStarts.begin(), extras.logStarts.end()},
                    {},
                    0,
                    {}};
    s.warnings.insert(s.warnings.begin(), extras.warnings.begin(), extras.warnings.end());
    if (s.logStarts.size() != s.logNames.size()) {
        s.logStarts.assign(s.logNames.empty() ? 0 : 1, 0);
    }
    // Three passes over the points: what each is, samples, then the extent and the histogram;
    // then the map's points.
    const PointKinds kinds = classify(points, result);
    Samples samples = sample(points, result.lag, kinds);
    if (!samples.keptYields.values.empty()) {
        for (int k = 0; k <= kSketchSteps; ++k) {
            s.sketch.push_back(
                quantile(samples.keptYields.values, static_cast<double>(k) / kSketchSteps));
        }
        s.sketchCount = kinds.keptFinite;
    }
    s.breaks = classBreaks(samples.keptYields.values);
    s.histogram = YieldHistogram(samples.yields.values);
    s.map.projection = projectionOf(samples.lons.values, samples.lats);
    countAndMeasure(points, result.lag, kinds, s.histogram, s.map);
    if (!s.histogram.kept.empty() && !s.breaks.empty()) {
        for (int b = 0; b < kHistogramBins; ++b) {
            s.histogram.classes.push_back(
                classOf(s.histogram.lo + s.histogram.width * (b + 0.5), s.breaks));
        }
    }
    placePoints(points, result, kinds, s.breaks, s.map);
    if (extras.surface != nullptr) {
        s.surface = surfaceLayer(*extras.surface, s.map);
    }
    return s;
}

}  // namespace vornakite::analysis
