#include "analysis/summary.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "analysis/format.hpp"
#include "analysis/robust.hpp"
#include "text/escape.hpp"

namespace vornakite::analysis {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The yield statistics of one set of points, gathered as the points are offered: sums and
// extremes first, then, once the mean is known, the squares and the median.
class YieldAccumulator {
  public:
    void add(double v) {
        ++count_;
        sum_ += v;
        lo_ = std::min(lo_, v);
        hi_ = std::max(hi_, v);
    }
    void addPivot(double v) { pivots_.push_back(v); }
    // Before the second pass: the mean, and the pivots of the median.
    void startSecondPass() {
        mean_ = count_ > 0 ? sum_ / static_cast<double>(count_) : kNaN;
        bracket_.emplace(pivots_, count_);
    }
    void addAgain(double v) {
        squares_ += (v - mean_) * (v - mean_);
        bracket_->offer(v);
    }
    // The statistics; `all` gives every value again when the median was not bracketed.
    template <class All>
    YieldStats stats(All all) {
        YieldStats s{count_, kNaN, kNaN, kNaN, kNaN, kNaN};
        if (count_ == 0) {
            return s;
        }
        const double n = static_cast<double>(count_);
        s.mean = mean_;
        const double sd = std::sqrt(squares_ / n);
        s.cv = s.mean != 0.0 && std::isfinite(sd / s.mean) ? 100.0 * sd / std::fabs(s.mean) : kNaN;
        s.min = lo_;
        s.max = hi_;
        if (const std::optional<double> m = bracket_->result()) {
            s.median = *m;
        } else {
            std::vector<double> values = all();
            s.median = median(values);
        }
        return s;
    }

  private:
    std::size_t count_ = 0;
    double sum_ = 0.0, squares_ = 0.0, mean_ = kNaN;
    double lo_ = std::numeric_limits<double>::infinity(), hi_ = -lo_;
    std::vector<double> pivots_;
    std::optional<MedianBracket> bracket_;
};

// What the two passes over the points gather.
struct Gathered {
    YieldAccumulator before, after;  // all points, kept points
    double moisture = 0.0;
    std::size_t moistures = 0, speeds = 0;
    BoxBuilder box;
    std::vector<double> speedSample;
};

bool keptAt(const CleaningResult& result, std::size_t i) {
    return i >= result.flags.size() || result.flags[i] == 0;
}

// The first pass: sums, counts, extremes and the box of the kept points, and every so many
// points a yield for the pivots of the medians. A kept record's yield and moisture are those
// with the lag undone.
void firstPass(PointView points, const CleaningResult& result, Gathered& g) {
    const LagShift& lag = result.lag;
    const std::size_t n = points.size();
    const std::size_t pivotStride = n / 4096 + 1;
    std::size_t nextPivot = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i > nextPivot) {
            nextPivot += pivotStride;
        }
        const double v = points.yield(i);
        if (std::isfinite(v)) {
            g.before.add(v);
            if (i == nextPivot) {
                g.before.addPivot(v);
            }
        }
        if (!keptAt(result, i)) {
            continue;
        }
        const double kv = lag.yieldAt(points, i), km = lag.moistureAt(points, i);
        if (std::isfinite(kv)) {
            g.after.add(kv);
            if (i == nextPivot) {
                g.after.addPivot(kv);
            }
        }
        if (std::isfinite(km)) {
            g.moisture += km;
            ++g.moistures;
        }
        g.speeds += std::isfinite(points.speed(i)) ? 1u : 0u;
        g.box.add(points.longitude(i), points.latitude(i));
    }
}

// The second pass: the squares, the medians and an even sample of the kept points' speeds.
void secondPass(PointView points, const CleaningResult& result, Gathered& g) {
    const LagShift& lag = result.lag;
    g.before.startSecondPass();
    g.after.startSecondPass();
    const std::size_t speedStride =
        g.speeds > kStatisticsSample ? g.speeds / kStatisticsSample + 1 : 1;
    g.speedSample.reserve(g.speeds / speedStride + 1);
    std::size_t seen = 0, next = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const bool k = keptAt(result, i);
        const double v = points.yield(i);
        if (std::isfinite(v)) {
            g.before.addAgain(v);
        }
        if (!k) {
            continue;
        }
        const double kv = lag.yieldAt(points, i), speed = points.speed(i);
        if (std::isfinite(kv)) {
            g.after.addAgain(kv);
        }
        if (std::isfinite(speed)) {
            if (seen == next) {
                g.speedSample.push_back(speed);
                next += speedStride;
            }
            ++seen;
        }
    }
}

}  // namespace

