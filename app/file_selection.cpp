#include "file_selection.hpp"

#include <string>

#include "app_state.hpp"
#include "main_window.hpp"
#include "text/text.hpp"

namespace vornakite::app {

namespace {

constexpr COMDLG_FILTERSPEC kFileTypes[] = {
    {L"Vornakite files", L"*.Vornakite;*.txt;*.csv"},
    {L"All files", L"*.*"},
};

}  // namespace

void selectInputFiles() {
    ComPtr<IFileOpenDialog> dialog;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFileOpenDialog, dialog.putVoid())) ||
        !dialog) {
        return;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_ALLOWMULTISELECT | FOS_FILEMUSTEXIST);
    dialog->SetFileTypes(ARRAYSIZE(kFileTypes), kFileTypes);
    if (FAILED(dialog->Show(hwndMain))) {
        return;  // cancelled or closed: nothing changes
    }
    ComPtr<IShellItemArray> results;
    dialog->GetResults(results.put());
    if (!results) {
        return;
    }
    takeSelection(std::move(results));
}

void takeSelection(ComPtr<IShellItemArray> results) {
    DWORD count = 0;
    results->GetCount(&count);
    selectedPaths.clear();
    SendMessageW(hwndFileList, LB_RESETCONTENT, 0, 0);
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IShellItem> item;
        results->GetItemAt(i, item.put());
        if (!item) {
            continue;
        }
        CoTaskString path;  // declared after the item: freed before it is released
        if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, path.put())) || path.get() == nullptr) {
            continue;
        }
        selectedPaths.emplace_back(path.get());
        const std::wstring name = fileNameOf(selectedPaths.back());
        SendMessageW(hwndFileList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    results.reset();
    appendLogLine(L"Selected " + std::to_wstring(selectedPaths.size()) + L" file(s)");
}

}  // namespace vornakite::app
