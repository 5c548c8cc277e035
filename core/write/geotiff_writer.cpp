#include "write/geotiff_writer.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "write/byte_order.hpp"

namespace vornakite {

namespace {

// TIFF field types.
constexpr std::uint16_t kAscii = 2, kShort = 3, kLong = 4, kDouble = 12;

constexpr std::size_t kStripBytes = 64 * 1024;  // about this much per strip
constexpr std::size_t kHeaderBytes = 8;
constexpr char kNoDataText[] = "-3.4028234663852886e+38";

// The GeoKey directory: version 1.1.0, then per key its id, where its value is (0: in the
// entry), the count and the value.
std::vector<std::uint16_t> geoKeys(int epsg) {
    return {1,    1, 0, 4,  // version, revision, minor revision, number of keys
            1024, 0, 1, 1,  // GTModelTypeGeoKey: projected
            1025, 0, 1, 1,  // GTRasterTypeGeoKey: pixel is area
            3072, 0, 1, static_cast<std::uint16_t>(epsg),  // ProjectedCSTypeGeoKey
            3076, 0, 1, 9001};                             // ProjLinearUnitsGeoKey: metre
}

struct Layout {
    std::size_t rowsPerStrip, strips;
    std::uint64_t rowBytes, dataOffset, size;
    std::string head;  // header, directory and the values it points to
};

class HeadBuilder {
  public:
    explicit HeadBuilder(std::size_t entries) {
        head_.assign(kHeaderBytes + 2 + 12 * entries + 4, '\0');
        head_[0] = head_[1] = 'I';
        putLE16(&head_[2], 42);
        putLE32(&head_[4], kHeaderBytes);
        putLE16(&head_[8], static_cast<std::uint16_t>(entries));
    }
    // An entry whose value fits in its four bytes.
    void inlineEntry(std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        char* e = entry(tag, type, 1);
        type == kShort ? putLE16(e + 8, static_cast<std::uint16_t>(value)) : putLE32(e + 8, value);
    }
    // An entry whose `bytes` follow the directory, at an offset aligned to 8.
    void outOfLine(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                   const std::string& bytes) {
        const auto e = static_cast<std::size_t>(entry(tag, type, count) - head_.data());
        if (bytes.size() <= 4) {
            std::copy(bytes.begin(), bytes.end(), &head_[e + 8]);
            return;
        }
        head_.resize((head_.size() + 7) / 8 * 8, '\0');  // may move the head: e is an index
        putLE32(&head_[e + 8], static_cast<std::uint32_t>(head_.size()));
        head_ += bytes;
    }
    std::string finish() {
        head_.resize((head_.size() + 7) / 8 * 8, '\0');
        return std::move(head_);
    }
    std::size_t size() const { return head_.size(); }

