// Converting logs into their sets: one log (prepared, then committed) and merged sets. Over 500
// lines because both ways share the reading of the points and the writing of the sets
// (LogPoints, LogSets), and a log's analysis, which may be given up for lack of memory, lies
// between the two.
#include "convert.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "analysis/geo.hpp"
#include "os/memory.hpp"
#include "read/log_reader.hpp"
#include "text/text.hpp"
#include "write/background_writer.hpp"
#include "write/geotiff_writer.hpp"
#include "write/text_output.hpp"

namespace vornakite {
namespace {

// Hands the points of the log on as they are read: to the standard set, and to a list kept for
// the analysis when it runs. Keeps the header.
class LogPoints : public LogVisitor {
  public:
    LogPoints(PointSink* standardSet, bool keep) : standardSet_(standardSet), keep_(keep) {}
    void header(const LogHeader& header) override { header_ = header; }
    void addPoints(std::span<const YieldPoint> points) override {
        if (standardSet_ != nullptr) {
            standardSet_->addPoints(points);
        }
        if (keep_) {
            try {
                kept_.insert(kept_.end(), points.begin(), points.end());
            } catch (const std::bad_alloc&) {
                if (standardSet_ == nullptr) {
                    throw;  // nothing else to go on with
                }
                // The standard set goes on without the analysis: its points go at once.
                keep_ = false;
                std::vector<YieldPoint>().swap(kept_);
            }
        }
    }
    // Room for the points of a log of `bytes` bytes, so that keeping them does not copy them
    // as they grow: a sample line is rarely shorter than 48 bytes. Only the pages filled are
    // ever touched; without the room the points are kept all the same.
    void opened(std::uint64_t bytes) override {
        if (!keep_) {
            return;
        }
        try {
            os::reserveLarge(
                kept_, static_cast<std::size_t>(std::min<std::uint64_t>(bytes / 48, SIZE_MAX)));
        } catch (const std::exception&) {
        }
    }
    const LogHeader& logHeader() const { return header_; }
    std::vector<YieldPoint> takePoints() { return std::move(kept_); }
    // Every point was kept: they were asked for and the memory did not run out.
    bool keeps() const { return keep_; }

  private:
    PointSink* standardSet_;
    bool keep_;
    LogHeader header_;
    std::vector<YieldPoint> kept_;
};

std::wstring nameOf(const LogHeader& h, const std::filesystem::path& inputPath) {
    return outputBaseName(h.field6, h.field7, h.field8, inputPath);
}

// The log's file name as the Log column holds it.
std::string logColumnText(const std::filesystem::path& inputPath) {
    return toUtf8(fileNameOf(pathText(inputPath)));
}

std::vector<TextColumn> withLog(std::vector<TextColumn> columns, bool logColumn) {
    if (logColumn) {
        columns.push_back(kLogColumn);
    }
    return columns;
}

bool keepsPoints(const ConversionOptions& options) {
    return options.cleaning || options.keepAnalysis;
}

// The field's numbers of an analysed log, its surface with them when a grid cell is set.
void numbersOf(AnalysedLog& log, const analysis::LogNumbersOptions& options) {
    log.numbers = analysis::logNumbers(log.points, log.cleaning, log.crop, options);
}

// The cleaning line, ending with the field's numbers when the log was judged (a log too small
// to judge is too small for them).
std::string lineWithNumbers(const AnalysedLog& log) {
    std::string line = analysis::cleaningLine(log.cleaning);
    if (log.numbers && log.cleaning.judged()) {
        line += "; " + analysis::numbersLineText(log.numbers->numbers);
    }
    return line;
}

// A failure for lack of memory: an allocation, or a thread the system has no room for.
bool forLackOfMemory(const std::exception& e) {
    const auto* system = dynamic_cast<const std::system_error*>(&e);
    return dynamic_cast<const std::bad_alloc*>(&e) != nullptr ||
           (system != nullptr && system->code() == std::errc::resource_unavailable_try_again);
}

}  // namespace

// The sets of a log, each in every requested format: the standard set and, when cleaning, the
// sets the filters split the log into: the kept points, and the removed ones with the codes of
// the filters that flagged each. With the Log column, every record carries the log's file name.
class LogSets {
  public:
    LogSets(OutputTransaction& transaction, const ConversionOptions& options)
        : logColumn_(options.logColumn),
          transaction_(transaction),
          standard_(transaction, options.formats,
                    SetLayout{{}, withLog({}, options.logColumn), true}),
          firstAnalysisOutput_(transaction.outputCount()) {
        if (options.cleaning) {
            kept_.emplace(transaction, options.formats,
                          SetLayout{L"_clean", withLog({}, options.logColumn), true});
            removed_.emplace(
                transaction, options.formats,
                SetLayout{L"_removed", withLog({kReasonColumn}, options.logColumn), true});
        }
        if (options.numbers.gridCellMetres > 0.0) {
            grid_.emplace(transaction, L"_yield.tif", kGeoTiffMessages);
        }
    }

    PointSetWriter& standard() { return standard_; }

