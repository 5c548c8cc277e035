#include "analysis/report_data.hpp"

#include <array>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <vector>

#include "analysis/report_html.hpp"

namespace vornakite::analysis {

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Values beyond this, scaled to their decimals, are sent apart (exactly, as text).
constexpr double kLargestScaled = 4503599627370496.0;  // 2^52

void appendBase64Field(std::string& s, const char* key, const std::vector<std::uint8_t>& data) {
    s += ',';
    s += key;
    s += ":\"";
    appendBase64(s, data);
    s += '"';
}

// A value that the scaled column cannot hold, as text Number() reads back.
std::string exactText(double v) {
    if (std::isnan(v)) {
        return "NaN";
    }
    if (std::isinf(v)) {
        return v > 0 ? "Infinity" : "-Infinity";
    }
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// One value column as it is written: one constant or the zig-zag varints of the differences of
// its scaled values; values that do not fit listed apart as [point, column, text].
struct ColumnWriter {
    std::size_t column = 0;
    double scale = 1.0;
    std::vector<std::uint8_t> bytes;
    std::int64_t previous = 0, first = 0;
    bool constant = true;
    std::string exceptions;  // each entry after a comma

    void add(std::size_t i, double value) {
        const double v = value * scale;
        std::int64_t q = previous;
        if (std::isfinite(v) && std::fabs(v) < kLargestScaled) {
            q = std::llround(v);
        } else {
            exceptions += ",[" + std::to_string(i) + "," + std::to_string(column) + ",\"" +
                          exactText(value) + "\"]";
            constant = false;
        }
        first = i == 0 ? q : first;
        constant = constant && q == first;
        appendVarint(bytes, zigZag(q - previous));
        previous = q;
    }
};

// The value columns, the exceptions of each in column order. Each map point's record is read
// once, from the section's points, and its values go to the five columns side by side.
void appendColumns(std::string& s, const YieldMap& map) {
    std::array<ColumnWriter, std::size(kAttributeColumns)> columns;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        columns[c].column = c;
        columns[c].scale = std::pow(10.0, kAttributeColumns[c].decimals);
    }
    for (std::size_t i = 0; i < map.points.size(); ++i) {
        const YieldPoint r = map.record(map.points[i]);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            columns[c].add(i, r.*kAttributeColumns[c].member);
        }
    }
    std::string exceptions;
    s += ",cols:[";
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const ColumnWriter& w = columns[c];
        s += (c ? ",{d:" : "{d:") + std::to_string(kAttributeColumns[c].decimals);
        if (w.constant && !map.points.empty()) {
            s += ",c:" + std::to_string(w.first) + "}";
        } else {
            appendBase64Field(s, "b", w.bytes);
            s += "}";
        }
        exceptions += w.exceptions;
    }
    s += "],exc:[" + (exceptions.empty() ? exceptions : exceptions.substr(1)) + "]";
}

// The points' positions, and their indices among the section's points unless every point is
// mapped at the stride.
void appendPositions(std::string& s, const YieldMap& map) {
    std::vector<std::uint8_t> xy, index;
    xy.reserve(map.points.size() * 4);
    bool even = true;
    std::uint32_t previous = 0;
    for (std::size_t i = 0; i < map.points.size(); ++i) {
        const MapPoint& p = map.points[i];
        xy.insert(xy.end(),
                  {static_cast<std::uint8_t>(p.x & 0xFF), static_cast<std::uint8_t>(p.x >> 8),
                   static_cast<std::uint8_t>(p.y & 0xFF), static_cast<std::uint8_t>(p.y >> 8)});
        even = even && p.index == i * map.stride;
        appendVarint(index, p.index - previous);
        previous = p.index;
    }
    s += ",n:" + std::to_string(map.points.size()) + ",stride:" + std::to_string(map.stride);
    appendBase64Field(s, "xy", xy);
    if (!even) {
        appendBase64Field(s, "ix", index);
    }
    // The removed points: the gap to the previous one among the map's points, and the mask.
    std::vector<std::uint8_t> removed;
    std::size_t last = 0;
    for (std::size_t i = 0; i < map.points.size(); ++i) {
        if (map.points[i].flags != 0) {
            appendVarint(removed, i - last);
            appendVarint(removed, map.points[i].flags);
            last = i;
        }
    }
    appendBase64Field(s, "rm", removed);
}

