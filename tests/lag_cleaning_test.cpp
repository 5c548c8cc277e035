// The filters with a grain-flow lag: the lag found and undone, no value carried across a gap,
// carry-over dips, grain logged in turns and on harvested ground, and the low yield limit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "analysis/cleaning.hpp"
#include "model/point_store.hpp"

using namespace vornakite::analysis;
using vornakite::YieldPoint;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLat0 = 42.0, kLon0 = -93.5, kMLat = 110574.0;
const double kMLon = 111319.49 * std::cos(kLat0 * kPi / 180.0);

double crop(double x, double y) {
    return 200.0 + 40.0 * std::sin(x / 23.0) + 20.0 * std::cos(y / 17.0);
}

// A serpentine field: `passes` passes of 150 samples 2 m apart, 9 m apart, 4.5 mph, joined by
// half-circle turns of 8 samples at 3.2 mph (header raised: nothing cut), logged or not. The
// monitor logs at sample t the grain flow cut at the position of t - lag divided by the speed
// at t (nothing before the log began), and its moisture. The
// yield and moisture logged at sample t are those cut at the position of t - lag (nothing
// before the log began); `cut` marks the samples cut on a pass.
struct Field {
    std::vector<YieldPoint> points;
    std::vector<bool> onPass;
};

Field field(int lag, bool turnsLogged, int passes = 12) {
    std::vector<double> xs, ys, cut;
    for (int p = 0; p < passes; ++p) {
        for (int k = 0; k < 150; ++k) {
            xs.push_back(p % 2 == 0 ? 2.0 * k : 298.0 - 2.0 * k);
            ys.push_back(9.0 * p);
            cut.push_back(crop(xs.back(), ys.back()));
        }
        for (int k = 1; k <= 8 && p + 1 < passes; ++k) {
            const double a = kPi * k / 9.0, cx = p % 2 == 0 ? 298.0 : 0.0;
            xs.push_back(cx + (p % 2 == 0 ? 4.5 : -4.5) * std::sin(a));
            ys.push_back(9.0 * p + 4.5 - 4.5 * std::cos(a));
            cut.push_back(0.0);
        }
    }
    Field f;
    auto speed = [&](std::size_t t) { return cut[t] > 0.0 ? 4.5 : 3.2; };
    const auto d = static_cast<std::size_t>(lag);
    for (std::size_t t = 0; t < xs.size(); ++t) {
        const double v = t >= d ? cut[t - d] : 0.0;
        const double logged = t >= d ? v * speed(t - d) / speed(t) : 0.0;
        const double wobble = static_cast<double>((t * 37) % 11) * 0.4 - 2.0;
        if (!turnsLogged && cut[t] == 0.0) {
            continue;
        }
        f.points.push_back({kLon0 + xs[t] / kMLon, kLat0 + ys[t] / kMLat,
                            v > 0 ? logged + wobble : 0.0, v > 0 ? 18.0 + v / 100.0 : 18.0,
                            v / 40.0, 56.0, speed(t)});
        f.onPass.push_back(cut[t] > 0.0);
    }
    return f;
}

LagSetting setting(std::optional<int> samples) {
    return samples ? LagSetting{LagSetting::Mode::Samples, *samples} : LagSetting{};
}

}  // namespace

TEST(LagCleaning, FindsAndUndoesTheLag) {
    const struct {
        const char* name;
        int lag;
        bool turnsLogged;
        std::optional<int> set;  // --flow-lag N
        int expected;
    } cases[] = {
        {"none", 0, true, {}, 0},
        {"6 samples, turns logged", 6, true, {}, 6},
        {"13 samples, turns logged", 13, true, {}, 13},
        {"9 samples, turns not logged", 9, false, {}, 9},
        {"set", 13, true, 13, 13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Field f = field(c.lag, c.turnsLogged);
        CleaningOptions options;
        options.flowLag = setting(c.set);
        const CleaningResult r = cleanPoints(f.points, options);
        ASSERT_TRUE(r.judged());
        EXPECT_NEAR(r.lag.flow, c.expected, 1) << cleaningLine(r);
        // Every kept record holds the crop cut at its own position.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < f.points.size(); ++i) {
            if (!r.isKept(i)) {
                continue;
            }
            ++kept;
            const double x = (f.points[i].longitude - kLon0) * kMLon;
            const double y = (f.points[i].latitude - kLat0) * kMLat;
            ASSERT_TRUE(f.onPass[i]) << i;
            ASSERT_NEAR(r.lag.yieldAt(f.points, i), crop(x, y), 12.0) << i;
            EXPECT_EQ(r.lag.record(f.points, i).speed, f.points[i].speed);
        }
        EXPECT_GT(kept, f.points.size() * 8 / 10);
    }
}

