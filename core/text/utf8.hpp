// UTF-8 decoding into wide text, shared by the text helpers.
#pragma once

#include <string>
#include <string_view>

namespace vornakite {

// Decodes strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) and appends
// it to `out` as UTF-16 or UTF-32, as wchar_t is. Strict mode stops at the first invalid
// sequence and returns false; lenient mode writes U+FFFD for each invalid byte and goes on.
bool decodeUtf8(std::string_view text, std::wstring& out, bool lenient);

// Appends the code point `cp` (at most U+10FFFF) to `out` in UTF-8.
void appendUtf8(std::string& out, char32_t cp);

}  // namespace vornakite
