#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "batch.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;
using testsupport::oneSampleLog;
using testsupport::RecordingSink;
using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::runConversionBatch;

namespace {}  // namespace

TEST(ConversionBatch, PostsEachLogsLinesThenTheSummaryThenDone) {
    ScratchDir dir;
    fs::create_directories(dir / "one");
    writeFile(dir / "one" / "a.Vornakite", oneSampleLog("F@G@A"));
    writeFile(dir / "b.txt", "garbage");
    writeFile(dir / "c.csv", oneSampleLog("F@G@C"));
    RecordingSink sink;
    const int ok = runConversionBatch({dir / "one" / "a.Vornakite", dir / "b.txt", dir / "c.csv"},
                                      dir / "Rx", L"Rx", sink);
    EXPECT_EQ(ok, 2);
    EXPECT_EQ(sink.lines,
              (std::vector<std::wstring>{
                  L"Processing a.Vornakite...",
                  L"Processing b.txt...",
                  L"Error: Invalid header format",
                  L"Processing c.csv...",
                  L"Conversion complete: 2/3 files processed successfully. Outputs in Rx.",
              }));
    EXPECT_EQ(sink.doneCounts, std::vector<int>{2});
    EXPECT_TRUE(fs::exists(dir / "Rx" / "F_G_A.shp"));
    EXPECT_TRUE(fs::exists(dir / "Rx" / "F_G_C.shp"));
}

TEST(ConversionBatch, EndsWithTheSummaryWhenEveryLogFails) {
    ScratchDir dir;
    RecordingSink sink;
    EXPECT_EQ(runConversionBatch({dir / "x" / "gone.log", dir / "gone.log"}, dir / "out",
                                 L"/some/where", sink),
              0);
    EXPECT_EQ(sink.lines.back(),
              L"Conversion complete: 0/2 files processed successfully. Outputs in /some/where.");
    EXPECT_EQ(sink.lines[0], sink.lines[2]);  // same name from two folders, same line
    EXPECT_EQ(sink.doneCounts, std::vector<int>{0});
}

TEST(ConversionBatch, KeepsLogsOfTheSameNameFromOverwritingEachOther) {
    ScratchDir dir;
    writeFile(dir / "1.log", oneSampleLog("Farm@F@Corn"));
    writeFile(dir / "2.log", "VK@1@2@3@4@5@Farm@F@Corn\nno samples\n");  // fails, claims nothing
    writeFile(dir / "3.log", oneSampleLog("FARM@f@corn"));
    writeFile(dir / "4.log", oneSampleLog("Farm@F@Corn"));
    RecordingSink sink;
    EXPECT_EQ(runConversionBatch({dir / "1.log", dir / "2.log", dir / "3.log", dir / "4.log"},
                                 dir / "Rx", L"Rx", sink),
              3);
    EXPECT_TRUE(fs::exists(dir / "Rx" / "Farm_F_Corn.shp"));
    EXPECT_TRUE(fs::exists(dir / "Rx" / "FARM_f_corn_2.shp"));
    EXPECT_TRUE(fs::exists(dir / "Rx" / "Farm_F_Corn_3.shp"));

    // A new batch starts over and replaces the earlier files.
    RecordingSink again;
    EXPECT_EQ(runConversionBatch({dir / "4.log"}, dir / "Rx", L"Rx", again), 1);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "Rx"), fs::directory_iterator()), 15);
}
