#include "read/log_reader.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "os/files.hpp"
#include "read/line_scanner.hpp"
#include "read/sample_fields.hpp"
#include "read/yield_log.hpp"

namespace vornakite {
namespace {

static_assert(kScannedSeparators == kSampleSeparators);

constexpr std::size_t kReadChunk = 1 << 18;
constexpr std::uint64_t kHeaderFieldsMin = 9;
constexpr char kSeparator = '@';
// A sample line that reaches beyond one read is kept up to this size; a longer one is only
// measured, and read again from the file if it proves to be a sample.
constexpr std::size_t kMaxHeldLine = 1 << 20;
constexpr std::size_t kBatch = 1024;

const char* findByte(const char* p, const char* end, char byte) {
    return static_cast<const char*>(std::memchr(p, byte, static_cast<std::size_t>(end - p)));
}

[[noreturn]] void throwReadFailed() {
    throw ConversionError(ErrorCode::readFailed, "Cannot read file");
}

// The number of the line that begins at byte `offset`: one more than the line feeds before it.
// They are counted again from the file's start, only for a line that fails, so that reading
// good logs pays nothing for them. Nothing when the file cannot be read up to there again.
std::optional<std::uint64_t> lineAt(os::InputFile& in, std::uint64_t offset) {
    try {
        std::vector<char> piece(
            static_cast<std::size_t>(std::min<std::uint64_t>(offset, kReadChunk)));
        std::uint64_t lineFeeds = 0;
        for (std::uint64_t at = 0; at < offset;) {
            const auto want =
                static_cast<std::size_t>(std::min<std::uint64_t>(offset - at, piece.size()));
            const std::ptrdiff_t got = in.readAt(at, piece.data(), want);
            if (got <= 0) {
                return std::nullopt;
            }
            lineFeeds +=
                static_cast<std::uint64_t>(std::count(piece.data(), piece.data() + got, '\n'));
            at += static_cast<std::uint64_t>(got);
        }
        return lineFeeds + 1;
    } catch (const std::exception&) {
        return std::nullopt;  // no memory for the count: the failure goes on without its line
    }
}

// The header line, taken in pieces: its separators are counted and fields 6 to 8 kept.
class HeaderLine {
  public:
    void take(const char* p, const char* end) {
        while (p < end) {
            const char* at = findByte(p, end, kSeparator);
            const char* fieldEnd = at != nullptr ? at : end;
            if (std::string* kept = currentField()) {
                kept->append(p, fieldEnd);
            }
            if (at == nullptr) {
                return;
            }
            ++header_.fieldCount;
            p = at + 1;
        }
    }

    // The line ended at a line feed: a carriage return before it is not part of the line.
    void endAtLineFeed() {
        std::string* last = currentField();
        if (last != nullptr && !last->empty() && last->back() == '\r') {
            last->pop_back();
        }
    }

    const LogHeader& header() const { return header_; }

  private:
    std::string* currentField() {
        switch (header_.fieldCount) {
            case 7:
                return &header_.field6;
            case 8:
                return &header_.field7;
            case 9:
                return &header_.field8;
            default:
                return nullptr;
        }
    }

    LogHeader header_{1, {}, {}, {}};  // fieldCount: separators so far + 1
};

// Samples gathered for the visitor, which gets them in pieces.
class PointBatch {
  public:
    explicit PointBatch(LogVisitor& visitor) : visitor_(visitor) {}

    void add(const YieldPoint& point) {
        points_[size_++] = point;
        if (size_ == kBatch) {
            flush();
        }
    }
    void flush() {
        if (size_ > 0) {
            visitor_.addPoints(std::span<const YieldPoint>(points_.data(), size_));
            total_ += size_;
            size_ = 0;
        }
    }
    std::uint64_t total() const { return total_ + size_; }

