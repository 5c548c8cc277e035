#include "json.hpp"

#include "text/utf8.hpp"

namespace vornakite::cli {
namespace {

void appendEscape(std::string& out, char32_t unit) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) {
        out += kHex[(unit >> shift) & 0xF];
    }
}

// One character of a string's contents. Besides what JSON requires (quote, backslash,
// U+0000..U+001F), DEL, the C1 controls and the two Unicode line separators are escaped
// too, so that each object stays on one line for every reader, and a surrogate (which
// cannot be UTF-8) is written as its escape.
void appendCharacter(std::string& out, char32_t cp) {
    switch (cp) {
        case U'"':
            out += "\\\"";
            return;
        case U'\\':
            out += "\\\\";
            return;
        case U'\n':
            out += "\\n";
            return;
        case U'\r':
            out += "\\r";
            return;
        case U'\t':
            out += "\\t";
            return;
        case U'\b':
            out += "\\b";
            return;
        case U'\f':
            out += "\\f";
            return;
        default:
            break;
    }
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        appendEscape(out, cp);
    } else if (cp > 0x10FFFF) {
        appendUtf8(out, 0xFFFD);
    } else {
        appendUtf8(out, cp);
    }
}

// Length of the valid UTF-8 sequence at the start of `s` and its code point; 0 when the
// first byte does not start one.
std::size_t decodeUtf8(std::string_view s, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    std::size_t length = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, cp = b0 & 0x1Fu, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, cp = b0 & 0x0Fu, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, cp = b0 & 0x07u, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < length) {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(s[k]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return length;
}

}  // namespace

void appendJsonString(std::string& out, std::string_view bytes) {
    out += '"';
    while (!bytes.empty()) {
        char32_t cp = 0;
        const std::size_t length = decodeUtf8(bytes, cp);
        if (length == 0) {
            appendEscape(out, 0xDC00 + static_cast<unsigned char>(bytes[0]));
            bytes.remove_prefix(1);
        } else {
            appendCharacter(out, cp);
            bytes.remove_prefix(length);
        }
    }
    out += '"';
}

void appendJsonString(std::string& out, std::wstring_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t cp = codePointAt(text, i);
        appendCharacter(out, cp);
    }
    out += '"';
}

void appendJsonPath(std::string& out, const std::filesystem::path& path) {
    appendJsonString(out, std::basic_string_view<std::filesystem::path::value_type>(path.native()));
}

}  // namespace vornakite::cli
