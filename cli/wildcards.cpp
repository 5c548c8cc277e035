#include "wildcards.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "read/log_files.hpp"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace vornakite::cli {
namespace {

using Char = std::filesystem::path::value_type;
using String = std::basic_string<Char>;

bool isSeparator(Char c) {
    return c == Char('\\') || c == Char('/');
}

constexpr Char wildcardCharacters[] = {Char('*'), Char('?'), Char(0)};

// Letters of any case compare equal, as in Windows file names (off Windows, ASCII only).
Char foldCase(Char c) {
    if (c >= Char('a') && c <= Char('z')) {
        return static_cast<Char>(c - ('a' - 'A'));
    }
#ifdef _WIN32
    if (c >= 0x80) {
        // CharUpperW converts a single character passed in the pointer's low word.
        return static_cast<Char>(reinterpret_cast<ULONG_PTR>(
            CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(c)))));
    }
#endif
    return c;
}

bool matchesPlain(NativeView name, NativeView pattern) {
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t starAt = NativeView::npos;  // the last '*' met, to widen its run on a mismatch
    std::size_t starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == Char('*')) {
            starAt = p++;
            starName = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == Char('?') || foldCase(pattern[p]) == foldCase(name[n]))) {
            ++p;
            ++n;
        } else if (starAt != NativeView::npos) {
            p = starAt + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == Char('*')) {
        ++p;
    }
    return p == pattern.size();
}

// Length of a "\\?\" or "\\.\" prefix, in which '?' is no wildcard.
std::size_t devicePrefixLength(NativeView path) {
    if (path.size() >= 4 && isSeparator(path[0]) && isSeparator(path[1]) &&
        (path[2] == Char('?') || path[2] == Char('.')) && isSeparator(path[3])) {
        return 4;
    }
    return 0;
}

struct Component {
    String text;
    String separator;  // what followed it as typed; empty for the last component
};

// The entries of `folder` (the current folder when empty) whose names match `pattern`, in
// name order; only folders when `foldersOnly`. A folder that cannot be read has none.
std::vector<std::filesystem::path> matchingNames(const String& folder, const String& pattern,
                                                 bool foldersOnly) {
    std::vector<std::filesystem::path> names;
    try {
        for (const FolderEntry& entry : readFolder(
                 folder.empty() ? std::filesystem::path(".") : std::filesystem::path(folder))) {
            if ((entry.isFolder || !foldersOnly) && matchesWildcard(entry.name.native(), pattern)) {
                names.push_back(entry.name);
            }
        }
    } catch (const std::runtime_error&) {
        return {};
    }
    std::sort(names.begin(), names.end(), nameLessIgnoringCase);
    return names;
}

}  // namespace

bool matchesWildcard(NativeView name, NativeView pattern) {
    if (matchesPlain(name, pattern)) {
        return true;
    }
    const NativeView anyExtension =
        pattern.size() >= 2 ? pattern.substr(pattern.size() - 2) : NativeView();
    return anyExtension.size() == 2 && anyExtension[0] == Char('.') &&
           anyExtension[1] == Char('*') && name.find(Char('.')) == NativeView::npos &&
           matchesPlain(name, pattern.substr(0, pattern.size() - 2));
}

std::vector<std::filesystem::path> expandWildcards(const std::filesystem::path& argument) {
    const String& text = argument.native();
    const std::size_t firstWildcard =
        NativeView(text).find_first_of(NativeView(wildcardCharacters), devicePrefixLength(text));
    if (firstWildcard == NativeView::npos) {
        return {argument};
    }
    // Everything before the component holding the first wildcard stays as typed.
    std::size_t start = 0;
    for (std::size_t i = firstWildcard; i > 0; --i) {
        if (isSeparator(text[i - 1])) {
            start = i;
            break;
        }
    }
    if (start == 0 && text.size() >= 2 && text[1] == Char(':')) {
        start = 2;  // "C:*.txt": the current folder of drive C
    }
    std::vector<Component> components;
    for (std::size_t at = start; at <= text.size();) {
        std::size_t end = at;
        while (end < text.size() && !isSeparator(text[end])) {
            ++end;
        }
        std::size_t next = end;
        while (next < text.size() && isSeparator(text[next])) {
            ++next;
        }
        components.push_back({text.substr(at, end - at), text.substr(end, next - end)});
        if (next == text.size()) {
            break;
        }
        at = next;
    }

    std::vector<String> candidates{text.substr(0, start)};
    for (const Component& component : components) {
        // A component followed by a separator must be a folder.
        const bool foldersOnly = !component.separator.empty();
        std::vector<String> next;
        for (const String& candidate : candidates) {
            if (component.text.empty() || component.text == String(1, Char('.')) ||
                component.text == String(2, Char('.'))) {
                next.push_back(candidate + component.text + component.separator);
                continue;
            }
            for (const std::filesystem::path& name :
                 matchingNames(candidate, component.text, foldersOnly)) {
                next.push_back(candidate + name.native() + component.separator);
            }
        }
        candidates = std::move(next);
    }
    if (candidates.empty()) {
        return {argument};
    }
    return std::vector<std::filesystem::path>(candidates.begin(), candidates.end());
}

}  // namespace vornakite::cli
