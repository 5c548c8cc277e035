#include "read/number.hpp"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "model/conversion_error.hpp"

namespace vornakite {
namespace {

[[noreturn]] void throwInvalid() {
    throw Coded<std::invalid_argument>(ErrorCode::invalidNumber, "invalid stod argument");
}
[[noreturn]] void throwRange() {
    throw Coded<std::out_of_range>(ErrorCode::numberOutOfRange, "stod argument out of range");
}

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(char c) {
    if (isDigit(c)) {
        return c - '0';
    }
    return (c | 0x20) - 'a' + 10;
}

// Case-insensitive test for an ASCII lower-case word at position i.
bool hasWordAt(std::string_view s, std::size_t i, std::string_view word) {
    if (s.size() - i < word.size()) {
        return false;
    }
    for (std::size_t k = 0; k < word.size(); ++k) {
        if ((s[i + k] | 0x20) != word[k]) {
            return false;
        }
    }
    return true;
}

// Skips decimal digits from i; returns the new position.
std::size_t skipDigits(std::string_view s, std::size_t i) {
    while (i < s.size() && isDigit(s[i])) {
        ++i;
    }
    return i;
}

// Length of an exponent part "e[sign]digits" (or "p..." for hex) at i, or 0 if none.
std::size_t exponentLength(std::string_view s, std::size_t i, char marker) {
    if (i >= s.size() || (s[i] | 0x20) != marker) {
        return 0;
    }
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
        ++j;
    }
    const std::size_t digitsEnd = skipDigits(s, j);
    return digitsEnd > j ? digitsEnd - i : 0;
}

// Reads the exponent digits at [i, end) as a saturated integer.
long long readExponent(std::string_view s, std::size_t i, std::size_t end) {
    bool negative = false;
    if (s[i] == '+' || s[i] == '-') {
        negative = s[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < end; ++i) {
        value = std::min(value * 10 + (s[i] - '0'), 1'000'000'000LL);
    }
    return negative ? -value : value;
}

// --- Exact comparison for the tiny range --------------------------------------------------
//
// glibc reports ERANGE for an inexact result that is tiny after rounding. from_chars gives the
// correctly rounded value but says nothing about exactness, so for results at or below DBL_MIN
// the input is compared exactly with a binary value m * 2^e. The input is held as N * 2^a * 5^b
// plus a "sticky" remainder smaller than one unit of N's last digit; digits below 2^-1100 or
// 10^-1100 are folded into that remainder, which cannot change the comparison with a double
// (whose lowest bit is at least 2^-1076) except to break an exact tie.

class BigUnsigned {
  public:
    explicit BigUnsigned(std::uint64_t v = 0) {
        while (v != 0) {
            limbs_.push_back(static_cast<std::uint32_t>(v));
            v >>= 32;
        }
    }
    void mulAdd(std::uint32_t mul, std::uint32_t add) {
        std::uint64_t carry = add;
        for (auto& limb : limbs_) {
            const std::uint64_t t = static_cast<std::uint64_t>(limb) * mul + carry;
            limb = static_cast<std::uint32_t>(t);
            carry = t >> 32;
        }
        if (carry != 0) {
            limbs_.push_back(static_cast<std::uint32_t>(carry));
        }
    }
    void shiftLeft(long long bits) {
        if (limbs_.empty() || bits <= 0) {
            return;
        }
        const auto words = static_cast<std::size_t>(bits / 32);
        const auto rest = static_cast<unsigned>(bits % 32);
        if (rest != 0) {
            std::uint32_t carry = 0;
            for (auto& limb : limbs_) {
                const std::uint32_t next = limb >> (32 - rest);
                limb = (limb << rest) | carry;
                carry = next;
            }
            if (carry != 0) {
                limbs_.push_back(carry);
            }
        }
        limbs_.insert(limbs_.begin(), words, 0u);
    }
    friend int compare(const BigUnsigned& x, const BigUnsigned& y) {
        if (x.limbs_.size() != y.limbs_.size()) {
            return x.limbs_.size() < y.limbs_.size() ? -1 : 1;
        }
        for (std::size_t i = x.limbs_.size(); i-- > 0;) {
            if (x.limbs_[i] != y.limbs_[i]) {
                return x.limbs_[i] < y.limbs_[i] ? -1 : 1;
            }
        }
        return 0;
    }

  private:
    std::vector<std::uint32_t> limbs_;  // least significant first, no leading zero limbs
};

// The scanned magnitude of a finite number: its mantissa digits and scale.
struct ScannedNumber {
    bool hex = false;
    std::string_view intDigits;
    std::string_view fracDigits;
    long long exponent = 0;  // decimal: power of 10; hex: power of 2
};

constexpr long long kCutoff = 1100;

// Compares the exact value of `n` with m * 2^e.
int compareExact(const ScannedNumber& n, std::uint64_t m, int e) {
    BigUnsigned mantissa;
    bool sticky = false;
    long long unitExp = 0;  // place of the last kept digit: 10^unitExp or 2^unitExp
    bool anyKept = false;
    const int base = n.hex ? 16 : 10;
    const long long digitStep = n.hex ? 4 : 1;
    // Place of the first integer digit.
    long long place = n.exponent + digitStep * (static_cast<long long>(n.intDigits.size()) - 1);
    auto take = [&](char c) {
        const int d = n.hex ? hexValue(c) : c - '0';
        if (place >= -kCutoff) {
            mantissa.mulAdd(static_cast<std::uint32_t>(base), static_cast<std::uint32_t>(d));
            unitExp = place;
            anyKept = true;
        } else if (d != 0) {
            sticky = true;
        }
        place -= digitStep;
    };
    for (char c : n.intDigits) {
        take(c);
    }
    for (char c : n.fracDigits) {
        take(c);
    }
    if (!anyKept) {
        unitExp = 0;
    }
    // Value = mantissa * 2^a * 5^b (+ sticky); the other side is m * 2^e.
    const long long a = unitExp;
    const long long b = n.hex ? 0 : unitExp;
    BigUnsigned other(m);
    if (b > 0) {
        for (long long i = 0; i < b; ++i) {
            mantissa.mulAdd(5, 0);
        }
    } else {
        for (long long i = 0; i < -b; ++i) {
            other.mulAdd(5, 0);
        }
    }
    if (a >= e) {
        mantissa.shiftLeft(a - e);
    } else {
        other.shiftLeft(e - a);
    }
    const int c = compare(mantissa, other);
    return (c == 0 && sticky) ? 1 : c;
}

// Applies glibc's underflow rule to a correctly rounded magnitude.
void checkTiny(const ScannedNumber& n, double magnitude) {
    if (magnitude > DBL_MIN || magnitude == 0.0) {
        return;  // normal, or an exact zero (only zero digits reach here with 0.0)
    }
    if (magnitude < DBL_MIN) {
        // A subnormal result is tiny; it is out of range unless exact.
        int exp2 = 0;
        const double frac = std::frexp(magnitude, &exp2);  // magnitude = frac * 2^exp2
        const auto m = static_cast<std::uint64_t>(std::ldexp(frac, 53));
        if (compareExact(n, m, exp2 - 53) != 0) {
            throwRange();
        }
        return;
    }
    // Exactly DBL_MIN: tiny (and inexact) when the input lies below the point where rounding to
    // 53 bits with an unbounded exponent would still reach 2^-1022, that is 2^-1022 - 2^-1076.
    if (compareExact(n, (std::uint64_t{1} << 54) - 1, -1076) < 0) {
        throwRange();
    }
}

double convertScanned(std::string_view s, std::size_t begin, std::size_t end,
                      const ScannedNumber& n) {
    double value = 0.0;
    const auto fmt = n.hex ? std::chars_format::hex : std::chars_format::general;
    const auto result = std::from_chars(s.data() + begin, s.data() + end, value, fmt);
    if (result.ec == std::errc::result_out_of_range) {
        throwRange();
    }
    if (result.ec != std::errc() || result.ptr != s.data() + end) {
        throwInvalid();  // cannot happen for a scanned number; fail safe
    }
    checkTiny(n, value);
    return value;
}

// Exact powers of ten: every one up to 10^22 is a double.
constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                   1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

// The form of nearly every field of a real log: [sign] digits [. digits] with at most 18 digits,
// not followed by an exponent or a hexadecimal prefix. When the digits, read as one integer
// M, stay within 2^53 and k digits follow the point, M and 10^k are exact doubles and M / 10^k is
// one correctly rounded operation: the value strtod gives, never tiny, never out of range.
// Returns false, leaving the text to the general path, for every other form.
bool parsePlainDecimal(std::string_view s, double& value) {
    constexpr int kMaxDigits = 18;
    const char* p = s.data();
    const char* const end = p + s.size();
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    std::uint64_t mantissa = 0;
    int digits = 0;
    for (; p != end && isDigit(*p); ++p) {
        if (++digits > kMaxDigits) {
            return false;
        }
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    int fractionDigits = 0;
    if (p != end && *p == '.') {
        for (++p; p != end && isDigit(*p); ++p) {
            if (++digits > kMaxDigits) {
                return false;
            }
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*p - '0');
            ++fractionDigits;
        }
    }
    if (digits == 0 || mantissa > (std::uint64_t{1} << 53)) {
        return false;
    }
    // An exponent or a hexadecimal prefix ("0x") would continue the number: the general path.
    if (p != end && ((*p | 0x20) == 'e' || (*p | 0x20) == 'x')) {
        return false;
    }
    const double magnitude = static_cast<double>(mantissa) / kPowersOfTen[fractionDigits];
    value = negative ? -magnitude : magnitude;
    return true;
}

bool isNanSequenceChar(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_';
}

// The NaN that "nan(chars)" gives, as glibc makes it: when the characters read
// whole as an unsigned integer in C notation (decimal, 0x hexadecimal, 0
// octal), its low 51 bits become the payload of the quiet NaN. An integer that
// overflows is a range error, as strtoull reports it to strtod.
double nanWithPayload(std::string_view s, std::size_t afterNan) {
    double nan = std::numeric_limits<double>::quiet_NaN();
    if (afterNan >= s.size() || s[afterNan] != '(') {
        return nan;
    }
    const std::size_t begin = afterNan + 1;
    std::size_t end = begin;
    while (end < s.size() && isNanSequenceChar(s[end])) {
        ++end;
    }
    if (end >= s.size() || s[end] != ')') {
        return nan;
    }
    std::size_t i = begin;
    unsigned base = 10;
    if (end - i >= 3 && s[i] == '0' && (s[i + 1] | 0x20) == 'x' && isHexDigit(s[i + 2])) {
        base = 16;
        i += 2;
    } else if (i < end && s[i] == '0') {
        base = 8;
    }
    std::uint64_t mantissa = 0;
    bool overflow = false;
    for (; i < end; ++i) {
        const char c = s[i];
        unsigned digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
            digit = static_cast<unsigned>((c | 0x20) - 'a' + 10);
        } else {
            break;
        }
        if (digit >= base) {
            break;
        }
        if (mantissa > (std::numeric_limits<std::uint64_t>::max() - digit) / base) {
            overflow = true;
        }
        mantissa = mantissa * base + digit;
    }
    if (overflow) {
        throwRange();
    }
    const std::uint64_t payload = mantissa & ((std::uint64_t{1} << 51) - 1);
    if (i == end && payload != 0) {
        std::uint64_t bits;
        std::memcpy(&bits, &nan, sizeof bits);
        bits = (bits & ~((std::uint64_t{1} << 51) - 1)) | payload;
        std::memcpy(&nan, &bits, sizeof nan);
    }
    return nan;
}

}  // namespace

double parseDouble(std::string_view s) {
    double plain = 0.0;
    if (parsePlainDecimal(s, plain)) {
        return plain;
    }
    std::size_t i = 0;
    while (i < s.size() && isCSpace(s[i])) {
        ++i;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    auto sign = [negative](double v) { return negative ? -v : v; };

    if (hasWordAt(s, i, "inf")) {
        return sign(std::numeric_limits<double>::infinity());
    }
    if (hasWordAt(s, i, "nan")) {
        return sign(nanWithPayload(s, i + 3));
    }

    ScannedNumber n;
    // Hexadecimal: "0x" with at least one hex digit; otherwise the "0" alone is the number.
    if (s.size() - i >= 2 && s[i] == '0' && (s[i + 1] | 0x20) == 'x') {
        std::size_t j = i + 2;
        const std::size_t intBegin = j;
        while (j < s.size() && isHexDigit(s[j])) {
            ++j;
        }
        n.intDigits = s.substr(intBegin, j - intBegin);
        if (j < s.size() && s[j] == '.') {
            const std::size_t fracBegin = j + 1;
            std::size_t k = fracBegin;
            while (k < s.size() && isHexDigit(s[k])) {
                ++k;
            }
            n.fracDigits = s.substr(fracBegin, k - fracBegin);
            if (!n.intDigits.empty() || !n.fracDigits.empty()) {
                j = k;
            }
        }
        if (!n.intDigits.empty() || !n.fracDigits.empty()) {
            n.hex = true;
            const std::size_t expLen = exponentLength(s, j, 'p');
            if (expLen != 0) {
                n.exponent = readExponent(s, j + 1, j + expLen);
            }
            return sign(convertScanned(s, intBegin, j + expLen, n));
        }
    }

    const std::size_t intBegin = i;
    std::size_t j = skipDigits(s, i);
    n.intDigits = s.substr(intBegin, j - intBegin);
    if (j < s.size() && s[j] == '.') {
        const std::size_t fracEnd = skipDigits(s, j + 1);
        n.fracDigits = s.substr(j + 1, fracEnd - j - 1);
        j = fracEnd;
    }
    if (n.intDigits.empty() && n.fracDigits.empty()) {
        throwInvalid();
    }
    const std::size_t expLen = exponentLength(s, j, 'e');
    if (expLen != 0) {
        n.exponent = readExponent(s, j + 1, j + expLen);
    }
    return sign(convertScanned(s, intBegin, j + expLen, n));
}

}  // namespace vornakite
