// Numbers as plain C-locale text for the summary, the report and the printed lines: no
// exponent, no thousands separator, a point as the decimal mark, whatever the user's locale.
#pragma once

#include <string>

namespace vornakite::analysis {

// `v` rounded to at most `decimals` places, trailing zeros dropped ("12.5", "3", "-0.25"); ""
// for NaN and infinities. -0 prints as "0".
std::string plainNumber(double v, int decimals);

// `v` with exactly `decimals` places ("94.1"); "" for NaN and infinities.
std::string fixedNumber(double v, int decimals);

}  // namespace vornakite::analysis
