// Text as it stands in each kind of output the system writes: one escaper with a scheme per kind.
// Each scheme keeps the bytes of the output it serves; where two outputs differ in a policy that
// no reader of them notices, both are kept as schemes of their own, so that no output changes.
#pragma once

#include <string>
#include <string_view>

namespace vornakite {

enum class Escape {
    // A JSON string literal, quotes included, that keeps a --json object on one line: \" \\ \n \r
    // \t \b \f, other controls, DEL, C1 controls, U+2028/9 and unpaired surrogates as \uXXXX; a
    // byte that is not valid UTF-8 as \udcXX, which Python's os.fsencode turns back into the byte.
    Json,
    // A JSON string literal, quotes included, safe inside an HTML <script>: \" \\, controls, DEL,
    // < > & and U+2028/9 as \uXXXX; a byte that is not valid UTF-8 as \ufffd.
    JsonInScript,
    // A JSON string literal, quotes included, of a GeoJSON property: \" \\ and controls below
    // U+0020 as escapes, a byte that is not valid UTF-8 as U+FFFD itself, the rest as it is.
    JsonValue,
    // HTML element content or a quoted attribute: & < > " ' as entities, the bytes as they are.
    Html,
    // One CSV text field: in quotes, with each quote doubled, when it holds a comma, a quote, a CR
    // or an LF; a byte that is not valid UTF-8 as U+FFFD. A text that begins with = + - @, a tab or
    // a CR gets a leading ', so that a spreadsheet shows it as text and never runs it as a formula.
    Csv,
    // The same with the bytes kept as they are (summary.csv, whose texts are UTF-8 already).
    CsvBytes,
    // One console line: controls as \n \r \t or \xHH, U+2028/9 as \u2028 \u2029; a byte that is
    // not valid UTF-8 as U+FFFD.
    Console,
};

// Appends `text` (bytes, UTF-8 where valid) in `scheme` to `out`.
void appendEscaped(std::string& out, std::string_view text, Escape scheme);
std::string escape(std::string_view text, Escape scheme);

// The same for wide text (UTF-16 or UTF-32, as wchar_t is), written as UTF-8. An unpaired
// surrogate, or a value above U+10FFFF, is written as U+FFFD unless the scheme escapes it.
void appendEscaped(std::string& out, std::wstring_view text, Escape scheme);
std::string escape(std::wstring_view text, Escape scheme);

}  // namespace vornakite
