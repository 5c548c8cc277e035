// The quality filters on hand-made tracks with a known answer, one table per filter, and the
// logs no filter may fail on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "analysis/cleaning.hpp"

using namespace vornakite::analysis;
using vornakite::YieldPoint;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A clean serpentine field: `passes` passes of `perPass` samples `step` m apart heading east and
// west, `apart` m apart, 200 bu/ac with a small deterministic wobble, 18 % moisture, 4.5 mph.
std::vector<YieldPoint> field(int passes = 6, int perPass = 60, double step = 2.0,
                              double apart = 9.0) {
    std::vector<YieldPoint> pts;
    const double lat0 = 42.0, lon0 = -93.5;
    const double mLat = 110574.0, mLon = 111319.49 * std::cos(lat0 * 3.14159265358979 / 180.0);
    for (int p = 0; p < passes; ++p) {
        for (int k = 0; k < perPass; ++k) {
            const int k2 = p % 2 == 0 ? k : perPass - 1 - k;
            const double east = step * k2, north = apart * p;
            const int n = static_cast<int>(pts.size());
            const double wobble = ((n * 37) % 11 - 5) * 1.0;  // -5..5 bu/ac
            const double speedWobble = ((n * 13) % 5 - 2) * 0.05;
            pts.push_back({lon0 + east / mLon, lat0 + north / mLat, 200.0 + wobble,
                           18.0 + ((n * 7) % 5 - 2) * 0.1, 5.6, 56.0, 4.5 + speedWobble});
        }
    }
    return pts;
}

std::string reasons(const CleaningResult& r, std::size_t i) {
    return reasonText(r.flags[i]);
}

bool flaggedBy(const CleaningResult& r, std::size_t i, Filter f) {
    return (r.flags[i] & bit(f)) != 0;
}

// One change to a clean field and the points that must (and must not) be flagged by a filter.
struct Case {
    const char* name;
    void (*change)(std::vector<YieldPoint>&);
    std::vector<std::size_t> flagged;
    std::vector<std::size_t> kept;
};

void expectCases(Filter filter, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::vector<YieldPoint> pts = field();
        c.change(pts);
        const CleaningResult r = cleanPoints(pts);
        ASSERT_TRUE(r.judged()) << c.name;
        for (std::size_t i : c.flagged) {
            EXPECT_TRUE(flaggedBy(r, i, filter))
                << c.name << ": point " << i << " " << reasons(r, i);
        }
        for (std::size_t i : c.kept) {
            EXPECT_FALSE(flaggedBy(r, i, filter))
                << c.name << ": point " << i << " " << reasons(r, i);
        }
    }
}

}  // namespace

TEST(Cleaning, KeepsEveryPointOfACleanField) {
    const std::vector<YieldPoint> pts = field();
    const CleaningResult r = cleanPoints(pts);
    ASSERT_TRUE(r.judged());
    EXPECT_EQ(r.kept, pts.size());
    EXPECT_EQ(r.removed, 0u);
    EXPECT_FALSE(r.thresholds.empty());
}

TEST(PositionFilter, FlagsPositionsOutOfRangeOrAtZero) {
    expectCases(Filter::Position,
                {{"latitude beyond 90", [](auto& p) { p[30].latitude = 90.5; }, {30}, {29, 31}},
                 {"longitude beyond 180", [](auto& p) { p[40].longitude = -181.0; }, {40}, {41}},
                 {"no fix", [](auto& p) { p[50].latitude = p[50].longitude = 0.0; }, {50}, {49}},
                 {"latitude zero alone is valid", [](auto& p) { (void)p; }, {}, {0, 1}}});
}

TEST(JumpFilter, FlagsPointsOffTheTrackThatComeBack) {
    expectCases(
        Filter::Jump,
        {{"one point 40 m off", [](auto& p) { p[30].latitude += 40 / 110574.0; }, {30}, {29, 31}},
         {"three points 300 m off",
          [](auto& p) {
              for (int k = 100; k < 103; ++k) {
                  p[static_cast<std::size_t>(k)].longitude += 0.004;
              }
          },
          {100, 101, 102},
          {99, 103}},
         {"a gap with no way back is no jump",
          [](auto& p) {
              for (std::size_t k = 200; k < p.size(); ++k) {
                  p[k].latitude += 0.01;
              }
          },
          {},
          {199, 200, 201}}});
}

