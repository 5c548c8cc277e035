// The numbers an agronomist asks of a harvested field, all estimated from one log: the working
// width, the area harvested, the production (total bushels, mean yield over the area) and the
// yield at the crop's standard moisture. Pure functions over plain per-point inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/crops.hpp"
#include "analysis/field_track.hpp"

namespace vornakite::analysis {

struct FieldNumbersInput {
    TrackInput track;                    // positions, ground scale and the on-a-pass flags
    std::span<const double> yield;       // bu/ac as logged
    std::span<const double> moisture;    // percent
    std::span<const std::uint8_t> kept;  // non-zero: passed the quality filters; empty: all
    std::string_view crop;               // the header's crop name
    // When set, point i's yield and moisture are read through it, and the two spans above are
    // empty: no array of them is held.
    std::function<std::pair<double, double>(std::size_t)> valuesAt{};
};

struct FieldNumbersOptions {
    std::optional<double> swathMetres{};       // set by the user: replaces the estimate
    std::optional<double> gapMetres{};         // a longer step on a pass adds nothing
    std::optional<double> standardMoisture{};  // percent: replaces the crop's
};

// Every figure is an estimate; NaN where it cannot be given (no swath, no kept yield, an unknown
// crop), with the reason in `notes`.
struct FieldNumbers {
    SwathEstimate swathEstimate;  // computed whether or not the user set the swath
    double swathMetres;           // the one used: the user's, else the estimate
    bool swathSet = false;
    double distanceMetres = 0.0;  // travelled on passes
    double gapMetres = 0.0;
    double areaHectares, areaAcres;
    std::size_t yieldPoints = 0;  // kept points with a finite yield on a pass (weight > 0)
    double meanYield;             // bu/ac, area-weighted over the kept points
    double plainMeanYield;        // bu/ac, plain mean of the kept points' finite yields
    double totalBushels;          // meanYield * area
    const CropInfo* crop = nullptr;
    double meanTonnesPerHectare, totalTonnes;
    double standardMoisture;  // percent: the user's, else the crop's
    bool standardSet = false;
    std::size_t dryPoints = 0;  // kept points on a pass with a yield and a moisture in 0..100
    double dryMeanYield;        // bu/ac at the standard moisture, area-weighted
    double dryTotalBushels;
    double dryTonnesPerHectare;
    std::vector<std::string> notes;
};

// The field's numbers. The track is walked as walkTrack does (the area is its distance times
// the swath); each kept point on a pass weighs the area it stands for (its share of the track
// times the swath), so the mean is the yield averaged over the area and unevenly spaced samples
// (a stop, a faster stretch) count by the ground they cover; points on a pass whose values were
// removed count in the area at the kept points' mean. Dry yields are taken per point with its
// own moisture, then averaged the same way. Every span holds one value per point (moisture,
// kept and the pass flags may be empty); else std::invalid_argument.
FieldNumbers computeFieldNumbers(const FieldNumbersInput& input,
                                 const FieldNumbersOptions& options = {});

// The same over a walk already made (the caller may want its pieces and lengths too).
FieldNumbers computeFieldNumbers(const FieldNumbersInput& input, const TrackWalk& walk,
                                 const FieldNumbersOptions& options = {});

// The same with the swath already estimated from the walk: the positions (input.track) are not
// read and may be empty, so that their memory can go before the yields are gathered.
FieldNumbers computeFieldNumbers(const FieldNumbersInput& input, const TrackWalk& walk,
                                 const SwathEstimate& swath, const FieldNumbersOptions& options);

}  // namespace vornakite::analysis
