// Reading yield-monitor logs: one '@'-separated header line, then records of
// which those tagged "DY" are yield samples.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "model/yield_point.hpp"
#include "read/log_reader.hpp"

namespace vornakite {

struct YieldLog {
    LogHeader header;                // at least 9 fields
    std::vector<YieldPoint> points;  // at least 1, in file order
};

// Splits one line on '@' with no quoting or trimming; n separators give n + 1 fields.
std::vector<std::string> splitFields(std::string_view line);

// Parses one record line (without its line end) into `point`. Returns false for a line that
// is no sample: shorter than 2 bytes, not beginning with "DY", or of fewer than 16 fields.
// Throws the errors of parseDouble for a field that is not a number, and std::runtime_error
// "Non-finite coordinate in yield data" for an infinite or NaN position, with the field's number.
bool parseSampleLine(std::string_view line, YieldPoint& point);

// Reads a whole log into memory with readLog's rules. Throws std::runtime_error ("Cannot open
// file", "Cannot read file", "Empty file", "Invalid header format", "Non-finite coordinate in yield
// data", "No yield data (DY) lines found") or the errors of parseDouble for a sample field that is
// not a number.
YieldLog readYieldLog(const std::filesystem::path& inputPath);

}  // namespace vornakite
