// Writing on a thread of its own: the points of a large log are handed over in pieces to a
// second thread that formats and writes them, while the first reads and converts the next. A
// small log never starts the thread (that would cost more than it saves), and its points go
// straight through.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "model/yield_point.hpp"

namespace vornakite {

class BackgroundWriter : public PointSink {
  public:
    // Points are handed over in pieces of this many (fewer hand-overs, each a lock and a wake-up,
    // cost less), at most kQueuedPieces at once.
    static constexpr std::size_t kPiecePoints = 8192;
    static constexpr std::size_t kQueuedPieces = 4;
    // Points that pass straight through before the thread starts.
    static constexpr std::size_t kStartAfterPoints = 32768;

    explicit BackgroundWriter(PointSink& target) : target_(target) {}
    // Stops the thread; points still queued are dropped (the conversion failed or was stopped).
    ~BackgroundWriter() override;
    BackgroundWriter(const BackgroundWriter&) = delete;
    BackgroundWriter& operator=(const BackgroundWriter&) = delete;

    void addPoints(std::span<const YieldPoint> points) override;
    // Waits until every point handed over has reached the target, and stops the thread; throws
    // what the target threw on the thread.
    void finish();

  private:
    void run();
    void handOver();
    void stop(bool drain);

    PointSink& target_;
    std::size_t passedThrough_ = 0;
    bool alone_ = false;  // no thread could be started: every point passes straight through
    std::vector<YieldPoint> filling_;  // the piece being filled, not yet handed over
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<YieldPoint>> queue_;  // a ring of kQueuedPieces pieces
    std::size_t head_ = 0;                        // the next piece to write
    std::size_t count_ = 0;                       // pieces queued
    bool closing_ = false;
    bool dropping_ = false;
    std::exception_ptr failure_;
};

}  // namespace vornakite