  private:
    LogVisitor& visitor_;
    std::array<YieldPoint, kBatch> points_;
    std::size_t size_ = 0;
    std::uint64_t total_ = 0;
};

// A record line that continues beyond the current read. Only what can make it a sample is kept:
// its bytes up to the fifteenth separator, and only while it begins with "DY".
class PartialLine {
  public:
    bool active() const { return state_ != State::none; }
    // Where the line begins in the file.
    std::uint64_t start() const { return start_; }

    void begin(std::uint64_t fileOffset) {
        state_ = State::undecided;
        bytes_.clear();
        separators_ = 0;
        start_ = fileOffset;
        lastSeparatorEnd_ = 0;
    }

    void extend(const char* p, const char* end, std::uint64_t fileOffset) {
        if (state_ == State::undecided) {
            const auto need =
                std::min<std::size_t>(2 - bytes_.size(), static_cast<std::size_t>(end - p));
            bytes_.append(p, need);
            p += need;
            fileOffset += need;
            if (bytes_.size() < 2) {
                return;
            }
            state_ = (bytes_[0] == 'D' && bytes_[1] == 'Y') ? State::sample : State::skipping;
            if (state_ == State::skipping) {
                bytes_.clear();
                bytes_.shrink_to_fit();
            }
        }
        if (state_ != State::sample && state_ != State::measured) {
            return;
        }
        while (p < end && separators_ < kScannedSeparators) {
            const char* at = findByte(p, end, kSeparator);
            const char* upTo = at != nullptr ? at + 1 : end;
            if (state_ == State::sample) {
                bytes_.append(p, upTo);
                if (bytes_.size() > kMaxHeldLine) {
                    state_ = State::measured;
                    bytes_.clear();
                    bytes_.shrink_to_fit();
                }
            }
            if (at == nullptr) {
                return;
            }
            ++separators_;
            lastSeparatorEnd_ = fileOffset + static_cast<std::uint64_t>(upTo - p);
            fileOffset += static_cast<std::uint64_t>(upTo - p);
            p = upTo;
        }
    }

