// The robust statistics and the geometry the filters stand on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "analysis/geo.hpp"
#include "analysis/robust.hpp"

using namespace vornakite::analysis;
using vornakite::YieldPoint;

TEST(RobustStatistics, QuantilesInterpolateBetweenRanks) {
    const struct {
        std::vector<double> values;
        double q;
        double expected;
    } cases[] = {
        {{5}, 0.5, 5},       {{1, 2}, 0.5, 1.5},  {{3, 1, 2}, 0.5, 2}, {{4, 1, 3, 2}, 0.25, 1.75},
        {{9, 1, 5}, 0.0, 1}, {{9, 1, 5}, 1.0, 9}, {{9, 1, 5}, 2.0, 9}};
    for (auto c : cases) {
        EXPECT_DOUBLE_EQ(quantile(c.values, c.q), c.expected) << c.q;
    }
    std::vector<double> none;
    EXPECT_TRUE(std::isnan(median(none)));
}

TEST(RobustStatistics, SpreadIgnoresOutliersAndFallsBackWhenMostValuesAreEqual) {
    const struct {
        const char* name;
        std::vector<double> values;
        double median, sigma;
    } cases[] = {
        {"symmetric", {1, 2, 3, 4, 5}, 3, 1.4826},
        {"one gross outlier", {1, 2, 3, 4, 1000}, 3, 1.4826},
        {"more than half equal: interquartile range", {5, 5, 5, 5, 5, 1, 9, 9}, 5, 1.0 / 1.349},
        {"all but one equal: mean absolute deviation", {5, 5, 5, 5, 5, 5, 5, 13}, 5, 1.2533},
        {"all equal", {7, 7, 7}, 7, 0},
    };
    for (auto c : cases) {
        const Robust r = robust(c.values);
        EXPECT_DOUBLE_EQ(r.median, c.median) << c.name;
        EXPECT_NEAR(r.sigma, c.sigma, 1e-9) << c.name;
    }
}

TEST(RobustStatistics, ThinsLargeSetsToAnEvenStride) {
    const std::size_t n = 3 * kStatisticsSample + 7;
    const std::vector<double> sample = collectSample(
        n, [](std::size_t i) { return i % 2 == 0; },
        [](std::size_t i) { return static_cast<double>(i); });
    EXPECT_LE(sample.size(), kStatisticsSample);
    EXPECT_GT(sample.size(), kStatisticsSample / 2);
    EXPECT_EQ(sample[0], 0.0);
    EXPECT_EQ(sample[1] - sample[0], sample[2] - sample[1]);
}

TEST(RobustStatistics, BracketedMedianEqualsTheMedianOfAllValues) {
    // Values offered one at a time, the pivots from a sample of every k-th: the result must be
    // median() of all of them, or empty when the median is not between the pivots.
    auto values = [](const char* kind, std::size_t n) {
        std::vector<double> v(n);
        std::uint64_t x = 88172645463325252ull;
        for (std::size_t i = 0; i < n; ++i) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            const double r = static_cast<double>(x % 100000) / 1000.0;
            v[i] = kind[0] == 's'   ? static_cast<double>(i)         // sorted
                   : kind[0] == 'd' ? static_cast<double>(n - i)     // descending
                   : kind[0] == 'c' ? 42.0                           // constant
                   : kind[0] == 't' ? (i % 2 == 0 ? 1.0 : 2.0)       // two values
                   : kind[0] == 'h' ? (i < n / 2 + 1 ? r : 1e6 + r)  // halves far apart
                                    : r;                             // random with ties
        }
        return v;
    };
    for (const char* kind : {"sorted", "descending", "constant", "two", "halves", "random"}) {
        for (std::size_t n : {1u, 2u, 63u, 64u, 1000u, 4097u, 50000u, 120001u}) {
            const std::vector<double> all = values(kind, n);
            for (std::size_t every : {1u, 7u, 97u}) {
                std::vector<double> sample;
                for (std::size_t i = 0; i < n; i += every) {
                    sample.push_back(all[i]);
                }
                MedianBracket bracket(sample, n);
                for (double v : all) {
                    bracket.offer(v);
                }
                std::vector<double> copy = all;
                const std::optional<double> got = bracket.result();
                if (got) {
                    EXPECT_EQ(*got, median(copy)) << kind << " " << n << " " << every;
                }
                if (every == 1 || n <= 4096) {
                    EXPECT_TRUE(got.has_value()) << kind << " " << n;  // a fair sample brackets
                }
            }
        }
    }
    // An unfair sample (only the lowest values) cannot bracket the median: empty, not wrong.
    std::vector<double> low(200, 0.0), all;
    for (int i = 0; i < 2000; ++i) {
        all.push_back(i);
    }
    MedianBracket bracket(low, all.size());
    for (double v : all) {
        bracket.offer(v);
    }
    EXPECT_FALSE(bracket.result().has_value());
    MedianBracket none({}, 0);
    EXPECT_TRUE(std::isnan(*none.result()));
}

