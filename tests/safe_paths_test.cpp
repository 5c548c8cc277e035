// Nothing a user gives is replaced by a batch's outputs: no set replaces a log of the batch, a
// summary or report replaces only an earlier one of its kind, and a walk through folders does
// not take the program's own outputs for logs. Also built with mingw and run under Wine, where
// file identity is the volume serial number and file index.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/report.hpp"
#include "analysis/summary.hpp"
#include "batch.hpp"
#include "os/files.hpp"
#include "own_files.hpp"
#include "read/log_files.hpp"
#include "test_support.hpp"
#include "write/output_set.hpp"

namespace fs = std::filesystem;
using testsupport::oneSampleLog;
using testsupport::readFile;
using testsupport::RecordingSink;
using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::ErrorCode;
using vornakite::OwnFile;
namespace os = vornakite::os;

TEST(FileIdentity, EveryNameOfOneFileGivesOneIdentityAndNoOtherFileDoes) {
    ScratchDir dir;
    writeFile(dir / "a.txt", "same");
    writeFile(dir / "b.txt", "same");
    fs::create_directories(dir / "sub");
    const auto a = os::fileIdentity(dir / "a.txt", true);
    ASSERT_TRUE(a);
    struct Case {
        fs::path path;
        bool followLinks;
        bool same;
    };
    std::vector<Case> cases = {
        {dir / "." / "a.txt", true, true}, {dir / "sub" / ".." / "a.txt", false, true},
        {dir / "b.txt", true, false},      {dir / "sub", true, false},
        {dir.path(), false, false},
#ifdef _WIN32
        {dir / "A.TXT", true, true},
#endif
    };
    std::error_code ec;
    fs::create_hard_link(dir / "a.txt", dir / "sub" / "hard.txt", ec);
    if (!ec) {
        cases.push_back({dir / "sub" / "hard.txt", false, true});
    }
    fs::create_symlink(dir / "a.txt", dir / "link.txt", ec);
    if (!ec) {  // a link is its target only when followed
        cases.push_back({dir / "link.txt", true, true});
        cases.push_back({dir / "link.txt", false, false});
    }
    for (const Case& c : cases) {
        const auto id = os::fileIdentity(c.path, c.followLinks);
        ASSERT_TRUE(id) << c.path.string();
        EXPECT_EQ(*id == *a, c.same) << c.path.string() << " " << c.followLinks;
    }
    EXPECT_FALSE(os::fileIdentity(dir / "missing.txt", true));
}

TEST(LogFiles, AWalkLeavesOutTheOutputFolderAndTheProgramsOwnCsvFiles) {
    ScratchDir dir;
    for (const char* log : {"top/a.txt", "top/Rx/old.txt", "top/sub/b.txt", "top/sub/Rx/c.txt"}) {
        fs::create_directories((dir / log).parent_path());
        writeFile(dir / log, "x");
    }
    writeFile(dir / "top/summary.csv", "set,points,kept,removed,removed_ZERO\r\n");
    writeFile(dir / "top/sub/Set.CSV", "longitude,latitude,Yield_bu,Moist_pct\r\n");
    writeFile(dir / "top/sub/data.csv", "longitude,latitude,Moist_pct\r\n");  // not ours
    writeFile(dir / "top/sub/set.txt", "longitude,latitude,Yield_bu,Moist_pct\r\n");
    const auto walk = [&](const char* top, const fs::path& output) {
        std::vector<std::string> names;
        for (const fs::path& p :
             vornakite::expandLogArguments({dir / top}, true, {output, vornakite::isOwnCsvFile})) {
            names.push_back(p.lexically_relative(dir.path()).generic_string());
        }
        return names;
    };
    const std::vector<std::string> skipped = {"top/a.txt", "top/sub/b.txt", "top/sub/data.csv",
                                              "top/sub/set.txt", "top/sub/Rx/c.txt"};
    EXPECT_EQ(walk("top", dir / "top/Rx"), skipped);
    EXPECT_EQ(walk("top", dir / "top/sub/../Rx"), skipped);  // the same folder, however named
    EXPECT_EQ(
        walk("top", dir / "missing"),
        (std::vector<std::string>{"top/a.txt", "top/Rx/old.txt", "top/sub/b.txt",
                                  "top/sub/data.csv", "top/sub/set.txt", "top/sub/Rx/c.txt"}));
    EXPECT_EQ(walk("top/Rx", dir / "top/Rx"), (std::vector<std::string>{"top/Rx/old.txt"}));
}

