// The spatial index of the local-outlier filter: a square grid of cells over a set of track
// points, each cell's points listed side by side with the three lowest and highest values among
// them. Header only: the lookups run in the filter's innermost loop.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "os/memory.hpp"

namespace vornakite::analysis {

// Cells of a square grid over the pool points, found through an open-addressing hash of the
// cell coordinates: O(n) to build, O(1) to look up, however far apart the points lie. A cell's
// points are listed side by side, as their places on the track.
class CellGrid {
  public:
    // The pool: the track points k < m (in the cell of key keyOf(k), with yield v[k]) for which
    // inPool(k) holds. The keys are worked out as the points are listed, so that no array of
    // them is held.
    template <class KeyOf, class InPool>
    CellGrid(std::size_t m, KeyOf keyOf, const std::vector<float>& v, InPool inPool) {
        list(m, keyOf, inPool);
        extremes_.resize(counts_.size());
        for (std::size_t c = 0; c < counts_.size(); ++c) {
            for (std::uint32_t j = starts_[c]; j < starts_[c + 1]; ++j) {
                extremes_[c].add(v[members_[j]], j);
            }
        }
    }
    // The pool's cells and their points only, without values.
    template <class KeyOf, class InPool>
    CellGrid(std::size_t m, KeyOf keyOf, InPool inPool) {
        list(m, keyOf, inPool);
    }

    std::size_t size() const { return members_.size(); }

    // The three lowest and the three highest values of a set, sorted outwards (infinities
    // where the set has fewer), and where in points() the values of a cell's own are.
    struct Extremes {
        float low[3] = {kInf, kInf, kInf};
        float high[3] = {-kInf, -kInf, -kInf};
        std::uint32_t lowAt[3] = {0, 0, 0};
        std::uint32_t highAt[3] = {0, 0, 0};
        void add(float v, std::uint32_t at) {
            if (v < low[2]) {
                pushLow(v, at);
            }
            if (v > high[2]) {
                pushHigh(v, at);
            }
        }
        // The values of another set (without their places).
        void add(const Extremes& e) {
            for (int k = 0; k < 3 && e.low[k] < low[2]; ++k) {
                pushLow(e.low[k], 0);
            }
            for (int k = 0; k < 3 && e.high[k] > high[2]; ++k) {
                pushHigh(e.high[k], 0);
            }
        }

      private:
        void pushLow(float v, std::uint32_t at) {
            int k = 2;
            for (; k > 0 && v < low[k - 1]; --k) {
                low[k] = low[k - 1];
                lowAt[k] = lowAt[k - 1];
            }
            low[k] = v;
            lowAt[k] = at;
        }
        void pushHigh(float v, std::uint32_t at) {
            int k = 2;
            for (; k > 0 && v > high[k - 1]; --k) {
                high[k] = high[k - 1];
                highAt[k] = highAt[k - 1];
            }
            high[k] = v;
            highAt[k] = at;
        }
    };
    const Extremes& extremes(std::uint32_t id) const { return extremes_[id]; }

    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    // floor(v / cell), kept within +-1e9; without calling floor(), which is a library call
    // on plain x86-64.
    static std::int64_t column(double v, double cell) {
        const double q = std::clamp(v / cell, -1e9, 1e9);
        const auto t = static_cast<std::int64_t>(q);
        return static_cast<double>(t) > q ? t - 1 : t;
    }
    static std::uint64_t pack(std::int64_t cx, std::int64_t cy) {
        return (static_cast<std::uint64_t>(cx + (1ll << 31)) << 32) |
               static_cast<std::uint64_t>(cy + (1ll << 31));
    }
    // The key of the cell of side `cell` that (x, y) lies in, and its column and row.
    static std::uint64_t keyOf(double x, double y, double cell) {
        return pack(column(x, cell), column(y, cell));
    }
    static std::int64_t columnOf(std::uint64_t key) {
        return static_cast<std::int64_t>(key >> 32) - (1ll << 31);
    }
    static std::int64_t rowOf(std::uint64_t key) {
        return static_cast<std::int64_t>(key & 0xFFFFFFFFu) - (1ll << 31);
    }

    std::uint32_t find(std::uint64_t key) const {
        const std::size_t h = hash(key);
        if (((occupied_[bitOf(h) / 64] >> (bitOf(h) % 64)) & 1u) == 0) {
            return kNone;
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t s = h & mask;; s = (s + 1) & mask) {
            if (slots_[s] == 0) {
                return kNone;
            }
            if (keys_[slots_[s] - 1] == key) {
                return slots_[s] - 1;
            }
        }
    }
    // The range of cell `id` in points().
    std::size_t begin(std::uint32_t id) const { return starts_[id]; }
    std::size_t end(std::uint32_t id) const { return starts_[id + 1]; }
    // The place on the track of the j-th listed point.
    std::uint32_t member(std::size_t j) const { return members_[j]; }

