#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it relies on.
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app_state.hpp"
#include "file_selection.hpp"
#include "test_support.hpp"
#include "window_fixture.hpp"

namespace fs = std::filesystem;
using namespace vornakite::app;
using apptest::listEntries;
using apptest::logLines;
using apptest::MainWindowTest;
using apptest::textOf;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

// A drop as Explorer hands it over: a DROPFILES block in movable global memory, followed by
// the wide paths, each ended by a null, and one more null.
HGLOBAL dropOf(const std::vector<std::wstring>& paths) {
    std::wstring list;
    for (const std::wstring& path : paths) {
        list += path;
        list += L'\0';
    }
    list += L'\0';
    const std::size_t listBytes = list.size() * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND | GMEM_SHARE, sizeof(DROPFILES) + listBytes);
    auto* block = static_cast<DROPFILES*>(GlobalLock(memory));
    block->pFiles = sizeof(DROPFILES);
    block->pt = POINT{100, 100};
    block->fNC = FALSE;
    block->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(block) + sizeof(DROPFILES), list.data(), listBytes);
    GlobalUnlock(memory);
    return memory;
}

// Posts the drop to the main window, as the system does, and lets the window handle it.
void drop(const std::vector<std::wstring>& paths) {
    ASSERT_TRUE(PostMessageW(hwndMain, WM_DROPFILES, reinterpret_cast<WPARAM>(dropOf(paths)), 0));
    apptest::pumpPending();
}

}  // namespace

TEST_F(MainWindowTest, AcceptsDroppedFiles) {
    EXPECT_NE(GetWindowLongW(hwndMain, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);
}

TEST_F(MainWindowTest, DroppedFilesBecomeTheSelectionAsAConfirmedDialogsDo) {
    replaceSelection({L"C:\\old\\earlier.Vornakite"});
    // Files are taken whatever their type, and whether or not they still exist.
    drop({L"C:\\Ernte 2026\\2026-10-01.Vornakite", L"\\\\farmserver\\logs\\east.csv",
          L"D:\\backup\\notes.md", L"D:\\backup\\2026-10-01.Vornakite"});
    EXPECT_EQ(selectedPaths,
              (std::vector<std::wstring>{L"C:\\Ernte 2026\\2026-10-01.Vornakite",
                                         L"\\\\farmserver\\logs\\east.csv", L"D:\\backup\\notes.md",
                                         L"D:\\backup\\2026-10-01.Vornakite"}));
    EXPECT_EQ(listEntries(), (std::vector<std::wstring>{L"2026-10-01.Vornakite", L"east.csv",
                                                        L"notes.md", L"2026-10-01.Vornakite"}));
    EXPECT_EQ(logLines(),
              (std::vector<std::wstring>{L"Selected 1 file(s)", L"Selected 4 file(s)"}));
    // Nothing else of the window changes.
    EXPECT_EQ(textOf(hwndStatus), L"");
    EXPECT_TRUE(IsWindowEnabled(hwndConvert));
}

TEST_F(MainWindowTest, DroppedFoldersAddTheLogFilesDirectlyInThemInNameOrder) {
    ScratchDir dir;
    fs::create_directories(dir / L"season" / L"older");
    for (const wchar_t* name :
         {L"b.TXT", L"A.csv", L"c.Vornakite", L"notes.md", L"set.shp", L"older\\d.Vornakite"}) {
        writeFile(dir / L"season" / name, "x");
    }
    fs::create_directories(dir / L"empty");
    const std::wstring season = (dir / L"season").wstring();
    const std::wstring single = (dir / L"single.txt").wstring();
    writeFile(single, "x");

    drop({single, season, (dir / L"empty").wstring(), single});

    EXPECT_EQ(selectedPaths,
              (std::vector<std::wstring>{single, season + L"\\A.csv", season + L"\\b.TXT",
                                         season + L"\\c.Vornakite", single}));
    EXPECT_EQ(listEntries(), (std::vector<std::wstring>{L"single.txt", L"A.csv", L"b.TXT",
                                                        L"c.Vornakite", L"single.txt"}));
    EXPECT_EQ(logLines(), (std::vector<std::wstring>{L"Selected 5 file(s)"}));

    // A folder without logs, like a confirmed empty choice, leaves nothing selected.
    drop({(dir / L"empty").wstring()});
    EXPECT_TRUE(selectedPaths.empty());
    EXPECT_TRUE(listEntries().empty());
    EXPECT_EQ(logLines().back(), L"Selected 0 file(s)");
}

TEST_F(MainWindowTest, ADroppedSelectionConvertsLikeAChosenOne) {
    ScratchDir dir;
    fs::create_directories(dir / L"logs");
    writeFile(dir / L"logs" / L"b.txt", testsupport::oneSampleLog("F@G@B"));
    writeFile(dir / L"logs" / L"a.Vornakite", testsupport::oneSampleLog("F@G@A"));
    drop({(dir / L"logs").wstring()});
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    SendMessageW(hwndMain, WM_COMMAND, MAKEWPARAM(IDC_CONVERT, BN_CLICKED), 0);
    const bool done = apptest::pumpUntil([] { return textOf(hwndStatus) == L"Done"; });
    fs::current_path(before);
    ASSERT_TRUE(done);
    EXPECT_EQ(logLines(),
              (std::vector<std::wstring>{L"Selected 2 file(s)", L"Processing a.Vornakite...",
                                         L"Processing b.txt...",
                                         L"Conversion complete: 2/2 files processed successfully. "
                                         L"Outputs in Rx."}));
    EXPECT_TRUE(fs::is_regular_file(dir / L"Rx" / L"F_G_A.shp"));
    EXPECT_TRUE(fs::is_regular_file(dir / L"Rx" / L"F_G_B.shp"));
}
