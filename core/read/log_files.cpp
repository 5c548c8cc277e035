#include "read/log_files.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <type_traits>

namespace vornakite {
namespace {

using NativeChar = std::filesystem::path::value_type;
using NativeView = std::basic_string_view<NativeChar>;
using NativeUnit = std::make_unsigned_t<NativeChar>;

NativeChar foldAscii(NativeChar c) {
    return c >= NativeChar('A') && c <= NativeChar('Z') ? static_cast<NativeChar>(c + ('a' - 'A'))
                                                        : c;
}

bool endsWithIgnoringCase(NativeView name, std::string_view suffix) {
    if (name.size() < suffix.size()) {
        return false;
    }
    const NativeView tail = name.substr(name.size() - suffix.size());
    return std::equal(tail.begin(), tail.end(), suffix.begin(), [](NativeChar c, char s) {
        return foldAscii(c) == static_cast<NativeChar>(static_cast<unsigned char>(s));
    });
}

struct FolderContents {
    std::vector<std::filesystem::path> logs;
    std::vector<std::filesystem::path> subfolders;
};

// The log files and the subfolders worth entering of one folder, each in name order.
FolderContents contentsOf(const std::filesystem::path& folder) {
    FolderContents contents;
    for (const FolderEntry& entry : readFolder(folder)) {
        if (entry.isFolder) {
            if (!entry.isLink) {
                contents.subfolders.push_back(folder / entry.name);
            }
        } else if (!entry.isSpecial && isLogFileName(entry.name)) {
            contents.logs.push_back(folder / entry.name);
        }
    }
    const auto byName = [](const std::filesystem::path& a, const std::filesystem::path& b) {
        return nameLessIgnoringCase(a.filename(), b.filename());
    };
    std::sort(contents.logs.begin(), contents.logs.end(), byName);
    std::sort(contents.subfolders.begin(), contents.subfolders.end(), byName);
    return contents;
}

// Appends the logs of `top` (and with `recursive` of its subfolders) in pre-order, leaving out
// what `skips` names. The pending folders are kept on a stack of their own, so deep trees need no
// deep recursion.
void appendFolderLogs(const std::filesystem::path& top, bool recursive, const WalkSkips& skips,
                      std::vector<std::filesystem::path>& out) {
    const std::optional<os::FileId> outputFolder =
        skips.outputFolder.empty() ? std::nullopt : os::fileIdentity(skips.outputFolder, true);
    std::vector<std::filesystem::path> pending{top};
    while (!pending.empty()) {
        const std::filesystem::path folder = std::move(pending.back());
        pending.pop_back();
        FolderContents contents;
        try {
            contents = contentsOf(folder);
        } catch (const std::runtime_error&) {
            out.push_back(folder);  // reported by the conversion as a log it cannot open
            continue;
        }
        for (std::filesystem::path& log : contents.logs) {
            if (!skips.isOwnOutput || !skips.isOwnOutput(log)) {
                out.push_back(std::move(log));
            }
        }
        if (!recursive) {
            continue;
        }
        for (auto sub = contents.subfolders.rbegin(); sub != contents.subfolders.rend(); ++sub) {
            if (!outputFolder || os::fileIdentity(*sub, true) != outputFolder) {
                pending.push_back(std::move(*sub));
            }
        }
    }
}

}  // namespace

bool isLogFileName(const std::filesystem::path& name) {
    static constexpr std::array<std::string_view, 3> kExtensions{".vornakite", ".txt", ".csv"};
    const NativeView native = name.native();
    return std::any_of(kExtensions.begin(), kExtensions.end(), [&](std::string_view extension) {
        return endsWithIgnoringCase(native, extension);
    });
}

bool nameLessIgnoringCase(const std::filesystem::path& a, const std::filesystem::path& b) {
    const NativeView x = a.native();
    const NativeView y = b.native();
    const auto folded =
        std::mismatch(x.begin(), x.end(), y.begin(), y.end(),
                      [](NativeChar p, NativeChar q) { return foldAscii(p) == foldAscii(q); });
    if (folded.first != x.end() && folded.second != y.end()) {
        return static_cast<NativeUnit>(foldAscii(*folded.first)) <
               static_cast<NativeUnit>(foldAscii(*folded.second));
    }
    if (x.size() != y.size()) {
        return x.size() < y.size();
    }
    return x < y;
}

std::vector<std::filesystem::path> expandLogArguments(
    const std::vector<std::filesystem::path>& arguments, bool recursive, const WalkSkips& skips) {
    std::vector<std::filesystem::path> logs;
    logs.reserve(arguments.size());
    for (const std::filesystem::path& argument : arguments) {
        if (!argument.empty() && isFolder(argument)) {
            appendFolderLogs(argument, recursive, skips, logs);
        } else {
            logs.push_back(argument);
        }
    }
    return logs;
}

}  // namespace vornakite
