#include "read/line_scanner.hpp"

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define VORNAKITE_SSE2 1
#endif

namespace vornakite {

#ifdef VORNAKITE_SSE2

ByteMasks classifyBlock(const char* block) {
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i separator = _mm_set1_epi8('@');
    const __m128i endOfText = _mm_set1_epi8(0x1A);
    ByteMasks m{0, 0, 0};
    for (unsigned k = 0; k < 4; ++k) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * k));
        auto mask = [&](__m128i value) {
            return std::uint64_t{
                       static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, value)))}
                   << (16 * k);
        };
        m.lineFeeds |= mask(lineFeed);
        m.separators |= mask(separator);
        m.endOfText |= mask(endOfText);
    }
    return m;
}

#else

namespace {

// The high bit of each byte of `word` that equals `value`, and no other bit: (x & 0x7F..) +
// 0x7F.. sets a byte's high bit unless its low seven bits are 0; or-ing x in leaves it clear only
// for a zero byte.
std::uint64_t equalBytes(std::uint64_t word, unsigned char value) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t x = word ^ (0x0101010101010101ull * value);
    return ~(((x & kLow7) + kLow7) | x) & ~kLow7;
}

// The eight high bits, one per byte, as the eight low bits.
std::uint64_t gatherHighBits(std::uint64_t highBits) {
    return ((highBits >> 7) * 0x0102040810204080ull) >> 56;
}

}  // namespace

ByteMasks classifyBlock(const char* block) {
    ByteMasks m{0, 0, 0};
    for (unsigned k = 0; k < 8; ++k) {
        std::uint64_t word = 0;  // the bytes in memory order, the first one lowest
        for (unsigned b = 0; b < 8; ++b) {
            word |= std::uint64_t{static_cast<unsigned char>(block[8 * k + b])} << (8 * b);
        }
        m.lineFeeds |= gatherHighBits(equalBytes(word, '\n')) << (8 * k);
        m.separators |= gatherHighBits(equalBytes(word, '@')) << (8 * k);
        m.endOfText |= gatherHighBits(equalBytes(word, 0x1A)) << (8 * k);
    }
    return m;
}

#endif

}  // namespace vornakite
