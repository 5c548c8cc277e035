// readFolder and isFolder with std::filesystem, where paths have no length limit of their own.
#include <stdexcept>
#include <system_error>

#include "read/log_files.hpp"

namespace vornakite {

std::vector<FolderEntry> readFolder(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
        throw std::runtime_error("Cannot read folder");
    }
    std::vector<FolderEntry> entries;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        FolderEntry entry;
        entry.name = it->path().filename();
        std::error_code statusError;
        entry.isLink = it->is_symlink(statusError);
        // A link that leads nowhere counts as a file: converting it then says why it fails.
        const fs::file_status target = it->status(statusError);
        entry.isFolder = fs::is_directory(target);
        entry.isSpecial = fs::exists(target) && !fs::is_regular_file(target) && !entry.isFolder;
        entries.push_back(std::move(entry));
    }
    if (ec) {
        throw std::runtime_error("Cannot read folder");
    }
    return entries;
}

bool isFolder(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

}  // namespace vornakite
