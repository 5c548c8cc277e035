// The field's numbers as the outputs show them: the cleaning line's end, the summary's columns
// and the report's compact map data.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/log_numbers.hpp"
#include "analysis/report_data.hpp"
#include "analysis/summary.hpp"

using namespace vornakite;
using namespace vornakite::analysis;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

FieldNumbers numbers(double acres, double swath, bool set, double bushels, double dry) {
    FieldNumbers r{};
    r.areaAcres = acres;
    r.areaHectares = acres * 0.40468564224;
    r.swathMetres = swath;
    r.swathSet = set;
    r.totalBushels = bushels;
    r.dryTotalBushels = dry;
    r.standardMoisture = 15.5;
    r.swathEstimate.note = "too few points on passes";
    return r;
}
}  // namespace

TEST(FieldOutputs, LineEndsWithTheEstimatedNumbers) {
    const struct {
        FieldNumbers n;
        const char* line;
    } cases[] = {
        {numbers(41.26, 9.14, false, 7420.4, 7100),
         "estimated: 41.3 ac harvested, swath 9.1 m, 7,420 bu, 7,100 bu at 15.5 % moisture"},
        {numbers(2.0, 10, true, 400, kNaN), "estimated: 2 ac harvested, swath 10 m (set), 400 bu"},
        {numbers(kNaN, kNaN, false, kNaN, kNaN),
         "estimated: no area harvested (swath not estimated: too few points on passes)"},
        {numbers(1234.5, 12, false, 1234567.4, kNaN),
         "estimated: 1234.5 ac harvested, swath 12 m, 1,234,567 bu"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(numbersLineText(c.n), c.line);
    }
    EXPECT_EQ(groupedNumber(-1234.6), "-1,235");
    EXPECT_EQ(groupedNumber(999), "999");
    EXPECT_EQ(groupedNumber(kNaN), "");
}

TEST(FieldOutputs, SummaryColumnsComeAfterTheExistingOnes) {
    std::vector<FieldSummary> rows(2);
    rows[0].setName = rows[1].setName = "F";
    rows[0].log = "a,b.txt";
    rows[1].numbers = numbers(10, 9, false, 2000, 1900);
    std::ostringstream out;
    writeSummaryCsv(out, rows);
    std::istringstream in(out.str());
    std::string header, first, second;
    std::getline(in, header);
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_NE(header.find(",overridden,note,log,swath_m,swath_set,area_ha,area_ac,"
                          "yield_mean_bu_ac,yield_mean_t_ha,production_bu,production_t,"
                          "standard_moisture_pct,dry_yield_mean_bu_ac,dry_production_bu,"
                          "numbers_note,removed_TRN,removed_NOV,flow_lag_samples,"
                          "flow_lag_confidence,moisture_lag_samples,moisture_lag_confidence\r"),
              std::string::npos);
    EXPECT_NE(first.find(",\"a,b.txt\",,,,,,,,,,,,,0,0,,0,,0\r"), std::string::npos) << first;
    EXPECT_NE(second.find(",,9,no,4.047,10,"), std::string::npos) << second;
}

TEST(FieldOutputs, MapDataIsCompactAndExact) {
    ReportSection s{};
    s.id = "1";
    s.map.stride = 1;
    const double big = 1.7976931348623157e308;
    const struct {
        std::uint32_t index;
        FilterMask flags;
        std::array<double, 5> values;
    } points[] = {
        {0, 0, {180.25, 15.5, 5.1, 56, 4.5}},
        {1, bit(Filter::ZeroYield), {0, 15.5, 0, 56, 4.4}},
        {3, bit(Filter::NonFinite) | bit(Filter::PassEnd), {kNaN, 15.5, 5, 56, 4.6}},
        {4, 0, {big, 15.5, 5, 56, 4.5}},
    };
    std::vector<vornakite::YieldPoint> records(5, vornakite::YieldPoint{});  // point 2 not mapped
    for (const auto& p : points) {
        s.map.points.push_back({1, 2, 0, p.flags, p.index});
        const auto& v = p.values;
        records[p.index] = {-93.6, 42.0, v[0], v[1], v[2], v[3], v[4]};
    }
    s.map.source = records;  // the values are read from the section's points
    const std::string js = mapDataScript(s);
    EXPECT_NE(js.find("{d:1,c:155}"), std::string::npos) << js;  // moisture: one value
    EXPECT_NE(js.find("{d:1,c:560}"), std::string::npos) << js;  // density
    EXPECT_NE(js.find("exc:[[2,0,\"NaN\"],[3,0,\"1.7976931348623157e+308\"]]"), std::string::npos)
        << js;
    EXPECT_NE(js.find(",ix:\""), std::string::npos);  // a point not mapped: indices given
    // The removed points: gap 1 mask ZERO, gap 1 mask NAN|END, as varints.
    std::vector<std::uint8_t> removed;
    for (std::uint64_t v : {1u, 1u << 7, 1u, 1u | 1u << 12}) {
        appendVarint(removed, v);
    }
    std::string expected;
    appendBase64(expected, removed);
    EXPECT_NE(js.find("rm:\"" + expected + "\""), std::string::npos) << js;
    EXPECT_EQ(zigZag(-3), 5u);
    EXPECT_EQ(zigZag(3), 6u);
}