    // The line has ended: its sample text (the line up to and including its fifteenth separator,
    // all that parsing uses), or nothing when it cannot be a sample.
    bool finish(os::InputFile& in, std::string& text) {
        const State state = state_;
        state_ = State::none;
        if (separators_ < kScannedSeparators) {
            return false;
        }
        if (state == State::sample) {
            text.swap(bytes_);
            return true;
        }
        if (state != State::measured) {
            return false;
        }
        // A sample whose first sixteen fields are longer than one read: read it again.
        text.resize(static_cast<std::size_t>(lastSeparatorEnd_ - start_));
        std::size_t got = 0;
        while (got < text.size()) {
            const auto n = in.readAt(start_ + got, text.data() + got, text.size() - got);
            if (n < 0) {
                throwReadFailed();
            }
            if (n == 0) {
                return false;  // the file shrank meanwhile
            }
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

  private:
    enum class State { none, undecided, sample, measured, skipping };
    State state_ = State::none;
    std::string bytes_;
    std::size_t separators_ = 0;
    std::uint64_t start_ = 0;
    std::uint64_t lastSeparatorEnd_ = 0;
};

class Reader {
  public:
    Reader(os::InputFile& in, LogVisitor& visitor) : in_(in), visitor_(visitor), batch_(visitor) {}

    // Takes one read's bytes, which begin at `fileOffset`. Returns false once a Ctrl-Z has
    // ended the input.
    bool take(const char* data, std::size_t size, std::uint64_t fileOffset) {
        auto offsetOf = [&](const char* q) {
            return fileOffset + static_cast<std::uint64_t>(q - data);
        };
        std::size_t length = 0;
        const std::size_t rest = scanLines(
            data, size, length,
            [&](const char* begin, const char* end, const std::uint32_t* separators,
                std::size_t count) {
                if (continuing_) {
                    // The first line feed here ends a line that began in an earlier read.
                    continuing_ = false;
                    endContinuedLine(begin, end, offsetOf(begin));
                } else if (count == kScannedSeparators && begin[0] == 'D' && begin[1] == 'Y') {
                    // Fifteen separators leave the line long enough to test its tag.
                    YieldPoint point;
                    try {
                        parseSampleFields(begin, separators, point);
                    } catch (CodedError& e) {
                        markBadField(
                            e, std::string_view(begin, static_cast<std::size_t>(end - begin)));
                        e.place.line = lineAt(in_, offsetOf(begin));
                        throw;
                    }
                    batch_.add(point);
                }
            });
        anyByte_ = anyByte_ || length > 0;
        const char* p = data + rest;
        const char* const end = data + length;
        if (continuing_) {
            // No line feed in the whole read: the line goes on.
            continueLine(p, end, offsetOf(p));
        } else if (p < end) {
            partial_.begin(offsetOf(p));
            partial_.extend(p, end, offsetOf(p));
            continuing_ = true;
        }
        return length == size;
    }

    // The input has ended; the last line needs no line end.
    std::uint64_t finish() {
        if (!anyByte_) {
            throw ConversionError(ErrorCode::emptyFile, "Empty file");
        }
        if (inHeader_) {
            endHeader();
        } else if (partial_.active()) {
            endPartial();
        }
        batch_.flush();
        return batch_.total();
    }

  private:
    // A piece of the line that began in an earlier read (or of the first line), without its end.
    void continueLine(const char* p, const char* end, std::uint64_t fileOffset) {
        if (inHeader_) {
            header_.take(p, end);
        } else {
            partial_.extend(p, end, fileOffset);
        }
    }

    // The last piece of such a line, up to its line feed.
    void endContinuedLine(const char* p, const char* end, std::uint64_t fileOffset) {
        if (inHeader_) {
            header_.take(p, end);
            header_.endAtLineFeed();
            endHeader();
        } else {
            partial_.extend(p, end, fileOffset);
            endPartial();
        }
    }

    void endHeader() {
        if (header_.header().fieldCount < kHeaderFieldsMin) {
            ConversionError error(ErrorCode::invalidHeader, "Invalid header format");
            error.place.line = 1;
            throw error;
        }
        inHeader_ = false;
        visitor_.header(header_.header());
    }

    void endPartial() {
        const std::uint64_t start = partial_.start();
        if (partial_.finish(in_, text_)) {
            YieldPoint point;
            bool sample = false;
            try {
                sample = parseSampleLine(text_, point);
            } catch (CodedError& e) {
                e.place.line = lineAt(in_, start);
                throw;
            }
            if (sample) {
                batch_.add(point);
            }
        }
    }

    os::InputFile& in_;
    LogVisitor& visitor_;
    PointBatch batch_;
    HeaderLine header_;
    PartialLine partial_;
    std::string text_;
    bool inHeader_ = true;
    bool continuing_ = true;  // the next line feed ends a line begun earlier: first the header
    bool anyByte_ = false;
};

}  // namespace

std::uint64_t readLog(const std::filesystem::path& path, LogVisitor& visitor,
                      const std::atomic<bool>* stop) {
    os::InputFile in;
    if (!in.open(path)) {
        throw ConversionError(ErrorCode::cannotOpen, "Cannot open file");
    }
    visitor.opened(in.size());
    // A small log needs no large buffer; a log still growing is read on in pieces of that size.
    const auto chunkSize =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(in.size() + 1, 4096, kReadChunk));
    std::vector<char> chunk(chunkSize);
    Reader reader(in, visitor);
    std::uint64_t offset = 0;
    for (;;) {
        if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
            throw ReadStopped();
        }
        const std::ptrdiff_t got = in.read(chunk.data(), chunk.size());
        if (got < 0) {
            throwReadFailed();
        }
        if (got == 0 || !reader.take(chunk.data(), static_cast<std::size_t>(got), offset)) {
            break;
        }
        offset += static_cast<std::uint64_t>(got);
    }
    const std::uint64_t samples = reader.finish();
    if (samples == 0) {
        throw ConversionError(ErrorCode::noYieldData, "No yield data (DY) lines found");
    }
    return samples;
}

}  // namespace vornakite
