// vornakite-gendirty's model, shared by its parts: the kinds of samples, one sample as driven,
// the field's plan and how it is harvested (gen_dirty_field.cpp), the injected errors
// (gen_dirty_errors.cpp) and the grain-flow lag model (gen_dirty_lag.cpp).
#pragma once

#include <vector>

#include "bench_random.hpp"

namespace gendirty {

using benchtools::Random;

constexpr double kPi = 3.14159265358979323846;
constexpr double kMphToMps = 0.44704;

enum Kind : int {
    kClean,
    kWet,
    kEdge,
    kMinor,
    kHeadland,
    kDelay,
    kJump,
    kNoFix,
    kDuplicate,
    kStop,
    kSpeed,
    kZero,
    kSpike,
    kDip,
    kMoisture,
    kCarryover,
    kTurn,
};
constexpr const char* kKindNames[] = {
    "clean", "wet",   "edge", "minor", "headland", "delay",    "jump",      "nofix", "duplicate",
    "stop",  "speed", "zero", "spike", "dip",      "moisture", "carryover", "turn"};

struct Sample {
    double u, v;  // metres along and across the passes
    double speed, yield, moisture, testWeight;
    int kind = kClean;
    bool noFix = false;
    bool duplicate = false;
    double jumpU = 0.0, jumpV = 0.0;
    // The lag model's ticks: every sample interval as driven, logged or not.
    int segment = 0;          // passes, turns and transits in driving order
    bool cutting = false;     // header down in standing crop
    bool logged = true;       // false: a turn the monitor does not log
    bool offPattern = false;  // a turn or a transit
    double pace = 0.0;        // the combine's speed without sensor noise (mph)
    double stopFactor = 1.0;  // pace / usual speed while stopping
    double crop = 0.0;        // the crop's yield here (0 where nothing is cut)
    int natural = kClean;     // the position's own kind: clean, wet or edge
};

struct Plan {
    const char* crop;
    double yieldMean, noiseCv, amplitude;
    double moistMean, moistAmp, moistNoise, testWeight;
    double speedMean, speedNoise, interval, swath, gpsNoise;
    double length, wobble, rotation, lat0, lon0;
    int passes, turnMode;  // 0: logged, header up; 1: not logged; 2: logged, header down
    double wetU, wetV, wetRadius, wetFactor;
    double edgeFactor, endBand, endFactor;
    double phase1, phase2;
};

// The grain-flow lag: the flow sensor sees the grain a transport delay after it was cut, mixed
// over a first-order response of time constant `tau`; the lag is that response's centroid.
struct LagModel {
    bool on = false;
    double flow = 0.0;      // samples: centroid of the flow's response
    double moisture = 0.0;  // samples: of the moisture sensor's
    double tau = 0.0;       // samples
    bool shortTurns = false;
    int transits = 0;
    // The operator's pace along the passes swings by up to this share of the usual one (slowing
    // in heavy crop, speeding up in thin), over a minute or a few: the flow is cut at one pace
    // and divided by another.
    double paceSwing = 0.0;
};

// The field of a seed (gen_dirty_field.cpp).
Plan drawPlan(Random& rng);

// The samples as driven, in order; with the lag model every tick, logged or not.
std::vector<Sample> harvest(const Plan& plan, Random& rng, const LagModel& lag, Random& lagRng);

// Errors of each kind at random samples that are still clean or natural (gen_dirty_errors.cpp).
void inject(std::vector<Sample>& s, const Plan& p, Random& rng);

// The samples the monitor logs from the ticks as driven: the yield of the grain arriving at the
// flow sensor over the pace at the time, the moisture of the grain arriving at its sensor, and
// the kind of each from where its grain was cut.
std::vector<Sample> logWithLag(const std::vector<Sample>& ticks, const LagModel& lag,
                               const Plan& plan);

// The centroid of the response that `lag` gives for a lag of `samples`: the delay is whole
// samples, so the centroid differs from it by up to half a sample.
double responseCentroid(double samples, double tau);

}  // namespace gendirty
