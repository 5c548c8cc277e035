// The flow lag estimator's view of a track (flow_lag.cpp): positions cut into pieces at gaps
// and turns, values smoothed along them, and pairs of points near in space that were driven in
// opposite directions.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vornakite::analysis::flowlag {

inline bool usable(double a, double b) {
    return std::isfinite(a) && std::isfinite(b);
}

// The track: positions, the distance covered per sample, the GPS noise, and its pieces between
// gaps and turns.
struct Track {
    std::span<const float> x, y;  // metres
    double perSample = 0.0;
    double noise = 0.0;                 // GPS noise, metres
    std::size_t chord = 2;              // samples each way for a heading
    std::size_t chunk = 0;              // the samples are stretches this long (0: one log)
    std::vector<std::uint32_t> piece;   // per sample; a shift never leaves its piece
    std::vector<std::uint8_t> turning;  // per sample: in a turn
    std::size_t size() const { return x.size(); }
    bool usable(std::size_t i) const { return flowlag::usable(x[i], y[i]); }
    double dist2(std::size_t i, std::size_t j) const {
        const double dx = x[i] - x[j], dy = y[i] - y[j];
        return dx * dx + dy * dy;
    }
    // The direction of travel at i: the chord from `chord` samples before to as many after,
    // within a piece; false where the combine hardly moved (less than half the usual chord).
    bool heading(std::size_t i, double& dx, double& dy) const {
        if (i < chord || i + chord >= size()) {
            return false;
        }
        const std::size_t a = i - chord, b = i + chord;
        if (!usable(a) || !usable(b) || piece[a] != piece[b] || turning[i] != 0) {
            return false;
        }
        dx = x[b] - x[a];
        dy = y[b] - y[a];
        const double usual = static_cast<double>(chord) * perSample;
        return dx * dx + dy * dy >= usual * usual;
    }
};

// The distance covered per sample: the median displacement over ten samples / 10.
double distancePerSample(std::span<const float> x, std::span<const float> y);

// The GPS noise: the standard deviation of one coordinate.
double gpsNoise(const Track& t);

// Marks the samples in turns and cuts the track into pieces at turns and gaps (below).
void cutPieces(Track& t);

// The values smoothed along the track, within each piece (below); NaN where none.
std::vector<float> smoothAlong(const Track& t, std::span<const double> value, std::size_t half);

struct Pair {
    std::size_t i, j;
    double distance;
};

// Pairs of points near in space driven in opposite directions (below).
std::vector<Pair> findPairs(const Track& t, double cell, std::size_t apart, std::size_t maxPairs,
                            std::size_t spacing);

// The first sample of each sample's piece and the one after its last.
struct PieceBounds {
    std::vector<std::size_t> begin, end;  // per piece
    explicit PieceBounds(const Track& t) {
        for (std::size_t i = 0; i < t.size(); ++i) {
            if (i == 0 || t.piece[i] != t.piece[i - 1]) {
                begin.push_back(i);
                end.push_back(i);
            }
            ++end.back();
        }
    }
};

// The values a shift moves, smoothed along the track (flow_lag_pace.cpp): the values themselves,
// or where the pace swings the flow (value x pace), with `inverse` 1 / the pace at each sample,
// which the flow moved there is divided by (empty: none).
struct Smoothed {
    std::vector<float> value, inverse;
    // What a point's shifted values are taken with: 1 / its pace, or 1; NaN where it is unknown.
    float factor(std::size_t i) const { return inverse.empty() ? 1.0f : inverse[i]; }
};
// `pace` is one per sample, or empty; it is used up.
Smoothed smoothedFlow(const Track& t, const PieceBounds& pieces, std::span<const double> value,
                      std::vector<double>& pace, std::size_t half, double seconds);

}  // namespace vornakite::analysis::flowlag
