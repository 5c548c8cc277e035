// vornakite-gendirty's injected errors: GPS jumps and missing fixes, repeated positions, wrong
// speeds, sensor dropouts, spikes and dips, and moisture faults, at random clean samples.
#include <cmath>
#include <cstddef>
#include <vector>

#include "gen_dirty.hpp"

namespace gendirty {

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

}  // namespace gendirty
