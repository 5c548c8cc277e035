// A single-band raster of 32-bit floats as a GeoTIFF: classic little-endian TIFF, uncompressed
// strips, georeferenced by a projected EPSG code, the pixel size and the north-west corner, with
// GDAL's NoData tag. Written strictly front to back into a byte sink, so that the caller can make
// it one output of a transaction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "write/output_transaction.hpp"

namespace vornakite {

inline constexpr OutputMessages kGeoTiffMessages = {"Failed to create yield grid output",
                                                    "Failed to write yield grid output"};

struct GeoTiffRaster {
    std::size_t columns = 0, rows = 0;
    double west = 0.0, north = 0.0;  // the outer corner of the north-west cell, in the CRS's units
    double cellSize = 0.0;           // square cells
    int epsg = 0;                    // a projected coordinate system (e.g. 32615, UTM 15 N)
    std::span<const float> values;   // row by row from the north; NaN: no data
};

// No data: the lowest finite float, which every GIS reads from GDAL's NoData tag and which is the
// usual NoData of float rasters (ArcGIS's default); NaN cells are written as it.
inline constexpr double kGeoTiffNoData = -3.4028234663852886e+38;

// Receives the file's bytes in order.
using ByteSink = std::function<void(const char* data, std::size_t size)>;

// The file's size in bytes.
std::uint64_t geoTiffSize(const GeoTiffRaster& raster);

// Writes the raster. Throws std::invalid_argument("Invalid raster") when it has no cell, its
// values are not columns x rows, its cell size is not a positive number, its corner is not
// finite or its code is not in 1..65535, and std::length_error("Raster too large for a TIFF")
// beyond the 4 GiB of a classic TIFF; and whatever the sink throws.
void writeGeoTiff(const GeoTiffRaster& raster, const ByteSink& sink);

}  // namespace vornakite
