// A log's points held for the analysis in about a quarter of the room: each value as the whole
// number of units the log writes it in (a log's fields are whole numbers of 1e-7 degrees, tenths
// of a bushel, hundredths of a ton...), and that number as a 16-bit step from the one of the
// first point of its block of 16: 14 bytes a point and 28 a block instead of seven doubles.
// A value comes back bit for bit as it was read: it is stored so only where dividing the whole
// number by its unit gives the same double again, and a point with any other value (not a
// number, -0, beyond 32 bits, not a whole number of units, more than 16 bits away from its
// block's) is kept whole beside the others (70 bytes then). Once a quarter of the points are
// kept whole (a log written with more decimals than its units), all are, 56 bytes each as plain
// points.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "model/yield_point.hpp"

namespace vornakite {

class PointStore {
  public:
    PointStore() = default;
    explicit PointStore(std::span<const YieldPoint> points) {
        reserve(points.size());
        append(points);
    }

    // Room for `n` points, in large pages where the system has them.
    void reserve(std::size_t n);
    void append(std::span<const YieldPoint> points);
    void swap(PointStore& other) noexcept {
        codes_.swap(other.codes_);
        bases_.swap(other.bases_);
        whole_.swap(other.whole_);
        std::swap(plain_, other.plain_);
        std::swap(lastBased_, other.lastBased_);
    }

    std::size_t size() const { return plain_ ? whole_.size() : codes_.size(); }
    bool empty() const { return size() == 0; }
    // Every point kept whole, in order, at plainPoints() (see above).
    bool plain() const { return plain_; }
    const YieldPoint* plainPoints() const { return whole_.data(); }
    // The room the points take, in bytes.
    std::size_t bytes() const;

    YieldPoint operator[](std::size_t i) const {
        if (plain_) {
            return whole_[i];
        }
        const Codes& c = codes_[i];
        if (c.v[0] == kWhole) {
            return whole_[wholeIndex(c)];
        }
        const Base& b = bases_[i / kBlock];
        return {value(b, c, 0), value(b, c, 1), value(b, c, 2), value(b, c, 3),
                value(b, c, 4), value(b, c, 5), value(b, c, 6)};
    }
    // One member of point i: `member` in YieldPoint order (0 longitude ... 6 speed).
    double at(std::size_t i, int member) const {
        if (plain_) {
            return whole_[i].*kPointMembers[member];
        }
        const Codes& c = codes_[i];
        return c.v[0] == kWhole ? whole_[wholeIndex(c)].*kPointMembers[member]
                                : value(bases_[i / kBlock], c, member);
    }

    // Points copied out from `first` on, as many as `out` holds (fewer at the end).
    std::span<const YieldPoint> copy(std::size_t first, std::span<YieldPoint> out) const;

  private:
    static constexpr std::size_t kBlock = 16;
    // A point's steps from its block's base; v[0] == kWhole: the point is kept whole, at
    // whole_[v[1] * 2^32 + v[2] * 2^16 + v[3]] (16-bit parts).
    static constexpr std::int16_t kWhole = std::numeric_limits<std::int16_t>::min();
    struct Codes {
        std::int16_t v[7];
    };
    // Per block: the whole numbers of units of its first point stored as such.
    struct Base {
        std::int32_t v[7];
    };
    static std::size_t wholeIndex(const Codes& c) {
        auto part = [&](int k) {
            return static_cast<std::size_t>(static_cast<std::uint16_t>(c.v[k]));
        };
        return (part(1) << 32) | (part(2) << 16) | part(3);
    }
    static double value(const Base& b, const Codes& c, int k) {
        return static_cast<double>(b.v[k] + c.v[k]) / kPointUnits[k];
    }
    bool encode(const YieldPoint& p, Codes& c);
    void becomePlain();

    std::vector<Codes> codes_;
    std::vector<Base> bases_;        // one per block of kBlock points
    std::vector<YieldPoint> whole_;  // in point order: the points kept whole, or all when plain_
    bool plain_ = false;
    bool lastBased_ = false;  // the last block's base is set (by a point stored as steps)
};

// The points the analysis reads: a store, or points held as they are (a span).
class PointView {
  public:
    PointView() = default;
    PointView(std::span<const YieldPoint> points) : plain_(points.data()), n_(points.size()) {}
    PointView(const std::vector<YieldPoint>& points) : PointView(std::span(points)) {}
    PointView(const PointStore& store)
        : plain_(store.plain() ? store.plainPoints() : nullptr),
          store_(store.plain() ? nullptr : &store),
          n_(store.size()) {}

    std::size_t size() const { return n_; }
    bool empty() const { return n_ == 0; }
    YieldPoint operator[](std::size_t i) const { return plain_ ? plain_[i] : (*store_)[i]; }
    double longitude(std::size_t i) const { return member(i, 0); }
    double latitude(std::size_t i) const { return member(i, 1); }
    double yield(std::size_t i) const { return member(i, 2); }
    double moisture(std::size_t i) const { return member(i, 3); }
    double speed(std::size_t i) const { return member(i, 6); }
    // One member of point i, in YieldPoint order as PointStore::at.
    double member(std::size_t i, int k) const {
        return plain_ ? plain_[i].*kPointMembers[k] : store_->at(i, k);
    }

    // Points from `first` on as a span: the points themselves, or copied into `room`.
    std::span<const YieldPoint> run(std::size_t first, std::size_t count,
                                    std::span<YieldPoint> room) const {
        if (plain_ != nullptr) {
            return {plain_ + first, count};
        }
        return store_->copy(first, room.first(std::min(count, room.size())));
    }

    class iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = YieldPoint;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = YieldPoint;
        iterator(const PointView* v, std::size_t i) : v_(v), i_(i) {}
        YieldPoint operator*() const { return (*v_)[i_]; }
        iterator& operator++() {
            ++i_;
            return *this;
        }
        iterator operator++(int) {
            iterator before = *this;
            ++i_;
            return before;
        }
        bool operator==(const iterator& o) const { return i_ == o.i_; }

      private:
        const PointView* v_;
        std::size_t i_;
    };
    iterator begin() const { return {this, 0}; }
    iterator end() const { return {this, n_}; }

  private:
    const YieldPoint* plain_ = nullptr;
    const PointStore* store_ = nullptr;
    std::size_t n_ = 0;
};

// Hands every point to `sink` in file order (in batches where they are stored compactly).
void addAll(PointSink& sink, PointView points);

}  // namespace vornakite
