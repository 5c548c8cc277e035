// Robust statistics over samples of a log's values: medians, quantiles and spreads that a
// few gross errors cannot move, and the deterministic subsample thresholds are taken from.
#pragma once

#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <vector>

namespace vornakite::analysis {

// The q-quantile (0 <= q <= 1) of `values` by linear interpolation between closest ranks;
// reorders `values`. NaN for an empty span. Values must be finite.
double quantile(std::span<double> values, double q);

// The median of `values`; reorders them. NaN for an empty span.
double median(std::span<double> values);

// The k-th smallest (k < size) of finite `values`, which are reordered: the value
// std::nth_element puts at k, found faster where the values lie in no learnable order.
float kthSmallest(std::span<float> values, std::size_t k);

// Location and scale: the median, and the median absolute deviation scaled to a normal
// distribution's standard deviation (1.4826 MAD). When more than half the values are equal
// the MAD is zero; the scale then falls back to the interquartile range / 1.349 and then to
// the mean absolute deviation * 1.2533, and is zero only when all values are equal.
struct Robust {
    double median = 0.0;
    double sigma = 0.0;
    std::size_t count = 0;
};
Robust robust(std::span<double> values);

// The median of many values, equal to median() of them, without keeping them all: only the
// values between two pivots from a sample of them are kept. The values are offered one at a
// time; when the median does not lie between the pivots (an unlucky sample), result() is
// empty and the caller takes median() of all values instead.
class MedianBracket {
  public:
    // `sample`: some of the values (reordered); `count`: how many values will be offered.
    MedianBracket(std::span<double> sample, std::size_t count);
    void offer(double v) {
        if (v < lo_) {
            ++below_;
        } else if (v <= hi_) {
            between_.push_back(v);
        }
    }
    std::optional<double> result();

  private:
    std::size_t count_;
    double lo_ = -std::numeric_limits<double>::infinity();
    double hi_ = std::numeric_limits<double>::infinity();
    std::size_t below_ = 0;
    std::vector<double> between_;
};

// Thresholds need no more than this many values: larger sets are thinned to an even stride,
// the same on every run, which keeps the statistics of a 1M-point log cheap.
inline constexpr std::size_t kStatisticsSample = 1u << 15;

// Collects the values value(i) for which keep(i) holds, i in [0, n), thinned to at most
// kStatisticsSample values by an even stride; `count` is the number of i for which keep(i) holds,
// when the caller has counted them already.
template <class Keep, class Value>
std::vector<double> collectSample(std::size_t n, std::size_t count, Keep keep, Value value) {
    const std::size_t stride = count > kStatisticsSample ? count / kStatisticsSample + 1 : 1;
    std::vector<double> out;
    out.reserve(count / stride + 1);
    std::size_t seen = 0, next = 0;  // every stride-th kept value, from the first
    for (std::size_t i = 0; i < n; ++i) {
        if (keep(i)) {
            if (seen == next) {
                out.push_back(value(i));
                next += stride;
            }
            ++seen;
        }
    }
    return out;
}

// The same, counting first.
template <class Keep, class Value>
std::vector<double> collectSample(std::size_t n, Keep keep, Value value) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        count += keep(i) ? 1u : 0u;
    }
    return collectSample(n, count, keep, value);
}

}  // namespace vornakite::analysis