  private:
    char* entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count) {
        char* e = &head_[kHeaderBytes + 2 + 12 * next_++];
        putLE16(e, tag);
        putLE16(e + 2, type);
        putLE32(e + 4, count);
        return e;
    }
    std::size_t next_ = 0;
    std::string head_;
};

std::string bytesOf(std::span<const double> values) {
    std::string out(8 * values.size(), '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        putLEDouble(&out[8 * i], values[i]);
    }
    return out;
}

std::string bytesOf(std::span<const std::uint16_t> values) {
    std::string out(2 * values.size(), '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        putLE16(&out[2 * i], values[i]);
    }
    return out;
}

std::string bytesOf(std::span<const std::uint32_t> values) {
    std::string out(4 * values.size(), '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        putLE32(&out[4 * i], values[i]);
    }
    return out;
}

void check(const GeoTiffRaster& r) {
    if (r.columns == 0 || r.rows == 0 || r.values.size() / r.columns != r.rows ||
        r.values.size() % r.columns != 0 || !(r.cellSize > 0.0) || !std::isfinite(r.cellSize) ||
        !std::isfinite(r.west) || !std::isfinite(r.north) || r.epsg < 1 || r.epsg > 65535) {
        throw std::invalid_argument("Invalid raster");
    }
    const double bytes = 4.0 * static_cast<double>(r.columns) * static_cast<double>(r.rows);
    if (bytes > 4294967295.0 - 1e6) {
        throw std::length_error("Raster too large for a TIFF");
    }
}

// The directory's entries in tag order; the strips' offsets once the head's size is known.
Layout layout(const GeoTiffRaster& r) {
    Layout l;
    l.rowBytes = 4 * static_cast<std::uint64_t>(r.columns);
    l.rowsPerStrip = std::clamp<std::size_t>(kStripBytes / l.rowBytes, 1, r.rows);
    l.strips = (r.rows + l.rowsPerStrip - 1) / l.rowsPerStrip;
    // The head's size does not depend on the offsets: build it once with zeros, then again.
    std::vector<std::uint32_t> offsets(l.strips, 0), counts(l.strips);
    for (std::size_t s = 0; s < l.strips; ++s) {
        const std::size_t rows = std::min(l.rowsPerStrip, r.rows - s * l.rowsPerStrip);
        counts[s] = static_cast<std::uint32_t>(rows * l.rowBytes);
    }
    const double scale[] = {r.cellSize, r.cellSize, 0.0};
    const double tiepoint[] = {0.0, 0.0, 0.0, r.west, r.north, 0.0};
    const std::vector<std::uint16_t> keys = geoKeys(r.epsg);
    auto build = [&] {
        HeadBuilder h(15);
        h.inlineEntry(256, kLong, static_cast<std::uint32_t>(r.columns));
        h.inlineEntry(257, kLong, static_cast<std::uint32_t>(r.rows));
        h.inlineEntry(258, kShort, 32);  // BitsPerSample
        h.inlineEntry(259, kShort, 1);   // Compression: none
        h.inlineEntry(262, kShort, 1);   // PhotometricInterpretation: black is zero
        h.outOfLine(273, kLong, static_cast<std::uint32_t>(l.strips), bytesOf(offsets));
        h.inlineEntry(277, kShort, 1);  // SamplesPerPixel
        h.inlineEntry(278, kLong, static_cast<std::uint32_t>(l.rowsPerStrip));
        h.outOfLine(279, kLong, static_cast<std::uint32_t>(l.strips), bytesOf(counts));
        h.inlineEntry(284, kShort, 1);                      // PlanarConfiguration: contiguous
        h.inlineEntry(339, kShort, 3);                      // SampleFormat: IEEE floating point
        h.outOfLine(33550, kDouble, 3, bytesOf(scale));     // ModelPixelScaleTag
        h.outOfLine(33922, kDouble, 6, bytesOf(tiepoint));  // ModelTiepointTag
        h.outOfLine(34735, kShort, static_cast<std::uint32_t>(keys.size()), bytesOf(keys));
        h.outOfLine(42113, kAscii, sizeof kNoDataText,
                    std::string(kNoDataText, sizeof kNoDataText));
        return h.finish();
    };
    l.dataOffset = build().size();
    for (std::size_t s = 0; s < l.strips; ++s) {
        offsets[s] = static_cast<std::uint32_t>(l.dataOffset + s * l.rowsPerStrip * l.rowBytes);
    }
    l.head = build();
    l.size = l.dataOffset + l.rowBytes * r.rows;
    return l;
}

}  // namespace

std::uint64_t geoTiffSize(const GeoTiffRaster& raster) {
    check(raster);
    return layout(raster).size;
}

void writeGeoTiff(const GeoTiffRaster& raster, const ByteSink& sink) {
    check(raster);
    const Layout l = layout(raster);
    sink(l.head.data(), l.head.size());
    const std::uint32_t noData = std::bit_cast<std::uint32_t>(static_cast<float>(kGeoTiffNoData));
    std::string strip;
    for (std::size_t first = 0; first < raster.rows; first += l.rowsPerStrip) {
        const std::size_t rows = std::min(l.rowsPerStrip, raster.rows - first);
        const std::span<const float> cells =
            raster.values.subspan(first * raster.columns, rows * raster.columns);
        strip.resize(4 * cells.size());
        for (std::size_t k = 0; k < cells.size(); ++k) {
            const float v = cells[k];
            putLE32(&strip[4 * k], std::isnan(v) ? noData : std::bit_cast<std::uint32_t>(v));
        }
        sink(strip.data(), strip.size());
    }
}

}  // namespace vornakite
