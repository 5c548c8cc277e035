// The grain-flow lag of vornakite-gendirty: what a monitor logs while the grain it measures
// was cut seconds earlier. The pass-start dip, the grain in turns and the fill after a long
// turn are not injected: they follow from the ticks as driven and the sensors' response.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "gen_dirty.hpp"

namespace gendirty {
namespace {

// Transport delay (whole samples) and first-order mixing: weight h[j] for the tick cut
// delay + j samples before.
struct Response {
    std::ptrdiff_t delay = 0;
    std::vector<double> h;
    double centroid = 0.0;
};

Response response(double samples, double tau) {
    Response r;
    const int tail = tau > 0.0 ? static_cast<int>(std::ceil(6.0 * tau)) : 0;
    double sum = 0.0, moment = 0.0;
    for (int j = 0; j <= tail; ++j) {
        r.h.push_back(tau > 0.0 ? std::exp(-j / tau) : 1.0);
        sum += r.h.back();
        moment += j * r.h.back();
    }
    for (double& w : r.h) {
        w /= sum;
    }
    const double mixing = moment / sum;
    r.delay = std::max<std::ptrdiff_t>(0, std::lround(samples - mixing));
    r.centroid = static_cast<double>(r.delay) + mixing;
    return r;
}

// What reaches a sensor at tick t: its grain flow (crop x pace, per unit of swath), the share of
// the response from ticks of t's own segment that cut crop, the flow from other segments, the
// flow-weighted crop of the own share, and the flow-weighted moisture.
struct Arrival {
    double flow = 0, own = 0, foreign = 0, ownFlow = 0, ownCrop = 0, moistureFlow = 0;
};

Arrival arrival(const std::vector<Sample>& ticks, std::size_t t, const Response& r) {
    Arrival a;
    for (std::size_t j = 0; j < r.h.size(); ++j) {
        const std::ptrdiff_t k =
            static_cast<std::ptrdiff_t>(t) - r.delay - static_cast<std::ptrdiff_t>(j);
        if (k < 0) {
            break;  // before the log: an empty machine
        }
        const Sample& src = ticks[static_cast<std::size_t>(k)];
        const double flow = src.cutting ? src.crop * src.pace : 0.0;
        a.flow += r.h[j] * flow;
        a.moistureFlow += r.h[j] * flow * src.moisture;
        if (src.segment == ticks[t].segment && src.cutting) {
            a.own += r.h[j];
            a.ownFlow += r.h[j] * flow;
            a.ownCrop += r.h[j] * src.crop;
        } else {
            a.foreign += r.h[j] * flow;
        }
    }
    return a;
}

// The kind of a logged sample from where its grain came. In a pass: mostly another segment's
// grain is carry-over (or, with no grain at all, the fill after a long turn: delay); a stop, and
// the low flow arriving after it, is a stop; else the kind of the position the grain came from.
int classify(const std::vector<Sample>& ticks, std::size_t t, const Arrival& a, double yield,
             double centroid) {
    const Sample& s = ticks[t];
    if (s.offPattern) {
        return s.cutting ? kMinor : yield > 0.0 ? kTurn : kHeadland;
    }
    if (s.stopFactor < 0.9) {
        return s.stopFactor < 0.6 ? kStop : kMinor;
    }
    if (a.own < 0.7) {
        return a.flow > 0.0 && a.foreign >= 0.1 * a.flow ? kCarryover : kDelay;
    }
    if (a.own < 0.9) {
        return kMinor;
    }
    // The pace the grain was cut at over the pace now: after a stop the monitor divides little
    // grain by the full speed.
    const double q = a.ownCrop > 0.0 ? a.ownFlow / a.ownCrop / std::max(s.pace, 0.5) : 1.0;
    if (q < 0.7 || q > 1.0 / 0.7) {
        return kStop;
    }
    if (q < 0.9 || q > 1.0 / 0.9) {
        return kMinor;
    }
    const std::ptrdiff_t source = static_cast<std::ptrdiff_t>(t) - std::lround(centroid);
    if (source >= 0 && ticks[static_cast<std::size_t>(source)].segment == s.segment) {
        return ticks[static_cast<std::size_t>(source)].natural;
    }
    return s.natural;
}

}  // namespace

double responseCentroid(double samples, double tau) {
    return response(samples, tau).centroid;
}

std::vector<Sample> logWithLag(const std::vector<Sample>& ticks, const LagModel& lag,
                               const Plan& plan) {
    const Response flowResponse = response(lag.flow, lag.tau);
    const Response moistureResponse = response(lag.moisture, lag.tau);
    std::vector<Sample> out;
    double lastMoisture = plan.moistMean;
    for (std::size_t t = 0; t < ticks.size(); ++t) {
        if (!ticks[t].logged) {
            continue;
        }
        const Arrival a = arrival(ticks, t, flowResponse);
        // The monitor divides the flow by the speed; at a standstill by its floor, 0.5 mph. A
        // flow under 1 % of the crop's it reads as none.
        double yield = a.flow / std::max(ticks[t].pace, 0.5);
        yield = yield < 0.01 * plan.yieldMean ? 0.0 : yield;
        const Arrival m = arrival(ticks, t, moistureResponse);
        // Without grain the moisture sensor holds its last reading.
        lastMoisture = m.flow > 1e-3 * plan.yieldMean ? m.moistureFlow / m.flow : lastMoisture;
        Sample s = ticks[t];
        s.kind = classify(ticks, t, a, yield, flowResponse.centroid);
        s.yield = yield;
        s.moisture = lastMoisture;
        out.push_back(s);
    }
    return out;
}

}  // namespace gendirty
