// The field numbers, the UTM projection and the yield surface on fields whose answers are known.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "analysis/crops.hpp"
#include "analysis/field_numbers.hpp"
#include "analysis/log_numbers.hpp"
#include "analysis/surface.hpp"
#include "analysis/utm.hpp"
#include "write/geotiff_writer.hpp"

using namespace vornakite::analysis;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A rectangle harvested in serpentine passes `swath` apart, `length` long, heading `degrees`,
// a sample every `step` metres with GPS noise `noise`; yield 100 + the pass number, moisture
// 20 %. Turns are not logged: every point is on a pass.
struct Rectangle {
    std::vector<double> x, y, yield, moisture;
    Rectangle(int passes, double swath, double length, double degrees, double step, double noise,
              unsigned seed = 1) {
        std::mt19937 rng(seed);
        std::normal_distribution<double> gps(0.0, noise);
        const double c = std::cos(degrees * kPi / 180), s = std::sin(degrees * kPi / 180);
        const int samples = static_cast<int>(std::lround(length / step));
        for (int p = 0; p < passes; ++p) {
            for (int k = 0; k < samples; ++k) {
                const double u = p % 2 == 0 ? (k + 0.5) * step : length - (k + 0.5) * step;
                const double v = p * swath;
                x.push_back(500000 + u * c - v * s + gps(rng));
                y.push_back(4600000 + u * s + v * c + gps(rng));
                yield.push_back(100.0 + p);
                moisture.push_back(20.0);
            }
        }
    }
    FieldNumbersInput input(std::string_view crop = "Corn") const {
        return {{x, y, 1.0, {}}, yield, moisture, {}, crop};
    }
};

}  // namespace

TEST(Utm, ForwardMatchesGdalWithinAMillimetre) {
    // gdaltransform -s_srs EPSG:4326 -t_srs EPSG:<code>, longitude first.
    const struct {
        double lon, lat;
        int epsg;
        double east, north;
    } cases[] = {
        {-93.64, 42.03, 32615, 447021.509188392, 4653305.20617419},
        {-96.0, 0.5, 32615, 166034.098266793, 55341.388215555},  // zone edge, equator
        {-90.0, 60.0, 32615, 667294.821124451, 6655205.48363456},
        {3.5, 56.0, 32632, 157174.730893271, 6219738.02221007},  // Norway's widened zone
        {15.0, 78.5, 32633, 500000, 8714170.83833784},           // Svalbard
        {18.42, -33.92, 32734, 261488.826377441, 6243716.3330038},
        {-77.03, -12.05, 32718, 279014.366798753, 8667099.92940658},
        {179.99, -16.5, 32760, 819219.483742025, 8173388.92191698},
        {-179.95, -16.5, 32760, 825630.287575649, 8173292.86070959},  // across the antimeridian
        {-78.0, 84.0, 32617, 534994.655061136, 9329005.18244744},
    };
    for (const auto& c : cases) {
        const UtmZone zone{c.epsg % 100, c.epsg < 32700};
        const Projected p = UtmProjection(zone).forward(c.lon, c.lat);
        EXPECT_NEAR(p.easting, c.east, 1e-3) << c.lon << " " << c.lat;
        EXPECT_NEAR(p.northing, c.north, 1e-3) << c.lon << " " << c.lat;
    }
}

TEST(Utm, ZonesAndScale) {
    const struct {
        double lon, lat;
        int epsg;
    } zones[] = {{-93.6, 42.0, 32615}, {-180.0, 10.0, 32601}, {179.99, -16.5, 32760},
                 {5.0, 60.0, 32632},   {5.0, 66.0, 32631},    {10.0, 75.0, 32633},
                 {40.0, 80.0, 32637},  {0.0, -0.01, 32731},   {540.5, 1.0, 32601}};
    for (const auto& z : zones) {
        EXPECT_EQ(utmZoneAt(z.lon, z.lat).epsg(), z.epsg) << z.lon << " " << z.lat;
    }
    // The scale factor against the projection's own east-west stretch over 1 mm.
    const UtmProjection p({15, true});
    for (const double lon : {-93.0, -94.5, -96.0}) {
        for (const double lat : {0.0, 42.0, 70.0}) {
            const double a = 6378137.0, e2 = 0.00669437999014, s = std::sin(lat * kPi / 180);
            const double dLon = 1e-3 / (a / std::sqrt(1 - e2 * s * s) * std::cos(lat * kPi / 180));
            const Projected p0 = p.forward(lon, lat), p1 = p.forward(lon + dLon * 180 / kPi, lat);
            const double stretch = std::hypot(p1.easting - p0.easting, p1.northing - p0.northing);
            EXPECT_NEAR(p.scaleFactor(lon, lat), stretch / 1e-3, 1e-6) << lon << " " << lat;
        }
    }
}

