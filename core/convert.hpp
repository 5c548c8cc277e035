// Converting one log into its five output files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "name/naming.hpp"
#include "progress_sink.hpp"

namespace vornakite {

// The .prj and .cpg contents (no line end).
inline constexpr std::string_view kWgs84Prj =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
    "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]";
inline constexpr std::string_view kCodePage = "UTF-8";

// What became of one log.
struct LogOutcome {
    bool converted = false;
    std::filesystem::path
        basePath;              // the set's folder and name, without extension; empty on failure
    std::uint64_t points = 0;  // samples written
    std::string error;         // the failure's message (without "Error: "); empty on success
};

// Converts one log into outputFolder. Never throws: any failure is posted as
// one line "Error: <message>". Base names are claimed in `names`.
LogOutcome convertLog(const std::filesystem::path& inputPath,
                      const std::filesystem::path& outputFolder, ProgressSink& sink,
                      BatchNames& names);

// convertLog's verdict alone.
bool convertFile(const std::filesystem::path& inputPath, const std::filesystem::path& outputFolder,
                 ProgressSink& sink, BatchNames& names);

}  // namespace vornakite
