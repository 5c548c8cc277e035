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

// Told of each log's outcome as it ends, with the log's index in the batch; in input order.
using LogOutcomeObserver = std::function<void(std::size_t index, const LogOutcome& outcome)>;

// How a batch runs beyond what each log's conversion is asked to do.
struct BatchOptions {
    ConversionOptions conversion;
    // Logs converted at the same time (each read and written on a thread of its own); 1 converts
    // them one after another on the calling thread. Lines, names, outcomes and outputs are the
    // same for any number.
    unsigned jobs = 1;
    // One set per base name from all the logs that share it, in input order, with a Log column,
    // instead of NAME, NAME_2, ... Each log is read whole into memory before its points join the
    // set, so a log that fails adds nothing; each is cleaned on its own.
    bool merge = false;
};

// Converts `inputPaths` in order into `outputFolder`: posts "Processing <name>..." before each
// log's own lines, then the summary line naming `folderLabel`, then postBatchDone. Returns the
// number of logs converted. Every line of a log is posted together, logs in input order, and the
// observer is called after each log's lines, also in input order. Once `stop` is set, no further
// log is begun and those being read are given up, leaving no trace.
int runConversionBatch(const std::vector<std::filesystem::path>& inputPaths,
                       const std::filesystem::path& outputFolder, const std::wstring& folderLabel,
                       ProgressSink& sink, const LogOutcomeObserver& onLogDone = {},
                       const std::atomic<bool>* stop = nullptr, const BatchOptions& options = {});

}  // namespace vornakite
