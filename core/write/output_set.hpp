// The table of output formats, and one point set in every requested format (a shapefile set, a
// GeoJSON file, a CSV file): all outputs of the same transaction, fed the same points and texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "write/csv_writer.hpp"
#include "write/format_writer.hpp"
#include "write/geojson_writer.hpp"
#include "write/output_transaction.hpp"
#include "write/set_writer.hpp"

namespace vornakite {

// One output format: the name --format takes, the extensions of the files its writer adds to a
// set's transaction (space-separated, in the writer's order), how --help describes it, whether it
// is written when --format is not given, and its writer.
struct OutputFormat {
    using MakeWriter = std::unique_ptr<FormatWriter> (*)(OutputTransaction& transaction,
                                                         const SetLayout& layout,
                                                         std::span<const std::wstring> extensions);
    std::string_view name;
    std::string_view extensions;
    std::string_view help;
    bool byDefault;
    MakeWriter makeWriter;
};

template <class Writer>
std::unique_ptr<FormatWriter> makeFormatWriter(OutputTransaction& transaction,
                                               const SetLayout& layout,
                                               std::span<const std::wstring> extensions) {
    return std::make_unique<Writer>(transaction, layout, extensions);
}

// Every output format, in the order their writers run and --help names them. A new format is a
// new entry: --format, --help and the files of a set (those the no-clobber and replace checks
// of its transaction look at) all come from here.
inline constexpr std::array<OutputFormat, 3> kOutputFormats{{
    {"shp", ".shp .shx .dbf .prj .cpg", "a point shapefile set", true,
     &makeFormatWriter<ShapefileSetWriter>},
    {"geojson", ".geojson", "GeoJSON", false, &makeFormatWriter<GeoJsonWriter>},
    {"csv", ".csv", "CSV", false, &makeFormatWriter<CsvWriter>},
}};

// The format of a name as --format gives it (lower case), or null.
const OutputFormat* findOutputFormat(std::string_view name);

// The extensions of a format's files, each with its leading full stop.
std::vector<std::wstring> fileExtensions(const OutputFormat& format);

// The flags of the formats written when --format is not given.
constexpr std::array<bool, kOutputFormats.size()> defaultOutputFormats() {
    std::array<bool, kOutputFormats.size()> flags{};
    for (std::size_t i = 0; i < flags.size(); ++i) {
        flags[i] = kOutputFormats[i].byDefault;
    }
    return flags;
}

// The formats a set is written in: one flag per entry of kOutputFormats.
struct OutputFormats {
    std::array<bool, kOutputFormats.size()> written = defaultOutputFormats();

    bool operator==(const OutputFormats&) const = default;
};

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
