#include "write/output_set.hpp"

#include <algorithm>

namespace vornakite {

const OutputFormat* findOutputFormat(std::string_view name) {
    for (const OutputFormat& format : kOutputFormats) {
        if (format.name == name) {
            return &format;
        }
    }
    return nullptr;
}

std::vector<std::wstring> fileExtensions(const OutputFormat& format) {
    const std::string_view text = format.extensions;
    std::vector<std::wstring> out;
    for (std::size_t from = 0; from < text.size();) {
        const std::size_t end = std::min(text.find(' ', from), text.size());
        out.emplace_back(text.begin() + static_cast<std::ptrdiff_t>(from),
                         text.begin() + static_cast<std::ptrdiff_t>(end));
        from = end + 1;
    }
    return out;
}

PointSetWriter::PointSetWriter(OutputTransaction& transaction, const OutputFormats& formats,
                               const SetLayout& layout) {
    for (std::size_t i = 0; i < kOutputFormats.size(); ++i) {
        if (formats.written[i]) {
            const OutputFormat& format = kOutputFormats[i];
            writers_.push_back(format.makeWriter(transaction, layout, fileExtensions(format)));
        }
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
