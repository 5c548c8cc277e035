// Cutting a track into passes, on hand-made tracks: straight runs, a gap, a corner and a
// headland turn.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/passes.hpp"

using namespace vornakite::analysis;

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Track {
    std::vector<float> x, y;  // as the filters hold them
    void add(double px, double py) {
        x.push_back(static_cast<float>(px));
        y.push_back(static_cast<float>(py));
    }
};

// `n` points `step` metres apart from (x0, y0) in the direction (dx, dy).
void run(Track& t, int n, double x0, double y0, double dx, double dy, double step = 2.0) {
    for (int k = 0; k < n; ++k) {
        t.add(x0 + dx * step * k, y0 + dy * step * k);
    }
}

Track serpentine() {
    Track t;
    run(t, 50, 0.0, 0.0, 1.0, 0.0);
    for (int k = 1; k <= 6; ++k) {  // a half circle of radius 4.5 m at the headland
        const double a = -kPi / 2 + kPi * k / 7.0;
        t.add(100.0 + 4.5 * std::cos(a), 4.5 + 4.5 * std::sin(a));
    }
    run(t, 50, 98.0, 9.0, -1.0, 0.0);
    return t;
}

}  // namespace

TEST(Passes, CutAtGapsAndTurnsOnly) {
    Track straight, gap, corner, empty;
    run(straight, 60, 0.0, 0.0, 1.0, 0.0);
    run(gap, 30, 0.0, 0.0, 1.0, 0.0);
    run(gap, 30, 160.0, 0.0, 1.0, 0.0);
    run(corner, 30, 0.0, 0.0, 1.0, 0.0);
    run(corner, 30, 58.0, 2.0, 0.0, 1.0);
    const struct {
        const char* name;
        Track track;
        std::size_t longPasses;  // of at least 15 points
        std::size_t gapAt;       // the point after the gap; 0: none
        double turnsWithin;      // of this x (the serpentine) or this index (the corner); 0: none
        std::vector<Pass> exact;
    } cases[] = {
        {"a straight run", straight, 1, 0, 0.0, {{0, 60, 0, 60}}},
        {"a gap", gap, 2, 30, 0.0, {{0, 30, 0, 30}, {30, 60, 30, 60}}},
        {"a right-angle corner", corner, 2, 0, 6.0, {}},
        {"a headland turn", serpentine(), 2, 0, 80.0, {}},
        {"no points", empty, 0, 0, 0.0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t m = c.track.x.size();
        std::vector<double> along(m);
        const TrackPasses t = findPasses(c.track.x, c.track.y, 20.0, 10.0, along);
        ASSERT_EQ(t.turn.size(), m);
        std::size_t longPasses = 0, next = 0;
        for (const Pass& p : t.passes) {
            // In order, each point not a turn in one pass, the turns around it beside it.
            for (; next < p.begin; ++next) {
                EXPECT_TRUE(t.turn[next]) << next;
            }
            for (std::size_t k = p.begin; k < p.end; ++k) {
                EXPECT_FALSE(t.turn[k]) << k;
                EXPECT_EQ(t.gapBefore[k] != 0, k == c.gapAt && k > 0);
            }
            EXPECT_LE(p.turnBefore, p.begin);
            EXPECT_GE(p.turnAfter, p.end);
            next = p.end;
            longPasses += p.end - p.begin >= 15 ? 1 : 0;
        }
        EXPECT_EQ(next, m);
        EXPECT_EQ(longPasses, c.longPasses);
        std::size_t turns = 0;
        for (std::size_t k = 0; k < m; ++k) {
            turns += t.turn[k];
            if (t.turn[k] && c.turnsWithin < 10.0) {
                EXPECT_NEAR(static_cast<double>(k), 29.0, c.turnsWithin) << k;
            } else if (t.turn[k]) {
                EXPECT_GT(c.track.x[k], c.turnsWithin) << k;
            }
        }
        EXPECT_EQ(turns > 0, c.turnsWithin != 0.0);
        if (!c.exact.empty()) {
            ASSERT_EQ(t.passes.size(), c.exact.size());
            for (std::size_t i = 0; i < c.exact.size(); ++i) {
                EXPECT_EQ(t.passes[i].begin, c.exact[i].begin);
                EXPECT_EQ(t.passes[i].end, c.exact[i].end);
                EXPECT_EQ(t.passes[i].turnBefore, c.exact[i].turnBefore);
                EXPECT_EQ(t.passes[i].turnAfter, c.exact[i].turnAfter);
            }
        }
        if (m > 0) {
            EXPECT_DOUBLE_EQ(along[29], 58.0);  // the distance along the track
        }
    }
}

TEST(Passes, TurnsAreThoseOfTheRuleWhereTheSearchesSkipRuns) {
    // Where the combine stays within a chord of a point for hundreds of samples, the searches
    // skip whole runs of points; the turns must be those of the rule applied point by point.
    std::uint32_t seed = 7;
    auto noise = [&] {  // -0.3 .. 0.3 m
        seed = seed * 1664525u + 1013904223u;
        return 0.6 * static_cast<double>(seed >> 8) / 16777216.0 - 0.3;
    };
    Track stop, loops, retrace;
    run(stop, 40, 0.0, 0.0, 1.0, 0.0);
    for (int k = 0; k < 500; ++k) {  // a stop on one spot, beyond the searches' reach
        stop.add(80.0 + noise(), noise());
    }
    run(stop, 40, 82.0, 0.0, 1.0, 0.0);
    run(stop, 40, 160.0, 2.0, 0.0, 1.0);
    for (int k = 0; k < 900; ++k) {  // round a loop of 4 m radius, then away
        loops.add(4.0 * std::cos(0.3 * k) + noise(), 4.0 * std::sin(0.3 * k) + noise());
    }
    run(loops, 40, 4.0, 2.0, 0.0, 1.0);
    for (int k = 0; k < 900; ++k) {  // back and forth along 12 m
        retrace.add(std::abs(static_cast<double>(k % 24) - 12.0) + noise(), noise());
    }
    const double chord = 10.0;
    for (const Track* t : {&stop, &loops, &retrace}) {
        const std::size_t m = t->x.size();
        auto far = [&](std::size_t a, std::size_t b) {
            const double dx = t->x[a] - t->x[b], dy = t->y[a] - t->y[b];
            return dx * dx + dy * dy >= chord * chord;
        };
        std::vector<double> along(m);
        const TrackPasses found = findPasses(t->x, t->y, 1e9, chord, along);
        for (std::size_t k = 0; k < m; ++k) {
            std::size_t back = k, ahead = k;  // the latest before and first after k that are far
            for (std::size_t j = k; j-- > (k >= 400 ? k - 400 : 0);) {
                if (far(j, k)) {
                    back = j;
                    break;
                }
            }
            for (std::size_t j = k + 1; j < m && j <= k + 400 && ahead == k; ++j) {
                ahead = far(j, k) ? j : k;
            }
            const double ax = t->x[k] - t->x[back], ay = t->y[k] - t->y[back];
            const double bx = t->x[ahead] - t->x[k], by = t->y[ahead] - t->y[k];
            const bool turn = back < k && ahead > k &&
                              (ax * bx + ay * by) / (std::sqrt(ax * ax + ay * ay) *
                                                     std::sqrt(bx * bx + by * by)) <
                                  std::cos(kTurnDegrees * kPi / 180.0);
            ASSERT_EQ(found.turn[k] != 0, turn) << k;
        }
    }
}
