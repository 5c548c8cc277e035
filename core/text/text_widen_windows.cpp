// widenText on Windows: the system's own conversions, UTF-8 first, then the ANSI code page.
#include <windows.h>

#include "text/text.hpp"

namespace vornakite {

namespace {

std::wstring convert(UINT codePage, std::string_view text, int length) {
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(),
                        length);
    return out;
}

}  // namespace

std::wstring widenText(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length > 0) {
        return convert(CP_UTF8, text, length);
    }
    length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
    return length > 0 ? convert(CP_ACP, text, length) : std::wstring();
}

}  // namespace vornakite
