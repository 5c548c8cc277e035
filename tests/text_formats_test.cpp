// The GeoJSON and CSV writers and a set in several formats at once: exact bytes, numbers that
// read back as the same doubles, text values escaped, and the files each choice of formats makes.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "text/escape.hpp"
#include "write/csv_writer.hpp"
#include "write/geojson_writer.hpp"
#include "write/output_set.hpp"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::ScratchDir;
using vornakite::OutputFormats;
using vornakite::YieldPoint;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kTiny = std::numeric_limits<double>::denorm_min();
constexpr double kMin = std::numeric_limits<double>::min();

// Reads a number back as a reader would; the bits, so that -0 differs from 0.
std::uint64_t readBack(const std::string& text) {
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    EXPECT_TRUE(result.ec == std::errc() && result.ptr == text.data() + text.size()) << text;
    return std::bit_cast<std::uint64_t>(value);
}

TEST(NumberText, IsTheShortestTextThatReadsBackAsTheSameDoubleAndNeverLooksWhole) {
    const std::pair<double, const char*> cases[] = {
        {185.4, "185.4"},
        {5.0, "5.0"},
        {-0.0, "-0.0"},
        {-93.6391289, "-93.6391289"},
        {1.0 / 3, "0.3333333333333333"},
        {100000.0, "1e+05"},
        {123456789012.0, "123456789012.0"},
        {1e22, "1e+22"},
        {1e-7, "1e-07"},
        {-kMax, "-1.7976931348623157e+308"},
        {kMin, "2.2250738585072014e-308"},
        {kTiny, "5e-324"},
    };
    for (const auto& [value, text] : cases) {
        char out[vornakite::kMaxNumberChars];
        const std::string got(out, vornakite::putNumberText(out, value));
        EXPECT_EQ(got, text);
        EXPECT_EQ(readBack(got), std::bit_cast<std::uint64_t>(value)) << got;
    }
}

