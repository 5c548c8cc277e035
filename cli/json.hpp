// JSON string literals of paths and messages, for --json, in the text layer's Json scheme.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vornakite::cli {

// Appends `bytes` as a JSON string: UTF-8 as it is, every byte that is not part of valid
// UTF-8 as \udcXX (XX the byte, the "surrogate escape" that Python's os.fsencode turns back
// into the same bytes).
void appendJsonString(std::string& out, std::string_view bytes);

// Appends wide text (UTF-16 or UTF-32, as wchar_t is) as a JSON string; an unpaired
// surrogate is kept as its \uXXXX escape.
void appendJsonString(std::string& out, std::wstring_view text);

// Appends a path's native form as a JSON string: its bytes off Windows, its UTF-16 on it.
void appendJsonPath(std::string& out, const std::filesystem::path& path);

}  // namespace vornakite::cli
