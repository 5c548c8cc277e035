#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "read/number.hpp"

using vornakite::parseDouble;

// glibc's strtod, behind std::stod here, is the reference the conversion must equal.
#if defined(__GLIBC__)
namespace {

// Outcome of a conversion: the value's bits, or which exception it threw. libstdc++'s own
// messages are just "stod", so only the exception type is compared; ours must carry the fixed
// texts (checked when `ownMessages` is set).
std::string outcome(double (*convert)(const std::string&), const std::string& text,
                    bool ownMessages) {
    try {
        const double v = convert(text);
        if (v != v) {
            return std::signbit(v) ? "-nan" : "nan";
        }
        char buf[40];
        std::snprintf(buf, sizeof buf, "%016llx",
                      static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v)));
        return buf;
    } catch (const std::invalid_argument& e) {
        if (ownMessages) {
            EXPECT_STREQ(e.what(), "invalid stod argument") << "input: \"" << text << "\"";
        }
        return "invalid_argument";
    } catch (const std::out_of_range& e) {
        if (ownMessages) {
            EXPECT_STREQ(e.what(), "stod argument out of range") << "input: \"" << text << "\"";
        }
        return "out_of_range";
    }
}

double viaStod(const std::string& text) {
    return std::stod(text);
}
double viaParse(const std::string& text) {
    return parseDouble(text);
}

// Same value (bit for bit) or the same exception type as std::stod.
void expectLikeStod(const std::string& text) {
    EXPECT_EQ(outcome(viaParse, text, true), outcome(viaStod, text, false))
        << "input: \"" << text << "\"";
}

}  // namespace
#endif

TEST(Number, ThrowsTheFixedMessages) {
    for (const char* text : {"", "abc", "-", ".", "+-1", " ", "e5", "\x1A"}) {
        try {
            parseDouble(text);
            ADD_FAILURE() << "no exception for \"" << text << "\"";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "invalid stod argument");
        }
    }
    for (const char* text : {"1e999", "-1e999", "1e-400", "2e-324"}) {
        try {
            parseDouble(text);
            ADD_FAILURE() << "no exception for \"" << text << "\"";
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "stod argument out of range");
        }
    }
}

TEST(Number, RoundsHexadecimalSubnormalsCorrectlyWhereGlibcDoesNot) {
    // glibc loses the 54th significant bit of a hexadecimal subnormal: it gives 0x1p-1050
    // for the first text (no range error for the second). Correct rounding takes that bit
    // into account, and a tiny inexact result is a range error.
    EXPECT_THROW(parseDouble("0x1000200000000080p-1120"), std::out_of_range);
    EXPECT_THROW(parseDouble("-0X94.Eaa120000004000p-1037"), std::out_of_range);
    EXPECT_EQ(parseDouble("0x94.Eaa12p-1037"), std::ldexp(0x94EAA12, -1057));  // exact
}

TEST(Number, ConvertsTheLongestNumericPrefix) {
    EXPECT_EQ(parseDouble("12.5xyz"), 12.5);
    EXPECT_EQ(parseDouble("1,5"), 1.0);
    EXPECT_EQ(parseDouble("  42"), 42.0);
    EXPECT_EQ(parseDouble("3e2"), 300.0);
    EXPECT_EQ(parseDouble("0x10"), 16.0);
    EXPECT_EQ(parseDouble("-975000000"), -975000000.0);
    EXPECT_TRUE(std::signbit(parseDouble("-0")));
}

#if defined(__GLIBC__)
TEST(Number, GivesNanPayloadsBitForBitAsStodDoes) {
    // "nan(chars)" whose chars read whole as a C unsigned integer carries its low 51 bits;
    // an integer that overflows is a range error.
    for (const char* text : {"nan(9999949)",
                             "nan(0x10)",
                             "nan(0X1f)",
                             "nan(010)",
                             "nan(08)",
                             "nan(0)",
                             "nan()",
                             "nan(0x)",
                             "nan(0xg)",
                             "nan(1x)",
                             "nan(abc)",
                             "nan(_1)",
                             "-nan(5)",
                             "+NaN(7)x",
                             "nan(0x8000000000000)",
                             "nan(0xFFFFFFFFFFFFFFFF)",
                             "nan(18446744073709551615)",
                             "nan(18446744073709551616)",
                             "nan(99999999999999999999999x)",
                             "nan(5",
                             "nan(5 )",
                             "nan(9999949)9p-1074",
                             "  nan(0x7ffffffffffff)"}) {
        const std::string input = text;
        std::string want, got;
        try {
            want = std::to_string(std::bit_cast<std::uint64_t>(std::stod(input)));
        } catch (const std::out_of_range&) {
            want = "out_of_range";
        }
        try {
            got = std::to_string(std::bit_cast<std::uint64_t>(parseDouble(input)));
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "stod argument out of range");
            got = "out_of_range";
        }
        EXPECT_EQ(got, want) << input;
    }
}