TEST(TextValues, AreEscapedForJsonAndQuotedForCsvOnlyWhenNeeded) {
    const struct {
        std::string value;
        const char* json;
        const char* csv;
    } cases[] = {
        {"ZERO,END", "\"ZERO,END\"", "\"ZERO,END\""},
        {"a.txt", "\"a.txt\"", "a.txt"},
        {"", "\"\"", ""},
        {"say \"hi\"", "\"say \\\"hi\\\"\"", "\"say \"\"hi\"\"\""},
        {"back\\slash", "\"back\\\\slash\"", "back\\slash"},
        {"two\r\nlines", "\"two\\u000d\\u000alines\"", "\"two\r\nlines\""},
        {"tab\t\x07", "\"tab\\u0009\\u0007\"", "tab\t\x07"},
        {"S\xC3\xBC"
         "d",
         "\"S\xC3\xBC"
         "d\"",
         "S\xC3\xBC"
         "d"},
        {"cut \xE2\x82", "\"cut \xEF\xBF\xBD\xEF\xBF\xBD\"", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        std::string json;
        std::string csv;
        vornakite::appendEscaped(json, c.value, vornakite::Escape::JsonValue);
        vornakite::appendEscaped(csv, c.value, vornakite::Escape::Csv);
        EXPECT_EQ(json, c.json) << c.value;
        EXPECT_EQ(csv, c.csv) << c.value;
    }
}

// Writes the points, each with its texts, as the set "set" in `formats` into `dir`.
void writeSet(const fs::path& dir, const OutputFormats& formats,
              const std::vector<std::pair<YieldPoint, std::vector<std::string_view>>>& rows,
              std::vector<vornakite::TextColumn> columns = {}) {
    vornakite::OutputTransaction transaction(dir, nullptr);
    vornakite::PointSetWriter writer(transaction, formats, {{}, std::move(columns), true});
    for (const auto& [point, texts] : rows) {
        writer.addPoint(point, texts);
    }
    writer.finish();
    transaction.commit(dir / "set");
}

TEST(TextFormats, WriteOneFeatureOrRowPerPointWithTheTextColumnsLast) {
    ScratchDir dir;
    writeSet(dir.path(), {false, true, true},
             {{{-93.6391289, 42.0313255, 185.4, 18.4, 5.31, 55.6, 4.5}, {"ZERO,END", "a.txt"}},
              {{-93.5, 42.0, 0.0, 15.0, 0.0, 56.0, 0.0}, {}}},
             {{"Reason", 64}, {"Log", 254}});
    EXPECT_EQ(readFile(dir / "set.geojson"),
              "{\"type\":\"FeatureCollection\",\"features\":[\n"
              "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":"
              "[-93.6391289,42.0313255]},\"properties\":{\"Yield_bu\":185.4,\"Moist_pct\":18.4,"
              "\"Weight_ta\":5.31,\"Dens_lbbu\":55.6,\"Speed_MPH\":4.5,\"Reason\":\"ZERO,END\","
              "\"Log\":\"a.txt\"}},\n"
              "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":"
              "[-93.5,42.0]},\"properties\":{\"Yield_bu\":0.0,\"Moist_pct\":15.0,"
              "\"Weight_ta\":0.0,\"Dens_lbbu\":56.0,\"Speed_MPH\":0.0,\"Reason\":\"\","
              "\"Log\":\"\"}}\n]}\n");
    EXPECT_EQ(readFile(dir / "set.csv"),
              "longitude,latitude,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH,Reason,Log\r\n"
              "-93.6391289,42.0313255,185.4,18.4,5.31,55.6,4.5,\"ZERO,END\",a.txt\r\n"
              "-93.5,42.0,0.0,15.0,0.0,56.0,0.0,,\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

    ScratchDir empty;
    writeSet(empty.path(), {false, true, true}, {});
    EXPECT_EQ(readFile(empty / "set.geojson"),
              "{\"type\":\"FeatureCollection\",\"features\":[\n]}\n");
    EXPECT_EQ(readFile(empty / "set.csv"),
              "longitude,latitude,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH\r\n");
}

TEST(TextFormats, OnlyTextCellsGetTheSpreadsheetGuardNeverNumbers) {
    ScratchDir dir;
    writeSet(dir.path(), {false, false, true},
             {{{-93.5, -42.0, -5.0, 15.0, 0.0, 56.0, -0.0}, {"-ZERO", "@a,b.txt"}}},
             {{"Reason", 64}, {"Log", 254}});
    EXPECT_TRUE(readFile(dir / "set.csv")
                    .ends_with("\r\n-93.5,-42.0,-5.0,15.0,0.0,56.0,-0.0,'-ZERO,\"'@a,b.txt\"\r\n"));
}

TEST(TextFormats, EveryValueOfEveryColumnReadsBackAsTheSameDoubleAndOthersAsNullOrEmpty) {
    double YieldPoint::*const members[] = {
        &YieldPoint::longitude, &YieldPoint::latitude, &YieldPoint::yield, &YieldPoint::moisture,
        &YieldPoint::weight,    &YieldPoint::density,  &YieldPoint::speed};
    const double values[] = {-0.0, kMax, -kMax, kMin, kTiny, 1e22, 0.1, kNaN, kInf, -kInf};
    std::vector<std::pair<YieldPoint, std::vector<std::string_view>>> rows;
    for (auto member : members) {
        for (const double value : values) {
            YieldPoint p{-93.5, 42.0, 185.4, 18.4, 5.31, 55.6, 4.5};
            p.*member = value;
            rows.push_back({p, {}});
        }
    }
    ScratchDir dir;
    writeSet(dir.path(), {false, true, true}, rows);
    // Each feature's numbers in column order, geometry first; each row's fields.
    const std::string json = readFile(dir / "set.geojson");
    const std::string csv = readFile(dir / "set.csv");
    const std::regex feature(
        R"(\n\{"type":"Feature","geometry":(null|\{[^\[]*\[([^,]*),([^\]]*)\]\}))"
        R"(,"properties":\{[^:]*:([^,]*),[^:]*:([^,]*),[^:]*:([^,]*),)"
        R"([^:]*:([^,]*),[^:]*:([^\}]*)\}\})");
    auto f = std::sregex_iterator(json.begin(), json.end(), feature);
    std::size_t at = csv.find("\r\n") + 2;
    for (const auto& [point, texts] : rows) {
        ASSERT_NE(f, std::sregex_iterator());
        const std::smatch m = *f;
        ++f;
        const std::size_t end = csv.find("\r\n", at);
        std::string row = csv.substr(at, end - at) + ",";
        at = end + 2;
        const bool located = std::isfinite(point.longitude) && std::isfinite(point.latitude);
        for (std::size_t c = 0; c < std::size(members); ++c) {
            const double value = point.*members[c];
            const std::string field = row.substr(0, row.find(','));
            row.erase(0, field.size() + 1);
            SCOPED_TRACE(std::to_string(value) + " in column " + std::to_string(c));
            if (!std::isfinite(value)) {
                EXPECT_EQ(field, "");
                EXPECT_TRUE(c < 2 ? m[1] == "null" : m[c + 2] == "null");
                continue;
            }
            EXPECT_EQ(readBack(field), std::bit_cast<std::uint64_t>(value));
            if (c >= 2 || located) {  // a point without a finite position has no geometry
                EXPECT_EQ(readBack(m[c + 2]), std::bit_cast<std::uint64_t>(value));
            }
        }
    }
    EXPECT_EQ(f, std::sregex_iterator());
}

// Each format alone writes the files its entry in the table names, and no others, with and without
// the shapefile's side files.
TEST(OutputFormatTable, EachFormatWritesTheFilesItsEntryNames) {
    for (std::size_t i = 0; i < vornakite::kOutputFormats.size(); ++i) {
        const vornakite::OutputFormat& format = vornakite::kOutputFormats[i];
        EXPECT_EQ(vornakite::findOutputFormat(format.name), &format);
        for (const bool sideFiles : {true, false}) {
            SCOPED_TRACE(std::string(format.name) + (sideFiles ? " with side files" : ""));
            OutputFormats only;
            only.written.fill(false);
            only.written[i] = true;
            ScratchDir dir;
            vornakite::OutputTransaction transaction(dir.path(), nullptr);
            vornakite::PointSetWriter writer(transaction, only, {L"_x", {}, sideFiles});
            writer.finish();
            transaction.commit(dir / "set");
            std::set<std::wstring> files, named;
            for (const auto& entry : fs::directory_iterator(dir.path())) {
                files.insert(entry.path().filename().wstring());
            }
            for (const std::wstring& extension : vornakite::fileExtensions(format)) {
                if (sideFiles || (extension != L".prj" && extension != L".cpg")) {
                    named.insert(L"set_x" + extension);
                }
            }
            EXPECT_EQ(files, named);
        }
    }
    EXPECT_EQ(vornakite::findOutputFormat("kml"), nullptr);
}

}  // namespace
