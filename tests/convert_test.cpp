#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

#include "convert.hpp"
#include "test_support.hpp"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::RecordingSink;
using testsupport::ScratchDir;
using testsupport::writeFile;
using vornakite::BatchContext;
using vornakite::BatchNames;
using vornakite::convertFile;
using vornakite::outputBaseName;
using vornakite::sanitizeFileName;

namespace {

const std::string kSample = "DY@45@x@x@123456@153@1875@415000000@-975000000@a@b@c@d@e@562@z\r\n";

std::string logWithNames(const std::string& farm, const std::string& field,
                         const std::string& crop) {
    return "VK@1@2@3@4@5@" + farm + "@" + field + "@" + crop + "\r\n" + kSample + kSample;
}

const char* const kExtensions[] = {".shp", ".shx", ".dbf", ".prj", ".cpg"};

}  // namespace

TEST(SanitizeFileName, KeepsSafeCharactersAndReplacesEveryOtherOne) {
    EXPECT_EQ(sanitizeFileName(L"North Farm_Field 12/B_Corn"), L"North_Farm_Field_12_B_Corn");
    EXPECT_EQ(sanitizeFileName(L"a-b.c_D9"), L"a-b.c_D9");
    EXPECT_EQ(sanitizeFileName(L"C:\\x\t\u00E9"), L"C__x__");
    EXPECT_EQ(sanitizeFileName(L"__.._x_."), L"x_.");
    EXPECT_EQ(sanitizeFileName(L"_._"), L"");
    EXPECT_EQ(sanitizeFileName(L""), L"");
    EXPECT_EQ(sanitizeFileName(L"-1_1__"), L"1_1__");  // never taken for an option
    EXPECT_EQ(sanitizeFileName(L"_-.-x-"), L"x-");
}

TEST(OutputBaseName, JoinsHeaderFieldsSixToEight) {
    const fs::path log = "/logs/2026-10-01.Vornakite";
    EXPECT_EQ(outputBaseName("North Farm", "Field 12/B", "Corn", log),
              L"North_Farm_Field_12_B_Corn");
    EXPECT_EQ(outputBaseName("", "Field 7", "Soy", log), L"Field_7_Soy");
    EXPECT_EQ(outputBaseName("", "", "Soy", log), L"Soy");
    EXPECT_EQ(outputBaseName("Gr\xC3\xBCn", "F", "C", log), L"Gr__n_F_C");  // two UTF-8 bytes
    EXPECT_EQ(outputBaseName("A", "B", "Corn.", log), L"A_B_Corn.");
}

TEST(OutputBaseName, IsCutSoThatEveryFileOfTheSetHasAValidName) {
    const std::wstring name = outputBaseName(std::string(300, 'a'), "b", "c", "/x.txt");
    EXPECT_EQ(name, std::wstring(vornakite::kMaxBaseNameLength, L'a'));
    EXPECT_LE(name.size() + std::wstring_view(L"_99_removed.geojson").size(), 255u);
}

TEST(OutputBaseName, FallsBackToTheLogsFileNameWhenTheHeaderGivesNone) {
    EXPECT_EQ(outputBaseName("", "", "", "/logs/2026-10-01.Vornakite"), L"2026-10-01");
    EXPECT_EQ(outputBaseName("\xE5\x8C\x97", "//", "..", "C:\\logs\\east.field.txt"),
              L"east.field");
    EXPECT_EQ(outputBaseName("", "", "", "/logs/\xE5\x8C\x97.txt"), L"yield");
    EXPECT_EQ(outputBaseName("", "", "", "/logs/.Vornakite"), L"Vornakite");
}

