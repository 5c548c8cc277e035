#include "write/text_output.hpp"

#include <algorithm>
#include <charconv>

namespace vornakite {
namespace {

// Bytes are gathered to this size before they go to the temporary.
constexpr std::size_t kFlushBytes = 1 << 19;

}  // namespace

std::size_t putNumberText(char* out, double value) {
    const auto result = std::to_chars(out, out + kMaxNumberChars, value);
    auto length = static_cast<std::size_t>(result.ptr - out);
    // Only digits and a sign: a whole number, which readers would take for an integer.
    if (std::all_of(out, out + length, [](char c) { return c == '-' || (c >= '0' && c <= '9'); })) {
        out[length++] = '.';
        out[length++] = '0';
    }
    return length;
}

StreamedOutput::StreamedOutput(OutputTransaction& transaction, std::wstring suffix,
                               const OutputMessages& messages)
    : transaction_(transaction), file_(transaction.add(std::move(suffix), messages)) {}

void StreamedOutput::flushIfFull() {
    if (failure_) {
        buffer_.clear();  // nothing more is written; finish reports the failure
        return;
    }
    if (buffer_.size() >= kFlushBytes) {
        try {
            flush();
        } catch (const std::exception&) {
            // Kept for finish: the log's own errors, found later in reading, come first.
            failure_ = std::current_exception();
            buffer_.release();
        }
    }
}

StreamedOutput::int_type StreamedOutput::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) {
        return traits_type::not_eof(c);
    }
    const char byte = traits_type::to_char_type(c);
    return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
}

std::streamsize StreamedOutput::xsputn(const char* text, std::streamsize size) {
    if (failure_) {
        return 0;
    }
    if (size > 0) {
        buffer_.append(text, static_cast<std::size_t>(size));
        flushIfFull();
    }
    return size;
}

void StreamedOutput::flush() {
    transaction_.open();
    transaction_.write(file_, buffer_.data(), buffer_.size());
    buffer_.clear();
}

void StreamedOutput::finish() {
    if (failure_) {
        std::rethrow_exception(failure_);
    }
    flush();
}

}  // namespace vornakite