TEST(Number, MatchesStodOnEveryFormItAccepts) {
    // std::stod is only the reference while the C library uses the classic locale.
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    const std::vector<std::string> cases = {
        // white space, signs, plain forms
        " \t\n\v\f\r7",
        " 1",
        "\t1",
        "\n1",
        "\v1",
        "\f1",
        "\r1",
        "\xA0"
        "1",
        "\x85"
        "1",
        "0",
        "+0",
        "-0",
        "-0.0e5",
        "-0x0p0",
        "+5",
        "-5",
        "5.",
        ".5",
        "-.5",
        "+.5e-1x",
        "007",
        "0.000",
        "1e",
        "1e+",
        "1e-",
        "1E5",
        "1e+05",
        "1.5e-3junk",
        "12.5.6",
        "1..2",
        "--1",
        "+ 1",
        "1 2",
        // hexadecimal
        "0x",
        "0X1P3",
        "0x1.8p1",
        "0x.8",
        "0x.p1",
        "0x1p",
        "0x1p+",
        "0xg",
        "-0x10",
        "0x1.fffffffffffffp1023",
        "0x1p1024",
        "0xABCDEFabcdef",
        "0X1.8P1",
        "0x1.00000000000008p0",
        "0x1.000000000000080000000000000000000000000000000000000000001p0",
        "0x1.00000000000018p0",
        "0x0.00000000000000000000000000000000000000000000000001p+200",
        "0x1p-1074junk",
        "0x1.p1",
        "0x.1",
        "0x0.0000000000001p-1022",
        "0x1.",
        "0x1.p3",
        "0x.8p-2",
        "0x1.P",
        "0xAp+2x",
        "0x1e5",
        "1.e5",
        "1.e",
        "-0x0",
        // infinities and NaNs
        "inf",
        "-inf",
        "INF",
        "Infinity",
        "INFINITY",
        "-infinity",
        " +Inf",
        "infinityx",
        "infin",
        "in",
        "nan",
        "-nan",
        "nan(abc_1)",
        "NaN(abc_1)",
        "-nan(0x7)",
        "nan(a b)",
        "nan(",
        "nan()",
        "nan(!)",
        "na",
        // overflow and the largest values
        "1e999",
        "-1e999",
        "1.7976931348623157e308",
        "1.7976931348623158e308",
        "1.7976931348623159e308",
        "179769313486231580793728971405303415079934132710037826936173778"
        "980444968292764750946649017977587207096330286416692887910946555547851940402630657488671505"
        "820681908902000708383676273854845817711531764475730270069855571366959622842914819860834936"
        "475292719074168444365510704342711559699508093042880177904174497791.9999",
        // the tiny range
        "1e-310",
        "2e-324",
        "3e-324",
        "4.9e-324",
        "2.4703282292062327e-324",
        "2.4703282292062328e-324",
        "0x1p-1074",
        "0x1p-1075",
        "0x1.8p-1075",
        "0x1p-1076",
        "0x1.fffffffffffffp-1023",
        "0x1.fffffffffffff7p-1023",
        "0x1.fffffffffffff8p-1023",
        "0x1.fffffffffffff9p-1023",
        "0x0.fffffffffffffp-1022",
        "2.2250738585072011e-308",
        "2.2250738585072014e-308",
        "2.2250738585072009e-308",
        "0e-99999",
        "0x0p-99999",
        "1e-99999999999999999999",
        "0x1p-99999999999999999999",
        "1e99999999999999999999",
        "-1e-99999999999999999999",
        "0.0000000000000000000000000000000000000000000000000000000000000000000000001e+73",
        "10000000000000000000000000000000000000000000000000000000000000000000000000e-73",
        "0e99999999999999999999",
        // exact decimal expansions and halfway points, with a far-off digit after them
        "4.940656458412465441765687928682213723650598026143247644255856825006755072702087518652998"
        "36354e-324",
        "2.470328229206232720882538037674917938763229447852e-324",
        "2.4703282292062327208828439643411068618252990130716238221279284125033775363510437593264991"
        "8181e-324",
        "2.4703282292062327208828439643411068618252990130716238221279284125033775363510437593264991"
        "8182e-324",
        "9007199254740993",
        "9007199254740993.0000000000000000000000000000000000000000000001",
        "0.1000000000000000055511151231257827021181583404541015625",
        "0.10000000000000000555111512312578270211815834045410156250000000000000000000001",
    };
    for (const auto& text : cases) {
        expectLikeStod(text);
    }
}

