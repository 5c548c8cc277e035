// Process-wide state of the desktop program: control ids, the program's own
// window messages, the window handles and the current selection.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace vornakite::app {

inline constexpr int IDC_SELECT_FILES = 2001;
inline constexpr int IDC_CONVERT = 2002;
inline constexpr int IDC_FILE_LIST = 2003;
inline constexpr int IDC_LOG = 2004;
inline constexpr int IDC_STATUS = 2005;

// lParam: a heap std::wstring owned by the window from the moment of posting.
inline constexpr UINT WM_APP_LOG_LINE = WM_APP + 1;
// wParam: the batch's success count (not read).
inline constexpr UINT WM_APP_BATCH_DONE = WM_APP + 2;

inline constexpr wchar_t kMessageBoxCaption[] = L"VornakiteConverter";

// Written once on the main thread before the message loop starts.
extern HWND hwndMain;
extern HWND hwndConvert;
extern HWND hwndFileList;
extern HWND hwndStatus;
extern HWND hwndLog;

// Full paths of the logs picked in the last confirmed dialog. Main thread
// only: a batch works on its own copy.
extern std::vector<std::wstring> selectedPaths;

}  // namespace vornakite::app
