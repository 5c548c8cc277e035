#include "write/background_writer.hpp"

#include <system_error>

namespace vornakite {

BackgroundWriter::~BackgroundWriter() {
    stop(false);
}

void BackgroundWriter::addPoints(std::span<const YieldPoint> points) {
    if (!thread_.joinable()) {
        if (passedThrough_ < kStartAfterPoints || alone_) {
            passedThrough_ += points.size();
            target_.addPoints(points);
            return;
        }
        try {
            thread_ = std::thread([this] { run(); });
        } catch (const std::system_error&) {
            alone_ = true;  // no thread to be had (no room for its stack): written here
            target_.addPoints(points);
            return;
        }
        queue_.resize(kQueuedPieces);
        filling_.reserve(kPiecePoints);
    }
    filling_.insert(filling_.end(), points.begin(), points.end());
    if (filling_.size() >= kPiecePoints) {
        handOver();
    }
}

void BackgroundWriter::handOver() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return count_ < kQueuedPieces; });
    if (failure_) {
        filling_.clear();
        return;  // the writer has given up; finish reports why
    }
    // The free slot's storage becomes the next piece to fill, so nothing is allocated again.
    queue_[(head_ + count_) % kQueuedPieces].swap(filling_);
    filling_.clear();
    ++count_;
    lock.unlock();
    changed_.notify_all();
}

void BackgroundWriter::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return count_ > 0 || closing_; });
        if (count_ == 0 || dropping_) {
            return;
        }
        // The piece stays in its slot while it is written: the reader fills other slots.
        std::vector<YieldPoint>& piece = queue_[head_];
        lock.unlock();
        try {
            target_.addPoints(piece);
        } catch (...) {
            lock.lock();
            failure_ = std::current_exception();
            dropping_ = true;
            count_ = 0;
            changed_.notify_all();
            return;
        }
        lock.lock();
        head_ = (head_ + 1) % kQueuedPieces;
        --count_;
        changed_.notify_all();
    }
}

void BackgroundWriter::stop(bool drain) {
    if (!thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        dropping_ = !drain;
    }
    changed_.notify_all();
    thread_.join();
}

void BackgroundWriter::finish() {
    if (thread_.joinable() && !filling_.empty()) {
        handOver();
    }
    stop(true);
    // The pieces' room goes now: the analysis of a long log comes next.
    std::vector<YieldPoint>().swap(filling_);
    std::vector<std::vector<YieldPoint>>().swap(queue_);
    if (failure_) {
        std::rethrow_exception(failure_);
    }
}

}  // namespace vornakite
