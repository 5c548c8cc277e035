#include <gtest/gtest.h>

#include "text/escape.hpp"
#include "text/text.hpp"
#include "text/utf8.hpp"

using vornakite::escape;
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

// Each scheme writes what its output wrote before the escapes were one: the --json lines, the
// report's script data, GeoJSON properties, HTML, the CSV writer's fields and summary.csv's.
TEST(Escape, EachSchemeWritesTheBytesOfItsOutput) {
    using vornakite::Escape;
    const struct {
        const char* in;
        const char *json, *script, *value, *html, *csv, *csvBytes;
    } cases[] = {
        {"", "\"\"", "\"\"", "\"\"", "", "", ""},
        {"a\"b\\c /", "\"a\\\"b\\\\c /\"", "\"a\\\"b\\\\c /\"", "\"a\\\"b\\\\c /\"",
         "a&quot;b\\c /", "\"a\"\"b\\c /\"", "\"a\"\"b\\c /\""},
        {"\x01\b\f\n\r\t\x1F", "\"\\u0001\\b\\f\\n\\r\\t\\u001f\"",
         "\"\\u0001\\u0008\\u000c\\u000a\\u000d\\u0009\\u001f\"",
         "\"\\u0001\\u0008\\u000c\\u000a\\u000d\\u0009\\u001f\"", "\x01\b\f\n\r\t\x1F",
         "\"\x01\b\f\n\r\t\x1F\"", "\"\x01\b\f\n\r\t\x1F\""},
        {"\x7F", "\"\\u007f\"", "\"\\u007f\"", "\"\x7F\"", "\x7F", "\x7F", "\x7F"},
        // C1 controls and a no-break space; the line and paragraph separators.
        {"\xC2\x80\xC2\x85\xC2\xA0", "\"\\u0080\\u0085\xC2\xA0\"", "\"\xC2\x80\xC2\x85\xC2\xA0\"",
         "\"\xC2\x80\xC2\x85\xC2\xA0\"", "\xC2\x80\xC2\x85\xC2\xA0", "\xC2\x80\xC2\x85\xC2\xA0",
         "\xC2\x80\xC2\x85\xC2\xA0"},
        {"\xE2\x80\xA8\xE2\x80\xA9", "\"\\u2028\\u2029\"", "\"\\u2028\\u2029\"",
         "\"\xE2\x80\xA8\xE2\x80\xA9\"", "\xE2\x80\xA8\xE2\x80\xA9", "\xE2\x80\xA8\xE2\x80\xA9",
         "\xE2\x80\xA8\xE2\x80\xA9"},
        // Invalid UTF-8: a stray byte, an overlong form, an encoded surrogate, a value above
        // U+10FFFF, a cut-off sequence; each byte on its own.
        {"x\xFEy", "\"x\\udcfey\"", "\"x\\ufffdy\"", "\"x\xEF\xBF\xBDy\"", "x\xFEy",
         "x\xEF\xBF\xBDy", "x\xFEy"},
        {"\xC0\xAF", "\"\\udcc0\\udcaf\"", "\"\\ufffd\\ufffd\"", "\"\xEF\xBF\xBD\xEF\xBF\xBD\"",
         "\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", "\xC0\xAF"},
        {"\xED\xA0\x80", "\"\\udced\\udca0\\udc80\"", "\"\\ufffd\\ufffd\\ufffd\"",
         "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"", "\xED\xA0\x80",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\xED\xA0\x80"},
        {"\xF4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\"", "\"\\ufffd\\ufffd\\ufffd\\ufffd\"",
         "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"", "\xF4\x90\x80\x80",
         "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", "\xF4\x90\x80\x80"},
        {"ok \xE2\x82", "\"ok \\udce2\\udc82\"", "\"ok \\ufffd\\ufffd\"",
         "\"ok \xEF\xBF\xBD\xEF\xBF\xBD\"", "ok \xE2\x82", "ok \xEF\xBF\xBD\xEF\xBF\xBD",
         "ok \xE2\x82"},
        // Valid sequences of four bytes, the highest code point among them.
        {"\xF0\x9F\x8C\xBD\xF4\x8F\xBF\xBF", "\"\xF0\x9F\x8C\xBD\xF4\x8F\xBF\xBF\"",
         "\"\xF0\x9F\x8C\xBD\xF4\x8F\xBF\xBF\"", "\"\xF0\x9F\x8C\xBD\xF4\x8F\xBF\xBF\"",
         "\xF0\x9F\x8C\xBD\xF4\x8F\xBF\xBF", "\xF0\x9F\x8C\xBD\xF4\x8F\xBF\xBF",
         "\xF0\x9F\x8C\xBD\xF4\x8F\xBF\xBF"},
        {"</script><b>&'x'", "\"</script><b>&'x'\"",
         "\"\\u003c/script\\u003e\\u003cb\\u003e\\u0026'x'\"", "\"</script><b>&'x'\"",
         "&lt;/script&gt;&lt;b&gt;&amp;&#39;x&#39;", "</script><b>&'x'", "</script><b>&'x'"},
        {"a,b", "\"a,b\"", "\"a,b\"", "\"a,b\"", "a,b", "\"a,b\"", "\"a,b\""},
        {"cr\r", "\"cr\\r\"", "\"cr\\u000d\"", "\"cr\\u000d\"", "cr\r", "\"cr\r\"", "\"cr\r\""},
        {"bad,\xFF\"", "\"bad,\\udcff\\\"\"", "\"bad,\\ufffd\\\"\"", "\"bad,\xEF\xBF\xBD\\\"\"",
         "bad,\xFF&quot;", "\"bad,\xEF\xBF\xBD\"\"\"", "\"bad,\xFF\"\"\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(escape(c.in, Escape::Json), c.json);
        EXPECT_EQ(escape(c.in, Escape::JsonInScript), c.script);
        EXPECT_EQ(escape(c.in, Escape::JsonValue), c.value);
        EXPECT_EQ(escape(c.in, Escape::Html), c.html);
        EXPECT_EQ(escape(c.in, Escape::Csv), c.csv);
        EXPECT_EQ(escape(c.in, Escape::CsvBytes), c.csvBytes);
        // A console line shows bytes as a path's text shows them: invalid ones as U+FFFD.
        std::wstring wide;
        vornakite::decodeUtf8(c.in, wide, true);
        EXPECT_EQ(escape(c.in, Escape::Console), escape(wide, Escape::Console));
    }
}

TEST(Escape, WideTextIsWrittenAsUtf8AndPairsSurrogates) {
    using vornakite::Escape;
    const std::wstring high(1, static_cast<wchar_t>(0xD800)), low(1, static_cast<wchar_t>(0xDC80));
    const std::wstring pair{static_cast<wchar_t>(0xD83C), static_cast<wchar_t>(0xDF3D)};
    const bool utf16 = sizeof(wchar_t) == 2;
    const struct {
        std::wstring in;
        std::string json, console;
    } cases[] = {
        {L"a\"b\\c", "\"a\\\"b\\\\c\"", "a\"b\\c"},
        {L"\x01\b\f\n\r\t\x1F\x7F\x85\x9F\xA0",
         "\"\\u0001\\b\\f\\n\\r\\t\\u001f\\u007f\\u0085\\u009f\xC2\xA0\"",
         "\\x01\\x08\\x0C\\n\\r\\t\\x1F\\x7F\\x85\\x9F\xC2\xA0"},
        {L"\u2028\u2029", "\"\\u2028\\u2029\"", "\\u2028\\u2029"},
        {high + L"x", "\"\\ud800x\"", "\xEF\xBF\xBDx"},
        {L"x" + low, "\"x\\udc80\"", "x\xEF\xBF\xBD"},
        {pair, utf16 ? "\"\xF0\x9F\x8C\xBD\"" : "\"\\ud83c\\udf3d\"",
         utf16 ? "\xF0\x9F\x8C\xBD" : "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {L"\u00FC\u5317<a>&", "\"\xC3\xBC\xE5\x8C\x97<a>&\"", "\xC3\xBC\xE5\x8C\x97<a>&"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escape(c.in, Escape::Json), c.json);
        EXPECT_EQ(escape(c.in, Escape::Console), c.console);
    }
    if constexpr (sizeof(wchar_t) == 4) {
        const std::wstring beyond(1, static_cast<wchar_t>(0x110000));
        EXPECT_EQ(escape(beyond, Escape::Json), "\"\xEF\xBF\xBD\"");
        EXPECT_EQ(escape(beyond, Escape::Console), "\xEF\xBF\xBD");
    }
}

TEST(Escape, CsvTextThatASpreadsheetWouldRunAsAFormulaStaysText) {
    using vornakite::Escape;
    const std::pair<const char*, const char*> cases[] = {
        {"=HYPERLINK(\"x\",\"y\")", "\"'=HYPERLINK(\"\"x\"\",\"\"y\"\")\""},
        {"+1+1", "'+1+1"},
        {"-5.0", "'-5.0"},
        {"@SUM(1)", "'@SUM(1)"},
        {"\tx", "'\tx"},
        {"\rx", "\"'\rx\""},
        {"a=b", "a=b"},
        {" =x", " =x"},
        {"\n=x", "\"\n=x\""},
        {"", ""}};
    for (const auto& [in, csv] : cases) {
        EXPECT_EQ(escape(in, Escape::Csv), csv) << in;
        EXPECT_EQ(escape(in, Escape::CsvBytes), csv) << in;
        EXPECT_EQ(escape(widenText(in), Escape::Csv), csv) << in;
        EXPECT_EQ(escape(in, Escape::Console).find('\''), std::string::npos);  // CSV only
    }
}