TEST(LagCleaning, NeverCarriesAValueAcrossAGap) {
    const Field f = field(0, false);  // the monitor stopped in every turn
    CleaningOptions options;
    options.flowLag = setting(5);
    options.moistureLag = setting(3);
    const CleaningResult r = cleanPoints(f.points, options);
    for (std::size_t i = 0; i < f.points.size(); ++i) {
        const std::size_t pass = i / 150, left = 149 - i % 150;  // samples to the pass's end
        const bool last = pass == 11;
        EXPECT_EQ((r.flags[i] & bit(Filter::NoValue)) != 0, left < 5) << i;
        EXPECT_EQ(std::isnan(r.lag.yieldAt(f.points, i)), left < 5) << i;
        EXPECT_EQ(std::isnan(r.lag.moistureAt(f.points, i)), left < 3) << i;
        if (left >= 5 || last) {
            EXPECT_EQ(r.lag.source(i, 5), left >= 5 ? i + 5 : LagShift::kNone);
        }
    }
}

TEST(LagCleaning, FlagsACarryOverDipWhateverLevelItStartsFrom) {
    const struct {
        const char* name;
        std::vector<double> start;   // the first yields of the 4th pass; the rest as cut
        std::size_t flaggedThrough;  // END from the pass start to here (exclusive); 0: none
    } cases[] = {
        {"starts high, dips, recovers", {200, 190, 120, 30, 8, 5, 9, 40, 150, 205, 200}, 9},
        {"ramp from nothing", {5, 20, 80, 160, 200, 205}, 3},
        {"a wet spot: low, not near nothing", {200, 190, 120, 110, 115, 120, 205, 200}, 0},
        // A long turn: the dip and its recovery outlast the 10 samples scanned.
        {"starts with grain, dips longer than the scan",
         {100, 80, 60, 40, 20, 10, 5, 3, 2, 3, 5, 10, 30, 90, 205, 200},
         14},
        {"rises slowly from nothing past the scan",
         {5, 10, 20, 30, 45, 60, 80, 100, 110, 120, 125, 130, 135, 140, 205, 200},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Field f = field(0, true);
        const std::size_t begin = 3 * 158;  // passes of 150 and turns of 8
        for (std::size_t k = 0; k < c.start.size(); ++k) {
            f.points[begin + k].yield = c.start[k];
        }
        CleaningOptions options;
        options.flowLag.mode = LagSetting::Mode::Off;
        const CleaningResult r = cleanPoints(f.points, options);
        for (std::size_t k = 0; k < c.start.size(); ++k) {
            EXPECT_EQ((r.flags[begin + k] & bit(Filter::PassEnd)) != 0, k < c.flaggedThrough)
                << k << ": " << reasonText(r.flags[begin + k]);
        }
    }
}

TEST(LagCleaning, FlagsGrainLoggedInTurnsAndOnHarvestedGround) {
    Field f = field(0, true);
    // Grain in every turn (logged with the header raised, carried from the pass), then a drive
    // back at a slant across the harvested passes logging grain as well.
    for (std::size_t i = 0; i < f.points.size(); ++i) {
        if (!f.onPass[i]) {
            f.points[i].yield = 150.0;
        }
    }
    const YieldPoint last = f.points.back();
    for (int k = 1; k <= 40; ++k) {
        YieldPoint p = last;
        p.latitude -= 2.0 * k / kMLat;
        p.longitude += 2.0 * k / kMLon;
        f.points.push_back(p);
        f.onPass.push_back(false);
    }
    CleaningOptions options;
    options.flowLag.mode = LagSetting::Mode::Off;
    const CleaningResult r = cleanPoints(f.points, options);
    std::size_t off = 0, offFlagged = 0, on = 0, onFlagged = 0;
    for (std::size_t i = 0; i < f.points.size(); ++i) {
        const bool flagged = (r.flags[i] & bit(Filter::OffPass)) != 0;
        EXPECT_EQ(r.onPass[i] == 0, flagged) << i;
        (f.onPass[i] ? on : off) += 1;
        (f.onPass[i] ? onFlagged : offFlagged) += flagged ? 1 : 0;
    }
    EXPECT_GE(offFlagged * 10, off * 9) << offFlagged << " of " << off;
    EXPECT_LE(onFlagged * 100, on) << onFlagged << " of " << on;
}

TEST(LagCleaning, LowYieldLimitStaysAFractionOfTheTypicalYield) {
    const struct {
        const char* name;
        int lowPasses;  // passes of the second crop (of 12), at `lowYield`
        double lowYield;
        int dips;           // samples in every pass at 5 % of the crop (a long low tail)
        double floorShare;  // the limit at least this share of the crop's 200
    } cases[] = {
        {"two crops", 4, 55.0, 0, 0.025},
        {"skewed", 0, 0.0, 25, 0.04},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Field f = field(0, false);
        for (std::size_t i = 0; i < f.points.size(); ++i) {
            const int pass = static_cast<int>(i / 150), k = static_cast<int>(i % 150);
            if (pass < c.lowPasses) {
                f.points[i].yield *= c.lowYield / 200.0;
            }
            if (k >= 40 && k < 40 + c.dips) {
                f.points[i].yield *= 0.05;
            }
        }
        f.points[5].yield = 0.02 * 55.0;   // a dropout: 2 % of the low crop
        f.points[200].yield = 0.4 * 55.0;  // a wet spot of the low crop: kept
        CleaningOptions options;
        options.flowLag.mode = LagSetting::Mode::Off;
        const CleaningResult r = cleanPoints(f.points, options);
        const double limit = r.threshold("yield-min")->value;
        EXPECT_GE(limit, c.floorShare * 200.0) << limit;
        EXPECT_LT(limit, 0.4 * 55.0);
        EXPECT_TRUE((r.flags[5] & bit(Filter::YieldOutlier)) != 0);
        EXPECT_FALSE((r.flags[200] & bit(Filter::YieldOutlier)) != 0);
    }
}

// The analysis of a long log reads its points from the compact store: it must judge them as it
// judges the points themselves.
TEST(LagCleaning, JudgesTheStoredPointsAsThePointsThemselves) {
    Field f = field(13, true);
    for (YieldPoint& p : f.points) {  // as a log writes them: whole units
        for (int k = 0; k < 7; ++k) {
            double& v = p.*vornakite::kPointMembers[k];
            v = std::round(v * vornakite::kPointUnits[k]) / vornakite::kPointUnits[k];
        }
    }
    const vornakite::PointStore store(f.points);
    ASSERT_LT(store.bytes(), f.points.size() * sizeof(YieldPoint) / 2 + 64);
    const CleaningResult a = cleanPoints(f.points), b = cleanPoints(store);
    EXPECT_EQ(a.flags, b.flags);
    EXPECT_EQ(cleaningLine(a), cleaningLine(b));
    ASSERT_EQ(a.lag.flow, 13);
    for (std::size_t i = 0; i < f.points.size(); ++i) {
        const YieldPoint x = a.lag.record(f.points, i), y = b.lag.record(store, i);
        ASSERT_EQ(std::memcmp(&x, &y, sizeof x), 0) << i;
    }
}

// The filters hold positions in single precision, from the middle of the log: a field a season's
// log puts hundreds of kilometres from that middle is judged as the same field alone.
TEST(LagCleaning, JudgesAFieldFarFromTheLogsMiddleAsTheFieldAlone) {
    const Field f = field(13, true);
    const std::size_t n = f.points.size();
    const CleaningResult alone = cleanPoints(f.points);
    for (const double degrees : {0.01, 4.0}) {  // about 800 m, and 330 km between two copies
        SCOPED_TRACE(degrees);
        std::vector<YieldPoint> season = f.points;
        for (std::size_t i = 0; i < n; ++i) {
            season.push_back(f.points[i]);
            season.back().longitude += degrees;
        }
        const CleaningResult r = cleanPoints(season);
        EXPECT_EQ(r.lag.flow, alone.lag.flow);
        std::size_t differ = 0;
        for (std::size_t i = 0; i < n; ++i) {
            differ += r.flags[i] != alone.flags[i] ? 1u : 0u;
            differ += r.flags[n + i] != alone.flags[i] ? 1u : 0u;
        }
        EXPECT_EQ(differ, 0u) << cleaningLine(r) << "\n" << cleaningLine(alone);
    }
}
