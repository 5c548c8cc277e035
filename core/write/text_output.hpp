// What the text outputs share: numbers as the shortest text that reads back as the same double,
// and one file of a transaction written front to back (GeoJSON, CSV, the summary and the
// report).
#pragma once

#include <cstddef>
#include <exception>
#include <ios>
#include <streambuf>
#include <string>

#include "write/byte_buffer.hpp"
#include "write/output_transaction.hpp"

namespace vornakite {

// Room enough for any number putNumberText writes ("-2.2250738585072014e-308" is 24).
inline constexpr std::size_t kMaxNumberChars = 32;

// Writes the shortest text that reads back as exactly `value` (std::to_chars), with ".0" after a
// whole number that is written without an exponent, so that every reader takes the column as
// real numbers: 185.4, 5.0, -0.0, 1e+22, 5e-324. `value` must be finite. Returns the length;
// `out` holds kMaxNumberChars bytes.
std::size_t putNumberText(char* out, double value);

// One output of a transaction written front to back, by appending to its buffer or, through a
// std::ostream, as its stream buffer: the bytes are gathered and go to the temporary once there
// are enough of them, the transaction's temporaries being created then if they are not yet. A
// failure to write is kept until finish; nothing more is written then, and the stream takes no
// more text.
class StreamedOutput : public std::streambuf {
  public:
    StreamedOutput(OutputTransaction& transaction, std::wstring suffix,
                   const OutputMessages& messages);

    // Where the writer appends its bytes.
    ByteBuffer& buffer() { return buffer_; }
    // Writes the buffer to the temporary once it holds enough; keeps a failure.
    void flushIfFull();
    // Writes what is left; throws the failure kept, or that of this last write.
    void finish();

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize size) override;

  private:
    void flush();

    OutputTransaction& transaction_;
    std::size_t file_;
    ByteBuffer buffer_;
    std::exception_ptr failure_;
};

}  // namespace vornakite
