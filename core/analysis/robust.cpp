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
