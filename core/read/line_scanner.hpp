// One pass over a piece of a log finds everything the reader looks for: the line feeds, the
// field separators, and a Ctrl-Z that ends the input. Sixty-four bytes are classified at a time
// (with SSE2 on x86-64, eight bytes at a time elsewhere); only the marked positions are visited.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

namespace vornakite {

// Which bytes of a 64-byte block are line feeds, separators ('@') and Ctrl-Z (0x1A): bit i
// stands for byte i.
struct ByteMasks {
    std::uint64_t lineFeeds, separators, endOfText;
};
ByteMasks classifyBlock(const char* block);

// The most separators of a line that are passed on: a sample's first fifteen bound every field
// it uses.
inline constexpr std::size_t kScannedSeparators = 15;

// Calls onLine(begin, end, separators, count) for every line of data[0, size) that ends in a
// line feed, in order: [begin, end) is the line without its line feed (for the first line, the
// part of it in this piece), `separators` the offsets from `begin` of its first `count`
// separators (count at most kScannedSeparators). Stops at the first Ctrl-Z. Returns where the
// unfinished last line begins; `length` becomes the number of bytes before the Ctrl-Z, or size.
template <typename OnLine>
std::size_t scanLines(const char* data, std::size_t size, std::size_t& length, OnLine&& onLine) {
    std::uint32_t separators[kScannedSeparators];
    std::size_t count = 0;
    std::size_t lineStart = 0;
    auto visit = [&](std::size_t base, std::uint64_t lineFeeds, std::uint64_t marks) {
        for (; marks != 0; marks &= marks - 1) {
            const auto bit = static_cast<unsigned>(std::countr_zero(marks));
            const std::size_t at = base + bit;
            if (((lineFeeds >> bit) & 1u) != 0) {
                onLine(data + lineStart, data + at, separators, count);
                lineStart = at + 1;
                count = 0;
            } else if (count < kScannedSeparators) {
                separators[count++] = static_cast<std::uint32_t>(at - lineStart);
            }
        }
    };
    std::size_t i = 0;
    for (; i + 64 <= size; i += 64) {
        const ByteMasks m = classifyBlock(data + i);
        if (m.endOfText != 0) {
            const auto stop = static_cast<unsigned>(std::countr_zero(m.endOfText));
            const std::uint64_t before = (std::uint64_t{1} << stop) - 1;
            visit(i, m.lineFeeds, (m.lineFeeds | m.separators) & before);
            length = i + stop;
            return lineStart;
        }
        visit(i, m.lineFeeds, m.lineFeeds | m.separators);
    }
    for (; i < size; ++i) {
        const char c = data[i];
        if (c == 0x1A) {
            length = i;
            return lineStart;
        }
        if (c == '\n' || c == '@') {
            visit(i, c == '\n' ? 1u : 0u, 1u);
        }
    }
    length = size;
    return lineStart;
}

}  // namespace vornakite
