// window_probe.exe: reads the converter's window the way a person sees it, for
// the desktop test that drives the program with the mouse and the keyboard.
//
//   window_probe [--desktop=NAME] COMMAND [ARGUMENT]
//
// looks at the windows of the desktop NAME (such as the Wine virtual desktop that the
// program runs in), or else of the probe's own desktop. The commands:
//
//   window_probe rect ID       screen rectangle of the control with id ID, or of the main
//                              window for ID "main": x y width height
//   window_probe text ID       text of control ID (the caption for "main"), exactly as held
//   window_probe enabled ID    "enabled" or "disabled"
//   window_probe list          entries of the file list, one a line
//   window_probe msgbox        the message box captioned "VornakiteConverter": its text on
//                              the first line, then "button x y width height label" for
//                              each button
//   window_probe dialog        any other dialog (the file-open dialog): "dialog x y width
//                              height caption", then "button ...", "edit ..." and
//                              "combo ..." lines of the same form for its controls
//   window_probe wait-exit MS  waits up to MS milliseconds for the program to end after
//                              printing "watching <pid>"; then prints "exit <code>"
//   window_probe close         chooses Close from the main window's system menu
//
// Rectangles are in screen pixels. Output is UTF-8 with LF line ends (control texts
// keep their own line ends). Exit status: 0 done, 1 the window or control is not
// there, 2 bad usage, 3 the program did not end in time.
#include <windows.h>

#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr wchar_t kMainClass[] = L"VornakiteMainWnd";
constexpr wchar_t kMessageBoxCaption[] = L"VornakiteConverter";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr UINT kMessageTimeoutMs = 5000;

constexpr int kDone = 0;
constexpr int kMissing = 1;
constexpr int kUsage = 2;
constexpr int kTimedOut = 3;

void write(const std::wstring& text) {
    if (text.empty()) {
        return;
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

std::wstring rectText(const RECT& r) {
    return std::to_wstring(r.left) + L" " + std::to_wstring(r.top) + L" " +
           std::to_wstring(r.right - r.left) + L" " + std::to_wstring(r.bottom - r.top);
}

// The message is sent with a timeout so that a hung program cannot hang the test.
LRESULT sendTimed(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                            &result) == 0) {
        return -1;
    }
    return static_cast<LRESULT>(result);
}

