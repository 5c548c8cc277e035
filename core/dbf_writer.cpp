#include "dbf_writer.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string>

#include "byte_order.hpp"

namespace vornakite {
namespace {

constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kDescriptorSize = 32;
constexpr std::size_t kColumnCount = std::size(kDbfColumns);
constexpr std::size_t kHeaderLength = kHeaderSize + kColumnCount * kDescriptorSize + 1;

constexpr std::size_t recordLength() {
    std::size_t length = 1;  // deletion flag
    for (const auto& column : kDbfColumns) {
        length += column.length;
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

    for (const auto& column : kDbfColumns) {
        std::array<char, kDescriptorSize> d{};
        std::memcpy(&d[0], column.name.data(), std::min<std::size_t>(column.name.size(), 10));
        d[11] = column.type;
        // bytes 12..15: field data address, zero
        d[16] = static_cast<char>(column.length);
        d[17] = static_cast<char>(column.decimals);
        // bytes 18..31 reserved, zero
        out.append(d.data(), d.size());
    }
    out += kHeaderTerminator;
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
    char text[400];
    std::to_chars_result result{};
    if (std::isfinite(value)) {
        result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    }
    const auto length = static_cast<std::size_t>(result.ptr - text);
    if (!std::isfinite(value) || result.ec != std::errc() || length > w) {
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
        const double values[kColumnCount] = {p.yield, p.moisture, p.weight, p.density, p.speed};
        char record[kRecordLength];
        record[0] = kNotDeleted;
        char* at = record + 1;
        for (std::size_t c = 0; c < kColumnCount; ++c) {
            formatNumericField(at, values[c], kDbfColumns[c].length, kDbfColumns[c].decimals);
            at += kDbfColumns[c].length;
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
