// The batch loop shared by the desktop program and the command-line converter.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "progress_sink.hpp"

namespace vornakite {

// Converts `inputPaths` in order into `outputFolder`: posts "Processing
// <name>..." before each log, then the summary line naming `folderLabel`,
// then postBatchDone. Returns the number of logs converted.
int runConversionBatch(const std::vector<std::filesystem::path>& inputPaths,
                       const std::filesystem::path& outputFolder, const std::wstring& folderLabel,
                       ProgressSink& sink);

}  // namespace vornakite