TEST(DuplicateFilter, FlagsTheRepeatOfThePreviousPosition) {
    expectCases(
        Filter::Duplicate,
        {{"repeat",
          [](auto& p) {
              p[21].latitude = p[20].latitude;
              p[21].longitude = p[20].longitude;
          },
          {21},
          {20, 22}},
         {"same latitude only", [](auto& p) { p[31].latitude = p[30].latitude; }, {}, {31}}});
}

TEST(SpeedFilters, FlagStopsBandBreachesAndAbruptChanges) {
    expectCases(Filter::Slow,
                {{"stopped", [](auto& p) { p[70].speed = 0.0; }, {70}, {69, 71}},
                 {"crawling", [](auto& p) { p[80].speed = 1.2; }, {80}, {}},
                 {"slower but working", [](auto& p) { p[90].speed = 3.5; }, {}, {90}}});
    expectCases(Filter::SpeedBand,
                {{"too fast", [](auto& p) { p[70].speed = 12.0; }, {70}, {69}},
                 {"a little fast", [](auto& p) { p[75].speed = 5.0; }, {}, {75}}});
    expectCases(Filter::SpeedChange,
                {{"glitch", [](auto& p) { p[100].speed = 2.0; }, {100}, {98, 99, 101, 102}},
                 {"steady change", [](auto& p) { p[110].speed = 4.8; }, {}, {110}}});
}

TEST(YieldFilters, FlagZerosGlobalAndLocalOutliers) {
    expectCases(Filter::ZeroYield, {{"zero", [](auto& p) { p[70].yield = 0.0; }, {70}, {69, 71}},
                                    {"negative", [](auto& p) { p[72].yield = -3.0; }, {72}, {}}});
    expectCases(Filter::YieldOutlier,
                {{"spike", [](auto& p) { p[150].yield = 900.0; }, {150}, {149, 151}},
                 {"dropout", [](auto& p) { p[160].yield = 8.0; }, {160}, {161}},
                 {"a second crop of higher yields in the same log is no outlier",
                  [](auto& p) {
                      for (std::size_t i = 0; i < 240; ++i) {  // soybeans, then corn
                          p[i].yield = 55.0 + (p[i].yield - 200.0) * 0.25;
                      }
                      p[300].yield = 900.0;
                  },
                  {300},
                  {250, 299, 330}}});
    expectCases(
        Filter::LocalOutlier,
        {{"high against the neighbours", [](auto& p) { p[150].yield = 260.0; }, {150}, {149, 151}},
         {"low against the neighbours", [](auto& p) { p[170].yield = 140.0; }, {170}, {171}},
         {"a low area of many points is kept",
          [](auto& p) {
              for (auto& q : p) {
                  const double dx = (q.longitude + 93.5) * 82700.0 - 60.0;
                  const double dy = (q.latitude - 42.0) * 110574.0 - 22.0;
                  if (dx * dx + dy * dy < 20.0 * 20.0) {
                      q.yield *= 0.5;
                  }
              }
          },
          {},
          {149, 150, 151}}});
}

TEST(YieldFilters, KeepsALowAreaWherePointsLieFarApartAlongThePasses) {
    // One sample every 2 s or so: a neighbourhood of six samples' distance would hold mostly the
    // higher ground around a low area of 20 m radius. A spike beside it is still an outlier.
    const struct {
        double step, apart;  // m along the passes, m between them
    } cases[] = {{4.0, 7.0}, {5.0, 6.5}};
    for (const auto& c : cases) {
        std::vector<YieldPoint> pts = field(12, 60, c.step, c.apart);
        const double cx = 30.0 * c.step, cy = 5.5 * c.apart;
        std::vector<std::size_t> low;
        for (std::size_t i = 0; i < pts.size(); ++i) {
            const double dx = (pts[i].longitude + 93.5) * 82700.0 - cx;
            const double dy = (pts[i].latitude - 42.0) * 110574.0 - cy;
            const double d = std::hypot(dx, dy);  // 45 % inside 15 m, a rim out to 20 m
            if (d < 20.0) {
                pts[i].yield *= 0.45 + 0.55 * std::clamp((d - 15.0) / 5.0, 0.0, 1.0);
                low.push_back(i);
            }
        }
        pts[5].yield = 300.0;
        const CleaningResult r = cleanPoints(pts);
        std::size_t taken = 0;
        for (std::size_t i : low) {
            taken += flaggedBy(r, i, Filter::LocalOutlier) ? 1u : 0u;
        }
        EXPECT_LE(taken, low.size() / 20) << c.step << " m steps, of " << low.size();
        EXPECT_TRUE(flaggedBy(r, 5, Filter::LocalOutlier)) << c.step << " m steps";
    }
}

