#include "convert.hpp"

#include <exception>

#include "read/log_reader.hpp"
#include "text/text.hpp"

namespace vornakite {
namespace {

// Hands the points of the log on to the set writer as they are read, and keeps the header.
class ToSetWriter : public LogVisitor {
  public:
    explicit ToSetWriter(PointSink& writer) : writer_(writer) {}
    void header(const LogHeader& header) override { header_ = header; }
    void addPoints(std::span<const YieldPoint> points) override { writer_.addPoints(points); }
    const LogHeader& logHeader() const { return header_; }

  private:
    PointSink& writer_;
    LogHeader header_;
};

}  // namespace

LogOutcome convertLog(const std::filesystem::path& inputPath,
                      const std::filesystem::path& outputFolder, ProgressSink& sink,
                      BatchContext& batch) {
    try {
        OutputTransaction transaction(outputFolder, &batch.swept);
        ShapefileSetWriter set(transaction);
        ToSetWriter visitor(set);

        // Read: every error of the log itself comes first, whatever happened to the outputs.
        const std::uint64_t points = readLog(inputPath, visitor, batch.stop);

        // Name: the folder must be there before a name is taken.
        const LogHeader& h = visitor.logHeader();
        const std::wstring name = outputBaseName(h.field6, h.field7, h.field8, inputPath);
        transaction.createFolder();
        const std::filesystem::path basePath = outputFolder / batch.names.claim(name);

        // Write: complete the set and move it into place.
        set.finish();
        transaction.commit(basePath);
        return {true, basePath, points, {}};
    } catch (const std::exception& e) {
        sink.postLine(L"Error: " + widenText(e.what()));
        return {false, {}, 0, e.what()};
    }
}

bool convertFile(const std::filesystem::path& inputPath, const std::filesystem::path& outputFolder,
                 ProgressSink& sink, BatchContext& batch) {
    return convertLog(inputPath, outputFolder, sink, batch).converted;
}

}  // namespace vornakite
