// The writing thread of a large log: every point arrives, in order; a failed conversion stops it
// without waiting for the queue; what the writer throws reaches the reading side.
#include "write/background_writer.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

using vornakite::BackgroundWriter;
using vornakite::YieldPoint;

struct Recorder : vornakite::PointSink {
    std::vector<double> seen;
    std::size_t failAt = SIZE_MAX;
    void addPoints(std::span<const YieldPoint> points) override {
        for (const auto& p : points) {
            if (seen.size() == failAt) {
                throw std::runtime_error("Failed to write shapefile outputs");
            }
            seen.push_back(p.yield);
        }
    }
};

void feed(BackgroundWriter& writer, std::size_t count) {
    std::vector<YieldPoint> piece(1000);
    for (std::size_t done = 0; done < count; done += piece.size()) {
        for (std::size_t i = 0; i < piece.size(); ++i) {
            piece[i].yield = static_cast<double>(done + i);
        }
        writer.addPoints(piece);
    }
}

}  // namespace

TEST(BackgroundWriter, HandsOnEveryPointInOrderBeforeAndAfterItsThreadStarts) {
    for (std::size_t count : {std::size_t{3000}, std::size_t{200000}}) {
        Recorder target;
        BackgroundWriter writer(target);
        feed(writer, count);
        writer.finish();
        ASSERT_EQ(target.seen.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(target.seen[i], static_cast<double>(i));
        }
    }
}

TEST(BackgroundWriter, AFailureOnTheThreadReachesFinishAndEndingEarlyNeverWaits) {
    Recorder failing;
    failing.failAt = 100000;
    {
        BackgroundWriter writer(failing);
        feed(writer, 300000);
        EXPECT_THROW(writer.finish(), std::runtime_error);
    }
    Recorder target;
    {
        BackgroundWriter writer(target);
        feed(writer, 200000);
    }  // a reading error: the queue is dropped, the thread ends
    EXPECT_LE(target.seen.size(), 200000u);
}
