// Which files a batch converts: folders given by the user become the log files in them.
#pragma once

#include <filesystem>
#include <vector>

namespace vornakite {

// One entry of a folder, as read by readFolder.
struct FolderEntry {
    std::filesystem::path name;  // the entry's own name, without the folder
    bool isFolder = false;       // a folder, or a link to one
    bool isLink = false;         // a symbolic link or a junction (mount point)
    bool isSpecial = false;      // a device, pipe or socket: neither file nor folder
};

// The entries of `folder` in no particular order, without "." and "..". Throws
// std::runtime_error("Cannot read folder") when the folder cannot be listed. On Windows this
// works past the classic 260-character path limit.
std::vector<FolderEntry> readFolder(const std::filesystem::path& folder);

// Whether `path` names a folder (following links); false when it cannot be examined.
bool isFolder(const std::filesystem::path& path);

// Whether a file name ends in .Vornakite, .txt or .csv, in any letter case.
bool isLogFileName(const std::filesystem::path& name);

// Name order of folder listings: ASCII letters compared without case, everything else by its
// code units; names equal but for case then in plain code-unit order.
bool nameLessIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b);

// The logs that `arguments` stand for, in order. An argument that is a folder becomes the
// log files (see isLogFileName) directly in it, in nameLessIgnoringCase order; with
// `recursive`, each folder's own files are followed by its subfolders' logs, one subfolder
// after another in name order, depth first. Links to folders found inside a folder are not
// entered (so no loop can form); a folder given as an argument is listed even when it is a
// link. Devices, pipes and sockets are never taken. A folder that cannot be read stays in
// the list as itself, so that converting it reports "Cannot open file" like any log that
// cannot be opened. Any other argument stays as it is.
std::vector<std::filesystem::path> expandLogArguments(
    const std::vector<std::filesystem::path>& arguments, bool recursive);

}  // namespace vornakite
