// A set is replaced whole or not at all: whatever fails, the earlier set of the same name stays
// byte for byte, nothing but the sets' own files is left in the folder, and nothing outside it
// is ever written.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <future>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include "batch.hpp"
#include "convert.hpp"
#include "os/files.hpp"
#include "test_support.hpp"
#include "write/output_transaction.hpp"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::RecordingSink;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

const char* const kExtensions[] = {".shp", ".shx", ".dbf", ".prj", ".cpg"};

std::string sample(int i) {
    return "DY@45@x@x@123456@153@" + std::to_string(1000 + i % 900) + "@" +
           std::to_string(415000000 + i) + "@-975000000@a@b@c@d@e@562@z\n";
}

// A log of the set F_G_H with `samples` samples, and `tail` after them.
std::string logOf(int samples, const std::string& tail = "") {
    std::string log = "VK@1@2@3@4@5@F@G@H\n";
    for (int i = 0; i < samples; ++i) {
        log += sample(i);
    }
    return log + tail;
}

std::map<std::string, std::string> filesOf(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] =
            entry.is_regular_file() ? readFile(entry.path()) : "(not a file)";
    }
    return files;
}

std::vector<std::wstring> convertOne(const fs::path& log, const fs::path& folder) {
    RecordingSink sink;
    vornakite::BatchContext batch;
    vornakite::convertFile(log, folder, sink, batch);
    return sink.lines;
}

// Runs `job` on another thread; fails the test instead of hanging when it blocks.
[[maybe_unused]] void finishesPromptly(const std::function<void()>& job) {
    auto done = std::async(std::launch::async, job);
    ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "blocked; ending the test run";
    done.get();
}

}  // namespace

