// UTF-8 and wide text one character at a time, shared by the text helpers and the escapes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vornakite {

// One step of strict UTF-8 decoding: the code point of the sequence that starts at a position and
// its length in bytes. The length is 0 when the byte there starts no valid sequence: a stray
// continuation byte, an overlong form, a surrogate, a value above U+10FFFF or a cut-off sequence.
struct Utf8Step {
    char32_t codePoint;
    std::size_t length;
};

// The step at text[pos] (pos < text.size()).
inline Utf8Step decodeUtf8At(std::string_view text, std::size_t pos) {
    const auto b0 = static_cast<unsigned char>(text[pos]);
    if (b0 < 0x80) {
        return {b0, 1};
    }
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, cp = b0 & 0x1Fu, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, cp = b0 & 0x0Fu, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, cp = b0 & 0x07u, min = 0x10000;
    } else {
        return {0, 0};
    }
    if (text.size() - pos < length) {
        return {0, 0};
    }
    for (std::size_t k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(text[pos + k]);
        if ((b & 0xC0) != 0x80) {
            return {0, 0};
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return {0, 0};
    }
    return {cp, length};
}

// Decodes strict UTF-8 and appends it to `out` as UTF-16 or UTF-32, as wchar_t is. Strict mode
// stops at the first invalid sequence and returns false; lenient mode writes U+FFFD for each
// invalid byte and goes on.
bool decodeUtf8(std::string_view text, std::wstring& out, bool lenient);

// Appends the code point `cp` (at most U+10FFFF) to `out` in UTF-8.
void appendUtf8(std::string& out, char32_t cp);

// The code point at text[i] (i < text.size()), taking a UTF-16 surrogate pair as one and then
// moving i onto its second half; an unpaired surrogate is returned as it is.
inline char32_t codePointAt(std::wstring_view text, std::size_t& i) {
    auto cp = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
            const auto low = static_cast<char32_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
    }
    return cp;
}

}  // namespace vornakite
