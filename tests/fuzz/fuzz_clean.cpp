// Fuzzing the analysis: any points (out-of-range and non-finite values, repeats, extremes) are
// cleaned, summarised and reported without a fault, with a flag per point, counts that add up,
// one CSV row, and a report whose embedded data holds no NaN; kept in the compact store they
// come back bit for bit and are judged alike.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/cleaning.hpp"
#include "analysis/report.hpp"
#include "analysis/summary.hpp"
#include "model/point_store.hpp"

using namespace vornakite::analysis;
using vornakite::YieldPoint;

namespace {

void check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "analysis inconsistent: %s\n", what);
        std::abort();
    }
}

// Each point is 8 bytes: a selector byte and 7 bytes, one per member. A member is either a
// special value or a small step from the previous point's, so that fields, tracks and
// repeats all occur.
std::vector<YieldPoint> decode(const std::uint8_t* data, std::size_t size) {
    constexpr double kSpecial[] = {std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   0.0,
                                   -1.0,
                                   1e308,
                                   -1e308,
                                   90.0,
                                   180.0,
                                   -180.0,
                                   5e-324,
                                   91.0};
    std::vector<YieldPoint> points;
    YieldPoint p{-93.5, 42.0, 190.0, 18.0, 5.0, 56.0, 4.5};
    constexpr double kStep[] = {2e-5, 1e-5, 5.0, 0.2, 0.1, 0.1, 0.1};
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        const std::uint8_t selector = data[i];
        double* members[] = {&p.longitude, &p.latitude, &p.yield, &p.moisture,
                             &p.weight,    &p.density,  &p.speed};
        for (int m = 0; m < 7; ++m) {
            const std::uint8_t b = data[i + 1 + static_cast<std::size_t>(m)];
            if ((selector >> m) & 1u) {
                *members[m] = kSpecial[b % std::size(kSpecial)];
            } else if (std::isfinite(*members[m])) {
                *members[m] += kStep[m] * (static_cast<int>(b) - 128) / 16.0;
            } else {
                *members[m] = static_cast<double>(b);
            }
        }
        points.push_back(p);
        if (selector == 0xFF && points.size() < 100000) {
            points.insert(points.end(), 200, p);  // a crowd on one spot
        }
    }
    return points;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<YieldPoint> points = decode(data, size);
    CleaningOptions options;
    if (size > 0 && data[0] % 5 == 0) {
        options.localRadiusMetres = 1e-3 * data[size - 1];
        options.rampSamples = data[size / 2] % 70;
    }
    const CleaningResult r = cleanPoints(points, options);
    check(r.flags.size() == points.size(), "a flag per point");
    check(r.kept + r.removed == points.size(), "kept and removed add up");
    std::size_t flagged = 0;
    for (std::size_t c : r.flagged) {
        check(c <= r.removed, "a filter flagged more points than were removed");
        flagged += c;
    }
    check(flagged >= r.removed, "every removed point has a reason");
    const FilterMask alone = bit(Filter::NonFinite) | bit(Filter::Position);
    for (const FilterMask m : r.flags) {
        check(r.judged() || (m & ~alone) == 0, "an unjudged log has only invalid points removed");
    }
    // The compact store a converted log's points are kept in gives them back bit for bit, and
    // the filters judge them alike.
    const vornakite::PointStore store(points);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const YieldPoint q = store[i];
        check(std::memcmp(&q, &points[i], sizeof q) == 0, "the store gives the points back");
    }
    check(cleanPoints(store, options).flags == r.flags, "the stored points judged alike");
    const std::string line = cleaningLine(r);
    check(r.judged() == (line.find("; not judged otherwise: ") == std::string::npos &&
                         line.find("Cleaning: kept all ") != 0),
          "the line says whether the log was judged");
    check(!cleaningLine(r).empty(), "a line");

    const FieldSummary f = summarizeField("fuzz", points, r);
    std::ostringstream csv;
    const FieldSummary rows[] = {f};
    writeSummaryCsv(csv, rows);
    std::size_t lineEnds = 0;
    for (std::size_t at = csv.str().find("\r\n"); at != std::string::npos;
         at = csv.str().find("\r\n", at + 1)) {
        ++lineEnds;
    }
    check(lineEnds == 2, "a header and one row");

    std::ostringstream html;
    HtmlReport report(html);
    report.addField(f, points, r);
    report.finish();
    const std::string page = html.str();
    const std::size_t data_at = page.find("VK_LOGS.push(");
    check(data_at != std::string::npos, "the map's data");
    const std::string pushed = page.substr(data_at, page.find("</script>", data_at) - data_at);
    // Non-finite values are shown as text: quoted, never bare numbers the script would parse.
    // Strings (names, base64 columns that may spell "NaN" by chance) are left out of the check.
    std::string bare;
    for (std::size_t i = 0; i < pushed.size(); ++i) {
        if (pushed[i] != '"') {
            bare += pushed[i];
            continue;
        }
        for (++i; i < pushed.size() && pushed[i] != '"'; ++i) {
            i += pushed[i] == '\\' ? 1 : 0;  // an escaped character
        }
    }
    check(bare.find("NaN") == std::string::npos && bare.find("Infinity") == std::string::npos,
          "no NaN in the script's data");
    return 0;
}
