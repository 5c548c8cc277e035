// Text conversions between the narrow bytes of logs and messages, wide
// display text, and paths.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vornakite {

// Wide text of a narrow message: UTF-8 when the whole text is valid UTF-8,
// otherwise the system's ANSI code page (Windows-1252 off Windows), so every
// byte is accepted.
std::wstring widenText(std::string_view text);

// UTF-8 encoding of wide text (UTF-16 or UTF-32, as wchar_t is); unpaired
// surrogates become U+FFFD.
std::string toUtf8(std::wstring_view text);

// The path's text as wide characters. Off Windows the native bytes are read
// as UTF-8 and an invalid byte becomes U+FFFD.
std::wstring pathText(const std::filesystem::path& path);

// The last component of a path under Windows rules ('\\' and '/' both
// separate; drive, device and network root names are not file names), the
// same on every platform. A path ending in a separator has an empty name.
std::wstring fileNameOf(std::wstring_view path);

}  // namespace vornakite
