#include <gtest/gtest.h>

#include "text/text.hpp"

using vornakite::fileNameOf;
using vornakite::toUtf8;
using vornakite::widenText;

TEST(FileName, TakesTheLastComponentUnderWindowsRules) {
    EXPECT_EQ(fileNameOf(L"C:\\Users\\ann\\logs\\2026-10-01.Vornakite"), L"2026-10-01.Vornakite");
    EXPECT_EQ(fileNameOf(L"C:/data/a.txt"), L"a.txt");
    EXPECT_EQ(fileNameOf(L"/home/ann/field.csv"), L"field.csv");
    EXPECT_EQ(fileNameOf(L"mixed/sep\\x.log"), L"x.log");
    EXPECT_EQ(fileNameOf(L"plain.log"), L"plain.log");
    EXPECT_EQ(fileNameOf(L"C:name.log"), L"name.log");
}

TEST(FileName, RootNamesAreNeverFileNames) {
    EXPECT_EQ(fileNameOf(L"C:"), L"");
    EXPECT_EQ(fileNameOf(L"C:\\"), L"");
    EXPECT_EQ(fileNameOf(L"\\\\server"), L"");
    EXPECT_EQ(fileNameOf(L"\\\\server\\share"), L"share");
    EXPECT_EQ(fileNameOf(L"\\\\server\\share\\a.log"), L"a.log");
    EXPECT_EQ(fileNameOf(L"\\\\?\\C:\\long\\a.log"), L"a.log");
    EXPECT_EQ(fileNameOf(L"\\\\.\\pipe"), L"pipe");
    EXPECT_EQ(fileNameOf(L"\\??\\C:\\b.log"), L"b.log");
    EXPECT_EQ(fileNameOf(L"folder\\"), L"");
    EXPECT_EQ(fileNameOf(L""), L"");
}

TEST(WidenText, DecodesValidUtf8) {
    EXPECT_EQ(widenText(""), L"");
    EXPECT_EQ(widenText("Cannot open file"), L"Cannot open file");
    EXPECT_EQ(widenText("Gr\xC3\xBCn \xE2\x82\xAC"), L"Gr\u00FCn \u20AC");
    EXPECT_EQ(widenText("\xF0\x9F\x8C\xBD"), std::wstring(L"\U0001F33D"));
}

#ifndef _WIN32
// Off Windows the fallback for text that is not UTF-8 is Windows-1252, byte by byte.
TEST(WidenText, FallsBackToWindows1252ForInvalidUtf8) {
    EXPECT_EQ(widenText("Gr\xFCn"), L"Gr\u00FCn");
    EXPECT_EQ(widenText("\x80 \x9F \x81"), L"\u20AC \u0178 \u0081");
    EXPECT_EQ(widenText("\xC0\xAF"), L"\u00C0\u00AF");            // overlong form
    EXPECT_EQ(widenText("\xED\xA0\x80"), L"\u00ED\u00A0\u20AC");  // encoded surrogate
    EXPECT_EQ(widenText("ok \xC3"), L"ok \u00C3");                // cut-off sequence
}

TEST(PathText, ReadsNativeBytesAsUtf8AndReplacesInvalidBytes) {
    EXPECT_EQ(vornakite::pathText("/tmp/Gr\xC3\xBCn.log"), L"/tmp/Gr\u00FCn.log");
    EXPECT_EQ(vornakite::pathText("/tmp/a\xFF"
                                  "b"),
              L"/tmp/a\uFFFDb");
}
#endif

TEST(ToUtf8, EncodesEveryPlaneAndReplacesLoneSurrogates) {
    EXPECT_EQ(toUtf8(L"Processing a.log..."), "Processing a.log...");
    EXPECT_EQ(toUtf8(L"\u00FC\u20AC"), "\xC3\xBC\xE2\x82\xAC");
    EXPECT_EQ(toUtf8(L"\U0001F33D"), "\xF0\x9F\x8C\xBD");
    std::wstring lone(1, static_cast<wchar_t>(0xD800));
    EXPECT_EQ(toUtf8(lone), "\xEF\xBF\xBD");
}
