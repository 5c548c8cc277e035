#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "analysis_options.hpp"
#include "json.hpp"
#include "options.hpp"
#include "test_support.hpp"
#include "wildcards.hpp"

namespace fs = std::filesystem;
using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::cli::cleaningHelp;
using vornakite::cli::expandWildcards;
using vornakite::cli::matchesWildcard;
using vornakite::cli::setThreshold;

namespace {

fs::path::string_type native(const char* text) {
    return fs::path(text).native();
}

// `dir` followed by `rest` exactly as typed (no separator added or changed).
fs::path typed(const ScratchDir& dir, const char* rest) {
    return fs::path(dir.path().native() + native(rest));
}

}  // namespace

TEST(Wildcards, MatchStarsAndQuestionMarksIgnoringCase) {
    const struct {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"a.txt", "*.txt", true},
        {"A.TXT", "*.txt", true},
        {"a.txtx", "*.txt", false},
        {"a.txt.bak", "*.txt", false},
        {"a.txt", "?.txt", true},
        {"ab.txt", "?.txt", false},
        {".txt", "?.txt", false},
        {"2026-10-01.Vornakite", "2026-10-0?.vornakite", true},
        {"a.b.c", "*.c", true},
        {"abc", "a*b*c", true},
        {"aXbXbc", "a*b*c", true},
        {"ac", "a*b*c", false},
        {"", "*", true},
        {"", "", true},
        {"x", "", false},
        {"x", "**", true},
        {"readme", "*.*", true},
        {"read.me", "*.*", true},
        {"log", "log.*", true},
        {"log.txt", "log.*", true},
        {"logx", "log.*", false},
        {"a.b", "a.*", true},
        {"plain", "plain", true},
        {"PLAIN", "plain", true},
        {"plain", "plan", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matchesWildcard(native(c.name), native(c.pattern)), c.matches)
            << c.name << " / " << c.pattern;
    }
#ifdef _WIN32
    // Windows file names ignore the case of every letter, not only ASCII ones.
    EXPECT_TRUE(matchesWildcard(L"M\u00dcLLER.txt", L"m\u00fcller*"));
#endif
}

TEST(Wildcards, ExpandToExistingPathsInNameOrderComponentByComponent) {
    ScratchDir dir;
    for (const char* name : {"logs/b.txt", "logs/A.txt", "logs/c.csv", "logs/sub1/x.txt",
                             "logs/Sub2/y.txt", "logs/sub3", "logs/sub4/z.csv"}) {
        fs::create_directories((dir / name).parent_path());
        writeFile(dir / name, "x");
    }
    const struct {
        const char* argument;
        std::vector<const char*> expected;
    } cases[] = {
        {"/logs/*.txt", {"/logs/A.txt", "/logs/b.txt"}},
        {"/logs/?.*", {"/logs/A.txt", "/logs/b.txt", "/logs/c.csv"}},
        {"/logs/sub*/*.txt", {"/logs/sub1/x.txt", "/logs/Sub2/y.txt"}},
        {"/logs/SUB*/", {"/logs/sub1/", "/logs/Sub2/", "/logs/sub4/"}},
        {"/logs/*/X.TXT", {"/logs/sub1/x.txt"}},
        {"/lo?s//sub4/*", {"/logs//sub4/z.csv"}},
        {"/logs/*/../b.txt", {"/logs/sub1/../b.txt", "/logs/Sub2/../b.txt", "/logs/sub4/../b.txt"}},
        {"/logs/*.none", {"/logs/*.none"}},
        {"/missing/*.txt", {"/missing/*.txt"}},
        {"/logs/sub3/*", {"/logs/sub3/*"}},
        {"/logs/b.txt", {"/logs/b.txt"}},
        {"/logs/nothing.txt", {"/logs/nothing.txt"}},
    };
    for (const auto& c : cases) {
        std::vector<fs::path> expected;
        for (const char* path : c.expected) {
            expected.push_back(typed(dir, path));
        }
        EXPECT_EQ(expandWildcards(typed(dir, c.argument)), expected) << c.argument;
    }

    // Relative to the current folder, the matches stay relative.
    const fs::path before = fs::current_path();
    fs::current_path(dir / "logs");
    const auto relative = expandWildcards("*.csv");
    const auto deeper = expandWildcards("sub?/*.csv");
    fs::current_path(before);
    EXPECT_EQ(relative, std::vector<fs::path>{"c.csv"});
    EXPECT_EQ(deeper, std::vector<fs::path>{"sub4/z.csv"});
}

