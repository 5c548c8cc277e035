// Shared by the fuzz targets: a scratch folder of this process's own.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

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

inline void writeBytes(const std::filesystem::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace fuzzsupport
