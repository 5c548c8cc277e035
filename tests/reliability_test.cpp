// What the user is promised whatever the logs and the disk are like: every
// failure is one "Error: " line, the batch goes on, and nothing else breaks.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "batch.hpp"
#include "convert.hpp"
#include "read/yield_log.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::RecordingSink;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

const std::string kSample = "DY@45@x@x@123456@153@1875@415000000@-975000000@a@b@c@d@e@562@z\r\n";

std::string logNamed(const std::string& crop) {
    return "VK@1@2@3@4@5@Farm@Field@" + crop + "\r\n" + kSample;
}

const std::wstring summaryOneOfTwo =
    L"Conversion complete: 1/2 files processed successfully. Outputs in Rx.";

}  // namespace

TEST(Reliability, EachFailureIsOneErrorLineAndTheNextLogStillConverts) {
    struct Case {
        const char* what;
        std::function<fs::path(const ScratchDir&)> prepareBadLog;  // returns its path
        std::wstring message;
    };
    const std::vector<Case> cases = {
        {"log path is a folder",
         [](const ScratchDir& dir) {
             fs::create_directories(dir / "folder.Vornakite");
             return dir / "folder.Vornakite";
         },
         L"Error: Cannot open file"},
        {"log deleted after it was selected",
         [](const ScratchDir& dir) {
             writeFile(dir / "gone.Vornakite", logNamed("Gone"));
             fs::remove(dir / "gone.Vornakite");
             return dir / "gone.Vornakite";
         },
         L"Error: Cannot open file"},
        {"cut-off file: header only",
         [](const ScratchDir& dir) {
             writeFile(dir / "cut.Vornakite", "VK@1@2@3@4@5@Farm@Field@Cut\r\nDY@45@x");
             return dir / "cut.Vornakite";
         },
         L"Error: No yield data (DY) lines found"},
        {"binary junk",
         [](const ScratchDir& dir) {
             writeFile(dir / "junk.Vornakite", std::string("\x7f"
                                                           "ELF\x02\x01\x01\0\0\0",
                                                           10));
             return dir / "junk.Vornakite";
         },
         L"Error: Invalid header format"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        const fs::path bad = c.prepareBadLog(dir);
        writeFile(dir / "good.Vornakite", logNamed("Good"));
        RecordingSink sink;
        EXPECT_EQ(
            vornakite::runConversionBatch({bad, dir / "good.Vornakite"}, dir / "Rx", L"Rx", sink),
            1);
        ASSERT_EQ(sink.lines.size(), 4u);
        EXPECT_EQ(sink.lines[1], c.message);
        EXPECT_EQ(sink.lines[2], L"Processing good.Vornakite...");
        EXPECT_EQ(sink.lines[3], summaryOneOfTwo);
        EXPECT_EQ(fs::file_size(dir / "Rx" / "Farm_Field_Good.shp"), 128u);
    }
}

TEST(Reliability, AnOutputThatCannotBeOpenedFailsOnlyItsLog) {
    for (const char* extension : {".shp", ".shx", ".dbf", ".prj", ".cpg"}) {
        SCOPED_TRACE(extension);
        ScratchDir dir;
        // Root ignores permission bits, so a folder of the output's name is in the way.
        fs::create_directories(dir / "Rx" / (std::string("Farm_Field_Bad") + extension));
        writeFile(dir / "bad.Vornakite", logNamed("Bad"));
        writeFile(dir / "good.Vornakite", logNamed("Good"));
        RecordingSink sink;
        vornakite::runConversionBatch({dir / "bad.Vornakite", dir / "good.Vornakite"}, dir / "Rx",
                                      L"Rx", sink);
        ASSERT_EQ(sink.lines.size(), 4u);
        const bool sideFile = extension == std::string(".prj") || extension == std::string(".cpg");
        EXPECT_EQ(sink.lines[1], sideFile ? L"Error: Failed to write projection or code page file"
                                          : L"Error: Failed to create shapefile outputs");
        EXPECT_EQ(sink.lines[3], summaryOneOfTwo);
        EXPECT_TRUE(fs::is_regular_file(dir / "Rx" / "Farm_Field_Good.cpg"));
    }
}

TEST(Reliability, AnOutputFolderThatIsAFileFailsEveryLogWithTheReason) {
    ScratchDir dir;
    writeFile(dir / "Rx", "not a folder");
    writeFile(dir / "a.Vornakite", logNamed("A"));
    writeFile(dir / "b.Vornakite", logNamed("B"));
    RecordingSink sink;
    EXPECT_EQ(vornakite::runConversionBatch({dir / "a.Vornakite", dir / "b.Vornakite"}, dir / "Rx",
                                            L"Rx", sink),
              0);
    ASSERT_EQ(sink.lines.size(), 5u);
    for (std::size_t i : {1u, 3u}) {
        EXPECT_EQ(sink.lines[i].rfind(L"Error: create_directories: ", 0), 0u);
    }
    EXPECT_EQ(readFile(dir / "Rx"), "not a folder");
}

TEST(Reliability, NulAndInvalidUtf8InEveryKindOfFieldAreHandledByTheRules) {
    ScratchDir dir;
    using namespace std::string_literals;
    // Header names with NUL and broken UTF-8; a tag and unused fields of junk; numbers
    // that end at a NUL (as strtod reads them) or carry bytes after them.
    const std::string log = "VK\xff@1@2\0@3@4@5@Fa\0rm@\xc3(@\xed\xa0\x80z\r\n"s +
                            "DY\xfe@45\0"
                            "9@\xff@\0@123456@153@1875\xc3@415000000\0"
                            "1@"s +
                            "-975000000@\x80@b@c@d@e@562\xff@\0z\r\n"s + "DY\0short\r\n"s;
    writeFile(dir / "odd.Vornakite", log);
    const vornakite::YieldLog read = vornakite::readYieldLog(dir / "odd.Vornakite");
    ASSERT_EQ(read.points.size(), 1u);
    EXPECT_EQ(read.header.field6, "Fa\0rm"s);
    EXPECT_EQ(read.points[0].speed, 4.5);
    EXPECT_EQ(read.points[0].yield, 187.5);
    EXPECT_EQ(read.points[0].latitude, 41.5);
    EXPECT_EQ(read.points[0].density, 56.2);

    RecordingSink sink;
    vornakite::BatchContext batch;
    EXPECT_TRUE(vornakite::convertFile(dir / "odd.Vornakite", dir / "Rx", sink, batch));
    // Every byte outside the safe set becomes one '_'; leading ones are dropped.
    EXPECT_TRUE(fs::is_regular_file(dir / "Rx" / "Fa_rm_______z.dbf"));
}

TEST(Reliability, LongAndNonAsciiPathsConvert) {
    ScratchDir dir;
    // Deeper than the classic 260-character limit of Windows paths.
    fs::path folder = dir.path();
    while (folder.u8string().size() < 300) {
        folder /= u8"Ernte_Müller_Ærø_收获_2026";
    }
    fs::create_directories(folder);
    const fs::path log = folder / u8"Feld_Süd_€.Vornakite";
    writeFile(log, logNamed("Süd"));
    RecordingSink sink;
    EXPECT_EQ(vornakite::runConversionBatch({log}, folder / "Rx", L"Rx", sink), 1);
    ASSERT_EQ(sink.lines.size(), 2u);
    EXPECT_EQ(sink.lines[0], L"Processing Feld_Süd_€.Vornakite...");
    EXPECT_EQ(fs::file_size(folder / "Rx" / "Farm_Field_S__d.shp"), 128u);

    // The Windows runtime cannot list folders at paths this long (remove_all fails), so
    // each entry is removed by name.
    for (const char* extension : {".shp", ".shx", ".dbf", ".prj", ".cpg"}) {
        EXPECT_TRUE(fs::remove(folder / "Rx" / (std::string("Farm_Field_S__d") + extension)));
    }
    EXPECT_TRUE(fs::remove(folder / "Rx"));
    EXPECT_TRUE(fs::remove(log));
    for (fs::path level = folder; level != dir.path(); level = level.parent_path()) {
        EXPECT_TRUE(fs::remove(level));
    }
}

TEST(Reliability, ABatchOfThousandsOfSmallLogsConvertsEveryOne) {
#if defined(_WIN32)
    const int count = 1000;  // file creation is slow under Wine
#else
    const int count = 10000;
#endif
    ScratchDir dir;
    std::vector<fs::path> logs;
    for (int i = 0; i < count; ++i) {
        logs.push_back(dir / ("log" + std::to_string(i) + ".Vornakite"));
        writeFile(logs.back(), logNamed("Corn"));  // all of one field: names _2, _3, ...
    }
    RecordingSink sink;
    EXPECT_EQ(vornakite::runConversionBatch(logs, dir / "Rx", L"Rx", sink), count);
    EXPECT_EQ(sink.lines.size(), static_cast<std::size_t>(count) + 1);
    EXPECT_EQ(sink.lines.back(), L"Conversion complete: " + std::to_wstring(count) + L"/" +
                                     std::to_wstring(count) +
                                     L" files processed successfully. Outputs in Rx.");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "Rx"), fs::directory_iterator()),
              5 * count);
    EXPECT_TRUE(
        fs::is_regular_file(dir / "Rx" / ("Farm_Field_Corn_" + std::to_string(count) + ".shp")));
}