  private:
    static constexpr float kInf = std::numeric_limits<float>::infinity();

    // The pool's points listed cell by cell, each cell's in track order. The keys are worked
    // out twice, to count and to list, so that no array of the points' cells is held.
    template <class KeyOf, class InPool>
    void list(std::size_t m, KeyOf keyOf, InPool inPool) {
        std::size_t n = 0;
        slots_.assign(64, 0);
        forEachCell(m, keyOf, inPool, true, [&](std::size_t, std::uint32_t id) {
            ++counts_[id];
            ++n;
        });
        starts_.assign(counts_.size() + 1, 0);
        for (std::size_t c = 0; c < counts_.size(); ++c) {
            starts_[c + 1] = starts_[c] + counts_[c];
        }
        os::resizeLarge(members_, n);
        std::vector<std::uint32_t> fill(starts_.begin(), starts_.end() - 1);
        forEachCell(m, keyOf, inPool, false, [&](std::size_t k, std::uint32_t id) {
            members_[fill[id]++] = static_cast<std::uint32_t>(k);
        });
    }
    // Calls visit(k, cell) for each pool point k; `add`: cells not yet in the grid are added.
    template <class KeyOf, class InPool, class Visit>
    void forEachCell(std::size_t m, KeyOf& keyOf, InPool& inPool, bool add, Visit visit) {
        std::uint64_t lastKey = ~0ull;  // consecutive points mostly share a cell
        std::uint32_t id = kNone;
        for (std::size_t k = 0; k < m; ++k) {
            if (!inPool(k)) {
                continue;
            }
            const std::uint64_t key = keyOf(k);
            if (key != lastKey) {
                lastKey = key;
                id = find(key);
                if (id == kNone && add) {
                    if (2 * (counts_.size() + 1) > slots_.size()) {
                        grow();
                    }
                    id = insert(key);
                }
            }
            visit(k, id);
        }
    }

    static std::size_t hash(std::uint64_t key) {
        key ^= key >> 29;
        key *= 0xBF58476D1CE4E5B9ull;
        key ^= key >> 32;
        return static_cast<std::size_t>(key);
    }
    // A cell's bit in occupied_: from the hash's high bits, the slots take the low ones.
    static std::size_t bitOf(std::size_t h) {
        return static_cast<std::size_t>(static_cast<std::uint64_t>(h) >> (64 - kOccupiedBits));
    }
    std::uint32_t insert(std::uint64_t key) {
        const auto id = static_cast<std::uint32_t>(counts_.size());
        counts_.push_back(0);
        keys_.push_back(key);
        const std::size_t bit = bitOf(hash(key));
        occupied_[bit / 64] |= std::uint64_t{1} << (bit % 64);
        place(key, id + 1);
        return id;
    }
    void place(std::uint64_t key, std::uint32_t idPlusOne) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t s = hash(key) & mask;
        while (slots_[s] != 0) {
            s = (s + 1) & mask;
        }
        slots_[s] = idPlusOne;
    }
    void grow() {
        slots_.assign(slots_.size() * 2, 0);
        for (std::size_t id = 0; id < keys_.size(); ++id) {
            place(keys_[id], static_cast<std::uint32_t>(id + 1));
        }
    }

    // The open-addressing table holds cell ids plus one (0: empty); a cell's key is kept once,
    // by its id, so that the table, at least twice as large as the cells are many, takes 4
    // bytes a slot instead of 16.
    std::vector<std::uint32_t> slots_;
    std::vector<std::uint64_t> keys_;  // per cell
    // A bit per hash of the cells that have points: most lookups of an empty cell end here, in
    // a megabyte that stays in the processor's cache, instead of in the table of slots (a
    // million points each in a cell of its own make that table larger than any cache).
    static constexpr int kOccupiedBits = 23;
    std::vector<std::uint64_t> occupied_ =
        std::vector<std::uint64_t>((std::size_t{1} << kOccupiedBits) / 64, 0);
    std::vector<std::uint32_t> counts_;
    std::vector<std::uint32_t> starts_;
    std::vector<std::uint32_t> members_;  // track places, cell by cell
    std::vector<Extremes> extremes_;
};

}  // namespace vornakite::analysis
