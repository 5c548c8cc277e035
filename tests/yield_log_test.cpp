#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "read/yield_log.hpp"
#include "test_support.hpp"

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
    EXPECT_EQ(splitFields("@@x"), (V{"", "", "x"}));
    EXPECT_EQ(splitFields(std::string_view("a\0@\xFF", 4)), (V{std::string("a\0", 2), "\xFF"}));
}

TEST(LogReader, ReadsTheSevenValuesWithTheirDivisors) {
    const YieldLog log = readBytes(kHeader + sample() + "\n");
    EXPECT_EQ(log.header.fieldCount, 9u);
    EXPECT_EQ(log.header.field6, "Farm");
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
    // For each divisor, the first integer whose quotient differs from the product with the
    // rounded reciprocal.
    auto telling = [](double divisor) {
        volatile double reciprocal = 1 / divisor;
        for (double x = 1;; ++x) {
            if (x / divisor != x * reciprocal) {
                return x;
            }
        }
    };
    const double tenths = telling(10), hundredths = telling(100), degrees = telling(1e7);
    auto text = [](double x) { return std::to_string(static_cast<long long>(x)); };
    const YieldLog log =
        readBytes(kHeader + sample(text(tenths), text(hundredths), text(tenths), text(tenths),
                                   text(degrees), text(-degrees), text(tenths)));
    const auto& p = log.points.at(0);
    EXPECT_EQ(p.longitude, -degrees / 1e7);
    EXPECT_EQ(p.latitude, degrees / 1e7);
    EXPECT_EQ(p.yield, tenths / 10);
    EXPECT_EQ(p.moisture, tenths / 10);
    EXPECT_EQ(p.weight, hundredths / 100);
    EXPECT_EQ(p.density, tenths / 10);
    EXPECT_EQ(p.speed, tenths / 10);
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

TEST(LogReader, ConversionErrorsKeepTheirExceptionTypes) {
    EXPECT_THROW(readBytes(kHeader + sample("1", "1", "1", "1", "1", "1", "")),
                 std::invalid_argument);
    EXPECT_THROW(readBytes(kHeader + sample("1", "1", "1", "1", "1", "-1e999")), std::out_of_range);
    EXPECT_THROW(readBytes(kHeader + sample("1", "1", "1", "1e-400")), std::out_of_range);
    EXPECT_THROW(readBytes(kHeader + sample("1", "1", "1", "1", "inf")), std::runtime_error);
    EXPECT_THROW(readBytes(""), std::runtime_error);
}

TEST(LogReader, OnlyCoordinatesMustBeFinite) {
    const YieldLog log = readBytes(kHeader + sample("inf", "nan", "-inf", "1e308", "1", "1", "1"));
    const auto& p = log.points.at(0);
    EXPECT_TRUE(std::isinf(p.speed) && p.speed > 0);
    EXPECT_TRUE(std::isnan(p.weight));
    EXPECT_TRUE(std::isinf(p.moisture) && p.moisture < 0);
    EXPECT_EQ(p.yield, 1e308 / 10);
    // Huge but finite coordinates are not rejected.
    EXPECT_EQ(readBytes(kHeader + sample("1", "1", "1", "1", "1e308")).points.at(0).latitude,
              1e308 / 1e7);
}

TEST(LogReader, KeepsHeaderBytesUnchanged) {
    // A byte-order mark, quotes, commas, spaces, tabs, a NUL, a high byte and a lone CR.
    const std::string nulField("F\0rm", 4);
    const std::string header =
        "\xEF\xBB\xBFVK@a, \"b\"@ c @@\t@\xFF@" + nulField + "@Fi\rld@Corn@extra@\n";
    const YieldLog log = readBytes(header + sample());
    EXPECT_EQ(log.header.fieldCount, 11u);
    EXPECT_EQ(log.header.field6, nulField);
    EXPECT_EQ(log.header.field7, "Fi\rld");
    EXPECT_EQ(log.header.field8, "Corn");
}

TEST(LogReader, TheEarliestFieldInConversionOrderDecidesTheMessage) {
    // A line of sixteen fields, all "1" except the two given.
    auto line = [](int first, const std::string& firstText, int second,
                   const std::string& secondText) {
        std::string text = "DY";
        for (int k = 1; k < 16; ++k) {
            text += "@" + (k == first ? firstText : k == second ? secondText : std::string("1"));
        }
        return text;
    };
    const int order[] = {7, 8, 6, 5, 4, 14, 1};
    for (std::size_t i = 0; i < std::size(order); ++i) {
        for (std::size_t j = i + 1; j < std::size(order); ++j) {
            EXPECT_EQ(failureOf(kHeader + line(order[i], "1e999", order[j], "x")),
                      "stod argument out of range")
                << order[i] << " before " << order[j];
            EXPECT_EQ(failureOf(kHeader + line(order[i], "x", order[j], "-1e999")),
                      "invalid stod argument")
                << order[i] << " before " << order[j];
        }
    }
    // Unused fields are never converted.
    for (int unused : {2, 3, 9, 10, 11, 12, 13, 15}) {
        EXPECT_EQ(readBytes(kHeader + line(unused, "1e999", unused, "")).points.size(), 1u);
    }
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
                  sample().substr(2) + "\n" + "xDY@" + sample() + "\n" + "GP@DY@1\n\nD\n" + "DZ" +
                  sample().substr(2) + "\n" + "Dy" + sample().substr(2) + "\n" + "YD" +
                  sample().substr(2) + "\n" + sixteen + "\n" + "DYN" + sample().substr(2) + "\n");
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
    EXPECT_EQ(log.header.fieldCount, 19u);
}

