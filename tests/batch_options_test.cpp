// The batch options in the core: logs converted at once against one after another, the cleaned
// sets in every requested format, sets that may not replace existing ones, and merged sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "batch.hpp"
#include "convert.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::RecordingSink;
using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::BatchContext;
using vornakite::BatchOptions;
using vornakite::LogOutcome;
using vornakite::OutputFormats;
using vornakite::runConversionBatch;

// A straight pass of `samples` samples about 2 m apart; every tenth from the seventh on has zero
// yield, which the filters remove.
std::string passLog(const std::string& names, int samples, int seed = 0) {
    std::string log = "VK@1@2@3@4@5@" + names + "\n";
    for (int i = 0; i < samples; ++i) {
        const int yield = i % 10 == 7 ? 0 : 1800 + (i * 37 + seed * 11) % 90;
        log += "DY@45@x@x@123456@153@" + std::to_string(yield) + "@" +
               std::to_string(415000000 + 180 * i) + "@" + std::to_string(-975000000 - seed) +
               "@a@b@c@d@e@562@z\n";
    }
    return log;
}

std::map<std::string, std::string> filesOf(const fs::path& folder) {
    std::map<std::string, std::string> files;
    if (fs::exists(folder)) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            files[entry.path().filename().string()] =
                entry.is_regular_file() ? readFile(entry.path()) : "(not a file)";
        }
    }
    return files;
}

// What a batch told its sink and its observer.
struct BatchRun {
    std::vector<std::wstring> lines;
    std::vector<std::size_t> order;
    std::vector<LogOutcome> outcomes;
    int converted = 0;
};

BatchRun runBatch(const std::vector<fs::path>& logs, const fs::path& out,
                  const BatchOptions& options, const std::atomic<bool>* stop = nullptr) {
    BatchRun run;
    RecordingSink sink;
    run.converted = runConversionBatch(
        logs, out, L"Rx", sink,
        [&](std::size_t index, const LogOutcome& outcome) {
            run.order.push_back(index);
            run.outcomes.push_back(outcome);
            // The log's own lines are all out when it is told of.
            if (!outcome.converted) {
                EXPECT_EQ(sink.lines.back(),
                          L"Error: " + std::wstring(outcome.error.begin(), outcome.error.end()));
            }
        },
        stop, options);
    run.lines = sink.lines;
    return run;
}

// A batch with names that collide, logs failing before and after their name is taken, and logs
// of very different sizes.
std::vector<fs::path> mixedBatch(const ScratchDir& dir) {
    const std::pair<const char*, std::string> logs[] = {
        {"big.log", passLog("F@G@H", 30000, 1)},      {"gone.log", ""},
        {"a.log", passLog("F@G@H", 40, 2)},           {"bad.log", "VK@1@2\n"},
        {"b.log", passLog("f@g@h", 25, 3)},           {"blocked.log", passLog("F@G@H", 30, 4)},
        {"nodata.log", "VK@1@2@3@4@5@F@G@H\nGP@1\n"}, {"c.log", passLog("K@L@M", 50, 5)},
        {"d.log", passLog("F@G@H", 22, 6)},
    };
    std::vector<fs::path> paths;
    for (const auto& [name, text] : logs) {
        if (!text.empty()) {
            writeFile(dir / name, text);
        }
        paths.push_back(dir / name);
    }
    return paths;
}

void expectSameRuns(const BatchRun& many, const BatchRun& one) {
    EXPECT_EQ(many.lines, one.lines);
    EXPECT_EQ(many.order, one.order);
    EXPECT_EQ(many.converted, one.converted);
    ASSERT_EQ(many.outcomes.size(), one.outcomes.size());
    for (std::size_t k = 0; k < one.outcomes.size(); ++k) {
        SCOPED_TRACE(k);
        const LogOutcome& a = many.outcomes[k];
        const LogOutcome& b = one.outcomes[k];
        EXPECT_EQ(a.converted, b.converted);
        EXPECT_EQ(a.basePath.filename(), b.basePath.filename());
        EXPECT_EQ(a.points, b.points);
        EXPECT_EQ(a.error, b.error);
        EXPECT_EQ(a.cleaningLine, b.cleaningLine);
        ASSERT_EQ(a.analysed == nullptr, b.analysed == nullptr);
        if (a.analysed) {
            EXPECT_EQ(a.analysed->points.size(), b.analysed->points.size());
            EXPECT_EQ(a.analysed->cleaning.flags, b.analysed->cleaning.flags);
        }
    }
}

