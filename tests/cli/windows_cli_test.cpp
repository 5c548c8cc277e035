// vornakite-convert.exe itself, started as Windows starts it: arguments with wildcards, output
// to a console and to a file, folders past the 260-character path limit.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace fs = std::filesystem;
using testsupport::oneSampleLog;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

// The converter beside this test's folder: build\cli\ next to build\tests\.
fs::path converterPath() {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return fs::path(self).parent_path().parent_path() / L"cli" / L"vornakite-convert.exe";
}

// One argument quoted as the C runtime reads it back.
std::wstring quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

// Runs the converter in `folder` with its standard output on `output`; its exit status.
DWORD runConverter(const std::vector<std::wstring>& arguments, const fs::path& folder,
                   HANDLE output) {
    std::wstring commandLine = quoted(converterPath().native());
    for (const std::wstring& argument : arguments) {
        commandLine += L" " + quoted(argument);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
        ADD_FAILURE() << "cannot start " << converterPath().string();
        return 99;
    }
    WaitForSingleObject(process.hProcess, 120000);
    DWORD status = 99;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return status;
}

struct Finished {
    DWORD status;
    std::string output;  // the bytes written
};

// Runs the converter with its standard output going to a file.
Finished runToFile(const std::vector<std::wstring>& arguments, const ScratchDir& dir,
                   const fs::path& folder) {
    const fs::path outputPath = dir / L"output.bin";
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE file = CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    const DWORD status = runConverter(arguments, folder, file);
    CloseHandle(file);
    return {status, readFile(outputPath)};
}

std::string summary(int ok, int total) {
    return "Conversion complete: " + std::to_string(ok) + "/" + std::to_string(total) +
           " files processed successfully. Outputs in Rx.\n";
}

}  // namespace

TEST(WindowsConverter, ExpandsWildcardsInNameOrderAndKeepsAPatternThatMatchesNothing) {
    ScratchDir dir;
    fs::create_directories(dir / L"season" / L"late");
    int field = 0;
    for (const wchar_t* name : {L"b.Vornakite", L"A.Vornakite", L"c.txt", L"late\\d.Vornakite",
                                L"late\\E.VORNAKITE", L"notes.md"}) {
        writeFile(dir / L"season" / name, oneSampleLog("F@G@" + std::to_string(field++)));
    }
    const Finished run =
        runToFile({L"*.Vornakite", L"nothing*.Vornakite", L"l?te\\*", L"-q", L"--", L"-o"}, dir,
                  dir / L"season");
    EXPECT_EQ(run.status, 1u);
    EXPECT_EQ(run.output,
              "Error: nothing*.Vornakite: Cannot open file\n"
              "Error: -o: Cannot open file\n" +
                  summary(4, 6));

    const Finished lines = runToFile({L"?.vornakite", L"late"}, dir, dir / L"season");
    EXPECT_EQ(lines.status, 0u);
    EXPECT_EQ(lines.output,
              "Processing A.Vornakite...\nProcessing b.Vornakite...\nProcessing d.Vornakite...\n"
              "Processing E.VORNAKITE...\n" +
                  summary(4, 4));
}

TEST(WindowsConverter, WritesUtf8ToFilesAndWideTextToAConsole) {
    ScratchDir dir;
    const std::wstring name = L"Fl\u00e4che_S\u00fcd_\u5317_\u0141\u00f3d\u017a.Vornakite";
    writeFile(dir / name, oneSampleLog("F@G@C"));

    const Finished toFile = runToFile({name}, dir, dir.path());
    EXPECT_EQ(toFile.status, 0u);
    EXPECT_EQ(toFile.output,
              "Processing Fl\xc3\xa4"
              "che_S\xc3\xbc"
              "d_\xe5\x8c\x97_\xc5\x81\xc3\xb3"
              "d\xc5\xba.Vornakite...\n" +
                  summary(1, 1));

    // A console of this process's own (Wine starts it with a stand-in that has no screen),
    // whose screen is read back character by character. The test's own output stays where
    // it goes.
    const HANDLE standard[] = {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE),
                               GetStdHandle(STD_ERROR_HANDLE)};
    FreeConsole();
    const bool allocated = AllocConsole() != FALSE;
    SetStdHandle(STD_INPUT_HANDLE, standard[0]);
    SetStdHandle(STD_OUTPUT_HANDLE, standard[1]);
    SetStdHandle(STD_ERROR_HANDLE, standard[2]);
    ASSERT_TRUE(allocated);
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE screen =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  &inherit, CONSOLE_TEXTMODE_BUFFER, nullptr);
    ASSERT_NE(screen, INVALID_HANDLE_VALUE);
    EXPECT_EQ(runConverter({name}, dir.path(), screen), 0u);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
    std::vector<std::wstring> rows;
    for (SHORT row = 0; row < 2; ++row) {
        std::wstring text(static_cast<std::size_t>(info.dwSize.X), L'\0');
        DWORD read = 0;
        ReadConsoleOutputCharacterW(screen, text.data(), static_cast<DWORD>(text.size()),
                                    COORD{0, row}, &read);
        text.resize(read);
        text.erase(text.find_last_not_of(L' ') + 1);
        rows.push_back(text);
    }
    CloseHandle(screen);
    FreeConsole();
    EXPECT_EQ(rows[0], L"Processing " + name + L"...");
    EXPECT_EQ(rows[1].substr(0, 22), L"Conversion complete: 1");
}

TEST(WindowsConverter, TakesFoldersAndWildcardsPastTheClassicPathLimit) {
    ScratchDir dir;
    fs::path folder = dir.path();
    while (folder.native().size() < 300) {
        folder /= L"Ernte_M\u00fcller_2026_Feld";
    }
    fs::create_directories(folder);
    writeFile(folder / L"b.txt", oneSampleLog("F@G@B"));
    writeFile(folder / L"A.csv", oneSampleLog("F@G@A"));
    const Finished run =
        runToFile({L"-o", (dir / L"Rx").native(), folder.native(), folder.native() + L"\\*.txt"},
                  dir, dir.path());
    EXPECT_EQ(run.status, 0u);
    EXPECT_EQ(run.output,
              "Processing A.csv...\nProcessing b.txt...\nProcessing b.txt...\n"
              "Conversion complete: 3/3 files processed successfully. Outputs in " +
                  (dir / "Rx").string() + ".\n");
    EXPECT_TRUE(fs::remove(folder / L"b.txt"));
    EXPECT_TRUE(fs::remove(folder / L"A.csv"));
    for (fs::path level = folder; level != dir.path(); level = level.parent_path()) {
        EXPECT_TRUE(fs::remove(level));
    }
}
