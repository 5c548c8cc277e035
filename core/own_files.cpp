#include "own_files.hpp"

#include <algorithm>
#include <string>

#include "model/conversion_error.hpp"
#include "os/files.hpp"

namespace vornakite {
namespace {

std::string_view markerOf(OwnFile kind) {
    switch (kind) {
        case OwnFile::summary:
            return kSummaryMarker;
        case OwnFile::report:
            return kReportMarker;
        case OwnFile::csv:
            break;
    }
    return kCsvMarker;
}

// Up to `size` bytes from the start of the regular file at `path`; empty when it cannot be read.
std::string firstBytes(const std::filesystem::path& path, std::size_t size) {
    const auto entry = os::entryAt(path);
    os::InputFile file;
    if (!entry || entry->kind != os::EntryKind::file || !file.open(path)) {
        return {};
    }
    std::string bytes(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const std::ptrdiff_t n = file.readAt(got, bytes.data() + got, size - got);
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

bool endsInCsv(const std::filesystem::path& path) {
    const auto& name = path.native();
    if (name.size() < 4) {
        return false;
    }
    static constexpr char kCsv[] = ".csv";
    return std::equal(name.end() - 4, name.end(), kCsv, [](auto c, char e) {
        return (c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c) == e;
    });
}

}  // namespace

bool isOwnFile(const std::filesystem::path& path, OwnFile kind) {
    const std::string_view marker = markerOf(kind);
    if (kind == OwnFile::report) {
        return firstBytes(path, kReportMarkerReach).find(marker) != std::string::npos;
    }
    return firstBytes(path, marker.size()) == marker;
}

bool isOwnCsvFile(const std::filesystem::path& path) {
    if (!endsInCsv(path)) {
        return false;
    }
    const std::string bytes = firstBytes(path, std::max(kSummaryMarker.size(), kCsvMarker.size()));
    return bytes.starts_with(kSummaryMarker) || bytes.starts_with(kCsvMarker);
}

EntryCheck ownFileCheck(OwnFile kind, bool force, bool noClobber) {
    return [kind, force, noClobber](const std::filesystem::path& name) {
        if (noClobber) {
            throw ConversionError(ErrorCode::outputExists,
                                  "Not replaced: it exists already (--no-clobber)");
        }
        if (!force && !isOwnFile(name, kind)) {
            throw ConversionError(ErrorCode::notReplaced,
                                  kind == OwnFile::summary
                                      ? "Not replaced: not a summary of this program (--force "
                                        "replaces it)"
                                      : "Not replaced: not a report of this program (--force "
                                        "replaces it)");
        }
    };
}

}  // namespace vornakite
