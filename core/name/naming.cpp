#include "name/naming.hpp"

#include <algorithm>
#include <array>

#include "text/text.hpp"

namespace vornakite {
namespace {

bool isAllowedNameChar(wchar_t c) {
    return c == L'-' || c == L'.' || c == L'_' || (c >= L'0' && c <= L'9') ||
           (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

wchar_t asciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? c + (L'a' - L'A') : c;
}

std::wstring asciiLower(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) {
        c = asciiLower(c);
    }
    return out;
}

// Each byte becomes one character, taken as a signed 8-bit value, so bytes from 0x80 up are
// never ASCII and the name never depends on an encoding guess.
void appendBytesAsChars(std::wstring& out, std::string_view bytes) {
    for (char b : bytes) {
        out += static_cast<wchar_t>(static_cast<signed char>(b));
    }
}

// Windows opens a device instead of a file for these names, with any extension.
bool isDeviceName(std::wstring_view name) {
    const std::wstring stem = asciiLower(name.substr(0, name.find(L'.')));
    static constexpr std::array<std::wstring_view, 4> kPlain = {L"con", L"prn", L"aux", L"nul"};
    for (auto device : kPlain) {
        if (stem == device) {
            return true;
        }
    }
    return stem.size() == 4 && (stem.starts_with(L"com") || stem.starts_with(L"lpt")) &&
           stem[3] >= L'0' && stem[3] <= L'9';
}

// The file name without its last extension; a leading full stop alone is no extension.
std::wstring stemOf(const std::wstring& name) {
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0 || name == L"..") {
        return name;
    }
    return name.substr(0, dot);
}

}  // namespace

std::wstring sanitizeFileName(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        out += isAllowedNameChar(c) ? c : L'_';
    }
    // A leading '-' would make other command-line tools take the file for an option.
    const std::size_t first = out.find_first_not_of(L"_.-");
    return first == std::wstring::npos ? std::wstring() : out.substr(first);
}

std::wstring nameKey(std::wstring_view name) {
    return asciiLower(name);
}

std::wstring BatchNames::claim(const std::wstring& name) {
    std::wstring candidate = name;
    // Suffixes below the remembered one are all taken already (names are never
    // given back), so a season of logs of one field costs no quadratic search.
    int& suffix = nextSuffix_.try_emplace(asciiLower(name), 2).first->second;
    while (taken_.contains(asciiLower(candidate))) {
        candidate = name + L"_" + std::to_wstring(suffix++);
    }
    taken_.insert(asciiLower(candidate));
    return candidate;
}

std::wstring outputBaseName(std::string_view field6, std::string_view field7,
                            std::string_view field8, const std::filesystem::path& inputPath) {
    std::wstring joined;
    appendBytesAsChars(joined, field6);
    joined += L'_';
    appendBytesAsChars(joined, field7);
    joined += L'_';
    appendBytesAsChars(joined, field8);
    std::wstring name = sanitizeFileName(joined);
    if (name.empty()) {
        name = sanitizeFileName(stemOf(fileNameOf(pathText(inputPath))));
    }
    if (name.empty()) {
        name = L"yield";
    }
    // Every file of the set must fit the 255 characters file systems allow for a name, with a
    // batch suffix (_2), a set suffix (_removed) and an extension (.geojson) added.
    if (name.size() > kMaxBaseNameLength) {
        name.resize(kMaxBaseNameLength);
    }
    if (isDeviceName(name)) {
        // Into the device part, which Windows reads up to the first full stop: NUL.x -> NUL_.x.
        name.insert(std::min(name.find(L'.'), name.size()), 1, L'_');
    }
    return name;
}

}  // namespace vornakite