    // Gives up the sets of the analysis (kept, removed, the yield grid) and their buffers; the
    // standard set is written and placed as without them.
    void dropAnalysisSets() {
        kept_.reset();
        removed_.reset();
        grid_.reset();
        transaction_.dropFrom(firstAnalysisOutput_);
    }

    // The Log value of the records added from now on.
    void setLog(const std::filesystem::path& inputPath) {
        if (logColumn_) {
            log_ = logColumnText(inputPath);
            standard_.setTexts({log_});
            if (kept_) {
                kept_->setTexts({log_});
            }
        }
    }

    // The records as the filters judged them: with a lag undone, each keeps its position and
    // speed and takes the values logged the lag after it (missing where there are none).
    void writeCleaned(std::span<const YieldPoint> points, const analysis::CleaningResult& result) {
        const analysis::LagShift& lag = result.lag;
        analysis::FilterMask mask = 0;
        std::string reason;
        for (std::size_t i = 0; i < points.size();) {
            std::size_t run = i;
            while (run < points.size() && result.isKept(run)) {
                ++run;
            }
            if (run > i && !lag.moves()) {  // a run of kept points at once
                kept_->addPoints(points.subspan(i, run - i));
                i = run;
                continue;
            }
            for (; i < run; i += records_.size()) {  // a run of moved records, a batch at a time
                records_.clear();
                for (std::size_t k = i; k < run && records_.size() < kBatch; ++k) {
                    records_.push_back(lag.record(points, k));
                }
                kept_->addPoints(records_);
            }
            if (i >= points.size()) {
                break;
            }
            if (result.flags[i] != mask || reason.empty()) {
                mask = result.flags[i];
                reason = analysis::reasonText(mask);
            }
            const std::string_view texts[] = {reason, log_};
            removed_->addPoint(lag.record(points, i), texts);
            ++i;
        }
    }

    // BASE_yield.tif, when the set has one: the surface, or the reason there is none.
    void writeSurface(const analysis::YieldSurface* surface, const std::string& error) {
        if (!grid_) {
            return;
        }
        if (surface == nullptr || surface->columns == 0) {
            throw std::runtime_error(error.empty() ? "No kept point with a position and a yield "
                                                     "for the yield grid"
                                                   : error);
        }
        const GeoTiffRaster raster{surface->columns, surface->rows,       surface->west,
                                   surface->north,   surface->cellMetres, surface->epsg,
                                   surface->values};
        writeGeoTiff(raster, [this](const char* data, std::size_t size) {
            grid_->sputn(data, static_cast<std::streamsize>(size));
        });
        grid_->finish();
    }

    void finish() {
        standard_.finish();
        if (kept_) {
            kept_->finish();
            removed_->finish();
        }
    }

