// The dBASE III attribute table: header, descriptors, records and numeric fields.
#include "write/dbf_writer.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <locale>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

using testsupport::le32;
using vornakite::DbfDate;
using vornakite::formatNumericField;
using vornakite::kAttributeColumns;
using vornakite::writeDbfTable;
using vornakite::writeNumericField;
using vornakite::YieldPoint;

constexpr std::size_t kHeaderLength = 193;
constexpr std::size_t kRecordLength = 41;

YieldPoint point(double yield, double moisture, double weight, double density, double speed) {
    return YieldPoint{-93.5, 41.25, yield, moisture, weight, density, speed};
}

std::string table(const std::vector<YieldPoint>& points, DbfDate date = {2026, 12, 7}) {
    std::ostringstream out;
    writeDbfTable(out, points, date);
    return out.str();
}

std::string field(double value, int width, int decimals) {
    std::ostringstream out;
    writeNumericField(out, value, width, decimals);
    return out.str();
}

unsigned byteAt(const std::string& b, std::size_t at) {
    return static_cast<unsigned char>(b.at(at));
}

std::uint16_t le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(byteAt(b, at) | (byteAt(b, at + 1) << 8));
}

bool sameDate(const DbfDate& a, const DbfDate& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day;
}

// The local date as strftime prints it, independent of the writer's own conversion.
DbfDate localDateNow() {
    const std::time_t now = std::time(nullptr);
    char text[16];
    std::strftime(text, sizeof text, "%Y %m %d", std::localtime(&now));
    DbfDate d{};
    std::sscanf(text, "%d %d %d", &d.year, &d.month, &d.day);
    return d;
}

bool headerCarriesDate(const std::string& b, const DbfDate& d) {
    return byteAt(b, 1) == static_cast<unsigned>((d.year - 1900) & 0xFF) &&
           byteAt(b, 2) == static_cast<unsigned>(d.month) &&
           byteAt(b, 3) == static_cast<unsigned>(d.day);
}

// The field as the C library's "%.*f" prints it in the C locale: right-aligned,
// or asterisks when the text is longer than the field.
std::string referenceField(double value, int width, int decimals) {
    char text[512];
    const int length = std::snprintf(text, sizeof text, "%.*f", decimals, value);
    if (length > width) {
        return std::string(static_cast<std::size_t>(width), '*');
    }
    return std::string(static_cast<std::size_t>(width - length), ' ') + text;
}

// ---------------------------------------------------------------------------
// Table layout

TEST(DbfTable, HeaderOfOnePointIsByteExact) {
    const std::string b = table({point(187.456, 15.34, 1234.5, 56.0, 4.5)}, {2026, 12, 7});
    ASSERT_EQ(b.size(), 235u);

    EXPECT_EQ(byteAt(b, 0), 0x03u);
    // 7 December 2026
    EXPECT_EQ(byteAt(b, 1), 0x7Eu);
    EXPECT_EQ(byteAt(b, 2), 0x0Cu);
    EXPECT_EQ(byteAt(b, 3), 0x07u);
    EXPECT_EQ(b.substr(4, 8), std::string("\x01\x00\x00\x00\xC1\x00\x29\x00", 8));
    EXPECT_EQ(b.substr(12, 20), std::string(20, '\0'));
    EXPECT_EQ(byteAt(b, 192), 0x0Du);
    EXPECT_EQ(byteAt(b, 193), 0x20u);
    EXPECT_EQ(byteAt(b, b.size() - 1), 0x1Au);
}

