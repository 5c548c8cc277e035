#include "write/csv_writer.hpp"

#include <cmath>

#include "text/escape.hpp"

namespace vornakite {
namespace {

constexpr std::string_view kLineEnd = "\r\n";

void appendNumber(std::string& out, double value) {
    if (std::isfinite(value)) {
        char text[kMaxNumberChars];
        out.append(text, putNumberText(text, value));
    }
}

}  // namespace

CsvWriter::CsvWriter(OutputTransaction& transaction, const SetLayout& layout,
                     std::span<const std::wstring> extensions)
    : output_(transaction, layout.suffix + extensions.front(), kCsvMessages),
      textColumns_(layout.textColumns.size()) {
    std::string header = "longitude,latitude";
    for (const AttributeColumn& column : kAttributeColumns) {
        header += ',';
        header += column.name;
    }
    for (const TextColumn& column : layout.textColumns) {
        header += ',';
        header += column.name;
    }
    header += kLineEnd;
    output_.buffer().append(header.data(), header.size());
}

void CsvWriter::addPoints(std::span<const YieldPoint> points) {
    for (const YieldPoint& point : points) {
        addPoint(point, currentTexts());
    }
}

void CsvWriter::addPoint(const YieldPoint& point, std::span<const std::string_view> texts) {
    std::string& r = row_;
    r.clear();
    appendNumber(r, point.longitude);
    r += ',';
    appendNumber(r, point.latitude);
    for (const AttributeColumn& column : kAttributeColumns) {
        r += ',';
        appendNumber(r, point.*column.member);
    }
    for (std::size_t c = 0; c < textColumns_; ++c) {
        r += ',';
        appendEscaped(r, c < texts.size() ? texts[c] : std::string_view(), Escape::Csv);
    }
    r += kLineEnd;
    output_.buffer().append(r.data(), r.size());
    output_.flushIfFull();
}

void CsvWriter::finish() {
    output_.finish();
}

}  // namespace vornakite
