// The selection of logs: from the Select button's file-open dialog, or dropped onto the window.
#pragma once

#include <windows.h>
// After windows.h, which they rely on.
#include <shellapi.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "com_ptr.hpp"

namespace vornakite::app {

// Shows the multi-select file-open dialog owned by hwndMain. A confirmed
// dialog replaces selectedPaths and the file list and logs "Selected n
// file(s)"; a cancelled or failed one changes nothing.
void selectInputFiles();

// Takes a confirmed dialog's results: stores the file-system path of each
// item (items without one are skipped), lists their file names, releases the
// array and logs the count.
void takeSelection(ComPtr<IShellItemArray> results);

// Takes files and folders dropped onto the window (and ends the drop): each folder stands
// for the log files directly in it, in name order (not those of its subfolders: a drop, like
// the dialog, picks from one folder); files are taken whatever their type, as the dialog's
// "All files" does. Then replaces the selection as a confirmed dialog does.
void takeDroppedFiles(HDROP drop);

// Makes `paths` the selection: stores them, lists their file names in the file list and logs
// "Selected n file(s)".
void replaceSelection(std::vector<std::wstring> paths);

}  // namespace vornakite::app
