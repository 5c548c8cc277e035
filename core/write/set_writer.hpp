// The set writer: one object owns all five files of a shapefile set (.shp, .shx, .dbf, .prj,
// .cpg), writes them as the points arrive into temporaries of a transaction, and completes their
// headers when the last point is in. The transaction moves them into place.
#pragma once

#include <exception>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "model/yield_point.hpp"
#include "write/byte_buffer.hpp"
#include "write/dbf_writer.hpp"
#include "write/format_writer.hpp"
#include "write/output_transaction.hpp"
#include "write/shapefile_writer.hpp"

namespace vornakite {

// The .prj and .cpg contents (no line end).
inline constexpr std::string_view kWgs84Prj =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
    "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]";
inline constexpr std::string_view kCodePage = "UTF-8";

class ShapefileSetWriter : public FormatWriter {
  public:
    // Adds the set's outputs, named base path + suffix + extension, to `transaction`; every
    // writer of a transaction is made before anything is written. `extensions` name the main
    // file, its index and the table, then the two side files (.shp .shx .dbf .prj .cpg).
    ShapefileSetWriter(OutputTransaction& transaction, SetLayout layout,
                       std::span<const std::wstring> extensions);

    void addPoints(std::span<const YieldPoint> points) override;
    void addPoint(const YieldPoint& point, std::span<const std::string_view> texts) override;

    // Completes the five files; throws the first failure: "Too many records for a shapefile", a
    // failure kept from adding, or one of writing the rest.
    void finish() override;

    std::uint64_t pointCount() const { return count_; }

  private:
    void flushIfFull();
    void flush();

    OutputTransaction& transaction_;
    SetLayout layout_;
    std::size_t shpFile_, shxFile_, dbfFile_, prjFile_ = 0, cpgFile_ = 0;
    ByteBuffer shp_, shx_, dbf_;
    BoundingBox box_;
    std::uint64_t count_ = 0;
    bool flushed_ = false;  // the temporaries hold records and placeholder headers
    std::exception_ptr failure_;
};

// Writes the .shp, .shx and .dbf of `points` (not empty) to basePath + extension, whole or not
// at all: after a failure, files of those names are as they were. Throws std::runtime_error: "No
// records to write", "Too many records for a shapefile", "Failed to create shapefile outputs" or
// "Failed to write shapefile outputs".
void writeShapefileSet(const std::filesystem::path& basePath,
                       const std::vector<YieldPoint>& points);

}  // namespace vornakite
