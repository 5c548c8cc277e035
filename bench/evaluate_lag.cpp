#include "evaluate_lag.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <limits>

#include "analysis/geo.hpp"
#include "analysis/robust.hpp"

namespace evaluation {

using vornakite::analysis::FlowLagEstimate;
using vornakite::analysis::FlowLagOptions;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

double medianOf(std::vector<double> v) {
    return v.empty() ? kNaN : vornakite::analysis::median(v);
}

// |yield at i + shift - true yield at i| / true yield at i, for the points i whose own and
// shifted samples were kept and whose position has a crop.
std::vector<double> misplacement(std::span<const vornakite::YieldPoint> points, const Truth& truth,
                                 const vornakite::analysis::CleaningResult& r, int shift) {
    std::vector<double> out;
    for (std::size_t i = 0; i + static_cast<std::size_t>(shift) < points.size(); ++i) {
        const std::size_t k = i + static_cast<std::size_t>(shift);
        if (r.flags[i] == 0 && r.flags[k] == 0 && truth.trueYield[i] > 0.0) {
            out.push_back(std::abs(points[k].yield - truth.trueYield[i]) / truth.trueYield[i]);
        }
    }
    return out;
}

// The kept records' yields, as the clean set holds them, against the true yield there.
std::vector<double> cleanedError(std::span<const vornakite::YieldPoint> points, const Truth& truth,
                                 const vornakite::analysis::CleaningResult& r) {
    std::vector<double> out;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (r.flags[i] == 0 && truth.trueYield[i] > 0.0) {
            out.push_back(std::abs(r.lag.yieldAt(points, i) - truth.trueYield[i]) /
                          truth.trueYield[i]);
        }
    }
    return out;
}

bool isPlaceKind(const std::string& k) {
    return k == "jump" || k == "nofix" || k == "duplicate" || k == "turn" || k == "headland" ||
           k == "speed" || k == "minor";
}
bool isValueKind(const std::string& k) {
    return k == "spike" || k == "dip" || k == "zero";
}
bool isLagKind(const std::string& k) {
    return k == "carryover" || k == "delay" || k == "stop";
}

bool within(const FlowLagEstimate& e, double lag) {
    return e.found && std::abs(e.lag - lag) <= 2.0;
}

std::string format(const char* pattern, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// Pooled over the logs.
std::vector<double> pooled(const std::vector<LagScore>& scores,
                           std::vector<double> LagScore::*member) {
    std::vector<double> all;
    for (const LagScore& s : scores) {
        all.insert(all.end(), (s.*member).begin(), (s.*member).end());
    }
    return all;
}

}  // namespace

Truth readTruth(const std::string& path, std::size_t samples) {
    Truth t;
    t.kind.assign(samples, "clean");
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    if (line.starts_with("#")) {
        t.lagged = std::sscanf(line.c_str(), "# lag=%lf moisture_lag=%lf interval=%lf", &t.lag,
                               &t.moistureLag, &t.interval) == 3;
        t.trueYield.assign(samples, 0.0);
        std::getline(in, line);  // the column names
    }
    while (std::getline(in, line)) {
        const auto comma = line.find(',');
        const std::size_t i = std::stoul(line.substr(0, comma));
        const auto second = line.find(',', comma + 1);
        if (i < samples) {
            t.kind[i] =
                line.substr(comma + 1, second == std::string::npos ? second : second - comma - 1);
            if (t.lagged && second != std::string::npos) {
                t.trueYield[i] = std::stod(line.substr(second + 1));
            }
        }
    }
    return t;
}

std::vector<std::string> recordKinds(std::span<const vornakite::YieldPoint> points,
                                     const Truth& truth,
                                     const vornakite::analysis::CleaningResult& r) {
    const std::size_t n = points.size();
    const auto& lag = r.lag;
    if (!truth.lagged && !lag.moves()) {
        return truth.kind;
    }
    std::vector<double> speeds;
    for (const auto& p : points) {
        if (p.speed > 0.0) {
            speeds.push_back(p.speed);
        }
    }
    const double slow = 0.6 * medianOf(speeds);
    std::vector<std::string> out(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& own = truth.kind[i];
        const std::size_t s = lag.source(i, lag.flow), sm = lag.source(i, lag.moisture);
        const bool slowStop = own == "stop" && points[i].speed < slow;
        if (isPlaceKind(own) || slowStop) {
            out[i] = own;
        } else if (s == r.lag.kNone || sm == r.lag.kNone) {
            out[i] = "minor";  // no value: flagged by construction
        } else if (isValueKind(truth.kind[s]) || (!truth.lagged && truth.kind[s] == "delay")) {
            out[i] = truth.kind[s];
        } else if (truth.kind[sm] == "moisture") {
            out[i] = "moisture";
        } else if (!truth.lagged) {
            // Its own values moved away: the record is its position's (clean or natural).
            out[i] = own == "wet" || own == "edge" ? own : "clean";
        } else if (!(truth.trueYield[i] > 0.0)) {
            out[i] = "minor";
        } else if (lag.flow == 0 && isLagKind(own)) {
            out[i] = own;  // not undone: the sample's grain came from elsewhere
        } else {
            // The crop's yield there without most of its sample noise, which the logged flow
            // averages over a few samples: the median of the true yields of the two samples on
            // either side.
            std::vector<double> around;
            for (std::size_t j = i >= 2 ? i - 2 : 0; j <= i + 2 && j < n; ++j) {
                if (truth.trueYield[j] > 0.0) {
                    around.push_back(truth.trueYield[j]);
                }
            }
            const double ratio = lag.yieldAt(points, i) / medianOf(around);
            if (!(ratio >= 0.7 && ratio <= 1.0 / 0.7)) {
                out[i] = isLagKind(truth.kind[s]) ? truth.kind[s]
                         : isLagKind(own)         ? own
                                                  : "misplaced";
            } else if (ratio >= 0.8 && ratio <= 1.25) {
                out[i] = own == "wet" || own == "edge" ? own : "clean";
            } else {
                out[i] = "minor";
            }
        }
    }
    return out;
}

