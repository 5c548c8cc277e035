// The fast paths of reading and writing give exactly what the exact paths give: logs of every
// number form the reader accepts, read in pieces of every size, against a plain reading of whole
// lines with the exact conversion; and dBASE records against C's "%.*f".
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "read/number.hpp"
#include "read/yield_log.hpp"
#include "test_support.hpp"
#include "write/dbf_writer.hpp"

namespace {

using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::YieldPoint;

// A field in one of the forms real logs and damaged logs hold.
std::string randomField(std::mt19937_64& rng) {
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto digits = [&](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) {
            s += static_cast<char>('0' + pick(10));
        }
        return s;
    };
    static const char* const kOdd[] = {"-0",
                                       "+0",
                                       "0x1A",
                                       "1e3",
                                       " 7",
                                       "\t-12",
                                       "inf",
                                       "-nan",
                                       "12.5x",
                                       "1e999",
                                       "1e-400",
                                       ".5",
                                       "5.",
                                       "0x.8p1",
                                       "--1",
                                       "",
                                       "abc",
                                       "+-3",
                                       "007",
                                       "1,5",
                                       "9007199254740993",
                                       "99999999999999999999"};
    switch (pick(8)) {
        case 0:
            return kOdd[pick(static_cast<int>(std::size(kOdd)))];
        case 1:
            return (pick(2) != 0 ? "-" : "") + digits(1 + pick(18));  // around 15 digits
        case 2:
            return digits(1 + pick(6)) + "." + digits(pick(6));
        case 3:
            return (pick(2) != 0 ? "+" : "") + digits(8 + pick(3)) + (pick(4) == 0 ? "z" : "");
        default:
            return (pick(3) == 0 ? "-" : "") + digits(1 + pick(10));
    }
}

// A line: mostly samples, some other records, some too short, with CR LF or LF.
std::string randomLine(std::mt19937_64& rng) {
    std::string line = (rng() % 8 == 0) ? "GP" : "DY";
    const int fields = 12 + static_cast<int>(rng() % 8);
    for (int f = 1; f < fields; ++f) {
        line += "@" + randomField(rng);
    }
    return line + ((rng() % 3 == 0) ? "\r\n" : "\n");
}

struct Read {
    bool ok = false;
    std::string error;
    std::vector<YieldPoint> points;
};

Read readWithReader(const std::filesystem::path& path) {
    Read r;
    try {
        r.points = vornakite::readYieldLog(path).points;
        r.ok = true;
    } catch (const std::exception& e) {
        r.error = e.what();
    }
    return r;
}

// Whole lines split on '@', each used field through the exact conversion.
Read readPlainly(const std::string& bytes) {
    Read r;
    try {
        std::size_t start = bytes.find('\n') + 1;  // after the header
        while (start < bytes.size()) {
            std::size_t end = bytes.find('\n', start);
            std::string line = bytes.substr(start, end - start);
            start = end == std::string::npos ? bytes.size() : end + 1;
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            const auto f = vornakite::splitFields(line);
            if (line.rfind("DY", 0) != 0 || f.size() < 16) {
                continue;
            }
            using vornakite::parseDouble;
            const double lat = parseDouble(f[7]), lon = parseDouble(f[8]);
            const double yld = parseDouble(f[6]), moist = parseDouble(f[5]);
            const double weight = parseDouble(f[4]), dens = parseDouble(f[14]);
            const double speed = parseDouble(f[1]);
            const YieldPoint p{lon / 1e7,    lat / 1e7, yld / 10,  moist / 10,
                               weight / 100, dens / 10, speed / 10};
            if (!std::isfinite(p.longitude) || !std::isfinite(p.latitude)) {
                throw std::runtime_error("Non-finite coordinate in yield data");
            }
            r.points.push_back(p);
        }
        if (r.points.empty()) {
            throw std::runtime_error("No yield data (DY) lines found");
        }
        r.ok = true;
    } catch (const std::exception& e) {
        r.error = e.what();
        r.points.clear();
    }
    return r;
}

}  // namespace

TEST(FastPaths, ReadingMatchesThePlainExactReadingOfGeneratedLogs) {
    std::mt19937_64 rng(20261209);
    ScratchDir dir;
    for (int log = 0; log < 300; ++log) {
        std::string bytes = "VK@1@2@3@4@5@F@G@H\n";
        const int lines = 1 + static_cast<int>(rng() % 40);
        for (int i = 0; i < lines; ++i) {
            bytes += randomLine(rng);
        }
        // Some logs long enough to be read in several pieces, with lines across the joins.
        if (log % 50 == 0) {
            while (bytes.size() < 600000) {
                bytes += randomLine(rng);
            }
        }
        writeFile(dir / "log.Vornakite", bytes);
        const Read fast = readWithReader(dir / "log.Vornakite");
        const Read plain = readPlainly(bytes);
        SCOPED_TRACE(log);
        ASSERT_EQ(fast.ok, plain.ok) << fast.error << " / " << plain.error;
        ASSERT_EQ(fast.error, plain.error);
        ASSERT_EQ(fast.points.size(), plain.points.size());
        for (std::size_t i = 0; i < fast.points.size(); ++i) {
            ASSERT_EQ(std::memcmp(&fast.points[i], &plain.points[i], sizeof(YieldPoint)), 0)
                << "point " << i;
        }
    }
}

TEST(FastPaths, DbfRecordsMatchCFixedPointFormatting) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto value = [&]() -> double {
        const double scale = std::pow(10.0, static_cast<double>(rng() % 12) - 3);
        switch (rng() % 6) {
            case 0:
                return static_cast<double>(static_cast<std::int64_t>(rng() % 2000000) - 1000000) /
                       10;
            case 1:
                return (static_cast<double>(rng() % 100000) + 0.5) / 100;  // ties in decimals
            case 2:
                return -unit(rng) * 1e-3;  // rounds to minus zero
            case 3:
                return std::bit_cast<double>(rng());  // any bits: huge, tiny, NaN
            default:
                return (unit(rng) - 0.3) * scale;
        }
    };
    std::vector<YieldPoint> points(5000);
    for (auto& p : points) {
        p = {0, 0, value(), value(), value(), value(), value()};
    }
    std::string records;
    vornakite::appendDbfRecords(records, points);
    ASSERT_EQ(records.size(), points.size() * 41);
    for (std::size_t i = 0; i < points.size(); ++i) {
        std::string want = " ";
        for (const auto& column : vornakite::kAttributeColumns) {
            const double v = points[i].*column.member;
            char text[512];
            const int n = std::snprintf(text, sizeof text, "%.*f", column.decimals, v);
            const bool fits = std::isfinite(v) && n <= column.width;
            want += fits ? std::string(static_cast<std::size_t>(column.width - n), ' ') + text
                         : std::string(column.width, '*');
        }
        ASSERT_EQ(records.substr(i * 41, 41), want) << "record " << i;
    }
}