TEST(SafeOutputs, EveryFailureLeavesThePreviousSetAsItWas) {
    struct Case {
        const char* what;
        std::function<fs::path(const ScratchDir&)> prepare;  // returns the failing log
        std::wstring error;
    };
    std::vector<Case> cases = {
        {"a bad line after enough samples to have written the temporaries",
         [](const ScratchDir& dir) {
             writeFile(dir / "late.log", logOf(30000, "DY@1@2@3@4@5@6@@8@9@10@11@12@13@14@15\n"));
             return dir / "late.log";
         },
         L"Error: invalid stod argument"},
        {"a log that cannot be opened", [](const ScratchDir& dir) { return dir / "gone.log"; },
         L"Error: Cannot open file"},
    };
    for (const char* extension : kExtensions) {
        const bool side = std::string(extension) == ".prj" || std::string(extension) == ".cpg";
        cases.push_back({extension,
                         [extension](const ScratchDir& dir) {
                             // A folder where the second set's file was is in the way of placing
                             // the new set.
                             const fs::path blocked =
                                 dir / "Rx" / (std::string("F_G_H_2") + extension);
                             fs::remove(blocked);
                             fs::create_directory(blocked);
                             writeFile(dir / "next.log", logOf(5));
                             return dir / "next.log";
                         },
                         side ? L"Error: Failed to write projection or code page file"
                              : L"Error: Failed to create shapefile outputs"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        writeFile(dir / "first.log", logOf(3));
        writeFile(dir / "second.log", logOf(4));
        // Two sets: F_G_H and F_G_H_2, as a batch of two logs of one field names them.
        RecordingSink sink;
        ASSERT_EQ(vornakite::runConversionBatch({dir / "first.log", dir / "second.log"}, dir / "Rx",
                                                L"Rx", sink),
                  2);
        const fs::path failing = c.prepare(dir);
        const auto before = filesOf(dir / "Rx");

        RecordingSink again;
        vornakite::runConversionBatch({dir / "first.log", failing}, dir / "Rx", L"Rx", again);
        ASSERT_EQ(again.lines.size(), 4u);
        EXPECT_EQ(again.lines[2], c.error);
        auto after = filesOf(dir / "Rx");
        EXPECT_EQ(after, before);  // nothing changed, nothing added
    }
}

TEST(SafeOutputs, ASetWhoseLaterNamesAloneAreTakenIsPlacedOrFailedWhole) {
    // Only the last names of the set are taken, so that its first files find their names free.
    struct Case {
        const char* extension;
        bool folder;  // a folder in the way, or a stray file to be replaced
    };
    for (const Case c :
         {Case{".dbf", true}, Case{".cpg", true}, Case{".prj", false}, Case{".cpg", false}}) {
        SCOPED_TRACE(std::string(c.extension) + (c.folder ? " folder" : " file"));
        ScratchDir dir;
        const fs::path taken = dir / "Rx" / (std::string("F_G_H") + c.extension);
        fs::create_directories(c.folder ? taken : dir / "Rx");
        if (!c.folder) {
            writeFile(taken, "stray");
        }
        writeFile(dir / "a.log", logOf(2));
        const auto lines = convertOne(dir / "a.log", dir / "Rx");
        const auto files = filesOf(dir / "Rx");
        if (c.folder) {
            EXPECT_EQ(lines.size(), 1u);  // its error, and nothing of the set placed
            EXPECT_EQ(files.size(), 1u);
        } else {
            EXPECT_TRUE(lines.empty());
            EXPECT_EQ(files.size(), 5u);
            EXPECT_NE(files.at(std::string("F_G_H") + c.extension), "stray");
        }
    }
}

TEST(SafeOutputs, ALogFailingLateRemovesTheFolderItCreated) {
    ScratchDir dir;
    writeFile(dir / "late.log", logOf(30000, "DY@1@2@3@4@5@6@x@8@9@10@11@12@13@14@15\n"));
    EXPECT_EQ(convertOne(dir / "late.log", dir / "out" / "Rx"),
              std::vector<std::wstring>{L"Error: invalid stod argument"});
    EXPECT_FALSE(fs::exists(dir / "out"));
}

TEST(SafeOutputs, AbandonedTemporariesAreRemovedAndLiveOnesKept) {
    ScratchDir dir;
    fs::create_directories(dir / "Rx");
    // Left by a conversion that was killed: a temporary; and an old output set aside by an earlier
    // version, which wrote no journal: it may be the only copy of that output, so it stays.
    writeFile(dir / "Rx" / ".~vk-dead-1-2.0", "partial");
    writeFile(dir / "Rx" / ".~vk-dead-1-2.3.old", "old");
    // Held by a conversion that still runs, here or in another process; one that is moving its
    // set holds its journal, and its temporaries are closed.
    vornakite::os::OutputFile live;
    ASSERT_TRUE(live.create(dir / "Rx" / ".~vk-live-0-0.0"));
    vornakite::os::OutputFile journal;
    ASSERT_TRUE(journal.create(dir / "Rx" / ".~vk-live-1-0.journal"));
    writeFile(dir / "Rx" / ".~vk-live-1-0.0", "closed");
    writeFile(dir / "a.log", logOf(2));
    EXPECT_TRUE(convertOne(dir / "a.log", dir / "Rx").empty());
    EXPECT_FALSE(fs::exists(dir / "Rx" / ".~vk-dead-1-2.0"));
    EXPECT_TRUE(fs::exists(dir / "Rx" / ".~vk-dead-1-2.3.old"));
    EXPECT_TRUE(fs::exists(dir / "Rx" / ".~vk-live-0-0.0"));
    EXPECT_TRUE(fs::exists(dir / "Rx" / ".~vk-live-1-0.0"));
    EXPECT_EQ(filesOf(dir / "Rx").size(), 9u);
    live.close();
    journal.close();
}

namespace {

using Folder = std::map<fs::path::string_type, std::string>;

Folder contentsOf(const fs::path& folder) {
    Folder files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().native()] = readFile(entry.path());
    }
    return files;
}

enum class Commit { placed, failed, killed };

// Commits a set of five files named `base` + extension into `folder`, with the faults given.
Commit commitNewSet(const fs::path& folder, const fs::path& base, std::size_t kill,
                    std::size_t failMove) {
    vornakite::OutputTransaction transaction(folder, nullptr);
    for (const char* extension : kExtensions) {
        transaction.add(fs::path(extension).wstring(), vornakite::kShapefileMessages);
    }
    transaction.open();
    for (std::size_t i = 0; i < std::size(kExtensions); ++i) {
        const std::string bytes = std::string("new") + kExtensions[i];
        transaction.write(i, bytes.data(), bytes.size());
    }
    transaction.injectFaults(kill, failMove);
    try {
        transaction.commit(folder / base);
    } catch (const vornakite::SwapKilled&) {
        return Commit::killed;
    } catch (const std::runtime_error&) {
        return Commit::failed;
    }
    return Commit::placed;
}

// The next run into the folder, which settles what a killed run left; whether it was killed too.
bool nextRun(const fs::path& folder, std::size_t kill = 0, std::size_t failMove = 0) {
    vornakite::OutputTransaction transaction(folder, nullptr);
    transaction.add(L".x", vornakite::kShapefileMessages);
    transaction.injectFaults(kill, failMove);
    try {
        transaction.open();
    } catch (const vornakite::SwapKilled&) {
        return true;
    }
    return false;
}

struct Faults {
    std::size_t kill, failMove;          // of the commit
    std::size_t nextKill, nextFailMove;  // of the next run; a third one follows
};

struct Outcome {
    Commit commit;
    bool nextKilled;
    bool whole;  // the new set is in
};

// A new set committed, with `faults`, over one whose names `taken` are there, in a folder that
// holds another file too; and the next runs. Checks that they leave the earlier set or the new
// one, byte for byte, and nothing else.
Outcome commitAndRecover(const std::vector<const char*>& taken, const Faults& faults) {
    SCOPED_TRACE("move " + std::to_string(faults.failMove) + " fails, killed after step " +
                 std::to_string(faults.kill) + "; the next run: move " +
                 std::to_string(faults.nextFailMove) + " fails, killed after step " +
                 std::to_string(faults.nextKill));
    const fs::path base(u8"F %\u00e9 \U0001F33D");  // escaped in the journal
    ScratchDir dir;
    writeFile(dir / "keep.txt", "not ours");
    for (const char* extension : taken) {
        writeFile(dir / (base.native() + fs::path(extension).native()), extension);
    }
    const Folder earlier = contentsOf(dir.path());
    Folder whole = earlier;
    for (const char* extension : kExtensions) {
        whole[base.native() + fs::path(extension).native()] = std::string("new") + extension;
    }
    const Commit commit = commitNewSet(dir.path(), base, faults.kill, faults.failMove);
    const bool nextKilled = nextRun(dir.path(), faults.nextKill, faults.nextFailMove);
    if (faults.nextKill != 0 || faults.nextFailMove != 0) {
        nextRun(dir.path());
    }
    const Folder after = contentsOf(dir.path());
    if (commit == Commit::killed) {
        EXPECT_TRUE(after == earlier || after == whole);
    } else {
        EXPECT_EQ(after, commit == Commit::failed ? earlier : whole);
    }
    return {commit, nextKilled, after == whole};
}

}  // namespace

