#include "analysis/report_html.hpp"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "analysis/format.hpp"
#include "analysis/report_data.hpp"
#include "analysis/report_page.hpp"
#include "text/escape.hpp"

namespace vornakite::analysis {

namespace {

// A number for a table cell: at most kCellDigits characters, else in exponent form with the
// full value in its title, so that no value can push a table off the page.
constexpr std::size_t kCellDigits = 14;
std::string shortNumber(double v, int decimals) {
    const std::string s = fixedNumber(v, decimals);
    if (s.size() <= kCellDigits) {
        return s;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3e", v);
    return "<span class=\"num\" title=\"" + s + "\">" + text + "</span>";
}

std::string cell(double v, int decimals) {
    const std::string s = shortNumber(v, decimals);
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
               shortNumber(lo + (hi - lo) * t / 4, 0) + "</text>";
    }
    svg += "<text x=\"226\" y=\"166\" text-anchor=\"middle\">yield, bu/ac</text>";
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
    std::string logs;
    for (const std::string& name : section.logNames) {
        logs += (logs.empty() ? "" : ", ") + htmlEscape(name);
    }
    s += "<section class=\"log\" id=\"log-" + sid + "\">\n<h2>" + htmlEscape(summary.setName) +
         (logs.empty() ? "" : " <span class=\"logs\">&mdash; " + logs + "</span>") +
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
    s += "<div class=\"grid\">\n<div><div class=\"mapbox\" id=\"box-" + sid +
         "\"><canvas id=\"map-" + sid +
         "\" aria-label=\"Yield map\"></canvas><button type=\"button\" class=\"reset\" "
         "title=\"Whole field\">&#x2922;</button><div class=\"tip\" hidden></div></div>\n"
         "<div class=\"legend\" id=\"legend-" +
         sid + "\"><span>Yield_bu, bu/ac:</span>";
    for (std::size_t k = 0; k <= breaks.size() && !breaks.empty(); ++k) {
        const std::string from = k == 0 ? "&lt; " : plainNumber(breaks[k - 1], 1);
        const std::string to = k == breaks.size() ? "" : plainNumber(breaks[k], 1);
        s += "<span><i style=\"background:" + std::string(kClassColours[k]) +
             "\"></i><b class=\"range\">" +
             (k == 0               ? from + to
              : k == breaks.size() ? "&ge; " + from
                                   : from + "&ndash;" + to) +
             "</b></span>";
    }
    s += "<span><i style=\"background:" + std::string(kNoValueColour) +
         "\"></i>no yield value</span>";
    if (section.surface.columns > 0) {
        s += "<label><input type=\"checkbox\" class=\"layer\"> yield surface</label>";
    }
    s += "</div>\n<div class=\"legend reasons\"><label><input type=\"checkbox\" id=\"rm-" + sid +
         "\" checked>removed, by first reason:</label>";
    for (const FilterRow& row : section.filters) {
        if (row.removed == 0) {
            continue;
        }
        const auto f = static_cast<std::size_t>(row.info->filter);
        s += "<label title=\"" + htmlEscape(row.info->name) +
             "\"><input type=\"checkbox\" class=\"reason\" data-r=\"" + std::to_string(f) +
             "\" checked><i style=\"background:" + std::string(kReasonColours[f]) + "\"></i>" +
             std::string(row.info->code) + " " + std::to_string(row.removed) + "</label>";
    }
    s += "</div></div>\n<div>\n";
}

// The field's numbers, all estimated: area, swath, production, dry yield.
void appendFieldNumbers(std::string& s, const FieldSummary& summary) {
    if (!summary.numbers) {
        return;
    }
    const FieldNumbers& r = *summary.numbers;
    auto row = [&](const char* name, const std::string& value) {
        s += std::string("<tr><td>") + name + "</td><td>" + value + "</td></tr>";
    };
    s += "<h3>The field (estimated)</h3><table class=\"numbers\"><tbody>";
    row("area harvested", cell(r.areaAcres, 1) + " ac (" + cell(r.areaHectares, 2) + " ha)");
    row("swath", cell(r.swathMetres, 1) + " m" +
                     (r.swathSet                  ? " (set)"
                      : r.swathEstimate.estimated ? " (from the passes)"
                                                  : ""));
    row("distance on passes", cell(r.distanceMetres / 1000.0, 2) + " km");
    row("production",
        cell(r.totalBushels, 0) + " bu" +
            (std::isfinite(r.totalTonnes) ? " (" + cell(r.totalTonnes, 1) + " t)" : ""));
    row("mean yield, over the area", cell(r.meanYield, 1) + " bu/ac" +
                                         (std::isfinite(r.meanTonnesPerHectare)
                                              ? " (" + cell(r.meanTonnesPerHectare, 2) + " t/ha)"
                                              : ""));
    row("mean of the kept points", cell(r.plainMeanYield, 1) + " bu/ac");
    if (std::isfinite(r.standardMoisture)) {
        const std::string at =
            " at " + cell(r.standardMoisture, 1) + " %" + (r.standardSet ? " (set)" : "");
        row("dry yield", cell(r.dryMeanYield, 1) + " bu/ac" + at);
        row("dry production", cell(r.dryTotalBushels, 0) + " bu" + at);
    }
    s += "</tbody></table>";
    for (const std::string& note : r.notes) {
        s += "<p class=\"sub\">" + htmlEscape(note) + "</p>";
    }
}

// The summary table, before and after cleaning, and the histogram below it.
void appendSummary(std::string& s, const ReportSection& section) {
    const FieldSummary& summary = section.summary;
    appendFieldNumbers(s, summary);
    s += "<h3>Summary</h3><table class=\"summary\"><thead><tr><th>Yield_bu, bu/ac</th><th>"
         "before cleaning</th><th>after</th></tr></thead><tbody>";
    s += "<tr><td>points</td><td>" + std::to_string(summary.before.count) + "</td><td>" +
         std::to_string(summary.after.count) + "</td></tr>";
    s += statsRow("mean", summary.before.mean, summary.after.mean, 1);
    s += statsRow("median", summary.before.median, summary.after.median, 1);
    s += statsRow("minimum", summary.before.min, summary.after.min, 1);
    s += statsRow("maximum", summary.before.max, summary.after.max, 1);
    s += statsRow("CV, %", summary.before.cv, summary.after.cv, 1);
    s += "<tr><td>Moist_pct, % (mean, kept)</td><td></td><td>" + cell(summary.meanMoisture, 1) +
         "</td></tr><tr><td>Speed_MPH, mph (median, kept)</td><td></td><td>" +
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
        // The lags undone, beside the filter of the records they leave without a value.
        if (f.filter == Filter::NoValue && section.summary.note.empty()) {
            thresholds = htmlEscape(lagText(section.summary.lag));
        }
        s += "<tr><td><code>" + std::string(f.code) + "</code></td><td>" + htmlEscape(f.name) +
             "</td><td>" + std::to_string(row.removed) + "</td><td>" +
             (thresholds.empty() ? "&ndash;" : thresholds) + "</td><td>" + htmlEscape(f.rationale) +
             "</td></tr>";
    }
    s += "</tbody></table>\n</section>\n";
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
           "</h1><label class=\"common\"><input type=\"checkbox\" id=\"common-classes\"> yield "
           "classes common to all fields</label><nav id=\"nav\"></nav></header>\n"
           "<p class=\"units\">Units: Yield_bu bu/ac as logged; Moist_pct %; Weight_ta the "
           "monitor's t/ac, as logged; Dens_lbbu lb/bu; Speed_MPH mph. The field's numbers are "
           "estimated from the track and the kept points. Maps: wheel or pinch to zoom, drag to "
           "pan, point at a dot for its values.</p>\n<script>window.VK_LOGS=[];</script>\n" +
           reasonTableScript() + kReportScript;
}

std::string reportPageEnd() {
    return "<script>VK_DONE();</script>\n</body>\n</html>\n";
}

std::string renderSection(const ReportSection& section) {
    const std::string sid = htmlEscape(section.id);
    std::string s;
    s.reserve(section.map.points.size() * 5 * 4 / 3 + 20000);
    appendHeading(s, section, sid);
    appendMap(s, section, sid);
    appendSummary(s, section);
    appendFilters(s, section);
    s += mapDataScript(section);
    return s;
}

std::string renderUnanalysedSection(std::string_view id, std::string_view setName,
                                    std::string_view logName, std::size_t points,
                                    std::string_view note) {
    std::string s =
        "<section class=\"log\" id=\"log-" + htmlEscape(id) + "\">\n<h2>" + htmlEscape(setName);
    if (!logName.empty()) {
        s += " <span class=\"logs\">&mdash; " + htmlEscape(logName) + "</span>";
    }
    s += "</h2>\n<p class=\"sub\">" + std::to_string(points) + " points</p>\n";
    s += "<p class=\"note\">Not analysed: " + htmlEscape(note) + ".</p>\n</section>\n";
    return s;
}

}  // namespace vornakite::analysis
