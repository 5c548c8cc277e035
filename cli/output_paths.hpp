// Where the summary and the report may go, checked before a batch converts anything: neither may
// replace a log of the batch or one of the batch's own outputs.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "options.hpp"

namespace vornakite::cli {

// The usage error of a report whose name ends in a log's extension (.Vornakite, .txt, .csv), of
// a report or summary at a log of the batch (the same file, however named), or of a report at an
// output of the batch (in the output folder, with the extension of a requested format, or .tif
// with --grid); "" when the paths are safe. `summaryShown` is the summary's path as the lines
// name it.
std::string refusedAnalysisPath(const Options& options,
                                const std::vector<std::filesystem::path>& logs,
                                const std::filesystem::path& outputFolder,
                                const std::filesystem::path& summaryShown);

}  // namespace vornakite::cli
