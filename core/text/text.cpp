#include "text/text.hpp"

#include "text/utf8.hpp"

namespace vornakite {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Length of the Windows root name at the start of `p` (drive, device or network prefix).
std::size_t rootNameLength(std::wstring_view p) {
    if (p.size() >= 2 && p[1] == L':' &&
        ((p[0] >= L'a' && p[0] <= L'z') || (p[0] >= L'A' && p[0] <= L'Z'))) {
        return 2;
    }
    if (p.empty() || !isSeparator(p[0])) {
        return 0;
    }
    // "\\?\", "\\.\" and "\??\" prefixes: a separator follows that is not doubled.
    if (p.size() >= 4 && isSeparator(p[3]) && (p.size() == 4 || !isSeparator(p[4])) &&
        ((isSeparator(p[1]) && (p[2] == L'?' || p[2] == L'.')) || (p[1] == L'?' && p[2] == L'?'))) {
        return 3;
    }
    // Network root "\\server": up to the next separator.
    if (p.size() >= 3 && isSeparator(p[1]) && !isSeparator(p[2])) {
        std::size_t end = 3;
        while (end < p.size() && !isSeparator(p[end])) {
            ++end;
        }
        return end;
    }
    return 0;
}

}  // namespace

std::string toUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = codePointAt(text, i);
        if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
            cp = kReplacement;
        }
        appendUtf8(out, cp);
    }
    return out;
}

bool decodeUtf8(std::string_view text, std::wstring& out, bool lenient) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto [cp, length] = decodeUtf8At(text, i);
        if (length == 0) {
            if (!lenient) {
                return false;
            }
            out += static_cast<wchar_t>(kReplacement);
            ++i;
            continue;
        }
        i += length;
        if constexpr (sizeof(wchar_t) == 2) {
            if (cp >= 0x10000) {
                out += static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
                out += static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
                continue;
            }
        }
        out += static_cast<wchar_t>(cp);
    }
    return true;
}

std::wstring pathText(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.wstring();
#else
    std::wstring out;
    decodeUtf8(path.native(), out, true);
    return out;
#endif
}

std::wstring fileNameOf(std::wstring_view path) {
    std::size_t pos = rootNameLength(path);
    while (pos < path.size() && isSeparator(path[pos])) {
        ++pos;
    }
    const std::wstring_view rest = path.substr(pos);
    const std::size_t last = rest.find_last_of(L"\\/");
    return std::wstring(last == std::wstring_view::npos ? rest : rest.substr(last + 1));
}

}  // namespace vornakite
