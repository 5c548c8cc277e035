// The command line of vornakite-convert: its options, their help text, and parsing.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "analysis_options.hpp"
#include "write/output_set.hpp"

namespace vornakite::cli {

// How the batch is reported on standard output.
enum class Report {
    Lines,  // every line the desktop program shows in its log pane
    Quiet,  // error lines and the summary line only
    Json,   // one JSON object per log, then one for the batch
};

struct Options {
    std::filesystem::path outputFolder;  // empty: Rx under the current directory
    bool recursive = false;
    Report report = Report::Lines;
    unsigned jobs = 0;  // logs converted at once; 0: as many as the machine has cores
    OutputFormats formats;
    bool merge = false;
    bool noClobber = false;
    bool force = false;  // a summary or report replaces a file this program did not write
    std::vector<std::filesystem::path> arguments;  // logs and folders, as given
    AnalysisOptions analysis;                      // --clean, --summary, --report and filters
};

struct Command {
    enum class Action { Convert, Help, Version, UsageError };
    Action action = Action::Convert;
    Options options;
    std::string error;  // what is wrong with a command line that is a usage error
};

// Reads the arguments that follow the program name. Options may stand anywhere before "--";
// "--help" and "--version" end the reading at once.
Command parseCommandLine(const std::vector<std::filesystem::path>& arguments);

// The text of --help: synopsis, every option, the exit statuses.
std::string usageText();

}  // namespace vornakite::cli