TEST(LogReader, AppliesTextModeLineEnds) {
    // CR LF ends the header without leaving a CR in field 8; a lone CR stays in the line.
    YieldLog log = readBytes("VK@1@2@3@4@5@6@7@Corn\r\n" + sample() + "\r\n" + sample("2") + "\r" +
                             "\r\n" + sample("3"));
    EXPECT_EQ(log.header.field8, "Corn");
    ASSERT_EQ(log.points.size(), 3u);
    EXPECT_EQ(log.points[2].speed, 0.3);  // last line needs no line end

    // A CR inside a field is kept: "45\r" still converts as 45, but the line is one line.
    log = readBytes(kHeader + "DY@45\r@u2@u3@1@1@1@1@1@u9@u10@u11@u12@u13@1@u15\n");
    EXPECT_EQ(log.points[0].speed, 4.5);

    // The header's last field keeps a CR that is not followed by LF.
    log = readBytes("VK@1@2@3@4@5@6@7@Corn\r\r\n" + sample());
    EXPECT_EQ(log.header.field8, "Corn\r");
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
    // Lines longer than any read buffer, and line ends placed around the 1 MiB mark, so that a
    // CR LF, or a CR kept before a CR LF, may fall on either side of a read boundary.
    const std::size_t mib = std::size_t{1} << 20;
    const std::string prefix = "VK@1@2@3@4@5@6@7@";
    for (const std::string end : {"\r\n", "\r\r\n"}) {
        for (std::size_t pad = 0; pad < 4; ++pad) {
            const std::string last(mib - prefix.size() - pad - 1, 'c');
            std::string bytes = prefix + last + end + sample("1") + "\r\n";
            bytes += sample("2", "1", "1", "1", "1", "1", "1") + "@" + std::string(3 * mib, 'x');
            bytes += "\n" + sample("3");
            const YieldLog log = readBytes(bytes);
            const std::string expected = end == "\r\n" ? last : last + "\r";
            EXPECT_TRUE(log.header.field8 == expected) << pad << " " << end.size();
            ASSERT_EQ(log.points.size(), 3u) << pad;
            EXPECT_EQ(log.points[0].speed, 0.1);
            EXPECT_EQ(log.points[1].speed, 0.2);
            EXPECT_EQ(log.points[2].speed, 0.3);
        }
    }
}

