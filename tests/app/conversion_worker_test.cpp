#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "app_state.hpp"
#include "conversion_worker.hpp"
#include "test_support.hpp"
#include "window_fixture.hpp"

namespace fs = std::filesystem;
using namespace vornakite::app;
using apptest::logLines;
using apptest::MainWindowTest;
using apptest::pumpUntil;
using apptest::textOf;
using testsupport::oneSampleLog;
using testsupport::ScratchDir;
using testsupport::writeFile;

// Live heap blocks of this program, to show that a line nobody receives is freed.
static std::atomic<long> liveBlocks{0};

void* operator new(std::size_t size) {
    if (void* block = std::malloc(size == 0 ? 1 : size)) {
        ++liveBlocks;
        return block;
    }
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    if (block != nullptr) {
        --liveBlocks;
        std::free(block);
    }
}
void operator delete(void* block, std::size_t) noexcept {
    operator delete(block);
}

namespace {

bool isDone() {
    return textOf(hwndStatus) == L"Done";
}

class ConversionTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        previousDirectory_ = fs::current_path();
        fs::current_path(dir_.path());
    }
    void TearDown() override {
        // Leave no batch behind that could post into the next test's window.
        pumpUntil([] { return runningWorkers() == 0; });
        fs::current_path(previousDirectory_);
        MainWindowTest::TearDown();
    }
    ScratchDir dir_;
    fs::path previousDirectory_;
};

}  // namespace

TEST_F(ConversionTest, ARealBatchShowsItsLinesInOrderEndsInDoneAndWritesTheSets) {
    fs::create_directories(dir_ / "in");
    writeFile(dir_ / "in" / "a.Vornakite", oneSampleLog("North@Field 12@Corn"));
    // Header bytes are not decoded: each byte of "ü" becomes one '_'.
    writeFile(dir_ / "in" / L"Feld_Müller.txt", oneSampleLog("Hof@Müller@Weizen"));
    selectedPaths = {(dir_ / "in" / "a.Vornakite").wstring(), (dir_ / "in" / "gone.csv").wstring(),
                     (dir_ / "in" / L"Feld_Müller.txt").wstring()};

    SendMessageW(hwndMain, WM_COMMAND, MAKEWPARAM(IDC_CONVERT, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindowEnabled(hwndConvert));
    EXPECT_EQ(textOf(hwndStatus), L"Converting files...");
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(hwndMain, IDC_SELECT_FILES)));

    ASSERT_TRUE(pumpUntil(isDone));
    EXPECT_TRUE(IsWindowEnabled(hwndConvert));
    EXPECT_EQ(logLines(),
              (std::vector<std::wstring>{
                  L"Processing a.Vornakite...",
                  L"Processing gone.csv...",
                  L"Error: Cannot open file",
                  L"Processing Feld_Müller.txt...",
                  L"Conversion complete: 2/3 files processed successfully. Outputs in Rx.",
              }));
    for (const char* base : {"North_Field_12_Corn", "Hof_M__ller_Weizen"}) {
        for (const char* extension : {".shp", ".shx", ".dbf", ".prj", ".cpg"}) {
            EXPECT_TRUE(fs::is_regular_file(dir_ / "Rx" / (std::string(base) + extension)))
                << base << extension;
        }
    }
    EXPECT_EQ(fs::file_size(dir_ / "Rx" / "North_Field_12_Corn.shp"), 100u + 28u);
}

TEST_F(ConversionTest, TwoBatchesFollowEachOtherInTheSameLog) {
    writeFile(dir_ / "a.Vornakite", oneSampleLog("A@B@C"));
    selectedPaths = {(dir_ / "a.Vornakite").wstring()};
    for (int batch = 0; batch < 2; ++batch) {
        SendMessageW(hwndMain, WM_COMMAND, IDC_CONVERT, 0);
        ASSERT_TRUE(pumpUntil([] { return IsWindowEnabled(hwndConvert) != FALSE; }));
    }
    const std::wstring summary =
        L"Conversion complete: 1/1 files processed successfully. Outputs in Rx.";
    EXPECT_EQ(logLines(), (std::vector<std::wstring>{L"Processing a.Vornakite...", summary,
                                                     L"Processing a.Vornakite...", summary}));
}

