// Converting one log into its output sets: read, name, write. A conversion is done in two steps,
// so that logs can be read at the same time and still be named and placed in input order:
// prepareLog reads a log and writes its sets into temporaries, commitLog names them and moves
// them into place. For merged sets, loadLog reads a log whole and MergedSet gathers the logs.
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
#include "analysis/log_numbers.hpp"
#include "model/conversion_error.hpp"
#include "model/point_store.hpp"
#include "name/naming.hpp"
#include "progress_sink.hpp"
#include "write/output_set.hpp"
#include "write/output_transaction.hpp"
#include "write/set_writer.hpp"

namespace vornakite {

struct AnalysedLog;

// What a conversion writes beyond the standard set, and what it keeps for the caller. Without
// any of it a log's standard set is all that is written, as a shapefile set, streamed with flat
// memory.
struct ConversionOptions {
    // Beside the standard set BASE, BASE_clean with the points the filters keep and BASE_removed
    // with the others, the latter with a Reason column of the codes of every filter that
    // flagged the point.
    std::optional<analysis::CleaningOptions> cleaning;
    // Keep each converted log's points and cleaning result in its outcome, for a summary or a
    // report (the points are then held in memory).
    bool keepAnalysis = false;
    // Format and write a large log's outputs on a second thread while it is read (worth it when
    // a core is free, not when every core converts a log of its own).
    bool writeInBackground = true;
    // The formats every set of the log is written in.
    OutputFormats formats;
    // A log whose sets have a file at any of their names already fails with "Output set already
    // exists" and leaves what is there as it is.
    bool noClobber = false;
    // Every set has a Log column with the file name of the log each point comes from (merged
    // sets always have it).
    bool logColumn = false;
    // With keepAnalysis: called with the set's base path as it would be without a suffix for a
    // name taken earlier in the batch (the name is taken later, in input order) and the analysed
    // log, once the filters have judged it and its clean sets are written, while its field's
    // numbers are worked out on another thread; the conversion waits for it. awaitNumbers()
    // returns once the log's numbers are set (and throws when they could not be worked out).
    // Work that can go on meanwhile, such as a summary or a report section, whose results are
    // used once the log's outcome shows it converted (and under which name). Must not throw.
    std::function<void(const std::filesystem::path&, const AnalysedLog&,
                       const std::function<void()>& awaitNumbers)>
        whileWriting;
    // The field's numbers (worked out whenever the filters run, on the thread beside the
    // writing) and, with a grid cell, the yield surface written as BASE_yield.tif in the set's
    // transaction.
    analysis::LogNumbersOptions numbers;
};

// The Reason column of a removed set: all filter codes together fit.
inline constexpr TextColumn kReasonColumn{"Reason", 64};
// The Log column: the log's file name without its folder, in UTF-8, cut at a character
// boundary in the dBASE table (whole in GeoJSON and CSV).
inline constexpr TextColumn kLogColumn{"Log", 254};

// A converted log's points with the verdict of the filters on each.
struct AnalysedLog {
    PointStore points;
    analysis::CleaningResult cleaning;
    std::string crop;     // header field 8, as logged
    std::string logName;  // the log's file name without its folder, UTF-8
    std::optional<analysis::LogNumbers> numbers;
};

// The logs merged into one set, for the summary and the report of the whole set: each log's
// analysis and file name in the order they joined, the set's yield surface when one was asked
// for, and warnings about the set (logs far apart).
struct MergedAnalysis {
    std::vector<std::shared_ptr<const AnalysedLog>> logs;
    std::vector<std::string> logNames;
    std::shared_ptr<const analysis::YieldSurface> surface;
    std::vector<std::string> warnings;
};

// What the logs of one batch share: the options, the names given out so far, the output folders
// already cleared of abandoned temporaries, a request to stop (the program is closing), and the
// files of the batch's logs, which no output may replace.
struct BatchContext {
    ConversionOptions options;
    BatchNames names;
    SweptFolders swept;
    const std::atomic<bool>* stop = nullptr;
    std::vector<os::FileId> logFiles;  // sorted; see keepLogs
};

// The failure of a set one of whose files would replace a log of the batch.
inline constexpr const char* kOutputIsLogMessage = "Output would replace a log of this batch";

// Takes the identity of every log (the file each path leads to) into batch.logFiles, before any
// is converted, so that what a commit refuses does not depend on which log was converted first.
void rememberLogFiles(BatchContext& batch, const std::vector<std::filesystem::path>& logs);

// The check of a commit that refuses to replace any of batch.logFiles (the entry at an output
// name itself, never a link's target, since a link there is replaced, not followed), with
// kOutputIsLogMessage; none when the batch has no logs remembered.
EntryCheck keepLogs(const BatchContext& batch);

// What became of one log.
struct LogOutcome {
    bool converted = false;
    // The set's folder and name, without extension; empty on failure.
    std::filesystem::path basePath;
    std::uint64_t points = 0;  // samples written
    std::string error;         // the failure's message (without "Error: "); empty on success
    ErrorCode errorCode = ErrorCode::none;  // the failure's code; none on success
    ErrorPlace errorPlace;     // the line and field of a bad value, where the reader knows them
    std::string cleaningLine;  // "Cleaning: ..." when the filters ran
    // The analysis was asked for but given up for lack of memory (see kAnalysisOutOfMemoryLine):
    // the log converted, analysed stays empty, and logName names the log for the note.
    bool analysisOutOfMemory = false;
    std::string logName;
    std::shared_ptr<const AnalysedLog> analysed;  // with ConversionOptions::keepAnalysis
    // A log of a merged set: the whole set, the same for each of its logs (with keepAnalysis).
    std::shared_ptr<const MergedAnalysis> merged;
    // Lines told after the log's own ("Warning: ..."): on the last log of a merged set.
    std::vector<std::string> warnings;
};

// A log whose analysis (the filters, the field's numbers, its summary row and report section)
// cannot get the memory it needs keeps its standard set, written as without the analysis; its
// analysis is given up: this line takes the cleaning line's place, and the note the summary's
// row and the report's section of the log give.
inline constexpr const char* kAnalysisOutOfMemoryLine = "Cleaning: skipped for lack of memory";
inline constexpr const char* kAnalysisOutOfMemoryNote = "skipped for lack of memory";

// The outcome of a log that failed with `failure`.
LogOutcome failedLog(const Failure& failure);

// Converts one log into outputFolder. Never throws: any failure is posted as one line
// "Error: <message>", and the outputs of the set's name are then exactly as they were. With
// cleaning, a converted log posts its cleaning line.
LogOutcome convertLog(const std::filesystem::path& inputPath,
                      const std::filesystem::path& outputFolder, ProgressSink& sink,
                      BatchContext& batch);

// convertLog's verdict alone.
bool convertFile(const std::filesystem::path& inputPath, const std::filesystem::path& outputFolder,
                 ProgressSink& sink, BatchContext& batch);

// A log read and written into the temporaries of its sets, not yet named.
class PreparedLog {
  public:
    PreparedLog(PreparedLog&&) noexcept;
    PreparedLog& operator=(PreparedLog&&) noexcept;
    ~PreparedLog();

