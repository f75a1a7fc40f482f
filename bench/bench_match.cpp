// 1:1 finger comparisons per second on one core over the FVC2002 set B protocol (280 genuine
// and 2,880 impostor pairs of a set, the lower file name as probe): the probe is loaded once
// per run of pairs that share it, each gallery print is loaded and matched (speed 0,
// rotation limit 180). A second benchmark measures the loading of the gallery side alone.

#include "matching/Matcher100.h"
#include "tests/support/fvc_sets.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using accelMatch::FP_PLAIN;
using accelMatch::Matcher100;
using accelMatch::MatchResult;

std::vector<std::vector<unsigned char>> SetTemplates(const std::string& set)
{
    std::vector<std::vector<unsigned char>> t;
    for (int i = 0; i < zftest::FVC_FINGERS * zftest::FVC_IMPRESSIONS; ++i) {
        t.push_back(zftest::FvcSetTemplate(set, zftest::FVC_FIRST_FINGER + i / 8, 1 + i % 8));
        if (t.back().empty()) {
            return {};
        }
    }
    return t;
}

void Comparisons(benchmark::State& state, const std::string& set, bool matchToo)
{
    std::vector<std::vector<unsigned char>> t = SetTemplates(set);
    if (t.empty()) {
        state.SkipWithError("shared FVC2002 prints absent");
        return;
    }
    accelMatch::setDefaultTransitionMatrix();
    auto m = std::make_unique<Matcher100>();
    const std::vector<zftest::FvcPair> pairs = zftest::FvcPairs();
    std::size_t k = 0;
    int loadedP = -1;
    long long sum = 0;
    for (auto _ : state) {
        const zftest::FvcPair& pair = pairs[k];
        if (pair.probe != loadedP) {
            m->loadTemplate(true, t[static_cast<std::size_t>(pair.probe)].data(), FP_PLAIN, nullptr,
                            0, 0);
            loadedP = pair.probe;
        }
        m->loadTemplate(false, t[static_cast<std::size_t>(pair.gallery)].data(), FP_PLAIN, nullptr,
                        0, 0);
        if (matchToo) {
            MatchResult r;
            m->match(r, 180, 0, false, nullptr, nullptr, 0, false);
            sum += r.score;
        }
        k = (k + 1) % pairs.size();
    }
    benchmark::DoNotOptimize(sum);
    state.counters["per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_MatchDb1(benchmark::State& state)
{
    Comparisons(state, "fvc2002_db1_b", true);
}
void BM_MatchDb3(benchmark::State& state)
{
    Comparisons(state, "fvc2002_db3_b", true);
}
void BM_LoadGalleryDb1(benchmark::State& state)
{
    Comparisons(state, "fvc2002_db1_b", false);
}

BENCHMARK(BM_MatchDb1)->Iterations(3160)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MatchDb3)->Iterations(3160)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadGalleryDb1)->Iterations(3160)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
