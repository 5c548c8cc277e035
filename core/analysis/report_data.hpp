// A report section's map data for the page's script, compactly: positions as 16-bit pairs, each
// value column as the differences of its values at the set's decimals (zig-zag varints), the
// removed points as a sparse list of their filter masks, and the surface layer as bytes, all in
// base64. The page decodes a section's data only when its map first comes into view.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "analysis/report_model.hpp"

namespace vornakite::analysis {

// The script element that adds the section's map to the page's list (VK_LOGS).
std::string mapDataScript(const ReportSection& section);

// The page's table of filters (code, name, colour) for the script: VK_REASONS.
std::string reasonTableScript();

void appendBase64(std::string& out, std::span<const std::uint8_t> data);

// Unsigned LEB128; a signed value zig-zag coded first.
void appendVarint(std::vector<std::uint8_t>& out, std::uint64_t v);
inline std::uint64_t zigZag(std::int64_t v) {
    return (static_cast<std::uint64_t>(v) << 1) ^ static_cast<std::uint64_t>(v >> 63);
}

}  // namespace vornakite::analysis
