// What the text formats (GeoJSON, CSV) share: numbers as the shortest text that reads back as the
// same double, and one file of a transaction written front to back.
#pragma once

#include <cstddef>
#include <exception>
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

// One output of a transaction written front to back: the bytes are gathered in a buffer and go
// to the temporary when it is full. A failure to write is kept until finish.
class StreamedOutput {
  public:
    StreamedOutput(OutputTransaction& transaction, std::wstring suffix,
                   const OutputMessages& messages);

    // Where the writer appends its bytes.
    ByteBuffer& buffer() { return buffer_; }
    // Writes the buffer to the temporary once it holds enough; keeps a failure.
    void flushIfFull();
    // Writes what is left; throws the failure kept, or that of this last write.
    void finish();

  private:
    void flush();

    OutputTransaction& transaction_;
    std::size_t file_;
    ByteBuffer buffer_;
    std::exception_ptr failure_;
};

}  // namespace vornakite
