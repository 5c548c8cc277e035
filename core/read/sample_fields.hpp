// Converting the used fields of a sample line, once its separators are known.
#pragma once

#include <cstdint>
#include <string_view>

#include "model/conversion_error.hpp"
#include "model/yield_point.hpp"

namespace vornakite {

// A sample has at least sixteen fields; the first fifteen separators bound every used field.
inline constexpr std::size_t kSampleSeparators = 15;

// Converts the seven used fields of the sample line at `line`, whose first fifteen separators
// are at the offsets `separators`, in the order that lets the earliest bad field decide the
// error: 7, 8, 6, 5, 4, 14, 1. Throws the errors of parseDouble, and std::runtime_error
// "Non-finite coordinate in yield data" for an infinite or NaN position, with the field in its
// place (7 when the latitude is not finite, else 8).
void parseSampleFields(const char* line, const std::uint32_t* separators, YieldPoint& point);

// Puts the field whose number failed into the place of `error`, thrown by parseSampleFields for
// the sample `line`. The field is found again only after a failure, so that converting good
// lines pays nothing for it.
void markBadField(CodedError& error, std::string_view line);

}  // namespace vornakite
