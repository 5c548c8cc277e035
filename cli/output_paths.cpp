#include "output_paths.hpp"

#include <algorithm>
#include <optional>
#include <system_error>

#include "os/files.hpp"
#include "read/log_files.hpp"
#include "text/text.hpp"

namespace vornakite::cli {
namespace {

using Path = std::filesystem::path;

wchar_t lowerAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c;
}

bool endsWithIgnoringCase(const std::wstring& name, const std::wstring& suffix) {
    return name.size() >= suffix.size() &&
           std::equal(suffix.begin(), suffix.end(),
                      name.end() - static_cast<std::ptrdiff_t>(suffix.size()),
                      [](wchar_t s, wchar_t n) { return lowerAscii(s) == lowerAscii(n); });
}

// The folder as a full path without . and .. or a trailing separator.
Path normalFolder(const Path& folder) {
    std::error_code ec;
    Path full = std::filesystem::absolute(folder.empty() ? Path(".") : folder, ec);
    full = full.lexically_normal();
    return full.has_filename() || !full.has_parent_path() ? full : full.parent_path();
}

// Whether two folders are one: by identity when both are there, else by their full paths.
bool sameFolder(const Path& a, const Path& b) {
    const auto x = os::fileIdentity(a.empty() ? Path(".") : a, true);
    const auto y = os::fileIdentity(b.empty() ? Path(".") : b, true);
    if (x && y) {
        return *x == *y;
    }
    return normalFolder(a) == normalFolder(b);
}

// Whether `path` would replace a file that a set of the batch is written as.
bool isBatchOutput(const Path& path, const Options& options, const Path& outputFolder) {
    if (!sameFolder(path.parent_path(), outputFolder)) {
        return false;
    }
    const std::wstring name = pathText(path.filename());
    if (options.analysis.field.gridCellMetres > 0.0 && endsWithIgnoringCase(name, L".tif")) {
        return true;  // BASE_yield.tif of --grid
    }
    for (std::size_t i = 0; i < kOutputFormats.size(); ++i) {
        if (!options.formats.written[i]) {
            continue;
        }
        for (const std::wstring& extension : fileExtensions(kOutputFormats[i])) {
            if (endsWithIgnoringCase(name, extension)) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace

std::string refusedAnalysisPath(const Options& options, const std::vector<Path>& logs,
                                const Path& outputFolder, const Path& summaryShown) {
    const Path& report = options.analysis.report;
    if (!report.empty() && isLogFileName(report)) {
        return "--report FILE may not end in .Vornakite, .txt or .csv, as logs do: " +
               toUtf8(pathText(report));
    }
    std::vector<os::FileId> logFiles;
    for (const Path& log : logs) {
        if (const auto id = os::fileIdentity(log, true)) {
            logFiles.push_back(*id);
        }
    }
    // The entry at the name is what would be replaced: a link itself, never its target.
    const auto isLog = [&](const Path& path) {
        const auto id = os::fileIdentity(path, false);
        return id && std::find(logFiles.begin(), logFiles.end(), *id) != logFiles.end();
    };
    if (!report.empty() && isLog(report)) {
        return "--report " + toUtf8(pathText(report)) + " is a log of this batch";
    }
    if (!report.empty() && isBatchOutput(report, options, outputFolder)) {
        return "--report " + toUtf8(pathText(report)) + " would replace an output of this batch";
    }
    if (options.analysis.summary && isLog(outputFolder / "summary.csv")) {
        return "--summary would replace a log of this batch: " + toUtf8(pathText(summaryShown));
    }
    return {};
}

}  // namespace vornakite::cli
