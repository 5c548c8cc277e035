// vornakite-cleanreport: the analysis end to end without the shapefile outputs, as the CLI will
// run it: reads each log, cleans its points, prints the cleaning line, and writes summary.csv
// and report.html into DIR. Used by the report's browser test and to time the analysis.
//
// usage: vornakite-cleanreport [--svg] DIR LOG...
// --svg draws the maps as SVG circles instead (for the canvas/SVG measurement only).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/cleaning.hpp"
#include "analysis/report.hpp"
#include "analysis/summary.hpp"
#include "read/yield_log.hpp"

using namespace vornakite::analysis;

int main(int argc, char** argv) {
    int first = 1;
    bool svg = false;
    if (argc > 1 && std::string(argv[1]) == "--svg") {
        svg = true;
        ++first;
    }
    if (argc - first < 2) {
        std::fputs("usage: vornakite-cleanreport [--svg] DIR LOG...\n", stderr);
        return 2;
    }
    const std::string dir = argv[first];
    std::ofstream html(dir + "/report.html", std::ios::binary);
    std::ofstream svgOut;
    HtmlReport report(html);
    std::vector<FieldSummary> summaries;
    double seconds = 0.0, cleaning = 0.0;
    for (int i = first + 1; i < argc; ++i) {
        const vornakite::YieldLog log = vornakite::readYieldLog(argv[i]);
        const auto t0 = std::chrono::steady_clock::now();
        const CleaningResult result = cleanPoints(log.points);
        cleaning += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::string name = argv[i];
        name = name.substr(name.find_last_of("/\\") + 1);
        summaries.push_back(summarizeField(name, log.points, result));
        report.addField(summaries.back(), log.points, result);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::printf("%s: %s\n", name.c_str(), cleaningLine(result).c_str());
        if (svg) {
            // The same points as one SVG circle each, for the measurement in docs/cleaning.md.
            svgOut.open(dir + "/report_svg.html", std::ios::binary);
            svgOut << "<!DOCTYPE html><html><body><svg width=\"900\" height=\"600\" "
                      "viewBox=\"0 0 1 1\" preserveAspectRatio=\"none\">";
            double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
            for (const auto& p : log.points) {
                minX = std::min(minX, p.longitude);
                maxX = std::max(maxX, p.longitude);
                minY = std::min(minY, p.latitude);
                maxY = std::max(maxY, p.latitude);
            }
            char buf[128];
            for (std::size_t k = 0; k < log.points.size(); ++k) {
                const auto& p = log.points[k];
                std::snprintf(
                    buf, sizeof buf, "<circle cx=\"%.5f\" cy=\"%.5f\" r=\"0.002\" fill=\"%s\"/>",
                    (p.longitude - minX) / (maxX - minX), 1 - (p.latitude - minY) / (maxY - minY),
                    result.flags[k] ? "#222" : "#1a9850");
                svgOut << buf;
            }
            svgOut << "</svg><script>document.body.setAttribute('data-ready','1')</script>"
                      "</body></html>";
            svgOut.close();
        }
    }
    report.finish();
    std::ofstream csv(dir + "/summary.csv", std::ios::binary);
    writeSummaryCsv(csv, summaries);
    std::fprintf(stderr, "analysis: %.3f s, of which cleaning %.3f s\n", seconds, cleaning);
    return html && csv ? 0 : 1;
}
