// Merged sets: the logs that share a name read whole, each judged on its own, and written into
// one set with a Log column.
#include <algorithm>
#include <cmath>
#include <memory>

#include "analysis/geo.hpp"
#include "convert.hpp"
#include "log_sets.hpp"

namespace vornakite {

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
        const PointView points = loaded.log->points;
        loaded.hasCentre = std::any_of(points.begin(), points.end(), [](const YieldPoint& p) {
            return analysis::validPosition(p);
        });
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
        addAll(sets_->standard(), log.log->points);
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
