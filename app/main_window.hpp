// The main window: its class, its five controls, its window procedure and
// the log pane.
#pragma once

#include <windows.h>

#include <string>

namespace vornakite::app {

inline constexpr wchar_t kMainWindowClass[] = L"VornakiteMainWnd";
inline constexpr wchar_t kMainWindowTitle[] = L"Vornakite to Shapefile Converter";

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the window class; 0 when that fails.
ATOM registerMainWindowClass(HINSTANCE instance);

// Creates the main window (whose WM_CREATE builds the controls) and stores
// it in hwndMain.
HWND createMainWindow(HINSTANCE instance);

// The text of a window or control.
std::wstring windowText(HWND window);

// Appends `text` and CR LF at the end of the log pane and scrolls to it.
// Main thread only.
void appendLogLine(const std::wstring& text);

}  // namespace vornakite::app
