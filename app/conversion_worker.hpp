// The Convert button's handler and the background batch it starts.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "progress_sink.hpp"

namespace vornakite::app {

// Delivers progress to a window as posted messages: each line as a heap
// std::wstring in WM_APP_LOG_LINE, the end as WM_APP_BATCH_DONE. Never
// blocks; a line that cannot be posted is freed.
class WindowProgressSink : public ProgressSink {
  public:
    explicit WindowProgressSink(HWND target) : target_(target) {}
    void postLine(std::wstring text) override;
    void postBatchDone(int successCount) override;

  private:
    HWND target_;
};

// What startConversion needs from the system, replaceable so its failure
// paths can be exercised.
struct ConversionEnvironment {
    std::function<std::filesystem::path()> currentDirectory;
    // Runs the job on a new detached thread; throws std::system_error when
    // no thread can be started.
    std::function<void(std::function<void()> job)> startDetached;
};

ConversionEnvironment systemEnvironment();

// <currentDirectory>\Rx, with one separator between the two.
std::wstring outputFolderFor(const std::filesystem::path& currentDirectory);

// Refuses an empty selection with a message box; otherwise disables Convert,
// shows "Converting files..." and starts a worker on copies of the selection
// and of <current directory>\Rx. If that cannot be done, one "Error: " line
// goes to the log and the window returns to idle.
void startConversion();
void startConversion(const ConversionEnvironment& environment);

// The worker thread's body: converts `paths` in order into `outputFolder`,
// reporting to hwndMain.
void runConversionBatch(std::wstring outputFolder, std::vector<std::wstring> paths);

// Number of workers that have not yet returned.
int runningWorkers();

// Asks every worker to stop at its next safe point (the log being read is given up without a
// trace, a set being moved into place is finished) and waits up to `timeoutMs` for them all to
// return. True when none runs any more.
bool stopWorkers(int timeoutMs);

}  // namespace vornakite::app
