#include "analysis/format.hpp"

#include <charconv>
#include <cmath>

namespace vornakite::analysis {

std::string fixedNumber(double v, int decimals) {
    if (!std::isfinite(v)) {
        return {};
    }
    char text[400];
    const auto end =
        std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, decimals).ptr;
    std::string out(text, end);
    // A value that rounds to zero prints without a sign.
    if (out.front() == '-' && out.find_first_not_of("-0.") == std::string::npos) {
        out.erase(0, 1);
    }
    return out;
}

std::string plainNumber(double v, int decimals) {
    std::string out = fixedNumber(v, decimals);
    if (out.find('.') != std::string::npos) {
        while (out.back() == '0') {
            out.pop_back();
        }
        if (out.back() == '.') {
            out.pop_back();
        }
    }
    return out;
}

}  // namespace vornakite::analysis