TEST(BatchJobs, AnyNumberOfJobsGivesTheLinesOutcomesNamesAndBytesOfOne) {
    ScratchDir dir;
    const std::vector<fs::path> logs = mixedBatch(dir);
    BatchOptions plain;
    BatchOptions everything;
    everything.conversion.cleaning.emplace();
    everything.conversion.keepAnalysis = true;
    everything.conversion.formats = {true, true, true};
    BatchOptions merged = everything;
    merged.merge = true;
    int variant = 0;
    for (const BatchOptions* options : {&plain, &everything, &merged}) {
        SCOPED_TRACE(variant);
        const fs::path base = dir / ("v" + std::to_string(variant++));
        BatchOptions sequential = *options;
        sequential.jobs = 1;
        fs::create_directories(base / "one" / "F_G_H_4.shp");  // the blocked log's set
        const BatchRun one = runBatch(logs, base / "one", sequential);
        EXPECT_EQ(one.order.size(), logs.size());
        for (unsigned jobs : {2u, 3u, 8u}) {
            SCOPED_TRACE(jobs);
            BatchOptions parallel = *options;
            parallel.jobs = jobs;
            const fs::path out = base / std::to_string(jobs);
            fs::create_directories(out / "F_G_H_4.shp");
            const BatchRun many = runBatch(logs, out, parallel);
            expectSameRuns(many, one);
            EXPECT_EQ(filesOf(out), filesOf(base / "one"));
        }
        if (!options->merge) {
            EXPECT_EQ(one.converted, 5);
            EXPECT_EQ(one.outcomes[5].error, "Failed to create shapefile outputs");
            EXPECT_EQ(one.outcomes[8].basePath.filename(), "F_G_H_5");
        } else {
            EXPECT_EQ(one.converted, 6);
            EXPECT_EQ(one.outcomes[8].basePath.filename(), "F_G_H");
        }
    }
}

TEST(BatchJobs, AStopBeginsNoFurtherLogAndReportsEveryLogBegun) {
    ScratchDir dir;
    std::vector<fs::path> logs;
    for (int i = 0; i < 12; ++i) {
        logs.push_back(dir / ("log" + std::to_string(i) + ".log"));
        writeFile(logs.back(), passLog("F@G@H" + std::to_string(i % 3), 2000, i));
    }
    for (const bool merge : {false, true}) {
        SCOPED_TRACE(merge);
        const fs::path out = dir / (merge ? "merged" : "each");
        std::atomic<bool> stop{false};
        BatchOptions options;
        options.jobs = 3;
        options.merge = merge;
        RecordingSink sink;
        std::vector<std::size_t> told;
        runConversionBatch(
            logs, out, L"Rx", sink,
            [&](std::size_t index, const LogOutcome&) {
                told.push_back(index);
                stop = true;
            },
            &stop, options);
        // In input order; merging, the logs of a set never begun are left out between them.
        EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
        EXPECT_EQ(std::adjacent_find(told.begin(), told.end()), told.end());
        EXPECT_GE(told.size(), 1u);
        EXPECT_LT(told.size(), logs.size());
        if (!merge) {
            EXPECT_EQ(told.back(), told.size() - 1);
        }
        EXPECT_EQ(sink.doneCounts.size(), 1u);
        for (const auto& [name, bytes] : filesOf(out)) {
            EXPECT_NE(name.rfind(".~vk-", 0), 0u) << name;  // no temporary left
        }
    }
}

TEST(ConversionOptions, CleanedSetsFollowTheRequestedFormats) {
    ScratchDir dir;
    writeFile(dir / "a.log", passLog("F@G@H", 60));
    BatchContext batch;
    batch.options.cleaning.emplace();
    batch.options.formats = {false, true, true};
    RecordingSink sink;
    ASSERT_TRUE(vornakite::convertFile(dir / "a.log", dir / "Rx", sink, batch));
    std::vector<std::string> names;
    for (const auto& [name, bytes] : filesOf(dir / "Rx")) {
        names.push_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"F_G_H.csv", "F_G_H.geojson", "F_G_H_clean.csv",
                                               "F_G_H_clean.geojson", "F_G_H_removed.csv",
                                               "F_G_H_removed.geojson"}));
    const std::string removed = readFile(dir / "Rx" / "F_G_H_removed.csv");
    EXPECT_EQ(removed.substr(0, removed.find("\r\n")),
              "longitude,latitude,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH,Reason");
    EXPECT_NE(removed.find(",0.0,15.3,1234.56,56.2,4.5,ZERO\r\n"), std::string::npos) << removed;
    EXPECT_NE(readFile(dir / "Rx" / "F_G_H_removed.geojson").find(",\"Reason\":\"ZERO\"}}"),
              std::string::npos);
    const std::string clean = readFile(dir / "Rx" / "F_G_H_clean.csv");
    EXPECT_EQ(std::count(clean.begin(), clean.end(), '\n'), 1 + 54);
}

TEST(ConversionOptions, NoClobberKeepsAnExistingFileOfAnySetOfTheLog) {
    const char* const existing[] = {"F_G_H.geojson", "F_G_H_clean.shp", "F_G_H_removed.csv"};
    for (const char* name : existing) {
        SCOPED_TRACE(name);
        ScratchDir dir;
        writeFile(dir / "a.log", passLog("F@G@H", 60));
        fs::create_directories(dir / "Rx");
        writeFile(dir / "Rx" / name, "earlier");
        BatchContext batch;
        batch.options.cleaning.emplace();
        batch.options.formats = {true, true, true};
        batch.options.noClobber = true;
        RecordingSink sink;
        const LogOutcome outcome = vornakite::convertLog(dir / "a.log", dir / "Rx", sink, batch);
        EXPECT_FALSE(outcome.converted);
        EXPECT_EQ(sink.lines, std::vector<std::wstring>{L"Error: Output set already exists"});
        EXPECT_EQ(filesOf(dir / "Rx"), (std::map<std::string, std::string>{{name, "earlier"}}));
    }
}

