#include "text/escape.hpp"

#include <array>

#include "text/utf8.hpp"

namespace vornakite {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// What a scheme writes for a byte that is not part of valid UTF-8.
enum class Invalid {
    Keep,                // the byte itself
    Replace,             // U+FFFD
    EscapedReplacement,  // \ufffd
    SurrogateEscape,     // \udcXX
};

Invalid invalidPolicy(Escape scheme) {
    switch (scheme) {
        case Escape::Json:
            return Invalid::SurrogateEscape;
        case Escape::JsonInScript:
            return Invalid::EscapedReplacement;
        case Escape::Html:
        case Escape::CsvBytes:
            return Invalid::Keep;
        default:
            return Invalid::Replace;
    }
}

bool isJson(Escape scheme) {
    return scheme == Escape::Json || scheme == Escape::JsonInScript || scheme == Escape::JsonValue;
}

bool isCsv(Escape scheme) {
    return scheme == Escape::Csv || scheme == Escape::CsvBytes;
}

// `prefix`, then the low `digits` hexadecimal digits of `value`.
void appendHex(std::string& out, const char* prefix, char32_t value, int digits, bool upper) {
    const char* hex = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
        out += hex[(value >> shift) & 0xF];
    }
}

bool isLineSeparator(char32_t cp) {
    return cp == 0x2028 || cp == 0x2029;
}

bool isC0C1OrDel(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

bool escapeJson(std::string& out, char32_t cp) {
    switch (cp) {
        case U'"':
            out += "\\\"";
            return true;
        case U'\\':
            out += "\\\\";
            return true;
        case U'\n':
            out += "\\n";
            return true;
        case U'\r':
            out += "\\r";
            return true;
        case U'\t':
            out += "\\t";
            return true;
        case U'\b':
            out += "\\b";
            return true;
        case U'\f':
            out += "\\f";
            return true;
        default:
            break;
    }
    if (isC0C1OrDel(cp) || isLineSeparator(cp) || (cp >= 0xD800 && cp <= 0xDFFF)) {
        appendHex(out, "\\u", cp, 4, false);
        return true;
    }
    return false;
}

bool escapeJsonInScript(std::string& out, char32_t cp) {
    if (cp == U'"' || cp == U'\\') {
        out += '\\';
        out += static_cast<char>(cp);
        return true;
    }
    if (cp < 0x20 || cp == U'<' || cp == U'>' || cp == U'&' || cp == 0x7F || isLineSeparator(cp)) {
        appendHex(out, "\\u", cp, 4, false);
        return true;
    }
    return false;
}

bool escapeJsonValue(std::string& out, char32_t cp) {
    if (cp == U'"' || cp == U'\\') {
        out += '\\';
        out += static_cast<char>(cp);
        return true;
    }
    if (cp < 0x20) {
        appendHex(out, "\\u", cp, 4, false);
        return true;
    }
    return false;
}

bool escapeHtml(std::string& out, char32_t cp) {
    switch (cp) {
        case U'&':
            out += "&amp;";
            return true;
        case U'<':
            out += "&lt;";
            return true;
        case U'>':
            out += "&gt;";
            return true;
        case U'"':
            out += "&quot;";
            return true;
        case U'\'':
            out += "&#39;";
            return true;
        default:
            return false;
    }
}

bool escapeConsole(std::string& out, char32_t cp) {
    if (cp == U'\n') {
        out += "\\n";
    } else if (cp == U'\r') {
        out += "\\r";
    } else if (cp == U'\t') {
        out += "\\t";
    } else if (isC0C1OrDel(cp)) {
        appendHex(out, "\\x", cp, 2, true);
    } else if (isLineSeparator(cp)) {
        appendHex(out, "\\u", cp, 4, true);
    } else {
        return false;
    }
    return true;
}

// Writes the scheme's escape of `cp`; false when `cp` stands as it is.
bool appendEscape(std::string& out, char32_t cp, Escape scheme) {
    switch (scheme) {
        case Escape::Json:
            return escapeJson(out, cp);
        case Escape::JsonInScript:
            return escapeJsonInScript(out, cp);
        case Escape::JsonValue:
            return escapeJsonValue(out, cp);
        case Escape::Html:
            return escapeHtml(out, cp);
        case Escape::Csv:
        case Escape::CsvBytes:
            if (cp == U'"') {
                out += "\"\"";
                return true;
            }
            return false;
        case Escape::Console:
            return escapeConsole(out, cp);
    }
    return false;
}

constexpr std::size_t kSchemes = static_cast<std::size_t>(Escape::Console) + 1;

// For each scheme, the ASCII characters it escapes: the others are copied in runs.
using AsciiEscapes = std::array<std::array<bool, 0x80>, kSchemes>;

const AsciiEscapes& asciiEscapes() {
    static const AsciiEscapes escapes = [] {
        AsciiEscapes table{};
        std::string scratch;
        for (std::size_t s = 0; s < kSchemes; ++s) {
            for (char32_t c = 0; c < 0x80; ++c) {
                table[s][c] = appendEscape(scratch, c, static_cast<Escape>(s));
            }
        }
        return table;
    }();
    return escapes;
}

// Whether the scheme puts the text in double quotes: a JSON string always, a CSV field when it
// holds a comma, a quote, a CR or an LF.
template <class Char>
bool quoted(std::basic_string_view<Char> text, Escape scheme) {
    static constexpr Char kCsvSpecial[] = {',', '"', '\r', '\n', 0};
    return isJson(scheme) ||
           (isCsv(scheme) && text.find_first_of(kCsvSpecial) != std::basic_string_view<Char>::npos);
}

// Whether a spreadsheet would take a CSV text cell as a formula (or, for a tab or a CR, shift
// it): such a cell gets a leading ' so that it stays text. Numbers are written, not escaped.
template <class Char>
bool startsLikeFormula(std::basic_string_view<Char> text, Escape scheme) {
    if (!isCsv(scheme) || text.empty()) {
        return false;
    }
    const Char c = text.front();
    return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r';
}

// Opens a field: its quote, when it takes quotes, and the guard against formulas.
template <class Char>
void openField(std::string& out, std::basic_string_view<Char> text, Escape scheme, bool quotes) {
    if (quotes) {
        out += '"';
    }
    if (startsLikeFormula(text, scheme)) {
        out += '\'';
    }
}

}  // namespace

