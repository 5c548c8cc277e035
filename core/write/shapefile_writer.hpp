// The point geometry of a set: the .shp main file and its .shx index.
#pragma once

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "model/yield_point.hpp"

namespace vornakite {

// The most points whose .shp length in 16-bit words (50 + 14 n) fits the
// header's signed 32-bit field.
inline constexpr std::uint64_t kMaxShapefilePoints = (0x7FFFFFFFull - 50) / 14;

bool fitsShapefile(std::uint64_t pointCount);

inline constexpr std::size_t kShapefileHeaderBytes = 100;
inline constexpr std::size_t kShpRecordBytes = 28;  // 8-byte record header + 20-byte point
inline constexpr std::size_t kShxRecordBytes = 8;

// The extent of a set's points: started by the first point, widened by each later one.
struct BoundingBox {
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    bool empty = true;

    void include(std::span<const YieldPoint> points);
};

// Appends the 100-byte header of a .shp or .shx (they differ in the file length only).
void appendShapefileHeader(std::string& out, std::uint64_t fileBytes, const BoundingBox& box);
// Writes the .shp and .shx records of `points` (kShpRecordBytes and kShxRecordBytes each),
// numbered from `firstNumber` (1 for a set's first).
void putShapefileRecords(char* shp, char* shx, std::span<const YieldPoint> points,
                         std::uint64_t firstNumber);

// Writes the complete .shp and .shx of `points` (not empty) to the two streams, front to back.
void writeShapefileGeometry(std::ostream& shp, std::ostream& shx,
                            const std::vector<YieldPoint>& points);

}  // namespace vornakite
