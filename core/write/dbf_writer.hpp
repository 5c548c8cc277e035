// The dBASE III attribute table of a yield point set: the five numeric columns of the model,
// optionally followed by character columns.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/yield_point.hpp"

namespace vornakite {

// Date of last update as stored in the header.
struct DbfDate {
    int year;   // e.g. 2026
    int month;  // 1 to 12
    int day;    // 1 to 31
};

// Today's local calendar date.
DbfDate todayLocalDate();

// Formats `value` as "%.*f" with `decimals` digits (classic locale), right-
// aligned in exactly `width` bytes; text that does not fit, and any value
// that is not finite, becomes `width` asterisks. Writes to `out`, which must
// hold `width` bytes.
void formatNumericField(char* out, double value, int width, int decimals);

// Writes formatNumericField's `width` bytes to the stream.
void writeNumericField(std::ostream& out, double value, int width, int decimals);

// A character column after the numeric ones: left-aligned text padded with spaces; longer text
// is cut at a character boundary (the text is UTF-8).
struct TextColumn {
    std::string_view name;  // at most 10 ASCII characters
    std::uint8_t width;     // 1 to 254
};

// Header and record lengths of a table with the numeric columns and `text` columns.
std::size_t dbfHeaderLength(std::span<const TextColumn> text = {});
std::size_t dbfRecordLength(std::span<const TextColumn> text = {});

// Appends the header (with the field descriptors and the terminator) for `recordCount` records.
void appendDbfHeader(std::string& out, std::uint64_t recordCount, DbfDate date,
                     std::span<const TextColumn> text = {});
// Writes one record per point, without text columns: dbfRecordLength() bytes each.
void putDbfRecords(char* out, std::span<const YieldPoint> points);
void appendDbfRecords(std::string& out, std::span<const YieldPoint> points);
// Writes one record with `values` for the text columns (missing values are blank):
// dbfRecordLength(text) bytes.
void putDbfRecord(char* out, const YieldPoint& point, std::span<const TextColumn> text,
                  std::span<const std::string_view> values);

inline constexpr char kDbfEndOfFile = 0x1A;

// Writes the complete table for `points` (dated today) to `out`, front to back.
void writeDbfTable(std::ostream& out, const std::vector<YieldPoint>& points);
void writeDbfTable(std::ostream& out, const std::vector<YieldPoint>& points, DbfDate date);

}  // namespace vornakite
