// Developer tool: verifies every pair of the 80 FVC2002 DB1 set B impressions (3,160 pairs:
// 280 mates, 2,880 impostors) through the public matcher, one finger per record at slot 0
// with rotation limits of 180 degrees, and prints the equal error rate with the score
// distributions. Usage: verify_eer (data from ZF_DATA or ../shared/data).

#include "interface/ZelvanFinger.h"
#include "tests/support/real_records.h"

#include <algorithm>
#include <cstdio>
#include <vector>

int main()
{
    std::vector<const zftest::Template*> prints;
    std::vector<int> owner;
    for (int f = 101; f <= 110; ++f) {
        for (int i = 1; i <= 8; ++i) {
            prints.push_back(&zftest::FvcTemplate(f, i));
            owner.push_back(f);
            if (prints.back()->empty()) {
                std::fprintf(stderr, "no template for %d_%d\n", f, i);
                return 1;
            }
        }
    }
    ZelvanFinger::Matcher* m = ZelvanFinger::Matcher::create();
    if (m == nullptr) {
        return 1;
    }
    ZelvanFinger::MatchingParameters params = {0, 180, 180, 0};
    std::vector<double> mates;
    std::vector<double> impostors;
    for (std::size_t a = 0; a < prints.size(); ++a) {
        for (std::size_t b = a + 1; b < prints.size(); ++b) {
            TpTemplate pa = {};
            TpTemplate pb = {};
            pa.finger[0] = const_cast<unsigned char*>(prints[a]->data());
            pb.finger[0] = const_cast<unsigned char*>(prints[b]->data());
            double score = 0;
            const int r = m->verify_record(params, pa, pb, score);
            if (r != 0) {
                std::fprintf(stderr, "pair %zu %zu: code %d\n", a, b, r);
            }
            (owner[a] == owner[b] ? mates : impostors).push_back(score);
        }
    }
    ZelvanFinger::Matcher::cancel(m);
    // Equal error rate: the threshold where the false non-match rate (mates below it) meets the
    // false match rate (impostors at or above it).
    std::vector<double> thresholds = mates;
    thresholds.insert(thresholds.end(), impostors.begin(), impostors.end());
    thresholds.push_back(2.0);
    std::sort(thresholds.begin(), thresholds.end());
    double bestGap = 2;
    double eer = 1;
    double at = 0;
    for (double t : thresholds) {
        const double fnmr = static_cast<double>(std::count_if(mates.begin(), mates.end(),
                                                              [t](double s) { return s < t; })) /
                            static_cast<double>(mates.size());
        const double fmr = static_cast<double>(std::count_if(impostors.begin(), impostors.end(),
                                                             [t](double s) { return s >= t; })) /
                           static_cast<double>(impostors.size());
        const double gap = fnmr > fmr ? fnmr - fmr : fmr - fnmr;
        if (gap < bestGap) {
            bestGap = gap;
            eer = (fnmr + fmr) / 2;
            at = t;
        }
    }
    std::sort(mates.begin(), mates.end());
    std::sort(impostors.begin(), impostors.end());
    std::printf("pairs: %zu mates, %zu impostors\n", mates.size(), impostors.size());
    std::printf("mates: min %.4f median %.4f max %.4f\n", mates.front(), mates[mates.size() / 2],
                mates.back());
    std::printf("impostors: min %.4f median %.4f max %.4f\n", impostors.front(),
                impostors[impostors.size() / 2], impostors.back());
    std::printf("EER %.2f %% at score %.4f\n", 100 * eer, at);
    return 0;
}
