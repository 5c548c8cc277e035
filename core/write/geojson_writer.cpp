#include "write/geojson_writer.hpp"

#include <cmath>

#include "text/escape.hpp"

namespace vornakite {
namespace {

constexpr std::string_view kCollectionStart = "{\"type\":\"FeatureCollection\",\"features\":[";
constexpr std::string_view kCollectionEnd = "\n]}\n";
constexpr std::string_view kFeatureStart =
    "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[";
constexpr std::string_view kNullGeometry = "{\"type\":\"Feature\",\"geometry\":null";

void appendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[kMaxNumberChars];
    out.append(text, putNumberText(text, value));
}

}  // namespace

GeoJsonWriter::GeoJsonWriter(OutputTransaction& transaction, const SetLayout& layout,
                             std::span<const std::wstring> extensions)
    : output_(transaction, layout.suffix + extensions.front(), kGeoJsonMessages) {
    for (const TextColumn& column : layout.textColumns) {
        textKeys_.push_back(",\"" + std::string(column.name) + "\":");
    }
    output_.buffer().append(kCollectionStart.data(), kCollectionStart.size());
}

void GeoJsonWriter::addPoints(std::span<const YieldPoint> points) {
    for (const YieldPoint& point : points) {
        addPoint(point, currentTexts());
    }
}

void GeoJsonWriter::addPoint(const YieldPoint& point, std::span<const std::string_view> texts) {
    std::string& f = feature_;
    f.assign(first_ ? "\n" : ",\n");
    first_ = false;
    if (std::isfinite(point.longitude) && std::isfinite(point.latitude)) {
        f += kFeatureStart;
        appendNumber(f, point.longitude);
        f += ',';
        appendNumber(f, point.latitude);
        f += "]}";
    } else {
        f += kNullGeometry;  // a position must be two numbers
    }
    f += ",\"properties\":{";
    bool firstProperty = true;
    for (const AttributeColumn& column : kAttributeColumns) {
        if (!firstProperty) {
            f += ',';
        }
        firstProperty = false;
        f += '"';
        f += column.name;
        f += "\":";
        appendNumber(f, point.*column.member);
    }
    for (std::size_t c = 0; c < textKeys_.size(); ++c) {
        f += textKeys_[c];
        appendEscaped(f, c < texts.size() ? texts[c] : std::string_view(), Escape::JsonValue);
    }
    f += "}}";
    output_.buffer().append(f.data(), f.size());
    output_.flushIfFull();
}

void GeoJsonWriter::finish() {
    output_.buffer().append(kCollectionEnd.data(), kCollectionEnd.size());
    output_.finish();
}

}  // namespace vornakite
