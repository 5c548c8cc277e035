#include "main_window.hpp"

#include <array>
#include <memory>

#include "app_state.hpp"
#include "conversion_worker.hpp"
#include "file_selection.hpp"

namespace vornakite::app {

HWND hwndMain = nullptr;
HWND hwndConvert = nullptr;
HWND hwndFileList = nullptr;
HWND hwndStatus = nullptr;
HWND hwndLog = nullptr;
std::vector<std::wstring> selectedPaths;

namespace {

struct ControlSpec {
    const wchar_t* className;
    const wchar_t* text;  // null: no initial text
    int id;
    int x, y, width, height;
    DWORD style;
    DWORD exStyle;
    HWND* handle;  // where the handle is kept; null: not kept
};

// In creation order; the status line comes before the log pane.
const std::array<ControlSpec, 5> kControls{{
    {L"BUTTON", L"Select .Vornakite Files", IDC_SELECT_FILES, 12, 12, 180, 28,
     WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, nullptr},
    {L"BUTTON", L"Convert Files", IDC_CONVERT, 198, 12, 120, 28,
     WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 0, &hwndConvert},
    {L"LISTBOX", nullptr, IDC_FILE_LIST, 12, 50, 640, 180,
     WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_NOTIFY, WS_EX_CLIENTEDGE, &hwndFileList},
    {L"STATIC", L"", IDC_STATUS, 12, 235, 640, 20, WS_CHILD | WS_VISIBLE | SS_LEFT, 0, &hwndStatus},
    {L"EDIT", nullptr, IDC_LOG, 12, 260, 640, 150,
     WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY,
     WS_EX_CLIENTEDGE, &hwndLog},
}};

void onCreate(HWND window) {
    for (const ControlSpec& entry : kControls) {
        HWND control = CreateWindowExW(entry.exStyle, entry.className, entry.text, entry.style,
                                       entry.x, entry.y, entry.width, entry.height, window,
                                       reinterpret_cast<HMENU>(static_cast<INT_PTR>(entry.id)),
                                       GetModuleHandleW(nullptr), nullptr);
        if (entry.handle != nullptr) {
            *entry.handle = control;
        }
    }
    // An edit control holds only 30,000 characters unless told otherwise;
    // the log gathers every line of the session and must not drop any.
    SendMessageW(hwndLog, EM_SETLIMITTEXT, 0, 0);
    // Files dropped from Explorer come as WM_DROPFILES.
    DragAcceptFiles(window, TRUE);
}

void onCommand(WPARAM wParam) {
    switch (LOWORD(wParam)) {
        case IDC_SELECT_FILES:
            selectInputFiles();
            break;
        case IDC_CONVERT:
            startConversion();
            break;
        default:
            break;  // list and log notifications
    }
}

void onLogLine(LPARAM lParam) {
    std::unique_ptr<std::wstring> line(reinterpret_cast<std::wstring*>(lParam));
    if (line) {
        appendLogLine(*line);
    }
}

void onDropFiles(WPARAM wParam) {
    takeDroppedFiles(reinterpret_cast<HDROP>(wParam));
}

void onBatchDone() {
    EnableWindow(hwndConvert, TRUE);
    SetWindowTextW(hwndStatus, L"Done");
}

}  // namespace

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            onCreate(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_COMMAND:
            onCommand(wParam);
            return 0;
        case WM_DROPFILES:
            onDropFiles(wParam);
            return 0;
        case WM_APP_LOG_LINE:
            onLogLine(lParam);
            return 0;
        case WM_APP_BATCH_DONE:
            onBatchDone();
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

ATOM registerMainWindowClass(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // The dialog colour behind the controls; without a brush the area around
    // them is never painted.
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = kMainWindowClass;
    return RegisterClassW(&windowClass);
}

HWND createMainWindow(HINSTANCE instance) {
    hwndMain =
        CreateWindowExW(0, kMainWindowClass, kMainWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                        CW_USEDEFAULT, 680, 470, nullptr, nullptr, instance, nullptr);
    return hwndMain;
}

std::wstring windowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void appendLogLine(const std::wstring& text) {
    const std::wstring line = text + L"\r\n";
    // Always at the end, even when a click has moved the caret into the pane.
    const int end = GetWindowTextLengthW(hwndLog);
    SendMessageW(hwndLog, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(hwndLog, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(line.c_str()));
    SendMessageW(hwndLog, WM_VSCROLL, SB_BOTTOM, 0);
}

}  // namespace vornakite::app
