// The point shapefile set: .shp and .shx layout, opening, replacing and failing.
#include "write/shapefile_writer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#ifdef __linux__
#include <sys/resource.h>

#include <csignal>
#endif

#include "test_support.hpp"
#include "write/dbf_writer.hpp"
#include "write/set_writer.hpp"

namespace {

namespace fs = std::filesystem;
using testsupport::be32;
using testsupport::le32;
using testsupport::leDouble;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::writeShapefileSet;
using vornakite::YieldPoint;

YieldPoint at(double longitude, double latitude) {
    return YieldPoint{longitude, latitude, 187.456, 15.34, 1234.5, 56.0, 4.5};
}

fs::path withExtension(const fs::path& base, const char* extension) {
    fs::path p = base;
    p += extension;
    return p;
}

struct Outputs {
    std::string shp;
    std::string shx;
    std::string dbf;
};

Outputs readOutputs(const fs::path& base) {
    return {readFile(withExtension(base, ".shp")), readFile(withExtension(base, ".shx")),
            readFile(withExtension(base, ".dbf"))};
}

// Runs the writer and returns the error message it throws ("" for none).
std::string errorOf(const fs::path& base, const std::vector<YieldPoint>& points) {
    try {
        writeShapefileSet(base, points);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

std::uint64_t bitsOf(double v) {
    return std::bit_cast<std::uint64_t>(v);
}

struct Box {
    double xmin, ymin, xmax, ymax;
};

void expectHeaderBox(const std::string& file, const Box& box) {
    EXPECT_EQ(bitsOf(leDouble(file, 36)), bitsOf(box.xmin));
    EXPECT_EQ(bitsOf(leDouble(file, 44)), bitsOf(box.ymin));
    EXPECT_EQ(bitsOf(leDouble(file, 52)), bitsOf(box.xmax));
    EXPECT_EQ(bitsOf(leDouble(file, 60)), bitsOf(box.ymax));
}

std::vector<std::string> filesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// ---------------------------------------------------------------------------
// Layout

TEST(ShapefileLayout, TwoPointsMatchTheWorkedExample) {
    ScratchDir dir;
    const fs::path base = dir / "field";
    writeShapefileSet(base, {at(-93.5, 41.25), at(-93.25, 41.5)});
    const Outputs out = readOutputs(base);
    ASSERT_EQ(out.shp.size(), 156u);
    ASSERT_EQ(out.shx.size(), 116u);
    ASSERT_EQ(out.dbf.size(), 276u);

    const std::string shpStart =
        std::string("\x00\x00\x27\x0A", 4) + std::string(20, '\0') +
        std::string("\x00\x00\x00\x4E\xE8\x03\x00\x00\x01\x00\x00\x00", 12);
    EXPECT_EQ(out.shp.substr(0, 36), shpStart);
    EXPECT_EQ(out.shx.substr(24, 4), std::string("\x00\x00\x00\x3A", 4));
    EXPECT_EQ(out.shx.substr(100),
              std::string("\x00\x00\x00\x32\x00\x00\x00\x0A\x00\x00\x00\x40\x00\x00\x00\x0A", 16));

    expectHeaderBox(out.shp, {-93.5, 41.25, -93.25, 41.5});
    expectHeaderBox(out.shx, {-93.5, 41.25, -93.25, 41.5});

    // Record headers: number, content length 10, shape type 1, then X and Y.
    EXPECT_EQ(out.shp.substr(100, 12), std::string("\0\0\0\x01\0\0\0\x0A\x01\0\0\0", 12));
    EXPECT_EQ(leDouble(out.shp, 112), -93.5);
    EXPECT_EQ(leDouble(out.shp, 120), 41.25);
    EXPECT_EQ(out.shp.substr(128, 12), std::string("\0\0\0\x02\0\0\0\x0A\x01\0\0\0", 12));
    EXPECT_EQ(leDouble(out.shp, 140), -93.25);
    EXPECT_EQ(leDouble(out.shp, 148), 41.5);
}

TEST(ShapefileLayout, OnePointIsItsOwnBoundingBox) {
    ScratchDir dir;
    const fs::path base = dir / "one";
    writeShapefileSet(base, {at(-96.123456789, 40.987654321)});
    const Outputs out = readOutputs(base);
    ASSERT_EQ(out.shp.size(), 128u);
    ASSERT_EQ(out.shx.size(), 108u);
    EXPECT_EQ(out.dbf.size(), 235u);
    EXPECT_EQ(be32(out.shp, 24), 64u);
    EXPECT_EQ(be32(out.shx, 24), 54u);
    expectHeaderBox(out.shp, {-96.123456789, 40.987654321, -96.123456789, 40.987654321});
    expectHeaderBox(out.shx, {-96.123456789, 40.987654321, -96.123456789, 40.987654321});
    EXPECT_EQ(be32(out.shx, 100), 50u);
    EXPECT_EQ(be32(out.shx, 104), 10u);
}

TEST(ShapefileLayout, BoundingBoxCoversThePointsInAnyOrder) {
    struct Case {
        std::vector<YieldPoint> points;
        Box box;
    };
    const Case cases[] = {
        // Mixed signs: the box crosses both axes.
        {{at(-10.5, 3.25), at(7.75, -2.5), at(-3.0, -40.125), at(0.5, 12.0), at(-0.25, 0.0)},
         {-10.5, -40.125, 7.75, 12.0}},
        // All negative: a box started at zero would be wrong on the max side.
        {{at(-97.1, -33.2), at(-97.3, -33.1), at(-96.9, -33.4), at(-97.0, -33.3)},
         {-97.3, -33.4, -96.9, -33.1}},
        // All positive: wrong on the min side.
        {{at(151.2, 33.9), at(151.3, 33.8), at(151.1, 34.0)}, {151.1, 33.8, 151.3, 34.0}},
    };
    ScratchDir dir;
    const fs::path base = dir / "box";
    for (const auto& c : cases) {
        std::vector<YieldPoint> points = c.points;
        auto byCoordinates = [](const YieldPoint& a, const YieldPoint& b) {
            return std::tie(a.longitude, a.latitude) < std::tie(b.longitude, b.latitude);
        };
        std::sort(points.begin(), points.end(), byCoordinates);
        do {
            SCOPED_TRACE(testing::Message()
                         << "first point " << points[0].longitude << ", " << points[0].latitude);
            writeShapefileSet(base, points);
            const Outputs out = readOutputs(base);
            expectHeaderBox(out.shp, c.box);
            expectHeaderBox(out.shx, c.box);
        } while (std::next_permutation(points.begin(), points.end(), byCoordinates));
    }
}

TEST(ShapefileLayout, HeadersDifferOnlyInTheLengthFieldAndHaveZeroZAndM) {
    ScratchDir dir;
    const fs::path base = dir / "headers";
    writeShapefileSet(base, {at(-93.5, 41.25), at(-93.0, 41.0), at(-94.0, 42.0)});
    const Outputs out = readOutputs(base);
    ASSERT_GE(out.shx.size(), 100u);
    std::string shpHeader = out.shp.substr(0, 100);
    std::string shxHeader = out.shx.substr(0, 100);
    EXPECT_EQ(be32(shpHeader, 24), 50u + 14 * 3);
    EXPECT_EQ(be32(shxHeader, 24), 50u + 4 * 3);
    shpHeader.replace(24, 4, 4, '\0');
    shxHeader.replace(24, 4, 4, '\0');
    EXPECT_EQ(shpHeader, shxHeader);
    // Zmin, Zmax, Mmin, Mmax: positive zeros.
    EXPECT_EQ(out.shp.substr(68, 32), std::string(32, '\0'));
}

TEST(ShapefileLayout, RecordsAreNumberedFromOneWithBitExactCoordinates) {
    // Odd doubles first, then enough points to pass several internal flushes.
    std::vector<YieldPoint> points = {
        at(-0.0, 0.0),
        at(std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min()),
        at(DBL_MAX, -DBL_MAX),
        at(-DBL_MAX, DBL_MAX),
        at(std::nextafter(-93.5, 0.0), std::nextafter(41.25, 90.0)),
        at(0.1 + 0.2, 1.0 / 3.0),
    };
    std::mt19937_64 random(1207);
    std::uniform_real_distribution<double> lon(-180.0, 180.0);
    std::uniform_real_distribution<double> lat(-90.0, 90.0);
    while (points.size() < 5000) {
        points.push_back(at(lon(random), lat(random)));
    }

    ScratchDir dir;
    const fs::path base = dir / "many";
    writeShapefileSet(base, points);
    const Outputs out = readOutputs(base);
    const std::size_t n = points.size();
    ASSERT_EQ(out.shp.size(), 100 + 28 * n);
    ASSERT_EQ(out.shx.size(), 100 + 8 * n);
    ASSERT_EQ(out.dbf.size(), 194 + 41 * n);
    EXPECT_EQ(be32(out.shp, 24), 50 + 14 * n);
    EXPECT_EQ(be32(out.shx, 24), 50 + 4 * n);
    EXPECT_EQ(le32(out.dbf, 4), n);
    expectHeaderBox(out.shp, {-DBL_MAX, -DBL_MAX, DBL_MAX, DBL_MAX});

    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = 100 + 28 * i;
        ASSERT_EQ(be32(out.shp, r), i + 1) << "record " << i + 1;
        ASSERT_EQ(be32(out.shp, r + 4), 10u) << "record " << i + 1;
        ASSERT_EQ(le32(out.shp, r + 8), 1u) << "record " << i + 1;
        ASSERT_EQ(bitsOf(leDouble(out.shp, r + 12)), bitsOf(points[i].longitude))
            << "record " << i + 1;
        ASSERT_EQ(bitsOf(leDouble(out.shp, r + 20)), bitsOf(points[i].latitude))
            << "record " << i + 1;
        const std::size_t x = 100 + 8 * i;
        ASSERT_EQ(be32(out.shx, x), 50 + 14 * i) << "index " << i + 1;
        ASSERT_EQ(be32(out.shx, x + 4), 10u) << "index " << i + 1;
    }
}

TEST(ShapefileLayout, DbfHoldsTheAttributeTableOfTheSamePoints) {
    const std::vector<YieldPoint> points = {
        {-93.5, 41.25, 187.456, 15.34, 1234.5, 56.0, 4.5},
        {-93.4, 41.26, 12345678.9, 9999.96, -0.004, 0.0, -1.5},
    };
    ScratchDir dir;
    const fs::path base = dir / "table";
    writeShapefileSet(base, points);
    const std::string dbf = readFile(withExtension(base, ".dbf"));
    ASSERT_EQ(dbf.size(), 276u);

    std::ostringstream expected;
    vornakite::writeDbfTable(expected, points, {2026, 12, 7});
    std::string want = expected.str();
    want.replace(1, 3, dbf.substr(1, 3));  // the date is today's, checked with the table writer
    EXPECT_EQ(dbf, want);
}

TEST(ShapefileLayout, IdenticalPointsEachGetARecord) {
    ScratchDir dir;
    const fs::path base = dir / "same";
    writeShapefileSet(base, std::vector<YieldPoint>(4, at(-93.5, 41.25)));
    const Outputs out = readOutputs(base);
    ASSERT_EQ(out.shp.size(), 100u + 28 * 4);
    ASSERT_EQ(out.shx.size(), 100u + 8 * 4);
    ASSERT_EQ(out.dbf.size(), 194u + 41 * 4);
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(be32(out.shp, 100 + 28 * i), i + 1);
        EXPECT_EQ(leDouble(out.shp, 100 + 28 * i + 12), -93.5);
        EXPECT_EQ(leDouble(out.shp, 100 + 28 * i + 20), 41.25);
        EXPECT_EQ(be32(out.shx, 100 + 8 * i), 50 + 14 * i);
    }
    expectHeaderBox(out.shp, {-93.5, 41.25, -93.5, 41.25});
}

TEST(ShapefileLayout, ExtensionsAreAppendedToTheBaseNameAsText) {
    ScratchDir dir;
    const fs::path base = dir / "Field 7.v2";
    writeShapefileSet(base, {at(1.0, 2.0)});
    EXPECT_EQ(filesIn(dir.path()),
              (std::vector<std::string>{"Field 7.v2.dbf", "Field 7.v2.shp", "Field 7.v2.shx"}));

    ScratchDir other;
    const fs::path unicodeBase = other / fs::path(u8"Feld_\u00C4hre");
    writeShapefileSet(unicodeBase, {at(1.0, 2.0)});
    EXPECT_EQ(readFile(withExtension(unicodeBase, ".shp")).size(), 128u);
    EXPECT_EQ(filesIn(other.path()).size(), 3u);
}

// ---------------------------------------------------------------------------
// Opening, replacing and failing

TEST(ShapefileOutputs, NoPointsThrowsAndTouchesNoFile) {
    ScratchDir dir;
    const fs::path base = dir / "empty";
    EXPECT_EQ(errorOf(base, {}), "No records to write");
    EXPECT_TRUE(filesIn(dir.path()).empty());

    for (const char* ext : {".shp", ".shx", ".dbf"}) {
        writeFile(withExtension(base, ext), std::string("keep ") + ext);
    }
    EXPECT_EQ(errorOf(base, {}), "No records to write");
    for (const char* ext : {".shp", ".shx", ".dbf"}) {
        EXPECT_EQ(readFile(withExtension(base, ext)), std::string("keep ") + ext);
    }
}

TEST(ShapefileOutputs, MissingFolderFailsToCreateAndLeavesNoFile) {
    ScratchDir dir;
    const fs::path base = dir / "missing" / "field";
    EXPECT_EQ(errorOf(base, {at(1.0, 2.0)}), "Failed to create shapefile outputs");
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_TRUE(filesIn(dir.path()).empty());
}

TEST(ShapefileOutputs, AnOutputThatCannotBePlacedLeavesTheEarlierFilesAsTheyWere) {
    // A folder in the way cannot be replaced by a file, even by root; nothing else moves.
    const char* extensions[] = {".shp", ".shx", ".dbf"};
    for (const char* blocked : extensions) {
        SCOPED_TRACE(blocked);
        ScratchDir dir;
        const fs::path base = dir / "field";
        for (const char* ext : extensions) {
            if (std::string(ext) == blocked) {
                fs::create_directory(withExtension(base, ext));
            } else {
                writeFile(withExtension(base, ext), std::string("old ") + ext);
            }
        }
        EXPECT_EQ(errorOf(base, {at(1.0, 2.0), at(3.0, 4.0)}),
                  "Failed to create shapefile outputs");
        for (const char* ext : extensions) {
            const fs::path p = withExtension(base, ext);
            if (std::string(ext) == blocked) {
                EXPECT_TRUE(fs::is_directory(p));
            } else {
                EXPECT_EQ(readFile(p), std::string("old ") + ext);
            }
        }
        EXPECT_EQ(filesIn(dir.path()).size(), 3u);  // no temporary left behind
    }
}

TEST(ShapefileOutputs, ExistingOutputsAreReplacedNotAppended) {
    ScratchDir dir;
    const fs::path base = dir / "field";
    for (const char* ext : {".shp", ".shx", ".dbf"}) {
        writeFile(withExtension(base, ext), std::string(10000, 'x'));
    }
    writeShapefileSet(base, {at(-93.5, 41.25), at(-93.25, 41.5)});
    Outputs out = readOutputs(base);
    EXPECT_EQ(out.shp.size(), 156u);
    EXPECT_EQ(out.shx.size(), 116u);
    EXPECT_EQ(out.dbf.size(), 276u);
    EXPECT_EQ(out.shp.substr(0, 4), std::string("\x00\x00\x27\x0A", 4));

    // A second, smaller set over the first.
    writeShapefileSet(base, {at(5.0, 6.0)});
    out = readOutputs(base);
    EXPECT_EQ(out.shp.size(), 128u);
    EXPECT_EQ(out.shx.size(), 108u);
    EXPECT_EQ(out.dbf.size(), 235u);
    expectHeaderBox(out.shp, {5.0, 6.0, 5.0, 6.0});
}

#ifndef _WIN32  // the Windows runtime makes no symbolic links
TEST(ShapefileOutputs, LinksAtOutputNamesAreReplacedNotFollowed) {
    for (const char* linked : {".shp", ".shx", ".dbf"}) {
        SCOPED_TRACE(linked);
        ScratchDir dir;
        fs::create_directories(dir / "set");
        writeFile(dir / "elsewhere", "not an output");
        fs::create_symlink(dir / "elsewhere", withExtension(dir / "set" / "field", linked));
        fs::create_symlink(dir / "missing", withExtension(dir / "set" / "other", linked));
        writeShapefileSet(dir / "set" / "field", {at(1.0, 2.0)});
        writeShapefileSet(dir / "set" / "other", {at(1.0, 2.0)});
        EXPECT_EQ(readFile(dir / "elsewhere"), "not an output");
        EXPECT_FALSE(fs::exists(dir / "missing"));
        for (const char* name : {"field", "other"}) {
            EXPECT_FALSE(fs::is_symlink(withExtension(dir / "set" / name, linked)));
            EXPECT_EQ(fs::file_size(withExtension(dir / "set" / name, ".shp")), 128u);
        }
        EXPECT_EQ(filesIn(dir / "set").size(), 6u);
    }
}

#endif

#ifdef __linux__
TEST(ShapefileOutputs, AFailedWriteLeavesTheEarlierSetAndNoTemporary) {
    // Files may grow to 4 KiB only: the new, larger set cannot be written.
    ScratchDir dir;
    const fs::path base = dir / "field";
    writeShapefileSet(base, {at(1.0, 2.0)});
    const Outputs before = readOutputs(base);
    std::vector<YieldPoint> many;
    for (int i = 0; i < 5000; ++i) {
        many.push_back(at(-93.0 - i * 1e-5, 41.0 + i * 1e-5));
    }
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit saved = limit;
    limit.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::string error = errorOf(base, many);
    setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(error, "Failed to write shapefile outputs");
    const Outputs after = readOutputs(base);
    EXPECT_EQ(after.shp, before.shp);
    EXPECT_EQ(after.shx, before.shx);
    EXPECT_EQ(after.dbf, before.dbf);
    EXPECT_EQ(filesIn(dir.path()).size(), 3u);
}
#endif

// ---------------------------------------------------------------------------
// Limits

TEST(ShapefileLimits, MaximumPointCountKeepsTheLengthInSigned32Bits) {
    constexpr std::uint64_t max = vornakite::kMaxShapefilePoints;
    constexpr std::uint64_t int32Max = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(max, 153391685u);  // (2^31 - 1 - 50) / 14
    EXPECT_LE(50 + 14 * max, int32Max);
    EXPECT_GT(50 + 14 * (max + 1), int32Max);
    // The last record's offset in the .shx fits as well.
    EXPECT_LE(50 + 14 * (max - 1), int32Max);

    EXPECT_TRUE(vornakite::fitsShapefile(1));
    EXPECT_TRUE(vornakite::fitsShapefile(76695840));
    EXPECT_TRUE(vornakite::fitsShapefile(76695841));
    EXPECT_TRUE(vornakite::fitsShapefile(153391685));
    EXPECT_FALSE(vornakite::fitsShapefile(153391686));
    EXPECT_FALSE(vornakite::fitsShapefile(153391689));  // (2^31 - 1) / 14: 50 + 14 n overflows
    EXPECT_FALSE(vornakite::fitsShapefile(std::uint64_t{1} << 32));
    EXPECT_FALSE(vornakite::fitsShapefile(std::numeric_limits<std::uint64_t>::max()));
}

}  // namespace
