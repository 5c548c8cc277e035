#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "read/log_files.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;
using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::expandLogArguments;

namespace {

// Makes the files (and the folders they need) named relative to `dir`; a name ending in
// '/' is an empty folder.
void makeTree(const ScratchDir& dir, const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        if (name.back() == '/') {
            fs::create_directories(dir / name);
        } else {
            fs::create_directories((dir / name).parent_path());
            writeFile(dir / name, "x");
        }
    }
}

// The paths relative to `dir`, with '/' between components.
std::vector<std::string> relativeTo(const ScratchDir& dir, const std::vector<fs::path>& paths) {
    std::vector<std::string> names;
    for (const fs::path& p : paths) {
        names.push_back(p.lexically_relative(dir.path()).generic_string());
    }
    return names;
}

std::vector<std::string> expanded(const ScratchDir& dir, const std::vector<std::string>& arguments,
                                  bool recursive) {
    std::vector<fs::path> paths;
    for (const std::string& argument : arguments) {
        paths.push_back(dir / argument);
    }
    return relativeTo(dir, expandLogArguments(paths, recursive));
}

}  // namespace

TEST(LogFiles, KnowsLogsByTheirExtensionInAnyLetterCase) {
    const std::pair<const char*, bool> cases[] = {
        {"a.Vornakite", true}, {"A.VORNAKITE", true}, {"b.vornakite", true}, {"c.txt", true},
        {"d.TxT", true},       {"e.csv", true},       {"f.CSV", true},       {".txt", true},
        {"g.shp", false},      {"h.csv.bak", false},  {"i.txt ", false},     {"csv", false},
        {"j.Vornakit", false}, {"k.text", false},     {"", false},
    };
    for (const auto& [name, isLog] : cases) {
        EXPECT_EQ(vornakite::isLogFileName(name), isLog) << name;
    }
}

TEST(LogFiles, OrdersNamesIgnoringAsciiCaseThenByCodeUnits) {
    // Each name sorts before the next.
    const std::vector<fs::path> ordered = {
        "", "1.txt", "_", "a", "A.txt", "a.txt", "a2", "B", "b.csv", "Zeta", "zeta", u8"\u00e4",
    };
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        for (std::size_t j = 0; j < ordered.size(); ++j) {
            EXPECT_EQ(vornakite::nameLessIgnoringCase(ordered[i], ordered[j]), i < j)
                << ordered[i].string() << " / " << ordered[j].string();
        }
    }
}

TEST(LogFiles, ListsAFoldersLogsSortedIgnoringCase) {
    ScratchDir dir;
    makeTree(dir, {"in/b.TXT", "in/A.csv", "in/c.Vornakite", "in/a2.vornakite", "in/notes.md",
                   "in/set.shp", "in/Field.txt/inner.txt", "in/sub/deep.txt", "in/empty/"});
    EXPECT_EQ(
        expanded(dir, {"in"}, false),
        (std::vector<std::string>{"in/A.csv", "in/a2.vornakite", "in/b.TXT", "in/c.Vornakite"}));
}

TEST(LogFiles, RecursionTakesAFoldersOwnFilesThenEachSubfolderDepthFirst) {
    ScratchDir dir;
    makeTree(dir, {"top/z.txt", "top/b/x.csv", "top/B2/y.txt", "top/a/deep/er/1.txt",
                   "top/a/deep/2.txt", "top/a/3.txt", "top/a.txt", "top/a/z/4.txt", "top/c/"});
    EXPECT_EQ(expanded(dir, {"top"}, true),
              (std::vector<std::string>{"top/a.txt", "top/z.txt", "top/a/3.txt", "top/a/deep/2.txt",
                                        "top/a/deep/er/1.txt", "top/a/z/4.txt", "top/b/x.csv",
                                        "top/B2/y.txt"}));
}

