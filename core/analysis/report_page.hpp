// The HTML report's fixed parts: its style sheet, and the script that draws every log's map on
// its canvas from the points embedded in the page (and redraws it on a resize or a toggle).
#pragma once

namespace vornakite::analysis {

// A <style> element, and the <script> element that takes each section's map as it arrives;
// each ends in a newline.
extern const char* const kReportStyle;
extern const char* const kReportScript;

}  // namespace vornakite::analysis
