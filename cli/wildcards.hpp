// Wildcards in arguments, expanded the way Windows users expect: on Windows no shell does
// it for a program.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace vornakite::cli {

using NativeView = std::basic_string_view<std::filesystem::path::value_type>;

// Whether `name` matches `pattern`: '*' stands for any run of characters, '?' for any one,
// letters match without regard to case, and a pattern ending in ".*" also matches the name
// without the dot (as "*.*" matches every name in Windows).
bool matchesWildcard(NativeView name, NativeView pattern);

// The paths that `argument` stands for when it holds '*' or '?' (after a "\\?\" or "\\.\"
// prefix): every existing path whose components match, component by component, each
// folder's matches in name order ignoring case; the text up to the first component with a
// wildcard stays as typed. '\' and '/' both separate components. An argument without
// wildcards, or whose wildcards match nothing, is the one path it names, as typed.
std::vector<std::filesystem::path> expandWildcards(const std::filesystem::path& argument);

}  // namespace vornakite::cli