TEST(DbfTable, FieldDescriptorsFollowTheColumnTable) {
    const std::string b = table({point(1, 2, 3, 4, 5)});

    // "Yield_bu": eight letters, three zero bytes, 'N', four zero bytes, 10, 2, fourteen zeros.
    const std::string yieldDescriptor =
        std::string("Yield_bu\0\0\0N\0\0\0\0\x0A\x02", 18) + std::string(14, '\0');
    EXPECT_EQ(b.substr(32, 32), yieldDescriptor);

    struct Expected {
        const char* name;
        unsigned length;
        unsigned decimals;
    };
    const Expected expected[] = {{"Yield_bu", 10, 2},
                                 {"Moist_pct", 6, 1},
                                 {"Weight_ta", 10, 2},
                                 {"Dens_lbbu", 8, 1},
                                 {"Speed_MPH", 6, 1}};
    for (std::size_t c = 0; c < std::size(expected); ++c) {
        SCOPED_TRACE(expected[c].name);
        const std::string d = b.substr(32 + 32 * c, 32);
        std::string name(expected[c].name);
        name.resize(11, '\0');
        EXPECT_EQ(d.substr(0, 11), name);
        EXPECT_EQ(d[11], 'N');
        EXPECT_EQ(d.substr(12, 4), std::string(4, '\0'));
        EXPECT_EQ(byteAt(d, 16), expected[c].length);
        EXPECT_EQ(byteAt(d, 17), expected[c].decimals);
        EXPECT_EQ(d.substr(18, 14), std::string(14, '\0'));
    }

    // The column table itself agrees with the header it produces.
    ASSERT_EQ(std::size(kAttributeColumns), 5u);
    std::size_t recordLength = 1;
    for (const auto& column : kAttributeColumns) {
        EXPECT_LE(column.name.size(), 10u);
        recordLength += column.width;
    }
    EXPECT_EQ(recordLength, kRecordLength);
}

TEST(DbfTable, SizeCountAndMarkersForManyRecordCounts) {
    // 2000 records are more than one internal flush of 64 KiB.
    for (std::size_t n : {1u, 2u, 3u, 1598u, 1599u, 2000u}) {
        SCOPED_TRACE(n);
        std::vector<YieldPoint> points;
        for (std::size_t i = 0; i < n; ++i) {
            points.push_back(point(static_cast<double>(i), 10.0, 20.0, 30.0, 4.0));
        }
        const std::string b = table(points);
        ASSERT_EQ(b.size(), 194 + kRecordLength * n);
        EXPECT_EQ(le32(b, 4), n);
        EXPECT_EQ(le16(b, 8), kHeaderLength);
        EXPECT_EQ(le16(b, 10), kRecordLength);
        EXPECT_EQ(byteAt(b, 192), 0x0Du);
        EXPECT_EQ(byteAt(b, b.size() - 1), 0x1Au);
        // Records stay in point order across flushes.
        for (std::size_t i = 0; i < n; ++i) {
            const std::string record = b.substr(kHeaderLength + kRecordLength * i, kRecordLength);
            ASSERT_EQ(record[0], ' ') << "record " << i;
            ASSERT_EQ(record.substr(1, 10), referenceField(static_cast<double>(i), 10, 2))
                << "record " << i;
        }
    }
}

TEST(DbfTable, DateBytesComeFromTheGivenDate) {
    struct Case {
        DbfDate date;
        unsigned char bytes[3];
    };
    const Case cases[] = {
        {{2026, 12, 7}, {0x7E, 0x0C, 0x07}},  {{1999, 1, 31}, {0x63, 0x01, 0x1F}},
        {{2000, 2, 29}, {0x64, 0x02, 0x1D}},  {{1900, 6, 1}, {0x00, 0x06, 0x01}},
        {{2155, 12, 31}, {0xFF, 0x0C, 0x1F}}, {{2156, 1, 1}, {0x00, 0x01, 0x01}},  // low 8 bits
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date.year);
        const std::string b = table({point(1, 2, 3, 4, 5)}, c.date);
        EXPECT_EQ(byteAt(b, 1), c.bytes[0]);
        EXPECT_EQ(byteAt(b, 2), c.bytes[1]);
        EXPECT_EQ(byteAt(b, 3), c.bytes[2]);
    }
}

TEST(DbfTable, RecordPutsTheFiveMembersInColumnOrder) {
    const std::string b = table({point(187.456, 15.34, 1234.5, 0.0, -1.5),
                                 point(12345678.9, 10000.0, -0.004, 1e7, 9999.96)});
    ASSERT_EQ(b.size(), 194 + 2 * kRecordLength);
    EXPECT_EQ(b.substr(kHeaderLength, kRecordLength),
              std::string(" ") + "    187.46" + "  15.3" + "   1234.50" + "     0.0" + "  -1.5");
    EXPECT_EQ(b.substr(kHeaderLength + kRecordLength, kRecordLength),
              std::string(" ") + "**********" + "******" + "     -0.00" + "********" + "******");
    // Longitude and latitude are geometry only: nothing else sits between the records.
    EXPECT_EQ(b.find("93.5"), std::string::npos);
    EXPECT_EQ(b.find("41.2"), std::string::npos);
}

