#include "write/shapefile_writer.hpp"

#include <algorithm>
#include <array>

#include "write/byte_order.hpp"

namespace vornakite {
namespace {

constexpr std::uint32_t kFileCode = 9994;
constexpr std::uint32_t kVersion = 1000;
constexpr std::uint32_t kShapeTypePoint = 1;
constexpr std::uint32_t kPointContentWords = 10;
constexpr std::size_t kRecordsPerFlush = 2048;

void flushTo(std::ostream& out, std::string& buffer) {
    out.write(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    buffer.clear();
}

}  // namespace

bool fitsShapefile(std::uint64_t pointCount) {
    return pointCount <= kMaxShapefilePoints;
}

void BoundingBox::include(std::span<const YieldPoint> points) {
    if (points.empty()) {
        return;
    }
    if (empty) {
        xmin = xmax = points[0].longitude;
        ymin = ymax = points[0].latitude;
        empty = false;
    }
    for (const auto& p : points) {
        if (p.longitude < xmin)
            xmin = p.longitude;
        if (p.longitude > xmax)
            xmax = p.longitude;
        if (p.latitude < ymin)
            ymin = p.latitude;
        if (p.latitude > ymax)
            ymax = p.latitude;
    }
}

void appendShapefileHeader(std::string& out, std::uint64_t fileBytes, const BoundingBox& box) {
    std::array<char, kShapefileHeaderBytes> h{};
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

void putShapefileRecords(char* rec, char* idx, std::span<const YieldPoint> points,
                         std::uint64_t firstNumber) {
    auto number = static_cast<std::uint32_t>(firstNumber);
    auto offsetWords = static_cast<std::uint32_t>(
        (kShapefileHeaderBytes + (firstNumber - 1) * kShpRecordBytes) / 2);
    for (const auto& p : points) {
        putBE32(rec + 0, number);
        putBE32(rec + 4, kPointContentWords);
        putLE32(rec + 8, kShapeTypePoint);
        putLEDouble(rec + 12, p.longitude);
        putLEDouble(rec + 20, p.latitude);
        putBE32(idx + 0, offsetWords);
        putBE32(idx + 4, kPointContentWords);
        rec += kShpRecordBytes;
        idx += kShxRecordBytes;
        ++number;
        offsetWords += kShpRecordBytes / 2;
    }
}

void writeShapefileGeometry(std::ostream& shp, std::ostream& shx,
                            const std::vector<YieldPoint>& points) {
    const std::span<const YieldPoint> all(points);
    BoundingBox box;
    box.include(all);
    std::string shpBuf;
    std::string shxBuf;
    appendShapefileHeader(shpBuf, kShapefileHeaderBytes + kShpRecordBytes * all.size(), box);
    appendShapefileHeader(shxBuf, kShapefileHeaderBytes + kShxRecordBytes * all.size(), box);
    for (std::size_t i = 0; i < all.size(); i += kRecordsPerFlush) {
        const auto piece = all.subspan(i, std::min(kRecordsPerFlush, all.size() - i));
        const std::size_t shpStart = shpBuf.size();
        const std::size_t shxStart = shxBuf.size();
        shpBuf.resize(shpStart + piece.size() * kShpRecordBytes);
        shxBuf.resize(shxStart + piece.size() * kShxRecordBytes);
        putShapefileRecords(shpBuf.data() + shpStart, shxBuf.data() + shxStart, piece, i + 1);
        flushTo(shp, shpBuf);
        flushTo(shx, shxBuf);
    }
    flushTo(shp, shpBuf);
    flushTo(shx, shxBuf);
}

}  // namespace vornakite