#ifdef _WIN32
TEST(Wildcards, OnWindowsBackslashesSeparateAndTheLongPathPrefixIsNoWildcard) {
    ScratchDir dir;
    fs::create_directories(dir / "logs");
    writeFile(dir / "logs" / "a.txt", "x");
    writeFile(dir / "logs" / "b.csv", "x");
    const std::wstring base = fs::absolute(dir.path()).native();
    EXPECT_EQ(expandWildcards(base + L"\\logs\\*.txt"),
              std::vector<fs::path>{base + L"\\logs\\a.txt"});
    EXPECT_EQ(expandWildcards(L"\\\\?\\" + base + L"\\logs\\?.csv"),
              std::vector<fs::path>{L"\\\\?\\" + base + L"\\logs\\b.csv"});
    EXPECT_EQ(expandWildcards(L"\\\\?\\" + base + L"\\logs\\a.txt"),
              std::vector<fs::path>{L"\\\\?\\" + base + L"\\logs\\a.txt"});
    // "C:*.txt" is the current folder of drive C.
    const fs::path before = fs::current_path();
    fs::current_path(dir / "logs");
    const std::wstring drive = base.substr(0, 2);
    const auto onDrive = expandWildcards(drive + L"*.csv");
    fs::current_path(before);
    EXPECT_EQ(onDrive, std::vector<fs::path>{drive + L"b.csv"});
}
#endif

TEST(Json, WideTextEscapesWhatJsonAndOneLinePerObjectNeedAndKeepsLoneSurrogates) {
    const struct {
        std::wstring text;
        std::string json;
    } cases[] = {
        {L"plain", "\"plain\""},
        {L"quote\" back\\slash /", "\"quote\\\" back\\\\slash /\""},
        {L"\n\r\t\b\f\x01\x1f", "\"\\n\\r\\t\\b\\f\\u0001\\u001f\""},
        {L"\x7f\x85\x9f\xa0", "\"\\u007f\\u0085\\u009f\xc2\xa0\""},
        {L"line\u2028para\u2029", "\"line\\u2028para\\u2029\""},
        {L"S\u00fcd \u5317",
         "\"S\xc3\xbc"
         "d \xe5\x8c\x97\""},
        {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x", "\"\\ud800x\""},
        {L"x" + std::wstring(1, static_cast<wchar_t>(0xDC80)), "\"x\\udc80\""},
    };
    for (const auto& c : cases) {
        std::string out;
        vornakite::cli::appendJsonString(out, c.text);
        EXPECT_EQ(out, c.json);
    }
    if constexpr (sizeof(wchar_t) == 2) {
        std::string out;
        vornakite::cli::appendJsonString(out, std::wstring{wchar_t(0xD83C), wchar_t(0xDF3D)});
        EXPECT_EQ(out, "\"\xf0\x9f\x8c\xbd\"");  // a pair is one character
    }
}

