// Files that another program holds open, as Windows shares them.
#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <map>
#include <string>

#include "batch.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;
using testsupport::RecordingSink;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

const std::string kLog =
    "VK@1@2@3@4@5@Farm@Field@Corn\r\n"
    "DY@45@x@x@123456@153@1875@415000000@-975000000@a@b@c@d@e@562@z\r\n";

// Another program's handle on a file, with the given sharing.
class HeldOpen {
  public:
    HeldOpen(const fs::path& path, DWORD access, DWORD share)
        : handle_(CreateFileW(path.c_str(), access, share, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~HeldOpen() { CloseHandle(handle_); }
    HeldOpen(const HeldOpen&) = delete;
    HeldOpen& operator=(const HeldOpen&) = delete;
    bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

std::vector<std::wstring> convert(const fs::path& log, const fs::path& output) {
    RecordingSink sink;
    vornakite::runConversionBatch({log}, output, L"Rx", sink);
    return sink.lines;
}

}  // namespace

const char* const kExtensions[] = {".shp", ".shx", ".dbf", ".prj", ".cpg"};

std::map<std::string, std::string> filesOf(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = testsupport::readFile(entry.path());
    }
    return files;
}

TEST(FileSharing, AnOutputHeldWithoutSharingFailsAndTheEarlierSetStaysWhole) {
    for (const char* extension : kExtensions) {
        SCOPED_TRACE(extension);
        ScratchDir dir;
        writeFile(dir / "a.Vornakite", kLog);
        ASSERT_EQ(convert(dir / "a.Vornakite", dir / "Rx").size(), 2u);
        const auto before = filesOf(dir / "Rx");
        writeFile(dir / "b.Vornakite", kLog + kLog.substr(kLog.find("DY")));
        {
            // As a GIS program holds a layer it shows.
            HeldOpen other(dir / "Rx" / (std::string("Farm_Field_Corn") + extension), GENERIC_READ,
                           FILE_SHARE_READ);
            ASSERT_TRUE(other.ok());
            const auto lines = convert(dir / "b.Vornakite", dir / "Rx");
            ASSERT_EQ(lines.size(), 3u);
            const bool sideFile =
                extension == std::string(".prj") || extension == std::string(".cpg");
            EXPECT_EQ(lines[1], sideFile ? L"Error: Failed to write projection or code page file"
                                         : L"Error: Failed to create shapefile outputs");
            EXPECT_EQ(lines[2],
                      L"Conversion complete: 0/1 files processed successfully. Outputs in Rx.");
        }
        EXPECT_EQ(filesOf(dir / "Rx"), before);
    }
}

TEST(FileSharing, AReadOnlyOutputIsKept) {
    ScratchDir dir;
    writeFile(dir / "a.Vornakite", kLog);
    ASSERT_EQ(convert(dir / "a.Vornakite", dir / "Rx").size(), 2u);
    const fs::path dbf = dir / "Rx" / "Farm_Field_Corn.dbf";
    ASSERT_TRUE(SetFileAttributesW(dbf.c_str(), FILE_ATTRIBUTE_READONLY));
    const auto before = filesOf(dir / "Rx");
    const auto lines = convert(dir / "a.Vornakite", dir / "Rx");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], L"Error: Failed to create shapefile outputs");
    EXPECT_EQ(filesOf(dir / "Rx"), before);
    SetFileAttributesW(dbf.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FileSharing, DevicesAndPipesAreNeverReadAsLogs) {
    ScratchDir dir;
    for (const wchar_t* name : {L"aux.Vornakite", L"NUL", L"con.txt", L"COM1.csv", L"lpt1 .log",
                                L"\\\\.\\pipe\\vornakite-test", L"CONIN$"}) {
        SCOPED_TRACE(testing::Message() << std::string(name, name + wcslen(name)));
        const fs::path log = std::wstring(name).starts_with(L"\\\\") ? fs::path(name) : dir / name;
        const auto lines = convert(log, dir / "Rx");
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[1], L"Error: Cannot open file");
    }
}

TEST(FileSharing, ASetNamedLikeADeviceIsWrittenAsFiles) {
    ScratchDir dir;
    writeFile(dir / "a.Vornakite", "VK@1@2@3@4@5@@NUL.farm@_\r\n" + kLog.substr(kLog.find("DY")));
    ASSERT_EQ(convert(dir / "a.Vornakite", dir / "Rx").size(), 2u);
    for (const char* extension : kExtensions) {
        EXPECT_TRUE(fs::is_regular_file(dir / "Rx" / (std::string("NUL_.farm__") + extension)))
            << extension;
    }
}

TEST(FileSharing, ALogStillBeingWrittenIsReadWhileALockedOneCannotBeOpened) {
    ScratchDir dir;
    writeFile(dir / "copying.Vornakite", kLog);
    {
        // A copier that lets others read, as Explorer and most sync programs do.
        HeldOpen writer(dir / "copying.Vornakite", GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE);
        ASSERT_TRUE(writer.ok());
        EXPECT_EQ(convert(dir / "copying.Vornakite", dir / "Rx").size(), 2u);
    }
    HeldOpen locked(dir / "copying.Vornakite", GENERIC_READ, 0);
    ASSERT_TRUE(locked.ok());
    const auto lines = convert(dir / "copying.Vornakite", dir / "Rx2");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], L"Error: Cannot open file");
}