TEST(DbfTable, RecordsWithNonFiniteValuesKeepTheirLength) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::string b = table({point(nan, inf, -inf, nan, 1.0), point(1.0, 2.0, 3.0, 4.0, 5.0)});
    ASSERT_EQ(b.size(), 194 + 2 * kRecordLength);
    EXPECT_EQ(b.substr(kHeaderLength, kRecordLength),
              " " + std::string(10 + 6 + 10 + 8, '*') + "   1.0");
    EXPECT_EQ(b.substr(kHeaderLength + kRecordLength, kRecordLength),
              std::string(" ") + "      1.00" + "   2.0" + "      3.00" + "     4.0" + "   5.0");
}

TEST(DbfTable, AppendsToWhatTheStreamAlreadyHolds) {
    std::ostringstream out;
    out << "prefix";
    writeDbfTable(out, {point(1, 2, 3, 4, 5)}, {2026, 12, 7});
    const std::string b = out.str();
    ASSERT_EQ(b.size(), 6 + 235u);
    EXPECT_EQ(b.substr(0, 6), "prefix");
    EXPECT_EQ(b.substr(6), table({point(1, 2, 3, 4, 5)}, {2026, 12, 7}));
}

// ---------------------------------------------------------------------------
// Today's date

#ifdef _WIN32
inline void setenv(const char* name, const char* value, int) {
    _putenv_s(name, value);
}
inline void unsetenv(const char* name) {
    _putenv_s(name, "");
}
inline void tzset() {
    _tzset();
}
#endif

// POSIX and the Windows C library spell a fixed offset differently.
#ifdef _WIN32
constexpr const char* kUtcPlus14 = "XXX-14";
constexpr const char* kUtcMinus12 = "YYY12";
#else
constexpr const char* kUtcPlus14 = "<+14>-14";
constexpr const char* kUtcMinus12 = "<-12>12";
#endif

class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) {
            saved_ = old;
        }
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

  private:
    std::optional<std::string> saved_;
};

// Reads todayLocalDate() between two reads of the local date; a midnight in
// between makes either answer right.
void expectTodayMatchesLocalDate() {
    const DbfDate before = localDateNow();
    const DbfDate got = vornakite::todayLocalDate();
    const DbfDate after = localDateNow();
    EXPECT_TRUE(sameDate(got, before) || sameDate(got, after))
        << got.year << "-" << got.month << "-" << got.day;
}

TEST(DbfDate, TodayIsTheLocalCalendarDate) {
    expectTodayMatchesLocalDate();

    // Zones 26 hours apart never share a calendar date, so the answer has to
    // follow the zone rather than UTC.
    DbfDate east{};
    DbfDate west{};
    {
        ScopedTimeZone zone(kUtcPlus14);
        expectTodayMatchesLocalDate();
        east = vornakite::todayLocalDate();
    }
    {
        ScopedTimeZone zone(kUtcMinus12);
        expectTodayMatchesLocalDate();
        west = vornakite::todayLocalDate();
    }
    EXPECT_FALSE(sameDate(east, west));
}

TEST(DbfDate, UndatedTableCarriesTodaysLocalDate) {
    const std::vector<YieldPoint> points{point(187.456, 15.34, 1234.5, 56.0, 4.5)};
    const DbfDate before = localDateNow();
    std::ostringstream out;
    writeDbfTable(out, points);
    const DbfDate after = localDateNow();
    const std::string b = out.str();
    ASSERT_EQ(b.size(), 235u);
    EXPECT_TRUE(headerCarriesDate(b, before) || headerCarriesDate(b, after));

    // Apart from the date it is the dated table.
    std::string dated = table(points);
    dated.replace(1, 3, b.substr(1, 3));
    EXPECT_EQ(b, dated);
}

