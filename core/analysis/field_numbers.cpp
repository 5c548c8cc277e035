#include "analysis/field_numbers.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace vornakite::analysis {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kKilogramsPerPound = 0.45359237;

// Sum of weight and of weight * value over the kept points on a pass whose value is finite.
struct WeightedSum {
    double weight = 0.0, sum = 0.0;
    std::size_t count = 0;
    void add(double w, double v) {
        if (w > 0.0 && std::isfinite(v)) {
            weight += w;
            sum += w * v;
            ++count;
        }
    }
    double mean() const { return weight > 0.0 ? sum / weight : kNaN; }
};

void computeSwath(const SwathEstimate& estimate, const TrackWalk& walk,
                  const FieldNumbersOptions& options, FieldNumbers& r) {
    r.swathEstimate = estimate;
    r.swathSet = options.swathMetres.has_value() && *options.swathMetres > 0.0;
    r.swathMetres = r.swathSet                  ? *options.swathMetres
                    : r.swathEstimate.estimated ? r.swathEstimate.metres
                                                : kNaN;
    if (!r.swathSet && !r.swathEstimate.estimated) {
        r.notes.push_back("swath not estimated: " + r.swathEstimate.note +
                          "; no area or totals without one");
    }
    r.distanceMetres = walk.distance;
    r.gapMetres = walk.gapMetres;
    const double area = walk.distance * r.swathMetres;  // NaN without a swath
    r.areaHectares = area / kSquareMetresPerHectare;
    r.areaAcres = area / kSquareMetresPerAcre;
}

void computeYields(const FieldNumbersInput& in, const TrackWalk& walk, FieldNumbers& r) {
    const std::size_t n = walk.length.size();
    auto kept = [&](std::size_t i) { return in.kept.empty() || in.kept[i] != 0; };
    WeightedSum wet, dry;
    double plainSum = 0.0;
    std::size_t plainCount = 0;
    const bool hasStandard = std::isfinite(r.standardMoisture);
    const bool moistures = in.valuesAt || !in.moisture.empty();
    for (std::size_t i = 0; i < n; ++i) {
        if (!kept(i)) {
            continue;
        }
        const auto [yield, moisture] =
            in.valuesAt ? in.valuesAt(i)
                        : std::pair(in.yield[i], in.moisture.empty() ? kNaN : in.moisture[i]);
        if (!std::isfinite(yield)) {
            continue;
        }
        plainSum += yield;
        ++plainCount;
        wet.add(walk.length[i], yield);
        if (hasStandard && moistures) {
            dry.add(walk.length[i], yieldAtMoisture(yield, moisture, r.standardMoisture));
        }
    }
    r.plainMeanYield = plainCount > 0 ? plainSum / static_cast<double>(plainCount) : kNaN;
    r.yieldPoints = wet.count;
    r.meanYield = wet.mean();
    r.totalBushels = r.meanYield * r.areaAcres;
    r.dryPoints = dry.count;
    r.dryMeanYield = dry.mean();
    r.dryTotalBushels = r.dryMeanYield * r.areaAcres;
    if (wet.count == 0) {
        r.notes.push_back("no kept point with a yield on a pass: no mean yield or totals");
    } else if (hasStandard && dry.count == 0) {
        r.notes.push_back("no kept point with a moisture in 0-100 %: no dry yield");
    }
}

void computeTonnes(FieldNumbers& r) {
    r.meanTonnesPerHectare = r.totalTonnes = r.dryTonnesPerHectare = kNaN;
    if (r.crop == nullptr) {
        return;
    }
    const double lb = r.crop->poundsPerBushel;
    r.meanTonnesPerHectare = bushelsPerAcreToTonnesPerHectare(r.meanYield, lb);
    r.totalTonnes = r.totalBushels * lb * kKilogramsPerPound / 1000.0;
    r.dryTonnesPerHectare = bushelsPerAcreToTonnesPerHectare(r.dryMeanYield, lb);
}

}  // namespace

FieldNumbers computeFieldNumbers(const FieldNumbersInput& input, const TrackWalk& walk,
                                 const SwathEstimate& swath, const FieldNumbersOptions& options) {
    const std::size_t n = walk.length.size();
    const std::size_t positions = input.track.size();
    if ((positions != 0 && positions != n) || (!input.valuesAt && input.yield.size() != n) ||
        (!input.moisture.empty() && input.moisture.size() != n) ||
        (!input.kept.empty() && input.kept.size() != n)) {
        throw std::invalid_argument("Point arrays of different lengths");
    }
    FieldNumbers r{};
    computeSwath(swath, walk, options, r);
    r.crop = findCrop(input.crop);
    r.standardSet = options.standardMoisture.has_value() && *options.standardMoisture >= 0.0 &&
                    *options.standardMoisture < 100.0;
    r.standardMoisture = r.standardSet       ? *options.standardMoisture
                         : r.crop != nullptr ? r.crop->standardMoisture
                                             : kNaN;
    if (r.crop == nullptr) {
        const std::string name(input.crop);
        r.notes.push_back("unknown crop \"" + name + "\": no tonnes" +
                          (r.standardSet ? "" : " and no dry yield without a standard moisture"));
    }
    computeYields(input, walk, r);
    computeTonnes(r);
    return r;
}

FieldNumbers computeFieldNumbers(const FieldNumbersInput& input, const TrackWalk& walk,
                                 const FieldNumbersOptions& options) {
    if (walk.length.size() != input.track.size()) {
        throw std::invalid_argument("Point arrays of different lengths");
    }
    return computeFieldNumbers(input, walk, estimateSwath(input.track, walk), options);
}

FieldNumbers computeFieldNumbers(const FieldNumbersInput& input,
                                 const FieldNumbersOptions& options) {
    const TrackWalk walk = walkTrack(input.track, options.gapMetres.value_or(0.0));
    return computeFieldNumbers(input, walk, options);
}

}  // namespace vornakite::analysis
