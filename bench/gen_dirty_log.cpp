// vornakite-gendirty: writes one field's yield log with errors injected at known samples, and
// a truth file naming them, to evaluate the quality filters.
//
// Each seed draws a different field: size, shape (pass ends follow a wavy boundary), heading,
// header width, speed, sample interval, GPS noise, crop, yield level and variation, and how
// headland turns are logged. The crop has natural low areas that are real and must be kept: a
// wet spot (lower yield, wetter grain) and the field edge (the outer passes, and for some fields
// a band at the pass ends). Injected errors, each kind at random samples:
//   headland   turn with the header raised: zero yield
//   delay      grain-flow ramp at a pass start or end (yield below 70 % of the crop's)
//   jump       GPS jump: 1 to 6 samples displaced by 6 m to 800 m, then back
//   nofix      position (0, 0)
//   duplicate  the previous sample's position again
//   stop       slowing to a stop and starting again (speed below 60 % of the usual)
//   speed      a wrong speed reading for 1-2 samples, and the yield computed with it
//   zero       yield sensor dropout for 1-4 samples
//   spike      yield 1.6 to 4 times the crop's, 1-2 samples
//   dip        yield 5 % to 40 % of the crop's, 1-2 samples
//   moisture   moisture reading of 0, 60 to 90 %, or 10 to 20 points too high
//   carryover  (lag model) a pass sample whose grain was mostly cut on another pass or a turn
//   turn       (lag model) a sample off the passes (turn, transit) logging grain
// Samples of a ramp or stop that are only a little off (70-90 % yield, 60-90 % speed) and
// turns logged with the header down are marked "minor": neither error nor clean.
//
// --interval sets the seconds between samples instead of drawing them (0.5, 1 or 2 s); --turns
// up|off|down how headland turns are logged (header raised, not logged, header down).
//
// The grain-flow lag model (gen_dirty_lag.cpp), with --lag SAMPLES, --lag-seconds S or
// --lag-seconds-range LO HI (drawn per seed): the combine is followed tick by tick, logged or
// not, and the flow sensor sees the grain cut a transport delay earlier, mixed with a
// first-order response (time constant --response-seconds, else drawn in 0.5-2.5 s); the lag is
// the response's centroid. The moisture sensor has its own lag (--moisture-lag SAMPLES; else the
// flow's, or with a drawn lag up to 3 s different). The ramps are then not injected: a pass
// start after a turn shorter than the lag logs the previous pass's grain, then the empty
// turn's, then its own (carryover); after a longer turn it fills from nothing (delay); turn
// samples logged with the header raised carry grain cut on the pass (turn). --short-turns drives
// each turn in 0.3-0.8 of the lag; narrow swaths turn in a loop beyond the headland; --transits N
// replaces N turns by a drive across the harvested passes to the field edge and back; with
// turns off the monitor logs nothing while the header is up (the time passes all the same).
// Stops follow from the same model (the monitor divides the grain arriving by the speed now).
// --pace-swing SHARE lets the pace along the passes swing by up to that share of the usual one
// over a minute or a few (the logged speed follows it), so the grain cut at one pace is divided
// by another.
//
// The truth file is CSV: index,kind (0-based sample index) for every sample that is not clean,
// including the natural areas "wet" and "edge". With the lag model, a first line
// "# lag=L moisture_lag=M interval=S response=T" (samples, samples, seconds, seconds) and then
// index,kind,true_yield for every sample: the crop's yield at the sample's position (0 where
// nothing was cut).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "gen_dirty.hpp"