TEST(YieldFilters, FlagASpikeInAShortLog) {
    // One spike is more than 2 % of 30 yields, yet no population of its own.
    std::vector<YieldPoint> pts = field(1, 30);
    pts[15].yield = 900.0;
    const CleaningResult r = cleanPoints(pts);
    ASSERT_TRUE(r.judged());
    EXPECT_TRUE(flaggedBy(r, 15, Filter::YieldOutlier)) << reasons(r, 15);
}

TEST(YieldFilters, AbsurdYieldsAreOutliersNeverAPopulationOfTheirOwn) {
    // A share of yields far beyond any crop's (a logging fault) is flagged, not taken for a
    // second field whose limit would keep them; a real second crop still keeps its points.
    struct {
        const char* name;
        double absurd;
        std::size_t every;  // every so many yields is absurd
        bool soybeansFirst;
    } cases[] = {
        {"a fifth of the yields at 1e307", 1e307, 5, false},
        {"a third at a thousand times the median", 2e5, 3, false},
        {"a fifth at 1e307 in a log of two crops", 1e307, 5, true},
    };
    for (const auto& c : cases) {
        std::vector<YieldPoint> pts = field();
        for (std::size_t i = 0; i < pts.size(); ++i) {
            if (c.soybeansFirst && i < 240) {
                pts[i].yield = 55.0 + (pts[i].yield - 200.0) * 0.25;
            }
            if (i % c.every == 2) {
                pts[i].yield = c.absurd;
            }
        }
        const CleaningResult r = cleanPoints(pts);
        ASSERT_TRUE(r.judged()) << c.name;
        for (std::size_t i = 0; i < pts.size(); ++i) {
            EXPECT_EQ(flaggedBy(r, i, Filter::YieldOutlier), i % c.every == 2)
                << c.name << ": point " << i << " " << reasons(r, i);
        }
        EXPECT_LT(r.threshold("yield-max")->value, 1000.0) << c.name;
    }
}

TEST(MoistureFilters, FlagImplausibleAndOutlyingMoisture) {
    expectCases(Filter::MoistureRange,
                {{"zero", [](auto& p) { p[40].moisture = 0.0; }, {40}, {41}},
                 {"too wet", [](auto& p) { p[42].moisture = 70.0; }, {42}, {}}});
    expectCases(Filter::MoistureOutlier,
                {{"spike within range", [](auto& p) { p[50].moisture = 38.0; }, {50}, {51}},
                 {"a little wetter", [](auto& p) { p[52].moisture = 20.0; }, {}, {52}}});
}

TEST(MoistureFilters, RunOnLogsLargerThanTheStatisticsSample) {
    std::vector<YieldPoint> pts = field(40, 2000);  // 80,000 points
    pts[12345].moisture = 0.0;
    pts[23456].moisture = 38.0;
    const CleaningResult r = cleanPoints(pts);
    EXPECT_TRUE(flaggedBy(r, 12345, Filter::MoistureRange));
    EXPECT_TRUE(flaggedBy(r, 23456, Filter::MoistureOutlier));
    EXPECT_TRUE(r.warnings.empty());
}

