#include "read/yield_log.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "read/log_reader.hpp"
#include "read/number.hpp"
#include "read/sample_fields.hpp"

namespace vornakite {
namespace {

constexpr char kSeparator = '@';

// The high bit of each byte of `word` that is a separator, and no other bit. A byte b gives
// (b & 0x7F) + 0x7F with the high bit set unless b & 0x7F is 0, without a carry into the next
// byte; or-ing b in leaves the high bit clear only for b == 0, that is a separator in `word`.
constexpr std::uint64_t separatorBytes(std::uint64_t word) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t x = word ^ (0x0101010101010101ull * static_cast<unsigned char>(kSeparator));
    return ~(((x & kLow7) + kLow7) | x) & ~kLow7;
}
static_assert(separatorBytes(0x4041'4000'C040'0140ull) == 0x8000'8000'0080'0080ull);

}  // namespace

bool parseSampleLine(std::string_view line, YieldPoint& point) {
    if (line.size() < 2 || line[0] != 'D' || line[1] != 'Y') {
        return false;
    }
    // Offsets of the first fifteen separators. Fields are short, so they are looked for eight
    // bytes at a time rather than by a memchr call per field.
    std::uint32_t separators[kSampleSeparators];
    std::size_t found = 0;
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= line.size() && found < kSampleSeparators; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, line.data() + i, 8);
            for (std::uint64_t hits = separatorBytes(word); hits != 0 && found < kSampleSeparators;
                 hits &= hits - 1) {
                separators[found++] = static_cast<std::uint32_t>(
                    i + static_cast<std::size_t>(std::countr_zero(hits) / 8));
            }
        }
    }
    for (; i < line.size() && found < kSampleSeparators; ++i) {
        if (line[i] == kSeparator) {
            separators[found++] = static_cast<std::uint32_t>(i);
        }
    }
    if (found < kSampleSeparators) {
        return false;  // fewer than 16 fields: not a sample
    }
    try {
        parseSampleFields(line.data(), separators, point);
    } catch (CodedError& e) {
        markBadField(e, line);
        throw;
    }
    return true;
}

std::vector<std::string> splitFields(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t at = line.find(kSeparator, begin);
        if (at == std::string_view::npos) {
            fields.emplace_back(line.substr(begin));
            return fields;
        }
        fields.emplace_back(line.substr(begin, at - begin));
        begin = at + 1;
    }
}

YieldLog readYieldLog(const std::filesystem::path& inputPath) {
    struct Collector : LogVisitor {
        YieldLog log;
        void header(const LogHeader& header) override { log.header = header; }
        void addPoints(std::span<const YieldPoint> points) override {
            log.points.insert(log.points.end(), points.begin(), points.end());
        }
    } collector;
    readLog(inputPath, collector);
    collector.log.points.shrink_to_fit();
    return std::move(collector.log);
}

}  // namespace vornakite
