#include "read/yield_log.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "read/number.hpp"

namespace vornakite {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;
constexpr std::size_t kHeaderFieldsMin = 9;
constexpr std::size_t kSampleFieldsMin = 16;
constexpr char kSeparator = '@';
constexpr char kEndOfText = 0x1A;  // text mode ends the input here

// The high bit of each byte of `word` that is a separator, and no other bit. A byte b gives
// (b & 0x7F) + 0x7F with the high bit set unless b & 0x7F is 0, without a carry into the next
// byte; or-ing b in leaves the high bit clear only for b == 0, that is a separator in `word`.
constexpr std::uint64_t separatorBytes(std::uint64_t word) {
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
    const std::uint64_t x = word ^ (0x0101010101010101ull * static_cast<unsigned char>(kSeparator));
    return ~(((x & kLow7) + kLow7) | x) & ~kLow7;
}
static_assert(separatorBytes(0x4041'4000'C040'0140ull) == 0x8000'8000'0080'0080ull);

// Splits the byte stream into lines by the text-mode rules and hands each on, with the number
// of input bytes up to its end.
template <typename OnLine>
class LineSplitter {
  public:
    explicit LineSplitter(OnLine onLine) : onLine_(std::move(onLine)) {}

    void feed(const char* data, std::size_t size) {
        const char* p = data;
        const char* const end = data + size;
        while (p < end) {
            const auto* lf =
                static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (lf == nullptr) {
                carry_.append(p, end);
                break;
            }
            lineEnd_ = fedBefore_ + static_cast<std::uint64_t>(lf + 1 - data);
            if (carry_.empty()) {
                emit(std::string_view(p, static_cast<std::size_t>(lf - p)));
            } else {
                carry_.append(p, lf);
                emit(carry_);
                carry_.clear();
            }
            p = lf + 1;
        }
        fedBefore_ += size;
    }

    // The last line needs no line end; it keeps a trailing CR.
    void finish() {
        lineEnd_ = fedBefore_;
        if (!carry_.empty()) {
            onLine_(std::string_view(carry_), lineEnd_);
            carry_.clear();
        }
    }

  private:
    void emit(std::string_view line) {
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        onLine_(line, lineEnd_);
    }

    OnLine onLine_;
    std::string carry_;
    std::uint64_t fedBefore_ = 0;
    std::uint64_t lineEnd_ = 0;
};

// The points vector is sized from the file, which is read only once: at first for the samples
// that the first mebibyte could hold, then, whenever it is full, for the count projected from
// the samples per byte so far, with 1/16 to spare. In a log of even density that is one early,
// small reallocation and little unused room, whatever the line length; capacity that is never
// written costs address space only. A denser tail grows the vector by at least an eighth.
constexpr std::uint64_t kShortestSampleLine = 24;  // "DY", 15 separators, 7 one-digit numbers
constexpr std::uint64_t kFirstReserveBytes = 1 << 20;

void reserveProjected(std::vector<YieldPoint>& points, std::uint64_t consumed,
                      std::uint64_t fileSize) {
    const double n = static_cast<double>(points.size());
    const double projected = n * static_cast<double>(fileSize) /
                             static_cast<double>(std::max<std::uint64_t>(consumed, 1));
    const double wanted = std::max(projected + projected / 16 + 1024, n + n / 8 + 1);
    points.reserve(static_cast<std::size_t>(wanted));
}

}  // namespace

bool parseSampleLine(std::string_view line, YieldPoint& point) {
    if (line.size() < 2 || line[0] != 'D' || line[1] != 'Y') {
        return false;
    }
    // Start offsets of fields 0..15; field k ends one byte before field k + 1 starts. Fields
    // are short, so the separators are looked for eight bytes at a time rather than by a
    // memchr call per field.
    std::size_t start[kSampleFieldsMin];
    start[0] = 0;
    std::size_t found = 1;
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= line.size() && found < kSampleFieldsMin; i += 8) {
            std::uint64_t word;
            std::memcpy(&word, line.data() + i, 8);
            for (std::uint64_t hits = separatorBytes(word); hits != 0 && found < kSampleFieldsMin;
                 hits &= hits - 1) {
                start[found++] = i + static_cast<std::size_t>(std::countr_zero(hits) / 8) + 1;
            }
        }
    }
    for (; i < line.size() && found < kSampleFieldsMin; ++i) {
        if (line[i] == kSeparator) {
            start[found++] = i + 1;
        }
    }
    if (found < kSampleFieldsMin) {
        return false;  // fewer than 16 fields: not a sample
    }
    auto field = [&](std::size_t k) { return line.substr(start[k], start[k + 1] - 1 - start[k]); };
    // Converted in this order so that the earliest bad field decides the error.
    const double lat = parseDouble(field(7));
    const double lon = parseDouble(field(8));
    const double yld = parseDouble(field(6));
    const double moist = parseDouble(field(5));
    const double weight = parseDouble(field(4));
    const double dens = parseDouble(field(14));
    const double speed = parseDouble(field(1));

    point = {lon / 10000000.0, lat / 10000000.0, yld / 10.0,  moist / 10.0,
             weight / 100.0,   dens / 10.0,      speed / 10.0};
    if (!std::isfinite(point.longitude) || !std::isfinite(point.latitude)) {
        throw std::runtime_error("Non-finite coordinate in yield data");
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
    std::error_code ec;
    if (std::filesystem::is_directory(inputPath, ec)) {
        throw std::runtime_error("Cannot open file");
    }
    std::ifstream in(inputPath, std::ios::binary);
    if (!in.is_open()) {
        throw std::runtime_error("Cannot open file");
    }

    YieldLog log;
    const std::uint64_t fileSize = std::filesystem::file_size(inputPath, ec);
    const bool sizeKnown = !ec;
    if (sizeKnown) {
        log.points.reserve(
            static_cast<std::size_t>(std::min(fileSize, kFirstReserveBytes) / kShortestSampleLine));
    }

    bool haveHeader = false;
    LineSplitter splitter([&](std::string_view line, std::uint64_t consumed) {
        if (haveHeader) {
            YieldPoint point;
            if (parseSampleLine(line, point)) {
                if (sizeKnown && log.points.size() == log.points.capacity()) {
                    reserveProjected(log.points, consumed, fileSize);
                }
                log.points.push_back(point);
            }
            return;
        }
        log.headerFields = splitFields(line);
        if (log.headerFields.size() < kHeaderFieldsMin) {
            throw std::runtime_error("Invalid header format");
        }
        haveHeader = true;
    });

    // A small log needs no 1 MiB buffer; a log still growing is read on in
    // pieces of the same size.
    const std::size_t chunkSize =
        sizeKnown
            ? static_cast<std::size_t>(std::clamp<std::uint64_t>(fileSize + 1, 4096, kReadChunk))
            : kReadChunk;
    std::vector<char> chunk(chunkSize);
    bool anyByte = false;
    for (;;) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        if (in.bad()) {
            throw std::runtime_error("Cannot read file");
        }
        auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) {
            break;
        }
        const void* eot = std::memchr(chunk.data(), kEndOfText, got);
        if (eot != nullptr) {
            got = static_cast<std::size_t>(static_cast<const char*>(eot) - chunk.data());
        }
        anyByte = anyByte || got > 0;
        splitter.feed(chunk.data(), got);
        if (eot != nullptr) {
            break;
        }
    }
    splitter.finish();

    if (!anyByte) {
        throw std::runtime_error("Empty file");
    }
    if (log.points.empty()) {
        throw std::runtime_error("No yield data (DY) lines found");
    }
    return log;
}

}  // namespace vornakite