namespace {

using namespace gendirty;

int usage() {
    std::fputs(
        "usage: vornakite-gendirty [--seed S] [--interval SECONDS] [--turns up|off|down]\n"
        "         [--lag SAMPLES | --lag-seconds S | --lag-seconds-range LO HI]\n"
        "         [--moisture-lag SAMPLES] [--response-seconds S] [--short-turns]\n"
        "         [--transits N] [--pace-swing SHARE] OUT.Vornakite TRUTH.csv\n",
        stderr);
    return 2;
}

struct Options {
    std::uint64_t seed = 1;
    double interval = 0.0;  // seconds between samples; 0: drawn with the field
    int turnMode = -1;      // -1: drawn with the field
    double lag = -1, lagSeconds = -1, lagLow = -1, lagHigh = -1;  // -1: not given
    double moistureLag = -1, responseSeconds = -1;
    bool shortTurns = false;
    int transits = 0;
    double paceSwing = 0.0;
    std::vector<std::string> paths;
    bool lagged() const { return lag >= 0 || lagSeconds >= 0 || lagLow >= 0; }
};

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool value = i + 1 < argc;
        auto number = [&] { return std::strtod(argv[++i], nullptr); };
        if (arg == "--seed" && value) {
            o.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--interval" && value) {
            o.interval = number();
        } else if (arg == "--turns" && value) {
            const std::string_view mode = argv[++i];
            o.turnMode = mode == "up" ? 0 : mode == "off" ? 1 : mode == "down" ? 2 : -2;
        } else if (arg == "--lag" && value) {
            o.lag = number();
        } else if (arg == "--lag-seconds" && value) {
            o.lagSeconds = number();
        } else if (arg == "--lag-seconds-range" && i + 2 < argc) {
            o.lagLow = number();
            o.lagHigh = number();
        } else if (arg == "--moisture-lag" && value) {
            o.moistureLag = number();
        } else if (arg == "--response-seconds" && value) {
            o.responseSeconds = number();
        } else if (arg == "--short-turns") {
            o.shortTurns = true;
        } else if (arg == "--transits" && value) {
            o.transits = static_cast<int>(number());
        } else if (arg == "--pace-swing" && value) {
            o.paceSwing = number();
        } else if (!arg.empty() && arg[0] != '-') {
            o.paths.emplace_back(arg);
        } else {
            return false;
        }
    }
    const bool lagOnly = o.shortTurns || o.transits > 0 || o.moistureLag >= 0 || o.paceSwing != 0;
    return o.paths.size() == 2 && o.turnMode != -2 && (o.lagged() || !lagOnly) && o.lag >= -1 &&
           o.lagSeconds >= -1 && o.lagHigh >= o.lagLow && o.transits >= 0 && o.paceSwing >= 0 &&
           o.paceSwing < 0.9;
}

