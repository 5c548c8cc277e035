// UTF-8 decoding into wide text, shared by the text helpers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vornakite {

// Decodes strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) and appends
// it to `out` as UTF-16 or UTF-32, as wchar_t is. Strict mode stops at the first invalid
// sequence and returns false; lenient mode writes U+FFFD for each invalid byte and goes on.
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
