// The batch loop shared by the desktop program and the command-line converter.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "convert.hpp"
#include "progress_sink.hpp"

namespace vornakite {

// Told of each log's outcome as it ends, with the log's index in the batch.
using LogOutcomeObserver = std::function<void(std::size_t index, const LogOutcome& outcome)>;

// Converts `inputPaths` in order into `outputFolder`: posts "Processing
// <name>..." before each log, then the summary line naming `folderLabel`,
// then postBatchDone. Returns the number of logs converted. Once `stop` is set, no further log
// is begun and the one being read is given up, leaving no trace. `options` say what each
// conversion writes beyond the standard set.
int runConversionBatch(const std::vector<std::filesystem::path>& inputPaths,
                       const std::filesystem::path& outputFolder, const std::wstring& folderLabel,
                       ProgressSink& sink, const LogOutcomeObserver& onLogDone = {},
                       const std::atomic<bool>* stop = nullptr,
                       const ConversionOptions& options = {});

}  // namespace vornakite
