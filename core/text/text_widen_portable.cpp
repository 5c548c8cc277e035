// widenText where no Windows code pages exist: strict UTF-8, else Windows-1252.
#include "text/text.hpp"
#include "text/utf8.hpp"

namespace vornakite {

namespace {

// Windows-1252 0x80..0x9F; the five unassigned bytes map to the C1 controls, as Windows does.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

std::wstring widenText(std::string_view text) {
    std::wstring out;
    if (decodeUtf8(text, out, false)) {
        return out;
    }
    out.clear();
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        out += (b >= 0x80 && b < 0xA0) ? static_cast<wchar_t>(kCp1252High[b - 0x80])
                                       : static_cast<wchar_t>(b);
    }
    return out;
}

}  // namespace vornakite
