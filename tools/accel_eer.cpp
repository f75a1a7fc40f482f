// Developer tool: equal error rate of the accelerator's finger comparison over FVC2002 DB1
// set B: every pair of impressions of the same finger (genuine) and every pair of impressions
// of different fingers (impostor), each compared as one-finger accelerator records.
// Prints the pair counts, the score ranges and the EER.

#include "search/AccelLib.h"
#include "tests/support/real_records.h"

#include <algorithm>
#include <cstdio>
#include <vector>

int main()
{
    std::vector<zftest::Template> t;
    std::vector<int> finger;
    for (int f = 101; f <= 110; ++f) {
        for (int i = 1; i <= 8; ++i) {
            t.push_back(zftest::FvcTemplate(f, i));
            finger.push_back(f);
            if (t.back().empty()) {
                std::printf("FVC2002 DB1 set B images are absent\n");
                return 1;
            }
        }
    }
    void* handle = nullptr;
    unsigned threads = 1;
    if (accelMatch::initAccelLib(&handle, threads) != 0) {
        return 1;
    }
    const std::size_t n = t.size();
    std::vector<std::vector<unsigned char>> accel(n);
    for (std::size_t i = 0; i < n; ++i) {
        TpTemplate r{};
        r.finger[0] = t[i].data();
        accel[i].resize(accelMatch::getMaximumAccelSize(10));
        unsigned size = 0;
        accelMatch::calcAccel(handle, r, accel[i].data(), size, nullptr);
    }
    accelMatch::AccelSearchParam sp{0, 180, 180, -1, 0, 0, 5, 0, 0, 0, 10000};
    std::vector<int> genuine;
    std::vector<int> impostor;
    for (std::size_t i = 0; i < n; ++i) {
        TpTemplate probe{};
        probe.finger[0] = t[i].data();
        accelMatch::loadAccelTP(handle, probe, nullptr);
        for (std::size_t j = i + 1; j < n; ++j) {
            accelMatch::MatchResultTT r;
            accelMatch::compareAccelTP(handle, sp, accel[j].data(), 0, r);
            (finger[i] == finger[j] ? genuine : impostor).push_back(r.fingerScore[0]);
        }
    }
    accelMatch::closeAccelLib(&handle);
    // EER: the threshold where the false reject and false accept rates cross.
    double best = 1.0;
    int at = 0;
    for (int th = 0; th <= 10001; th += 10) {
        const double frr = static_cast<double>(std::count_if(genuine.begin(), genuine.end(),
                                                             [&](int s) { return s < th; })) /
                           genuine.size();
        const double far = static_cast<double>(std::count_if(impostor.begin(), impostor.end(),
                                                             [&](int s) { return s >= th; })) /
                           impostor.size();
        const double gap = std::max(frr, far);
        if (gap < best) {
            best = gap;
            at = th;
        }
    }
    std::sort(genuine.begin(), genuine.end());
    std::sort(impostor.begin(), impostor.end());
    std::printf("genuine %zu (median %d), impostor %zu (median %d): EER %.2f%% at %d\n",
                genuine.size(), genuine[genuine.size() / 2], impostor.size(),
                impostor[impostor.size() / 2], 100.0 * best, at);
    return 0;
}
