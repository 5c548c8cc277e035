#include "write/dbf_writer.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "write/byte_order.hpp"

namespace vornakite {
namespace {

constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kDescriptorSize = 32;
constexpr std::size_t kColumnCount = std::size(kAttributeColumns);
constexpr std::size_t kHeaderLength = kHeaderSize + kColumnCount * kDescriptorSize + 1;
constexpr std::size_t kRecordsPerFlush = 2048;

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
constexpr char kNotDeleted = ' ';

void appendDescriptor(std::string& out, std::string_view name, char type, std::uint8_t width,
                      std::uint8_t decimals) {
    std::array<char, kDescriptorSize> d{};
    std::memcpy(&d[0], name.data(), std::min<std::size_t>(name.size(), 10));
    d[11] = type;
    // bytes 12..15: field data address, zero
    d[16] = static_cast<char>(width);
    d[17] = static_cast<char>(decimals);
    // bytes 18..31 reserved, zero
    out.append(d.data(), d.size());
}

// The longest prefix of `text` of at most `width` bytes that ends on a UTF-8 character boundary.
std::size_t fittingLength(std::string_view text, std::size_t width) {
    if (text.size() <= width) {
        return text.size();
    }
    std::size_t n = width;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;  // text[n] continues the character that began before it
    }
    return n;
}

constexpr double kPowersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8};

// Where a numeric column begins in a record, after the deletion flag.
constexpr std::size_t columnOffset(std::size_t column) {
    std::size_t offset = 1;
    for (std::size_t c = 0; c < column; ++c) {
        offset += kAttributeColumns[c].width;
    }
    return offset;
}

void fillStars(char* out, int width) {
    std::memset(out, '*', static_cast<std::size_t>(width));
}

// Writes the "%.*f" text of a value right-aligned into `width` bytes (or asterisks when it is
// longer), computed from |value| * 10^decimals in double precision when that settles the
// rounding. Below 2^52 every tie k + 1/2 is a double, and rounding the product to a double is
// monotonic, so the scaled double lies on the same side of a tie as the exact product, or on
// the tie itself. Returns false, writing nothing, for a value that is a tie, too large or not
// finite, which are left to the exact formatter. The digits go in from the right; running out of
// room means the text is too long. With `blankFirst` the field holds blanks already.
inline bool formatFieldFast(char* out, double value, int width, int decimals,
                            bool blankFirst = false) {
    if (decimals < 0 || decimals >= static_cast<int>(std::size(kPowersOfTen))) {
        return false;
    }
    const double scaled = std::fabs(value) * kPowersOfTen[decimals];
    if (!(scaled < 1e15)) {
        return false;
    }
    const auto whole = static_cast<std::uint64_t>(scaled);  // scaled >= 0: truncation is floor
    const double fraction = scaled - static_cast<double>(whole);  // exact
    if (fraction == 0.5) {
        return false;
    }
    std::uint64_t rounded = whole + (fraction > 0.5 ? 1u : 0u);
    // The shortest text, "0" or "0." and the decimals, must fit before anything is written.
    if (width < (decimals > 0 ? decimals + 2 : 1)) {
        fillStars(out, width);
        return true;
    }
    char* p = out + width;
    for (int d = 0; d < decimals; ++d) {
        *--p = static_cast<char>('0' + rounded % 10);
        rounded /= 10;
    }
    if (decimals > 0) {
        *--p = '.';
    }
    do {  // at least one digit before the point
        if (p == out) {
            fillStars(out, width);
            return true;
        }
        *--p = static_cast<char>('0' + rounded % 10);
        rounded /= 10;
    } while (rounded != 0);
    if (std::signbit(value)) {  // also for a negative value that rounds to zero
        if (p == out) {
            fillStars(out, width);
            return true;
        }
        *--p = '-';
    }
    if (!blankFirst) {
        std::memset(out, ' ', static_cast<std::size_t>(p - out));
    }
    return true;
}

constexpr char kBlanks[] = "                                ";

