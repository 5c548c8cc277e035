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
// Samples of a ramp or stop that are only a little off (70-90 % yield, 60-90 % speed) and
// turns logged with the header down are marked "minor": neither error nor clean.
//
// --interval sets the seconds between samples instead of drawing them (0.5, 1 or 2 s).
//
// The truth file is CSV: index,kind (0-based sample index) for every sample that is not clean,
// including the natural areas "wet" and "edge".
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "bench_random.hpp"

namespace {

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
};
constexpr const char* kKindNames[] = {"clean", "wet",  "edge",  "minor",     "headland",
                                      "delay", "jump", "nofix", "duplicate", "stop",
                                      "speed", "zero", "spike", "dip",       "moisture"};

struct Sample {
    double u, v;  // metres along and across the passes
    double speed, yield, moisture, testWeight;
    int kind = kClean;
    bool noFix = false;
    bool duplicate = false;
    double jumpU = 0.0, jumpV = 0.0;
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

Plan drawPlan(Random& rng) {
    Plan p{};
    const double crop = rng.uniform();
    // Name, yield level (bu/ac), moisture (%), test weight (lb/bu).
    if (crop < 0.45) {
        p.crop = "Corn";
        p.yieldMean = rng.uniform(150, 240);
        p.moistMean = rng.uniform(15, 24);
        p.moistAmp = 2.0;
        p.testWeight = 56;
    } else {
        p.crop = crop < 0.8 ? "Soybeans" : "Wheat";
        p.yieldMean = crop < 0.8 ? rng.uniform(40, 70) : rng.uniform(50, 100);
        p.moistMean = rng.uniform(11, 16);
        p.moistAmp = 1.0;
        p.testWeight = 60;
    }
    p.moistNoise = 0.25;
    p.noiseCv = rng.uniform(0.04, 0.12);
    p.amplitude = rng.uniform(0.05, 0.25);
    p.speedMean = rng.uniform(2.5, 6.5);
    p.speedNoise = rng.uniform(0.1, 0.35);
    constexpr double kIntervals[] = {1, 1, 1, 1, 2, 0.5};
    p.interval = kIntervals[rng.integer(0, 5)];
    p.swath = rng.uniform(6.0, 13.7);
    constexpr double kGpsNoise[] = {0.02, 0.05, 0.15, 0.3, 0.5};
    p.gpsNoise = kGpsNoise[rng.integer(0, 4)];
    p.length = rng.uniform(150, 700);
    p.wobble = rng.uniform(0, 40);
    p.rotation = rng.uniform(0, kPi);
    p.passes = rng.integer(12, 45);
    const double t = rng.uniform();
    p.turnMode = t < 0.6 ? 0 : t < 0.85 ? 1 : 2;
    p.lat0 = rng.uniform(-45, 60);
    p.lon0 = rng.uniform() < 0.15 ? 179.999 : rng.uniform(-180, 180);
    const double width = p.passes * p.swath;
    p.wetRadius = rng.uniform(15, 40);
    p.wetU = rng.uniform(0.25, 0.75) * p.length;
    p.wetV = rng.uniform(0.25, 0.75) * width;
    p.wetFactor = rng.uniform(0.35, 0.65);
    p.edgeFactor = rng.uniform(0.65, 0.85);
    p.endBand = rng.uniform() < 0.5 ? rng.uniform(8, 15) : 0.0;
    p.endFactor = rng.uniform(0.8, 0.9);
    p.phase1 = rng.uniform(0, 6.28);
    p.phase2 = rng.uniform(0, 6.28);
    return p;
}

class Field {
  public:
    Field(const Plan& plan, Random& rng) : p_(plan), rng_(rng) {}

    std::vector<Sample> harvest() {
        for (int j = 0; j < p_.passes; ++j) {
            pass(j);
            if (j + 1 < p_.passes) {
                turn(j);
            }
        }
        return std::move(s_);
    }

  private:
    double uStart(double v) const { return p_.wobble * (1 + std::sin(v / 57.0 + p_.phase1)); }
    double uEnd(double v) const {
        return p_.length - p_.wobble * (1 + std::sin(v / 43.0 + p_.phase2));
    }
    double surface(double u, double v) const {
        return 0.6 * std::sin(u / 41.0 + p_.phase1) * std::cos(v / 29.0) +
               0.4 * std::sin((u + v) / 67.0 + p_.phase2);
    }

