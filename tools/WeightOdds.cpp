// Exact odds of the plug-in's weighted draws over every float the draw can take.
#include "WeightOdds.h"

namespace tools {

DrawOdds ComputeDrawOdds(const std::vector<float>& weights) {
    DrawOdds odds;
    odds.hits.assign(weights.size(), 0);
    for (float weight : weights) odds.sum += weight;
    // Running sums are the same for every draw value, so compute them once.
    std::vector<float> running(weights.size());
    float sum = 0.0f;
    for (size_t i = 0; i < weights.size(); ++i) {
        sum += weights[i];
        running[i] = sum;
    }
    for (int r = 0; r < kDrawValues; ++r) {
        const float w = DrawValue(r);
        bool taken = false;
        for (size_t i = 0; i < running.size(); ++i) {
            if (running[i] > w) {
                ++odds.hits[i];
                taken = true;
                break;
            }
        }
        if (!taken) ++odds.misses;
    }
    return odds;
}

}  // namespace tools