TEST(OutputBaseName, NeverNamesAWindowsDevice) {
    // Windows reads a device name up to the first full stop, so the '_' goes there.
    const fs::path log = "/logs/a.txt";
    const struct {
        const char* field8;
        const wchar_t* name;
    } cases[] = {
        {"CON", L"CON_"},         {"nul.x", L"nul_.x"},    {"NUL.farm__", L"NUL_.farm__"},
        {"aux.1_", L"aux_.1_"},   {"Com7", L"Com7_"},      {"LPT0", L"LPT0_"},
        {"com1..x", L"com1_..x"}, {"CONSOLE", L"CONSOLE"}, {"COM10", L"COM10"},
        {"nulx.y", L"nulx.y"},    {"x.nul", L"x.nul"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(outputBaseName("", "", c.field8, log), c.name) << c.field8;
    }
    EXPECT_EQ(outputBaseName("", "", "", "/logs/aux.log"), L"aux_");
}

TEST(BatchNames, GivesLaterLogsTheSmallestFreeNumberIgnoringCase) {
    BatchNames names;
    EXPECT_EQ(names.claim(L"Farm_F_Corn"), L"Farm_F_Corn");
    EXPECT_EQ(names.claim(L"farm_f_CORN"), L"farm_f_CORN_2");
    EXPECT_EQ(names.claim(L"Farm_F_Corn"), L"Farm_F_Corn_3");
    EXPECT_EQ(names.claim(L"Other"), L"Other");
    EXPECT_EQ(names.claim(L"Farm_F_Corn_2"), L"Farm_F_Corn_2_2");

    // A header that itself gives a suffixed name takes that number out of the sequence.
    BatchNames season;
    EXPECT_EQ(season.claim(L"X_3"), L"X_3");
    std::vector<std::wstring> got;
    for (int i = 0; i < 10000; ++i) {
        got.push_back(season.claim(i % 2 ? L"x" : L"X"));
    }
    EXPECT_EQ(got[0], L"X");
    EXPECT_EQ(got[1], L"x_2");
    EXPECT_EQ(got[2], L"X_4");
    EXPECT_EQ(got.back(), L"x_10001");
}

TEST(ConvertFile, WritesTheFiveFilesOfALogAndPostsNothing) {
    ScratchDir dir;
    writeFile(dir / "a.Vornakite", logWithNames("North Farm", "Field 12/B", "Corn"));
    RecordingSink sink;
    BatchContext batch;
    const fs::path out = dir / "nested" / "Rx";
    ASSERT_TRUE(convertFile(dir / "a.Vornakite", out, sink, batch));
    EXPECT_TRUE(sink.lines.empty());

    const fs::path base = out / "North_Farm_Field_12_B_Corn";
    EXPECT_EQ(fs::file_size(base.string() + ".shp"), 100u + 28 * 2);
    EXPECT_EQ(fs::file_size(base.string() + ".shx"), 100u + 8 * 2);
    EXPECT_EQ(fs::file_size(base.string() + ".dbf"), 194u + 41 * 2);
    EXPECT_EQ(readFile(base.string() + ".prj"), std::string(vornakite::kWgs84Prj));
    EXPECT_EQ(fs::file_size(base.string() + ".prj"), 131u);
    EXPECT_EQ(readFile(base.string() + ".cpg"), "UTF-8");
}

TEST(ConvertFile, AppendsExtensionsToANameEndingInAFullStop) {
    ScratchDir dir;
    writeFile(dir / "a.log", logWithNames("A", "B", "Corn."));
    RecordingSink sink;
    BatchContext batch;
    ASSERT_TRUE(convertFile(dir / "a.log", dir / "Rx", sink, batch));
    EXPECT_TRUE(fs::exists(dir / "Rx" / "A_B_Corn..prj"));
    EXPECT_TRUE(fs::exists(dir / "Rx" / "A_B_Corn..shp"));
}

TEST(ConvertFile, ALogThatFailsToReadLeavesNothingAndCreatesNoFolder) {
    ScratchDir dir;
    writeFile(dir / "bad.log", "VK@1@2@3@4@5@F@G@H\nDY@1@2@3@4@5@6@@8@9@10@11@12@13@14@15\n");
    RecordingSink sink;
    BatchContext batch;
    EXPECT_FALSE(convertFile(dir / "bad.log", dir / "Rx", sink, batch));
    EXPECT_EQ(sink.lines, std::vector<std::wstring>{L"Error: invalid stod argument"});
    EXPECT_FALSE(fs::exists(dir / "Rx"));
    EXPECT_EQ(batch.names.claim(L"F_G_H"), L"F_G_H");  // the failed log claimed no name

    EXPECT_FALSE(convertFile(dir / "missing.log", dir / "Rx", sink, batch));
    EXPECT_EQ(sink.lines.back(), L"Error: Cannot open file");
}

TEST(ConvertFile, ReportsAnOutputFolderThatIsAFile) {
    ScratchDir dir;
    writeFile(dir / "a.log", logWithNames("F", "G", "H"));
    writeFile(dir / "Rx", "not a folder");
    RecordingSink sink;
    BatchContext batch;
    EXPECT_FALSE(convertFile(dir / "a.log", dir / "Rx" / "sub", sink, batch));
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0].rfind(L"Error: create_directories: ", 0), 0u);
    EXPECT_NE(sink.lines[0].find(L"Rx"), std::wstring::npos);
    EXPECT_EQ(readFile(dir / "Rx"), "not a folder");
}

TEST(ConvertFile, ASideFileThatCannotBePlacedFailsTheWholeSet) {
    ScratchDir dir;
    writeFile(dir / "a.log", logWithNames("F", "G", "H"));
    fs::create_directories(dir / "Rx" / "F_G_H.prj");
    RecordingSink sink;
    BatchContext batch;
    EXPECT_FALSE(convertFile(dir / "a.log", dir / "Rx", sink, batch));
    EXPECT_EQ(sink.lines,
              std::vector<std::wstring>{L"Error: Failed to write projection or code page file"});
    EXPECT_TRUE(fs::is_directory(dir / "Rx" / "F_G_H.prj"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "Rx"), fs::directory_iterator()), 1);
}