    // The crop's true yield and moisture at (u, v) with its natural low areas, and their kind.
    void crop(Sample& s, int passNo) const {
        const double sv = surface(s.u, s.v);
        double y = p_.yieldMean * (1 + p_.amplitude * sv);
        double moist = p_.moistMean - p_.moistAmp * sv;
        const double dWet = std::hypot(s.u - p_.wetU, s.v - p_.wetV);
        if (dWet < p_.wetRadius) {
            // Full effect inside 80 % of the radius, fading to none at the rim.
            const double w = std::min(1.0, (p_.wetRadius - dWet) / (0.2 * p_.wetRadius));
            const double f = 1 - w * (1 - p_.wetFactor);
            y *= f;
            moist += w * 4.0;
            if (f < 0.85) {
                s.kind = kWet;
            }
        }
        if (passNo == 0 || passNo == p_.passes - 1) {
            y *= p_.edgeFactor;
            s.kind = kEdge;
        } else if (p_.endBand > 0 &&
                   (s.u - uStart(s.v) < p_.endBand || uEnd(s.v) - s.u < p_.endBand)) {
            y *= p_.endFactor;
            s.kind = kEdge;
        }
        s.yield = y;
        s.moisture = moist;
    }

    void add(Sample s, bool harvesting) {
        if (harvesting) {
            s.yield = std::max(0.0, s.yield * (1 + rng_.gauss(0, p_.noiseCv)));
            s.moisture += rng_.gauss(0, p_.moistNoise);
        }
        s.testWeight = p_.testWeight + rng_.gauss(0, 0.5);
        s_.push_back(s);
    }

    double speed() { return std::max(0.5, p_.speedMean + rng_.gauss(0, p_.speedNoise)); }

    void pass(int j) {
        const double v = (j + 0.5) * p_.swath;
        const bool forward = j % 2 == 0;
        const double a = uStart(v), b = uEnd(v);
        double u = forward ? a : b;
        const std::size_t first = s_.size();
        int stopIn = nextStop();
        while (forward ? u <= b : u >= a) {
            Sample s{u, v, speed(), 0, 0, 0};
            crop(s, j);
            if (--stopIn <= 0 && std::min(u - a, b - u) > 30) {
                u = stop(u, v, forward, j);
                stopIn = nextStop();
                continue;
            }
            add(s, true);
            u += (forward ? 1 : -1) * s.speed * kMphToMps * p_.interval;
        }
        ramps(first, s_.size());
    }

    int nextStop() { return static_cast<int>(rng_.uniform(0, 6000) / p_.interval); }

    // Slowing down, standing, starting again; returns where the pass goes on.
    double stop(double u, double v, bool forward, int j) {
        const double usual = p_.speedMean;
        std::vector<double> factors;
        for (int k = rng_.integer(2, 3); k > 0; --k) {
            factors.push_back(0.25 * k + rng_.uniform(-0.05, 0.05));
        }
        for (int k = rng_.integer(3, 15); k > 0; --k) {
            factors.push_back(rng_.uniform(0.0, 0.06));
        }
        for (int k = 1, n = rng_.integer(2, 3); k <= n; ++k) {
            factors.push_back(static_cast<double>(k) / (n + 1) + rng_.uniform(-0.05, 0.05));
        }
        for (double f : factors) {
            Sample s{u, v, usual * f, 0, 0, 0};
            crop(s, j);
            // The monitor divides the flow by the speed: at a crawl the yield runs wild, and
            // at a standstill the sensor empties.
            s.yield = f < 0.1 ? (rng_.uniform() < 0.5 ? 0.0 : s.yield * rng_.uniform(0.1, 3))
                              : s.yield * std::clamp(rng_.uniform(0.4, 1.6) / (f + 0.3), 0.2, 4.0);
            s.kind = f < 0.6 ? kStop : kMinor;
            add(s, true);
            u += (forward ? 1 : -1) * s.speed * kMphToMps * p_.interval;
        }
        return u;
    }

