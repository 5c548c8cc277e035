// Naming the output sets: the base name a log's header gives, made safe as a file name on
// every platform, and the names handed out within one batch.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace vornakite {

// Keeps '-', '.', digits, ASCII letters and '_', replaces every other
// character by '_', then drops leading '_', '.' and '-' characters.
std::wstring sanitizeFileName(std::wstring_view text);

// The form in which base names are compared: ASCII letters in lower case, as Windows compares
// file names.
std::wstring nameKey(std::wstring_view name);

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

// The longest base name given: longer header names are cut, so that every file of a set has a
// name the file systems accept.
inline constexpr std::size_t kMaxBaseNameLength = 200;

// The output base name of a log: header fields 6, 7 and 8 joined by '_' and
// sanitised. When that is empty, the log's own file name without extension,
// sanitised, or "yield". A name whose part before the first full stop is a Windows
// device name (CON, NUL, COM1...) gets a '_' after that part, so the outputs stay
// regular files: NUL.farm becomes NUL_.farm. At most kMaxBaseNameLength characters (+1 for
// the device '_').
std::wstring outputBaseName(std::string_view field6, std::string_view field7,
                            std::string_view field8, const std::filesystem::path& inputPath);

}  // namespace vornakite
