// The compact point store: every value back bit for bit, whether stored as whole units or kept
// whole, in order, in batches.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "model/point_store.hpp"

using vornakite::PointStore;
using vornakite::PointView;
using vornakite::YieldPoint;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool same(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

void expectSame(const YieldPoint& a, const YieldPoint& b) {
    EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << a.longitude << " " << b.longitude;
}

struct Sink : vornakite::PointSink {
    std::vector<YieldPoint> got;
    void addPoints(std::span<const YieldPoint> points) override {
        got.insert(got.end(), points.begin(), points.end());
    }
};

}  // namespace

TEST(PointStore, GivesEveryValueBackBitForBit) {
    const struct {
        const char* name;
        YieldPoint point;
        bool compact;  // stored as whole units
    } cases[] = {
        {"as a log writes them", {-93.6123457, 42.0123456, 187.3, 18.2, 1234.56, 56.1, 4.5}, true},
        {"zeros and negatives", {0.0, -0.0000001, 0.0, -1.5, -0.01, 0.0, 0.0}, true},
        {"the widest units", {214.7483647, -214.7483647, 214748364.7, 0, 0, 0, 0}, true},
        {"beyond 32 bits", {-214.7483648, 0, 0, 0, 0, 0, 0}, false},
        {"not whole units", {-93.61234567, 42.0, 187.3, 18.2, 1.0, 56.0, 4.5}, false},
        {"negative zero", {-93.6, 42.0, -0.0, 18.2, 1.0, 56.0, 4.5}, false},
        {"not a number", {-93.6, 42.0, kNaN, 18.2, 1.0, 56.0, 4.5}, false},
        {"infinite", {-93.6, 42.0, 187.3, 18.2, 1.0, 56.0, -kInf}, false},
        {"absurd", {-93.6, 42.0, 1e308, 18.2, 1.0, 56.0, 4.5}, false},
    };
    std::vector<YieldPoint> all;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PointStore one(std::span(&c.point, 1));
        expectSame(one[0], c.point);
        const PointView view = one;
        EXPECT_TRUE(same(view.longitude(0), c.point.longitude));
        EXPECT_TRUE(same(view.latitude(0), c.point.latitude));
        EXPECT_TRUE(same(view.yield(0), c.point.yield));
        EXPECT_TRUE(same(view.moisture(0), c.point.moisture));
        EXPECT_TRUE(same(view.speed(0), c.point.speed));
        EXPECT_EQ(one.bytes() < sizeof(YieldPoint), c.compact);
        all.push_back(c.point);
    }
    // Mixed, in order, handed on in batches smaller than the store.
    std::vector<YieldPoint> many;
    for (int r = 0; r < 1000; ++r) {
        many.insert(many.end(), all.begin(), all.end());
    }
    PointStore store;
    store.append(std::span(many).first(5000));
    store.append(std::span(many).subspan(5000));
    ASSERT_EQ(store.size(), many.size());
    Sink sink;
    vornakite::addAll(sink, store);
    ASSERT_EQ(sink.got.size(), many.size());
    for (std::size_t i = 0; i < many.size(); ++i) {  // blocks of values far apart among them
        expectSame(store[i], many[i]);
        expectSame(sink.got[i], many[i]);
    }
}

TEST(PointStore, KeepsATrackInAQuarterOfTheRoom) {
    std::vector<YieldPoint> track;     // 2 m a sample, values wandering, a jump of 5 km
    for (int i = 0; i < 10000; ++i) {  // each value as a log's reader makes it: units / unit
        const int lat = 420000000 + 18 * (i % 3000) + (i >= 6000 ? 450000 : 0);
        track.push_back({(-936000000 + i % 97) / 1e7, lat / 1e7, (i * 37) % 3000 / 10.0,
                         (150 + i % 80) / 10.0, i % 700 / 100.0, (560 + i % 9) / 10.0,
                         i % 80 / 10.0});
    }
    PointStore store(track);
    ASSERT_FALSE(store.plain());
    EXPECT_LE(store.bytes(), 16 * track.size());
    for (std::size_t i = 0; i < track.size(); ++i) {
        expectSame(store[i], track[i]);
    }
}

TEST(PointStore, KeepsALogOfOtherDecimalsAsPlainPoints) {
    std::vector<YieldPoint> points;
    for (int i = 0; i < 20000; ++i) {  // every fifth point as a log writes it, the others not
        const double lon = -93.6 + (i % 5 == 0 ? 1e-7 : 1.234e-9) * i;
        points.push_back({lon, 42.0, 150.0 + 0.1 * (i % 50), 18.2, 1.5, 56.0, 4.5});
    }
    PointStore store;
    store.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); i += 4096) {  // as a log's lines arrive
        store.append(std::span(points).subspan(i, std::min<std::size_t>(4096, points.size() - i)));
    }
    ASSERT_TRUE(store.plain());
    ASSERT_EQ(store.size(), points.size());
    EXPECT_LE(store.bytes(), points.size() * sizeof(YieldPoint));
    const PointView view = store;
    for (std::size_t i = 0; i < points.size(); i += 7) {
        expectSame(view[i], points[i]);
        EXPECT_TRUE(same(view.longitude(i), points[i].longitude));
    }
}