TEST(Crops, NamesAndConstants) {
    const struct {
        const char* name;
        const char* crop;  // nullptr: unknown
    } cases[] = {
        {"Corn", "Corn"},           {"MAIZE", "Corn"},
        {"Yellow corn", "Corn"},    {"Soybeans", "Soybeans"},
        {"soybean", "Soybeans"},    {"Soy", "Soybeans"},
        {"Soya Beans", "Soybeans"}, {"Winter Wheat", "Wheat"},
        {"wheat, spring", "Wheat"}, {"Durum", "Wheat"},
        {"Oats", "Oats"},           {"Milo", "Sorghum"},
        {"Oilseed rape", "Canola"}, {"Sunflowers", "Sunflower"},
        {"Rough rice", "Rice"},     {"", nullptr},
        {"Popcorn", nullptr},       {"Corn/Soybeans", nullptr},
    };
    for (const auto& c : cases) {
        const CropInfo* crop = findCrop(c.name);
        EXPECT_EQ(crop == nullptr ? std::string("-") : std::string(crop->name),
                  c.crop == nullptr ? std::string("-") : std::string(c.crop))
            << c.name;
    }
    EXPECT_EQ(findCrop("corn")->standardMoisture, 15.5);
    EXPECT_EQ(findCrop("soybeans")->standardMoisture, 13.0);
    EXPECT_EQ(findCrop("wheat")->standardMoisture, 13.5);
    EXPECT_NEAR(bushelsPerAcreToTonnesPerHectare(1.0, 56.0), 0.0628, 5e-5);
    EXPECT_NEAR(bushelsPerAcreToTonnesPerHectare(1.0, 60.0), 0.06725, 5e-5);
}

TEST(Crops, YieldAtStandardMoisture) {
    const struct {
        double wet, moisture, standard, dry;
    } cases[] = {
        {200.0, 15.5, 15.5, 200.0},  // already at the standard
        {200.0, 25.0, 15.5, 200.0 * 75.0 / 84.5},
        {50.0, 10.0, 13.0, 50.0 * 90.0 / 87.0},  // drier than the standard: more bushels
        {0.0, 20.0, 15.5, 0.0},
        {200.0, 100.0, 15.5, kNaN},
        {200.0, -1.0, 15.5, kNaN},
        {200.0, kNaN, 15.5, kNaN},
        {kNaN, 20.0, 15.5, kNaN},
    };
    for (const auto& c : cases) {
        const double dry = yieldAtMoisture(c.wet, c.moisture, c.standard);
        if (std::isnan(c.dry)) {
            EXPECT_TRUE(std::isnan(dry)) << c.wet << " " << c.moisture;
        } else {
            EXPECT_DOUBLE_EQ(dry, c.dry) << c.wet << " " << c.moisture;
        }
    }
}

