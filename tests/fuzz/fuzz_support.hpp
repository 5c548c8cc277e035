// Shared by the fuzz targets: a scratch folder of this process's own.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

namespace fuzzsupport {

// Kept in memory-backed storage when there is some, as every input is a file.
inline const std::filesystem::path& scratchFolder() {
    static const std::filesystem::path folder = [] {
        std::filesystem::path base = std::filesystem::exists("/dev/shm")
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        auto path = base / ("vornakite_fuzz_" + std::to_string(getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

}  // namespace fuzzsupport
