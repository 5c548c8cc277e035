// Differential fuzzing of the number conversion against std::stod: for any
// bytes, the same value (bit for bit) or the same exception and message.
#include <cctype>
#include <cfloat>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "read/number.hpp"

namespace {

struct Outcome {
    enum Kind { kValue, kInvalid, kRange } kind;
    double value = 0;
};

// std::stod reads the text up to its first NUL, as strtod does.
Outcome reference(const std::string& text) {
    try {
        return {Outcome::kValue, std::stod(text)};
    } catch (const std::invalid_argument&) {
        return {Outcome::kInvalid};
    } catch (const std::out_of_range&) {
        return {Outcome::kRange};
    }
}

Outcome ours(std::string_view text) {
    try {
        return {Outcome::kValue, vornakite::parseDouble(text)};
    } catch (const std::invalid_argument& e) {
        if (std::strcmp(e.what(), "invalid stod argument") != 0)
            std::abort();
        return {Outcome::kInvalid};
    } catch (const std::out_of_range& e) {
        if (std::strcmp(e.what(), "stod argument out of range") != 0)
            std::abort();
        return {Outcome::kRange};
    }
}

// glibc misjudges some inexact hexadecimal subnormals: it drops the 54th
// significant bit when it denormalises, so it may round wrongly and call an
// inexact result exact (no range error). Ours follows the rule exactly (a tiny
// inexact result is a range error), so for those inputs a range error is right.
bool isInexactHexSubnormal(const std::string& text) {
    const std::string s = text.substr(0, text.find('\0'));
    std::size_t i = s.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string::npos)
        return false;
    if (s[i] == '+' || s[i] == '-')
        ++i;
    if (s.compare(i, 2, "0x") != 0 && s.compare(i, 2, "0X") != 0)
        return false;
    double magnitude = 0;
    const char* first = s.data() + i + 2;
    const auto parsed =
        std::from_chars(first, s.data() + s.size(), magnitude, std::chars_format::hex);
    if (parsed.ptr == first || std::fabs(magnitude) >= DBL_MIN)
        return false;
    // Bit positions of the highest and lowest set bits of the digits, then the exponent.
    long position = 0, lowest = LONG_MAX;
    bool seenPoint = false;
    std::size_t j = i + 2;
    long intDigits = 0;
    for (std::size_t k = j; k < s.size() && (std::isxdigit(static_cast<unsigned char>(s[k])) ||
                                             (s[k] == '.' && !seenPoint));
         ++k) {
        if (s[k] == '.') {
            seenPoint = true;
        } else if (!seenPoint) {
            ++intDigits;
        }
    }
    seenPoint = false;
    long digitIndex = 0;
    for (; j < s.size(); ++j) {
        if (s[j] == '.' && !seenPoint) {
            seenPoint = true;
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(s[j])))
            break;
        const int value = std::stoi(std::string(1, s[j]), nullptr, 16);
        position = 4 * (intDigits - 1 - digitIndex);
        if (value != 0)
            lowest = position + __builtin_ctz(static_cast<unsigned>(value));
        ++digitIndex;
    }
    long exponent = 0;
    if (j + 1 < s.size() && (s[j] == 'p' || s[j] == 'P')) {
        exponent = std::strtol(s.c_str() + j + 1, nullptr, 10);
    }
    return lowest != LONG_MAX && lowest + exponent < -1074;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Outcome want = reference(text);
    const Outcome got = ours(text);
    const bool same =
        want.kind == got.kind &&
        (want.kind != Outcome::kValue || std::memcmp(&want.value, &got.value, sizeof(double)) == 0);
    const bool glibcMisjudged =
        want.kind == Outcome::kValue && got.kind == Outcome::kRange && isInexactHexSubnormal(text);
    if (!same && !glibcMisjudged) {
        std::fprintf(stderr, "mismatch for \"%s\": stod kind %d value %a, ours kind %d value %a\n",
                     text.c_str(), want.kind, want.value, got.kind, got.value);
        std::abort();
    }
    return 0;
}