TEST(PassEnds, FlagsTheRampAtTheStartOfAPass) {
    expectCases(Filter::PassEnd, {{"ramp up at the start of the second pass",
                                   [](auto& p) {
                                       p[60].yield = 20;
                                       p[61].yield = 70;
                                       p[62].yield = 130;
                                   },
                                   {60, 61, 62},
                                   {63, 64}},
                                  {"ramp down at the end of the first pass",
                                   [](auto& p) {
                                       p[59].yield = 15;
                                       p[58].yield = 80;
                                   },
                                   {58, 59},
                                   {57}},
                                  {"a pass that starts a little low is a low area",
                                   [](auto& p) {
                                       for (std::size_t k = 120; k < 126; ++k) {
                                           p[k].yield = 170;
                                       }
                                   },
                                   {},
                                   {120, 121, 125}}});
}

TEST(CleaningOptions, OverridesAThresholdAndSwitchesFiltersOff) {
    std::vector<YieldPoint> pts = field();
    pts[150].yield = 900.0;
    CleaningOptions options;
    options.yieldMax = 1000.0;
    CleaningResult r = cleanPoints(pts, options);
    EXPECT_FALSE(flaggedBy(r, 150, Filter::YieldOutlier));
    const ThresholdUsed* t = r.threshold("yield-max");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->value, 1000.0);
    EXPECT_FALSE(t->automatic);
    EXPECT_TRUE(r.threshold("yield-min")->automatic);

    options.enabled = kAllFilters & static_cast<FilterMask>(~parseFilterCodes("loc,yld"));
    r = cleanPoints(pts, options);
    EXPECT_EQ(r.flags[150], 0);
    EXPECT_EQ(r.threshold("local-radius-m"), nullptr);
}

TEST(CleaningTables, CodesAreShortUniqueAndFitTheReasonColumn) {
    std::string all;
    for (const FilterInfo& f : kFilterInfo) {
        EXPECT_LE(f.code.size(), 4u);
        EXPECT_EQ(parseFilterCodes(f.code), bit(f.filter));
        EXPECT_EQ(&filterInfo(f.filter), &f);
    }
    EXPECT_EQ(reasonText(kAllFilters),
              "NAN,POS,JMP,DUP,SLOW,SPD,DSPD,ZERO,YLD,LOC,MST,MSO,END,TRN,NOV");
    EXPECT_LE(reasonText(kAllFilters).size(), 64u);
    EXPECT_EQ(reasonText(0), "");
    EXPECT_THROW(parseFilterCodes("ZERO,NOPE"), std::invalid_argument);
    for (const ThresholdInfo& t : kThresholdInfo) {
        EXPECT_EQ(findThreshold(t.option), &t);
        EXPECT_FALSE(t.automatic.empty());
    }
}

TEST(CleaningLine, CountsKeptAndRemovedPerFilterInPlainAscii) {
    std::vector<YieldPoint> pts = field();
    pts[70].yield = 0.0;
    pts[71].yield = 0.0;
    const CleaningResult r = cleanPoints(pts);
    EXPECT_EQ(cleaningLine(r),
              "Cleaning: kept 358 of 360 points (99.4%); removed 2, by filter: ZERO 2; flow lag "
              "not found, moisture lag not found");
    const std::vector<YieldPoint> all = field();
    const std::vector<YieldPoint> few(all.begin(), all.begin() + 5);
    EXPECT_EQ(cleaningLine(cleanPoints(few)),
              "Cleaning: kept all 5 points: too few points to judge (5, at least 20 needed)");
}

TEST(CleaningRobustness, JudgesNothingItCannotAndNeverFails) {
    const YieldPoint p{-93.5, 42.0, 200.0, 18.0, 5.6, 56.0, 4.5};
    struct {
        const char* name;
        std::vector<YieldPoint> points;
        bool judged;
    } cases[] = {
        {"no points", {}, false},
        {"one point", {p}, false},
        {"all points equal", std::vector<YieldPoint>(1000, p), false},
        {"a million points at one spot", std::vector<YieldPoint>(1000000, p), false},
    };
    for (auto& c : cases) {
        const CleaningResult r = cleanPoints(c.points);
        EXPECT_EQ(r.judged(), c.judged) << c.name;
        EXPECT_EQ(r.kept, c.points.size()) << c.name;
        EXPECT_EQ(r.flags.size(), c.points.size()) << c.name;
        EXPECT_FALSE(r.note.empty()) << c.name;
    }
}

