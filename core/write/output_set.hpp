// One point set in every requested file format: a shapefile set, a GeoJSON file and a CSV file,
// all outputs of the same transaction, fed the same points and text values.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "write/format_writer.hpp"
#include "write/output_transaction.hpp"

namespace vornakite {

// The formats a set is written in; the shapefile set alone unless asked otherwise.
struct OutputFormats {
    bool shapefile = true;  // .shp .shx .dbf (with the layout's .prj .cpg)
    bool geojson = false;   // .geojson
    bool csv = false;       // .csv

    bool operator==(const OutputFormats&) const = default;
};

// The formats by the names the command line gives them, in the order their writers run.
struct OutputFormatName {
    std::string_view name;
    bool OutputFormats::*member;
};
inline constexpr std::array<OutputFormatName, 3> kOutputFormatNames{{
    {"shp", &OutputFormats::shapefile},
    {"geojson", &OutputFormats::geojson},
    {"csv", &OutputFormats::csv},
}};

class PointSetWriter : public PointSink {
  public:
    // Makes one writer per requested format; each adds its outputs to `transaction`.
    PointSetWriter(OutputTransaction& transaction, const OutputFormats& formats,
                   const SetLayout& layout);

    // The points, with the text values set last (see FormatWriter).
    void addPoints(std::span<const YieldPoint> points) override;
    void addPoint(const YieldPoint& point, std::span<const std::string_view> texts);
    void setTexts(const std::vector<std::string>& texts);

    // Completes every format's files; throws the first failure, in the order of the formats.
    void finish();

    std::uint64_t pointCount() const { return count_; }

  private:
    std::vector<std::unique_ptr<FormatWriter>> writers_;
    std::uint64_t count_ = 0;
};

}  // namespace vornakite