TEST(FieldNumbers, SwathFromThePassSpacing) {
    const struct {
        double swath, length, degrees, step, noise;
    } cases[] = {
        {6.0, 150, 0, 1.0, 0.02},   {6.0, 400, 37, 2.0, 0.5},   {9.1, 300, 90, 1.4, 0.3},
        {12.2, 700, 123, 4.5, 0.5}, {14.0, 200, 271, 2.2, 0.5}, {10.0, 500, 180, 0.7, 0.1},
    };
    for (const auto& c : cases) {
        const Rectangle r(16, c.swath, c.length, c.degrees, c.step, c.noise);
        const FieldNumbers f = computeFieldNumbers(r.input());
        ASSERT_TRUE(f.swathEstimate.estimated) << c.swath << ": " << f.swathEstimate.note;
        EXPECT_NEAR(f.swathMetres / c.swath, 1.0, 0.02) << c.swath << " at " << c.degrees;
    }
    // One pass, or passes farther apart than any header: none; a user's swath still counts.
    const Rectangle lone(1, 8.0, 300, 0, 1.0, 0.1), apart(6, 40.0, 300, 0, 1.0, 0.1);
    EXPECT_FALSE(computeFieldNumbers(lone.input()).swathEstimate.estimated);
    const FieldNumbers f = computeFieldNumbers(apart.input());
    EXPECT_FALSE(f.swathEstimate.estimated);
    EXPECT_TRUE(std::isnan(f.areaHectares));
    EXPECT_NEAR(computeFieldNumbers(apart.input(), {.swathMetres = 40.0}).areaHectares, 7.2, 0.1);
}

TEST(FieldNumbers, SwathOfASeasonWhoseFieldsLieFarApart) {
    // Three fields logged at 0.5 m steps, up to 700 km apart: the spacing search looks near each
    // sampled point, not across the whole season's extent.
    const struct {
        double swath, degrees, east, north;
    } fields[] = {{9.1, 0, 0, 0}, {9.1, 35, 700000, 20000}, {9.1, 90, 350000, 300000}};
    Rectangle season(0, 1.0, 1.0, 0, 1.0, 0.0);
    for (const auto& f : fields) {
        const Rectangle r(14, f.swath, 300, f.degrees, 0.5, 0.1);
        for (std::size_t i = 0; i < r.x.size(); ++i) {
            season.x.push_back(r.x[i] + f.east);
            season.y.push_back(r.y[i] + f.north);
            season.yield.push_back(r.yield[i]);
            season.moisture.push_back(r.moisture[i]);
        }
    }
    const FieldNumbers f = computeFieldNumbers(season.input());
    ASSERT_TRUE(f.swathEstimate.estimated) << f.swathEstimate.note;
    EXPECT_NEAR(f.swathMetres / 9.1, 1.0, 0.02);
    EXPECT_NEAR(f.areaHectares, 3 * 14 * 9.1 * 300 / 10000, 0.03 * 3 * 14 * 9.1 * 300 / 10000);
}

TEST(FieldNumbers, AreaAndProductionOfARectangle) {
    // 20 passes of 9 m x 500 m = 9 ha; yields 100..119 bu/ac, mean 109.5.
    const Rectangle r(20, 9.0, 500, 30, 2.0, 0.3);
    std::vector<std::uint8_t> kept(r.x.size(), 1), onPass(r.x.size(), 1);
    std::vector<double> yield = r.yield, x = r.x;
    for (std::size_t i = 0; i < kept.size(); i += 7) {
        kept[i] = 0;       // removed values: still harvested area,
        yield[i] = 999.0;  // and their yield not counted
    }
    for (std::size_t i = 1000; i < 1003; ++i) {
        onPass[i] = 0;  // a position jump: not a pass, no area
        x[i] += 300.0;
    }
    const FieldNumbersInput input{{x, r.y, 1.0, onPass}, yield, r.moisture, kept, "corn"};
    const FieldNumbers f = computeFieldNumbers(input);
    EXPECT_NEAR(f.areaHectares, 9.0, 9.0 * 0.01);
    EXPECT_NEAR(f.areaAcres, 9.0 * 10000 / 4046.8564224, 0.3);
    EXPECT_NEAR(f.meanYield, 109.5, 0.2);
    EXPECT_NEAR(f.totalBushels, f.meanYield * f.areaAcres, 1e-6);
    EXPECT_NEAR(f.meanTonnesPerHectare, f.meanYield * 0.0627669, 1e-3);
    EXPECT_NEAR(f.dryMeanYield, f.meanYield * 80.0 / 84.5, 1e-6);
    // The values read through a function instead of held: the same figures to the bit.
    FieldNumbersInput read = input;
    read.yield = {};
    read.moisture = {};
    read.valuesAt = [&](std::size_t i) { return std::pair(yield[i], r.moisture[i]); };
    const FieldNumbers e = computeFieldNumbers(read);
    EXPECT_EQ(std::tie(e.meanYield, e.plainMeanYield, e.dryMeanYield, e.yieldPoints),
              std::tie(f.meanYield, f.plainMeanYield, f.dryMeanYield, f.yieldPoints));
    // A caller's standard moisture; an unknown crop: no tonnes, no dry yield unless set.
    FieldNumbersInput other = input;
    other.crop = "Hemp";
    const FieldNumbers g = computeFieldNumbers(other);
    EXPECT_TRUE(std::isnan(g.dryMeanYield) && std::isnan(g.meanTonnesPerHectare));
    EXPECT_FALSE(g.notes.empty());
    const FieldNumbers h = computeFieldNumbers(other, {.standardMoisture = 10.0});
    EXPECT_NEAR(h.dryMeanYield, f.meanYield * 80.0 / 90.0, 1e-6);
}

