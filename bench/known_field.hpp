// A harvested field whose area, width and production are known: parallel passes with wavy ends
// over a smooth yield and moisture surface, logged with GPS noise, stops, position jumps, yield
// errors and headland turns, placed anywhere on the globe at any heading. For the evaluation of
// the field numbers and the yield surface.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "bench_random.hpp"
#include "model/yield_point.hpp"

namespace benchtools {

struct KnownField {
    // The draw.
    double header = 0, overlap = 0, lastShare = 0, length = 0, wobble = 0, rotation = 0;
    double gpsNoise = 0, interval = 0, speedMph = 0, lat0 = 0, lon0 = 0;
    int passes = 0, turnMode = 0;  // 0: logged, header up; 1: not logged; 2: logged, header down
    // The truth.
    double areaM2 = 0, bushels = 0, dryBushels = 0;
    double spacing = 0;  // the mean distance between neighbouring full passes (not the last)
    double standardMoisture = 15.5;
    // The log, and per point whether it was on a pass and whether its values are good.
    std::vector<vornakite::YieldPoint> points;
    std::vector<std::uint8_t> onPass, good;
    std::vector<double> trueYield;  // the crop's yield where each point was taken
};

class KnownFieldMaker {
  public:
    static constexpr double kPi = 3.14159265358979323846;
    static constexpr double kMphToMps = 0.44704;

    explicit KnownFieldMaker(std::uint64_t seed) : rng_(seed * 104729 + 7) {}

    // `pointsWanted` > 0 draws a field of about that many points (passes of 4 km); `hectares`
    // > 0 one of about that area (passes of 500 m).
    KnownField make(std::size_t pointsWanted = 0, double hectares = 0) {
        KnownField f;
        draw(f, pointsWanted);
        if (hectares > 0) {
            f.length = 500.0;
            f.passes = static_cast<int>(std::lround(hectares * 1e4 / (f.length * f.header)));
        }
        placePasses(f);
        for (int j = 0; j < f.passes; ++j) {
            pass(f, j);
            if (j + 1 < f.passes) {
                turn(f, j);
            }
        }
        return f;
    }

  private:
    void draw(KnownField& f, std::size_t pointsWanted) {
        f.header = rng_.uniform(6.0, 14.0);
        f.overlap = rng_.uniform(0.0, 0.06);
        f.lastShare = rng_.uniform(0.4, 1.0);
        f.length = rng_.uniform(150.0, 700.0);
        f.wobble = rng_.uniform(0.0, 30.0);
        f.rotation = rng_.uniform(0.0, 2 * kPi);
        constexpr double kNoise[] = {0.02, 0.1, 0.3, 0.5};
        f.gpsNoise = kNoise[rng_.integer(0, 3)];
        constexpr double kIntervals[] = {0.5, 1, 1, 2};
        f.interval = kIntervals[rng_.integer(0, 3)];
        f.speedMph = rng_.uniform(3.0, 6.5);
        f.passes = rng_.integer(12, 60);
        f.turnMode = rng_.integer(0, 2);
        f.lat0 = rng_.uniform(-45.0, 62.0);
        f.lon0 = rng_.uniform() < 0.15 ? 179.998 : rng_.uniform(-180.0, 180.0);
        if (pointsWanted > 0) {  // a large field as logged: 10 m header, 5 mph, every second
            f.header = 10.0;
            f.interval = 1.0;
            f.speedMph = 5.0;
            f.length = 4000.0;
            f.wobble = 20.0;
            const double step = f.speedMph * kMphToMps * f.interval;
            f.passes = static_cast<int>(static_cast<double>(pointsWanted) * step / f.length) + 1;
        }
        phase_ = rng_.uniform(0.0, 6.0);
        yieldMean_ = rng_.uniform(150.0, 230.0);
    }

    double uStart(double v) const { return wobbleAt(v, 0.0); }
    double uEnd(double v, const KnownField& f) const { return f.length - wobbleAt(v, 1.7); }
    double wobbleAt(double v, double shift) const {
        return wobble_ * (1.0 + std::sin(v / 53.0 + phase_ + shift));
    }
    double trueYield(double u, double v) const {
        return yieldMean_ * (1.0 + 0.2 * std::sin(u / 61.0 + phase_) * std::cos(v / 37.0) +
                             0.1 * std::sin((u - v) / 97.0));
    }
    double trueMoisture(double u, double v) const {
        return 19.0 + 3.0 * std::cos(u / 83.0) * std::sin(v / 71.0 + phase_);
    }

