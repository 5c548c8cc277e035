// A fresh main window per test, and a message pump for waiting on it.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app_state.hpp"
#include "main_window.hpp"

namespace apptest {

inline std::wstring textOf(HWND window) {
    return vornakite::app::windowText(window);
}

// The log pane's lines, split at CR LF (the text after the last CR LF, which
// is empty when every line was appended whole, is not a line).
inline std::vector<std::wstring> logLines() {
    const std::wstring text = textOf(vornakite::app::hwndLog);
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last line break";
    return lines;
}

inline std::vector<std::wstring> listEntries() {
    std::vector<std::wstring> entries;
    const auto count = SendMessageW(vornakite::app::hwndFileList, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const auto length =
            SendMessageW(vornakite::app::hwndFileList, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring entry(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(vornakite::app::hwndFileList, LB_GETTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(entry.data()));
        entry.resize(static_cast<size_t>(length));
        entries.push_back(entry);
    }
    return entries;
}

// Handles the thread's messages until `done` holds or the time is up.
inline bool pumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

inline void pumpPending() {
    pumpUntil([] { return false; }, std::chrono::milliseconds(50));
}

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        using namespace vornakite::app;
        static const bool registered = registerMainWindowClass(GetModuleHandleW(nullptr)) != 0;
        ASSERT_TRUE(registered);
        selectedPaths.clear();
        ASSERT_NE(createMainWindow(GetModuleHandleW(nullptr)), nullptr);
    }
    void TearDown() override {
        DestroyWindow(vornakite::app::hwndMain);
        // Drops the quit message that WM_DESTROY posts, so the next test's pump is clean.
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        vornakite::app::selectedPaths.clear();
    }
};

}  // namespace apptest