void appendEscaped(std::string& out, std::string_view text, Escape scheme) {
    const bool quotes = quoted(text, scheme);
    const Invalid invalid = invalidPolicy(scheme);
    openField(out, text, scheme, quotes);
    const std::array<bool, 0x80>& escaped = asciiEscapes()[static_cast<std::size_t>(scheme)];
    for (std::size_t i = 0; i < text.size();) {
        std::size_t run = i;
        while (run < text.size() && static_cast<unsigned char>(text[run]) < 0x80 &&
               !escaped[static_cast<unsigned char>(text[run])]) {
            ++run;
        }
        out.append(text, i, run - i);
        if (run == text.size()) {
            break;
        }
        i = run;
        const auto [cp, length] = decodeUtf8At(text, i);
        if (length == 0) {
            const auto byte = static_cast<unsigned char>(text[i++]);
            switch (invalid) {
                case Invalid::Keep:
                    out += static_cast<char>(byte);
                    break;
                case Invalid::Replace:
                    appendUtf8(out, kReplacement);
                    break;
                case Invalid::EscapedReplacement:
                    appendHex(out, "\\u", kReplacement, 4, false);
                    break;
                case Invalid::SurrogateEscape:
                    appendHex(out, "\\u", 0xDC00 + byte, 4, false);
                    break;
            }
            continue;
        }
        if (!appendEscape(out, cp, scheme)) {
            out.append(text, i, length);
        }
        i += length;
    }
    if (quotes) {
        out += '"';
    }
}

void appendEscaped(std::string& out, std::wstring_view text, Escape scheme) {
    const bool quotes = quoted(text, scheme);
    openField(out, text, scheme, quotes);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t cp = codePointAt(text, i);
        if (appendEscape(out, cp, scheme)) {
            continue;
        }
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            if (invalidPolicy(scheme) == Invalid::EscapedReplacement) {
                appendHex(out, "\\u", kReplacement, 4, false);
            } else {
                appendUtf8(out, kReplacement);
            }
        } else {
            appendUtf8(out, cp);
        }
    }
    if (quotes) {
        out += '"';
    }
}

std::string escape(std::string_view text, Escape scheme) {
    std::string out;
    out.reserve(text.size() + 2);
    appendEscaped(out, text, scheme);
    return out;
}

std::string escape(std::wstring_view text, Escape scheme) {
    std::string out;
    out.reserve(text.size() + 2);
    appendEscaped(out, text, scheme);
    return out;
}

}  // namespace vornakite