    // The pass centres, and the truth: each pass harvests the strip between the midpoints to
    // its neighbours (the outer edges half a header beyond the outer centres).
    void placePasses(KnownField& f) {
        wobble_ = f.wobble;
        centres_.assign(static_cast<std::size_t>(f.passes), 0.0);
        for (std::size_t j = 1; j < centres_.size(); ++j) {
            const bool last = j + 1 == centres_.size();
            const double spacing =
                f.header * (last ? f.lastShare : 1.0 - f.overlap * rng_.uniform(0.0, 2.0));
            centres_[j] = centres_[j - 1] + spacing;
        }
        f.spacing = (centres_[centres_.size() - 2] - centres_.front()) / (f.passes - 2.0);
        for (std::size_t j = 0; j < centres_.size(); ++j) {
            const double lo =
                j == 0 ? centres_[0] - f.header / 2 : (centres_[j - 1] + centres_[j]) / 2;
            const double hi = j + 1 == centres_.size() ? centres_[j] + f.header / 2
                                                       : (centres_[j] + centres_[j + 1]) / 2;
            const double v = centres_[j], a = uStart(v), b = uEnd(v, f);
            f.areaM2 += (hi - lo) * (b - a);
            for (double u = a + 0.25; u < b; u += 0.5) {
                const double y = trueYield(u, v) * 0.5 * (hi - lo) / 4046.8564224;
                f.bushels += y;
                f.dryBushels += y * (100.0 - trueMoisture(u, v)) / (100.0 - f.standardMoisture);
            }
        }
    }

    void add(KnownField& f, double u, double v, double yield, double moisture, double speed,
             bool onPass, bool good) {
        const double east0 = u * std::cos(rotation(f)) - v * std::sin(rotation(f));
        const double north0 = u * std::sin(rotation(f)) + v * std::cos(rotation(f));
        const double east = east0 + rng_.gauss(0.0, f.gpsNoise);
        const double north = north0 + rng_.gauss(0.0, f.gpsNoise);
        // Metres to degrees with the ellipsoid's radii of curvature at the field's latitude.
        constexpr double a = 6378137.0, e2 = 0.00669437999014;
        const double s = std::sin(f.lat0 * kPi / 180.0);
        const double w = std::sqrt(1.0 - e2 * s * s);
        const double meridian = a * (1.0 - e2) / (w * w * w), normal = a / w;
        const double lat = f.lat0 + north / meridian * 180.0 / kPi;
        double lon = f.lon0 + east / (normal * std::cos(f.lat0 * kPi / 180.0)) * 180.0 / kPi;
        lon = lon >= 180.0 ? lon - 360.0 : lon;
        f.points.push_back({lon, lat, yield, moisture, 0.0, 56.0, speed});
        f.trueYield.push_back(trueYield(u, v));
        f.onPass.push_back(onPass ? 1 : 0);
        f.good.push_back(good ? 1 : 0);
    }
    static double rotation(const KnownField& f) { return f.rotation; }

    void pass(KnownField& f, int j) {
        const double v = centres_[static_cast<std::size_t>(j)];
        const bool forward = j % 2 == 0;
        const double a = uStart(v), b = uEnd(v, f);
        // The first sample after the edge comes anywhere within a step of it.
        const double first = rng_.uniform(0.0, f.speedMph * kMphToMps * f.interval);
        double u = forward ? a + first : b - first;
        int k = 0;
        while (forward ? u <= b : u >= a) {
            double speed = std::max(0.3, f.speedMph + rng_.gauss(0.0, 0.2));
            double y = trueYield(u, v) * (1.0 + rng_.gauss(0.0, 0.08));
            double m = trueMoisture(u, v) + rng_.gauss(0.0, 0.3);
            bool good = k++ >= 4;  // the flow ramp at the start of a pass
            y = good ? y : y * k / 5.0;
            const double r = rng_.uniform();
            if (r < 0.002) {  // a stop: the same spot a few times, a wild yield
                for (int s = rng_.integer(3, 10); s > 0; --s) {
                    add(f, u, v, y * rng_.uniform(0.0, 3.0), m, 0.2, true, false);
                }
            } else if (r < 0.004) {  // a position jump
                add(f, u + rng_.uniform(30, 300), v + rng_.uniform(-300, 300), y, m, speed, false,
                    false);
                u += (forward ? 1 : -1) * speed * kMphToMps * f.interval;
                continue;
            } else if (r < 0.05) {  // a bad value: zero, spike or dip
                y = r < 0.02 ? 0.0 : r < 0.035 ? y * rng_.uniform(1.6, 4.0) : y * 0.2;
                good = false;
            }
            add(f, u, v, y, m, speed, true, good);
            u += (forward ? 1 : -1) * speed * kMphToMps * f.interval;
        }
    }

    void turn(KnownField& f, int j) {
        if (f.turnMode == 1) {
            return;
        }
        const bool forward = j % 2 == 0;
        const double v0 = centres_[static_cast<std::size_t>(j)];
        const double r = (centres_[static_cast<std::size_t>(j) + 1] - v0) / 2;
        const double edge = forward ? std::max(uEnd(v0, f), uEnd(v0 + 2 * r, f))
                                    : std::min(uStart(v0), uStart(v0 + 2 * r));
        const int n = std::max(3, static_cast<int>(kPi * (r + 3) / (2.0 * f.interval)));
        for (int k = 0; k <= n; ++k) {
            const double t = kPi * k / n;
            const double u = edge + (forward ? 1 : -1) * (3.0 * (k > 0 && k < n) + r * std::sin(t));
            const double y = f.turnMode == 0 ? 0.0 : trueYield(u, v0) * 0.5;
            add(f, u, v0 + r - r * std::cos(t), y, trueMoisture(u, v0), 2.5, false, false);
        }
    }

    Random rng_;
    double wobble_ = 0, phase_ = 0, yieldMean_ = 0;
    std::vector<double> centres_;
};

}  // namespace benchtools
