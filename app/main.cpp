// VornakiteConverter.exe: the desktop program's entry point.
#include <windows.h>
// After windows.h, which they rely on.
#include <commctrl.h>
#include <objbase.h>

#include "app_state.hpp"
#include "conversion_worker.hpp"
#include "main_window.hpp"

using namespace vornakite::app;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    registerMainWindowClass(instance);
    if (createMainWindow(instance) != nullptr) {
        ShowWindow(hwndMain, showCommand);
        UpdateWindow(hwndMain);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    // Without a window no quit message could ever come, so the program ends here too.
    CoUninitialize();
    if (runningWorkers() > 0) {
        // A batch still runs: stop it at a safe point, so no temporary or half-placed set stays
        // behind, waiting briefly; then end the process before any of the program's data is
        // torn down beside a worker that is still returning.
        stopWorkers(900);
        ExitProcess(0);
    }
    return 0;
}
