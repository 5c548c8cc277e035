// Converting one log into its output set: read, name, write.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

#include "name/naming.hpp"
#include "progress_sink.hpp"
#include "write/output_transaction.hpp"
#include "write/set_writer.hpp"

namespace vornakite {

// What the logs of one batch share: the names given out so far, the output folders already
// cleared of abandoned temporaries, and a request to stop (the program is closing).
struct BatchContext {
    BatchNames names;
    SweptFolders swept;
    const std::atomic<bool>* stop = nullptr;
};

// What became of one log.
struct LogOutcome {
    bool converted = false;
    std::filesystem::path
        basePath;              // the set's folder and name, without extension; empty on failure
    std::uint64_t points = 0;  // samples written
    std::string error;         // the failure's message (without "Error: "); empty on success
};

// Converts one log into outputFolder. Never throws: any failure is posted as one line
// "Error: <message>", and the outputs of the set's name are then exactly as they were.
LogOutcome convertLog(const std::filesystem::path& inputPath,
                      const std::filesystem::path& outputFolder, ProgressSink& sink,
                      BatchContext& batch);

// convertLog's verdict alone.
bool convertFile(const std::filesystem::path& inputPath, const std::filesystem::path& outputFolder,
                 ProgressSink& sink, BatchContext& batch);

}  // namespace vornakite
