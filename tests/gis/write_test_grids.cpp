// Writes the GeoTIFFs that test_geotiff.py reads back with GDAL: two rasters of known values and
// NoData cells (north and south of the equator, one strip and several), and the yield surface of
// a small field of constant yield near 93.64 W 42.03 N with a hole in it.
//
// usage: write_test_grids FOLDER
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "analysis/surface.hpp"
#include "write/geotiff_writer.hpp"

namespace {

bool write(const std::string& path, const vornakite::GeoTiffRaster& raster) {
    std::ofstream out(path, std::ios::binary);
    vornakite::writeGeoTiff(raster, [&](const char* data, std::size_t size) {
        out.write(data, static_cast<std::streamsize>(size));
    });
    return static_cast<bool>(out);
}

// Value r * scale + c (+ 0.5), NaN where (r * 7 + c) % every == 0.
std::vector<float> pattern(std::size_t columns, std::size_t rows, float scale, std::size_t every) {
    std::vector<float> v(columns * rows);
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < columns; ++c) {
            v[r * columns + c] = (r * 7 + c) % every == 0
                                     ? std::numeric_limits<float>::quiet_NaN()
                                     : static_cast<float>(r) * scale + static_cast<float>(c) + 0.5f;
        }
    }
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: write_test_grids FOLDER\n", stderr);
        return 2;
    }
    const std::string folder = argv[1];
    const std::vector<float> small = pattern(7, 5, 10.0f, 4);
    const std::vector<float> large = pattern(300, 250, 1000.0f, 11);
    bool ok = write(folder + "/north.tif", {7, 5, 447000.0, 4653310.0, 2.5, 32615, small});
    ok = ok &&
         write(folder + "/south_strips.tif", {300, 250, 819000.0, 8173500.0, 1.0, 32760, large});
    // Passes 6 m apart, 200 m long, heading east, a sample every 2 m, yield 150 everywhere but
    // for a hole from 80 to 120 m.
    std::vector<vornakite::YieldPoint> points;
    for (int pass = 0; pass < 10; ++pass) {
        for (int k = 0; k <= 100; ++k) {
            if (k >= 40 && k <= 60) {
                continue;
            }
            const double east = 2.0 * k, north = 6.0 * pass;
            points.push_back(
                {-93.64 + east / (111319.49 * std::cos(42.03 * 3.14159265358979 / 180)),
                 42.03 + north / 111034.0, 150.0, 18.0, 0.0, 56.0, 4.5});
        }
    }
    const auto s = vornakite::analysis::buildSurface(points, {}, 6.0, {.cellMetres = 5.0});
    ok = ok && write(folder + "/surface.tif",
                     {s.columns, s.rows, s.west, s.north, s.cellMetres, s.epsg, s.values});
    return ok ? 0 : 1;
}
