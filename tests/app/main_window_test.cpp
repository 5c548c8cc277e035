#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "app_state.hpp"
#include "main_window.hpp"
#include "window_fixture.hpp"

using namespace vornakite::app;
using apptest::listEntries;
using apptest::logLines;
using apptest::MainWindowTest;
using apptest::textOf;

namespace {

struct ExpectedControl {
    const wchar_t* className;
    const wchar_t* text;
    int id;
    RECT rect;  // in the main window's client area
    LONG style;
    LONG exStyle;
};

RECT clientRectOf(HWND control) {
    RECT rect;
    GetWindowRect(control, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

void postLine(const wchar_t* text) {
    PostMessageW(hwndMain, WM_APP_LOG_LINE, 0,
                 reinterpret_cast<LPARAM>(text ? new std::wstring(text) : nullptr));
}

}  // namespace

TEST_F(MainWindowTest, HasItsClassTitleStyleAndSize) {
    WNDCLASSW windowClass{};
    ASSERT_TRUE(GetClassInfoW(GetModuleHandleW(nullptr), kMainWindowClass, &windowClass));
    EXPECT_EQ(windowClass.style, 0u);
    EXPECT_EQ(windowClass.hIcon, nullptr);
    EXPECT_EQ(windowClass.lpszMenuName, nullptr);
    EXPECT_EQ(windowClass.hCursor, LoadCursorW(nullptr, IDC_ARROW));
    EXPECT_EQ(windowClass.hbrBackground,
              reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1)));

    EXPECT_EQ(textOf(hwndMain), L"Vornakite to Shapefile Converter");
    EXPECT_EQ(GetWindowLongW(hwndMain, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
    EXPECT_EQ(GetMenu(hwndMain), nullptr);
    RECT outer;
    GetWindowRect(hwndMain, &outer);
    EXPECT_EQ(outer.right - outer.left, 680);
    EXPECT_EQ(outer.bottom - outer.top, 470);
}

TEST_F(MainWindowTest, CreatesTheFiveControlsInOrderWithTheirClassesTextsIdsAndPlaces) {
    const ExpectedControl expected[] = {
        {L"Button", L"Select .Vornakite Files", 2001, {12, 12, 192, 40}, 0x50000000, 0},
        {L"Button", L"Convert Files", 2002, {198, 12, 318, 40}, 0x50000000, 0},
        {L"ListBox", L"", 2003, {12, 50, 652, 230}, 0x50200001, WS_EX_CLIENTEDGE},
        {L"Static", L"", 2005, {12, 235, 652, 255}, 0x50000000, 0},
        {L"Edit", L"", 2004, {12, 260, 652, 410}, 0x50200844, WS_EX_CLIENTEDGE},
    };
    HWND child = GetWindow(hwndMain, GW_CHILD);
    for (const ExpectedControl& want : expected) {
        ASSERT_NE(child, nullptr) << "missing control " << want.id;
        SCOPED_TRACE(want.id);
        EXPECT_EQ(_wcsicmp(classOf(child).c_str(), want.className), 0) << classOf(child).size();
        EXPECT_EQ(textOf(child), want.text);
        EXPECT_EQ(GetDlgCtrlID(child), want.id);
        const RECT rect = clientRectOf(child);
        EXPECT_EQ(rect.left, want.rect.left);
        EXPECT_EQ(rect.top, want.rect.top);
        EXPECT_EQ(rect.right, want.rect.right);
        EXPECT_EQ(rect.bottom, want.rect.bottom);
        // The system may add bits of its own; every requested bit is there
        // (a list box shows its scroll bar only once it is needed, see below).
        const LONG style = GetWindowLongW(child, GWL_STYLE);
        const LONG wanted = want.id == IDC_FILE_LIST ? want.style & ~WS_VSCROLL : want.style;
        EXPECT_EQ(style & wanted, wanted) << std::hex << style;
        EXPECT_EQ(style & WS_TABSTOP, 0);
        EXPECT_EQ(GetWindowLongW(child, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, want.exStyle);
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr) << "more than five controls";

    EXPECT_EQ(hwndConvert, GetDlgItem(hwndMain, 2002));
    EXPECT_EQ(hwndFileList, GetDlgItem(hwndMain, 2003));
    EXPECT_EQ(hwndLog, GetDlgItem(hwndMain, 2004));
    EXPECT_EQ(hwndStatus, GetDlgItem(hwndMain, 2005));
}

TEST_F(MainWindowTest, FileListScrollsOnceItHoldsMoreThanItShows) {
    for (int i = 0; i < 40; ++i) {
        SendMessageW(hwndFileList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"log.Vornakite"));
    }
    EXPECT_NE(GetWindowLongW(hwndFileList, GWL_STYLE) & WS_VSCROLL, 0);
}

TEST_F(MainWindowTest, StartsIdleAndEmpty) {
    EXPECT_TRUE(IsWindowEnabled(hwndConvert));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwndMain, IDC_SELECT_FILES)));
    EXPECT_TRUE(listEntries().empty());
    EXPECT_EQ(textOf(hwndStatus), L"");
    EXPECT_EQ(textOf(hwndLog), L"");
}

