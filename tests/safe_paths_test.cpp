// No set replaces a log of its batch, and a summary or report replaces only an earlier one of its
// kind. Also run under Wine, where a file's identity is its volume serial number and file index.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "analysis/report.hpp"
#include "analysis/summary.hpp"
#include "batch.hpp"
#include "own_files.hpp"
#include "test_support.hpp"
#include "write/output_set.hpp"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::ErrorCode;
using vornakite::OwnFile;

TEST(FileIdentity, EveryNameOfOneFileGivesOneIdentityAndNoOtherFileDoes) {
    ScratchDir dir;
    writeFile(dir / "a.txt", "same");
    writeFile(dir / "b.txt", "same");
    std::error_code noHardLinks, noLinks;
    fs::create_hard_link(dir / "a.txt", dir / "hard.txt", noHardLinks);
    fs::create_symlink(dir / "a.txt", dir / "link.txt", noLinks);
    const auto a = vornakite::os::fileIdentity(dir / "a.txt", true);
    // path, links followed, the same file as a.txt
    const std::tuple<fs::path, bool, bool> cases[] = {
        {dir / "." / "a.txt", false, true},
        {dir / "A.TXT", true, fs::exists(dir / "A.TXT")},
        {dir / "b.txt", true, false},
        {dir.path(), true, false},
        {dir / "hard.txt", false, !noHardLinks},
        {dir / "link.txt", true, !noLinks},
        {dir / "link.txt", false, false}};
    for (const auto& [path, follow, same] : cases) {
        EXPECT_EQ(vornakite::os::fileIdentity(path, follow) == a, same) << path.string() << follow;
    }
    EXPECT_FALSE(vornakite::os::fileIdentity(dir / "missing.txt", true));
}

TEST(SafeOutputs, NoSetReplacesALogOfTheBatchWhateverTheJobs) {
    ScratchDir dir;
    const fs::path log = dir / "Rx" / "F_G_H.shp";
    fs::create_directories(log.parent_path());
    writeFile(log, testsupport::oneSampleLog("F@G@H"));
    writeFile(dir / "other.txt", testsupport::oneSampleLog("F@G@H"));
    // The log given twice, the second time by another name, then another log of its set.
    const std::vector<fs::path> logs = {log, dir / "Rx" / "." / "F_G_H.shp", dir / "other.txt"};
    const std::wstring processing = L"Processing F_G_H.shp...";
    const std::wstring refused = L"Error: Output would replace a log of this batch";
    for (const bool merge : {false, true}) {
        for (const unsigned jobs : {1u, std::max(2u, std::thread::hardware_concurrency())}) {
            for (int run = 0; run < 20; ++run) {
                vornakite::BatchOptions options;
                options.jobs = jobs;
                options.merge = merge;
                testsupport::RecordingSink sink;
                ErrorCode first = ErrorCode::none;
                vornakite::runConversionBatch(
                    logs, dir / "Rx", L"Rx", sink,
                    [&](std::size_t k, const vornakite::LogOutcome& o) {
                        first = k == 0 ? o.errorCode : first;
                    },
                    nullptr, options);
                EXPECT_EQ(first, ErrorCode::outputIsLog);
                const std::vector<std::wstring> expected =
                    merge ? std::vector<std::wstring>{processing,
                                                      refused,
                                                      processing,
                                                      refused,
                                                      L"Processing other.txt...",
                                                      refused}
                          : std::vector<std::wstring>{processing, refused, processing,
                                                      L"Processing other.txt..."};
                EXPECT_EQ(std::vector<std::wstring>(sink.lines.begin(), sink.lines.end() - 1),
                          expected)
                    << jobs;
                EXPECT_EQ(readFile(log), testsupport::oneSampleLog("F@G@H"));
            }
        }
    }
}

TEST(OwnFiles, EachWriterBeginsWithItsMarkerAndReplacesOnlyAnEarlierFileOfItsKind) {
    std::ostringstream summary, page;
    vornakite::analysis::writeSummaryCsv(summary, {});
    vornakite::analysis::HtmlReport(page).finish();
    ScratchDir dir;
    vornakite::OutputTransaction csv(dir.path(), nullptr);
    vornakite::PointSetWriter(csv, {{false, false, true}}, {{}, {}, true}).finish();
    csv.commit(dir / "set");
    const std::string report = page.str().substr(0, vornakite::kReportMarkerReach);
    ASSERT_NE(report.find(vornakite::kReportMarker), std::string::npos);
    ASSERT_TRUE(summary.str().starts_with(vornakite::kSummaryMarker));
    ASSERT_TRUE(readFile(dir / "set.csv").starts_with(vornakite::kCsvMarker));
    const std::string foreign = "notes";
    // the kind, what is at its name, force, no-clobber, the refusal
    const std::tuple<OwnFile, std::string, bool, bool, ErrorCode> cases[] = {
        {OwnFile::report, report, false, false, ErrorCode::none},
        {OwnFile::report, summary.str(), false, false, ErrorCode::notReplaced},
        {OwnFile::report, foreign, false, false, ErrorCode::notReplaced},
        {OwnFile::report, foreign, true, false, ErrorCode::none},
        {OwnFile::report, report, false, true, ErrorCode::outputExists},
        {OwnFile::summary, summary.str(), false, false, ErrorCode::none},
        {OwnFile::summary, "set,points,kept\r\n", false, false, ErrorCode::notReplaced},
        {OwnFile::summary, readFile(dir / "set.csv"), false, false, ErrorCode::notReplaced},
        {OwnFile::summary, "", true, false, ErrorCode::none},
        {OwnFile::summary, summary.str(), false, true, ErrorCode::outputExists}};
    for (const auto& [kind, earlier, force, noClobber, refusal] : cases) {
        writeFile(dir / "out", earlier);
        ErrorCode got = ErrorCode::none;
        try {
            vornakite::OutputTransaction transaction(dir.path(), nullptr);
            transaction.add(L"", vornakite::kSideFileMessages);
            transaction.open();
            transaction.write(0, "new", 3);
            transaction.commit(dir / "out", true, ownFileCheck(kind, force, noClobber));
        } catch (const vornakite::ConversionError& e) {
            got = e.code();
        }
        EXPECT_EQ(got, refusal) << earlier.substr(0, 20) << force << noClobber;
        EXPECT_EQ(readFile(dir / "out"), got == ErrorCode::none ? "new" : earlier);
    }
    std::error_code noLinks;  // a link is no earlier file, whatever it leads to
    fs::create_symlink(dir / "set.csv", dir / "link.csv", noLinks);
    EXPECT_EQ(vornakite::isOwnCsvFile(dir / "link.csv"), false);
    EXPECT_EQ(vornakite::isOwnCsvFile(dir / "set.csv"), true);
}
