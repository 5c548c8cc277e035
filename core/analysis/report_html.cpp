#include "analysis/report_html.hpp"

#include <cstdint>
#include <vector>

#include "analysis/format.hpp"
#include "analysis/report_page.hpp"
#include "text/escape.hpp"

namespace vornakite::analysis {

namespace {

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void appendBase64(std::string& out, const std::vector<std::uint8_t>& data) {
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

std::string cell(double v, int decimals) {
    const std::string s = fixedNumber(v, decimals);
    return s.empty() ? "&ndash;" : s;
}

std::string statsRow(const char* name, double before, double after, int decimals) {
    return std::string("<tr><td>") + name + "</td><td>" + cell(before, decimals) + "</td><td>" +
           cell(after, decimals) + "</td></tr>";
}

// The histogram as inline SVG: a bar per bin, kept points in their class's colour with the
// removed ones stacked on top, five value ticks and the tallest bar's count.
std::string histogram(const YieldHistogram& h) {
    if (h.kept.empty()) {
        return "<p class=\"sub\">No finite yields.</p>";
    }
    const double lo = h.lo, hi = h.hi;
    const std::size_t top = h.tallest();
    constexpr double W = 420, H = 170, left = 40, bottom = 24, plotW = W - left - 8,
                     plotH = H - bottom - 8;
    std::string svg =
        "<svg class=\"hist\" viewBox=\"0 0 420 170\" role=\"img\" "
        "aria-label=\"Yield histogram\">";
    const double bw = plotW / kHistogramBins;
    for (int b = 0; b < kHistogramBins; ++b) {
        const auto ub = static_cast<std::size_t>(b);
        const double x = left + bw * b;
        const double hk = plotH * static_cast<double>(h.kept[ub]) / static_cast<double>(top);
        const double hr = plotH * static_cast<double>(h.removed[ub]) / static_cast<double>(top);
        const std::string_view colour =
            h.classes.empty() ? std::string_view("#7a8a99") : kClassColours[h.classes[ub]];
        svg += "<rect x=\"" + fixedNumber(x + 0.5, 1) + "\" y=\"" + fixedNumber(8 + plotH - hk, 1) +
               "\" width=\"" + fixedNumber(bw - 1, 1) + "\" height=\"" + fixedNumber(hk, 1) +
               "\" fill=\"" + std::string(colour) + "\" stroke=\"#0003\" stroke-width=\".5\"/>";
        if (hr > 0) {
            svg += "<rect x=\"" + fixedNumber(x + 0.5, 1) + "\" y=\"" +
                   fixedNumber(8 + plotH - hk - hr, 1) + "\" width=\"" + fixedNumber(bw - 1, 1) +
                   "\" height=\"" + fixedNumber(hr, 1) + "\" fill=\"#555\" fill-opacity=\".55\"/>";
        }
    }
    svg += "<line x1=\"40\" y1=\"138\" x2=\"412\" y2=\"138\" stroke=\"#999\"/>";
    for (int t = 0; t <= 4; ++t) {
        const double x = left + plotW * t / 4;
        const char* anchor = t == 0 ? "start" : t == 4 ? "end" : "middle";
        svg += "<text x=\"" + fixedNumber(x, 1) + "\" y=\"152\" text-anchor=\"" + anchor + "\">" +
               plainNumber(lo + (hi - lo) * t / 4, 0) + "</text>";
    }
    svg += "<text x=\"226\" y=\"166\" text-anchor=\"middle\">yield, bu</text>";
    // The tallest bar's count; in thousands from 100,000 on, so that it fits left of the axis.
    const std::string topText =
        top >= 100000 ? std::to_string((top + 500) / 1000) + "k" : std::to_string(top);
    svg += "<text x=\"36\" y=\"14\" text-anchor=\"end\">" + topText + "</text>";
    svg += "<text x=\"36\" y=\"140\" text-anchor=\"end\">0</text>";
    svg += "</svg>";
    return svg;
}

// The heading: the log's name, its counts and what the map leaves out, and the notes.
void appendHeading(std::string& s, const ReportSection& section, const std::string& sid) {
    const FieldSummary& summary = section.summary;
    s += "<section class=\"log\" id=\"log-" + sid + "\">\n<h2>" + htmlEscape(summary.setName) +
         "</h2>\n<p class=\"sub\">" + std::to_string(summary.points) + " points, " +
         std::to_string(summary.kept) + " kept, " + std::to_string(summary.points - summary.kept) +
         " removed";
    if (section.map.stride > 1) {
        s += "; the map shows every " + std::to_string(section.map.stride) + "th point";
    }
    if (section.map.offMap > 0) {
        s += "; " + std::to_string(section.map.offMap) + " removed points lie off the map";
    }
    s += "</p>\n";
    if (!summary.note.empty()) {
        s += "<p class=\"note\">Not cleaned: " + htmlEscape(summary.note) +
             ". All points are kept.</p>\n";
    }
    for (const std::string& warning : section.warnings) {
        s += "<p class=\"note\">" + htmlEscape(warning) + "</p>\n";
    }
}

// The map's canvas and its legend: the classes' ranges and the toggle of the removed points.
void appendMap(std::string& s, const ReportSection& section, const std::string& sid) {
    const std::vector<double>& breaks = section.breaks;
    s +=
        "<div class=\"grid\">\n<div><div class=\"mapbox\"><canvas id=\"map-" + sid +
        "\" aria-label=\"Yield map\"></canvas></div>\n<div class=\"legend\"><span>Yield_bu:</span>";
    for (std::size_t k = 0; k <= breaks.size() && !breaks.empty(); ++k) {
        const std::string from = k == 0 ? "&lt; " : plainNumber(breaks[k - 1], 1);
        const std::string to = k == breaks.size() ? "" : plainNumber(breaks[k], 1);
        s += "<span><i style=\"background:" + std::string(kClassColours[k]) + "\"></i>" +
             (k == 0               ? from + to
              : k == breaks.size() ? "&ge; " + from
                                   : from + "&ndash;" + to) +
             "</span>";
    }
    s += "<label><input type=\"checkbox\" id=\"rm-" + sid +
         "\" checked><i style=\"background:#222\"></i>removed</label></div></div>\n<div>\n";
}

// The summary table, before and after cleaning, and the histogram below it.
void appendSummary(std::string& s, const ReportSection& section) {
    const FieldSummary& summary = section.summary;
    s += "<h3>Summary</h3><table class=\"summary\"><thead><tr><th>Yield_bu</th><th>before "
         "cleaning</th><th>after</th></tr></thead><tbody>";
    s += "<tr><td>points</td><td>" + std::to_string(summary.before.count) + "</td><td>" +
         std::to_string(summary.after.count) + "</td></tr>";
    s += statsRow("mean", summary.before.mean, summary.after.mean, 1);
    s += statsRow("median", summary.before.median, summary.after.median, 1);
    s += statsRow("minimum", summary.before.min, summary.after.min, 1);
    s += statsRow("maximum", summary.before.max, summary.after.max, 1);
    s += statsRow("CV, %", summary.before.cv, summary.after.cv, 1);
    s += "<tr><td>moisture, % (mean, kept)</td><td></td><td>" + cell(summary.meanMoisture, 1) +
         "</td></tr><tr><td>speed, mph (median, kept)</td><td></td><td>" +
         cell(summary.medianSpeed, 1) + "</td></tr>";
    s += "<tr><td>extent W&ndash;E</td><td colspan=\"2\">" + cell(summary.box.west, 6) +
         " &ndash; " + cell(summary.box.east, 6) + "</td></tr><tr><td>extent S&ndash;N</td>" +
         "<td colspan=\"2\">" + cell(summary.box.south, 6) + " &ndash; " +
         cell(summary.box.north, 6) + "</td></tr>";
    s += "</tbody></table>\n<h3>Yield distribution</h3>" + histogram(section.histogram) +
         "<div class=\"legend\"><span><i style=\"background:#1a9850\"></i>kept (by class)</span>"
         "<span><i style=\"background:#555;opacity:.55\"></i>removed</span></div>\n</div>\n"
         "</div>\n";
}

// The filters with what each removed and the thresholds it used.
void appendFilters(std::string& s, const ReportSection& section) {
    s += "<h3>Filters</h3><table class=\"filters\"><thead><tr><th>Code</th><th>Filter</th>"
         "<th>Removed</th><th>Threshold used</th><th>Why</th></tr></thead><tbody>";
    for (const FilterRow& row : section.filters) {
        const FilterInfo& f = *row.info;
        std::string thresholds;
        for (const ThresholdUsed& t : row.thresholds) {
            thresholds += (thresholds.empty() ? "" : "<br>") + htmlEscape(t.info->name) + " " +
                          plainNumber(t.value, 3) + " " + htmlEscape(t.info->unit) +
                          (t.automatic ? " (auto)" : " (set)");
        }
        s += "<tr><td><code>" + std::string(f.code) + "</code></td><td>" + htmlEscape(f.name) +
             "</td><td>" + std::to_string(row.removed) + "</td><td>" +
             (thresholds.empty() ? "&ndash;" : thresholds) + "</td><td>" + htmlEscape(f.rationale) +
             "</td></tr>";
    }
    s += "</tbody></table>\n</section>\n";
}

// The map's data for the page's script: its size, dot, colours and breaks, and the points as
// five bytes each (x and y little-endian, then the class) in base64.
void appendMapData(std::string& s, const ReportSection& section) {
    const YieldMap& map = section.map;
    s += "<script>VK_LOGS.push({id:" + jsonString(section.id) +
         ",name:" + jsonString(section.summary.setName) + ",w:" + jsonNumber(map.width, 3) +
         ",h:" + jsonNumber(map.height, 3) + ",dot:" + jsonNumber(map.dot, 3) + ",colours:[";
    for (std::size_t k = 0; k < kClassColours.size(); ++k) {
        s += std::string(k ? "," : "") + "\"" + std::string(kClassColours[k]) + "\"";
    }
    s += "],breaks:[";
    for (std::size_t k = 0; k < section.breaks.size(); ++k) {
        s += (k ? "," : "") + jsonNumber(section.breaks[k], 3);
    }
    s += "],pts:\"";
    std::vector<std::uint8_t> data;
    data.reserve(map.points.size() * 5);
    for (const MapPoint& p : map.points) {
        data.insert(data.end(),
                    {static_cast<std::uint8_t>(p.x & 0xFF), static_cast<std::uint8_t>(p.x >> 8),
                     static_cast<std::uint8_t>(p.y & 0xFF), static_cast<std::uint8_t>(p.y >> 8),
                     p.yieldClass});
    }
    appendBase64(s, data);
    s += "\"});</script>\n";
}

}  // namespace

std::string htmlEscape(std::string_view text) {
    return escape(text, Escape::Html);
}

std::string jsonString(std::string_view text) {
    return escape(text, Escape::JsonInScript);
}

std::string jsonNumber(double v, int decimals) {
    const std::string s = plainNumber(v, decimals);
    return s.empty() ? "null" : s;
}

std::string reportPageStart(std::string_view title) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"generator\" content=\"vornakite-convert\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
           htmlEscape(title) + "</title>\n" + kReportStyle + "</head>\n<body>\n<header><h1>" +
           htmlEscape(title) +
           "</h1><nav id=\"nav\"></nav></header>\n<script>window.VK_LOGS=[];</script>\n";
}

std::string reportPageEnd() {
    return std::string(kReportScript) + "</body>\n</html>\n";
}

std::string renderSection(const ReportSection& section) {
    const std::string sid = htmlEscape(section.id);
    std::string s;
    s.reserve(section.map.points.size() * 5 * 4 / 3 + 20000);
    appendHeading(s, section, sid);
    appendMap(s, section, sid);
    appendSummary(s, section);
    appendFilters(s, section);
    appendMapData(s, section);
    return s;
}

}  // namespace vornakite::analysis
