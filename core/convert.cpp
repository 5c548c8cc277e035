#include "convert.hpp"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

#include "os/memory.hpp"
#include "read/log_reader.hpp"
#include "text/text.hpp"

namespace vornakite {
namespace {

// Hands the points of the log on as they are read: to the standard set, and to a list kept for
// the analysis when it runs. Keeps the header.
class LogPoints : public LogVisitor {
  public:
    LogPoints(PointSink& standardSet, bool keep) : standardSet_(standardSet), keep_(keep) {}
    void header(const LogHeader& header) override { header_ = header; }
    void addPoints(std::span<const YieldPoint> points) override {
        standardSet_.addPoints(points);
        if (keep_) {
            kept_.insert(kept_.end(), points.begin(), points.end());
        }
    }
    // Room for the points of a log of `bytes` bytes, so that keeping them does not copy them
    // as they grow: a sample line is rarely shorter than 48 bytes. Only the pages filled are
    // ever touched; without the room the points are kept all the same.
    void expect(std::uint64_t bytes) {
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

  private:
    PointSink& standardSet_;
    bool keep_;
    LogHeader header_;
    std::vector<YieldPoint> kept_;
};

// The sets the filters split a log into: the kept points, and the removed ones with the codes
// of the filters that flagged each.
class CleanedSets {
  public:
    explicit CleanedSets(OutputTransaction& transaction)
        : kept_(transaction, SetLayout{L"_clean", {}, true}),
          removed_(transaction, SetLayout{L"_removed", {kReasonColumn}, true}) {}

    void write(std::span<const YieldPoint> points, const analysis::CleaningResult& result) {
        analysis::FilterMask mask = 0;
        std::string reason;
        for (std::size_t i = 0; i < points.size();) {
            std::size_t run = i;
            while (run < points.size() && result.isKept(run)) {
                ++run;
            }
            if (run > i) {  // a run of kept points at once
                kept_.addPoints(points.subspan(i, run - i));
                i = run;
                continue;
            }
            if (result.flags[i] != mask || reason.empty()) {
                mask = result.flags[i];
                reason = analysis::reasonText(mask);
            }
            const std::string_view texts[] = {reason};
            removed_.addPoint(points[i], texts);
            ++i;
        }
    }
    void finish() {
        kept_.finish();
        removed_.finish();
    }

  private:
    ShapefileSetWriter kept_;
    ShapefileSetWriter removed_;
};

}  // namespace

LogOutcome convertLog(const std::filesystem::path& inputPath,
                      const std::filesystem::path& outputFolder, ProgressSink& sink,
                      BatchContext& batch) {
    const ConversionOptions& options = batch.options;
    try {
        // Every output of the log is part of one transaction, made before anything is written.
        OutputTransaction transaction(outputFolder, &batch.swept);
        ShapefileSetWriter standardSet(transaction);
        std::optional<CleanedSets> cleanedSets;
        if (options.cleaning) {
            cleanedSets.emplace(transaction);
        }
        LogPoints visitor(standardSet, options.cleaning || options.keepAnalysis);

        std::error_code sizeError;
        const std::uintmax_t bytes = std::filesystem::file_size(inputPath, sizeError);
        visitor.expect(sizeError ? 0 : bytes);

        // Read: every error of the log itself comes first, whatever happened to the outputs.
        const std::uint64_t points = readLog(inputPath, visitor, batch.stop);

        // Name: the folder must be there before a name is taken.
        const LogHeader& h = visitor.logHeader();
        const std::wstring name = outputBaseName(h.field6, h.field7, h.field8, inputPath);
        transaction.createFolder();
        const std::filesystem::path basePath = outputFolder / batch.names.claim(name);

        // Analyse, when asked: the filters judge the points the reading kept.
        LogOutcome outcome{true, basePath, points, {}, {}, {}};
        std::shared_ptr<AnalysedLog> analysed;
        if (options.cleaning || options.keepAnalysis) {
            analysed = std::make_shared<AnalysedLog>();
            analysed->points = visitor.takePoints();
            analysed->cleaning = analysis::cleanPoints(
                analysed->points, options.cleaning.value_or(analysis::CleaningOptions{}));
        }

        // Write: complete every set and move them into place together, the caller's work on
        // the analysis meanwhile.
        std::thread alongside;
        const struct Joiner {
            std::thread& thread;
            ~Joiner() {
                if (thread.joinable()) {
                    thread.join();
                }
            }
        } joiner{alongside};
        if (options.whileWriting && analysed) {
            try {
                alongside = std::thread(options.whileWriting, basePath, std::cref(*analysed));
            } catch (const std::system_error&) {
                options.whileWriting(basePath, *analysed);  // no thread to be had: first
            }
        }
        standardSet.finish();
        if (cleanedSets) {
            cleanedSets->write(analysed->points, analysed->cleaning);
            cleanedSets->finish();
        }
        transaction.commit(basePath);
        if (alongside.joinable()) {
            alongside.join();
        }
        if (options.cleaning) {
            outcome.cleaningLine = analysis::cleaningLine(analysed->cleaning);
            sink.postLine(widenText(outcome.cleaningLine));
        }
        if (options.keepAnalysis) {
            outcome.analysed = std::move(analysed);
        }
        return outcome;
    } catch (const std::exception& e) {
        sink.postLine(L"Error: " + widenText(e.what()));
        LogOutcome failed;
        failed.error = e.what();
        return failed;
    }
}

bool convertFile(const std::filesystem::path& inputPath, const std::filesystem::path& outputFolder,
                 ProgressSink& sink, BatchContext& batch) {
    return convertLog(inputPath, outputFolder, sink, batch).converted;
}

}  // namespace vornakite
