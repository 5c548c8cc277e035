// Converting one log into its sets: prepared (read, judged, written into temporaries), then
// committed; a log's analysis, which may be given up for lack of memory, lies between the two.
#include "convert.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "analysis/geo.hpp"
#include "log_sets.hpp"
#include "os/memory.hpp"
#include "read/log_reader.hpp"
#include "text/text.hpp"
#include "write/background_writer.hpp"
#include "write/geotiff_writer.hpp"
#include "write/text_output.hpp"

namespace vornakite {

struct PreparedLog::State {
    std::filesystem::path outputFolder;
    // Set when the log failed before its name is taken: in reading, or at the output folder.
    Failure unnamedFailure;
    std::wstring name;
    std::uint64_t points = 0;
    // Set when it failed after that: in the analysis or writing the temporaries.
    Failure writeFailure;
    std::unique_ptr<OutputTransaction> transaction;
    std::unique_ptr<LogSets> sets;
    std::shared_ptr<AnalysedLog> analysed;
    std::string logName;
    bool analysisOutOfMemory = false;  // see kAnalysisOutOfMemoryLine
};

namespace {

// The analysis of a log whose points `visitor` kept, and its sets: the filters judge the points,
// then the field's numbers are worked out beside the writing of the kept and removed sets and
// the caller's work on the analysis, then the yield grid.
void judgeAndWrite(PreparedLog::State& s, LogPoints& visitor, const ConversionOptions& options) {
    s.analysed = std::make_shared<AnalysedLog>();
    s.analysed->points = visitor.takePoints();
    s.analysed->crop = visitor.logHeader().field8;
    s.analysed->logName = s.logName;
    s.analysed->cleaning = analysis::cleanPoints(
        s.analysed->points, options.cleaning.value_or(analysis::CleaningOptions{}));
    // The filters' arrays (about 26 bytes a point) go before the numbers and the report make
    // theirs.
    os::returnFreedMemory(s.analysed->points.size() * 26);
    std::exception_ptr numbersFailure;
    auto workNumbers = [&] {
        try {
            numbersOf(*s.analysed, options.numbers);
        } catch (...) {
            numbersFailure = std::current_exception();
        }
    };
    std::jthread alongside;  // joined when this function ends, however it ends
    try {
        alongside = std::jthread(workNumbers);
    } catch (const std::system_error&) {
        workNumbers();  // no thread to be had: first
    }
    auto awaitNumbers = [&] {
        if (alongside.joinable()) {
            alongside.join();
            // The numbers' arrays (about 24 bytes a point) were freed on that thread, whose
            // room this one cannot reuse: it goes back before the report section is rendered.
            os::returnFreedMemory(s.analysed->points.size() * 24);
        }
        if (numbersFailure) {
            std::rethrow_exception(numbersFailure);
        }
    };
    if (options.cleaning) {
        s.sets->writeCleaned(s.analysed->points, s.analysed->cleaning);
    }
    if (options.whileWriting) {
        options.whileWriting(s.outputFolder / s.name, *s.analysed, awaitNumbers);
    }
    awaitNumbers();
    const analysis::LogNumbers& numbers = *s.analysed->numbers;
    s.sets->writeSurface(numbers.surface ? &*numbers.surface : nullptr, numbers.surfaceError);
}

// The analysis, or, when it cannot get the memory it needs, none: its memory is let go, its sets
// are given up, and the standard set is written as without it.
void analyseAndWrite(PreparedLog::State& s, LogPoints& visitor,
                     const std::filesystem::path& inputPath, const ConversionOptions& options) {
    s.logName = logColumnText(inputPath);
    try {
        if (visitor.keeps()) {
            judgeAndWrite(s, visitor, options);
            return;
        }
    } catch (const std::exception& e) {
        if (!forLackOfMemory(e)) {
            throw;
        }
    }
    s.analysed.reset();
    visitor.takePoints();
    s.sets->dropAnalysisSets();
    s.analysisOutOfMemory = true;
}

}  // namespace

PreparedLog::PreparedLog(std::unique_ptr<State> state) : state_(std::move(state)) {}
PreparedLog::PreparedLog(PreparedLog&&) noexcept = default;
PreparedLog& PreparedLog::operator=(PreparedLog&&) noexcept = default;
PreparedLog::~PreparedLog() = default;

namespace {

// The points kept for the analysis left too little memory for the reading or the writing of the
// standard set: everything of that reading is gone, and the log is read again without them.
struct KeptTooMuch {};

// One reading of the log into the temporaries of its sets, the analysis's points kept or not.
// A log read without them, though the analysis was asked for, gives the analysis up.
void readAndWrite(PreparedLog::State& s, const std::filesystem::path& inputPath,
                  BatchContext& batch, bool keep) {
    const ConversionOptions& options = batch.options;
    LogPoints* visitor = nullptr;
    std::optional<LogPoints> points;
    std::optional<BackgroundWriter> background;
    const auto giveUp = [&] {
        background.reset();  // the writing thread stops before its sets go
        points.reset();
        s.sets.reset();
        s.transaction.reset();  // the temporaries go at once, not when the log's turn comes
    };
    try {
        // Every output of the log is part of one transaction, made before anything is written.
        s.transaction = std::make_unique<OutputTransaction>(s.outputFolder, &batch.swept);
        s.sets = std::make_unique<LogSets>(*s.transaction, options);
        if (!keep) {
            s.sets->dropAnalysisSets();
        }
        s.sets->setLog(inputPath);
        PointSink* standard = &s.sets->standard();
        if (options.writeInBackground) {
            standard = &background.emplace(s.sets->standard());
        }
        visitor = &points.emplace(standard, keep);

        // Read: every error of the log itself comes first, whatever happened to the outputs.
        s.points = readLog(inputPath, *visitor, batch.stop);

        // Name: the folder must be there before a name is taken.
        s.name = nameOf(visitor->logHeader(), inputPath);
        s.transaction->createFolder();
        // The writing thread's failures, like every failure of writing, come after the name.
        if (background) {
            try {
                background->finish();
            } catch (const std::exception& e) {
                if (keep && forLackOfMemory(e)) {
                    throw;
                }
                s.writeFailure = failureOf(e);
                return;
            }
        }
    } catch (const std::exception& e) {
        giveUp();
        if (keep && forLackOfMemory(e)) {
            throw KeptTooMuch{};
        }
        s.unnamedFailure = failureOf(e);
        return;
    }
    try {
        if (keepsPoints(options)) {
            analyseAndWrite(s, *visitor, inputPath, options);
        }
        s.sets->finish();
    } catch (const std::exception& e) {
        s.writeFailure = failureOf(e);
    }
}

}  // namespace

PreparedLog prepareLog(const std::filesystem::path& inputPath,
                       const std::filesystem::path& outputFolder, BatchContext& batch) {
    auto state = std::make_unique<PreparedLog::State>();
    state->outputFolder = outputFolder;
    try {
        readAndWrite(*state, inputPath, batch, keepsPoints(batch.options));
    } catch (const KeptTooMuch&) {
        // The room the kept points took goes back to the system first: the allocator may keep
        // freed room for reuse, where the plain reading's buffers and threads cannot use it.
        os::returnFreedMemory(std::numeric_limits<std::size_t>::max());
        readAndWrite(*state, inputPath, batch, false);
    }
    return PreparedLog(std::move(state));
}

void rememberLogFiles(BatchContext& batch, const std::vector<std::filesystem::path>& logs) {
    batch.logFiles.clear();
    for (const std::filesystem::path& log : logs) {
        if (const auto id = os::fileIdentity(log, true)) {
            batch.logFiles.push_back(*id);
        }
    }
    std::sort(batch.logFiles.begin(), batch.logFiles.end());
}

EntryCheck keepLogs(const BatchContext& batch) {
    if (batch.logFiles.empty()) {
        return {};
    }
    return [&files = batch.logFiles](const std::filesystem::path& name) {
        const auto id = os::fileIdentity(name, false);
        if (id && std::binary_search(files.begin(), files.end(), *id)) {
            throw ConversionError(ErrorCode::outputIsLog, kOutputIsLogMessage);
        }
    };
}

LogOutcome failedLog(const Failure& failure) {
    LogOutcome failed;
    failed.error = failure.message;
    failed.errorCode = failure.code;
    failed.errorPlace = failure.place;
    return failed;
}

namespace {

LogOutcome failedOutcome(const Failure& failure, ProgressSink& sink) {
    sink.postLine(L"Error: " + widenText(failure.message));
    return failedLog(failure);
}

}  // namespace

LogOutcome commitLog(PreparedLog log, ProgressSink& sink, BatchContext& batch) {
    const ConversionOptions& options = batch.options;
    PreparedLog::State& s = *log.state_;
    try {
        if (s.unnamedFailure.failed()) {
            return failedOutcome(s.unnamedFailure, sink);
        }
        const std::filesystem::path basePath = s.outputFolder / batch.names.claim(s.name);
        if (s.writeFailure.failed()) {
            return failedOutcome(s.writeFailure, sink);
        }
        // Move every set into place together.
        s.transaction->commit(basePath, !options.noClobber, keepLogs(batch));
        LogOutcome outcome;
        outcome.converted = true;
        outcome.basePath = basePath;
        outcome.points = s.points;
        if (s.analysisOutOfMemory) {
            outcome.analysisOutOfMemory = true;
            outcome.logName = s.logName;
            outcome.cleaningLine = kAnalysisOutOfMemoryLine;
            sink.postLine(widenText(outcome.cleaningLine));
        } else if (options.cleaning) {
            outcome.cleaningLine = lineWithNumbers(*s.analysed);
            sink.postLine(widenText(outcome.cleaningLine));
        }
        if (options.keepAnalysis) {
            outcome.analysed = std::move(s.analysed);
        }
        return outcome;
    } catch (const std::exception& e) {
        return failedOutcome(failureOf(e), sink);
    }
}

LogOutcome convertLog(const std::filesystem::path& inputPath,
                      const std::filesystem::path& outputFolder, ProgressSink& sink,
                      BatchContext& batch) {
    return commitLog(prepareLog(inputPath, outputFolder, batch), sink, batch);
}

bool convertFile(const std::filesystem::path& inputPath, const std::filesystem::path& outputFolder,
                 ProgressSink& sink, BatchContext& batch) {
    return convertLog(inputPath, outputFolder, sink, batch).converted;
}

}  // namespace vornakite
