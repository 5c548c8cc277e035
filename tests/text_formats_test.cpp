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
#include "write/csv_writer.hpp"
#include "write/geojson_writer.hpp"
#include "write/output_set.hpp"
#include "write/text_output.hpp"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::OutputFormats;
using vornakite::OutputTransaction;
using vornakite::PointSetWriter;
using vornakite::SetLayout;
using vornakite::TextColumn;
using vornakite::YieldPoint;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMax = std::numeric_limits<double>::max();
constexpr double kDenormal = std::numeric_limits<double>::denorm_min();
constexpr double kMin = std::numeric_limits<double>::min();

std::string numberText(double value) {
    char text[vornakite::kMaxNumberChars];
    return std::string(text, vornakite::putNumberText(text, value));
}

// Reads a number back as a reader would; the bits, so that -0 differs from 0.
std::uint64_t readBack(const std::string& text) {
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    EXPECT_EQ(result.ec, std::errc()) << text;
    EXPECT_EQ(result.ptr, text.data() + text.size()) << text;
    return std::bit_cast<std::uint64_t>(value);
}

TEST(NumberText, IsTheShortestTextThatReadsBackAsTheSameDoubleAndNeverLooksWhole) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {185.4, "185.4"},
        {5.0, "5.0"},
        {0.0, "0.0"},
        {-0.0, "-0.0"},
        {-93.6391289, "-93.6391289"},
        {42.0313255, "42.0313255"},
        {0.1, "0.1"},
        {1.0 / 3, "0.3333333333333333"},
        {100000.0, "1e+05"},
        {123456789012.0, "123456789012.0"},
        {9007199254740993.0, "9007199254740992.0"},
        {1e22, "1e+22"},
        {1e-7, "1e-07"},
        {kMax, "1.7976931348623157e+308"},
        {-kMax, "-1.7976931348623157e+308"},
        {kMin, "2.2250738585072014e-308"},
        {kDenormal, "5e-324"},
        {-kDenormal, "-5e-324"},
    };
    for (const auto& c : cases) {
        const std::string text = numberText(c.value);
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(readBack(text), std::bit_cast<std::uint64_t>(c.value)) << text;
        EXPECT_LE(text.size(), vornakite::kMaxNumberChars);
    }
}

TEST(TextValues, AreEscapedForJsonAndQuotedForCsvOnlyWhenNeeded) {
    const struct {
        std::string value;
        const char* json;
        const char* csv;
    } cases[] = {
        {"ZERO,END", "\"ZERO,END\"", "\"ZERO,END\""},
        {"2026-10-01.Vornakite", "\"2026-10-01.Vornakite\"", "2026-10-01.Vornakite"},
        {"", "\"\"", ""},
        {"say \"hi\"", "\"say \\\"hi\\\"\"", "\"say \"\"hi\"\"\""},
        {"back\\slash", "\"back\\\\slash\"", "back\\slash"},
        {"two\r\nlines", "\"two\\u000d\\u000alines\"", "\"two\r\nlines\""},
        {"tab\tbell\x07", "\"tab\\u0009bell\\u0007\"", "tab\tbell\x07"},
        {"S\xC3\xBC"
         "d \xE5\x8C\x97",
         "\"S\xC3\xBC"
         "d \xE5\x8C\x97\"",
         "S\xC3\xBC"
         "d \xE5\x8C\x97"},
        {"latin1 \xFC!", "\"latin1 \xEF\xBF\xBD!\"", "latin1 \xEF\xBF\xBD!"},
        {"cut \xE2\x82", "\"cut \xEF\xBF\xBD\xEF\xBF\xBD\"", "cut \xEF\xBF\xBD\xEF\xBF\xBD"},
        {"del\x7F", "\"del\x7F\"", "del\x7F"},
    };
    for (const auto& c : cases) {
        std::string json;
        vornakite::appendJsonText(json, c.value);
        EXPECT_EQ(json, c.json) << c.value;
        std::string csv;
        vornakite::appendCsvField(csv, c.value);
        EXPECT_EQ(csv, c.csv) << c.value;
    }
}

struct Row {
    YieldPoint point;
    std::vector<std::string> texts;
};

// Writes the rows as one set "set" in `formats` into `dir`, with the text columns.
void writeSet(const fs::path& dir, const OutputFormats& formats, const std::vector<Row>& rows,
              std::vector<TextColumn> columns = {}, std::wstring suffix = {}) {
    OutputTransaction transaction(dir, nullptr);
    PointSetWriter writer(transaction, formats,
                          SetLayout{std::move(suffix), std::move(columns), true});
    for (const Row& row : rows) {
        const std::vector<std::string_view> texts(row.texts.begin(), row.texts.end());
        writer.addPoint(row.point, texts);
    }
    writer.finish();
    EXPECT_EQ(writer.pointCount(), rows.size());
    transaction.commit(dir / "set");
}

constexpr OutputFormats kText{false, true, true};

