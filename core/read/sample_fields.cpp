#include "read/sample_fields.hpp"

#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "model/conversion_error.hpp"
#include "read/number.hpp"

namespace vornakite {
namespace {

// The common form of a field, an optional sign and 1 to 15 decimal digits filling the field,
// read as strtod reads it: the digits are an integer below 2^53, so the double is exact, and the
// sign is applied last so that "-0" gives -0.0. False for every other form.
inline bool parsePlainInteger(const char* p, const char* end, double& value) {
    bool negative = false;
    if (p != end && (*p == '-' || *p == '+')) {
        negative = *p == '-';
        ++p;
    }
    if (end - p < 1 || end - p > 15) {
        return false;
    }
    std::uint64_t digits = 0;
    if constexpr (std::endian::native == std::endian::little) {
        if (end - p >= 8) {
            // Eight digits at once: each byte less '0' must be 0 to 9, then pairs, quads and the
            // two halves are combined by multiplications.
            std::uint64_t eight;
            std::memcpy(&eight, p, 8);
            const std::uint64_t low = eight - 0x3030303030303030ull;
            const std::uint64_t high = eight + 0x4646464646464646ull;
            if (((low | high) & 0x8080808080808080ull) != 0) {
                return false;
            }
            std::uint64_t v = low * 10 + (low >> 8);
            v = (((v & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
                 (((v >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
                32;
            digits = v;
            p += 8;
        }
    }
    for (; p != end; ++p) {
        const auto d = static_cast<unsigned>(static_cast<unsigned char>(*p) - '0');
        if (d > 9) {
            return false;
        }
        digits = digits * 10 + d;
    }
    const auto magnitude = static_cast<double>(digits);
    value = negative ? -magnitude : magnitude;
    return true;
}

inline double fieldValue(const char* line, const std::uint32_t* separators, int k) {
    const char* begin = line + separators[k - 1] + 1;
    const char* end = line + separators[k];
    double value;
    if (parsePlainInteger(begin, end, value)) {
        return value;
    }
    return parseDouble(std::string_view(begin, static_cast<std::size_t>(end - begin)));
}

// Out of line: building the error stays off the way of good samples.
[[noreturn]] void throwNonFinite(const YieldPoint& point) {
    ConversionError error(ErrorCode::nonFiniteCoordinate, "Non-finite coordinate in yield data");
    error.place.field = std::isfinite(point.latitude) ? 8 : 7;
    throw error;
}

}  // namespace

void parseSampleFields(const char* line, const std::uint32_t* separators, YieldPoint& point) {
    const double lat = fieldValue(line, separators, 7);
    const double lon = fieldValue(line, separators, 8);
    const double yld = fieldValue(line, separators, 6);
    const double moist = fieldValue(line, separators, 5);
    const double weight = fieldValue(line, separators, 4);
    const double dens = fieldValue(line, separators, 14);
    const double speed = fieldValue(line, separators, 1);
    point = {lon / kPointUnits[0],   lat / kPointUnits[1],    yld / kPointUnits[2],
             moist / kPointUnits[3], weight / kPointUnits[4], dens / kPointUnits[5],
             speed / kPointUnits[6]};
    if (!std::isfinite(point.longitude) || !std::isfinite(point.latitude)) {
        throwNonFinite(point);
    }
}

void markBadField(CodedError& error, std::string_view line) {
    std::uint32_t separators[kSampleSeparators];
    std::size_t found = 0;
    for (std::size_t i = 0; i < line.size() && found < kSampleSeparators; ++i) {
        if (line[i] == '@') {
            separators[found++] = static_cast<std::uint32_t>(i);
        }
    }
    if (error.place.field || found < kSampleSeparators) {
        return;
    }
    for (const int k : {7, 8, 6, 5, 4, 14, 1}) {  // as parseSampleFields converts them
        try {
            fieldValue(line.data(), separators, k);
        } catch (const std::exception&) {
            error.place.field = static_cast<unsigned>(k);
            return;
        }
    }
}

}  // namespace vornakite