    struct State;

  private:
    explicit PreparedLog(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;

    friend PreparedLog prepareLog(const std::filesystem::path&, const std::filesystem::path&,
                                  BatchContext&);
    friend LogOutcome commitLog(PreparedLog, ProgressSink&, BatchContext&);
};

// convertLog's first step: reads the log, names it (without claiming the name), makes the output
// folder, runs the filters and completes every set in temporaries. Never throws; what failed is
// kept for commitLog. Uses only the batch's options, swept folders and stop request, so several
// logs of one batch may be prepared at the same time.
PreparedLog prepareLog(const std::filesystem::path& inputPath,
                       const std::filesystem::path& outputFolder, BatchContext& batch);

// convertLog's second step: a log that failed in reading or at the output folder posts its
// error and claims no name; any other claims its name in batch.names (so a failure to write
// still takes it) and then moves its sets into place, or posts why not. Never throws. The logs
// of a batch are committed in input order, which gives the names their suffixes.
LogOutcome commitLog(PreparedLog log, ProgressSink& sink, BatchContext& batch);

// The base name a log's header gives its sets, from the header alone: the name, or the error
// that reading the log up to its header's end gives. For grouping logs before they are read.
struct LogName {
    std::wstring name;
    Failure failure;
};
LogName readLogName(const std::filesystem::path& inputPath, const std::atomic<bool>* stop);

// A log read whole into memory, with the filters' verdict when cleaning, for a merged set.
struct LoadedLog {
    Failure failure;    // the reading failure; nothing else is set then
    std::wstring name;  // the base name its header gives
    std::shared_ptr<AnalysedLog> log;
    std::string cleaningLine;
    double centreLon = 0.0, centreLat = 0.0;  // the median of its valid positions
    bool hasCentre = false;
};

// Reads a log whole and runs the filters on it. Never throws; safe to call for several logs of
// one batch at the same time.
LoadedLog loadLog(const std::filesystem::path& inputPath, const BatchContext& batch);

// One set for all the logs of a batch that share a base name: every point with its log's file
// name in the Log column, logs in the order they are appended, each log cleaned on its own.
class MergedSet {
  public:
    MergedSet(const std::filesystem::path& outputFolder, const std::wstring& name,
              const ConversionOptions& options, SweptFolders& swept);
    ~MergedSet();

    // Appends a loaded log. Returns the failure, if any: a log whose points cannot be added (the
    // output folder cannot be made) adds nothing.
    Failure append(const LoadedLog& log, const std::filesystem::path& inputPath);
    // Completes the set and moves it into place, unless `check` refuses what is at its names;
    // returns the failure, if any.
    Failure commit(const EntryCheck& check = {});

    const std::filesystem::path& basePath() const { return basePath_; }
    // The set's yield surface, once committed with a grid cell.
    std::shared_ptr<const analysis::YieldSurface> surface() const { return surface_; }

  private:
    class Sets;
    void gatherForSurface(const AnalysedLog& log);

    const ConversionOptions& options_;
    std::filesystem::path basePath_;
    std::unique_ptr<OutputTransaction> transaction_;
    std::unique_ptr<Sets> sets_;
    // With a grid cell: the kept points of every log, and each log's swath estimate.
    std::vector<YieldPoint> keptPoints_;
    std::vector<double> swaths_;
    std::shared_ptr<const analysis::YieldSurface> surface_;
};

}  // namespace vornakite