TEST(TextFormats, WriteOneFeatureOrRowPerPointWithTheColumnsOfTheTable) {
    ScratchDir dir;
    writeSet(dir.path(), kText,
             {{{-93.6391289, 42.0313255, 185.4, 18.4, 5.31, 55.6, 4.5}, {"ZERO,END", "a.txt"}},
              {{-93.5, 42.0, 0.0, 15.0, 0.0, 56.0, 0.0}, {"", "b \"c\".txt"}}},
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
              "\"Log\":\"b \\\"c\\\".txt\"}}\n"
              "]}\n");
    EXPECT_EQ(readFile(dir / "set.csv"),
              "longitude,latitude,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH,Reason,Log\r\n"
              "-93.6391289,42.0313255,185.4,18.4,5.31,55.6,4.5,\"ZERO,END\",a.txt\r\n"
              "-93.5,42.0,0.0,15.0,0.0,56.0,0.0,,\"b \"\"c\"\".txt\"\r\n");
}

TEST(TextFormats, AnEmptySetIsAnEmptyCollectionAndAHeaderRow) {
    ScratchDir dir;
    writeSet(dir.path(), kText, {});
    EXPECT_EQ(readFile(dir / "set.geojson"),
              "{\"type\":\"FeatureCollection\",\"features\":[\n]}\n");
    EXPECT_EQ(readFile(dir / "set.csv"),
              "longitude,latitude,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH\r\n");
}

// The numbers of each feature or row, in column order (geometry first), as written.
std::vector<std::vector<std::string>> geoJsonNumbers(const std::string& text) {
    std::vector<std::vector<std::string>> features;
    const std::regex feature(R"(\{"type":"Feature","geometry":)"
                             R"((null|\{"type":"Point","coordinates":\[([^,]+),([^\]]+)\]\}),)"
                             R"("properties":\{(.*)\}\})");
    const std::regex property(R"("[A-Za-z_]+":([^,]+))");
    for (std::size_t at = text.find('\n') + 1; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line == "]}") {
            break;
        }
        if (line.back() == ',') {
            line.pop_back();
        }
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, feature)) << line;
        std::vector<std::string> numbers;
        if (m[1] == "null") {
            numbers = {"null", "null"};
        } else {
            numbers = {m[2], m[3]};
        }
        const std::string properties = m[4];
        for (auto it = std::sregex_iterator(properties.begin(), properties.end(), property);
             it != std::sregex_iterator(); ++it) {
            numbers.push_back((*it)[1]);
        }
        features.push_back(numbers);
    }
    return features;
}

std::vector<std::vector<std::string>> csvNumbers(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::size_t at = text.find("\r\n") + 2;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        std::vector<std::string> fields;
        std::size_t from = at;
        for (std::size_t comma; (comma = text.find(',', from)) < end; from = comma + 1) {
            fields.push_back(text.substr(from, comma - from));
        }
        fields.push_back(text.substr(from, end - from));
        rows.push_back(fields);
        at = end + 2;
    }
    return rows;
}

double YieldPoint::*const kMembers[] = {
    &YieldPoint::longitude, &YieldPoint::latitude, &YieldPoint::yield, &YieldPoint::moisture,
    &YieldPoint::weight,    &YieldPoint::density,  &YieldPoint::speed};

TEST(TextFormats, EveryValueOfEveryColumnReadsBackAsTheSameDoubleAndOthersAsNullOrEmpty) {
    const double values[] = {-0.0, 0.0, kMax,  -kMax, kMin, kDenormal, 1e22,
                             1e-7, 0.1, 185.4, 1e15,  kNaN, kInf,      -kInf};
    // Each value in each column in turn, the other columns holding ordinary values.
    std::vector<Row> rows;
    for (std::size_t column = 0; column < std::size(kMembers); ++column) {
        for (const double value : values) {
            YieldPoint p{-93.5, 42.0, 185.4, 18.4, 5.31, 55.6, 4.5};
            p.*kMembers[column] = value;
            rows.push_back({p, {}});
        }
    }
    ScratchDir dir;
    writeSet(dir.path(), kText, rows);
    const auto features = geoJsonNumbers(readFile(dir / "set.geojson"));
    const auto csvRows = csvNumbers(readFile(dir / "set.csv"));
    ASSERT_EQ(features.size(), rows.size());
    ASSERT_EQ(csvRows.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        ASSERT_EQ(features[r].size(), 7u);
        ASSERT_EQ(csvRows[r].size(), 7u);
        const bool position =
            std::isfinite(rows[r].point.longitude) && std::isfinite(rows[r].point.latitude);
        for (std::size_t c = 0; c < 7; ++c) {
            const double value = rows[r].point.*kMembers[c];
            SCOPED_TRACE("row " + std::to_string(r) + ", column " + std::to_string(c));
            if (std::isfinite(value) && (c >= 2 || position)) {
                EXPECT_EQ(readBack(features[r][c]), std::bit_cast<std::uint64_t>(value));
            } else {
                // A point without a finite position has no geometry at all.
                EXPECT_EQ(features[r][c], "null");
            }
            if (std::isfinite(value)) {
                EXPECT_EQ(readBack(csvRows[r][c]), std::bit_cast<std::uint64_t>(value));
            } else {
                EXPECT_EQ(csvRows[r][c], "");
            }
        }
    }
}

