// What the report's section shows, before any HTML: the yield classes, the histogram's bins and
// the map's points of a log too large to draw whole.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "analysis/report_model.hpp"
#include "analysis/summary.hpp"

using namespace vornakite::analysis;
using vornakite::YieldPoint;

namespace {

// Points on a grid of 500 columns, 1 m apart, yields 0, 1, ... 70, 0, 1, ...
std::vector<YieldPoint> grid(std::size_t n) {
    std::vector<YieldPoint> pts(n, {0, 0, 0, 18.0, 5.6, 56.0, 4.5});
    for (std::size_t i = 0; i < n; ++i) {
        pts[i].longitude = -93.5 + static_cast<double>(i % 500) * 1.2e-5;
        pts[i].latitude = 42.0 + static_cast<double>(i / 500) * 9e-6;
        pts[i].yield = static_cast<double>(i % 71);
    }
    return pts;
}

}  // namespace

TEST(ReportModel, ClassBreaksComeFromTheKeptYieldsOnly) {
    const std::vector<double> even = {10, 20, 30, 40, 50, 60};
    const struct {
        const char* what;
        std::size_t spikes;  // removed points of yield 5000 added
        bool removeAll;
        std::vector<double> breaks;
    } cases[] = {{"all kept", 0, false, even},
                 {"removed spikes left out", 100, false, even},
                 {"nothing kept", 0, true, {}}};
    for (const auto& c : cases) {
        std::vector<YieldPoint> pts = grid(71 * 6);
        CleaningResult r;
        r.flags.assign(pts.size(), c.removeAll ? bit(Filter::ZeroYield) : 0);
        for (std::size_t i = 0; i < c.spikes; ++i) {
            pts.push_back(pts[i]);
            pts.back().yield = 5000.0;
            r.flags.push_back(bit(Filter::YieldOutlier));
        }
        const ReportSection s = reportSection("1", summarizeField("F", pts, r), pts, r);
        EXPECT_EQ(s.breaks, c.breaks) << c.what;
        EXPECT_EQ(s.histogram.classes.size(), c.breaks.empty() ? 0u : 32u) << c.what;
    }
    // A yield on a break belongs to the class above it.
    const std::pair<double, int> classes[] = {{-5, 0}, {9.99, 0}, {10, 1},
                                              {35, 3}, {60, 6},   {1e9, 6}};
    for (const auto& [v, cls] : classes) {
        EXPECT_EQ(classOf(v, even), cls) << v;
    }
}

TEST(ReportModel, HistogramBinsSpanZeroToTheTopPercentile) {
    // From zero, or the lowest value, to 5 % above the 99.5th percentile.
    const struct {
        std::vector<double> sample;
        double lo, hi;
    } ranges[] = {{{0, 50, 100}, 0.0, 99.5 * 1.05},
                  {{20, 30}, 0.0, 29.95 * 1.05},
                  {{-10, 10}, -10.0, 9.9 * 1.05},
                  {{0, 0}, 0.0, 1.0}};
    for (const auto& c : ranges) {
        std::vector<double> sample = c.sample;
        const YieldHistogram h(sample);
        EXPECT_DOUBLE_EQ(h.lo, c.lo);
        EXPECT_DOUBLE_EQ(h.hi, c.hi);
    }
    // Values beyond the range in the end bins; one that is not finite not counted (bin 32).
    const struct {
        double v;
        std::size_t bin;
    } values[] = {{50.0, 15}, {1e9, 31}, {1e308, 31}, {-3.0, 0}, {HUGE_VAL, 32}, {NAN, 32}};
    for (const auto& c : values) {
        std::vector<double> sample = {0, 50, 100};
        YieldHistogram h(sample);
        h.add(c.v, false);
        h.add(c.v, true);
        for (std::size_t b = 0; b < 32; ++b) {
            EXPECT_EQ(h.kept[b], b == c.bin ? 1u : 0u) << c.v << " bin " << b;
            EXPECT_EQ(h.removed[b], h.kept[b]);
        }
        EXPECT_EQ(h.tallest(), c.bin < 32 ? 2u : 1u);
    }
}

TEST(ReportModel, ALargeLogIsMappedFromAnEvenSubsample) {
    const struct { std::size_t points, stride; } cases[] = {{200000, 1}, {200001, 2}, {450001, 3}};
    for (const auto& c : cases) {
        std::vector<YieldPoint> pts = grid(c.points);
        CleaningResult r;
        r.flags.assign(pts.size(), 0);
        for (std::size_t i = 0; i < pts.size(); i += 1000) {
            r.flags[i] = bit(Filter::Slow);
        }
        // A removed GPS jump far off the field, on a mapped point: left off the map.
        pts[3000].latitude += 0.5;
        r.flags[3000] = bit(Filter::Jump);
        const ReportSection s = reportSection("1", summarizeField("F", pts, r), pts, r);
        const YieldMap& m = s.map;
        EXPECT_EQ(m.stride, c.stride);
        EXPECT_EQ(m.offMap, 1u);
        ASSERT_EQ(m.points.size(), (c.points + c.stride - 1) / c.stride - 1);
        // Log order, each with its own verdict; the field's width between equal margins.
        std::uint16_t minX = 65535, maxX = 0;
        for (std::size_t k = 0; k < m.points.size(); ++k) {
            const std::size_t i = (k < 3000 / c.stride ? k : k + 1) * c.stride;
            EXPECT_EQ(m.points[k].flags, r.flags[i]) << k;
            EXPECT_EQ(m.points[k].yieldClass == kRemovedClass, r.flags[i] != 0) << k;
            minX = std::min(minX, m.points[k].x);
            maxX = std::max(maxX, m.points[k].x);
        }
        const double fieldWidth =
            499 * 1.2e-5 * 111319.49 * std::cos(42.0 * std::numbers::pi / 180);
        EXPECT_NEAR((maxX - minX) / 65535.0 * m.width, fieldWidth, 2.0);
        EXPECT_NEAR(minX / 65535.0 * m.width, (m.width - fieldWidth) / 2, 2.0);
    }
}
