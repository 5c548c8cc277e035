// The point shapefile set of one log: .shp, .shx and .dbf.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <vector>

#include "model/yield_point.hpp"

namespace vornakite {

// The most points whose .shp length in 16-bit words (50 + 14 n) fits the
// header's signed 32-bit field.
inline constexpr std::uint64_t kMaxShapefilePoints = (0x7FFFFFFFull - 50) / 14;

bool fitsShapefile(std::uint64_t pointCount);

// Writes the complete .shp and .shx of `points` (not empty) to the two streams, front to back.
void writeShapefileGeometry(std::ostream& shp, std::ostream& shx,
                            const std::vector<YieldPoint>& points);

// Writes basePath + ".shp", ".shx" and ".dbf" (the extension appended as
// text). Throws std::runtime_error: "No records to write", "Too many records
// for a shapefile", "Failed to create shapefile outputs" (an output could not
// be opened) or "Failed to write shapefile outputs" (a write or close failed).
void writeShapefileSet(const std::filesystem::path& basePath,
                       const std::vector<YieldPoint>& points);

}  // namespace vornakite
