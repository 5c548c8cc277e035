#include "write/dbf_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

#include "write/byte_order.hpp"

namespace vornakite {
namespace {

constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kDescriptorSize = 32;
constexpr std::size_t kColumnCount = std::size(kAttributeColumns);
constexpr std::size_t kHeaderLength = kHeaderSize + kColumnCount * kDescriptorSize + 1;

constexpr std::size_t recordLength() {
    std::size_t length = 1;  // deletion flag
    for (const auto& column : kAttributeColumns) {
        length += column.width;
    }
    return length;
}
constexpr std::size_t kRecordLength = recordLength();
static_assert(kHeaderLength == 193 && kRecordLength == 41);

constexpr char kHeaderTerminator = 0x0D;
constexpr char kEndOfFile = 0x1A;
constexpr char kNotDeleted = ' ';
constexpr std::size_t kFlushAt = 1 << 16;

void appendHeader(std::string& out, std::size_t recordCount, DbfDate date) {
    std::array<char, kHeaderSize> h{};
    h[0] = 0x03;  // dBASE III, no memo
    h[1] = static_cast<char>((date.year - 1900) & 0xFF);
    h[2] = static_cast<char>(date.month);
    h[3] = static_cast<char>(date.day);
    putLE32(&h[4], static_cast<std::uint32_t>(recordCount));
    putLE16(&h[8], static_cast<std::uint16_t>(kHeaderLength));
    putLE16(&h[10], static_cast<std::uint16_t>(kRecordLength));
    // bytes 12..31 reserved, zero
    out.append(h.data(), h.size());

    for (const auto& column : kAttributeColumns) {
        std::array<char, kDescriptorSize> d{};
        std::memcpy(&d[0], column.name.data(), std::min<std::size_t>(column.name.size(), 10));
        d[11] = column.type;
        // bytes 12..15: field data address, zero
        d[16] = static_cast<char>(column.width);
        d[17] = static_cast<char>(column.decimals);
        // bytes 18..31 reserved, zero
        out.append(d.data(), d.size());
    }
    out += kHeaderTerminator;
}

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

// "00" to "99", for writing two digits at a time.
constexpr auto kDigitPairs = [] {
    std::array<char, 200> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
        pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// Number of decimal digits of v (at least 1).
int decimalDigits(std::uint64_t v) {
    int n = 1;
    for (; v >= 100; v /= 100) {
        n += 2;
    }
    return v >= 10 ? n + 1 : n;
}

// Writes the "%.*f" text of a finite value right-aligned into `width` bytes (or asterisks when it
// is longer), computed from |value| * 10^decimals in double precision when that settles the
// rounding. Below 2^52 every tie k + 1/2 is a double, and rounding the product to a double is
// monotonic, so the scaled double lies on the same side of a tie as the exact product, or on
// the tie itself. Returns false, writing nothing, for a scaled value that is a tie or too large,
// which are left to the exact formatter.
bool formatFieldFast(char* out, double value, int width, int decimals) {
    if (decimals < 0 || decimals >= static_cast<int>(std::size(kPowersOfTen))) {
        return false;
    }
    const double scaled = std::fabs(value) * kPowersOfTen[decimals];
    if (!(scaled < 1e15)) {
        return false;
    }
    const auto whole = static_cast<std::int64_t>(scaled);  // scaled >= 0: truncation is floor
    const double fraction = scaled - static_cast<double>(whole);  // exact
    if (fraction == 0.5) {
        return false;
    }
    auto rounded = static_cast<std::uint64_t>(whole) + (fraction > 0.5 ? 1u : 0u);
    // At least one digit before the point; a sign also for a negative value rounding to zero.
    const int digits = std::max(decimalDigits(rounded), decimals + 1);
    const int length = (std::signbit(value) ? 1 : 0) + digits + (decimals > 0 ? 1 : 0);
    const auto w = static_cast<std::size_t>(width);
    if (length > width) {
        std::memset(out, '*', w);
        return true;
    }
    std::memset(out, ' ', w);
    char* p = out + width;
    int left = digits;  // digits still to write, the last ones first
    auto writeDigits = [&](int count) {
        for (; count >= 2; count -= 2, left -= 2) {
            const auto pair = static_cast<std::size_t>(2 * (rounded % 100));
            rounded /= 100;
            p -= 2;
            p[0] = kDigitPairs[pair];
            p[1] = kDigitPairs[pair + 1];
        }
        if (count == 1) {
            *--p = static_cast<char>('0' + rounded % 10);
            rounded /= 10;
            --left;
        }
    };
    writeDigits(decimals);
    if (decimals > 0) {
        *--p = '.';
    }
    writeDigits(left);
    if (std::signbit(value)) {
        *--p = '-';
    }
    return true;
}

}  // namespace

DbfDate todayLocalDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

void formatNumericField(char* out, double value, int width, int decimals) {
    const auto w = static_cast<std::size_t>(width);
    if (!std::isfinite(value)) {
        std::memset(out, '*', w);
        return;
    }
    if (formatFieldFast(out, value, width, decimals)) {
        return;
    }
    char text[400];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    const auto length = static_cast<std::size_t>(result.ptr - text);
    if (result.ec != std::errc() || length > w) {
        std::memset(out, '*', w);
        return;
    }
    std::memset(out, ' ', w - length);
    std::memcpy(out + (w - length), text, length);
}

void writeNumericField(std::ostream& out, double value, int width, int decimals) {
    std::string field(static_cast<std::size_t>(width), ' ');
    formatNumericField(field.data(), value, width, decimals);
    out.write(field.data(), width);
}

void writeDbfTable(std::ostream& out, const std::vector<YieldPoint>& points) {
    writeDbfTable(out, points, todayLocalDate());
}

void writeDbfTable(std::ostream& out, const std::vector<YieldPoint>& points, DbfDate date) {
    std::string buffer;
    buffer.reserve(kFlushAt + kRecordLength);
    appendHeader(buffer, points.size(), date);

    for (const auto& p : points) {
        char record[kRecordLength];
        record[0] = kNotDeleted;
        char* at = record + 1;
        for (std::size_t c = 0; c < kColumnCount; ++c) {
            const AttributeColumn& column = kAttributeColumns[c];
            formatNumericField(at, p.*column.member, column.width, column.decimals);
            at += column.width;
        }
        buffer.append(record, kRecordLength);
        if (buffer.size() >= kFlushAt) {
            out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
            buffer.clear();
        }
    }
    buffer += kEndOfFile;
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
}

}  // namespace vornakite