// A field whose width is known at compile time is blanked by a few fixed stores first, and the
// digits overwrite its right end.
template <int Width, int Decimals>
inline void formatColumn(char* out, double value) {
    static_assert(Width < static_cast<int>(sizeof kBlanks));
    std::memcpy(out, kBlanks, Width);
    if (!formatFieldFast(out, value, Width, Decimals, true)) {
        formatNumericField(out, value, Width, Decimals);
    }
}

// The numeric columns of one record, each formatted with its own width and decimals known at
// compile time.
template <std::size_t... I>
inline void formatNumericColumns(char* at, const YieldPoint& p, std::index_sequence<I...>) {
    constexpr std::size_t offsets[] = {columnOffset(I)...};
    (formatColumn<kAttributeColumns[I].width, kAttributeColumns[I].decimals>(
         at + offsets[I], p.*kAttributeColumns[I].member),
     ...);
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

std::size_t dbfHeaderLength(std::span<const TextColumn> text) {
    return kHeaderLength + text.size() * kDescriptorSize;
}

std::size_t dbfRecordLength(std::span<const TextColumn> text) {
    std::size_t length = kRecordLength;
    for (const auto& column : text) {
        length += column.width;
    }
    return length;
}

void appendDbfHeader(std::string& out, std::uint64_t recordCount, DbfDate date,
                     std::span<const TextColumn> text) {
    std::array<char, kHeaderSize> h{};
    h[0] = 0x03;  // dBASE III, no memo
    h[1] = static_cast<char>((date.year - 1900) & 0xFF);
    h[2] = static_cast<char>(date.month);
    h[3] = static_cast<char>(date.day);
    putLE32(&h[4], static_cast<std::uint32_t>(recordCount));
    putLE16(&h[8], static_cast<std::uint16_t>(dbfHeaderLength(text)));
    putLE16(&h[10], static_cast<std::uint16_t>(dbfRecordLength(text)));
    // bytes 12..31 reserved, zero
    out.append(h.data(), h.size());
    for (const auto& column : kAttributeColumns) {
        appendDescriptor(out, column.name, column.type, column.width, column.decimals);
    }
    for (const auto& column : text) {
        appendDescriptor(out, column.name, 'C', column.width, 0);
    }
    out += kHeaderTerminator;
}

void putDbfRecords(char* out, std::span<const YieldPoint> points) {
    for (const auto& p : points) {
        out[0] = kNotDeleted;
        formatNumericColumns(out, p, std::make_index_sequence<kColumnCount>());
        out += kRecordLength;
    }
}

void putDbfRecord(char* out, const YieldPoint& point, std::span<const TextColumn> text,
                  std::span<const std::string_view> values) {
    putDbfRecords(out, std::span<const YieldPoint>(&point, 1));
    out += kRecordLength;
    for (std::size_t c = 0; c < text.size(); ++c) {
        const std::string_view value = c < values.size() ? values[c] : std::string_view();
        const std::size_t n = fittingLength(value, text[c].width);
        std::memcpy(out, value.data(), n);
        std::memset(out + n, ' ', text[c].width - n);
        out += text[c].width;
    }
}

void appendDbfRecords(std::string& out, std::span<const YieldPoint> points) {
    const std::size_t start = out.size();
    out.resize(start + points.size() * kRecordLength);
    putDbfRecords(out.data() + start, points);
}

void writeDbfTable(std::ostream& out, const std::vector<YieldPoint>& points) {
    writeDbfTable(out, points, todayLocalDate());
}

void writeDbfTable(std::ostream& out, const std::vector<YieldPoint>& points, DbfDate date) {
    std::string buffer;
    appendDbfHeader(buffer, points.size(), date);
    const std::span<const YieldPoint> all(points);
    for (std::size_t i = 0; i < all.size(); i += kRecordsPerFlush) {
        appendDbfRecords(buffer, all.subspan(i, std::min(kRecordsPerFlush, all.size() - i)));
        out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        buffer.clear();
    }
    buffer += kDbfEndOfFile;
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
}

}  // namespace vornakite
