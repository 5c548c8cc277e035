// Sharing a long log's work with a second core: two tasks side by side, a loop over [0, n) run
// as two halves on two threads, and a thinned sample collected that way. Short logs run in one
// piece on the calling thread.
#pragma once

#include <cstddef>
#include <exception>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "analysis/robust.hpp"

namespace vornakite::analysis {

// Work on tracks of at least this many points is shared with a second thread.
inline constexpr std::size_t kParallelPoints = 1u << 16;

// Runs mine() on the calling thread and theirs() on a second one (in turn when no thread is to
// be had); both are done when this returns. Neither may depend on the other's results.
template <class Mine, class Theirs>
void sideBySide(Mine&& mine, Theirs&& theirs) {
    std::exception_ptr failure;
    std::thread helper;
    struct Joiner {
        std::thread& thread;
        ~Joiner() {
            if (thread.joinable()) {
                thread.join();
            }
        }
    };
    {
        const Joiner joiner{helper};
        try {
            helper = std::thread([&] {
                try {
                    theirs();
                } catch (...) {
                    failure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            theirs();  // no thread to be had: in turn
        }
        mine();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// Runs work(from, to, half) over [0, n): as two halves on two threads when n is large, so that
// a long log's work is shared with a second core. The halves' results must not depend on each
// other.
template <class Work>
void inHalves(std::size_t n, Work&& work) {
    if (n < kParallelPoints) {
        work(std::size_t{0}, n, 0);
        return;
    }
    sideBySide([&] { work(std::size_t{0}, n / 2, 0); }, [&] { work(n / 2, n, 1); });
}

// collectSample(n, keep, value), counted and collected in halves as inHalves() does.
template <class Keep, class Value>
std::vector<double> collectSampleInHalves(std::size_t n, Keep keep, Value value) {
    std::size_t counts[2] = {0, 0};
    inHalves(n, [&](std::size_t from, std::size_t to, int half) {
        std::size_t count = 0;
        for (std::size_t i = from; i < to; ++i) {
            count += keep(i) ? 1u : 0u;
        }
        counts[half] = count;
    });
    const std::size_t count = counts[0] + counts[1];
    const std::size_t stride = count > kStatisticsSample ? count / kStatisticsSample + 1 : 1;
    std::vector<double> halves[2];
    inHalves(n, [&](std::size_t from, std::size_t to, int half) {
        // The second half goes on counting where the first one ends.
        std::size_t seen = half == 0 ? 0 : counts[0];
        std::size_t next = (seen + stride - 1) / stride * stride;
        std::vector<double>& out = halves[half];
        out.reserve(counts[half] / stride + 1);
        for (std::size_t i = from; i < to; ++i) {
            if (keep(i)) {
                if (seen == next) {
                    out.push_back(value(i));
                    next += stride;
                }
                ++seen;
            }
        }
    });
    halves[0].insert(halves[0].end(), halves[1].begin(), halves[1].end());
    return std::move(halves[0]);
}

}  // namespace vornakite::analysis
