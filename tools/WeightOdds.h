// Exact odds of the plug-in's weighted draws.
//
// Every weighted choice in the rule systems takes w = RandomFloat(1), one of
// 32768 evenly spaced values k / 32768, walks the candidate rows adding their
// weights to a single-precision running sum, and takes the first row whose
// sum is greater than w. Replaying that walk for all 32768 values gives the
// exact chance of every row and of a draw that finds nothing, including the
// effects of float rounding, weights past a sum of 1 and negative weights.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tools {

constexpr int kDrawValues = 32768;

struct DrawOdds {
    std::vector<int> hits;  // per row: how many of the 32768 draw values take it
    int misses = 0;         // draw values that take no row
    float sum = 0.0f;       // the single-precision sum of all weights, in row order

    double Chance(size_t row) const { return double(hits[row]) / kDrawValues; }
    double MissChance() const { return double(misses) / kDrawValues; }
};

DrawOdds ComputeDrawOdds(const std::vector<float>& weights);

// The draw value for the raw 15-bit generator output r, exactly as the
// plug-in computes RandomFloat(1).
inline float DrawValue(int r) {
    return (float(r) * 3.0517578125e-05f) * 1.0f;
}

}  // namespace tools
