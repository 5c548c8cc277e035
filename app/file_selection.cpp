#include "file_selection.hpp"

#include <filesystem>
#include <string>

#include "app_state.hpp"
#include "main_window.hpp"
#include "read/log_files.hpp"
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
    std::vector<std::wstring> paths;
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
        paths.emplace_back(path.get());
    }
    results.reset();
    replaceSelection(std::move(paths));
}

void takeDroppedFiles(HDROP drop) {
    std::vector<std::filesystem::path> dropped;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(static_cast<std::size_t>(DragQueryFileW(drop, i, nullptr, 0)) + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        if (!path.empty()) {
            dropped.emplace_back(std::move(path));
        }
    }
    DragFinish(drop);
    std::vector<std::wstring> paths;
    for (const std::filesystem::path& log : expandLogArguments(dropped, false)) {
        paths.push_back(log.wstring());
    }
    replaceSelection(std::move(paths));
}

void replaceSelection(std::vector<std::wstring> paths) {
    selectedPaths = std::move(paths);
    SendMessageW(hwndFileList, LB_RESETCONTENT, 0, 0);
    for (const std::wstring& path : selectedPaths) {
        const std::wstring name = fileNameOf(path);
        SendMessageW(hwndFileList, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    appendLogLine(L"Selected " + std::to_wstring(selectedPaths.size()) + L" file(s)");
}

}  // namespace vornakite::app