  private:
    static constexpr std::size_t kBatch = 4096;
    bool logColumn_;
    std::string log_;
    OutputTransaction& transaction_;
    std::vector<YieldPoint> records_;  // moved records on their way to the clean set
    PointSetWriter standard_;
    std::size_t firstAnalysisOutput_;  // the outputs of the transaction from here on
    std::optional<PointSetWriter> kept_;
    std::optional<PointSetWriter> removed_;
    std::optional<StreamedOutput> grid_;
};

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
// the kept and removed sets are written while the field's numbers and the caller's work on the
// analysis are done beside, then the yield grid.
void judgeAndWrite(PreparedLog::State& s, LogPoints& visitor, const ConversionOptions& options) {
    s.analysed = std::make_shared<AnalysedLog>();
    s.analysed->points = visitor.takePoints();
    s.analysed->crop = visitor.logHeader().field8;
    s.analysed->logName = s.logName;
    s.analysed->cleaning = analysis::cleanPoints(
        s.analysed->points, options.cleaning.value_or(analysis::CleaningOptions{}));
    std::exception_ptr numbersFailure;
    auto alongsideWork = [&](const std::filesystem::path& unsuffixed) {
        try {
            numbersOf(*s.analysed, options.numbers);
        } catch (...) {
            numbersFailure = std::current_exception();
            return;  // no numbers: the caller's work would need them
        }
        if (options.whileWriting) {
            options.whileWriting(unsuffixed, *s.analysed);
        }
    };
    const std::filesystem::path unsuffixed = s.outputFolder / s.name;
    std::jthread alongside;  // joined when this function ends, however it ends
    try {
        alongside = std::jthread(alongsideWork, unsuffixed);
    } catch (const std::system_error&) {
        alongsideWork(unsuffixed);  // no thread to be had: first
    }
    if (options.cleaning) {
        s.sets->writeCleaned(s.analysed->points, s.analysed->cleaning);
    }
    if (alongside.joinable()) {
        alongside.join();
    }
    if (numbersFailure) {
        std::rethrow_exception(numbersFailure);
    }
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

namespace {

// Ends a reading once the header is in.
struct HeaderRead {};

class HeaderOnly : public LogVisitor {
  public:
    void header(const LogHeader& header) override {
        header_ = header;
        throw HeaderRead{};
    }
    void addPoints(std::span<const YieldPoint>) override {}
    const LogHeader& logHeader() const { return header_; }

  private:
    LogHeader header_;
};

}  // namespace

LogName readLogName(const std::filesystem::path& inputPath, const std::atomic<bool>* stop) {
    HeaderOnly visitor;
    try {
        readLog(inputPath, visitor, stop);
    } catch (const HeaderRead&) {
        return {nameOf(visitor.logHeader(), inputPath), {}};
    } catch (const std::exception& e) {
        return {{}, failureOf(e)};
    }
    return {nameOf(visitor.logHeader(), inputPath), {}};  // not reached: a log has a header
}

LoadedLog loadLog(const std::filesystem::path& inputPath, const BatchContext& batch) {
    const ConversionOptions& options = batch.options;
    LoadedLog loaded;
    try {
        LogPoints visitor(nullptr, true);
        readLog(inputPath, visitor, batch.stop);
        loaded.name = nameOf(visitor.logHeader(), inputPath);
        loaded.log = std::make_shared<AnalysedLog>();
        loaded.log->points = visitor.takePoints();
        loaded.log->crop = visitor.logHeader().field8;
        loaded.log->logName = logColumnText(inputPath);
        if (keepsPoints(options)) {
            loaded.log->cleaning = analysis::cleanPoints(
                loaded.log->points, options.cleaning.value_or(analysis::CleaningOptions{}));
            // Each log's own numbers; the merged set's surface is made from all its logs.
            analysis::LogNumbersOptions numbers = options.numbers;
            numbers.gridCellMetres = 0.0;
            numbersOf(*loaded.log, numbers);
        }
        if (options.cleaning) {
            loaded.cleaningLine = lineWithNumbers(*loaded.log);
        }
        const analysis::LocalProjection centre =
            analysis::LocalProjection::around(loaded.log->points);
        loaded.centreLon = centre.centreLon();
        loaded.centreLat = centre.centreLat();
        loaded.hasCentre =
            std::any_of(loaded.log->points.begin(), loaded.log->points.end(),
                        [](const YieldPoint& p) { return analysis::validPosition(p); });
    } catch (const std::exception& e) {
        loaded = LoadedLog{};
        loaded.failure = failureOf(e);
    }
    return loaded;
}

class MergedSet::Sets : public LogSets {
    using LogSets::LogSets;
};

MergedSet::MergedSet(const std::filesystem::path& outputFolder, const std::wstring& name,
                     const ConversionOptions& options, SweptFolders& swept)
    : options_(options),
      basePath_(outputFolder / name),
      transaction_(std::make_unique<OutputTransaction>(outputFolder, &swept)) {
    ConversionOptions withLogColumn = options;
    withLogColumn.logColumn = true;
    sets_ = std::make_unique<Sets>(*transaction_, withLogColumn);
}

MergedSet::~MergedSet() = default;

Failure MergedSet::append(const LoadedLog& log, const std::filesystem::path& inputPath) {
    try {
        transaction_->createFolder();
    } catch (const std::exception& e) {
        return failureOf(e);
    }
    try {
        sets_->setLog(inputPath);
        sets_->standard().addPoints(log.log->points);
        if (options_.cleaning) {
            sets_->writeCleaned(log.log->points, log.log->cleaning);
        }
        if (options_.numbers.gridCellMetres > 0.0) {
            gatherForSurface(*log.log);
        }
    } catch (const std::exception& e) {
        return failureOf(e);
    }
    return {};
}

void MergedSet::gatherForSurface(const AnalysedLog& log) {
    for (std::size_t i = 0; i < log.points.size(); ++i) {
        if (log.cleaning.flags.empty() || log.cleaning.isKept(i)) {
            keptPoints_.push_back(log.cleaning.lag.record(log.points, i));
        }
    }
    if (log.numbers && std::isfinite(log.numbers->numbers.swathMetres)) {
        swaths_.push_back(log.numbers->numbers.swathMetres);
    }
}

Failure MergedSet::commit(const EntryCheck& check) {
    try {
        if (options_.numbers.gridCellMetres > 0.0) {
            // The set's surface from the kept points of all its logs, the radius from the
            // median of their swaths.
            std::string error;
            try {
                analysis::SurfaceOptions surface;
                surface.cellMetres = options_.numbers.gridCellMetres;
                double swath = 0.0;
                if (!swaths_.empty()) {
                    const auto middle =
                        swaths_.begin() + static_cast<std::ptrdiff_t>(swaths_.size() / 2);
                    std::nth_element(swaths_.begin(), middle, swaths_.end());
                    swath = *middle;
                }
                surface_ = std::make_shared<const analysis::YieldSurface>(
                    analysis::buildSurface(keptPoints_, {}, swath, surface));
            } catch (const analysis::SurfaceTooLarge& e) {
                error = e.what();
            }
            keptPoints_ = {};
            sets_->writeSurface(surface_.get(), error);
        }
        sets_->finish();
        transaction_->commit(basePath_, !options_.noClobber, check);
    } catch (const std::exception& e) {
        return failureOf(e);
    }
    return {};
}

}  // namespace vornakite