TEST(SampleLine, FindsTheFieldsWhereverTheSeparatorsFall) {
    // Unused fields of every length shift the separators through every byte position; their
    // bytes are near-misses of '@' (0x40): 'A' (0x41) and '?' (0x3F) right after a separator,
    // 0xC0 (0x40 with the high bit), 0x00, and the digits that end a number.
    using vornakite::parseSampleLine;
    const std::string nearMisses[] = {"",
                                      "A",
                                      "?",
                                      "\xC0",
                                      std::string(1, '\0'),
                                      "A?\xC0"
                                      "A"};
    for (std::size_t pad = 0; pad < 24; ++pad) {
        for (const auto& filler : nearMisses) {
            const std::string unused = filler + std::string(pad, 'u');
            std::string line = "DY" + unused + "@45@" + unused + "@" + unused +
                               "@123456@153@1875@" + "415000000@-975000000@" + unused + "@@@@" +
                               unused + "@562@" + unused;
            SCOPED_TRACE(testing::Message() << "pad " << pad << " filler " << filler.size());
            vornakite::YieldPoint p{};
            ASSERT_TRUE(parseSampleLine(line, p));
            EXPECT_EQ(p.speed, 4.5);
            EXPECT_EQ(p.weight, 1234.56);
            EXPECT_EQ(p.moisture, 15.3);
            EXPECT_EQ(p.yield, 187.5);
            EXPECT_EQ(p.latitude, 41.5);
            EXPECT_EQ(p.longitude, -97.5);
            EXPECT_EQ(p.density, 56.2);
            // The sixteenth field may be empty; without its separator the line is no sample.
            line.resize(line.size() - unused.size());
            EXPECT_TRUE(parseSampleLine(line, p));
            line.pop_back();
            EXPECT_FALSE(parseSampleLine(line, p));
            EXPECT_FALSE(parseSampleLine(line + unused, p));
        }
    }
}

TEST(LogReader, ReservesRoomForTheSamplesWithLittleToSpare) {
    // Logs of 10 MiB with short and with long sample lines, every 20th line another record:
    // the points vector ends up close to the sample count, never grown by doubling (which would
    // leave up to twice the room, and hold old and new storage at once while it copies).
    const std::string shortest = "DY@1@@@1@1@1@1@1@@@@@@1@";
    ASSERT_EQ(splitFields(shortest).size(), 16u);
    for (const std::string& line : {shortest, sample(), sample() + std::string(60, 'f')}) {
        std::string bytes = kHeader;
        std::size_t samples = 0;
        while (bytes.size() < 10 * (std::size_t{1} << 20)) {
            bytes += line + "\n";
            if (++samples % 20 == 0) {
                bytes += "GP@08:12:35@420312428@-936405736@0.9@14@4\n";
            }
        }
        const YieldLog log = readBytes(bytes);
        SCOPED_TRACE(line);
        ASSERT_EQ(log.points.size(), samples);
        EXPECT_LE(log.points.capacity(), samples + samples / 10 + 1024);
    }
}

TEST(LogReader, StopsAtACtrlZFarIntoTheFile) {
    // A 2.5 MB line that is not a sample pushes the Ctrl-Z beyond the first reads.
    const std::string filler = "GP@" + std::string(5 * (std::size_t{1} << 19), 'g') + "\n";
    const YieldLog log = readBytes(kHeader + filler + sample("1") + "\n" + filler + sample("2") +
                                   "\x1A\n" + filler + sample("3") + "\n" + filler + sample("4"));
    ASSERT_EQ(log.points.size(), 2u);
    EXPECT_EQ(log.points[1].speed, 0.2);
    EXPECT_EQ(failureOf(kHeader + filler + "\x1A" + sample()), "No yield data (DY) lines found");
}

#ifdef __linux__
TEST(LogReader, AReadErrorIsNeverASuccess) {
    // Reading this process's memory from address 0 fails with an I/O error.
    try {
        readYieldLog("/proc/self/mem");
        ADD_FAILURE() << "read succeeded";
    } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_TRUE(message == "Cannot read file" || message == "Cannot open file") << message;
    }
}
#endif
