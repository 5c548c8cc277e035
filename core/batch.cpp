#include "batch.hpp"

#include <sstream>

#include "convert.hpp"
#include "text/text.hpp"

namespace vornakite {

int runConversionBatch(const std::vector<std::filesystem::path>& inputPaths,
                       const std::filesystem::path& outputFolder, const std::wstring& folderLabel,
                       ProgressSink& sink, const LogOutcomeObserver& onLogDone,
                       const std::atomic<bool>* stop, const ConversionOptions& options) {
    int succeeded = 0;
    BatchContext batch;
    batch.options = options;
    batch.stop = stop;
    for (std::size_t i = 0; i < inputPaths.size(); ++i) {
        if (stop != nullptr && stop->load()) {
            break;
        }
        sink.postLine(L"Processing " + fileNameOf(pathText(inputPaths[i])) + L"...");
        const LogOutcome outcome = convertLog(inputPaths[i], outputFolder, sink, batch);
        if (outcome.converted) {
            ++succeeded;
        }
        if (onLogDone) {
            onLogDone(i, outcome);
        }
    }
    std::wostringstream summary;
    summary << L"Conversion complete: " << succeeded << L"/" << inputPaths.size()
            << L" files processed successfully. Outputs in " << folderLabel << L".";
    sink.postLine(summary.str());
    sink.postBatchDone(succeeded);
    return succeeded;
}

}  // namespace vornakite
