// The benchmark tools' random numbers: xoshiro256** seeded through splitmix64, so that a seed
// gives the same logs on every platform.
#pragma once

#include <cmath>
#include <cstdint>

namespace benchtools {

// xoshiro256** seeded through splitmix64: the same sequence on every platform.
class Random {
  public:
    explicit Random(std::uint64_t seed) {
        for (auto& word : s_) {
            seed += 0x9E3779B97F4A7C15ull;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
            word = z ^ (z >> 31);
        }
    }
    std::uint64_t next() {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * 0x1p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int integer(int lo, int hi) {  // inclusive
        return lo + static_cast<int>(next() % static_cast<std::uint64_t>(hi - lo + 1));
    }
    // Normal by Box-Muller.
    double gauss(double mean, double sd) {
        const double u1 = 1.0 - uniform();
        const double u2 = uniform();
        return mean +
               sd * std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * 3.14159265358979323846 * u2);
    }

  private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t s_[4];
};

}  // namespace benchtools
