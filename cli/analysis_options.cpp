#include "analysis_options.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <system_error>

#include "text/text.hpp"

namespace vornakite::cli {
namespace {

// A plain decimal number ("25", "0.75", "-3", "1e2"), whatever the C locale: std::from_chars.
bool parseNumber(std::string_view text, double& value) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc{} && end == text.data() + text.size() && !text.empty() &&
           std::isfinite(value);
}

std::string valueText(const std::filesystem::path& value) {
    return toUtf8(pathText(value));
}

// One line of the option list: the names padded to the converter's own column.
std::string optionLine(std::string_view names, std::string_view help) {
    // A name too long for the column gets its help on a line of its own below it.
    std::string line = "  " + std::string(names);
    line += names.size() < 17 ? std::string(17 - names.size(), ' ') : "\n" + std::string(19, ' ');
    return line + std::string(help) + "\n";
}

// The options that choose filters: --filters keeps only the codes given, --skip leaves them out.
bool chooseFilters(AnalysisOptions& options, std::string_view name, const std::string& codes,
                   std::string& error) {
    analysis::FilterMask mask = 0;
    try {
        mask = analysis::parseFilterCodes(codes);
    } catch (const std::invalid_argument&) {
        error = "unknown filter code in " + std::string(name) + " " + codes;
        return false;
    }
    if (mask == 0) {
        error = std::string(name) + " needs at least one filter code";
        return false;
    }
    if (name == "--filters") {
        options.filters.enabled &= mask;
    } else {
        options.filters.enabled &= static_cast<analysis::FilterMask>(~mask);
    }
    return true;
}

// The field's options, with their limits: a plain number within them, else a usage error.
struct FieldOptionLimits {
    std::string_view name;
    double min, max;
    bool minIncluded;
};
constexpr FieldOptionLimits kFieldOptions[] = {
    {"--swath-m", 0.0, 100.0, false},
    {"--standard-moisture", 0.0, 99.0, true},
    {"--grid", 0.0, 10000.0, false},
};

AnalysisParse parseFieldOption(FieldOptions& field, std::string_view name,
                               const std::vector<std::filesystem::path>& arguments, std::size_t& i,
                               std::string& error) {
    const FieldOptionLimits* limits = nullptr;
    for (const FieldOptionLimits& f : kFieldOptions) {
        limits = f.name == name ? &f : limits;
    }
    if (limits == nullptr) {
        return AnalysisParse::NotAnalysis;
    }
    if (i + 1 >= arguments.size()) {
        error = std::string(name) + " needs a value";
        return AnalysisParse::Error;
    }
    const std::string text = valueText(arguments[++i]);
    double v = 0.0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    const bool inRange =
        (limits->minIncluded ? v >= limits->min : v > limits->min) && v <= limits->max;
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !inRange) {
        error = "invalid value for " + std::string(name) + ": " + text;
        return AnalysisParse::Error;
    }
    if (name == "--grid") {
        field.gridCellMetres = v;
        return AnalysisParse::Read;
    }
    (name == "--swath-m" ? field.swathMetres : field.standardMoisture) = v;
    if (field.firstOption.empty()) {
        field.firstOption = name;
    }
    return AnalysisParse::Read;
}

// --flow-lag and --moisture-lag: "auto", "off" or a whole number of samples.
bool parseLag(std::string_view text, analysis::LagSetting& lag) {
    if (text == "auto" || text == "off") {
        lag.mode =
            text == "auto" ? analysis::LagSetting::Mode::Auto : analysis::LagSetting::Mode::Off;
        return true;
    }
    int samples = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), samples);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || samples < 0 ||
        samples > analysis::kMostLagSamples) {
        return false;
    }
    lag = {analysis::LagSetting::Mode::Samples, samples};
    return true;
}

}  // namespace

void setThreshold(analysis::CleaningOptions& options, std::string_view option,
                  std::string_view value) {
    const analysis::ThresholdInfo* info = analysis::findThreshold(option);
    if (info == nullptr) {
        throw std::invalid_argument("Unknown cleaning option");
    }
    double v = 0.0;
    if (!parseNumber(value, v) || v < 0.0 || (option == "ramp-fraction" && v > 1.0) ||
        (option == "ramp-samples" && v > analysis::kMostRampSamples)) {
        throw std::invalid_argument("Invalid threshold value");
    }
    options.*(info->member) = v;
}

