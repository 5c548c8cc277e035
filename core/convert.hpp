// Converting one log into its output set: read, name, write.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analysis/cleaning.hpp"
#include "name/naming.hpp"
#include "progress_sink.hpp"
#include "write/output_transaction.hpp"
#include "write/set_writer.hpp"

namespace vornakite {

struct AnalysedLog;

// What a conversion writes beyond the standard set, and what it keeps for the caller. Without
// any of it a log's standard set is all that is written, streamed with flat memory.
struct ConversionOptions {
    // Beside the standard set BASE, BASE_clean with the points the filters keep and BASE_removed
    // with the others, the latter with a Reason column of the codes of every filter that
    // flagged the point.
    std::optional<analysis::CleaningOptions> cleaning;
    // Keep each converted log's points and cleaning result in its outcome, for a summary or a
    // report (the points are then held in memory).
    bool keepAnalysis = false;
    // With keepAnalysis: called with the set's base path and the analysed log once the filters
    // have judged it, on a thread of its own while the sets are written; convertLog waits for
    // it before it returns. Work that can go on meanwhile, such as a summary or a report section,
    // whose results are used once the log's outcome shows it converted. Must not throw.
    std::function<void(const std::filesystem::path&, const AnalysedLog&)> whileWriting;
};

// The Reason column of a removed set: all filter codes together fit.
inline constexpr TextColumn kReasonColumn{"Reason", 64};

// A converted log's points with the verdict of the filters on each.
struct AnalysedLog {
    std::vector<YieldPoint> points;
    analysis::CleaningResult cleaning;
};

// What the logs of one batch share: the options, the names given out so far, the output folders
// already cleared of abandoned temporaries, and a request to stop (the program is closing).
struct BatchContext {
    ConversionOptions options;
    BatchNames names;
    SweptFolders swept;
    const std::atomic<bool>* stop = nullptr;
};

// What became of one log.
struct LogOutcome {
    bool converted = false;
    // The set's folder and name, without extension; empty on failure.
    std::filesystem::path basePath;
    std::uint64_t points = 0;  // samples written
    std::string error;         // the failure's message (without "Error: "); empty on success
    std::string cleaningLine;  // "Cleaning: ..." when the filters ran
    std::shared_ptr<const AnalysedLog> analysed;  // with ConversionOptions::keepAnalysis
};

// Converts one log into outputFolder. Never throws: any failure is posted as one line
// "Error: <message>", and the outputs of the set's name are then exactly as they were. With
// cleaning, a converted log posts its cleaning line.
LogOutcome convertLog(const std::filesystem::path& inputPath,
                      const std::filesystem::path& outputFolder, ProgressSink& sink,
                      BatchContext& batch);

// convertLog's verdict alone.
bool convertFile(const std::filesystem::path& inputPath, const std::filesystem::path& outputFolder,
                 ProgressSink& sink, BatchContext& batch);

}  // namespace vornakite
