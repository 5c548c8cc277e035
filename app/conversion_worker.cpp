#include "conversion_worker.hpp"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <thread>
#include <utility>

#include "app_state.hpp"
#include "batch.hpp"
#include "main_window.hpp"
#include "text/text.hpp"

namespace vornakite::app {

namespace {

std::atomic<int> workersRunning{0};
std::atomic<bool> stopRequested{false};

}  // namespace

void WindowProgressSink::postLine(std::wstring text) {
    auto line = std::make_unique<std::wstring>(std::move(text));
    if (PostMessageW(target_, WM_APP_LOG_LINE, 0, reinterpret_cast<LPARAM>(line.get()))) {
        line.release();  // the window owns it now
    }
}

void WindowProgressSink::postBatchDone(int successCount) {
    PostMessageW(target_, WM_APP_BATCH_DONE,
                 static_cast<WPARAM>(static_cast<INT_PTR>(successCount)), 0);
}

ConversionEnvironment systemEnvironment() {
    return {
        [] { return std::filesystem::current_path(); },
        [](std::function<void()> job) { std::thread(std::move(job)).detach(); },
    };
}

std::wstring outputFolderFor(const std::filesystem::path& currentDirectory) {
    return (currentDirectory / L"Rx").wstring();
}

void startConversion() {
    startConversion(systemEnvironment());
}

void startConversion(const ConversionEnvironment& environment) {
    if (selectedPaths.empty()) {
        MessageBoxW(hwndMain, L"Please select at least one file.", kMessageBoxCaption, MB_OK);
        return;
    }
    const std::wstring previousStatus = windowText(hwndStatus);
    EnableWindow(hwndConvert, FALSE);
    SetWindowTextW(hwndStatus, L"Converting files...");
    ++workersRunning;
    try {
        std::wstring outputFolder = outputFolderFor(environment.currentDirectory());
        environment.startDetached(
            [outputFolder = std::move(outputFolder), paths = selectedPaths]() mutable {
                runConversionBatch(std::move(outputFolder), std::move(paths));
                // Counted down only once the batch's own data is gone.
                --workersRunning;
            });
    } catch (const std::exception& error) {
        --workersRunning;
        appendLogLine(L"Error: " + widenText(error.what()));
        SetWindowTextW(hwndStatus, previousStatus.c_str());
        EnableWindow(hwndConvert, TRUE);
    }
}

void runConversionBatch(std::wstring outputFolder, std::vector<std::wstring> paths) {
    WindowProgressSink sink(hwndMain);
    try {
        const std::vector<std::filesystem::path> inputs(paths.begin(), paths.end());
        vornakite::runConversionBatch(inputs, outputFolder, L"Rx", sink, {}, &stopRequested);
    } catch (const std::exception& error) {
        // Only running out of memory gets here (each log's own errors are
        // reported by the conversion); the window must still return to idle.
        try {
            sink.postLine(L"Error: " + widenText(error.what()));
        } catch (const std::exception&) {
        }
        sink.postBatchDone(0);
    }
}

int runningWorkers() {
    return workersRunning.load();
}

bool stopWorkers(int timeoutMs) {
    stopRequested = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (workersRunning.load() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return workersRunning.load() == 0;
}

}  // namespace vornakite::app
