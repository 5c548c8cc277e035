#include "analysis/robust.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vornakite::analysis {

double quantile(std::span<double> values, double q) {
    if (values.empty()) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    q = std::clamp(q, 0.0, 1.0);
    const double pos = q * static_cast<double>(values.size() - 1);
    const auto lower = static_cast<std::size_t>(std::floor(pos));
    const double frac = pos - static_cast<double>(lower);
    auto nth = values.begin() + static_cast<std::ptrdiff_t>(lower);
    std::nth_element(values.begin(), nth, values.end());
    const double a = *nth;
    if (frac == 0.0 || lower + 1 >= values.size()) {
        return a;
    }
    // The next rank is the smallest value above the lower one.
    const double b = *std::min_element(nth + 1, values.end());
    return a + (b - a) * frac;
}

double median(std::span<double> values) {
    return quantile(values, 0.5);
}

// A quickselect whose partition has no branch on the values: the neighbours' yields of a field
// with two levels side by side are in no order a branch predictor could learn, and there
// std::nth_element's partitions cost several times as much.
float kthSmallest(std::span<float> values, std::size_t k) {
    float* a = values.data();
    std::size_t lo = 0, hi = values.size();  // the k-th is in [lo, hi)
    auto partition = [&](auto before) {
        std::size_t store = lo;  // [lo, store) are before the pivot, [store, i) not
        for (std::size_t i = lo; i < hi; ++i) {
            const float v = a[i];
            a[i] = a[store];
            a[store] = v;
            store += before(v) ? 1u : 0u;
        }
        return store;
    };
    while (hi - lo > 16) {
        const float x = a[lo], y = a[lo + (hi - lo) / 2], z = a[hi - 1];
        const float pivot = std::max(std::min(x, y), std::min(std::max(x, y), z));
        std::size_t store = partition([pivot](float v) { return v < pivot; });
        if (store == lo) {  // the pivot is the least: split off the values equal to it
            store = partition([pivot](float v) { return v <= pivot; });
            if (k < store) {
                return pivot;
            }
        }
        (k < store ? hi : lo) = store;
    }
    for (std::size_t i = lo + 1; i < hi; ++i) {  // a few left: insertion sort
        const float v = a[i];
        std::size_t j = i;
        for (; j > lo && a[j - 1] > v; --j) {
            a[j] = a[j - 1];
        }
        a[j] = v;
    }
    return a[k];
}

MedianBracket::MedianBracket(std::span<double> sample, std::size_t count) : count_(count) {
    // A sample of s values places a rank within a few times 1/sqrt(s) of its share: the
    // pivots lie well outside that.
    if (sample.size() < 64 || count < 4 * sample.size()) {
        return;  // keep every value
    }
    const double share = 0.5 * static_cast<double>(count - 1) / static_cast<double>(count);
    const double margin = 5.0 / std::sqrt(static_cast<double>(sample.size()));
    if (share - margin > 0.0) {
        lo_ = quantile(sample, share - margin);
    }
    if (share + margin < 1.0) {
        hi_ = quantile(sample, share + margin);
    }
    between_.reserve(static_cast<std::size_t>(3.0 * margin * static_cast<double>(count)) + 16);
}

std::optional<double> MedianBracket::result() {
    if (count_ == 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    // As quantile(values, 0.5): the value of rank (count - 1) / 2, averaged with the next one
    // when the count is even.
    const std::size_t lower = (count_ - 1) / 2;
    const bool twoRanks = (count_ - 1) % 2 != 0;
    const std::size_t last = twoRanks ? lower + 1 : lower;
    if (lower < below_ || last >= below_ + between_.size()) {
        return std::nullopt;
    }
    auto nth = between_.begin() + static_cast<std::ptrdiff_t>(lower - below_);
    std::nth_element(between_.begin(), nth, between_.end());
    const double a = *nth;
    if (!twoRanks) {
        return a;
    }
    const double b = *std::min_element(nth + 1, between_.end());
    return a + (b - a) * 0.5;
}

Robust robust(std::span<double> values) {
    Robust r;
    r.count = values.size();
    if (values.empty()) {
        return r;
    }
    r.median = median(values);
    std::vector<double> deviations(values.size());
    double sumAbs = 0.0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        deviations[i] = std::fabs(values[i] - r.median);
        sumAbs += deviations[i];
    }
    r.sigma = 1.4826 * median(deviations);
    if (r.sigma == 0.0) {
        const double q1 = quantile(values, 0.25);
        const double q3 = quantile(values, 0.75);
        r.sigma = (q3 - q1) / 1.349;
    }
    if (r.sigma == 0.0) {
        r.sigma = 1.2533 * sumAbs / static_cast<double>(values.size());
    }
    return r;
}

}  // namespace vornakite::analysis