LagScore scoreLag(const std::string& name, std::span<const vornakite::YieldPoint> points,
                  const Truth& truth, const vornakite::analysis::CleaningResult& result) {
    LagScore s;
    s.name = name;
    s.interval = truth.interval;
    s.trueLag = truth.lag;
    s.trueMoistureLag = truth.moistureLag;
    const auto projection = vornakite::analysis::LocalProjection::around(points);
    const std::size_t n = points.size();
    std::vector<float> x(n), y(n);
    std::vector<double> yield(n), moisture(n), speed(n);
    for (std::size_t i = 0; i < n; ++i) {
        const bool valid = vornakite::analysis::validPosition(points[i]);
        x[i] = static_cast<float>(valid ? projection.x(points[i].longitude) : kNaN);
        y[i] = static_cast<float>(valid ? projection.y(points[i].latitude) : kNaN);
        yield[i] = points[i].yield;
        moisture[i] = points[i].moisture;
        speed[i] = points[i].speed * 0.44704;
    }
    const auto start = std::chrono::steady_clock::now();
    FlowLagOptions options;
    options.sampleSeconds = vornakite::analysis::secondsPerSample(x, y, speed);
    s.estimatedInterval = options.sampleSeconds;
    // The yields with the pace the filters give them (mph, at least 0.5).
    s.flow = estimateFlowLag(x, y, yield, options, [&](std::size_t i) {
        return std::isfinite(points[i].speed) ? std::max(points[i].speed, 0.5) : kNaN;
    });
    s.moisture = estimateFlowLag(x, y, moisture, options);
    s.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    // The lags the filters used: what was found, and undone.
    s.flow.found = result.lag.flowFound;
    s.flow.lag = result.lag.flow;
    s.flow.confidence = result.lag.flowConfidence;
    if (!s.flow.found && s.flow.note.empty()) {
        s.flow.note = result.lag.flowNote;
    }
    s.moisture.found = result.lag.moistureFound;
    s.moisture.lag = result.lag.moistureFound ? result.lag.moisture : 0;
    s.moisture.confidence = result.lag.moistureConfidence;
    s.asLogged = misplacement(points, truth, result, 0);
    s.shiftedEstimated = cleanedError(points, truth, result);
    s.shiftedTrue = misplacement(points, truth, result, static_cast<int>(std::lround(truth.lag)));
    return s;
}

std::string logRow(const std::string& variant, const LagScore& s) {
    auto estimate = [](const FlowLagEstimate& e) {
        return e.found ? format("%d (%.2f; %.1f +- %.1f, depth %.2f, %.1fx chance)", e.lag,
                                e.confidence, e.lagSamples, e.uncertainty, e.depth, e.significance)
                       : format("none (%.1f +- %.1f, depth %.2f, %.1fx chance): %s", e.lagSamples,
                                e.uncertainty, e.depth, e.significance, e.note.c_str());
    };
    return (variant.empty() ? "" : "| " + variant + " ") +
           format("| %s | %.1f (%.2f) | %.1f | %s | %.1f | %s | %.0f |\n", s.name.c_str(),
                  s.interval, s.estimatedInterval, s.trueLag, estimate(s.flow).c_str(),
                  s.trueMoistureLag, estimate(s.moisture).c_str(), s.milliseconds);
}

std::string lagTable(const std::vector<LagScore>& scores) {
    std::string out =
        "| log | interval s (estimated) | lag | estimate (confidence; refined +- error, depth, "
        "x chance) | moisture lag | estimate | ms |\n|---|---:|---:|---|---:|---|---:|\n";
    for (const LagScore& s : scores) {
        out += logRow("", s);
    }
    return out + "\n" + kLagHeader + lagRow("all", scores) + "\n" + kPositionHeader +
           positionRow("all", scores);
}

std::string lagRow(const std::string& variant, const std::vector<LagScore>& scores) {
    std::size_t good = 0, off = 0, none = 0, moistureGood = 0, moistureNone = 0;
    std::vector<double> times;
    for (const LagScore& s : scores) {
        good += within(s.flow, s.trueLag) ? 1u : 0u;
        off += s.flow.found && !within(s.flow, s.trueLag) ? 1u : 0u;
        none += s.flow.found ? 0u : 1u;
        moistureGood += within(s.moisture, s.trueMoistureLag) ? 1u : 0u;
        moistureNone += s.moisture.found ? 0u : 1u;
        times.push_back(s.milliseconds);
    }
    return format("| %s | %zu | %zu | %zu | %zu | %zu | %zu | %.1f |\n", variant.c_str(),
                  scores.size(), good, off, none, moistureGood, moistureNone, medianOf(times));
}

std::string positionRow(const std::string& variant, const std::vector<LagScore>& scores) {
    double worst = 0.0, worstShifted = 0.0;
    for (const LagScore& s : scores) {
        worst = std::max(worst, medianOf(s.asLogged));
        worstShifted = std::max(worstShifted, medianOf(s.shiftedEstimated));
    }
    const std::vector<double> logged = pooled(scores, &LagScore::asLogged);
    return format("| %s | %zu | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %.1f %% |\n",
                  variant.c_str(), logged.size(), 100 * medianOf(logged),
                  100 * medianOf(pooled(scores, &LagScore::shiftedEstimated)),
                  100 * medianOf(pooled(scores, &LagScore::shiftedTrue)), 100 * worst,
                  100 * worstShifted);
}

}  // namespace evaluation
