// The Select button: the file-open dialog and the selection it yields.
#pragma once

#include <shobjidl.h>

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

}  // namespace vornakite::app