TEST_F(MainWindowTest, LogLineMessagesAppendOneLineEachInPostingOrder) {
    postLine(L"first");
    postLine(L"");
    postLine(nullptr);  // ignored
    postLine(L"Fläche 12 – Süd");
    apptest::pumpPending();
    EXPECT_EQ(textOf(hwndLog), L"first\r\n\r\nFläche 12 – Süd\r\n");
    EXPECT_EQ(SendMessageW(hwndMain, WM_APP_LOG_LINE, 0, 0), 0);
    EXPECT_EQ(logLines().size(), 3u);
}

TEST_F(MainWindowTest, LogAppendsAtTheEndEvenAfterTheCaretWasMoved) {
    appendLogLine(L"one");
    appendLogLine(L"two");
    SendMessageW(hwndLog, EM_SETSEL, 0, 0);  // as a click at the start would
    appendLogLine(L"three");
    EXPECT_EQ(logLines(), (std::vector<std::wstring>{L"one", L"two", L"three"}));
}

TEST_F(MainWindowTest, LogKeepsEveryLinePastTheEditControlsDefaultLimit) {
    const std::wstring line(60, L'x');
    for (int i = 0; i < 2000; ++i) {  // about 124,000 characters
        appendLogLine(std::to_wstring(i) + line);
    }
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 2000u);
    EXPECT_EQ(lines.back(), L"1999" + line);
}

TEST_F(MainWindowTest, BatchDoneEnablesConvertAndShowsDoneWhateverItsWParam) {
    for (WPARAM wParam : {WPARAM{0}, WPARAM{5}, static_cast<WPARAM>(INT_PTR{-1})}) {
        EnableWindow(hwndConvert, FALSE);
        SetWindowTextW(hwndStatus, L"Converting files...");
        EXPECT_EQ(SendMessageW(hwndMain, WM_APP_BATCH_DONE, wParam, 0), 0);
        EXPECT_TRUE(IsWindowEnabled(hwndConvert));
        EXPECT_EQ(textOf(hwndStatus), L"Done");
    }
    SendMessageW(hwndMain, WM_APP_BATCH_DONE, 1, 0);  // already enabled
    EXPECT_TRUE(IsWindowEnabled(hwndConvert));
    EXPECT_EQ(textOf(hwndStatus), L"Done");
}

TEST_F(MainWindowTest, CommandsFromTheListAndTheLogDoNothing) {
    selectedPaths = {L"C:\\logs\\a.Vornakite"};
    for (WPARAM wParam :
         {MAKEWPARAM(IDC_FILE_LIST, LBN_SELCHANGE), MAKEWPARAM(IDC_FILE_LIST, LBN_DBLCLK),
          MAKEWPARAM(IDC_LOG, EN_CHANGE), MAKEWPARAM(IDC_STATUS, 0), MAKEWPARAM(9999, 0)}) {
        EXPECT_EQ(SendMessageW(hwndMain, WM_COMMAND, wParam, 0), 0);
    }
    apptest::pumpPending();
    EXPECT_TRUE(IsWindowEnabled(hwndConvert));
    EXPECT_EQ(textOf(hwndStatus), L"");
    EXPECT_EQ(textOf(hwndLog), L"");
}

TEST_F(MainWindowTest, ConvertWithNothingSelectedShowsTheMessageBoxAndStaysIdle) {
    // The message box is modal on this thread; another thread reads and closes it.
    std::atomic<bool> seen{false};
    std::wstring boxText;
    std::thread closer([&] {
        for (int i = 0; i < 1000 && !seen; ++i) {
            HWND box = FindWindowW(L"#32770", L"VornakiteConverter");
            if (box != nullptr && GetWindow(box, GW_OWNER) == hwndMain) {
                wchar_t text[128] = {};
                GetDlgItemTextW(box, 0xFFFF, text, 128);
                boxText = text;
                seen = true;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
            }
            Sleep(20);
        }
    });
    // A notification code in the high word does not matter.
    SendMessageW(hwndMain, WM_COMMAND, MAKEWPARAM(IDC_CONVERT, BN_CLICKED), 0);
    closer.join();
    EXPECT_TRUE(seen);
    EXPECT_EQ(boxText, L"Please select at least one file.");
    EXPECT_TRUE(IsWindowEnabled(hwndConvert));
    EXPECT_EQ(textOf(hwndStatus), L"");
    EXPECT_EQ(textOf(hwndLog), L"");
}

TEST_F(MainWindowTest, ResizingMovesNoControl) {
    const RECT before = clientRectOf(hwndLog);
    SetWindowPos(hwndMain, nullptr, 0, 0, 1000, 800, SWP_NOMOVE | SWP_NOZORDER);
    ShowWindow(hwndMain, SW_MAXIMIZE);
    const RECT after = clientRectOf(hwndLog);
    EXPECT_TRUE(EqualRect(&before, &after));
}
