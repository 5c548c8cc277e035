// The files this program writes beside the sets that a user's file could be mistaken for, or
// stand in the place of: summary.csv, the CSV files of --format csv and the HTML report. Each is
// known by a marker in its first bytes, so that a walk through folders does not take them for
// logs, and a summary or report replaces only an earlier one of its kind.
#pragma once

#include <filesystem>
#include <string_view>

#include "write/output_transaction.hpp"

namespace vornakite {

enum class OwnFile { summary, report, csv };

// summary.csv and a CSV output begin with these (the first columns of their header rows); a
// report has its generator line within its first kReportMarkerReach bytes.
inline constexpr std::string_view kSummaryMarker = "set,points,kept,removed,";
inline constexpr std::string_view kCsvMarker = "longitude,latitude,Yield_bu,";
inline constexpr std::string_view kReportMarker =
    "<meta name=\"generator\" content=\"vornakite-convert\">";
inline constexpr std::size_t kReportMarkerReach = 512;

// Whether the entry at `path` is a regular file (not a link to one) that begins as `kind` does.
bool isOwnFile(const std::filesystem::path& path, OwnFile kind);

// Whether a file met in a folder is a CSV file this program wrote: its name ends in .csv, in any
// letter case, and it begins as summary.csv or a CSV output does.
bool isOwnCsvFile(const std::filesystem::path& path);

// The check of a summary's or report's commit, for the entry at its name: with `noClobber` it is
// kept whatever it is; otherwise, unless `force`, it is replaced only when it is an earlier file
// of the same kind. Refusals are ConversionErrors: "Not replaced: ..." (notReplaced), or with
// `noClobber` (outputExists).
EntryCheck ownFileCheck(OwnFile kind, bool force, bool noClobber);

}  // namespace vornakite