TEST(FieldNumbers, PointsProjectedOnReadingMatchHeldPositions) {
    // The same track as points read through a frame and as the positions it gives, held; a
    // point without a position among them. Every figure must be the same to the bit.
    const Rectangle r(12, 8.5, 300, 70, 2.0, 0.3);
    const LocalProjection frame(-93.6, 42.0, 82700.0, 111100.0);
    std::vector<vornakite::YieldPoint> points(r.x.size(), vornakite::YieldPoint{});
    std::vector<double> x, y;
    for (std::size_t i = 0; i < points.size(); ++i) {
        points[i].longitude =
            i == 500 ? 0.0 : frame.centreLon() + (r.x[i] - 500000) / frame.metresPerDegreeLon();
        points[i].latitude =
            i == 500 ? 0.0 : frame.centreLat() + (r.y[i] - 4600000) / frame.metresPerDegreeLat();
        x.push_back(frame.x(points[i]));
        y.push_back(frame.y(points[i]));
    }
    EXPECT_TRUE(std::isnan(x[500]) && std::isnan(y[500]));
    const TrackInput held{x, y, 1.0, {}}, read{{}, {}, 1.0, {}, points, frame};
    const TrackWalk a = walkTrack(held), b = walkTrack(read);
    EXPECT_EQ(a.length, b.length);
    EXPECT_EQ(a.pieces, b.pieces);
    EXPECT_EQ(estimateSwath(held, a).metres, estimateSwath(read, b).metres);
    EXPECT_EQ(findPassPoints(x, y, 1.0, r.yield), findPassPoints(read, r.yield));
    const FieldNumbers f = computeFieldNumbers({read, r.yield, r.moisture, {}, "corn"});
    EXPECT_NEAR(f.swathMetres, 8.5, 0.1);
}

TEST(FieldNumbers, LogNumbersMatchTheNumbersOfTheProjectedTrack) {
    // A log's numbers, made step by step over its points, against computeFieldNumbers over the
    // same points projected into held arrays: the same to the bit in the field's UTM zone (with
    // a surface), to a few parts in 10^5 on the local frame (without); pass flags found from
    // the track in both. Moistures of 15 to 25 % tell the yields from the moistures.
    const Rectangle r(12, 8.5, 300, 70, 2.0, 0.3);
    std::vector<vornakite::YieldPoint> points(r.x.size(), vornakite::YieldPoint{});
    std::vector<double> moisture(points.size());
    std::vector<std::uint8_t> kept(points.size(), 1);
    for (std::size_t i = 0; i < points.size(); ++i) {
        points[i].longitude = -93.6 + (r.x[i] - 500000) / 82700.0;
        points[i].latitude = 42.0 + (r.y[i] - 4600000) / 111100.0;
        points[i].yield = r.yield[i];
        points[i].moisture = moisture[i] = 15.0 + static_cast<double>(i % 11);
        kept[i] = i % 9 == 0 ? 0 : 1;
    }
    const ProjectedTrack t = projectTrack(points);
    const std::vector<std::uint8_t> onPass = findPassPoints(t.x, t.y, 1.0 / t.scale, r.yield);
    const FieldNumbers want =
        computeFieldNumbers({{t.x, t.y, 1.0 / t.scale, onPass}, r.yield, moisture, kept, "corn"});
    for (const double cell : {5.0, 0.0}) {
        const LogNumbers got =
            logNumbers(points, kept, "corn", {.field = {}, .gridCellMetres = cell});
        const double tolerance = cell > 0.0 ? 0.0 : 1e-4;
        EXPECT_EQ(got.surface.has_value(), cell > 0.0);
        EXPECT_NEAR(got.numbers.swathMetres, want.swathMetres, tolerance * want.swathMetres);
        EXPECT_NEAR(got.numbers.areaHectares, want.areaHectares, tolerance * want.areaHectares);
        EXPECT_NEAR(got.numbers.meanYield, want.meanYield, tolerance * want.meanYield);
        EXPECT_NEAR(got.numbers.dryMeanYield, want.dryMeanYield, tolerance * want.dryMeanYield);
        EXPECT_EQ(got.numbers.yieldPoints, want.yieldPoints);
    }
}