TEST(TextFormats, TextsSetForTheFollowingPointsAreWrittenWithEach) {
    ScratchDir dir;
    {
        OutputTransaction transaction(dir.path(), nullptr);
        PointSetWriter writer(transaction, kText, SetLayout{L"_x", {{"Log", 254}}, true});
        const YieldPoint p{1.5, 2.5, 3, 4, 5, 6, 7};
        writer.addPoints(std::span(&p, 1));  // none set yet: empty
        writer.setTexts({"first.txt"});
        writer.addPoints(std::span(&p, 1));
        writer.setTexts({"second, the.txt"});
        writer.addPoints(std::span(&p, 1));
        writer.finish();
        transaction.commit(dir / "set");
    }
    const std::string csv = readFile(dir / "set_x.csv");
    EXPECT_NE(csv.find("\r\n1.5,2.5,3.0,4.0,5.0,6.0,7.0,\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",7.0,first.txt\r\n"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",7.0,\"second, the.txt\"\r\n"), std::string::npos) << csv;
    const std::string json = readFile(dir / "set_x.geojson");
    EXPECT_NE(json.find("\"Log\":\"\"}}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"Log\":\"first.txt\"}}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"Log\":\"second, the.txt\"}}"), std::string::npos) << json;
}

TEST(TextFormats, ALargeSetIsStreamedInPiecesToTheSameBytes) {
    // Far beyond one buffer: the file goes out in pieces, and must equal the bytes of each row.
    std::vector<Row> rows;
    for (int i = 0; i < 40000; ++i) {
        rows.push_back({{-93.5 + i * 1e-7, 42.0 + i * 1e-7, i * 0.1, 18.4, 5.31, 55.6, 4.5},
                        {"log " + std::to_string(i % 7)}});
    }
    ScratchDir dir;
    writeSet(dir.path(), kText, rows, {{"Log", 254}});
    const std::string csv = readFile(dir / "set.csv");
    const std::string json = readFile(dir / "set.geojson");
    std::string want =
        "longitude,latitude,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH,Log\r\n";
    for (const Row& row : rows) {
        std::string line;
        for (double YieldPoint::*member : kMembers) {
            line += numberText(row.point.*member) + ",";
        }
        want += line + row.texts[0] + "\r\n";
    }
    EXPECT_EQ(csv, want);
    EXPECT_GT(json.size(), std::size_t{1} << 20);
    EXPECT_EQ(geoJsonNumbers(json).size(), rows.size());
    EXPECT_EQ(json.substr(json.size() - 4), "\n]}\n");
}

TEST(PointSetWriter, WritesTheFilesOfTheRequestedFormatsOnly) {
    const struct {
        OutputFormats formats;
        std::set<std::string> files;
    } cases[] = {
        {{true, false, false}, {"set.shp", "set.shx", "set.dbf", "set.prj", "set.cpg"}},
        {{false, true, false}, {"set.geojson"}},
        {{false, false, true}, {"set.csv"}},
        {{false, true, true}, {"set.geojson", "set.csv"}},
        {{true, true, true},
         {"set.shp", "set.shx", "set.dbf", "set.prj", "set.cpg", "set.geojson", "set.csv"}},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        writeSet(dir.path(), c.formats, {{{1, 2, 3, 4, 5, 6, 7}, {}}});
        std::set<std::string> files;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            files.insert(entry.path().filename().string());
        }
        EXPECT_EQ(files, c.files);
    }
}

TEST(OutputTransaction, WithoutReplacingAnyFileAtAnOutputNameFailsTheSetAndIsKept) {
    // Which of the set's names is taken, as seen just before the commit: another program may
    // have made it while this set was written.
    const char* const taken[] = {"set.shp", "set.cpg", "set.geojson", "set.csv", "set_clean.csv"};
    for (const char* name : taken) {
        SCOPED_TRACE(name);
        ScratchDir dir;
        {
            OutputTransaction transaction(dir.path(), nullptr);
            PointSetWriter standard(transaction, {true, true, true}, SetLayout{});
            PointSetWriter clean(transaction, {false, false, true}, SetLayout{L"_clean", {}, true});
            const YieldPoint p{1, 2, 3, 4, 5, 6, 7};
            standard.addPoints(std::span(&p, 1));
            standard.finish();
            clean.finish();
            writeFile(dir / name, "earlier");
            try {
                transaction.commit(dir / "set", false);
                ADD_FAILURE() << "committed over " << name;
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Output set already exists");
            }
        }
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            left.push_back(entry.path().filename().string());
        }
        EXPECT_EQ(left, std::vector<std::string>{name});  // the temporaries are gone too
        EXPECT_EQ(readFile(dir / name), "earlier");
    }
    // Replacing is the default, and a free set is written either way.
    ScratchDir dir;
    writeSet(dir.path(), kText, {});
    writeSet(dir.path(), kText, {{{1, 2, 3, 4, 5, 6, 7}, {}}});
    EXPECT_EQ(csvNumbers(readFile(dir / "set.csv")).size(), 1u);
}

}  // namespace