TEST(CleaningRobustness, FlagsInvalidPointsOfALogItCannotJudge) {
    // Whatever keeps a log from being judged, a point with a value that is not a number or an
    // invalid position is judged alone and never kept; no other filter flags anything.
    const YieldPoint p{-93.5, 42.0, 200.0, 18.0, 5.6, 56.0, 4.5};
    std::vector<YieldPoint> flat = field();
    for (YieldPoint& q : flat) {
        q.yield = 150.0;
    }
    flat[3].longitude = 1e293;
    flat[4].latitude = 100.0;
    flat[5].latitude = flat[5].longitude = 0.0;
    flat[6].yield = kNaN;
    flat[7].speed = kInf;
    std::vector<YieldPoint> few = field(1, 12);
    few[2].latitude = few[2].longitude = 0.0;
    std::vector<YieldPoint> onePlace(30, p);
    onePlace[5].yield = kInf;
    onePlace[6].latitude = -91.0;
    std::vector<YieldPoint> unplaced = field(1, 40);
    for (std::size_t i = 10; i < 40; ++i) {
        unplaced[i].latitude = 100.0;
    }
    struct {
        const char* name;
        const std::vector<YieldPoint>& points;
        FilterMask skipped;
        std::size_t nan, pos;
        const char* line;
    } cases[] = {
        {"every yield the same", flat, 0, 2, 3,
         "Cleaning: kept 355 of 360 points (98.6%); removed 5, by filter: NAN 2, POS 3; not "
         "judged otherwise: every yield is the same: no spread to judge by"},
        {"POS skipped", flat, bit(Filter::Position), 2, 0,
         "Cleaning: kept 358 of 360 points (99.4%); removed 2, by filter: NAN 2; not judged "
         "otherwise: every yield is the same: no spread to judge by"},
        {"too few points", few, 0, 0, 1,
         "Cleaning: kept 11 of 12 points (91.7%); removed 1, by filter: POS 1; not judged "
         "otherwise: too few points to judge (12, at least 20 needed)"},
        {"every point at one position", onePlace, 0, 1, 1,
         "Cleaning: kept 28 of 30 points (93.3%); removed 2, by filter: NAN 1, POS 1; not judged "
         "otherwise: every point is at one position"},
        {"too few positions", unplaced, 0, 0, 30,
         "Cleaning: kept 10 of 40 points (25.0%); removed 30, by filter: POS 30; not judged "
         "otherwise: too few points with a position and a positive yield to judge (10); the "
         "filters removed more than half of the points"},
    };
    for (const auto& c : cases) {
        CleaningOptions options;
        options.enabled &= ~c.skipped;
        const CleaningResult r = cleanPoints(c.points, options);
        EXPECT_FALSE(r.judged()) << c.name;
        EXPECT_EQ(r.flaggedBy(Filter::NonFinite), c.nan) << c.name;
        EXPECT_EQ(r.flaggedBy(Filter::Position), c.pos) << c.name;
        EXPECT_EQ(r.flaggedBy(Filter::NonFinite) + r.flaggedBy(Filter::Position), r.removed)
            << c.name;  // no point flagged twice here, and by no other filter
        EXPECT_EQ(cleaningLine(r), c.line) << c.name;
    }
}