// Every entry of the formats table is a --format name, in any letter case, and --help names it
// with its files.
TEST(Options, FormatsComeFromTheTable) {
    const std::string usage = vornakite::cli::usageText();
    for (std::size_t i = 0; i < vornakite::kOutputFormats.size(); ++i) {
        const vornakite::OutputFormat& format = vornakite::kOutputFormats[i];
        std::string upper(format.name);
        for (char& c : upper) {
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
        const auto command = vornakite::cli::parseCommandLine({"--format", upper, "a.txt"});
        ASSERT_EQ(command.action, vornakite::cli::Command::Action::Convert) << command.error;
        vornakite::OutputFormats only;
        only.written.fill(false);
        only.written[i] = true;
        EXPECT_EQ(command.options.formats, only) << format.name;
        EXPECT_NE(
            usage.find(std::string(format.help) + " (" + std::string(format.extensions) + ")"),
            std::string::npos);
    }
}

// A value in the same argument as its option ("--jobs=2", "-j2") reads as one in the next; an
// option that takes none refuses one.
TEST(Options, TakeTheirValueInTheSameArgumentToo) {
    using Args = std::vector<fs::path>;
    const std::pair<Args, Args> same[] = {
        {{"-j1", "a"}, {"-j", "1", "a"}},
        {{"--jobs=2", "--format=csv,GeoJSON", "a"},
         {"--jobs", "2", "--format", "csv,GeoJSON", "a"}},
        {{"-oout=1", "--report=r=1.html", "a"}, {"-o", "out=1", "--report", "r=1.html", "a"}},
        {{"--clean", "--jump-m=20", "--", "--jobs=1"},
         {"--clean", "--jump-m", "20", "--", "--jobs=1"}}};
    using vornakite::cli::parseCommandLine;
    for (const auto& [attached, separate] : same) {
        const auto got = parseCommandLine(attached), want = parseCommandLine(separate);
        ASSERT_EQ(got.action, vornakite::cli::Command::Action::Convert) << got.error;
        EXPECT_EQ(std::tie(got.options.jobs, got.options.formats, got.options.outputFolder,
                           got.options.analysis.report, got.options.arguments),
                  std::tie(want.options.jobs, want.options.formats, want.options.outputFolder,
                           want.options.analysis.report, want.options.arguments));
        EXPECT_EQ(got.options.analysis.filters.jumpMetres,
                  want.options.analysis.filters.jumpMetres);
    }
    const std::pair<Args, const char*> refused[] = {
        {{"a", "--merge=1"}, "--merge takes no value"},
        {{"--summary=yes", "a"}, "--summary takes no value"},
        {{"-j=1", "a"}, "-j needs a number of logs from 1 to 1024, not =1"},
        {{"--force", "a"}, "--force needs --summary or --report"},
        {{"--force", "--summary", "--no-clobber", "a"},
         "--force and --no-clobber cannot be combined"}};
    for (const auto& [args, error] : refused) {
        EXPECT_EQ(parseCommandLine(args).error, error);
    }
}

TEST(CleaningOptions, RejectsUnknownNamesAndBadValues) {
    vornakite::analysis::CleaningOptions o;
    const struct {
        const char* option;
        const char* value;
        const char* message;
    } cases[] = {{"no-such", "1", "Unknown cleaning option"},
                 {"jump-m", "abc", "Invalid threshold value"},
                 {"jump-m", "-2", "Invalid threshold value"},
                 {"jump-m", "nan", "Invalid threshold value"},
                 {"jump-m", "", "Invalid threshold value"},
                 {"ramp-fraction", "1.5", "Invalid threshold value"},
                 {"ramp-samples", "1001", "Invalid threshold value"}};
    for (const auto& c : cases) {
        try {
            setThreshold(o, c.option, c.value);
            ADD_FAILURE() << c.option << "=" << c.value;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), c.message) << c.option << "=" << c.value;
        }
    }
    // Plain decimals whatever the locale; a comma is no decimal mark.
    for (const char* text : {"2.5", "+2.5", "25e-1"}) {
        setThreshold(o, "jump-m", text);
        EXPECT_EQ(o.jumpMetres, 2.5) << text;
    }
    EXPECT_THROW(setThreshold(o, "jump-m", "2,5"), std::invalid_argument);
}

TEST(CleaningTables, HelpListsEveryFilterAndOption) {
    const std::string help = cleaningHelp();
    for (const vornakite::analysis::FilterInfo& f : vornakite::analysis::kFilterInfo) {
        EXPECT_NE(help.find("  " + std::string(f.code) + " "), std::string::npos) << f.code;
    }
    for (const vornakite::analysis::ThresholdInfo& t : vornakite::analysis::kThresholdInfo) {
        EXPECT_NE(help.find("--" + std::string(t.option) + " "), std::string::npos) << t.option;
    }
    EXPECT_EQ(help.back(), '\n');
    for (std::size_t start = 0, end; start < help.size(); start = end + 1) {
        end = help.find('\n', start);
        EXPECT_LE(end - start, 100u) << help.substr(start, end - start);
    }
}