namespace {

// Random text of number-like characters: digit runs, points, signs and exponents, sometimes
// hundreds of digits long, often not a number at all.
std::string randomNumberText(std::mt19937_64& random) {
    auto pick = [&random](std::uint64_t n) { return random() % n; };
    std::string text;
    if (pick(4) == 0) {
        text += "+- \t"[pick(4)];
    }
    const bool longMantissa = pick(16) == 0;
    const auto intLen = longMantissa ? pick(400) : pick(22);
    const auto fracLen = longMantissa ? pick(400) : pick(22);
    for (std::uint64_t k = 0; k < intLen; ++k) {
        text += static_cast<char>('0' + pick(pick(3) == 0 ? 2 : 10));
    }
    if (pick(3) != 0) {
        text += '.';
    }
    for (std::uint64_t k = 0; k < fracLen; ++k) {
        text += static_cast<char>('0' + pick(pick(3) == 0 ? 2 : 10));
    }
    if (pick(2) == 0) {
        text += "eE"[pick(2)];
        if (pick(2) == 0) {
            text += "+-"[pick(2)];
        }
        if (pick(8) != 0) {
            text += std::to_string(pick(pick(4) == 0 ? 100000 : 700));
        }
    }
    if (pick(8) == 0) {
        text += "x.e,"[pick(4)];
    }
    return text;
}

}  // namespace

TEST(Number, MatchesStodOnGeneratedValues) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    std::mt19937_64 random(20261008);
    char buf[512];
    for (int i = 0; i < 80000; ++i) {
        const auto bits = random();
        const double d = std::bit_cast<double>(bits);
        // A value of moderate size, where fixed notation stays short.
        const double moderate = static_cast<double>(static_cast<std::int64_t>(bits)) * 1e-12;
        switch (i % 8) {
            case 0:
                std::snprintf(buf, sizeof buf, "%.17g", d);
                break;
            case 1:
                std::snprintf(buf, sizeof buf, "%a", d);
                break;
            case 2:
                std::snprintf(buf, sizeof buf, "%e", d);
                break;
            case 3:
                std::snprintf(buf, sizeof buf, "%.3f", i % 16 == 3 ? d : moderate);
                break;
            case 4:
                std::snprintf(buf, sizeof buf, "%.25g", d * 1e-300);
                break;
            case 5:
                std::snprintf(buf, sizeof buf, "%.16ge-%d",
                              static_cast<double>(bits % 1000000) / 1000.0,
                              static_cast<int>((bits >> 20) % 330));
                break;
            case 6:
                // Realistic log fields: integers in tenths, hundredths or 1e-7 degrees.
                std::snprintf(buf, sizeof buf, "%lld",
                              static_cast<long long>(bits % 4000000000ULL) - 2000000000LL);
                break;
            default:
                expectLikeStod(randomNumberText(random));
                continue;
        }
        expectLikeStod(buf);
    }
}