// ---------------------------------------------------------------------------
// Numeric fields

TEST(NumericField, RoundsAndPadsToTheFieldWidth) {
    struct Case {
        double value;
        int width;
        int decimals;
        const char* text;
    };
    const Case cases[] = {
        {187.456, 10, 2, "    187.46"},
        {1234567.891, 10, 2, "1234567.89"},
        {12345678.9, 10, 2, "**********"},
        {9999999.994, 10, 2, "9999999.99"},
        {9999999.996, 10, 2, "**********"},  // rounds up to eleven characters
        {-999999.99, 10, 2, "-999999.99"},
        {-9999999.99, 10, 2, "**********"},
        {15.34, 6, 1, "  15.3"},
        {1000.0, 6, 1, "1000.0"},
        {10000.0, 6, 1, "******"},
        {9999.96, 6, 1, "******"},
        {9999.94, 6, 1, "9999.9"},
        {-1.5, 6, 1, "  -1.5"},
        {-0.04, 6, 1, "  -0.0"},
        {-0.0, 6, 1, "  -0.0"},
        {0.0, 6, 1, "   0.0"},
        {0.0, 8, 1, "     0.0"},
        {0.05, 6, 1, "   0.1"},  // 0.05 is slightly above the tie
        {0.25, 6, 1, "   0.2"},  // exact tie, to even
        {0.35, 6, 1, "   0.3"},  // 0.35 is slightly below the tie
        {2.675, 10, 2, "      2.67"},
        {0.125, 10, 2, "      0.12"},
        {0.375, 10, 2, "      0.38"},
        {2.5, 3, 0, "  2"},
        {3.5, 3, 0, "  4"},
        {7.0, 1, 0, "7"},
        {42.0, 1, 0, "*"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.value << " width " << c.width << " decimals " << c.decimals);
        EXPECT_EQ(field(c.value, c.width, c.decimals), c.text);

        std::string direct(static_cast<std::size_t>(c.width), '?');
        formatNumericField(direct.data(), c.value, c.width, c.decimals);
        EXPECT_EQ(direct, c.text);
    }
}

TEST(NumericField, NonFiniteValuesFillTheFieldWithAsterisks) {
    const double values[] = {
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN()};
    for (double v : values) {
        for (const auto& column : kAttributeColumns) {
            SCOPED_TRACE(testing::Message() << v << " in " << column.name);
            EXPECT_EQ(field(v, column.width, column.decimals), std::string(column.width, '*'));
        }
        // Even a field wide enough for "inf" or "nan" holds asterisks.
        EXPECT_EQ(field(v, 20, 2), std::string(20, '*'));
    }
}

