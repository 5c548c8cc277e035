#include "console.hpp"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <string>
#endif

namespace vornakite::cli {

TextOutput::TextOutput(std::FILE* stream) : stream_(stream) {
#ifdef _WIN32
    HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        console_ = handle;
    }
#endif
}

void TextOutput::write(std::string_view utf8) {
#ifdef _WIN32
    if (console_ != nullptr && !utf8.empty()) {
        std::fflush(stream_);
        const int size = static_cast<int>(utf8.size());
        const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
        // In pieces, as older consoles take only so much in one call.
        constexpr std::size_t kPiece = 8192;
        for (std::size_t at = 0, count = 0; at < wide.size(); at += count) {
            count = std::min(kPiece, wide.size() - at);
            if (count == kPiece && wide[at + count - 1] >= 0xD800 &&
                wide[at + count - 1] <= 0xDBFF) {
                --count;  // a surrogate pair stays in one piece
            }
            DWORD written = 0;
            WriteConsoleW(console_, wide.data() + at, static_cast<DWORD>(count), &written, nullptr);
        }
        return;
    }
#endif
    std::fwrite(utf8.data(), 1, utf8.size(), stream_);
    std::fflush(stream_);
}

}  // namespace vornakite::cli