TEST(SafeOutputs, ACommitStoppedAtAnyStepIsSettledWholeByTheNextRun) {
    struct Case {
        const char* what;
        std::vector<const char*> taken;
    };
    for (const Case& c :
         {Case{"replacing a set", {".shp", ".shx", ".dbf", ".prj", ".cpg"}},
          Case{"into free names", {}}, Case{"some names taken", {".dbf", ".cpg"}}}) {
        SCOPED_TRACE(c.what);
        const bool replacing = c.taken.size() == std::size(kExtensions);
        // The process killed after every step; then with each move failing in turn, after every
        // step that follows the failure, until a move number past the last one.
        for (std::size_t failMove = 0;; ++failMove) {
            bool newSeen = false;
            std::size_t kill = 1;
            for (;; ++kill) {
                const Outcome outcome = commitAndRecover(c.taken, {kill, failMove, 0, 0});
                if (failMove == 0) {  // once the new set is in, it stays
                    EXPECT_FALSE(newSeen && !outcome.whole) << kill;
                    newSeen = outcome.whole;
                }
                // The next run, too, killed after each of its steps, or one of its moves failing.
                for (std::size_t r = 1;
                     replacing && failMove == 0 && outcome.commit == Commit::killed; ++r) {
                    commitAndRecover(c.taken, {kill, 0, 0, r});
                    if (!commitAndRecover(c.taken, {kill, 0, r, 0}).nextKilled) {
                        break;
                    }
                }
                if (outcome.commit != Commit::killed) {
                    EXPECT_TRUE(failMove != 0 || newSeen);
                    break;
                }
            }
            if (failMove > 0 && kill == 1) {
                break;  // no move failed: every step after a failure was tried
            }
        }
    }
}

