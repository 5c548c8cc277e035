// Converting the used fields of a sample line, once its separators are known.
#pragma once

#include <cstdint>

#include "model/yield_point.hpp"

namespace vornakite {

// A sample has at least sixteen fields; the first fifteen separators bound every used field.
inline constexpr std::size_t kSampleSeparators = 15;

// Converts the seven used fields of the sample line at `line`, whose first fifteen separators
// are at the offsets `separators`, in the order that lets the earliest bad field decide the
// error: 7, 8, 6, 5, 4, 14, 1. Throws the errors of parseDouble, and std::runtime_error
// "Non-finite coordinate in yield data" for an infinite or NaN position.
void parseSampleFields(const char* line, const std::uint32_t* separators, YieldPoint& point);

}  // namespace vornakite
