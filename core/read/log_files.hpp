// Which files a batch converts: folders given by the user become the log files in them.
#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "os/files.hpp"

namespace vornakite {

// Folders are listed by the platform layer.
using os::FolderEntry;
using os::isFolder;
using os::readFolder;

// Whether a file name ends in .Vornakite, .txt or .csv, in any letter case.
bool isLogFileName(const std::filesystem::path& name);

// Name order of folder listings: ASCII letters compared without case, everything else by its
// code units; names equal but for case then in plain code-unit order.
bool nameLessIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b);

// What a walk through folders leaves out, beside what is no log.
struct WalkSkips {
    // The batch's output folder: not entered when met inside a folder (one given is listed).
    std::filesystem::path outputFolder;
    // Whether a file met in a folder is one of the program's own outputs rather than a log.
    std::function<bool(const std::filesystem::path&)> isOwnOutput;
};

// The logs that `arguments` stand for, in order. An argument that is a folder becomes the
// log files (see isLogFileName) directly in it, in nameLessIgnoringCase order; with
// `recursive`, each folder's own files are followed by its subfolders' logs, one subfolder
// after another in name order, depth first. Links to folders found inside a folder are not
// entered (so no loop can form); a folder given as an argument is listed even when it is a
// link. Devices, pipes and sockets are never taken. A folder that cannot be read stays in
// the list as itself, so that converting it reports "Cannot open file" like any log that
// cannot be opened. What `skips` names is left out of the walk. Any other argument stays as it
// is.
std::vector<std::filesystem::path> expandLogArguments(
    const std::vector<std::filesystem::path>& arguments, bool recursive,
    const WalkSkips& skips = {});

}  // namespace vornakite
