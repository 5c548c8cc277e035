// Converting one log into its five output files.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "progress_sink.hpp"

namespace vornakite {

// The .prj and .cpg contents (no line end).
inline constexpr std::string_view kWgs84Prj =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
    "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]";
inline constexpr std::string_view kCodePage = "UTF-8";

// Keeps '-', '.', digits, ASCII letters and '_', replaces every other
// character by '_', then drops leading '_' and '.' characters.
std::wstring sanitizeFileName(std::wstring_view text);

// The base names given out within one batch, compared ignoring ASCII case as
// Windows file names are.
class BatchNames {
  public:
    // Returns `name` if no log of the batch took it yet, else the first free
    // name + "_2", "_3", ...; the returned name counts as taken from now on.
    std::wstring claim(const std::wstring& name);

  private:
    std::set<std::wstring> taken_;            // lower-cased
    std::map<std::wstring, int> nextSuffix_;  // lower-cased name: first suffix not yet tried
};

// The output base name of a log: header fields 6, 7 and 8 joined by '_' and
// sanitised. When that is empty, the log's own file name without extension,
// sanitised, or "yield". A Windows device name (CON, NUL, COM1...) gets a '_'
// appended so the outputs stay regular files.
std::wstring outputBaseName(std::string_view field6, std::string_view field7,
                            std::string_view field8, const std::filesystem::path& inputPath);

// Converts one log into outputFolder. Never throws: any failure is posted as
// one line "Error: <message>" and gives false. Base names are claimed in `names`.
bool convertFile(const std::filesystem::path& inputPath, const std::filesystem::path& outputFolder,
                 ProgressSink& sink, BatchNames& names);

}  // namespace vornakite
