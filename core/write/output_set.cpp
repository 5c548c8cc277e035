#include "write/output_set.hpp"

#include "write/csv_writer.hpp"
#include "write/geojson_writer.hpp"
#include "write/set_writer.hpp"

namespace vornakite {

PointSetWriter::PointSetWriter(OutputTransaction& transaction, const OutputFormats& formats,
                               const SetLayout& layout) {
    if (formats.shapefile) {
        writers_.push_back(std::make_unique<ShapefileSetWriter>(transaction, layout));
    }
    if (formats.geojson) {
        writers_.push_back(std::make_unique<GeoJsonWriter>(transaction, layout));
    }
    if (formats.csv) {
        writers_.push_back(std::make_unique<CsvWriter>(transaction, layout));
    }
}

void PointSetWriter::addPoints(std::span<const YieldPoint> points) {
    for (const auto& writer : writers_) {
        writer->addPoints(points);
    }
    count_ += points.size();
}

void PointSetWriter::addPoint(const YieldPoint& point, std::span<const std::string_view> texts) {
    for (const auto& writer : writers_) {
        writer->addPoint(point, texts);
    }
    ++count_;
}

void PointSetWriter::setTexts(const std::vector<std::string>& texts) {
    for (const auto& writer : writers_) {
        writer->setTexts(texts);
    }
}

void PointSetWriter::finish() {
    for (const auto& writer : writers_) {
        writer->finish();
    }
}

}  // namespace vornakite
