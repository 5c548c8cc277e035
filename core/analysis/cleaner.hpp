// The state one run of the quality filters shares, for the files of the filter families only
// (analysis/cleaning.hpp is the interface). The points are read in three passes that each serve
// several filters; what is looked at more often (the valid positions in metres and their
// yields) gets arrays of its own. At a million points fresh memory costs as much as the
// arithmetic, so the arrays are few and reused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "analysis/cleaning.hpp"
#include "analysis/flow_lag.hpp"
#include "analysis/passes.hpp"
#include "model/point_store.hpp"

namespace vornakite::analysis::detail {

struct Cleaner {
    Cleaner(PointView points, const CleaningOptions& options, CleaningResult& r)
        : p_(points), n_(points.size()), opt_(options), r_(r) {}

    // The steps, in the order run() takes them; each is in the file of its family.
    void run();          // cleaning.cpp, with the two reading passes
    bool readPoints();   // the track, NAN, POS, DUP and the counts
    void takeSamples();  // the samples the thresholds are taken from
    void positions();    // position_filters.cpp: the track projected to metres
    void jumps();        // JMP
    void dropJumps();    // position_filters.cpp: the track without the jumps
    void undoLag();      // lag_filters.cpp: the lags found and undone, NOV
    void estimateLags(FlowLagEstimate& flow, FlowLagEstimate& moisture);  // lag_filters.cpp
    void settleLags(FlowLagEstimate& flow, FlowLagEstimate& moisture);
    void recountShifted();
    void pointFilters();                 // point_filters.cpp: SLOW, SPD, DSPD, ZERO, YLD, MST, MSO
    void passEnds();                     // pass_ends.cpp: END; off_pass.cpp: TRN
    void localOutliers();                // local_outliers.cpp: LOC
    void offPass(const TrackPasses& t);  // off_pass.cpp: TRN and the points on a pass
    void countFlags();                   // cleaning.cpp

    bool on(Filter f) const { return (opt_.enabled & bit(f)) != 0; }
    FilterMask bitIfOn(Filter f) const { return on(f) ? bit(f) : FilterMask{0}; }
    void flag(std::size_t i, Filter f) { r_.flags[i] |= bit(f); }
    bool has(std::size_t i, FilterMask m) const { return (r_.flags[i] & m) != 0; }
    // The value of a threshold: the option's when it is set, else the automatic one. use()
    // also records it in the result, in the order the filters report them.
    double threshold(std::string_view option, double automaticValue) const;
    double use(std::string_view option, double automaticValue);
    std::vector<double>& scratch();
    void releaseScratch();  // the steps after the one that lets it go need none
    // A record's yield and moisture as the filters judge them: with the lag undone.
    double yieldOf(std::size_t i) const { return r_.lag.yieldAt(p_, i); }
    double moistureOf(std::size_t i) const { return r_.lag.moistureAt(p_, i); }
    double trackYield(std::size_t k) const { return yieldOf(track_[k]); }

    PointView p_;
    std::size_t n_;
    const CleaningOptions& opt_;
    CleaningResult& r_;

    // The valid positions in file order (after dropJumps without the jumps): the point, x and y
    // in metres from the field's middle (from positions() on), and its yield, both in single
    // precision (within 0.03 mm at 1 km: far below GPS noise; the local outliers compare
    // yields so; the yield itself is yieldOf(track_[k])).
    std::vector<std::uint32_t> track_;  // point numbers: a log of 2^32 points or more is not judged
    std::vector<float> tx_, ty_;
    std::vector<float> tv_;
    std::vector<double> scratch_;  // n values, for one step at a time
    // Counted while reading: positive yields, points whose yield and previous yield are
    // positive, positive speeds, finite and plausible moistures.
    std::size_t positiveYields_ = 0, positivePairs_ = 0, positiveSpeeds_ = 0;
    std::size_t finiteMoistures_ = 0, plausibleMoistures_ = 0;
    // The samples the statistics are taken from.
    std::vector<double> speedSample_, yieldSample_, diffSample_, moistureSample_;
    double medianStep_ = 0.0;
    double trackStep_ = 0.0;  // metres covered per sample
    double jumpMetres_ = 1.0;
    double medianYield_ = 0.0;
    double yieldNoise_ = 0.0;   // sample-to-sample standard deviation of the yield
    double medianSpeed_ = 0.0;  // mph
    double interval_ = 1.0;     // seconds per sample
    double swath_ = 0.0;        // metres between passes side by side; 0: unknown
    // Where the flow lag is not undone, a lag known well enough to say how long a pass start
    // carries grain cut before it (samples; 0: none).
    double roughLag_ = 0.0;
};

}  // namespace vornakite::analysis::detail