TEST(NumericField, MatchesCFixedPointFormattingForGeneratedValues) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");

    const double tiny = std::numeric_limits<double>::denorm_min();
    std::vector<double> values = {0.0,     -0.0,     DBL_MIN,    -DBL_MIN,   tiny,      -tiny,
                                  DBL_MAX, -DBL_MAX, 1e15 + 0.5, 0x1p52 + 1, 0x1p53 + 1};
    // Classic rounding traps: ties, near-ties, and ones just below 1.
    const double traps[] = {0.5,   1.5,    2.5,   0.05,  0.15,       0.25,  0.35,
                            0.45,  0.125,  0.375, 0.625, 0.875,      1.005, 2.675,
                            0.995, 0.9999, 1e22,  1e23,  DBL_EPSILON};
    values.insert(values.end(), std::begin(traps), std::end(traps));
    values.push_back(1.0 - DBL_EPSILON / 2);

    // Exact binary ties at every decimal place the columns use, small and large.
    for (int k = -2000; k <= 2000; ++k) {
        for (double scale : {2.0, 4.0, 8.0, 16.0, 32.0}) {
            values.push_back(k / scale);
        }
        values.push_back(1048576.0 * k + 0.125);
        values.push_back(1048576.0 * k + 0.375);
    }
    // Short decimals and values just around the ties they round at.
    for (int k = -5000; k <= 5000; k += 7) {
        const double cents = k / 100.0;
        const double near = k / 100.0 + 0.005;
        values.push_back(cents);
        values.push_back(near);
        values.push_back(std::nextafter(near, HUGE_VAL));
        values.push_back(std::nextafter(near, -HUGE_VAL));
        values.push_back(k / 10.0 + 0.05);
    }
    // The edges of every column: the largest value whose rounded text still
    // fits, its neighbours, and the same for negative values (one character
    // goes to the sign).
    for (const auto& column : kAttributeColumns) {
        const int intDigits = column.width - column.decimals - 1;
        const double half = 0.5 * std::pow(10.0, -column.decimals);
        for (int digits : {intDigits, intDigits - 1}) {
            const double top = std::pow(10.0, digits);
            for (double edge : {top - half, top, top - 2 * half}) {
                for (double v :
                     {edge, std::nextafter(edge, HUGE_VAL), std::nextafter(edge, -HUGE_VAL)}) {
                    values.push_back(v);
                    values.push_back(-v);
                }
            }
        }
    }

    std::mt19937_64 random(20261207);
    // Random mantissas over a wide range of magnitudes, either sign.
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    for (int exponent = -10; exponent <= 16; ++exponent) {
        for (int i = 0; i < 300; ++i) {
            const double v = mantissa(random) * std::pow(10.0, exponent);
            values.push_back((random() & 1) ? v : -v);
        }
    }
    // Random bit patterns: every finite double is fair game.
    for (int i = 0; i < 3000; ++i) {
        const double v = std::bit_cast<double>(random());
        if (std::isfinite(v)) {
            values.push_back(v);
        }
    }

    struct Format {
        int width;
        int decimals;
    };
    std::vector<Format> formats;
    for (const auto& column : kAttributeColumns) {
        formats.push_back({column.width, column.decimals});
    }
    // The field writer takes any width and decimal count, not only the columns'.
    formats.push_back({1, 0});
    formats.push_back({12, 3});
    formats.push_back({20, 6});

    int mismatches = 0;
    for (const auto& format : formats) {
        for (double v : values) {
            // Exactly `width` bytes are written: no terminating zero behind them.
            char buffer[32];
            std::memset(buffer, '#', sizeof buffer);
            formatNumericField(buffer, v, format.width, format.decimals);
            ASSERT_EQ(buffer[format.width], '#') << "byte written beyond the field";
            const std::string got(buffer, static_cast<std::size_t>(format.width));
            const std::string want = referenceField(v, format.width, format.decimals);
            if (got != want && ++mismatches <= 20) {
                char exact[64];
                std::snprintf(exact, sizeof exact, "%a", v);
                ADD_FAILURE() << exact << " width " << format.width << " decimals "
                              << format.decimals << ": got \"" << got << "\", want \"" << want
                              << "\"";
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "of " << values.size() * formats.size() << " fields";
}

// Values at and around every kind of rounding boundary of "%.*f": the quotients the log reader
// makes (integers divided by 10 and 100, every one up to 100,000), the binary values nearest to
// each decimal tie and their neighbours a few ulps away, and values around the size where the
// scaled value stops being exact in a double. Compared in a wide field and in the columns.
TEST(NumericField, MatchesCFixedPointFormattingAroundRoundingBoundaries) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    std::vector<double> quotients;
    for (int k = 0; k <= 100000; ++k) {
        quotients.push_back(k / 10.0);
        quotients.push_back(k / 100.0);
        quotients.push_back(-k / 100.0);
    }
    std::vector<double> values;
    std::mt19937_64 random(20261209);
    auto around = [&values](double v) {
        double up = v;
        double down = v;
        values.push_back(v);
        for (int step = 0; step < 4; ++step) {
            up = std::nextafter(up, HUGE_VAL);
            down = std::nextafter(down, -HUGE_VAL);
            values.push_back(up);
            values.push_back(down);
        }
    };
    for (int decimals = 0; decimals <= 9; ++decimals) {
        const double scale = std::pow(10.0, decimals);
        for (std::uint64_t limit : {10ull, 100000ull, 10000000000ull, 1000000000000000ull}) {
            for (int i = 0; i < 150; ++i) {
                const double k = static_cast<double>(random() % limit);
                around((k + 0.5) / scale);  // nearest double to a decimal tie
                around(-(k + 0.5) / scale);
                around((k + 0.25) / scale);  // clear of any tie
            }
        }
        around(1e15 / scale);  // where the scaled value runs out of exact integers
        around(9007199254740992.0 / scale);
    }

    int mismatches = 0;
    auto check = [&mismatches](double v, int width, int decimals) {
        char buffer[40];
        std::memset(buffer, '#', sizeof buffer);
        formatNumericField(buffer, v, width, decimals);
        const std::string got(buffer, static_cast<std::size_t>(width));
        const std::string want = referenceField(v, width, decimals);
        if ((got != want || buffer[width] != '#') && ++mismatches <= 20) {
            char exact[64];
            std::snprintf(exact, sizeof exact, "%a", v);
            ADD_FAILURE() << exact << " width " << width << " decimals " << decimals << ": got \""
                          << got << "\", want \"" << want << "\"";
        }
    };
    for (double v : quotients) {
        for (const auto& column : kAttributeColumns) {
            check(v, column.width, column.decimals);
        }
    }
    for (double v : values) {
        for (int decimals = 0; decimals <= 9; ++decimals) {
            check(v, 32, decimals);
        }
        for (const auto& column : kAttributeColumns) {
            check(v, column.width, column.decimals);
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// ---------------------------------------------------------------------------
// Locale independence

// A decimal comma and '.' grouping, as many regional settings have.
struct CommaDecimal : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

// Restores the C and C++ global locales when the test ends.
class GlobalLocaleGuard {
  public:
    GlobalLocaleGuard() : cLocale_(std::setlocale(LC_ALL, nullptr)), cppLocale_() {}
    ~GlobalLocaleGuard() {
        std::locale::global(cppLocale_);
        std::setlocale(LC_ALL, cLocale_.c_str());
    }
    GlobalLocaleGuard(const GlobalLocaleGuard&) = delete;
    GlobalLocaleGuard& operator=(const GlobalLocaleGuard&) = delete;

  private:
    std::string cLocale_;
    std::locale cppLocale_;
};

TEST(NumericField, IgnoresTheStreamAndGlobalCppLocale) {
    GlobalLocaleGuard guard;
    const std::locale comma(std::locale::classic(), new CommaDecimal);
    std::locale::global(comma);

    std::ostringstream out;
    out.imbue(comma);
    writeNumericField(out, 15.34, 6, 1);
    writeNumericField(out, 1234567.891, 10, 2);
    EXPECT_EQ(out.str(),
              "  15.3"
              "1234567.89");

    std::ostringstream tableOut;
    tableOut.imbue(comma);
    writeDbfTable(tableOut, {point(187.456, 15.34, 1234.5, 56.0, 4.5)}, {2026, 12, 7});
    EXPECT_EQ(tableOut.str(), table({point(187.456, 15.34, 1234.5, 56.0, 4.5)}, {2026, 12, 7}));
}

TEST(NumericField, IgnoresACLocaleWithADecimalComma) {
    GlobalLocaleGuard guard;
    const char* found = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8",
                             "nl_NL.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8", "ru_RU.UTF-8"}) {
        if (std::setlocale(LC_ALL, name) != nullptr &&
            std::string(std::localeconv()->decimal_point) == ",") {
            found = name;
            break;
        }
    }
    if (found == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    }
    try {
        std::locale::global(std::locale(found));
    } catch (const std::runtime_error&) {
        // Some C++ libraries know only the "C" locale by name; the C locale is switched still.
    }
    // The C library itself now prints a comma.
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 15.34);
    ASSERT_STREQ(probe, "15,3");

    EXPECT_EQ(field(15.34, 6, 1), "  15.3");
    EXPECT_EQ(field(1234567.891, 10, 2), "1234567.89");
    EXPECT_EQ(field(-0.04, 6, 1), "  -0.0");
    EXPECT_EQ(table({point(187.456, 15.34, 1234.5, 56.0, 4.5)}).substr(kHeaderLength, 17),
              "     187.46  15.3");
}

}  // namespace
