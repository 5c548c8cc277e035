// The command line's analysis options: --clean, --summary, --report FILE, which filters run and
// their thresholds. Their table and help text live here, beside the converter's own options.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/cleaning.hpp"
#include "convert.hpp"

namespace vornakite::cli {

// The options of the field's numbers and the yield surface.
struct FieldOptions {
    std::optional<double> swathMetres;       // --swath-m: replaces the estimate
    std::optional<double> standardMoisture;  // --standard-moisture: replaces the crop's
    double gridCellMetres = 0.0;             // --grid: BASE_yield.tif of cells this wide
    std::string firstOption;                 // the first of --swath-m, --standard-moisture
};

struct AnalysisOptions {
    bool clean = false;                 // BASE_clean and BASE_removed, and the cleaning line
    bool summary = false;               // summary.csv in the output folder
    std::filesystem::path report;       // the HTML report; empty: none
    analysis::CleaningOptions filters;  // the filters that run and the thresholds set
    std::string firstFilterOption;      // the first filter or threshold option given
    FieldOptions field;                 // --swath-m, --standard-moisture, --grid
};

enum class AnalysisParse {
    NotAnalysis,  // `name` is not one of these options
    Read,         // read, with its value when it takes one
    Error,        // a usage error, in `error`
};

// Reads the analysis option `name` at arguments[i], and its value at arguments[i + 1] when it
// takes one (then i is advanced past it).
AnalysisParse parseAnalysisOption(AnalysisOptions& options, std::string_view name,
                                  const std::vector<std::filesystem::path>& arguments,
                                  std::size_t& i, std::string& error);

// The usage error of analysis options that need another one, or "".
std::string checkAnalysisOptions(const AnalysisOptions& options);

// The part of --help on the analysis options, the filters and their thresholds; every line ends
// in '\n' and is at most 100 columns wide.
std::string analysisUsageText();

// Sets a threshold from its option text; throws std::invalid_argument("Unknown cleaning option")
// or std::invalid_argument("Invalid threshold value") for text that is not a finite number, a
// negative value, or a fraction or count out of its range.
void setThreshold(analysis::CleaningOptions& options, std::string_view option,
                  std::string_view value);

// The filters and their options for --help, from the two tables: per filter its code and name,
// then each option with what it sets, its unit and how its automatic value is found, wrapped at
// 100 columns; every line ends in '\n'.
std::string cleaningHelp();

// The part of --help on the field's numbers and the yield surface, and the columns' units.
std::string fieldUsageText();

// What the conversion of each log must do for these options: the filters when --clean is
// given, and the points and verdicts kept when the summary, the report or the JSON counts need
// them.
ConversionOptions conversionOptions(const AnalysisOptions& options, bool jsonCounts);

}  // namespace vornakite::cli
