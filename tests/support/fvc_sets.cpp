// FVC2002 set B protocol: templates through the public creator, pairs, error rates.

#include "tests/support/fvc_sets.h"

#include "tests/support/data_path.h"

#include <algorithm>
#include <map>

namespace zftest {

const Template& FvcSetTemplate(const std::string& set, int finger, int impression)
{
    static std::map<std::string, Template> made;
    const std::string name = std::to_string(finger) + "_" + std::to_string(impression);
    const std::string key = set + "/" + name;
    auto it = made.find(key);
    if (it == made.end()) {
        const std::string path = SharedData("fingerprints/" + set + "/" + name + ".pgm");
        it = made.emplace(key, path.empty() ? Template{} : TemplateFromPgm(path, 1)).first;
    }
    return it->second;
}

std::vector<FvcPair> FvcPairs()
{
    std::vector<FvcPair> pairs;
    const int n = FVC_FINGERS * FVC_IMPRESSIONS;
    for (int p = 0; p < n; ++p) {
        for (int g = p + 1; g < n; ++g) {
            pairs.push_back({p, g, p / FVC_IMPRESSIONS == g / FVC_IMPRESSIONS});
        }
    }
    return pairs;
}

namespace {

// Percent of scores >= t (false match rate) and below t (false non-match rate).
double RateAtOrAbove(const std::vector<int>& sorted, int t)
{
    const auto it = std::lower_bound(sorted.begin(), sorted.end(), t);
    return 100.0 * static_cast<double>(sorted.end() - it) / static_cast<double>(sorted.size());
}

} // namespace

ErrorRates ComputeErrorRates(const std::vector<int>& genuine, const std::vector<int>& impostor)
{
    ErrorRates r = {100.0, 100.0, 100.0, 100.0};
    if (genuine.empty() || impostor.empty()) {
        return r;
    }
    std::vector<int> gen = genuine;
    std::vector<int> imp = impostor;
    std::sort(gen.begin(), gen.end());
    std::sort(imp.begin(), imp.end());
    const int top = std::max(gen.back(), imp.back()) + 1;
    auto fmr = [&](int t) { return RateAtOrAbove(imp, t); };
    auto fnmr = [&](int t) { return 100.0 - RateAtOrAbove(gen, t); };
    // Equal error rate: t1 the largest threshold with FNMR <= FMR, t2 the smallest with
    // FNMR >= FMR; the interval of the closer one, and its middle.
    int t1 = 0;
    int t2 = top;
    for (int t = 0; t <= top; ++t) {
        if (fnmr(t) <= fmr(t)) {
            t1 = t;
        }
    }
    for (int t = top; t >= 0; --t) {
        if (fnmr(t) >= fmr(t)) {
            t2 = t;
        }
    }
    if (fnmr(t1) + fmr(t1) <= fmr(t2) + fnmr(t2)) {
        r.eer = (fnmr(t1) + fmr(t1)) / 2.0;
    } else {
        r.eer = (fmr(t2) + fnmr(t2)) / 2.0;
    }
    for (int t = 0; t <= top; ++t) {
        const double a = fmr(t);
        const double b = fnmr(t);
        if (a <= 1.0) {
            r.fmr100 = std::min(r.fmr100, b);
        }
        if (a <= 0.1) {
            r.fmr1000 = std::min(r.fmr1000, b);
        }
        if (a == 0.0) {
            r.zeroFmr = std::min(r.zeroFmr, b);
        }
    }
    return r;
}

} // namespace zftest