TEST_F(ConversionTest, ASelectionMadeDuringABatchIsLeftForTheNextBatch) {
    writeFile(dir_ / "a.Vornakite", oneSampleLog("A@B@C"));
    writeFile(dir_ / "b.Vornakite", oneSampleLog("D@E@F"));
    selectedPaths = {(dir_ / "a.Vornakite").wstring(), (dir_ / "b.Vornakite").wstring()};
    SendMessageW(hwndMain, WM_COMMAND, IDC_CONVERT, 0);
    // What a confirmed dialog does while the worker runs.
    selectedPaths = {L"x1", L"x2", L"x3", L"x4", L"x5"};
    ASSERT_TRUE(pumpUntil(isDone));
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], L"Processing b.Vornakite...");
    EXPECT_EQ(lines[2], L"Conversion complete: 2/2 files processed successfully. Outputs in Rx.");
    EXPECT_EQ(selectedPaths.size(), 5u);
}

TEST_F(ConversionTest, OutputsGoIntoRxUnderTheCurrentDirectoryOfEachPress) {
    writeFile(dir_ / "a.Vornakite", oneSampleLog("A@B@C"));
    selectedPaths = {(dir_ / "a.Vornakite").wstring()};
    fs::create_directories(dir_ / "second");
    for (const fs::path& current : {dir_.path(), dir_ / "second"}) {
        fs::current_path(current);
        SendMessageW(hwndMain, WM_COMMAND, IDC_CONVERT, 0);
        ASSERT_TRUE(pumpUntil([] { return IsWindowEnabled(hwndConvert) != FALSE; }));
        EXPECT_TRUE(fs::is_regular_file(current / "Rx" / "A_B_C.dbf")) << current;
    }
}

TEST(OutputFolder, IsTheCurrentDirectoryJoinedWithRxByWindowsRules) {
    EXPECT_EQ(outputFolderFor(L"C:\\work\\season"), L"C:\\work\\season\\Rx");
    EXPECT_EQ(outputFolderFor(L"C:\\"), L"C:\\Rx");
    EXPECT_EQ(outputFolderFor(L"D:\\Daten\\"), L"D:\\Daten\\Rx");
    EXPECT_EQ(outputFolderFor(L"\\\\server\\share\\Ernte"), L"\\\\server\\share\\Ernte\\Rx");
}

TEST_F(ConversionTest, AThreadThatCannotStartIsReportedAndTheWindowReturnsToIdle) {
    selectedPaths = {L"C:\\logs\\a.Vornakite"};
    SetWindowTextW(hwndStatus, L"Done");
    ConversionEnvironment environment = systemEnvironment();
    environment.startDetached = [](std::function<void()>) {
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "thread");
    };
    startConversion(environment);
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(L"Error: thread", 0), 0u) << lines[0].c_str();
    EXPECT_TRUE(IsWindowEnabled(hwndConvert));
    EXPECT_EQ(textOf(hwndStatus), L"Done");
    EXPECT_EQ(runningWorkers(), 0);
}

TEST_F(ConversionTest, ACurrentDirectoryThatCannotBeReadIsReportedAndNoThreadStarts) {
    selectedPaths = {L"C:\\logs\\a.Vornakite"};
    ConversionEnvironment environment = systemEnvironment();
    bool started = false;
    environment.currentDirectory = []() -> fs::path {
        throw fs::filesystem_error("current_path",
                                   std::make_error_code(std::errc::no_such_file_or_directory));
    };
    environment.startDetached = [&](std::function<void()>) { started = true; };
    startConversion(environment);
    EXPECT_FALSE(started);
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(L"Error: ", 0), 0u);
    EXPECT_NE(lines[0].find(L"current_path"), std::wstring::npos) << lines[0].c_str();
    EXPECT_TRUE(IsWindowEnabled(hwndConvert));
    EXPECT_EQ(textOf(hwndStatus), L"");
}

TEST_F(MainWindowTest, WindowSinkPostsLinesAndTheEndInCallOrder) {
    WindowProgressSink sink(hwndMain);
    EnableWindow(hwndConvert, FALSE);
    sink.postLine(L"one");
    sink.postLine(L"");
    sink.postLine(L"three");
    sink.postBatchDone(-4);
    EXPECT_EQ(textOf(hwndLog), L"") << "posted, not sent";
    ASSERT_TRUE(pumpUntil(isDone));
    EXPECT_EQ(logLines(), (std::vector<std::wstring>{L"one", L"", L"three"}));
    EXPECT_TRUE(IsWindowEnabled(hwndConvert));
}

TEST(WindowProgressSink, FreesALineThatCannotBePosted) {
    HWND gone =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(gone, nullptr);
    DestroyWindow(gone);
    WindowProgressSink sink(gone);
    const std::wstring text(200, L'x');  // never fits a short-string buffer
    const long before = liveBlocks;
    sink.postLine(text);
    sink.postBatchDone(1);
    EXPECT_EQ(liveBlocks, before);
}
