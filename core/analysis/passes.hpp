// A track cut into passes: the straight runs across a field between the turns at the headlands
// and the gaps in the log. The track is a log's positions in metres, in the order they were
// logged. The heading before and after each point is measured over chords of at least a given
// length, by displacement and not by sample count, so that neither the sample rate nor GPS
// noise at a crawl decides where a turn is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vornakite::analysis {

// One pass: the track points [begin, end), with the turns around it. [turnBefore, begin) are
// the points since the previous pass, cut at the last gap before the pass; [end, turnAfter)
// the turn points right after it, up to a gap.
struct Pass {
    std::size_t begin;
    std::size_t end;
    std::size_t turnBefore;
    std::size_t turnAfter;
};

struct TrackPasses {
    std::vector<std::uint8_t> gapBefore;  // per point: 1 when the step to it is a gap
    std::vector<std::uint8_t> turn;       // per point: 1 when the heading changes there
    std::vector<Pass> passes;             // in track order; every point but a turn is in one
};

// The longest turn-free angle: a larger change of heading at a point makes it a turn.
inline constexpr double kTurnDegrees = 35.0;

// Cuts the track (x[k], y[k]) into passes: a step longer than `gapMetres` is a gap, and a point
// is a turn where the heading of the chord from the latest earlier point at least `chordMetres`
// away and that of the chord to the first such later point differ by more than kTurnDegrees.
// The chords do not cross a gap, and each search stops after 400 points (a long stop). `along`
// (as many values as points) is work space: on return it holds the distance along the track
// to each point. Long tracks are shared with a second thread.
TrackPasses findPasses(std::span<const float> x, std::span<const float> y, double gapMetres,
                       double chordMetres, std::span<double> along);

}  // namespace vornakite::analysis
