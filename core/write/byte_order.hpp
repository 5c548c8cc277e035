// Fixed-width field writers for binary file layouts. Each helper stores one
// value at `at` in one explicit byte order, independent of the host's order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vornakite {

inline void putLE16(char* at, std::uint16_t v) {
    at[0] = static_cast<char>(v & 0xFFu);
    at[1] = static_cast<char>((v >> 8) & 0xFFu);
}

inline void putLE32(char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<char>((v >> (8 * i)) & 0xFFu);
    }
}

inline void putBE32(char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<char>((v >> (8 * (3 - i))) & 0xFFu);
    }
}

inline void putLEDouble(char* at, double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i) {
        at[i] = static_cast<char>((bits >> (8 * i)) & 0xFFu);
    }
}

}  // namespace vornakite
