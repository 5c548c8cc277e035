// Reading a log as a stream: the header's few used fields first, then the samples in pieces, to
// whatever consumes them. Memory stays bounded by what the rules use, whatever the line lengths.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "model/conversion_error.hpp"
#include "model/yield_point.hpp"

namespace vornakite {

// What the header line gives: the number of its fields and the three that name the outputs.
struct LogHeader {
    std::uint64_t fieldCount = 0;
    std::string field6, field7, field8;
};

// Receives a log as it is read: the header once, then the points in file order.
class LogVisitor : public PointSink {
  public:
    // The log's size in bytes when it was opened, before anything of it is read.
    virtual void opened(std::uint64_t /*bytes*/) {}
    virtual void header(const LogHeader& header) = 0;
};

// Thrown when the caller asked the read to stop (the program is closing).
class ReadStopped : public ConversionError {
  public:
    ReadStopped() : ConversionError(ErrorCode::stopped, "Conversion stopped") {}
};

// Reads the log at `path` with the text-mode rules on every platform (LF ends a line, a CR
// directly before it is dropped, the first 0x1A ends the input), handing the header and then the
// samples to `visitor`. Returns the number of samples. Throws the reading errors
// (std::runtime_error "Cannot open file", "Cannot read file", "Empty file", "Invalid header
// format", "Non-finite coordinate in yield data", "No yield data (DY) lines found", or the errors
// of parseDouble) at the point where they arise, so the visitor may have had points already.
// Each carries its code; a bad sample also its line and field, a bad header line 1.
// Between reads it checks `stop` and throws ReadStopped once it is set.
std::uint64_t readLog(const std::filesystem::path& path, LogVisitor& visitor,
                      const std::atomic<bool>* stop = nullptr);

}  // namespace vornakite
