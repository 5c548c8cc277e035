// The dBASE III attribute table of a yield point set: five numeric columns.
#pragma once

#include <cstdint>
#include <ostream>
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

// Writes the complete table for `points` (dated today) to `out`, front to back.
void writeDbfTable(std::ostream& out, const std::vector<YieldPoint>& points);
void writeDbfTable(std::ostream& out, const std::vector<YieldPoint>& points, DbfDate date);

}  // namespace vornakite