TEST(LogFiles, ArgumentsKeepTheirOrderAndAnythingButAFolderStaysAsGiven) {
    ScratchDir dir;
    makeTree(dir, {"one/b.txt", "one/a.txt", "two/c.csv", "notes.md", "log.Vornakite"});
    EXPECT_EQ(
        expanded(dir, {"missing.txt", "two", "notes.md", "one", "log.Vornakite", "two"}, false),
        (std::vector<std::string>{"missing.txt", "two/c.csv", "notes.md", "one/a.txt", "one/b.txt",
                                  "log.Vornakite", "two/c.csv"}));
    EXPECT_TRUE(expandLogArguments({}, true).empty());
    EXPECT_EQ(expandLogArguments({fs::path()}, true), std::vector<fs::path>{fs::path()});
}

TEST(LogFiles, AFolderWithoutLogsGivesNone) {
    ScratchDir dir;
    makeTree(dir, {"empty/", "other/readme.md", "other/sub/a.txt"});
    EXPECT_TRUE(expanded(dir, {"empty", "other"}, false).empty());
    EXPECT_EQ(expanded(dir, {"empty", "other"}, true),
              (std::vector<std::string>{"other/sub/a.txt"}));
}

TEST(LogFiles, LinkedFoldersInsideAreNotEnteredSoLoopsEnd) {
    ScratchDir dir;
    makeTree(dir, {"top/a.txt", "top/sub/b.txt", "elsewhere/c.txt"});
    std::error_code ec;
    fs::create_directory_symlink(dir / "top", dir / "top" / "sub" / "loop", ec);
    if (ec) {
        GTEST_SKIP() << "no folder links here: " << ec.message();
    }
    fs::create_directory_symlink(dir / "elsewhere", dir / "top" / "link", ec);
    ASSERT_FALSE(ec) << ec.message();
    fs::create_symlink(dir / "elsewhere" / "c.txt", dir / "top" / "linked.txt");  // a file
    EXPECT_EQ(expanded(dir, {"top"}, true),
              (std::vector<std::string>{"top/a.txt", "top/linked.txt", "top/sub/b.txt"}));
    // A link given as the argument is listed, though.
    EXPECT_EQ(expanded(dir, {"top/link"}, true), (std::vector<std::string>{"top/link/c.txt"}));
}

TEST(LogFiles, ReadingAFolderThatIsNotThereFails) {
    ScratchDir dir;
    writeFile(dir / "file.txt", "x");
    for (const fs::path& p : {dir / "missing", dir / "file.txt"}) {
        try {
            vornakite::readFolder(p);
            ADD_FAILURE() << "no error for " << p.string();
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "Cannot read folder");
        }
    }
    EXPECT_FALSE(vornakite::isFolder(dir / "missing"));
    EXPECT_FALSE(vornakite::isFolder(dir / "file.txt"));
    EXPECT_TRUE(vornakite::isFolder(dir.path()));
}

TEST(LogFiles, ReadsFoldersPastTheClassicWindowsPathLimit) {
    ScratchDir dir;
    fs::path folder = dir.path();
    while (folder.u8string().size() < 300) {
        folder /= u8"Ernte_M\u00fcller_2026_Feld";
    }
    fs::create_directories(folder / "sub");
    writeFile(folder / "B.txt", "x");
    writeFile(folder / "a.Vornakite", "x");
    writeFile(folder / "sub" / "c.csv", "x");
    EXPECT_TRUE(vornakite::isFolder(folder));
    const auto logs = expandLogArguments({folder}, true);
    EXPECT_EQ(logs, (std::vector<fs::path>{folder / "a.Vornakite", folder / "B.txt",
                                           folder / "sub" / "c.csv"}));

    // The Windows runtime cannot remove such a tree whole, so it goes entry by entry.
    for (const fs::path& log : logs) {
        EXPECT_TRUE(fs::remove(log));
    }
    EXPECT_TRUE(fs::remove(folder / "sub"));
    for (fs::path level = folder; level != dir.path(); level = level.parent_path()) {
        EXPECT_TRUE(fs::remove(level));
    }
}