TEST(SafeOutputs, ATornJournalIsDroppedWithItsTemporaries) {
    // The journal written, nothing moved yet; then cut short at every fifth length, and at every
    // length within its last line.
    for (std::size_t length = 0, size = SIZE_MAX; length < size;
         length += length + 8 < size ? 5 : 1) {
        ScratchDir dir;
        writeFile(dir / "F.shp", "old");
        const Folder earlier = contentsOf(dir.path());
        ASSERT_EQ(commitNewSet(dir.path(), "F", 2, 0), Commit::killed);
        fs::path journal;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            if (entry.path().extension() == ".journal") {
                journal = entry.path();
            }
        }
        size = fs::file_size(journal);  // the token's length varies
        if (length >= size) {
            break;
        }
        fs::resize_file(journal, length);
        nextRun(dir.path());
        EXPECT_EQ(contentsOf(dir.path()), earlier) << length;
    }
}

TEST(SafeOutputs, AStoppedConversionLeavesNoTrace) {
    ScratchDir dir;
    writeFile(dir / "a.log", logOf(3));
    ASSERT_TRUE(convertOne(dir / "a.log", dir / "Rx").empty());
    const auto before = filesOf(dir / "Rx");
    writeFile(dir / "b.log", logOf(30000));
    std::atomic<bool> stop{true};
    RecordingSink sink;
    vornakite::BatchContext batch;
    batch.stop = &stop;
    EXPECT_FALSE(vornakite::convertFile(dir / "b.log", dir / "Rx", sink, batch));
    EXPECT_EQ(filesOf(dir / "Rx"), before);
    // A batch asked to stop begins no further log.
    RecordingSink batchSink;
    EXPECT_EQ(
        vornakite::runConversionBatch({dir / "b.log"}, dir / "Rx", L"Rx", batchSink, {}, &stop), 0);
    EXPECT_EQ(batchSink.lines.size(), 1u);  // the summary alone
}

#ifndef _WIN32
TEST(SafeOutputs, WhateverSitsAtAnOutputNameIsReplacedNeverOpenedOrFollowed) {
    ScratchDir dir;
    fs::create_directories(dir / "Rx");
    writeFile(dir / "elsewhere.txt", "someone else's file");
    fs::create_symlink(dir / "elsewhere.txt", dir / "Rx" / "F_G_H.prj");
    fs::create_symlink(dir / "outside.dbf", dir / "Rx" / "F_G_H.dbf");  // dangling
    ASSERT_EQ(mkfifo((dir / "Rx" / "F_G_H.shp").c_str(), 0644), 0);
    writeFile(dir / "a.log", logOf(2));
    finishesPromptly([&] { EXPECT_TRUE(convertOne(dir / "a.log", dir / "Rx").empty()); });
    EXPECT_EQ(readFile(dir / "elsewhere.txt"), "someone else's file");
    EXPECT_FALSE(fs::exists(dir / "outside.dbf"));
    for (const char* extension : kExtensions) {
        const fs::path output = dir / "Rx" / (std::string("F_G_H") + extension);
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(output))) << extension;
    }
    EXPECT_EQ(fs::file_size(dir / "Rx" / "F_G_H.shp"), 156u);
    EXPECT_EQ(filesOf(dir / "Rx").size(), 5u);
}

TEST(SafeOutputs, OnlyRegularFilesAreReadAsLogs) {
    ScratchDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo.Vornakite").c_str(), 0644), 0);
    // A socket file, which cannot be opened at all.
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "socket.Vornakite").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const fs::path& log : {dir / "fifo.Vornakite", fs::path("/dev/null"),
                                fs::path("/dev/zero"), dir / "socket.Vornakite"}) {
        SCOPED_TRACE(log.string());
        finishesPromptly([&] {
            EXPECT_EQ(convertOne(log, dir / "Rx"),
                      std::vector<std::wstring>{L"Error: Cannot open file"});
        });
    }
    close(s);
}
#endif
