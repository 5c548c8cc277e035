// Text-to-double conversion with the exact results and failures of std::stod
// in the classic locale, on every platform.
#pragma once

#include <string_view>

namespace vornakite {

// Converts the longest prefix of `text` that forms a number, after leading
// C white space: decimal with optional fraction and exponent, hexadecimal
// (0x...p...), "inf"/"infinity" and "nan"/"nan(...)", each with an optional
// sign. The rest of the text is ignored. The value is correctly rounded.
// Throws std::invalid_argument("invalid stod argument") when no number
// starts the text and std::out_of_range("stod argument out of range") where
// strtod would report ERANGE: overflow, and an inexact result that is tiny
// (below the smallest normal double after rounding). Both carry their code
// (ErrorCode invalidNumber, numberOutOfRange).
double parseDouble(std::string_view text);

}  // namespace vornakite
