// A point set as one GeoJSON file (RFC 7946): a FeatureCollection of Point features in WGS 84,
// one feature per line, with the attribute columns and the layout's text columns as properties.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "write/format_writer.hpp"
#include "write/output_transaction.hpp"
#include "write/text_output.hpp"

namespace vornakite {

inline constexpr OutputMessages kGeoJsonMessages = {"Failed to create GeoJSON output",
                                                    "Failed to write GeoJSON output"};

class GeoJsonWriter : public FormatWriter {
  public:
    // Adds the set's file, base path + suffix + the first of `extensions` (".geojson"), to the
    // transaction.
    GeoJsonWriter(OutputTransaction& transaction, const SetLayout& layout,
                  std::span<const std::wstring> extensions);

    void addPoints(std::span<const YieldPoint> points) override;
    void addPoint(const YieldPoint& point, std::span<const std::string_view> texts) override;
    void finish() override;

  private:
    StreamedOutput output_;
    std::vector<std::string> textKeys_;  // ",\"Reason\":" for each text column
    std::string feature_;
    bool first_ = true;
};

}  // namespace vornakite