TEST(SafeOutputs, NoSetReplacesALogOfTheBatchWhateverTheJobs) {
    ScratchDir dir;
    const fs::path log = dir / "Rx" / "F_G_H.shp";
    fs::create_directories(log.parent_path());
    const std::string bytes = oneSampleLog("F@G@H");
    writeFile(log, bytes);
    writeFile(dir / "other.txt", oneSampleLog("F@G@H"));
    // The log given twice, the second time by another name, then another log of its set.
    const std::vector<fs::path> logs = {log, dir / "Rx" / "." / "F_G_H.shp", dir / "other.txt"};
    const std::vector<std::wstring> each = {
        L"Processing F_G_H.shp...", L"Error: Output would replace a log of this batch",
        L"Processing F_G_H.shp...", L"Processing other.txt...",
        L"Conversion complete: 2/3 files processed successfully. Outputs in Rx."};
    std::vector<std::wstring> merged = {
        L"Processing F_G_H.shp...",
        L"Error: Output would replace a log of this batch",
        L"Processing F_G_H.shp...",
        L"Error: Output would replace a log of this batch",
        L"Processing other.txt...",
        L"Error: Output would replace a log of this batch",
        L"Conversion complete: 0/3 files processed successfully. Outputs in Rx."};
    for (const bool merge : {false, true}) {
        for (const unsigned jobs : {1u, 3u}) {
            for (int run = 0; run < 5; ++run) {
                vornakite::BatchOptions options;
                options.jobs = jobs;
                options.merge = merge;
                RecordingSink sink;
                std::vector<ErrorCode> codes;
                vornakite::runConversionBatch(
                    logs, dir / "Rx", L"Rx", sink,
                    [&](std::size_t, const vornakite::LogOutcome& o) {
                        codes.push_back(o.errorCode);
                    },
                    nullptr, options);
                EXPECT_EQ(sink.lines, merge ? merged : each) << jobs;
                EXPECT_EQ(codes.front(), ErrorCode::outputIsLog);
                EXPECT_EQ(readFile(log), bytes);
            }
        }
    }
}

TEST(OwnFiles, EachWriterBeginsWithItsMarker) {
    std::ostringstream summary;
    vornakite::analysis::writeSummaryCsv(summary, {});
    EXPECT_TRUE(summary.str().starts_with(vornakite::kSummaryMarker));
    std::ostringstream page;
    vornakite::analysis::HtmlReport report(page);
    report.finish();
    EXPECT_NE(page.str().substr(0, vornakite::kReportMarkerReach).find(vornakite::kReportMarker),
              std::string::npos);
    ScratchDir dir;
    {
        vornakite::OutputTransaction transaction(dir.path(), nullptr);
        vornakite::PointSetWriter writer(transaction, {{false, false, true}}, {{}, {}, true});
        writer.finish();
        transaction.commit(dir / "set");
    }
    EXPECT_TRUE(readFile(dir / "set.csv").starts_with(vornakite::kCsvMarker));
}

TEST(OwnFiles, ASummaryOrReportReplacesOnlyAnEarlierOneUnlessForcedAndNothingWithNoClobber) {
    const std::string report = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n" +
                               std::string(vornakite::kReportMarker) + "\n";
    const std::string summary = "set,points,kept,removed,removed_ZERO\r\n";
    const struct {
        OwnFile kind;
        const char* earlier;  // what is at the name before
        bool force;
        bool noClobber;
        ErrorCode expected;
    } cases[] = {
        {OwnFile::report, report.c_str(), false, false, ErrorCode::none},
        {OwnFile::report, summary.c_str(), false, false, ErrorCode::notReplaced},
        {OwnFile::report, "<html><head><title>mine</title>", false, false, ErrorCode::notReplaced},
        {OwnFile::report, "", false, false, ErrorCode::notReplaced},
        {OwnFile::report, "<html>", true, false, ErrorCode::none},
        {OwnFile::report, report.c_str(), false, true, ErrorCode::outputExists},
        {OwnFile::summary, summary.c_str(), false, false, ErrorCode::none},
        {OwnFile::summary, "set,points,kept\r\n", false, false, ErrorCode::notReplaced},
        {OwnFile::summary, report.c_str(), false, false, ErrorCode::notReplaced},
        {OwnFile::summary, "longitude,latitude,Yield_bu,", false, false, ErrorCode::notReplaced},
        {OwnFile::summary, "a,b\r\n", true, false, ErrorCode::none},
        {OwnFile::summary, summary.c_str(), false, true, ErrorCode::outputExists},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        const fs::path target = dir / "out";
        writeFile(target, c.earlier);
        ErrorCode got = ErrorCode::none;
        try {
            vornakite::OutputTransaction transaction(dir.path(), nullptr);
            transaction.add(L"", vornakite::kSideFileMessages);
            transaction.open();
            transaction.write(0, "new", 3);
            transaction.commit(target, true, vornakite::ownFileCheck(c.kind, c.force, c.noClobber));
        } catch (const vornakite::ConversionError& e) {
            got = e.code();
        }
        EXPECT_EQ(got, c.expected) << c.earlier << " " << c.force << c.noClobber;
        EXPECT_EQ(readFile(target), got == ErrorCode::none ? "new" : c.earlier);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    }
    // A link at the name is not an earlier file of ours, whatever it leads to.
    ScratchDir dir;
    writeFile(dir / "earlier", summary);
    std::error_code ec;
    fs::create_symlink(dir / "earlier", dir / "link", ec);
    if (!ec) {
        EXPECT_FALSE(vornakite::isOwnFile(dir / "link", OwnFile::summary));
        EXPECT_TRUE(vornakite::isOwnFile(dir / "earlier", OwnFile::summary));
    }
}