TEST(CleaningRobustness, JudgesDenseSpotsAndLoopsByTheirOwnNeighbours) {
    // Thousands of points across the borders of the local filter's cells (its candidates
    // sampled at a stride, kept per block): the one spike among them is found, nothing else.
    const double mLat = 110574.0, mLon = 111319.49 * std::cos(42.0 * 3.14159265358979 / 180.0);
    struct {
        const char* name;
        double radius;  // metres: a spot's, or a loop's driven round and round
        bool loop;
    } cases[] = {{"a spot of 30 cm", 0.3, false}, {"a loop of 12 m", 12.0, true}};
    for (const auto& c : cases) {
        std::vector<YieldPoint> pts;
        for (int k = 0; k < 6000; ++k) {
            const double a = c.loop ? 0.15 * k : 2.399963 * k;  // golden angle: spread round
            const double r = c.loop ? c.radius : c.radius * std::sqrt((k % 97) / 97.0);
            pts.push_back({-93.5 + r * std::cos(a) / mLon, 42.0 + r * std::sin(a) / mLat,
                           100.0 + ((k * 37) % 11 - 5) * 0.4, 18.0, 5.6, 56.0,
                           3.0 + ((k * 13) % 5 - 2) * 0.05});
        }
        pts[3001].yield = 160.0;
        const CleaningResult r = cleanPoints(pts);
        ASSERT_TRUE(r.judged()) << c.name;
        EXPECT_TRUE(flaggedBy(r, 3001, Filter::LocalOutlier)) << c.name << " " << reasons(r, 3001);
        EXPECT_EQ(r.flaggedBy(Filter::LocalOutlier), 1u) << c.name;
    }
}

TEST(CleaningRobustness, FlagsNonFiniteValuesAndCopesWithOddPlaces) {
    std::vector<YieldPoint> pts = field();
    pts[10].yield = kNaN;
    pts[11].moisture = kInf;
    pts[12].speed = -kInf;
    pts[13].density = kNaN;
    pts[14].latitude = 1e300;
    CleaningResult r = cleanPoints(pts);
    for (std::size_t i : {10u, 11u, 12u, 13u}) {
        EXPECT_TRUE(flaggedBy(r, i, Filter::NonFinite)) << i;
    }
    EXPECT_TRUE(flaggedBy(r, 14, Filter::Position));

    // Across the antimeridian and at the pole: still one field, nothing thrown.
    std::vector<YieldPoint> dateline = field();
    for (auto& q : dateline) {
        q.longitude += 273.5 - 0.0005;  // around 180
        if (q.longitude > 180.0) {
            q.longitude -= 360.0;
        }
    }
    r = cleanPoints(dateline);
    EXPECT_TRUE(r.judged());
    EXPECT_EQ(r.flaggedBy(Filter::Jump), 0u);
    EXPECT_LE(r.removed, 2u);
    std::vector<YieldPoint> pole = field();
    for (auto& q : pole) {
        q.latitude = 90.0 - (q.latitude - 42.0);
    }
    EXPECT_NO_THROW(r = cleanPoints(pole));
    EXPECT_EQ(r.flags.size(), pole.size());

    // Half a million points on one spot beside a field: finishes, the field still judged.
    std::vector<YieldPoint> crowd = field();
    crowd.insert(crowd.end(), 500000, crowd[100]);
    r = cleanPoints(crowd);
    EXPECT_TRUE(r.judged());
    EXPECT_EQ(r.flags.size(), crowd.size());
}

TEST(CleaningRobustness, SurvivesLogsOfOddValuesEverywhere) {
    // Deterministic mixtures of ordinary, repeated, extreme and non-finite values in every
    // member, at every log size up to a few hundred: each run returns a flag per point.
    const double specials[] = {kNaN, kInf, -kInf, 0.0, -1.0, 1e308, -1e308, 5e-324, 90.0, 180.0};
    std::uint64_t state = 12345;
    auto next = [&] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state >> 33;
    };
    const std::vector<YieldPoint> base = field(8, 40);
    for (int round = 0; round < 200; ++round) {
        const std::size_t n = next() % 321;
        std::vector<YieldPoint> pts(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(n));
        for (YieldPoint& p : pts) {
            if (next() % 4 == 0) {
                double YieldPoint::*members[] = {&YieldPoint::longitude, &YieldPoint::latitude,
                                                 &YieldPoint::yield,     &YieldPoint::moisture,
                                                 &YieldPoint::weight,    &YieldPoint::density,
                                                 &YieldPoint::speed};
                p.*members[next() % 7] = specials[next() % 10];
            }
            if (round % 5 == 0) {
                p = pts.front();  // long runs of one point
            }
        }
        const CleaningResult r = cleanPoints(pts);
        ASSERT_EQ(r.flags.size(), n) << round;
        ASSERT_EQ(r.kept + r.removed, n) << round;
        EXPECT_FALSE(cleaningLine(r).empty());
    }
}