TEST(RobustStatistics, KthSmallestIsTheValueNthElementGives) {
    std::uint32_t x = 2463534242u;
    for (const char* kind : {"random", "levels", "constant", "sorted", "descending", "ties"}) {
        for (std::size_t n : {1u, 2u, 16u, 17u, 100u, 256u, 1001u}) {
            std::vector<float> v(n);
            for (std::size_t i = 0; i < n; ++i) {
                x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                const auto f = static_cast<float>(i), r = static_cast<float>(x % 1000u);
                v[i] = kind[0] == 'r'   ? r
                       : kind[0] == 'l' ? (x % 2 == 0 ? 100.0f : 300.0f) + r / 1000.0f
                       : kind[0] == 'c' ? 42.0f
                       : kind[0] == 's' ? f
                       : kind[0] == 'd' ? -f
                                        : static_cast<float>(x % 3u);
            }
            for (std::size_t k = 0; k < n; k += 1 + n / 7) {
                std::vector<float> got = v, want = v;
                std::nth_element(want.begin(), want.begin() + static_cast<std::ptrdiff_t>(k),
                                 want.end());
                EXPECT_EQ(kthSmallest(got, k), want[k]) << kind << " " << n << " " << k;
                std::sort(got.begin(), got.end());  // only reordered
                std::sort(want.begin(), want.end());
                EXPECT_EQ(got, want) << kind << " " << n;
            }
        }
    }
}

TEST(Geometry, ValidPositionsAndWrappedLongitudes) {
    const struct {
        double lon, lat;
        bool valid;
    } positions[] = {{0, 0, false},     {0, 1e-9, true},   {180, 90, true},  {-180, -90, true},
                     {180.1, 0, false}, {0, -90.1, false}, {1e300, 5, false}};
    for (auto p : positions) {
        EXPECT_EQ(validPosition({p.lon, p.lat, 0, 0, 0, 0, 0}), p.valid) << p.lon << " " << p.lat;
    }
    const struct {
        double in, out;
    } wraps[] = {{179.5, 179.5}, {180, -180}, {-180, -180}, {190, -170}, {-190, 170}, {725, 5}};
    for (auto w : wraps) {
        EXPECT_DOUBLE_EQ(wrapLongitude(w.in), w.out) << w.in;
    }
}

TEST(Geometry, ProjectsInMetresAcrossTheAntimeridianAndAtThePole) {
    const LocalProjection p(179.9995, 45.0);
    // A thousandth of a degree east of the centre, across the line: about 79 m, not 28,000 km.
    EXPECT_NEAR(p.x(-179.9995) - p.x(179.9995),
                0.001 * 111319.49 * std::cos(45.0 * 3.14159265358979323846 / 180), 1e-6);
    EXPECT_NEAR(p.y(45.001), 110.574, 1e-6);
    const LocalProjection pole(0.0, 90.0);
    EXPECT_TRUE(std::isfinite(pole.x(120.0)));
    EXPECT_GE(pole.metresPerDegreeLon(), 0.0);

    std::vector<YieldPoint> pts;
    for (int i = 0; i < 10; ++i) {
        pts.push_back({i % 2 ? 179.9999 : -179.9999, 10.0 + i * 1e-5, 1, 1, 1, 1, 1});
    }
    const LocalProjection around = LocalProjection::around(pts);
    EXPECT_GT(std::fabs(around.centreLon()), 179.99);
    const BoundingBox box = boundingBox(pts, [](std::size_t) { return true; });
    EXPECT_DOUBLE_EQ(box.west, 179.9999);
    EXPECT_DOUBLE_EQ(box.east, -179.9999);
    const BoundingBox none = boundingBox(pts, [](std::size_t) { return false; });
    EXPECT_TRUE(std::isnan(none.west));
}