TEST(Surface, InverseDistanceWeightingOnAlignedCells) {
    // Two points 4 m apart on a row of 2 m cells: the cells between weigh both by 1 / d^2.
    const std::vector<double> x = {500001.0, 500005.0}, y = {4600001.0, 4600001.0};
    const std::vector<double> yield = {100.0, 200.0};
    const YieldSurface s = buildSurface({x, y, yield, {}}, 2.0,
                                        {.cellMetres = 2.0, .radiusMetres = 5, .minPoints = 1});
    ASSERT_EQ(s.columns, 3u);
    ASSERT_EQ(s.rows, 1u);
    EXPECT_EQ(s.west, 500000.0);
    EXPECT_EQ(s.north, 4600002.0);
    EXPECT_NEAR(s.values[0], 100.0, 0.01);  // on the first point: 1 cm floor
    EXPECT_NEAR(s.values[1], 150.0, 1e-3);  // halfway
    EXPECT_NEAR(s.values[2], 200.0, 0.01);
    // Too few points within the radius: no value; too many cells: an error naming the limits.
    const YieldSurface none =
        buildSurface({x, y, yield, {}}, 2.0, {.cellMetres = 2.0, .minPoints = 3});
    EXPECT_TRUE(std::isnan(none.values[1]));
    EXPECT_EQ(none.cellsWithValue, 0u);
    const std::vector<double> far = {500001.0, 700001.0};
    EXPECT_THROW(buildSurface({far, y, yield, {}}, 2.0, {.cellMetres = 1.0}), SurfaceTooLarge);
    EXPECT_THROW(buildSurface({x, y, yield, {}}, 2.0, {.cellMetres = 0.0}), std::invalid_argument);
}

TEST(GeoTiff, WritesThePredictedBytesAndRejectsBadRasters) {
    const std::vector<float> cells(300 * 250, 1.5f);
    const vornakite::GeoTiffRaster ok{300, 250, 5e5, 4.6e6, 2.0, 32615, cells};
    std::string bytes;
    std::size_t calls = 0;
    vornakite::writeGeoTiff(ok, [&](const char* d, std::size_t n) { bytes.append(d, n), ++calls; });
    EXPECT_EQ(bytes.size(), vornakite::geoTiffSize(ok));
    EXPECT_EQ(bytes.substr(0, 4), std::string("II*\0", 4));
    EXPECT_GT(calls, 2u);  // strips go out one by one
    const std::span<const float> few(cells.data(), 10);
    const vornakite::GeoTiffRaster bad[] = {{300, 250, 5e5, 4.6e6, 2.0, 32615, few},
                                            {300, 250, 5e5, 4.6e6, 0.0, 32615, cells},
                                            {300, 250, kNaN, 4.6e6, 2.0, 32615, cells},
                                            {300, 250, 5e5, 4.6e6, 2.0, 0, cells},
                                            {0, 0, 5e5, 4.6e6, 2.0, 32615, {}}};
    for (const auto& b : bad) {
        EXPECT_THROW(vornakite::writeGeoTiff(b, [](const char*, std::size_t) {}),
                     std::invalid_argument);
    }
}