// Two passes over the points: sums, counts and the box; then the squares, the medians and the
// speed sample.
FieldSummary summarizeField(std::string setName, PointView points, const CleaningResult& result) {
    FieldSummary f;
    f.setName = std::move(setName);
    f.points = points.size();
    f.kept = result.kept;
    f.removedBy = result.flagged;
    f.thresholds = result.thresholds;
    f.note = result.note;
    f.lag = result.lag;
    Gathered g;
    firstPass(points, result, g);
    f.meanMoisture = g.moistures > 0 ? g.moisture / static_cast<double>(g.moistures) : kNaN;
    f.box = g.box.box();
    secondPass(points, result, g);
    f.medianSpeed = median(g.speedSample);
    // Every value again, for a median the pivots did not bracket.
    const LagShift& lag = result.lag;
    auto values = [&](bool keptOnly, auto yield) {
        std::vector<double> out;
        for (std::size_t i = 0; i < points.size(); ++i) {
            if ((!keptOnly || keptAt(result, i)) && std::isfinite(yield(i))) {
                out.push_back(yield(i));
            }
        }
        return out;
    };
    f.before = g.before.stats(
        [&] { return values(false, [&](std::size_t i) { return points.yield(i); }); });
    f.after = g.after.stats(
        [&] { return values(true, [&](std::size_t i) { return lag.yieldAt(points, i); }); });
    return f;
}

namespace {

// The field's numbers' columns of a row; empty fields without them.
void appendNumbers(std::string& row, const std::optional<FieldNumbers>& numbers) {
    if (!numbers) {
        row += std::string(12, ',');
        return;
    }
    const FieldNumbers& r = *numbers;
    row += ',' + plainNumber(r.swathMetres, 2) + ',' + (r.swathSet ? "yes" : "no");
    for (double v :
         {r.areaHectares, r.areaAcres, r.meanYield, r.meanTonnesPerHectare, r.totalBushels,
          r.totalTonnes, r.standardMoisture, r.dryMeanYield, r.dryTotalBushels}) {
        row += ',' + plainNumber(v, 3);
    }
    std::string notes;
    for (const std::string& n : r.notes) {
        notes += (notes.empty() ? "" : "; ") + n;
    }
    row += ',' + escape(notes, Escape::CsvBytes);
}

// The lags' columns: samples undone (empty: none), confidence (0: not found; empty: set, off, or
// a log not judged).
void appendLags(std::string& row, const FieldSummary& f) {
    using Mode = LagSetting::Mode;
    const LagFound& l = f.lag;
    const bool judged = f.note.empty();
    auto lag = [&](bool found, int samples) {
        return judged && found ? std::to_string(samples) : std::string();
    };
    auto confidence = [&](Mode mode, bool found, double c) {
        return judged && mode == Mode::Auto ? plainNumber(found ? c : 0.0, 2) : std::string();
    };
    row += ',' + lag(l.flowFound, l.flow) + ',' +
           confidence(l.flowMode, l.flowFound, l.flowConfidence) + ',' +
           lag(l.moistureFound || l.moistureFollowsFlow, l.moisture) + ',' +
           confidence(l.moistureMode, l.moistureFound, l.moistureConfidence);
}

}  // namespace

void writeSummaryCsv(std::ostream& out, std::span<const FieldSummary> fields) {
    std::string row = "set,points,kept,removed";
    for (std::size_t k = 0; k < kFirstFilterCount; ++k) {
        row += ",removed_";
        row += kFilterInfo[k].code;
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
    row +=
        ",overridden,note,log,swath_m,swath_set,area_ha,area_ac,yield_mean_bu_ac,"
        "yield_mean_t_ha,production_bu,production_t,standard_moisture_pct,"
        "dry_yield_mean_bu_ac,dry_production_bu,numbers_note";
    for (std::size_t k = kFirstFilterCount; k < kFilterCount; ++k) {
        row += ",removed_";
        row += kFilterInfo[k].code;
    }
    row += ",flow_lag_samples,flow_lag_confidence,moisture_lag_samples,moisture_lag_confidence\r\n";
    out << row;
    for (const FieldSummary& f : fields) {
        const auto count = [&f](std::size_t c) { return f.analysed ? std::to_string(c) : ""; };
        row = escape(f.setName, Escape::CsvBytes) + ',' + std::to_string(f.points) + ',' +
              count(f.kept) + ',' + count(f.points - f.kept);
        for (std::size_t k = 0; k < kFirstFilterCount; ++k) {
            row += ',' + count(f.removedBy[k]);
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
        row += ',' + escape(overridden, Escape::CsvBytes) + ',' + escape(f.note, Escape::CsvBytes) +
               ',' + escape(f.log, Escape::CsvBytes);
        appendNumbers(row, f.numbers);
        for (std::size_t k = kFirstFilterCount; k < kFilterCount; ++k) {
            row += ',' + count(f.removedBy[k]);
        }
        appendLags(row, f);
        out << row << "\r\n";
    }
}

}  // namespace vornakite::analysis
