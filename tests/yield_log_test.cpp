#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.hpp"
#include "yield_log.hpp"

using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::readYieldLog;
using vornakite::splitFields;
using vornakite::YieldLog;

namespace {

const std::string kHeader = "VK@1@2@3@4@5@Farm@Field@Corn\n";

// A DY record with the given used fields; the unused ones hold filler.
std::string sample(const std::string& speed = "45", const std::string& weight = "123456",
                   const std::string& moisture = "153", const std::string& yield = "1875",
                   const std::string& lat = "415000000", const std::string& lon = "-975000000",
                   const std::string& density = "562") {
    return "DY@" + speed + "@u2@u3@" + weight + "@" + moisture + "@" + yield + "@" + lat + "@" +
           lon + "@u9@u10@u11@u12@u13@" + density + "@u15";
}

YieldLog readBytes(const std::string& bytes) {
    ScratchDir dir;
    writeFile(dir / "log.Vornakite", bytes);
    return readYieldLog(dir / "log.Vornakite");
}

// The message of the exception that reading `bytes` throws, or "" if none.
std::string failureOf(const std::string& bytes) {
    try {
        readBytes(bytes);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(SplitFields, SplitsOnEveryAtSignAndKeepsEverythingElse) {
    using V = std::vector<std::string>;
    EXPECT_EQ(splitFields(""), V{""});
    EXPECT_EQ(splitFields("abc"), V{"abc"});
    EXPECT_EQ(splitFields("a@@b@"), (V{"a", "", "b", ""}));
    EXPECT_EQ(splitFields("@"), (V{"", ""}));
    EXPECT_EQ(splitFields(" a, \"b\"\t@c\r"), (V{" a, \"b\"\t", "c\r"}));
}

TEST(LogReader, ReadsTheSevenValuesWithTheirDivisors) {
    const YieldLog log = readBytes(kHeader + sample() + "\n");
    EXPECT_EQ(log.headerFields.size(), 9u);
    EXPECT_EQ(log.headerFields[6], "Farm");
    ASSERT_EQ(log.points.size(), 1u);
    const auto& p = log.points[0];
    EXPECT_EQ(p.longitude, -97.5);
    EXPECT_EQ(p.latitude, 41.5);
    EXPECT_EQ(p.yield, 1875.0 / 10);
    EXPECT_EQ(p.moisture, 153.0 / 10);
    EXPECT_EQ(p.weight, 123456.0 / 100);
    EXPECT_EQ(p.density, 562.0 / 10);
    EXPECT_EQ(p.speed, 45.0 / 10);
}

TEST(LogReader, DividesTrulyRatherThanByAReciprocal) {
    // 415000003 * 1e-7 and 415000003 / 1e7 differ in the last bit.
    volatile double lat = 415000003.0;
    const YieldLog log = readBytes(kHeader + sample("1", "1", "1", "1", "415000003") + "\n");
    EXPECT_EQ(log.points[0].latitude, lat / 10000000.0);
    EXPECT_NE(lat * 1e-7, lat / 1e7);
}

TEST(LogReader, ConvertsFieldsLikeStod) {
    const YieldLog log = readBytes(kHeader + sample("0x10", "3e2", " 7", "12.5xyz") + "\n");
    const auto& p = log.points[0];
    EXPECT_EQ(p.speed, 1.6);
    EXPECT_EQ(p.weight, 3.0);
    EXPECT_EQ(p.moisture, 0.7);
    EXPECT_EQ(p.yield, 1.25);
}

TEST(LogReader, ReportsEachFailureWithItsMessage) {
    ScratchDir dir;
    EXPECT_THROW(
        {
            try {
                readYieldLog(dir / "missing.log");
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "Cannot open file");
                throw;
            }
        },
        std::runtime_error);
    try {
        readYieldLog(dir.path());
        ADD_FAILURE() << "a folder was read";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot open file");
    }
    EXPECT_EQ(failureOf(""), "Empty file");
    EXPECT_EQ(failureOf("\x1A" + kHeader + sample()), "Empty file");
    EXPECT_EQ(failureOf("\n" + sample()), "Invalid header format");
    EXPECT_EQ(failureOf("a@b@c@d@e@f@g@h\n" + sample()), "Invalid header format");
    EXPECT_EQ(failureOf(kHeader + "GP@1@2\nno samples\n"), "No yield data (DY) lines found");
    EXPECT_EQ(failureOf(kHeader), "No yield data (DY) lines found");
    EXPECT_EQ(failureOf(kHeader + sample("45", "1", "1", "1", "") + "\n"), "invalid stod argument");
    EXPECT_EQ(failureOf(kHeader + sample("1", "1", "1", "1", "1", "1", "abc")),
              "invalid stod argument");
    EXPECT_EQ(failureOf(kHeader + sample("1e999")), "stod argument out of range");
    EXPECT_EQ(failureOf(kHeader + sample("1", "1", "1", "1", "inf")),
              "Non-finite coordinate in yield data");
    EXPECT_EQ(failureOf(kHeader + sample("1", "1", "1", "1", "1", "nan")),
              "Non-finite coordinate in yield data");
}

TEST(LogReader, TheEarliestFieldInConversionOrderDecidesTheMessage) {
    // Order: 7, 8, 6, 5, 4, 14, 1.
    EXPECT_EQ(failureOf(kHeader + sample("x", "1e999", "1", "1", "1", "1", "1")),
              "stod argument out of range");
    EXPECT_EQ(failureOf(kHeader + sample("1e999", "x", "1", "1", "1", "1", "1")),
              "invalid stod argument");
    EXPECT_EQ(failureOf(kHeader + sample("1", "1", "1", "1e999", "x", "1", "1")),
              "invalid stod argument");
    EXPECT_EQ(failureOf(kHeader + sample("1", "1", "1", "x", "1", "1e999", "1")),
              "stod argument out of range");
    // A conversion error in the same line wins over a non-finite coordinate.
    EXPECT_EQ(failureOf(kHeader + sample("x", "1", "1", "1", "inf")), "invalid stod argument");
    // One bad sample fails the whole file, wherever it stands.
    EXPECT_EQ(failureOf(kHeader + sample() + "\n" + sample("bad") + "\n" + sample()),
              "invalid stod argument");
}

TEST(LogReader, ReadsOnlyLinesThatBeginWithDyAndHaveSixteenFields) {
    const std::string fifteen = "DY@1@2@3@4@5@6@7@8@9@10@11@12@13@14";
    const std::string sixteen = fifteen + "@";  // empty field 15 is fine
    const YieldLog log =
        readBytes(kHeader + "DY\n" + fifteen + "\n" + " " + sample() + "\n" + "dy" +
                  sample().substr(2) + "\n" + "xDY@" + sample() + "\n" + "GP@DY@1\n\nD\n" +
                  sixteen + "\n" + "DYN" + sample().substr(2) + "\n");
    ASSERT_EQ(log.points.size(), 2u);
    EXPECT_EQ(log.points[0].speed, 0.1);
    EXPECT_EQ(log.points[0].latitude, 7 / 10000000.0);
    EXPECT_EQ(log.points[0].density, 1.4);
    EXPECT_EQ(log.points[1].speed, 4.5);
}

TEST(LogReader, TheFirstLineIsAlwaysTheHeader) {
    const std::string header = sample() + "@x@y@z\n";
    const YieldLog log = readBytes(header + sample("1") + "\n");
    ASSERT_EQ(log.points.size(), 1u);
    EXPECT_EQ(log.points[0].speed, 0.1);
    EXPECT_EQ(log.headerFields[0], "DY");
}

TEST(LogReader, AppliesTextModeLineEnds) {
    // CR LF ends the header without leaving a CR in field 8; a lone CR stays in the line.
    YieldLog log = readBytes("VK@1@2@3@4@5@6@7@Corn\r\n" + sample() + "\r\n" + sample("2") + "\r" +
                             "\r\n" + sample("3"));
    EXPECT_EQ(log.headerFields[8], "Corn");
    ASSERT_EQ(log.points.size(), 3u);
    EXPECT_EQ(log.points[2].speed, 0.3);  // last line needs no line end

    // A CR inside a field is kept: "45\r" still converts as 45, but the line is one line.
    log = readBytes(kHeader + "DY@45\r@u2@u3@1@1@1@1@1@u9@u10@u11@u12@u13@1@u15\n");
    EXPECT_EQ(log.points[0].speed, 4.5);

    // The header's last field keeps a CR that is not followed by LF.
    log = readBytes("VK@1@2@3@4@5@6@7@Corn\r\r\n" + sample());
    EXPECT_EQ(log.headerFields[8], "Corn\r");
}

TEST(LogReader, StopsAtTheFirstCtrlZ) {
    const YieldLog log =
        readBytes(kHeader + sample("1") + "\n" + sample("2") + "\x1A\n" + sample("3") + "\n");
    ASSERT_EQ(log.points.size(), 2u);
    EXPECT_EQ(log.points[1].speed, 0.2);
    EXPECT_EQ(failureOf(kHeader + "\x1A" + sample()), "No yield data (DY) lines found");
}

TEST(LogReader, KeepsFileOrderAndDuplicates) {
    const YieldLog log = readBytes(kHeader + sample("3") + "\n" + sample("1") + "\n" + sample("1") +
                                   "\n" + sample("2"));
    ASSERT_EQ(log.points.size(), 4u);
    EXPECT_EQ(log.points[0].speed, 0.3);
    EXPECT_EQ(log.points[1].speed, 0.1);
    EXPECT_EQ(log.points[2].speed, 0.1);
    EXPECT_EQ(log.points[3].speed, 0.2);
}

TEST(LogReader, ReadsLinesAcrossReadBoundaries) {
    // Lines longer than any read buffer, and line ends placed around the 1 MiB mark.
    for (std::size_t pad : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}}) {
        const std::size_t mib = std::size_t{1} << 20;
        std::string header = "VK@1@2@3@4@5@6@7@" + std::string(mib - 18 - pad, 'c') + "\r\n";
        std::string bytes = header + sample("1") + "\r\n";
        bytes += sample("2", "1", "1", "1", "1", "1", "1") + "@" + std::string(3 * mib, 'x') + "\n";
        bytes += sample("3");
        const YieldLog log = readBytes(bytes);
        EXPECT_EQ(log.headerFields[8].size(), mib - 18 - pad) << pad;
        EXPECT_EQ(log.headerFields[8].back(), 'c') << pad;
        ASSERT_EQ(log.points.size(), 3u) << pad;
        EXPECT_EQ(log.points[1].speed, 0.2);
        EXPECT_EQ(log.points[2].speed, 0.3);
    }
}

#ifdef __linux__
TEST(LogReader, AReadErrorIsNeverASuccess) {
    // Reading this process's memory from address 0 fails with an I/O error.
    try {
        readYieldLog("/proc/self/mem");
        ADD_FAILURE() << "read succeeded";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot read file");
    }
}
#endif