// GetWindowTextW does not ask a control of another process for its text, so the
// text is fetched with WM_GETTEXT, which the system copies across processes.
std::wstring windowText(HWND window) {
    const LRESULT length = sendTimed(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) {
        return {};
    }
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        sendTimed(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

std::wstring className(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// Only a window on screen counts: until it is shown nobody can read or click it.
HWND mainWindow() {
    HWND main = FindWindowW(kMainClass, nullptr);
    return main != nullptr && IsWindowVisible(main) ? main : nullptr;
}

struct DialogSearch {
    bool wantMessageBox;
    HWND found;
};

BOOL CALLBACK matchDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    if (IsWindowVisible(window) && className(window) == kDialogClass &&
        (windowText(window) == kMessageBoxCaption) == search->wantMessageBox) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The program's message box is the dialog with its caption; any other dialog on
// the desktop is the file-open dialog.
HWND findDialog(bool messageBox) {
    DialogSearch search{messageBox, nullptr};
    EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

BOOL CALLBACK collectVisible(HWND child, LPARAM param) {
    if (IsWindowVisible(child)) {
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
    }
    return TRUE;
}

std::vector<HWND> visibleDescendants(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(parent, collectVisible, reinterpret_cast<LPARAM>(&children));
    return children;
}

// "main" names the main window itself, a number one of its controls.
HWND windowNamed(const wchar_t* name) {
    HWND main = mainWindow();
    if (main == nullptr || std::wcscmp(name, L"main") == 0) {
        return main;
    }
    wchar_t* end = nullptr;
    const long id = std::wcstol(name, &end, 10);
    if (end == name || *end != L'\0') {
        return nullptr;
    }
    return GetDlgItem(main, static_cast<int>(id));
}

int printRect(HWND window) {
    if (window == nullptr) {
        return kMissing;
    }
    RECT r{};
    GetWindowRect(window, &r);
    write(rectText(r) + L"\n");
    return kDone;
}

int printText(HWND window) {
    if (window == nullptr) {
        return kMissing;
    }
    write(windowText(window));
    return kDone;
}

int printList() {
    HWND list = windowNamed(L"2003");
    if (list == nullptr) {
        return kMissing;
    }
    const LRESULT count = sendTimed(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = sendTimed(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::vector<wchar_t> buffer(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
        sendTimed(list, LB_GETTEXT, static_cast<WPARAM>(i),
                  reinterpret_cast<LPARAM>(buffer.data()));
        write(std::wstring(buffer.data()) + L"\n");
    }
    return kDone;
}

int printEnabled(HWND window) {
    if (window == nullptr) {
        return kMissing;
    }
    write(IsWindowEnabled(window) ? L"enabled\n" : L"disabled\n");
    return kDone;
}

// One line per button, and with `all` per edit box and combo box as well:
// "<kind> x y width height text". A drop-down list's text is its chosen entry.
void printChildren(HWND parent, bool all) {
    for (HWND child : visibleDescendants(parent)) {
        const std::wstring name = className(child);
        const wchar_t* kind = nullptr;
        if (_wcsicmp(name.c_str(), L"Button") == 0) {
            kind = L"button ";
        } else if (all && _wcsicmp(name.c_str(), L"Edit") == 0) {
            kind = L"edit ";
        } else if (all && _wcsicmp(name.c_str(), L"ComboBox") == 0) {
            kind = L"combo ";
        } else {
            continue;
        }
        RECT r{};
        GetWindowRect(child, &r);
        write(kind + rectText(r) + L" " + windowText(child) + L"\n");
    }
}

int printMessageBox() {
    HWND box = findDialog(true);
    if (box == nullptr) {
        return kMissing;
    }
    // The message is the static control that is not an icon.
    for (HWND child : visibleDescendants(box)) {
        if (_wcsicmp(className(child).c_str(), L"Static") == 0 &&
            (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) {
            const std::wstring text = windowText(child);
            if (!text.empty()) {
                write(text + L"\n");
                break;
            }
        }
    }
    printChildren(box, false);
    return kDone;
}

int printDialog() {
    HWND dialog = findDialog(false);
    if (dialog == nullptr) {
        return kMissing;
    }
    RECT r{};
    GetWindowRect(dialog, &r);
    write(L"dialog " + rectText(r) + L" " + windowText(dialog) + L"\n");
    printChildren(dialog, true);
    return kDone;
}

int waitForExit(const wchar_t* msText) {
    HWND main = mainWindow();
    if (main == nullptr) {
        return kMissing;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(main, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) {
        return kMissing;
    }
    // The caller closes the window only after it has read this line.
    write(L"watching " + std::to_wstring(pid) + L"\n");
    const DWORD waited = WaitForSingleObject(process, std::wcstoul(msText, nullptr, 10));
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    if (waited != WAIT_OBJECT_0) {
        return kTimedOut;
    }
    write(L"exit " + std::to_wstring(code) + L"\n");
    return kDone;
}

// Windows are only found on the calling thread's desktop, so the probe moves its
// thread to the program's desktop before it looks at any window.
bool joinDesktop(const wchar_t* name) {
    HDESK desktop = OpenDesktopW(name, 0, FALSE, DESKTOP_READOBJECTS | DESKTOP_ENUMERATE);
    return desktop != nullptr && SetThreadDesktop(desktop) != FALSE;
}

// Chooses Close from the main window's system menu, as the close box and Alt+F4 do.
int closeMain() {
    HWND main = mainWindow();
    if (main == nullptr) {
        return kMissing;
    }
    PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
}

int usage() {
    write(
        L"usage: window_probe [--desktop=NAME] rect ID | text ID | list | enabled ID | "
        L"msgbox | dialog | wait-exit MS | close\n");
    return kUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    constexpr std::wstring_view kDesktopOption = L"--desktop=";
    if (argc > 1 && std::wstring_view(argv[1]).starts_with(kDesktopOption)) {
        if (!joinDesktop(argv[1] + kDesktopOption.size())) {
            return kMissing;
        }
        --argc;
        ++argv;
    }
    const std::wstring command = argc > 1 ? argv[1] : L"";
    const wchar_t* argument = argc == 3 ? argv[2] : nullptr;
    if (argc == 2 && command == L"list") {
        return printList();
    }
    if (argc == 2 && command == L"msgbox") {
        return printMessageBox();
    }
    if (argc == 2 && command == L"dialog") {
        return printDialog();
    }
    if (argc == 2 && command == L"close") {
        return closeMain();
    }
    if (argument != nullptr && command == L"rect") {
        return printRect(windowNamed(argument));
    }
    if (argument != nullptr && command == L"text") {
        return printText(windowNamed(argument));
    }
    if (argument != nullptr && command == L"enabled") {
        return printEnabled(windowNamed(argument));
    }
    if (argument != nullptr && command == L"wait-exit") {
        return waitForExit(argument);
    }
    return usage();
}