// Plain decimals, the form of nearly every log field, at every length and point position around
// the limits of exact integer arithmetic (2^53, 18 and 19 digits), with signs, leading zeros and
// whatever may follow them: end of text, characters that end a number, and ones that continue it.
TEST(Number, MatchesStodOnPlainDecimalsOfEveryLength) {
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    const char* const endings[] = {"",   "x",  "X1", "e",  "E5", "e-3", ".",  ".5",
                                   ",5", " 1", "@",  "p3", "f",  "\r",  "0x1"};
    std::mt19937_64 random(20261210);
    std::vector<std::string> mantissas = {
        "9007199254740991",  "9007199254740992",   "9007199254740993",    "9007199254740994",
        "18014398509481985", "999999999999999999", "1000000000000000000", "0000000000000000000001"};
    for (int length = 1; length <= 21; ++length) {
        for (int i = 0; i < 12; ++i) {
            std::string digits;
            for (int k = 0; k < length; ++k) {
                digits += static_cast<char>('0' + random() % (i % 3 == 0 ? 2 : 10));
            }
            if (i % 4 == 1) {
                digits[0] = '0';  // leading zeros count as digits
            }
            mantissas.push_back(digits);
        }
    }
    for (const auto& digits : mantissas) {
        for (std::size_t point = 0; point <= digits.size() + 1; ++point) {
            std::string number = digits;
            if (point <= digits.size()) {
                number.insert(point, ".");
            }
            for (const char* sign : {"", "-", "+"}) {
                for (const char* ending : endings) {
                    expectLikeStod(sign + number + ending);
                }
            }
        }
    }
    for (const char* text : {"-", "+", ".", "-.", "+.e5", "-0", "+0", "-0.000", "0.", ".0"}) {
        expectLikeStod(text);
    }
}

// Exact decimal expansions of doubles and of the points halfway between two neighbours, exact
// and nudged by a digit far behind: the hardest inputs for correct rounding and for telling an
// exact tiny result from an inexact one. The x87 long double holds every such point exactly.
TEST(Number, MatchesStodOnExactExpansionsAndHalfwayPoints) {
    if (LDBL_MANT_DIG < 64 || LDBL_MAX_EXP < 16384) {
        GTEST_SKIP() << "long double cannot hold halfway points exactly";
    }
    ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    std::vector<long double> points;
    auto addAround = [&points](double d) {
        points.push_back(d);
        const double up = std::nextafter(d, INFINITY);
        points.push_back(std::isinf(up) ? static_cast<long double>(d) + std::ldexp(1.0L, 970)
                                        : (static_cast<long double>(d) + up) / 2);
    };
    const double denormMin = std::numeric_limits<double>::denorm_min();
    for (double d : {0.0, denormMin, 2 * denormMin, 3 * denormMin, 1e-310, DBL_MIN,
                     std::nextafter(DBL_MIN, 0.0), std::nextafter(DBL_MIN, 1.0), 0.1, 1.0,
                     9007199254740992.0, DBL_MAX, std::nextafter(DBL_MAX, 0.0)}) {
        addAround(d);
    }
    // Where rounding to 53 bits with an unbounded exponent reaches DBL_MIN.
    points.push_back(std::ldexp(1.0L, -1022) - std::ldexp(1.0L, -1076));
    std::mt19937_64 random(4711);
    for (int i = 0; i < 300; ++i) {
        const auto bits = random() & 0x7fffffffffffffffULL;
        if ((bits >> 52) != 0x7ff) {
            addAround(std::bit_cast<double>(bits));
        }
        if (i % 8 == 0) {
            addAround(std::bit_cast<double>(bits & 0x000fffffffffffffULL));  // subnormal
        }
    }

    std::vector<char> buf(1400);
    for (const long double p : points) {
        std::snprintf(buf.data(), buf.size(), "%.1100Le", p);
        std::string text = buf.data();
        const auto e = text.find('e');
        std::string mantissa = text.substr(0, e);
        const std::string exponent = text.substr(e);
        mantissa.erase(mantissa.find_last_not_of('0') + 1);
        expectLikeStod(mantissa + exponent);
        expectLikeStod("-" + mantissa + exponent);
        expectLikeStod(mantissa + std::string(300, '0') + "1" + exponent);
        for (std::size_t digits : {18u, 20u, 40u, 120u}) {
            if (digits < mantissa.size()) {
                expectLikeStod(mantissa.substr(0, digits) + exponent);
            }
        }
        if (p < 1) {
            // Fixed notation: up to about 1080 digits after the point.
            std::snprintf(buf.data(), buf.size(), "%.1080Lf", p);
            expectLikeStod(buf.data());
            expectLikeStod(std::string(buf.data()) + "00000000000000000000001");
        }
    }
}
#endif