    // Flow-delay ramps at the start and end of most passes.
    void ramps(std::size_t first, std::size_t end) {
        const std::size_t n = end - first;
        if (n < 30) {
            return;
        }
        auto apply = [&](std::size_t i, double f) {
            Sample& s = s_[i];
            if (s.kind == kStop || s.kind == kMinor) {
                return;
            }
            s.yield *= f;
            s.kind = f < 0.7 ? kDelay : f < 0.9 ? kMinor : s.kind;
        };
        if (rng_.uniform() < 0.85) {
            const int len = std::max(1, static_cast<int>(rng_.uniform(3, 9) / p_.interval));
            const double gamma = rng_.uniform(0.7, 1.5);
            for (int k = 0; k < len; ++k) {
                apply(first + static_cast<std::size_t>(k), std::pow((k + 1.0) / (len + 1), gamma));
            }
        }
        if (rng_.uniform() < 0.7) {
            const int len = std::max(1, static_cast<int>(rng_.uniform(2, 7) / p_.interval));
            const double gamma = rng_.uniform(0.7, 1.5);
            for (int k = 0; k < len; ++k) {
                apply(end - 1 - static_cast<std::size_t>(k),
                      std::pow((k + 1.0) / (len + 1), gamma));
            }
        }
    }

    // Half-circle headland turn onto the next pass.
    void turn(int j) {
        if (p_.turnMode == 1) {
            return;
        }
        const bool forward = j % 2 == 0;
        const double v0 = (j + 0.5) * p_.swath;
        const double r = p_.swath / 2;
        const double edge = forward ? uEnd(v0 + r) : uStart(v0 + r);
        const double turnSpeed = std::max(1.5, 0.7 * p_.speedMean);
        const int n = std::max(
            2, static_cast<int>(std::lround(kPi * r / (turnSpeed * kMphToMps * p_.interval))));
        for (int k = 1; k <= n; ++k) {
            const double a = kPi * k / (n + 1);
            Sample s{edge + (forward ? 1 : -1) * r * std::sin(a),
                     v0 + r - r * std::cos(a),
                     turnSpeed + rng_.gauss(0, 0.15),
                     0,
                     0,
                     0};
            crop(s, j);
            if (p_.turnMode == 0) {
                s.yield = 0.0;
                s.kind = kHeadland;
                add(s, false);
            } else {
                s.kind = kMinor;
                add(s, true);
            }
        }
    }

