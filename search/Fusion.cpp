// Score fusion: the finger scores of a record comparison (0..10000 each, 0 = not compared or
// no match) into one record score 0..10000, by rank weights (method 0) or by a threshold
// average from the lowest (1) or the highest (2) scores. Integer arithmetic only.

#include "search/Compare100_TT.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <vector>

namespace accelMatch {
namespace {

// Rank weights in percent for 2, 3 and 4 or more counted comparisons.
constexpr int kWeights2[2] = {52, 48};
constexpr int kWeights3[3] = {45, 40, 15};
constexpr int kWeights4[4] = {30, 30, 30, 10};

int RankWeights(unsigned n, unsigned count, const int* scores)
{
    std::vector<int> sorted(scores, scores + n);
    std::sort(sorted.begin(), sorted.end(), std::greater<int>());
    if (count == 0 || n == 0) {
        return 0;
    }
    if (count == 1) {
        return sorted[0];
    }
    const int* weights = count == 2 ? kWeights2 : count == 3 ? kWeights3 : kWeights4;
    const unsigned weighted = std::min(count, 4u);
    std::int64_t sum = 0;
    for (unsigned i = 0; i < std::min(weighted, n); ++i) {
        sum += std::int64_t{weights[i]} * sorted[i] / 100;
    }
    return static_cast<int>(std::clamp<std::int64_t>(sum, INT32_MIN, 10000));
}

// Weighted average 8:4:2:1 of the first (up to four) picked scores.
int ThresholdAverage(const int* r, std::size_t k)
{
    static constexpr int kWeights[4] = {8, 4, 2, 1};
    static constexpr int kTotals[4] = {8, 12, 14, 15};
    const std::size_t used = std::min<std::size_t>(k, 4);
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < used; ++i) {
        sum += std::int64_t{kWeights[i]} * r[i];
    }
    return static_cast<int>(sum / kTotals[used - 1]);
}

int Threshold(const SearchParam& sp, unsigned n, unsigned count, const int* scores)
{
    // 1. The non-zero scores, then zeros up to count. Only the first four picked scores
    // count, so more than four zeros change nothing.
    std::vector<int> list;
    for (unsigned i = 0; i < n; ++i) {
        if (scores[i] != 0) {
            list.push_back(scores[i]);
        }
    }
    if (count > list.size()) {
        list.resize(list.size() + std::min<std::size_t>(count - list.size(), 4), 0);
    }
    if (list.empty()) {
        return 0;
    }
    // 2. The first non-empty band, in sorted order.
    std::vector<int> picked;
    const auto pick = [&](auto inBand) {
        picked.clear();
        for (int s : list) {
            if (inBand(s)) {
                picked.push_back(s);
            }
        }
        return !picked.empty();
    };
    if (sp.fusionMethod == 1) {
        std::sort(list.begin(), list.end());
        if (!pick([&](int s) { return s <= sp.lowScore; }) &&
            !pick([&](int s) { return s > sp.lowScore && s <= sp.highScore; })) {
            picked = list;
        }
    } else {
        std::sort(list.begin(), list.end(), std::greater<int>());
        if (!pick([&](int s) { return s >= sp.highScore; }) &&
            !pick([&](int s) { return s >= sp.lowScore && s < sp.highScore; })) {
            picked = list;
        }
    }
    // 3. 8:4:2:1.
    return ThresholdAverage(picked.data(), picked.size());
}

} // namespace

int Compare100_TT::calcFusionScore(SearchParam& sp, unsigned n, unsigned count, int* scores)
{
    if (scores == nullptr) {
        return MA_ERR_NULL;
    }
    switch (sp.fusionMethod) {
    case 0:
        return RankWeights(n, count, scores);
    case 1:
    case 2:
        return Threshold(sp, n, count, scores);
    default:
        return MA_ERR_SEARCH_PARAM;
    }
}

} // namespace accelMatch
