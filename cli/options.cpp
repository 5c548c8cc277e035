#include "options.hpp"

#include <array>
#include <string_view>

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

// In the order --help lists them.
constexpr std::array<OptionSpec, 6> kOptions{{
    {"-o", "", "DIR", "a folder", "write the outputs into DIR (default: ./Rx)",
     [](Command& command, const Path& value) -> std::string {
         if (value.empty()) {
             return "-o needs a folder, not an empty name";
         }
         command.options.outputFolder = value;
         return {};
     }},
    {"-r", "--recursive", "", "", "take the logs in the subfolders of a FOLDER too, depth first",
     [](Command& command, const Path&) -> std::string {
         command.options.recursive = true;
         return {};
     }},
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
        const OptionSpec* option = findOption(text);
        if (option == nullptr) {
            std::string error;
            switch (parseAnalysisOption(command.options.analysis, text, arguments, i, error)) {
                case AnalysisParse::Read:
                    continue;
                case AnalysisParse::Error:
                    return usageError(std::move(error));
                case AnalysisParse::NotAnalysis:
                    break;
            }
            return usageError("unknown option " + text);
        }
        Path value;
        if (!option->valueName.empty()) {
            if (i + 1 >= arguments.size()) {
                return usageError(text + " needs " + std::string(option->valueNoun));
            }
            value = arguments[++i];
        }
        if (std::string error = option->apply(command, value); !error.empty()) {
            return usageError(std::move(error));
        }
        if (command.action != Command::Action::Convert) {
            return command;
        }
    }
    if (command.options.arguments.empty()) {
        return usageError("no log given");
    }
    if (std::string error = checkAnalysisOptions(command.options.analysis); !error.empty()) {
        return usageError(std::move(error));
    }
    return command;
}

std::string usageText() {
    std::string text =
        "usage: vornakite-convert [OPTION]... LOG|FOLDER...\n"
        "Converts each yield log into a point shapefile set (.shp .shx .dbf .prj .cpg).\n"
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
