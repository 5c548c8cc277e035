// The HTML report's text: a log's section from its model (the map's points base64-encoded for
// the page's script, the histogram as inline SVG, the tables), the page's start and end, and the
// escaping of text into HTML and script data.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "analysis/report_model.hpp"

namespace vornakite::analysis {

// The page up to the first section: head, style and the header with `title`.
std::string reportPageStart(std::string_view title);
// The script that draws the maps and the end of the page.
std::string reportPageEnd();

// A log's section: its heading, map, legend, summary table, histogram and filters table, then
// a script element that adds its map's data to the page's list.
std::string renderSection(const ReportSection& section);

// The section of a log that was not analysed: its heading (set and log name, points) and
// `note` saying why; no map, table or data script.
std::string renderUnanalysedSection(std::string_view id, std::string_view setName,
                                    std::string_view logName, std::size_t points,
                                    std::string_view note);

// Text for HTML element content or a quoted attribute: & < > " ' escaped.
std::string htmlEscape(std::string_view text);

// A JSON string literal that is also safe inside a <script> element: quotes, backslashes,
// control characters, < > & and the line separators U+2028/U+2029 as \u escapes; bytes that are
// not valid UTF-8 become U+FFFD.
std::string jsonString(std::string_view text);

// A JSON number, or null for NaN and infinities.
std::string jsonNumber(double v, int decimals);

}  // namespace vornakite::analysis