void appendNumbers(std::string& s, const char* key, const std::vector<double>& values,
                   int decimals) {
    s += ',';
    s += key;
    s += ":[";
    for (std::size_t k = 0; k < values.size(); ++k) {
        s += (k ? "," : "") + jsonNumber(values[k], decimals);
    }
    s += ']';
}

void appendSurface(std::string& s, const SurfaceLayer& layer) {
    if (layer.columns == 0) {
        return;
    }
    s += ",grid:{c:" + std::to_string(layer.columns) + ",r:" + std::to_string(layer.rows) +
         ",cell:" + jsonNumber(layer.cell, 3) + ",lo:" + jsonNumber(layer.lo, 3) +
         ",hi:" + jsonNumber(layer.hi, 3);
    appendBase64Field(s, "b", layer.values);
    s += '}';
}

}  // namespace

void appendVarint(std::vector<std::uint8_t>& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<std::uint8_t>((v & 0x7F) | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(v));
}

void appendBase64(std::string& out, std::span<const std::uint8_t> data) {
    out.reserve(out.size() + (data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= data.size(); i += 3) {
        const std::uint32_t v =
            (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += kBase64[(v >> 6) & 63];
        out += kBase64[v & 63];
    }
    if (i < data.size()) {
        std::uint32_t v = std::uint32_t{data[i]} << 16;
        if (i + 1 < data.size()) {
            v |= std::uint32_t{data[i + 1]} << 8;
        }
        out += kBase64[(v >> 18) & 63];
        out += kBase64[(v >> 12) & 63];
        out += i + 1 < data.size() ? kBase64[(v >> 6) & 63] : '=';
        out += '=';
    }
}

std::string mapDataScript(const ReportSection& section) {
    const YieldMap& map = section.map;
    std::string s = "<script>VK_LOGS.push({id:" + jsonString(section.id) +
                    ",name:" + jsonString(section.summary.setName) + ",logs:[";
    for (std::size_t k = 0; k < section.logNames.size(); ++k) {
        s += (k ? "," : "") + jsonString(section.logNames[k]);
    }
    s += "],starts:[";
    for (std::size_t k = 0; k < section.logStarts.size(); ++k) {
        s += (k ? "," : "") + std::to_string(section.logStarts[k]);
    }
    s += "],w:" + jsonNumber(map.width, 3) + ",h:" + jsonNumber(map.height, 3) +
         ",dot:" + jsonNumber(map.dot, 3);
    appendNumbers(s, "breaks", section.breaks, 3);
    appendNumbers(s, "sketch", section.sketch, 3);
    s += ",nk:" + std::to_string(section.sketchCount);
    appendPositions(s, map);
    appendColumns(s, map);
    appendSurface(s, section.surface);
    s += "});</script>\n";
    return s;
}

std::string reasonTableScript() {
    std::string s = "<script>window.VK_REASONS=[";
    for (std::size_t k = 0; k < kFilterInfo.size(); ++k) {
        s += std::string(k ? "," : "") + "{code:" + jsonString(kFilterInfo[k].code) +
             ",name:" + jsonString(kFilterInfo[k].name) + ",colour:\"" +
             std::string(kReasonColours[k]) + "\"}";
    }
    s += "];window.VK_CLASSES=[";
    for (std::size_t k = 0; k < kClassColours.size(); ++k) {
        s += std::string(k ? "," : "") + "\"" + std::string(kClassColours[k]) + "\"";
    }
    return s + "];window.VK_NOVALUE=\"" + std::string(kNoValueColour) + "\";</script>\n";
}

}  // namespace vornakite::analysis
