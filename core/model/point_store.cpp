#include "model/point_store.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

#include "os/memory.hpp"

namespace vornakite {
namespace {

// The whole number of units that gives `v` back bit for bit, if there is one in 32 bits.
bool wholeUnits(double v, double units, std::int32_t& code) {
    const double n = v * units;
    if (!(std::fabs(n) <= 2147483647.0)) {  // also NaN
        return false;
    }
    code = static_cast<std::int32_t>(n + (n < 0.0 ? -0.5 : 0.5));  // rounded
    return std::bit_cast<std::uint64_t>(static_cast<double>(code) / units) ==
           std::bit_cast<std::uint64_t>(v);
}

}  // namespace

// Points kept whole before the store holds all so: at least this many, and a quarter.
constexpr std::size_t kWholeBeforePlain = 4096;

void PointStore::reserve(std::size_t n) {
    if (plain_) {
        os::reserveLarge(whole_, n);
    } else {
        os::reserveLarge(codes_, n);
        bases_.reserve(n / kBlock + 1);
    }
}

void PointStore::becomePlain() {
    std::vector<YieldPoint> all;
    os::reserveLarge(all, codes_.capacity());
    for (std::size_t i = 0; i < codes_.size(); ++i) {
        all.push_back((*this)[i]);
    }
    whole_.swap(all);
    std::vector<Codes>().swap(codes_);
    std::vector<Base>().swap(bases_);
    plain_ = true;
}

// Point p as steps from the base of its block (the last one), which the first point of a block
// stored so sets; false when a value cannot be.
bool PointStore::encode(const YieldPoint& p, Codes& c) {
    Base units;
    for (int k = 0; k < 7; ++k) {
        if (!wholeUnits(p.*kPointMembers[k], kPointUnits[k], units.v[k])) {
            return false;
        }
    }
    if (!lastBased_) {
        bases_.back() = units;
        lastBased_ = true;
    }
    const Base& b = bases_.back();
    for (int k = 0; k < 7; ++k) {
        const std::int64_t step = std::int64_t{units.v[k]} - b.v[k];
        if (step <= kWhole || step > std::numeric_limits<std::int16_t>::max()) {
            return false;
        }
        c.v[k] = static_cast<std::int16_t>(step);
    }
    return true;
}

void PointStore::append(std::span<const YieldPoint> points) {
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (plain_) {
            whole_.insert(whole_.end(), points.begin() + static_cast<std::ptrdiff_t>(i),
                          points.end());
            return;
        }
        const YieldPoint& p = points[i];
        if (codes_.size() % kBlock == 0) {
            bases_.emplace_back();
            lastBased_ = false;
        }
        Codes c;
        const bool stored = encode(p, c);
        if (!stored) {
            const std::size_t at = whole_.size();
            c.v[0] = kWhole;
            for (int k = 1; k <= 3; ++k) {
                c.v[k] =
                    static_cast<std::int16_t>(static_cast<std::uint16_t>(at >> (16 * (3 - k))));
            }
            whole_.push_back(p);
        }
        codes_.push_back(c);
        if (!stored && whole_.size() >= kWholeBeforePlain && 4 * whole_.size() >= codes_.size()) {
            becomePlain();
        }
    }
}

std::size_t PointStore::bytes() const {
    return codes_.capacity() * sizeof(Codes) + bases_.capacity() * sizeof(Base) +
           whole_.capacity() * sizeof(whole_[0]);
}

std::span<const YieldPoint> PointStore::copy(std::size_t first, std::span<YieldPoint> out) const {
    const std::size_t n = std::min(out.size(), size() - std::min(first, size()));
    for (std::size_t k = 0; k < n; ++k) {
        out[k] = (*this)[first + k];
    }
    return out.first(n);
}

void addAll(PointSink& sink, PointView points) {
    std::vector<YieldPoint> room(std::min<std::size_t>(points.size(), 4096));
    for (std::size_t i = 0; i < points.size();) {
        const std::span<const YieldPoint> run = points.run(i, points.size() - i, room);
        sink.addPoints(run);
        i += run.size();
    }
}

}  // namespace vornakite
