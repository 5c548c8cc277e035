#include "options.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.hpp"

namespace vornakite::cli {
namespace {

using Path = std::filesystem::path;

// One option: its names, the name of its value (empty when it takes none), its help line,
// and what it does to the command (a usage error message, or empty).
struct OptionSpec {
    std::string_view shortName;
    std::string_view longName;
    std::string_view valueName;
    std::string_view valueNoun;  // for the error when the value is missing: "a folder"
    std::string_view help;
    std::string (*apply)(Command& command, const Path& value);
};

std::string setReport(Command& command, Report report) {
    if (command.options.report != Report::Lines && command.options.report != report) {
        return "--quiet and --json cannot be combined";
    }
    command.options.report = report;
    return {};
}

constexpr unsigned kMaxJobs = 1024;

std::string setJobs(Command& command, const Path& value) {
    const std::string text = toUtf8(pathText(value));
    unsigned jobs = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || jobs < 1 ||
        jobs > kMaxJobs) {
        return "-j needs a number of logs from 1 to " + std::to_string(kMaxJobs) + ", not " + text;
    }
    command.options.jobs = jobs;
    return {};
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The items joined by `separator`, the last two by `last`: "shp, geojson and csv".
std::string joined(const std::vector<std::string>& items, std::string_view separator,
                   std::string_view last) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            text += i + 1 < items.size() ? separator : last;
        }
        text += items[i];
    }
    return text;
}

// The names of the output formats that `pick` takes, or their descriptions with their files:
// "GeoJSON (.geojson)".
std::vector<std::string> formatList(bool described, bool (*pick)(const OutputFormat&)) {
    std::vector<std::string> list;
    for (const OutputFormat& format : kOutputFormats) {
        if (pick(format)) {
            list.push_back(described ? std::string(format.help) + " (" +
                                           std::string(format.extensions) + ")"
                                     : std::string(format.name));
        }
    }
    return list;
}

bool anyFormat(const OutputFormat&) {
    return true;
}

bool defaultFormat(const OutputFormat& format) {
    return format.byDefault;
}

bool requestedFormat(const OutputFormat& format) {
    return !format.byDefault;
}

std::string_view formatHelp() {
    static const std::string help = "write each set in the formats in LIST, any of " +
                                    joined(formatList(false, anyFormat), ",", ",") + " (default: " +
                                    joined(formatList(false, defaultFormat), ",", ",") + ")";
    return help;
}

std::string setFormats(Command& command, const Path& value) {
    const std::string text = toUtf8(pathText(value));
    OutputFormats formats;
    formats.written.fill(false);
    std::size_t from = 0;
    for (;;) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        std::string name = text.substr(from, comma - from);
        std::transform(name.begin(), name.end(), name.begin(), asciiLower);
        const OutputFormat* known = findOutputFormat(name);
        if (known == nullptr) {
            return "--format takes " + joined(formatList(false, anyFormat), ", ", " and ") +
                   ", separated by commas, not " + text;
        }
        formats.written[static_cast<std::size_t>(known - kOutputFormats.data())] = true;
        if (comma == text.size()) {
            break;
        }
        from = comma + 1;
    }
    command.options.formats = formats;
    return {};
}

// In the order --help lists them.
const std::array<OptionSpec, 11> kOptions{{
    {"-o", "", "DIR", "a folder", "write the outputs into DIR (default: ./Rx)",
     [](Command& command, const Path& value) -> std::string {
         if (value.empty()) {
             return "-o needs a folder, not an empty name";
         }
         // "-o --clean" would make a folder named --clean and drop the cleaning.
         if (const std::string text = toUtf8(pathText(value)); text.starts_with('-')) {
             return "-o needs a folder, not " + text + " (a folder of that name: ./" + text + ")";
         }
         command.options.outputFolder = value;
         return {};
     }},
    {"-r", "--recursive", "", "", "take the logs in the subfolders of a FOLDER too, depth first",
     [](Command& command, const Path&) -> std::string {
         command.options.recursive = true;
         return {};
     }},
    {"", "--format", "LIST", "a list of formats", formatHelp(), setFormats},
    {"", "--merge", "", "",
     "write one set per name from all the logs that share it, with a Log column",
     [](Command& command, const Path&) -> std::string {
         command.options.merge = true;
         return {};
     }},
    {"", "--no-clobber", "", "", "fail a log whose set exists already, leaving that set as it is",
     [](Command& command, const Path&) -> std::string {
         command.options.noClobber = true;
         return {};
     }},
    {"", "--force", "", "",
     "let the summary and the report replace files this program did not write",
     [](Command& command, const Path&) -> std::string {
         command.options.force = true;
         return {};
     }},
    {"-j", "--jobs", "N", "a number", "convert up to N logs at once (default: one per core)",
     setJobs},
    {"-q", "--quiet", "", "", "print only the error lines and the summary line",
     [](Command& command, const Path&) { return setReport(command, Report::Quiet); }},
    {"", "--json", "", "", "print one JSON object per log, then one for the batch",
     [](Command& command, const Path&) { return setReport(command, Report::Json); }},
    {"-h", "--help", "", "", "show this text",
     [](Command& command, const Path&) -> std::string {
         command.action = Command::Action::Help;
         return {};
     }},
    {"", "--version", "", "", "show the version",
     [](Command& command, const Path&) -> std::string {
         command.action = Command::Action::Version;
         return {};
     }},
}};