std::string cleaningHelp() {
    // `text` after `prefix`, words wrapped at 100 columns, continuation lines indented as far
    // as the prefix is long.
    auto wrap = [](std::string line, std::string_view text) {
        const std::size_t indent = line.size();
        std::string out;
        bool first = true;
        while (!text.empty()) {
            const std::size_t space = text.find(' ');
            const std::string_view word = text.substr(0, space);
            text = space == std::string_view::npos ? std::string_view{} : text.substr(space + 1);
            if (!first && line.size() + 1 + word.size() > 100) {
                out += line + "\n";
                line.assign(indent, ' ');
            } else if (!first) {
                line += ' ';
            }
            line += word;
            first = false;
        }
        return out + line + "\n";
    };
    std::string out;
    for (const analysis::FilterInfo& f : analysis::kFilterInfo) {
        std::string head = "  " + std::string(f.code);
        head.resize(8, ' ');
        out += head + std::string(f.name) + "\n";
        for (const analysis::ThresholdInfo& t : analysis::kThresholdInfo) {
            if (t.filter == f.filter) {
                std::string option = "      --" + std::string(t.option) + " VALUE";
                option.resize(std::max<std::size_t>(option.size() + 2, 30), ' ');
                out += wrap(option, std::string(t.name) + ", " + std::string(t.unit) +
                                        " (automatic: " + std::string(t.automatic) + ")");
            }
        }
    }
    return out;
}

AnalysisParse parseAnalysisOption(AnalysisOptions& options, std::string_view name,
                                  const std::vector<std::filesystem::path>& arguments,
                                  std::size_t& i, std::string& error) {
    if (const AnalysisParse field = parseFieldOption(options.field, name, arguments, i, error);
        field != AnalysisParse::NotAnalysis) {
        return field;
    }
    if (name == "--clean") {
        options.clean = true;
        return AnalysisParse::Read;
    }
    if (name == "--summary") {
        options.summary = true;
        return AnalysisParse::Read;
    }
    const bool filters = name == "--filters" || name == "--skip";
    const bool lag = name == "--flow-lag" || name == "--moisture-lag";
    const analysis::ThresholdInfo* threshold = name.size() > 2 && name.substr(0, 2) == "--"
                                                   ? analysis::findThreshold(name.substr(2))
                                                   : nullptr;
    if (name != "--report" && !filters && !lag && threshold == nullptr) {
        return AnalysisParse::NotAnalysis;
    }
    if (i + 1 >= arguments.size()) {
        error = std::string(name) + (name == "--report" ? " needs a file"
                                     : filters          ? " needs filter codes"
                                                        : " needs a value");
        return AnalysisParse::Error;
    }
    const std::filesystem::path& value = arguments[++i];
    if (name == "--report") {
        if (value.empty()) {
            error = "--report needs a file, not an empty name";
            return AnalysisParse::Error;
        }
        // "--report --grid 2" would write the page to a file named --grid and drop the grid.
        if (const std::string text = valueText(value); text.starts_with('-')) {
            error = "--report needs a file, not " + text + " (a file of that name: ./" + text + ")";
            return AnalysisParse::Error;
        }
        options.report = value;
        return AnalysisParse::Read;
    }
    if (options.firstFilterOption.empty()) {
        options.firstFilterOption = name;
    }
    if (filters) {
        return chooseFilters(options, name, valueText(value), error) ? AnalysisParse::Read
                                                                     : AnalysisParse::Error;
    }
    if (lag) {
        if (!parseLag(valueText(value), name == "--flow-lag" ? options.filters.flowLag
                                                             : options.filters.moistureLag)) {
            error = "invalid value for " + std::string(name) + ": " + valueText(value) +
                    " (auto, off or samples up to " + std::to_string(analysis::kMostLagSamples) +
                    ")";
            return AnalysisParse::Error;
        }
        return AnalysisParse::Read;
    }
    try {
        setThreshold(options.filters, threshold->option, valueText(value));
    } catch (const std::invalid_argument&) {
        error = "invalid value for " + std::string(name) + ": " + valueText(value);
        return AnalysisParse::Error;
    }
    return AnalysisParse::Read;
}

