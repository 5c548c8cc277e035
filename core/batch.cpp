#include "batch.hpp"

#include <sstream>

#include "convert.hpp"
#include "text.hpp"

namespace vornakite {

int runConversionBatch(const std::vector<std::filesystem::path>& inputPaths,
                       const std::filesystem::path& outputFolder, const std::wstring& folderLabel,
                       ProgressSink& sink) {
    int succeeded = 0;
    BatchNames names;
    for (const auto& path : inputPaths) {
        sink.postLine(L"Processing " + fileNameOf(pathText(path)) + L"...");
        if (convertFile(path, outputFolder, sink, names)) {
            ++succeeded;
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