TEST(ConversionSteps, ALogFailingInReadingClaimsNoNameAndOneFailingInWritingDoes) {
    ScratchDir dir;
    writeFile(dir / "good.log", passLog("F@G@H", 5));
    writeFile(dir / "bad.log", "VK@1@2@3@4@5@F@G@H\nDY@1\n");
    BatchContext batch;
    batch.options.noClobber = true;
    fs::create_directories(dir / "Rx");
    // Prepared in any order and at the same time; named in the order committed.
    auto bad = vornakite::prepareLog(dir / "bad.log", dir / "Rx", batch);
    auto second = vornakite::prepareLog(dir / "good.log", dir / "Rx", batch);
    auto first = vornakite::prepareLog(dir / "good.log", dir / "Rx", batch);
    auto third = vornakite::prepareLog(dir / "good.log", dir / "Rx", batch);
    RecordingSink sink;
    EXPECT_FALSE(vornakite::commitLog(std::move(bad), sink, batch).converted);
    EXPECT_EQ(vornakite::commitLog(std::move(first), sink, batch).basePath, dir / "Rx" / "F_G_H");
    // A set made by someone else after this log was written: the log fails, its name is taken.
    writeFile(dir / "Rx" / "F_G_H_2.dbf", "meanwhile");
    EXPECT_FALSE(vornakite::commitLog(std::move(second), sink, batch).converted);
    EXPECT_EQ(vornakite::commitLog(std::move(third), sink, batch).basePath, dir / "Rx" / "F_G_H_3");
    EXPECT_EQ(sink.lines, (std::vector<std::wstring>{L"Error: No yield data (DY) lines found",
                                                     L"Error: Output set already exists"}));
    EXPECT_EQ(readFile(dir / "Rx" / "F_G_H_2.dbf"), "meanwhile");
}

// The rows of a CSV after its header, without the last `drop` columns.
std::vector<std::string> csvRows(const std::string& text, std::size_t drop = 0) {
    std::vector<std::string> rows;
    for (std::size_t at = text.find("\r\n") + 2; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        std::string row = text.substr(at, end - at);
        for (std::size_t d = 0; d < drop; ++d) {
            row.erase(row.rfind(','));
        }
        rows.push_back(row);
        at = end + 2;
    }
    return rows;
}

TEST(MergedSets, EachLogIsCleanedOnItsOwnAndCarriesItsNameInEverySet) {
    ScratchDir dir;
    const std::vector<fs::path> logs = {dir / "one.log", dir / "two.log", dir / "other.log"};
    writeFile(logs[0], passLog("F@G@H", 60, 1));
    writeFile(logs[1], passLog("F@G@H", 45, 2));
    writeFile(logs[2], passLog("K@L@M", 30, 3));
    BatchOptions options;
    options.merge = true;
    options.conversion.cleaning.emplace();
    options.conversion.formats = {false, false, true};
    const BatchRun merged = runBatch(logs, dir / "merged", options);
    EXPECT_EQ(merged.converted, 3);
    ASSERT_EQ(merged.outcomes.size(), 3u);
    EXPECT_EQ(merged.outcomes[1].basePath, dir / "merged" / "F_G_H");
    EXPECT_EQ(merged.outcomes[1].points, 45u);
    EXPECT_EQ(merged.lines[1].rfind(L"Cleaning: kept 54 of 60 points", 0), 0u) << merged.lines[1];

    // The same logs one by one: the merged sets hold their rows in input order, with the Log.
    options.merge = false;
    const BatchRun each = runBatch(logs, dir / "each", options);
    EXPECT_EQ(each.lines, merged.lines);
    for (const char* set : {"F_G_H", "F_G_H_clean", "F_G_H_removed"}) {
        SCOPED_TRACE(set);
        const std::string suffix = std::string(set).substr(5);
        const std::vector<std::string> got =
            csvRows(readFile(dir / "merged" / (std::string(set) + ".csv")));
        std::vector<std::string> want;
        for (const char* single : {"F_G_H", "F_G_H_2"}) {
            const std::string log = single == std::string("F_G_H") ? "one.log" : "two.log";
            for (const std::string& row :
                 csvRows(readFile(dir / "each" / (single + suffix + ".csv")))) {
                want.push_back(row + "," + log);
            }
        }
        EXPECT_EQ(got, want);
    }
    EXPECT_EQ(readFile(dir / "merged" / "F_G_H_removed.csv").substr(0, 80),
              "longitude,latitude,Yield_bu,Moist_pct,Weight_ta,Dens_lbbu,Speed_MPH,Reason,Log\r\n");
}

}  // namespace
