// The reading and writing shared by the conversion of one log and of merged sets: the points
// handed on as they are read (LogPoints), a log's sets in every requested format (LogSets), and
// the small steps both take.
#pragma once

#include <algorithm>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "convert.hpp"
#include "model/point_store.hpp"
#include "os/memory.hpp"
#include "read/log_reader.hpp"
#include "write/geotiff_writer.hpp"
#include "write/text_output.hpp"

namespace vornakite {

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
                kept_.append(points);
            } catch (const std::bad_alloc&) {
                if (standardSet_ == nullptr) {
                    throw;  // nothing else to go on with
                }
                // The standard set goes on without the analysis: its points go at once.
                keep_ = false;
                PointStore().swap(kept_);
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
            kept_.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(bytes / 48, SIZE_MAX)));
        } catch (const std::exception&) {
        }
    }
    const LogHeader& logHeader() const { return header_; }
    PointStore takePoints() { return std::move(kept_); }
    // Every point was kept: they were asked for and the memory did not run out.
    bool keeps() const { return keep_; }

  private:
    PointSink* standardSet_;
    bool keep_;
    LogHeader header_;
    PointStore kept_;  // compactly: the analysis of a long log holds every point
};

// The base name of a log's sets, from its header.
std::wstring nameOf(const LogHeader& h, const std::filesystem::path& inputPath);

// The log's file name as the Log column holds it.
std::string logColumnText(const std::filesystem::path& inputPath);

// The columns, with the Log column after them when it is asked for.
std::vector<TextColumn> withLog(std::vector<TextColumn> columns, bool logColumn);

// The options need the points kept for an analysis.
bool keepsPoints(const ConversionOptions& options);

// The field's numbers of an analysed log, its surface with them when a grid cell is set.
void numbersOf(AnalysedLog& log, const analysis::LogNumbersOptions& options);

// The cleaning line, ending with the field's numbers when the log was judged (a log too small
// to judge is too small for them).
std::string lineWithNumbers(const AnalysedLog& log);

// A failure for lack of memory: an allocation, or a thread the system has no room for.
bool forLackOfMemory(const std::exception& e);

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
    void writeCleaned(PointView points, const analysis::CleaningResult& result);

    // BASE_yield.tif, when the set has one: the surface, or the reason there is none.
    void writeSurface(const analysis::YieldSurface* surface, const std::string& error);

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

}  // namespace vornakite
