#include "analysis/summary.hpp"

#include <cmath>
#include <limits>

#include "analysis/format.hpp"
#include "analysis/robust.hpp"

namespace vornakite::analysis {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class Keep>
YieldStats yieldStats(std::span<const YieldPoint> points, Keep keep) {
    YieldStats s{0, kNaN, kNaN, kNaN, kNaN, kNaN};
    std::vector<double> values;
    double sum = 0.0;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const double v = points[i].yield;
        if (keep(i) && std::isfinite(v)) {
            values.push_back(v);
            sum += v;
            lo = std::min(lo, v);
            hi = std::max(hi, v);
        }
    }
    s.count = values.size();
    if (values.empty()) {
        return s;
    }
    const double n = static_cast<double>(values.size());
    s.mean = sum / n;
    double squares = 0.0;
    for (double v : values) {
        squares += (v - s.mean) * (v - s.mean);
    }
    const double sd = std::sqrt(squares / n);
    s.cv = s.mean != 0.0 && std::isfinite(sd / s.mean) ? 100.0 * sd / std::fabs(s.mean) : kNaN;
    s.min = lo;
    s.max = hi;
    s.median = median(values);
    return s;
}

}  // namespace

FieldSummary summarizeField(std::string setName, std::span<const YieldPoint> points,
                            const CleaningResult& result) {
    FieldSummary f;
    f.setName = std::move(setName);
    f.points = points.size();
    f.kept = result.kept;
    f.removedBy = result.flagged;
    f.thresholds = result.thresholds;
    f.note = result.note;
    auto all = [](std::size_t) { return true; };
    auto kept = [&](std::size_t i) { return i >= result.flags.size() || result.flags[i] == 0; };
    f.before = yieldStats(points, all);
    f.after = yieldStats(points, kept);
    double moisture = 0.0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (kept(i) && std::isfinite(points[i].moisture)) {
            moisture += points[i].moisture;
            ++count;
        }
    }
    f.meanMoisture = count > 0 ? moisture / static_cast<double>(count) : kNaN;
    std::vector<double> speeds = collectSample(
        points.size(), [&](std::size_t i) { return kept(i) && std::isfinite(points[i].speed); },
        [&](std::size_t i) { return points[i].speed; });
    f.medianSpeed = median(speeds);
    f.box = boundingBox(points, kept);
    return f;
}

std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string out = "\"";
    for (char c : text) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + '"';
}

void writeSummaryCsv(std::ostream& out, std::span<const FieldSummary> fields) {
    std::string row = "set,points,kept,removed";
    for (const FilterInfo& f : kFilterInfo) {
        row += ",removed_";
        row += f.code;
    }
    for (const char* when : {"before", "after"}) {
        for (const char* what : {"mean", "median", "min", "max", "cv_pct"}) {
            row += std::string(",yield_") + what + "_" + when;
        }
    }
    row += ",moisture_mean_pct,speed_median_mph,west,south,east,north";
    for (const ThresholdInfo& t : kThresholdInfo) {
        row += ',';
        row += t.option;
    }
    row += ",overridden,note\r\n";
    out << row;
    for (const FieldSummary& f : fields) {
        row = csvField(f.setName) + ',' + std::to_string(f.points) + ',' + std::to_string(f.kept) +
              ',' + std::to_string(f.points - f.kept);
        for (std::size_t c : f.removedBy) {
            row += ',' + std::to_string(c);
        }
        for (const YieldStats* s : {&f.before, &f.after}) {
            for (double v : {s->mean, s->median, s->min, s->max}) {
                row += ',' + plainNumber(v, 3);
            }
            row += ',' + plainNumber(s->cv, 2);
        }
        row += ',' + plainNumber(f.meanMoisture, 2) + ',' + plainNumber(f.medianSpeed, 2);
        for (double v : {f.box.west, f.box.south, f.box.east, f.box.north}) {
            row += ',' + plainNumber(v, 7);
        }
        std::string overridden;
        for (const ThresholdInfo& t : kThresholdInfo) {
            row += ',';
            for (const ThresholdUsed& u : f.thresholds) {
                if (u.info == &t) {
                    row += plainNumber(u.value, 4);
                    if (!u.automatic) {
                        overridden += overridden.empty() ? "" : " ";
                        overridden += t.option;
                    }
                }
            }
        }
        row += ',' + csvField(overridden) + ',' + csvField(f.note) + "\r\n";
        out << row;
    }
}

}  // namespace vornakite::analysis