// The lag model of the log: the flow lag as given or drawn, the moisture sensor's the same (or,
// with a drawn lag, up to 3 s different), a response time constant of 0.5-2.5 s unless given.
LagModel lagModel(const Options& o, const Plan& plan, Random& rng) {
    LagModel m;
    m.on = true;
    m.flow = o.lag >= 0          ? o.lag
             : o.lagSeconds >= 0 ? o.lagSeconds / plan.interval
                                 : rng.uniform(o.lagLow, o.lagHigh) / plan.interval;
    m.moisture = o.moistureLag >= 0 ? o.moistureLag
                 : o.lagLow >= 0    ? std::max(0.0, m.flow + rng.uniform(-3, 3) / plan.interval)
                                    : m.flow;
    const double tau = o.responseSeconds >= 0 ? o.responseSeconds : rng.uniform(0.5, 2.5);
    m.tau = std::min(tau / plan.interval, m.flow / 2);
    m.shortTurns = o.shortTurns;
    m.transits = o.transits;
    m.paceSwing = o.paceSwing;
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        return usage();
    }
    Random rng(o.seed * 7919 + 17);
    Plan plan = drawPlan(rng);
    if (o.interval > 0.0) {
        plan.interval = o.interval;
    }
    if (o.turnMode >= 0) {
        plan.turnMode = o.turnMode;
    }
    // The lag model draws from its own sequence, so that a seed's field is the same with it.
    Random lagRng(o.seed * 104729 + 5);
    LagModel lag;
    if (o.lagged()) {
        lag = lagModel(o, plan, lagRng);
    }
    std::vector<Sample> samples = harvest(plan, rng, lag, lagRng);
    if (lag.on) {
        samples = logWithLag(samples, lag, plan);
    }
    inject(samples, plan, rng);

    const std::string& logPath = o.paths[0];
    const std::string& truthPath = o.paths[1];
    const std::uint64_t seed = o.seed;
    std::FILE* log = std::fopen(logPath.c_str(), "wb");
    std::FILE* truth = std::fopen(truthPath.c_str(), "wb");
    if (log == nullptr || truth == nullptr) {
        std::fprintf(stderr, "vornakite-gendirty: cannot create the outputs\n");
        return 1;
    }
    std::fprintf(
        log, "VKLOG@3.2@SN 40417-K@2026-10-01@08:12:05@J. Olsen@Eval Farm@Seed %llu@%s@X@30 ft\n",
        static_cast<unsigned long long>(seed), plan.crop);
    const double flowLag = responseCentroid(lag.flow, lag.tau);
    const double moistureLag = responseCentroid(lag.moisture, lag.tau);
    if (lag.on) {  // every sample, with the crop's true yield at its position
        std::fprintf(truth, "# lag=%.2f moisture_lag=%.2f interval=%.2f response=%.2f\n", flowLag,
                     moistureLag, plan.interval, lag.tau * plan.interval);
        std::fprintf(truth, "index,kind,true_yield\n");
    } else {
        std::fprintf(truth, "index,kind\n");
    }
    const double c = std::cos(plan.rotation), sn = std::sin(plan.rotation);
    const double mPerLat = 110574.0, mPerLon = 111319.49 * std::cos(plan.lat0 * kPi / 180.0);
    long long lastLat = 0, lastLon = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Sample& s = samples[i];
        const double u = s.u + s.jumpU + rng.gauss(0, plan.gpsNoise);
        const double v = s.v + s.jumpV + rng.gauss(0, plan.gpsNoise);
        const double east = u * c - v * sn, north = u * sn + v * c;
        double lon = plan.lon0 + east / mPerLon;
        lon = lon >= 180.0 ? lon - 360.0 : lon;
        long long lat7 = std::llround((plan.lat0 + north / mPerLat) * 1e7);
        long long lon7 = std::llround(lon * 1e7);
        if (s.noFix) {
            lat7 = lon7 = 0;
        } else if (s.duplicate) {
            lat7 = lastLat;
            lon7 = lastLon;
        }
        lastLat = lat7;
        lastLon = lon7;
        const double yield = std::max(0.0, s.yield);
        std::fprintf(log, "DY@%lld@08:00:00@30@%lld@%lld@%lld@%lld@%lld@0@0@4@15@1@%lld@1@0\n",
                     std::llround(std::max(0.0, s.speed) * 10),
                     std::llround(yield * s.testWeight / 2000.0 * 100),
                     std::llround(std::max(0.0, s.moisture) * 10), std::llround(yield * 10), lat7,
                     lon7, std::llround(s.testWeight * 10));
        if (lag.on) {
            std::fprintf(truth, "%zu,%s,%.2f\n", i, kKindNames[s.kind], s.crop);
        } else if (s.kind != kClean) {
            std::fprintf(truth, "%zu,%s\n", i, kKindNames[s.kind]);
        }
    }
    std::fclose(log);
    std::fclose(truth);
    std::printf(
        "seed %llu: %s, %zu samples, %d passes of %.0f m, swath %.1f m, %.1f mph, every "
        "%.1f s, GPS noise %.2f m, turns %s",
        static_cast<unsigned long long>(seed), plan.crop, samples.size(), plan.passes, plan.length,
        plan.swath, plan.speedMean, plan.interval, plan.gpsNoise,
        plan.turnMode == 0   ? "header up"
        : plan.turnMode == 1 ? "not logged"
                             : "header down");
    if (lag.on) {
        std::printf(", lag %.1f samples (moisture %.1f), response %.1f s%s", flowLag, moistureLag,
                    lag.tau * plan.interval, lag.shortTurns ? ", short turns" : "");
        if (lag.transits > 0) {
            std::printf(", %d transits", lag.transits);
        }
    }
    std::printf("\n");
    return 0;
}
