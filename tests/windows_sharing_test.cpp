// Files that another program holds open, as Windows shares them.
#include <gtest/gtest.h>
#include <windows.h>

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

TEST(FileSharing, AnOutputHeldWithoutSharingFailsWithOneErrorLine) {
    for (const char* extension : {".shp", ".shx", ".dbf", ".prj", ".cpg"}) {
        SCOPED_TRACE(extension);
        ScratchDir dir;
        writeFile(dir / "a.Vornakite", kLog);
        fs::create_directories(dir / "Rx");
        HeldOpen other(dir / "Rx" / (std::string("Farm_Field_Corn") + extension), GENERIC_READ, 0);
        ASSERT_TRUE(other.ok());
        const auto lines = convert(dir / "a.Vornakite", dir / "Rx");
        ASSERT_EQ(lines.size(), 3u);
        const bool sideFile = extension == std::string(".prj") || extension == std::string(".cpg");
        EXPECT_EQ(lines[1], sideFile ? L"Error: Failed to write projection or code page file"
                                     : L"Error: Failed to create shapefile outputs");
        EXPECT_EQ(lines[2],
                  L"Conversion complete: 0/1 files processed successfully. Outputs in Rx.");
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
