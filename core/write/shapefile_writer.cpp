#include "write/shapefile_writer.hpp"

#include <array>
#include <fstream>
#include <stdexcept>
#include <string>

#include "write/byte_order.hpp"
#include "write/dbf_writer.hpp"

namespace vornakite {
namespace {

constexpr std::uint32_t kFileCode = 9994;
constexpr std::uint32_t kVersion = 1000;
constexpr std::uint32_t kShapeTypePoint = 1;
constexpr std::uint64_t kHeaderBytes = 100;
constexpr std::uint64_t kShpRecordBytes = 28;  // 8-byte record header + 20-byte point
constexpr std::uint64_t kShxRecordBytes = 8;
constexpr std::uint32_t kPointContentWords = 10;
constexpr std::size_t kFlushAt = 1 << 16;

struct BoundingBox {
    double xmin, ymin, xmax, ymax;
};

BoundingBox boundsOf(const std::vector<YieldPoint>& points) {
    BoundingBox box{points[0].longitude, points[0].latitude, points[0].longitude,
                    points[0].latitude};
    for (const auto& p : points) {
        if (p.longitude < box.xmin)
            box.xmin = p.longitude;
        if (p.longitude > box.xmax)
            box.xmax = p.longitude;
        if (p.latitude < box.ymin)
            box.ymin = p.latitude;
        if (p.latitude > box.ymax)
            box.ymax = p.latitude;
    }
    return box;
}

// The 100-byte header shared by .shp and .shx; they differ in the file length only.
void appendHeader(std::string& out, std::uint64_t fileBytes, const BoundingBox& box) {
    std::array<char, kHeaderBytes> h{};
    putBE32(&h[0], kFileCode);
    // bytes 4..23: five unused big-endian integers, zero
    putBE32(&h[24], static_cast<std::uint32_t>(fileBytes / 2));
    putLE32(&h[28], kVersion);
    putLE32(&h[32], kShapeTypePoint);
    putLEDouble(&h[36], box.xmin);
    putLEDouble(&h[44], box.ymin);
    putLEDouble(&h[52], box.xmax);
    putLEDouble(&h[60], box.ymax);
    putLEDouble(&h[68], 0.0);  // Zmin
    putLEDouble(&h[76], 0.0);  // Zmax
    putLEDouble(&h[84], 0.0);  // Mmin
    putLEDouble(&h[92], 0.0);  // Mmax
    out.append(h.data(), h.size());
}

void flushTo(std::ostream& out, std::string& buffer) {
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    buffer.clear();
}

}  // namespace

bool fitsShapefile(std::uint64_t pointCount) {
    return pointCount <= kMaxShapefilePoints;
}

void writeShapefileGeometry(std::ostream& shp, std::ostream& shx,
                            const std::vector<YieldPoint>& points) {
    const std::uint64_t n = points.size();
    const BoundingBox box = boundsOf(points);
    std::string shpBuf;
    std::string shxBuf;
    shpBuf.reserve(kFlushAt + kShpRecordBytes);
    shxBuf.reserve(kFlushAt + kShxRecordBytes);
    appendHeader(shpBuf, kHeaderBytes + kShpRecordBytes * n, box);
    appendHeader(shxBuf, kHeaderBytes + kShxRecordBytes * n, box);

    std::uint32_t number = 1;
    std::uint64_t offsetWords = kHeaderBytes / 2;
    for (const auto& p : points) {
        char rec[kShpRecordBytes];
        putBE32(rec + 0, number);
        putBE32(rec + 4, kPointContentWords);
        putLE32(rec + 8, kShapeTypePoint);
        putLEDouble(rec + 12, p.longitude);
        putLEDouble(rec + 20, p.latitude);
        shpBuf.append(rec, sizeof rec);

        char idx[kShxRecordBytes];
        putBE32(idx + 0, static_cast<std::uint32_t>(offsetWords));
        putBE32(idx + 4, kPointContentWords);
        shxBuf.append(idx, sizeof idx);

        ++number;
        offsetWords += kShpRecordBytes / 2;
        if (shpBuf.size() >= kFlushAt) {
            flushTo(shp, shpBuf);
            flushTo(shx, shxBuf);
        }
    }
    flushTo(shp, shpBuf);
    flushTo(shx, shxBuf);
}

void writeShapefileSet(const std::filesystem::path& basePath,
                       const std::vector<YieldPoint>& points) {
    if (points.empty()) {
        throw std::runtime_error("No records to write");
    }
    if (!fitsShapefile(points.size())) {
        throw std::runtime_error("Too many records for a shapefile");
    }
    auto withExtension = [&](const wchar_t* ext) {
        std::filesystem::path p = basePath;
        p += ext;
        return p;
    };
    const auto mode = std::ios::binary | std::ios::out | std::ios::trunc;
    std::ofstream shp(withExtension(L".shp"), mode);
    std::ofstream shx(withExtension(L".shx"), mode);
    std::ofstream dbf(withExtension(L".dbf"), mode);
    if (!shp.is_open() || !shx.is_open() || !dbf.is_open()) {
        throw std::runtime_error("Failed to create shapefile outputs");
    }

    writeShapefileGeometry(shp, shx, points);
    writeDbfTable(dbf, points);

    dbf.close();
    shx.close();
    shp.close();
    if (dbf.fail() || shx.fail() || shp.fail()) {
        throw std::runtime_error("Failed to write shapefile outputs");
    }
}

}  // namespace vornakite
