// The window under a long batch: it keeps answering, every line arrives in
// order, and memory does not grow from one log to the next. The size is set by
// VORNAKITE_LOAD_LOGS and VORNAKITE_LOAD_SAMPLES (default 100 logs of 2,000
// samples; the full check uses 1,000 of 10,000).
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it relies on.
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app_state.hpp"
#include "conversion_worker.hpp"
#include "test_support.hpp"
#include "window_fixture.hpp"

namespace fs = std::filesystem;
using namespace vornakite::app;
using apptest::MainWindowTest;
using apptest::textOf;

namespace {

int setting(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : fallback;
}

std::size_t privateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof counters);
    // Wine leaves PrivateUsage at 0; the commit charge is the same measure there.
    return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}

std::string samples(int count) {
    std::string body;
    for (int i = 0; i < count; ++i) {
        body += "DY@45@x@x@123456@153@1875@" + std::to_string(415000000 + i) + "@" +
                std::to_string(-975000000 - i) + "@a@b@c@d@e@562@z\r\n";
    }
    return body;
}

}  // namespace

TEST_F(MainWindowTest, ALongBatchKeepsTheWindowAnsweringInOrderWithFlatMemory) {
    const int logCount = setting("VORNAKITE_LOAD_LOGS", 100);
    const int sampleCount = setting("VORNAKITE_LOAD_SAMPLES", 2000);
    testsupport::ScratchDir dir;
    const std::string body = samples(sampleCount);
    for (int i = 0; i < logCount; ++i) {
        const std::string name = "log" + std::to_string(i) + ".Vornakite";
        testsupport::writeFile(dir / name,
                               "VK@1@2@3@4@5@Farm" + std::to_string(i) + "@F@C\r\n" + body);
        selectedPaths.push_back((dir / name).wstring());
    }
    const fs::path previous = fs::current_path();
    fs::current_path(dir.path());

    // Another thread asks the window something every 20 ms, as the system and other
    // programs do, and notes how long the answer takes and how much memory is in use.
    std::atomic<bool> stop{false};
    std::atomic<bool> proberDone{false};
    std::atomic<long long> slowestMs{0};
    std::atomic<int> unanswered{0};
    std::vector<std::pair<int, std::size_t>> memoryByLine;  // (lines shown, private bytes)
    std::thread prober([&] {
        while (!stop) {
            const auto start = std::chrono::steady_clock::now();
            DWORD_PTR lines = 0;
            if (!SendMessageTimeoutW(hwndLog, EM_GETLINECOUNT, 0, 0, SMTO_NORMAL, 5000, &lines)) {
                ++unanswered;
            }
            const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - start)
                                     .count();
            slowestMs = std::max(slowestMs.load(), ms);
            memoryByLine.emplace_back(static_cast<int>(lines), privateBytes());
            Sleep(20);
        }
        proberDone = true;
    });

    SendMessageW(hwndMain, WM_COMMAND, IDC_CONVERT, 0);
    const bool done =
        apptest::pumpUntil([] { return textOf(hwndStatus) == L"Done"; }, std::chrono::minutes(30));
    stop = true;
    apptest::pumpUntil([&] { return proberDone.load(); });  // answers its last question
    prober.join();
    fs::current_path(previous);
    ASSERT_TRUE(done);

    EXPECT_LT(slowestMs.load(), 200) << "the window took that long to answer";
    EXPECT_EQ(unanswered.load(), 0);
    const auto lines = apptest::logLines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(logCount) + 1);
    for (int i = 0; i < logCount; ++i) {
        ASSERT_EQ(lines[static_cast<std::size_t>(i)],
                  L"Processing log" + std::to_wstring(i) + L".Vornakite...");
    }
    EXPECT_EQ(lines.back(), L"Conversion complete: " + std::to_wstring(logCount) + L"/" +
                                std::to_wstring(logCount) +
                                L" files processed successfully. Outputs in Rx.");

    // Memory once a quarter of the logs are done against near the end: only the log
    // pane's text may have grown (a few bytes per line).
    auto memoryAt = [&](int line) {
        for (const auto& [shown, bytes] : memoryByLine) {
            if (shown >= line)
                return bytes;
        }
        return memoryByLine.back().second;
    };
    const std::size_t early = memoryAt(logCount / 4), late = memoryAt(logCount * 9 / 10);
    EXPECT_LT(late, early + 16u * 1024 * 1024) << early << " then " << late << " bytes";
    RecordProperty("slowest_answer_ms", std::to_string(slowestMs.load()));
    RecordProperty("private_mb_early", std::to_string(early >> 20));
    RecordProperty("private_mb_late", std::to_string(late >> 20));
    std::printf("slowest answer %lld ms; private memory %zu MB at a quarter, %zu MB near the end\n",
                slowestMs.load(), early >> 20, late >> 20);
}
