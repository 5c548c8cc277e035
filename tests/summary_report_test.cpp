// The field summary, its CSV and the HTML report's structure and escaping.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/format.hpp"
#include "analysis/report.hpp"
#include "analysis/summary.hpp"
#include "text/escape.hpp"

using namespace vornakite::analysis;
using vornakite::YieldPoint;

namespace {

std::vector<YieldPoint> line(int n, double yield = 200.0) {
    std::vector<YieldPoint> pts;
    for (int i = 0; i < n; ++i) {
        pts.push_back({-93.5 + i * 2.5e-5, 42.0 + (i % 40) * 8e-5, yield + (i * 37 % 11), 18.0, 5.6,
                       56.0, 4.5});
    }
    return pts;
}

std::size_t countOf(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

}  // namespace

TEST(PlainNumbers, AreCLocaleWithoutExponentOrNegativeZero) {
    const struct {
        double v;
        int decimals;
        const char* plain;
    } cases[] = {{12.5, 2, "12.5"},
                 {3.0, 3, "3"},
                 {-0.25, 2, "-0.25"},
                 {-0.0001, 2, "0"},
                 {1e20, 1, "100000000000000000000"},
                 {std::numeric_limits<double>::quiet_NaN(), 2, ""},
                 {std::numeric_limits<double>::infinity(), 2, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(plainNumber(c.v, c.decimals), c.plain) << c.v;
    }
    EXPECT_EQ(fixedNumber(94.06, 1), "94.1");
}

TEST(SummaryCsv, QuotesFieldsThatNeedItAndEndsRowsInCrLf) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {{"plain", "plain"},
                 {"a,b", "\"a,b\""},
                 {"say \"hi\"", "\"say \"\"hi\"\"\""},
                 {"two\nlines", "\"two\nlines\""},
                 {"cr\r", "\"cr\r\""},
                 {"", ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(vornakite::escape(c.in, vornakite::Escape::CsvBytes), c.out);
    }
    std::vector<YieldPoint> pts = line(100);
    pts[5].yield = 0.0;
    const CleaningResult r = cleanPoints(pts);
    std::vector<FieldSummary> rows{
        summarizeField("Farm, \"North\"", pts, r),
        summarizeField("tiny", std::vector<YieldPoint>(pts.begin(), pts.begin() + 3),
                       cleanPoints(std::vector<YieldPoint>(pts.begin(), pts.begin() + 3)))};
    std::ostringstream out;
    writeSummaryCsv(out, rows);
    const std::string csv = out.str();
    EXPECT_EQ(countOf(csv, "\r\n"), 3u);
    EXPECT_EQ(countOf(csv, "\n"), 3u);
    EXPECT_EQ(csv.rfind("set,points,kept,removed,removed_NAN,", 0), 0u);
    EXPECT_NE(csv.find("\r\n\"Farm, \"\"North\"\"\",100,"), std::string::npos);
    // Every row has as many fields as the header.
    std::istringstream rowsIn(csv);
    std::string header, first, second;
    std::getline(rowsIn, header);
    std::getline(rowsIn, first);
    std::getline(rowsIn, second);
    EXPECT_EQ(countOf(header, ","), countOf(first, ",") - 1);   // the comma in the quoted name
    EXPECT_EQ(countOf(header, ","), countOf(second, ",") - 1);  // the comma in the quoted note
    EXPECT_NE(second.find("too few points to judge"), std::string::npos);
}

TEST(FieldSummary, ReportsBeforeAndAfterAndTheBox) {
    std::vector<YieldPoint> pts = line(100);
    pts[5].yield = 0.0;
    pts[6].yield = std::numeric_limits<double>::quiet_NaN();
    const CleaningResult r = cleanPoints(pts);
    const FieldSummary f = summarizeField("F", pts, r);
    EXPECT_EQ(f.points, 100u);
    EXPECT_EQ(f.before.count, 99u);  // the NaN yield is left out
    EXPECT_EQ(f.before.min, 0.0);
    EXPECT_GT(f.after.min, 0.0);
    EXPECT_EQ(f.after.count, f.kept);
    EXPECT_LT(f.after.cv, f.before.cv);
    EXPECT_NEAR(f.meanMoisture, 18.0, 1e-9);
    EXPECT_NEAR(f.medianSpeed, 4.5, 1e-9);
    EXPECT_LT(f.box.west, f.box.east);
    EXPECT_NEAR(f.box.west, -93.5, 1e-4);

    // Across the antimeridian the box is the narrow one, west > east.
    for (auto& p : pts) {
        p.longitude = p.longitude + 273.5 - 0.001 > 180.0 ? p.longitude + 273.5 - 0.001 - 360.0
                                                          : p.longitude + 273.5 - 0.001;
    }
    const FieldSummary g = summarizeField("G", pts, cleanPoints(pts));
    EXPECT_GT(g.box.west, 179.0);
    EXPECT_LT(g.box.east, -179.0);
}

TEST(HtmlReport, IsOnePageWithAMapHistogramAndTablesPerLog) {
    std::vector<YieldPoint> pts = line(300);
    pts[7].yield = std::numeric_limits<double>::quiet_NaN();
    pts[8].yield = 0.0;
    const CleaningResult r = cleanPoints(pts);
    std::ostringstream out;
    HtmlReport report(out, "Harvest <2026>");
    report.addField(summarizeField("North </script> & \"Field\"", pts, r), pts, r);
    const std::vector<YieldPoint> one(pts.begin(), pts.begin() + 1);
    const CleaningResult r1 = cleanPoints(one);
    report.addField(summarizeField("Tiny", one, r1), one, r1);
    report.finish();
    report.finish();
    const std::string html = out.str();
    EXPECT_EQ(html.rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_EQ(countOf(html, "</html>"), 1u);
    EXPECT_EQ(countOf(html, "<canvas id=\"map-"), 2u);
    EXPECT_EQ(countOf(html, "<svg class=\"hist\""), 2u);
    EXPECT_EQ(countOf(html, "<table class=\"summary\">"), 2u);
    EXPECT_EQ(countOf(html, "<table class=\"filters\">"), 2u);
    EXPECT_EQ(countOf(html, "VK_LOGS.push("), 2u);
    // Self-contained: nothing fetched.
    EXPECT_EQ(html.find("http://"), std::string::npos);
    EXPECT_EQ(html.find("https://"), std::string::npos);
    EXPECT_EQ(html.find("src="), std::string::npos);
    EXPECT_EQ(html.find("@import"), std::string::npos);
    // Names escaped in HTML and inside scripts; no NaN reaches the script data.
    EXPECT_NE(html.find("Harvest &lt;2026&gt;"), std::string::npos);
    EXPECT_NE(html.find("North &lt;/script&gt; &amp; &quot;Field&quot;"), std::string::npos);
    EXPECT_NE(html.find("\"North \\u003c/script\\u003e \\u0026 \\\"Field\\\"\""),
              std::string::npos);
    EXPECT_EQ(countOf(html, "</script>"), countOf(html, "<script>"));
    for (std::size_t at = html.find("VK_LOGS.push("); at != std::string::npos;
         at = html.find("VK_LOGS.push(", at + 1)) {
        std::string data = html.substr(at, html.find("</script>", at) - at);
        // A value that is not a number is only in the list of exact values, as text.
        const std::size_t exc = data.find(",exc:[");
        ASSERT_NE(exc, std::string::npos);
        std::size_t end = exc + 5;
        for (int depth = 0; end < data.size(); ++end) {
            depth += data[end] == '[' ? 1 : data[end] == ']' ? -1 : 0;
            if (depth == 0) {
                break;
            }
        }
        const std::string exact = data.substr(exc, end + 1 - exc);
        data.erase(exc, exact.size());
        EXPECT_EQ(data.find("NaN"), std::string::npos);
        EXPECT_EQ(data.find("Infinity"), std::string::npos);
        if (at == html.find("VK_LOGS.push(")) {
            EXPECT_NE(exact.find("[7,0,\"NaN\"]"), std::string::npos) << exact;
        }
    }
    EXPECT_NE(html.find("Not cleaned: too few points"), std::string::npos);
}

TEST(JsonText, EscapesForScriptsAndReplacesBrokenUtf8) {
    EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(jsonString("<\n>&"), "\"\\u003c\\u000a\\u003e\\u0026\"");
    EXPECT_EQ(jsonString("caf\xC3\xA9"), "\"caf\xC3\xA9\"");
    EXPECT_EQ(jsonString("\xE2\x80\xA8"), "\"\\u2028\"");
    EXPECT_EQ(jsonString("x\xFFy"), "\"x\\ufffdy\"");
    EXPECT_EQ(jsonString("\xC3"), "\"\\ufffd\"");
    EXPECT_EQ(jsonNumber(std::numeric_limits<double>::quiet_NaN(), 2), "null");
    EXPECT_EQ(jsonNumber(2.5, 2), "2.5");
}