TEST(ConvertFile, ReplacesTheOutputsOfAnEarlierConversion) {
    ScratchDir dir;
    writeFile(dir / "a.log", logWithNames("F", "G", "H"));
    RecordingSink sink;
    {
        BatchContext batch;
        ASSERT_TRUE(convertFile(dir / "a.log", dir / "Rx", sink, batch));
    }
    writeFile(dir / "a.log", "VK@1@2@3@4@5@F@G@H\n" + kSample);
    BatchContext batch;
    ASSERT_TRUE(convertFile(dir / "a.log", dir / "Rx", sink, batch));
    EXPECT_EQ(fs::file_size(dir / "Rx" / "F_G_H.shp"), 128u);
    EXPECT_EQ(fs::file_size(dir / "Rx" / "F_G_H.dbf"), 235u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "Rx"), fs::directory_iterator()), 5);
}

TEST(ConvertFile, CleaningAddsTheKeptAndRemovedSetsAndLeavesTheStandardSetAsItWas) {
    // One straight pass of 60 samples about 2 m apart, three of them with zero yield.
    std::string log = "VK@1@2@3@4@5@F@G@H\n";
    for (int i = 0; i < 60; ++i) {
        const int yield = (i == 20 || i == 30 || i == 40) ? 0 : 1800 + (i * 37) % 90;
        log += "DY@45@x@x@123456@153@" + std::to_string(yield) + "@" +
               std::to_string(415000000 + 180 * i) + "@-975000000@a@b@c@d@e@562@z\n";
    }
    ScratchDir dir;
    writeFile(dir / "a.log", log);
    RecordingSink plainSink;
    BatchContext plain;
    ASSERT_TRUE(convertFile(dir / "a.log", dir / "plain", plainSink, plain));

    RecordingSink sink;
    BatchContext cleaning;
    cleaning.options.cleaning.emplace();
    ASSERT_TRUE(convertFile(dir / "a.log", dir / "Rx", sink, cleaning));
    for (const char* ext : kExtensions) {
        EXPECT_EQ(readFile(dir / "Rx" / (std::string("F_G_H") + ext)),
                  readFile(dir / "plain" / (std::string("F_G_H") + ext)))
            << ext;
        EXPECT_TRUE(fs::exists(dir / "Rx" / (std::string("F_G_H_clean") + ext))) << ext;
        EXPECT_TRUE(fs::exists(dir / "Rx" / (std::string("F_G_H_removed") + ext))) << ext;
    }
    EXPECT_EQ(fs::file_size(dir / "Rx" / "F_G_H_clean.shp"), 100u + 28 * 57);
    const std::string removed = readFile(dir / "Rx" / "F_G_H_removed.dbf");
    // One more descriptor (a header of 225 bytes), records of 41 + 64 bytes, the end marker.
    ASSERT_EQ(removed.size(), 225u + 3 * 105 + 1);
    EXPECT_EQ(removed.substr(192, 11), std::string("Reason\0\0\0\0\0", 11));
    EXPECT_EQ(removed[192 + 11], 'C');
    EXPECT_EQ(static_cast<unsigned char>(removed[192 + 16]), 64u);
    EXPECT_EQ(removed.substr(225 + 41, 5), "ZERO ");
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0].rfind(L"Cleaning: kept 57 of 60 points", 0), 0u) << sink.lines[0];
}

TEST(ConvertFile, TheCallersWorkBesideTheWritingGetsTheFieldsNumbersWhenItAwaitsThem) {
    std::string log = "VK@1@2@3@4@5@F@G@Corn\n";
    for (int i = 0; i < 60; ++i) {
        log += "DY@45@x@x@123456@153@" + std::to_string(1800 + (i * 37) % 90) + "@" +
               std::to_string(415000000 + 180 * i) + "@-975000000@a@b@c@d@e@562@z\n";
    }
    ScratchDir dir;
    writeFile(dir / "a.log", log);
    RecordingSink sink;
    BatchContext batch;
    batch.options.cleaning.emplace();
    int calls = 0;
    bool numbersAfterWaiting = false;
    batch.options.whileWriting = [&](const fs::path&, const vornakite::AnalysedLog& analysed,
                                     const std::function<void()>& awaitNumbers) {
        ++calls;
        awaitNumbers();
        numbersAfterWaiting = analysed.numbers.has_value();
    };
    ASSERT_TRUE(convertFile(dir / "a.log", dir / "Rx", sink, batch));
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(numbersAfterWaiting);
}