    const Plan& p_;
    Random& rng_;
    std::vector<Sample> s_;
};

// Errors of each kind at random samples that are still clean (or natural).
void inject(std::vector<Sample>& s, const Plan& p, Random& rng) {
    const std::size_t n = s.size();
    auto natural = [&](std::size_t i) {
        return s[i].kind == kClean || s[i].kind == kWet || s[i].kind == kEdge;
    };
    // A run of `len` natural samples starting at a random index, or n when none was found.
    auto pick = [&](int len) -> std::size_t {
        for (int attempt = 0; attempt < 50; ++attempt) {
            const std::size_t i =
                static_cast<std::size_t>(rng.integer(2, static_cast<int>(n) - 12));
            bool ok = true;
            for (std::size_t k = i - 1; k <= i + static_cast<std::size_t>(len); ++k) {
                ok = ok && natural(k);
            }
            if (ok) {
                return i;
            }
        }
        return n;
    };
    const double per1000 = static_cast<double>(n) / 1000.0;
    auto events = [&](double rate) { return static_cast<int>(std::lround(rate * per1000 + 0.5)); };
    for (int e = events(0.6); e > 0; --e) {
        const int len = rng.integer(1, 6);
        const std::size_t i = pick(len);
        if (i == n) {
            continue;
        }
        const double d = std::exp(rng.uniform(std::log(6.0), std::log(800.0)));
        const double a = rng.uniform(0, 2 * kPi);
        for (std::size_t k = i; k < i + static_cast<std::size_t>(len); ++k) {
            s[k].jumpU = d * std::cos(a);
            s[k].jumpV = d * std::sin(a);
            s[k].kind = kJump;
        }
    }
    for (int e = events(0.2); e > 0; --e) {
        const int len = rng.integer(1, 3);
        const std::size_t i = pick(len);
        for (std::size_t k = i; i < n && k < i + static_cast<std::size_t>(len); ++k) {
            s[k].noFix = true;
            s[k].kind = kNoFix;
        }
    }
    for (int e = events(1.0); e > 0; --e) {
        const std::size_t i = pick(1);
        if (i < n) {
            s[i].duplicate = true;
            s[i].kind = kDuplicate;
        }
    }
    for (int e = events(1.0); e > 0; --e) {
        const int len = rng.integer(1, 2);
        const std::size_t i = pick(len);
        const double g = rng.uniform() < 0.5 ? rng.uniform(0.25, 0.55) : rng.uniform(1.7, 2.8);
        for (std::size_t k = i; i < n && k < i + static_cast<std::size_t>(len); ++k) {
            s[k].speed *= g;
            s[k].yield /= g;
            s[k].kind = kSpeed;
        }
    }
    for (int e = events(0.8); e > 0; --e) {
        const int len = rng.integer(1, 4);
        const std::size_t i = pick(len);
        for (std::size_t k = i; i < n && k < i + static_cast<std::size_t>(len); ++k) {
            s[k].yield = 0.0;
            s[k].kind = kZero;
        }
    }
    for (int e = events(1.5); e > 0; --e) {
        const int len = rng.integer(1, 2);
        const std::size_t i = pick(len);
        for (std::size_t k = i; i < n && k < i + static_cast<std::size_t>(len); ++k) {
            s[k].yield = p.yieldMean * rng.uniform(1.6, 4.0);
            s[k].kind = kSpike;
        }
    }
    for (int e = events(1.0); e > 0; --e) {
        const int len = rng.integer(1, 2);
        const std::size_t i = pick(len);
        for (std::size_t k = i; i < n && k < i + static_cast<std::size_t>(len); ++k) {
            s[k].yield = p.yieldMean * rng.uniform(0.05, 0.4);
            s[k].kind = kDip;
        }
    }
    for (int e = events(1.0); e > 0; --e) {
        const int len = rng.integer(1, 3);
        const std::size_t i = pick(len);
        const double r = rng.uniform();
        for (std::size_t k = i; i < n && k < i + static_cast<std::size_t>(len); ++k) {
            s[k].moisture = r < 0.3   ? 0.0
                            : r < 0.6 ? rng.uniform(60, 90)
                                      : p.moistMean + rng.uniform(10, 20);
            s[k].kind = kMoisture;
        }
    }
}

int usage() {
    std::fputs(
        "usage: vornakite-gendirty [--seed S] [--interval SECONDS] OUT.Vornakite TRUTH.csv\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t seed = 1;
    double interval = 0.0;  // seconds between samples; 0: drawn with the field
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--seed" && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--interval" && i + 1 < argc) {
            interval = std::strtod(argv[++i], nullptr);
        } else if (!arg.empty() && arg[0] != '-') {
            paths.emplace_back(arg);
        } else {
            return usage();
        }
    }
    if (paths.size() != 2) {
        return usage();
    }
    Random rng(seed * 7919 + 17);
    Plan plan = drawPlan(rng);
    if (interval > 0.0) {
        plan.interval = interval;
    }
    std::vector<Sample> samples = Field(plan, rng).harvest();
    inject(samples, plan, rng);

    std::FILE* log = std::fopen(paths[0].c_str(), "wb");
    std::FILE* truth = std::fopen(paths[1].c_str(), "wb");
    if (log == nullptr || truth == nullptr) {
        std::fprintf(stderr, "vornakite-gendirty: cannot create the outputs\n");
        return 1;
    }
    std::fprintf(
        log, "VKLOG@3.2@SN 40417-K@2026-10-01@08:12:05@J. Olsen@Eval Farm@Seed %llu@%s@X@30 ft\n",
        static_cast<unsigned long long>(seed), plan.crop);
    std::fprintf(truth, "index,kind\n");
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
        if (s.kind != kClean) {
            std::fprintf(truth, "%zu,%s\n", i, kKindNames[s.kind]);
        }
    }
    std::fclose(log);
    std::fclose(truth);
    std::printf(
        "seed %llu: %s, %zu samples, %d passes of %.0f m, swath %.1f m, %.1f mph, every "
        "%.1f s, GPS noise %.2f m, turns %s\n",
        static_cast<unsigned long long>(seed), plan.crop, samples.size(), plan.passes, plan.length,
        plan.swath, plan.speedMean, plan.interval, plan.gpsNoise,
        plan.turnMode == 0   ? "header up"
        : plan.turnMode == 1 ? "not logged"
                             : "header down");
    return 0;
}
