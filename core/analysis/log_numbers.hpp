// The field's numbers of one log (or of the logs merged into one set) as the converter reports
// them: the inputs gathered from the points and the filters' verdict, the passes, the numbers,
// the yield surface when asked for, and the short text the cleaning line ends with.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/cleaning.hpp"
#include "analysis/field_numbers.hpp"
#include "analysis/surface.hpp"
#include "model/point_store.hpp"

namespace vornakite::analysis {

struct LogNumbersOptions {
    FieldNumbersOptions field;
    double gridCellMetres = 0.0;  // > 0: also the yield surface of that cell size
};

struct LogNumbers {
    FieldNumbers numbers;
    std::optional<YieldSurface> surface;
    std::string surfaceError;  // why no surface was built (too large), or ""
};

// Per point, non-zero when it was logged on a pass: the filters' verdict (CleaningResult::onPass,
// turns, transits and harvested ground left out) when they judged the log, else the passes
// judged from the track alone (findPassPoints over the log's positions in its UTM zone).
// `onPass`, when not empty, replaces both. The yields and moistures are the records' (the lag
// undone).
LogNumbers logNumbers(PointView points, const CleaningResult& cleaning, std::string_view crop,
                      const LogNumbersOptions& options, std::span<const std::uint8_t> onPass = {});

// The same over points whose verdicts are given as kept flags (non-zero: kept), such as the
// logs of a merged set one after another.
LogNumbers logNumbers(PointView points, std::span<const std::uint8_t> kept, std::string_view crop,
                      const LogNumbersOptions& options, std::span<const std::uint8_t> onPass = {});

// What the cleaning line ends with: "estimated: 41.3 ac harvested, swath 9.1 m, 7,420 bu"
// (then the dry bushels at the standard moisture when known), or why there is no area.
std::string numbersLineText(const FieldNumbers& numbers);

// A whole number with thousands separators: 7420 -> "7,420"; "" when not finite.
std::string groupedNumber(double v);

}  // namespace vornakite::analysis