std::string fieldUsageText() {
    std::string text =
        "The field's numbers (estimated, in summary.csv, the report, --json and the cleaning "
        "line):\n";
    text += optionLine("--swath-m M", "the working width in metres, instead of the one estimated");
    text += optionLine("", "from the spacing of neighbouring passes");
    text += optionLine("--standard-moisture PCT",
                       "the moisture dry yields are given at, instead of the crop's");
    text += optionLine("", "(corn 15.5, soybeans 13, wheat 13.5, ...; unknown crop: none)");
    text += optionLine("--grid CELL_M",
                       "also write BASE_yield.tif, the yield surface of the kept points in");
    text += optionLine("", "CELL_M metre cells in the field's UTM zone (runs the filters)");
    text +=
        "--swath-m and --standard-moisture need --clean, --summary, --report or --grid.\n"
        "Units of the columns: Yield_bu bu/ac and Weight_ta (the monitor's t/ac) as logged,\n"
        "Moist_pct percent, Dens_lbbu lb/bu, Speed_MPH mph.\n";
    return text;
}

std::string checkAnalysisOptions(const AnalysisOptions& options) {
    if (!options.firstFilterOption.empty() && !options.clean) {
        return options.firstFilterOption + " needs --clean";
    }
    if (!options.field.firstOption.empty() && !options.clean && !options.summary &&
        options.report.empty() && options.field.gridCellMetres <= 0.0) {
        return options.field.firstOption + " needs --clean, --summary, --report or --grid";
    }
    return {};
}

std::string analysisUsageText() {
    std::string text = "Cleaning, summary and report (none of it unless asked for):\n";
    text += optionLine("--clean",
                       "also write BASE_clean with the points the filters keep and BASE_removed");
    text += optionLine("", "with the others (and a Reason column of filter codes) beside each");
    text += optionLine("", "set, and print a cleaning line after each log's lines (not with -q)");
    text += optionLine("--summary", "write summary.csv into the output folder: a row per log");
    text += optionLine("--report FILE",
                       "write FILE, an HTML page of every log converted: yield map, histogram,");
    text += optionLine("", "summary, and the filters with their thresholds");
    text += optionLine("--filters CODES", "run only these filters, codes separated by commas");
    text += optionLine("--skip CODES", "run every filter but these");
    text += optionLine("--flow-lag auto|off|N",
                       "the grain-flow lag undone before the filters judge the values: the");
    text += optionLine("", "yields logged N samples after a position belong to it (default auto:");
    text += optionLine("", "estimated from the log, none where it cannot be found)");
    text += optionLine("--moisture-lag auto|off|N",
                       "the moisture sensor's lag, likewise (auto: estimated from the");
    text += optionLine("", "moistures; where none is found, the flow lag found)");
    text +=
        "The summary and the report run the filters too: with the options below when --clean is\n"
        "given, with automatic thresholds otherwise. --filters, --skip, the lags and the\n"
        "thresholds need --clean. A summary or report that cannot be written makes the exit\n"
        "status 1.\n"
        "Filters and their thresholds (each taken from the log unless set):\n";
    text += cleaningHelp();
    text += fieldUsageText();
    return text;
}

ConversionOptions conversionOptions(const AnalysisOptions& options, bool jsonCounts) {
    ConversionOptions conversion;
    if (options.clean) {
        conversion.cleaning = options.filters;
    }
    conversion.keepAnalysis = options.summary || !options.report.empty() ||
                              (options.clean && jsonCounts) || options.field.gridCellMetres > 0.0;
    conversion.numbers.field.swathMetres = options.field.swathMetres;
    conversion.numbers.field.standardMoisture = options.field.standardMoisture;
    conversion.numbers.gridCellMetres = options.field.gridCellMetres;
    return conversion;
}

}  // namespace vornakite::cli
