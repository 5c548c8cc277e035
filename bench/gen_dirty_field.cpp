// vornakite-gendirty's fields: the plan drawn for a seed, and the samples as the combine drives
// it (passes, stops, headland turns, and with the lag model every tick, transits included).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "gen_dirty.hpp"

namespace gendirty {

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

namespace {

class Field {
  public:
    Field(const Plan& plan, Random& rng, const LagModel& lag, Random& lagRng)
        : p_(plan), rng_(rng), lag_(lag), lagRng_(lagRng) {}

    // The samples in driving order; with the lag model every tick, logged or not.
    std::vector<Sample> harvest() {
        std::vector<bool> transit(static_cast<std::size_t>(p_.passes), false);
        // Distinct passes (as many as there are) after which a transit replaces the turn.
        for (int k = 0, drawn = 0; drawn < std::min(lag_.transits, p_.passes - 2) && k < 1000;
             ++k) {
            const auto j = static_cast<std::size_t>(lagRng_.integer(1, p_.passes - 2));
            drawn += transit[j] ? 0 : 1;
            transit[j] = true;
        }
        for (int j = 0; j < p_.passes; ++j) {
            pass(j);
            if (j + 1 < p_.passes && transit[static_cast<std::size_t>(j)]) {
                transitTrack(j);
            } else if (j + 1 < p_.passes) {
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
        s.segment = segment_;
        s.crop = s.cutting ? s.yield : 0.0;
        s.natural = s.kind;
        s_.push_back(s);
    }

    // The logged speed: the pace with the sensor's jitter.
    double speed(double pace) { return std::max(0.5, pace + rng_.gauss(0, p_.speedNoise)); }

    // The pace on a pass at the time of the next tick: the usual one, swinging with the lag
    // model's paceSwing (two slow waves, 70 s and 190 s long).
    double passPace() const {
        if (lag_.paceSwing == 0.0) {
            return p_.speedMean;
        }
        const double t = static_cast<double>(s_.size()) * p_.interval;
        const double wave = 0.6 * std::sin(2 * kPi * t / 70.0 + p_.phase1) +
                            0.4 * std::sin(2 * kPi * t / 190.0 + p_.phase2);
        return p_.speedMean * (1.0 + lag_.paceSwing * wave);
    }

    void pass(int j) {
        const double v = (j + 0.5) * p_.swath;
        const bool forward = j % 2 == 0;
        const double a = uStart(v), b = uEnd(v);
        double u = forward ? a : b;
        const std::size_t first = s_.size();
        ++segment_;
        int stopIn = nextStop();
        while (forward ? u <= b : u >= a) {
            const double pace = passPace();
            Sample s{u, v, speed(pace), 0, 0, 0};
            s.cutting = true;
            s.pace = pace;
            crop(s, j);
            if (--stopIn <= 0 && std::min(u - a, b - u) > 30) {
                u = stop(u, v, forward, j);
                stopIn = nextStop();
                continue;
            }
            add(s, true);
            u += (forward ? 1 : -1) * s.speed * kMphToMps * p_.interval;
        }
        if (!lag_.on) {  // with the lag model the ramps follow from the flow
            ramps(first, s_.size());
        }
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
            s.cutting = true;
            crop(s, j);
            if (lag_.on) {  // the flow is the crop at this pace: logWithLag divides it
                s.pace = usual * f;
                s.stopFactor = f;
                add(s, true);
                u += (forward ? 1 : -1) * s.speed * kMphToMps * p_.interval;
                continue;
            }
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
        if (lag_.on) {
            lagTurn(j);
            return;
        }
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

    // With the lag model: the turn as driven, logged or not (the time passes either way), with
    // the header raised (or down, in mode 2). A half circle, or a loop beyond the headland where
    // the swath is narrower than twice the turning radius; short turns take 0.3-0.8 of the lag.
    void lagTurn(int j) {
        ++segment_;
        const bool forward = j % 2 == 0;
        const double half = p_.swath / 2, v0 = (j + 0.5) * p_.swath;
        const double edge = forward ? uEnd(v0 + half) : uStart(v0 + half);
        constexpr double kTurnRadius = 4.5;
        const double radius = lag_.shortTurns ? half : std::max(half, kTurnRadius);
        // A circle through both pass ends, driven the long way round (a half circle when the
        // radius is half the swath).
        const double alpha = std::asin(std::min(1.0, half / radius));
        const double offset = std::sqrt(std::max(0.0, radius * radius - half * half));
        const double sweep = 2 * kPi - 2 * alpha;
        double pace = std::max(1.5, 0.7 * p_.speedMean);
        int n = std::max(
            2, static_cast<int>(std::lround(sweep * radius / (pace * kMphToMps * p_.interval))));
        if (lag_.shortTurns) {
            n = std::max(2, static_cast<int>(std::lround(lagRng_.uniform(0.3, 0.8) * lag_.flow)));
            pace = sweep * radius / ((n + 1) * p_.interval) / kMphToMps;
        }
        for (int k = 1; k <= n; ++k) {
            const double a = -kPi + alpha + sweep * k / (n + 1);
            Sample s{edge + (forward ? 1 : -1) * (offset + radius * std::cos(a)),
                     v0 + half + radius * std::sin(a),
                     pace + rng_.gauss(0, 0.15),
                     0,
                     0,
                     0};
            offTrack(s, j, pace, p_.turnMode == 2);
        }
    }

    // With the lag model: instead of a turn, a drive with the header raised from the pass end
    // straight across the harvested passes to a truck at the field edge, and back to the next
    // pass's start.
    void transitTrack(int j) {
        ++segment_;
        const double v0 = (j + 0.5) * p_.swath, v1 = v0 + p_.swath;
        const bool forward = j % 2 == 0;
        const double u0 = s_.back().u, u1 = forward ? uEnd(v1) : uStart(v1);
        const double truckU = lagRng_.uniform(0.3, 0.7) * p_.length, truckV = -15.0;
        const double pace = 1.3 * p_.speedMean, step = pace * kMphToMps * p_.interval;
        auto leg = [&](double ua, double va, double ub, double vb) {
            const int n = std::max(1, static_cast<int>(std::hypot(ub - ua, vb - va) / step));
            for (int k = 1; k <= n; ++k) {
                const double f = static_cast<double>(k) / (n + 1);
                Sample s{
                    ua + f * (ub - ua), va + f * (vb - va), pace + rng_.gauss(0, 0.15), 0, 0, 0};
                offTrack(s, j, pace, false);
            }
        };
        leg(u0, v0, truckU, truckV);
        leg(truckU, truckV, u1, v1);
    }

    // A tick off the passes: logged unless the monitor stops in turns; cutting the headland's
    // crop only with the header down.
    void offTrack(Sample& s, int j, double pace, bool cutting) {
        crop(s, j);
        s.offPattern = true;
        s.logged = p_.turnMode != 1;
        s.pace = pace;
        s.cutting = cutting;
        s.kind = cutting ? kMinor : kHeadland;
        add(s, cutting);
    }

    const Plan& p_;
    Random& rng_;
    const LagModel& lag_;
    Random& lagRng_;
    std::vector<Sample> s_;
    int segment_ = 0;
};

}  // namespace

std::vector<Sample> harvest(const Plan& plan, Random& rng, const LagModel& lag, Random& lagRng) {
    return Field(plan, rng, lag, lagRng).harvest();
}

}  // namespace gendirty
