#include "log_sets.hpp"

#include <stdexcept>
#include <system_error>

#include "model/conversion_error.hpp"
#include "text/text.hpp"
#include "write/geotiff_writer.hpp"
#include "write/text_output.hpp"

namespace vornakite {

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

void LogSets::writeCleaned(PointView points, const analysis::CleaningResult& result) {
    const analysis::LagShift& lag = result.lag;
    analysis::FilterMask mask = 0;
    std::string reason;
    for (std::size_t i = 0; i < points.size();) {
        std::size_t run = i;
        while (run < points.size() && result.isKept(run)) {
            ++run;
        }
        if (run > i && !lag.moves()) {  // a run of kept points at once (a batch at a time
                                        // where they are stored compactly)
            records_.resize(kBatch);
            while (i < run) {
                const std::span<const YieldPoint> kept = points.run(i, run - i, records_);
                kept_->addPoints(kept);
                i += kept.size();
            }
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

void LogSets::writeSurface(const analysis::YieldSurface* surface, const std::string& error) {
    if (!grid_) {
        return;
    }
    if (surface == nullptr || surface->columns == 0) {
        throw ConversionError(ErrorCode::noGrid, error.empty() ? "No kept point with a position "
                                                                 "and a yield for the yield grid"
                                                               : error);
    }
    const GeoTiffRaster raster{surface->columns,    surface->rows, surface->west,  surface->north,
                               surface->cellMetres, surface->epsg, surface->values};
    writeGeoTiff(raster, [this](const char* data, std::size_t size) {
        grid_->sputn(data, static_cast<std::streamsize>(size));
    });
    grid_->finish();
}

}  // namespace vornakite
