// The batch options in the core where the command line does not reach yet: the cleaned sets in
// every requested format and kept by no-clobber, merged logs cleaned one by one, and a stop
// during a batch of several jobs.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "batch.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::RecordingSink;
using testsupport::ScratchDir;
using testsupport::writeFile;

// A straight pass of `samples` samples about 2 m apart; every tenth from the eighth on has zero
// yield, which the filters remove.
std::string passLog(const std::string& names, int samples, int seed = 0) {
    std::string log = "VK@1@2@3@4@5@" + names + "\n";
    for (int i = 0; i < samples; ++i) {
        log += "DY@45@x@x@123456@153@" +
               std::to_string(i % 10 == 7 ? 0 : 1800 + (i * 37 + seed * 11) % 90) + "@" +
               std::to_string(415000000 + 180 * i) + "@" + std::to_string(-975000000 - seed) +
               "@a@b@c@d@e@562@z\n";
    }
    return log;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ConversionOptions, CleanedSetsFollowTheFormatsAndNoClobberKeepsAnyOfTheirFiles) {
    ScratchDir dir;
    writeFile(dir / "a.log", passLog("F@G@H", 60));
    vornakite::BatchContext batch;
    batch.options.cleaning.emplace();
    batch.options.formats = {false, true, true};
    RecordingSink sink;
    ASSERT_TRUE(vornakite::convertFile(dir / "a.log", dir / "Rx", sink, batch));
    EXPECT_EQ(namesIn(dir / "Rx"),
              (std::vector<std::string>{"F_G_H.csv", "F_G_H.geojson", "F_G_H_clean.csv",
                                        "F_G_H_clean.geojson", "F_G_H_removed.csv",
                                        "F_G_H_removed.geojson"}));
    const std::string removed = readFile(dir / "Rx" / "F_G_H_removed.csv");
    EXPECT_EQ(removed.substr(0, removed.find("\r\n")),
              "longitude,latitude,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH,Reason");
    EXPECT_NE(removed.find(",0.0,15.3,1234.56,56.2,4.5,ZERO\r\n"), std::string::npos) << removed;
    EXPECT_NE(readFile(dir / "Rx" / "F_G_H_removed.geojson").find(",\"Reason\":\"ZERO\"}}"),
              std::string::npos);

    for (const char* existing : {"F_G_H_clean.shp", "F_G_H_removed.csv"}) {
        ScratchDir other;
        fs::create_directories(other / "Rx");
        writeFile(other / "Rx" / existing, "earlier");
        vornakite::BatchContext again;
        again.options.cleaning.emplace();
        again.options.formats = {true, false, true};
        again.options.noClobber = true;
        RecordingSink failed;
        EXPECT_FALSE(vornakite::convertFile(dir / "a.log", other / "Rx", failed, again));
        EXPECT_EQ(failed.lines, std::vector<std::wstring>{L"Error: Output set already exists"});
        EXPECT_EQ(namesIn(other / "Rx"), std::vector<std::string>{existing});
        EXPECT_EQ(readFile(other / "Rx" / existing), "earlier");
    }
}

TEST(MergedSets, EachLogIsCleanedOnItsOwnAndEverySetCarriesTheLogNames) {
    ScratchDir dir;
    const std::vector<fs::path> logs = {dir / "one.log", dir / "two.log"};
    writeFile(logs[0], passLog("F@G@H", 60, 1));
    writeFile(logs[1], passLog("F@G@H", 45, 2));
    vornakite::BatchOptions options;
    options.conversion.cleaning.emplace();
    options.conversion.formats = {false, false, true};
    RecordingSink each;
    ASSERT_EQ(vornakite::runConversionBatch(logs, dir / "each", L"Rx", each, {}, nullptr, options),
              2);
    options.merge = true;
    RecordingSink merged;
    ASSERT_EQ(
        vornakite::runConversionBatch(logs, dir / "merged", L"Rx", merged, {}, nullptr, options),
        2);
    EXPECT_EQ(merged.lines, each.lines);  // with each log's own cleaning line
    // Each merged set: the rows of the logs' own sets, in input order, each with its log's name.
    for (const std::string suffix : {"", "_clean", "_removed"}) {
        std::string want;
        for (const auto& [set, log] : {std::pair{"F_G_H", "one.log"}, {"F_G_H_2", "two.log"}}) {
            const std::string own = readFile(dir / "each" / (set + suffix + ".csv"));
            for (std::size_t at = own.find("\r\n") + 2; at < own.size();) {
                const std::size_t end = own.find("\r\n", at);
                want += own.substr(at, end - at) + "," + log + "\r\n";
                at = end + 2;
            }
        }
        const std::string got = readFile(dir / "merged" / ("F_G_H" + suffix + ".csv"));
        EXPECT_EQ(got.substr(got.find("\r\n") + 2), want) << suffix;
        EXPECT_EQ(got.substr(0, got.find("\r\n")),
                  "longitude,latitude,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH" +
                      std::string(suffix == "_removed" ? ",Reason,Log" : ",Log"));
    }
}

TEST(BatchJobs, AStopBeginsNoFurtherLogAndReportsEveryLogBegunInInputOrder) {
    ScratchDir dir;
    std::vector<fs::path> logs;
    for (int i = 0; i < 12; ++i) {
        logs.push_back(dir / ("log" + std::to_string(i) + ".log"));
        writeFile(logs.back(), passLog("F@G@H" + std::to_string(i % 3), 2000, i));
    }
    for (const bool merge : {false, true}) {
        SCOPED_TRACE(merge);
        std::atomic<bool> stop{false};
        vornakite::BatchOptions options;
        options.jobs = 3;
        options.merge = merge;
        RecordingSink sink;
        std::vector<std::size_t> told;
        const fs::path out = dir / (merge ? "merged" : "each");
        vornakite::runConversionBatch(
            logs, out, L"Rx", sink,
            [&](std::size_t index, const vornakite::LogOutcome&) {
                told.push_back(index);
                stop = true;
            },
            &stop, options);
        // Merging, the logs of a set never begun are left out between those told of.
        EXPECT_TRUE(std::adjacent_find(told.begin(), told.end(), std::greater_equal<>()) ==
                    told.end());
        EXPECT_TRUE(!told.empty() && told.size() < logs.size());
        EXPECT_TRUE(merge || told.back() == told.size() - 1);
        EXPECT_EQ(sink.doneCounts.size(), 1u);
        for (const std::string& name : namesIn(out)) {
            EXPECT_NE(name.rfind(".~vk-", 0), 0u) << name;  // no temporary left
        }
    }
}

}  // namespace