const OptionSpec* findOption(std::string_view name) {
    for (const OptionSpec& option : kOptions) {
        if (name == option.shortName || name == option.longName) {
            return &option;
        }
    }
    return nullptr;
}

Command usageError(std::string message) {
    Command command;
    command.action = Command::Action::UsageError;
    command.error = std::move(message);
    return command;
}

// An option whose value is given in the same argument, "--format=csv" or "-j2" (a short option
// only when it takes a value): its name and its value, kept as the system gave it.
struct Attached {
    std::string name;
    Path value;
};

std::optional<Attached> attachedValue(const Path& argument, const std::string& text) {
    const auto& native = argument.native();
    if (text.starts_with("--")) {
        const std::size_t equals = native.find('=');
        if (equals == std::string::npos || equals < 3) {
            return std::nullopt;
        }
        return Attached{text.substr(0, text.find('=')), Path(native.substr(equals + 1))};
    }
    const OptionSpec* option = text.size() > 2 ? findOption(text.substr(0, 2)) : nullptr;
    if (option == nullptr || option->valueName.empty()) {
        return std::nullopt;
    }
    return Attached{text.substr(0, 2), Path(native.substr(2))};
}

// Reads the option at arguments[i] (its value from the same argument or the next one, then
// advancing i past it); a usage error's message, or "".
std::string readOption(Command& command, const std::vector<Path>& arguments, std::size_t& i,
                       const std::string& text) {
    const std::optional<Attached> attached = attachedValue(arguments[i], text);
    const std::string name = attached ? attached->name : text;
    const OptionSpec* option = findOption(name);
    if (option == nullptr) {
        std::string error;
        // The analysis options take their value from the list they are given.
        const std::vector<Path> pair =
            attached ? std::vector<Path>{Path(name), attached->value} : std::vector<Path>{};
        std::size_t at = 0;
        std::size_t& index = attached ? at : i;
        switch (parseAnalysisOption(command.options.analysis, name, attached ? pair : arguments,
                                    index, error)) {
            case AnalysisParse::Read:
                return attached && at == 0 ? name + " takes no value" : std::string();
            case AnalysisParse::Error:
                return error;
            case AnalysisParse::NotAnalysis:
                break;
        }
        return "unknown option " + name;
    }
    if (option->valueName.empty()) {
        return attached ? name + " takes no value" : option->apply(command, Path());
    }
    if (attached) {
        return option->apply(command, attached->value);
    }
    if (i + 1 >= arguments.size()) {
        return name + " needs " + std::string(option->valueNoun);
    }
    return option->apply(command, arguments[++i]);
}

// The usage error of options that need or exclude others, or "".
std::string checkCombinations(const Options& options) {
    if (options.force && options.noClobber) {
        return "--force and --no-clobber cannot be combined";
    }
    if (options.force && !options.analysis.summary && options.analysis.report.empty()) {
        return "--force needs --summary or --report";
    }
    return checkAnalysisOptions(options.analysis);
}

}  // namespace

Command parseCommandLine(const std::vector<Path>& arguments) {
    Command command;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const Path& argument = arguments[i];
        const std::string text = toUtf8(pathText(argument));
        if (optionsEnded || text.size() < 2 || text[0] != '-') {
            command.options.arguments.push_back(argument);
            continue;
        }
        if (text == "--") {
            optionsEnded = true;
            continue;
        }
        if (std::string error = readOption(command, arguments, i, text); !error.empty()) {
            return usageError(std::move(error));
        }
        if (command.action != Command::Action::Convert) {
            return command;
        }
    }
    if (command.options.arguments.empty()) {
        return usageError("no log given");
    }
    if (std::string error = checkCombinations(command.options); !error.empty()) {
        return usageError(std::move(error));
    }
    return command;
}

std::string usageText() {
    std::string text =
        "usage: vornakite-convert [OPTION]... LOG|FOLDER...\n"
        "Converts each yield log into " +
        joined(formatList(true, defaultFormat), ", ", " and ") + ",\nor into " +
        joined(formatList(true, requestedFormat), ", ", " or ") +
        " with --format.\n"
        "A FOLDER stands for the .Vornakite, .txt and .csv files in it, in name order.\n";
    for (const OptionSpec& option : kOptions) {
        std::string names(option.shortName);
        if (!option.longName.empty()) {
            names += names.empty() ? "" : ", ";
            names += option.longName;
        }
        if (!option.valueName.empty()) {
            names += " ";
            names += option.valueName;
        }
        text += "  " + names + std::string(names.size() < 17 ? 17 - names.size() : 1, ' ');
        text += option.help;
        text += "\n";
    }
    text += analysisUsageText();
    text +=
        "Exit status: 0 when every log converted, 1 when any log failed, 2 for a usage "
        "error.\n";
    return text;
}

}  // namespace vornakite::cli
