// vornakite-convert: converts yield-monitor logs into point shapefile sets from the command line,
// printing the same lines the desktop program shows in its log pane (or, when asked, only the
// errors, or JSON for scripts).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "analysis_sink.hpp"
#include "batch.hpp"
#include "console.hpp"
#include "options.hpp"
#include "os/memory.hpp"
#include "output_paths.hpp"
#include "own_files.hpp"
#include "read/log_files.hpp"
#include "report.hpp"
#include "text/text.hpp"
#include "wildcards.hpp"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#ifndef VORNAKITE_VERSION
#define VORNAKITE_VERSION "0.0.0"
#endif

namespace {

using namespace vornakite::cli;
using vornakite::pathText;
using vornakite::toUtf8;

int usageError(const std::string& message) {
    TextOutput(stderr).write("vornakite-convert: " + message + "\n" + usageText());
    return 2;
}

// The logs the arguments stand for: on Windows wildcards expanded first (no shell does it
// there), then folders, whose walk leaves out the output folder and the CSV files this program
// wrote.
std::vector<std::filesystem::path> logsOf(const Options& options,
                                          const std::filesystem::path& outputFolder) {
    const vornakite::WalkSkips skips{outputFolder, vornakite::isOwnCsvFile};
#ifdef _WIN32
    std::vector<std::filesystem::path> expanded;
    for (const std::filesystem::path& argument : options.arguments) {
        for (std::filesystem::path& match : expandWildcards(argument)) {
            expanded.push_back(std::move(match));
        }
    }
    return vornakite::expandLogArguments(expanded, options.recursive, skips);
#else
    return vornakite::expandLogArguments(options.arguments, options.recursive, skips);
#endif
}

int convert(const Options& options) {
    std::filesystem::path outputFolder = options.outputFolder;
    std::wstring folderLabel = pathText(outputFolder);
    if (outputFolder.empty()) {
        std::error_code ec;
        const auto cwd = std::filesystem::current_path(ec);
        if (ec) {
            TextOutput(stderr).write(
                "vornakite-convert: cannot read the current directory: " + ec.message() + "\n");
            return 1;
        }
        outputFolder = cwd / "Rx";
        folderLabel = L"Rx";
    }
    const std::vector<std::filesystem::path> logs = logsOf(options, outputFolder);
    const std::filesystem::path shownFolder =
        options.outputFolder.empty() ? std::filesystem::path("Rx") : options.outputFolder;
    if (const std::string refused =
            refusedAnalysisPath(options, logs, outputFolder, shownFolder / "summary.csv");
        !refused.empty()) {
        return usageError(refused);
    }
    vornakite::BatchOptions batch;
    batch.merge = options.merge;
    batch.jobs =
        options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    TextOutput out(stdout);
    BatchReport report(options.report, out, logs, outputFolder);
    // The cleaning, the summary and the report, when asked for.
    const AnalysisOptions& analysis = options.analysis;
    const bool json = options.report == Report::Json;
    const bool analysing = analysis.clean || analysis.summary || !analysis.report.empty() ||
                           analysis.field.gridCellMetres > 0.0;
    if (json && (analysing || options.merge)) {
        const bool clean = analysis.clean;
        report.logFields = [clean](const vornakite::LogOutcome& outcome) {
            return (clean ? cleaningJsonFields(outcome) : std::string()) +
                   warningJsonFields(outcome) + outOfMemoryJsonFields(outcome);
        };
    }
    vornakite::AnalysisOutputs outputs(
        {analysis.summary, analysis.report, options.force, options.noClobber}, outputFolder);
    AnalysisSink analysisSink(report, outputs, options.report, shownFolder);
    const bool analysisOutputs = outputs.summary().wanted || outputs.report().wanted;
    vornakite::ConversionOptions& conversion = batch.conversion;
    conversion = conversionOptions(analysis, json);
    conversion.formats = options.formats;
    conversion.noClobber = options.noClobber;
    if (analysisOutputs) {
        conversion.whileWriting = [&outputs](const std::filesystem::path& basePath,
                                             const vornakite::AnalysedLog& log,
                                             const std::function<void()>& awaitNumbers) {
            outputs.prepare(basePath, log, awaitNumbers);
        };
    }
    bool outOfMemory = false;  // some log's analysis was given up
    const int converted = vornakite::runConversionBatch(
        logs, outputFolder, folderLabel,
        analysisOutputs ? static_cast<vornakite::ProgressSink&>(analysisSink) : report,
        [&](std::size_t index, const vornakite::LogOutcome& outcome) {
            outOfMemory = outOfMemory || outcome.analysisOutOfMemory;
            report.logDone(index, outcome);
            outputs.logDone(outcome);
        },
        nullptr, batch);
    const bool whole = converted == static_cast<int>(logs.size()) && !outputs.failed() &&
                       !outOfMemory && !outputs.outOfMemory();
    return whole ? 0 : 1;
}

template <typename Char>
int run(int argc, Char** argv) {
    vornakite::os::keepFreedMemoryForReuse();
    const std::vector<std::filesystem::path> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const Command command = parseCommandLine(arguments);
    switch (command.action) {
        case Command::Action::Help:
            TextOutput(stdout).write(usageText());
            return 0;
        case Command::Action::Version:
            TextOutput(stdout).write("vornakite-convert " VORNAKITE_VERSION "\n");
            return 0;
        case Command::Action::UsageError:
            return usageError(command.error);
        case Command::Action::Convert:
            break;
    }
    return convert(command.options);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    return run(argc, argv);
}
#else
int main(int argc, char** argv) {
    return run(argc, argv);
}
#endif
