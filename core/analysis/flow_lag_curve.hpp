// The flow lag estimator's cost curve (flow_lag.cpp): the pairs' losses summed per shift and
// per block of pairs, and the judgement of its minimum (the .cpp also weighs the flow and
// moisture estimates together: agreeLags).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

#include "analysis/flow_lag.hpp"

namespace vornakite::analysis::flowlag {

// Blocks of pairs for the jackknife.
constexpr std::size_t kBlocks = 10;

// The losses summed per shift over all pairs and per block of consecutive pairs (anchors a few
// passes apart), for the cost curve and its jackknife. A loss is the squared mismatch clipped at
// 4x the median mismatch, so that a spike or a value of another field weighs no more than a few
// ordinary pairs.
struct Curves {
    std::size_t shifts = 0;
    std::vector<double> sum, count;            // [k]
    std::vector<double> blockSum, blockCount;  // [g * shifts + k]

    Curves(const std::vector<float>& r, std::size_t shiftCount, double clip) : shifts(shiftCount) {
        const std::size_t pairs = r.size() / shifts;
        sum.assign(shifts, 0.0);
        count.assign(shifts, 0.0);
        blockSum.assign(kBlocks * shifts, 0.0);
        blockCount.assign(kBlocks * shifts, 0.0);
        for (std::size_t p = 0; p < pairs; ++p) {
            const std::size_t g = p * kBlocks / pairs;
            for (std::size_t k = 0; k < shifts; ++k) {
                const double v = r[p * shifts + k];
                if (!std::isnan(v)) {
                    const double c = std::min(v, clip);
                    blockSum[g * shifts + k] += c * c;
                    blockCount[g * shifts + k] += 1.0;
                }
            }
        }
        for (std::size_t g = 0; g < kBlocks; ++g) {
            for (std::size_t k = 0; k < shifts; ++k) {
                sum[k] += blockSum[g * shifts + k];
                count[k] += blockCount[g * shifts + k];
            }
        }
    }

    // The mean loss per shift over every pair but those of block `without` (none: kBlocks).
    std::vector<double> curve(std::size_t without = kBlocks) const {
        std::vector<double> c(shifts, std::numeric_limits<double>::quiet_NaN());
        for (std::size_t k = 0; k < shifts; ++k) {
            const std::size_t b = without * shifts + k;
            const double m = count[k] - (without < kBlocks ? blockCount[b] : 0.0);
            if (m > 0.0) {
                c[k] = (sum[k] - (without < kBlocks ? blockSum[b] : 0.0)) / m;
            }
        }
        return c;
    }
};

// (median - c[k]) / median over the finite costs.
double depthAt(const std::vector<double>& c, std::size_t k);

// Finds the minimum: the vertex of a parabola fitted over `fit` shifts either side of the lowest
// cost, its uncertainty by a jackknife over the blocks of pairs, and judges it against the depth
// `chance` gives.
void judge(FlowLagEstimate& e, const Curves& curves, double chance, std::size_t fit);

}  // namespace vornakite::analysis::flowlag
