// A point set as one CSV file (RFC 4180, lines ended by CR LF, UTF-8 without a byte-order mark):
// a header row "longitude,latitude," with the attribute and text column names, then one row per
// point. A value that is not finite is an empty field.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "write/format_writer.hpp"
#include "write/output_transaction.hpp"
#include "write/text_output.hpp"

namespace vornakite {

inline constexpr OutputMessages kCsvMessages = {"Failed to create CSV output",
                                                "Failed to write CSV output"};

class CsvWriter : public FormatWriter {
  public:
    // Adds the set's file, base path + suffix + the first of `extensions` (".csv"), to the
    // transaction.
    CsvWriter(OutputTransaction& transaction, const SetLayout& layout,
              std::span<const std::wstring> extensions);

    void addPoints(std::span<const YieldPoint> points) override;
    void addPoint(const YieldPoint& point, std::span<const std::string_view> texts) override;
    void finish() override;

  private:
    StreamedOutput output_;
    std::size_t textColumns_;
    std::string row_;
};

}  // namespace vornakite
