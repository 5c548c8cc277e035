// The failures of a conversion: beside its fixed message each carries a stable code, so that a
// caller can act on the kind of failure (a script reading the JSON output) without comparing
// English text, and where the reader knows them, the line and field of the bad value.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace vornakite {

// Every kind of failure a log's conversion can end with. The names errorCodeName gives are part
// of the JSON output: never change or reuse one.
enum class ErrorCode : std::uint8_t {
    none,                 // converted
    cannotOpen,           // "Cannot open file"
    readFailed,           // "Cannot read file"
    emptyFile,            // "Empty file"
    invalidHeader,        // "Invalid header format"
    invalidNumber,        // "invalid stod argument"
    numberOutOfRange,     // "stod argument out of range"
    nonFiniteCoordinate,  // "Non-finite coordinate in yield data"
    noYieldData,          // "No yield data (DY) lines found"
    noRecords,            // "No records to write"
    tooManyRecords,       // "Too many records for a shapefile"
    outputFolder,         // "create_directories: <reason> [<folder>]"
    outputFailed,         // "Failed to create/write ..." of any output file
    outputExists,         // "Output set already exists"
    folderLocked,         // "Output folder is locked by another conversion"
    logChanged,           // "Log changed while it was converted"
    stopped,              // "Conversion stopped"
    outOfMemory,          // std::bad_alloc's message
    internal,             // anything else
    outputIsLog,          // "Output would replace a log of this batch"
    notReplaced,          // "Not replaced: ..." (a summary or report over a file not of ours)
    noGrid,               // "Yield grid too large: ...", "No kept point ... for the yield grid"
};

// The code as the JSON output names it, in snake_case ("cannot_open"); empty for none.
constexpr const char* errorCodeName(ErrorCode code) {
    switch (code) {
        case ErrorCode::none:
            return "";
        case ErrorCode::cannotOpen:
            return "cannot_open";
        case ErrorCode::readFailed:
            return "read_failed";
        case ErrorCode::emptyFile:
            return "empty_file";
        case ErrorCode::invalidHeader:
            return "invalid_header";
        case ErrorCode::invalidNumber:
            return "invalid_number";
        case ErrorCode::numberOutOfRange:
            return "number_out_of_range";
        case ErrorCode::nonFiniteCoordinate:
            return "non_finite_coordinate";
        case ErrorCode::noYieldData:
            return "no_yield_data";
        case ErrorCode::noRecords:
            return "no_records";
        case ErrorCode::tooManyRecords:
            return "too_many_records";
        case ErrorCode::outputFolder:
            return "output_folder";
        case ErrorCode::outputFailed:
            return "output_failed";
        case ErrorCode::outputExists:
            return "output_exists";
        case ErrorCode::folderLocked:
            return "folder_locked";
        case ErrorCode::logChanged:
            return "log_changed";
        case ErrorCode::stopped:
            return "stopped";
        case ErrorCode::outOfMemory:
            return "out_of_memory";
        case ErrorCode::outputIsLog:
            return "output_is_log";
        case ErrorCode::notReplaced:
            return "not_replaced";
        case ErrorCode::noGrid:
            return "no_grid";
        case ErrorCode::internal:
            break;
    }
    return "internal";
}

// Where in the log a failure lies, as far as the reader knows: the line (the header is line 1, a
// line feed ends a line) and the field of a sample (the record tag is field 0).
struct ErrorPlace {
    std::optional<std::uint64_t> line;
    std::optional<unsigned> field;
};

// The code and place an exception of the conversion carries. Mixed into exceptions of the
// standard types (see Coded), so that whoever catches those still does.
class CodedError {
  public:
    explicit CodedError(ErrorCode code) : code_(code) {}
    CodedError(const CodedError&) = default;
    CodedError& operator=(const CodedError&) = default;
    virtual ~CodedError() = default;

    ErrorCode code() const { return code_; }
    ErrorPlace place;  // filled in by whoever knows it, as the exception passes

  private:
    ErrorCode code_;
};

// A standard exception (std::runtime_error, std::invalid_argument, ...) with a code.
template <typename Standard>
class Coded : public Standard, public CodedError {
  public:
    Coded(ErrorCode code, const char* message) : Standard(message), CodedError(code) {}
    Coded(ErrorCode code, const std::string& message) : Standard(message), CodedError(code) {}
};

using ConversionError = Coded<std::runtime_error>;

// A failure as it is kept and reported: code none and no message when there was none.
struct Failure {
    ErrorCode code = ErrorCode::none;
    std::string message;
    ErrorPlace place;

    bool failed() const { return code != ErrorCode::none; }
};

// The failure an exception caught in a conversion stands for: its own code and place when it
// carries them, outOfMemory for std::bad_alloc, internal for anything else.
inline Failure failureOf(const std::exception& e) {
    if (const auto* coded = dynamic_cast<const CodedError*>(&e)) {
        return {coded->code(), e.what(), coded->place};
    }
    if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
        return {ErrorCode::outOfMemory, e.what(), {}};
    }
    return {ErrorCode::internal, e.what(), {}};
}

}  // namespace vornakite
