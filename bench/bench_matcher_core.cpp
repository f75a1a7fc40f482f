// The finger matcher's core on one FVC2002 DB1 pair (101_1 as probe, 101_2 and 102_1 as
// galleries), one core: loading a gallery side (validation, decoding, pair lengths, nest
// signatures) and picking the starting nest pairs (signature pass over all nest pairs, full
// comparison of the best, seed set). The 1:1 goal of 20,000 comparisons per second and core
// leaves 50 us for a whole comparison.

#include "matching/Matcher100.h"
#include "tests/support/fvc_sets.h"
#include "tests/support/nest_selection.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using accelMatch::Matcher100;

struct Pair {
    zftest::Template probe;
    zftest::Template gallery;
};

const Pair& FvcPair(bool genuine)
{
    static const Pair mated{zftest::FvcSetTemplate("fvc2002_db1_b", 101, 1),
                            zftest::FvcSetTemplate("fvc2002_db1_b", 101, 2)};
    static const Pair other{zftest::FvcSetTemplate("fvc2002_db1_b", 101, 1),
                            zftest::FvcSetTemplate("fvc2002_db1_b", 102, 1)};
    return genuine ? mated : other;
}

std::unique_ptr<Matcher100> Loaded(const Pair& pair)
{
    accelMatch::setDefaultTransitionMatrix();
    auto m = std::make_unique<Matcher100>();
    zftest::Template p = pair.probe;
    zftest::Template g = pair.gallery;
    if (m->loadTemplate(true, p.data(), accelMatch::FP_PLAIN, nullptr, 0, 0) != 0 ||
        m->loadTemplate(false, g.data(), accelMatch::FP_PLAIN, nullptr, 0, 0) != 0) {
        return nullptr;
    }
    return m;
}

void BM_LoadGallery(benchmark::State& state)
{
    const Pair& pair = FvcPair(state.range(0) != 0);
    auto m = Loaded(pair);
    if (m == nullptr) {
        state.SkipWithError("shared FVC2002 data absent or not loadable");
        return;
    }
    zftest::Template g = pair.gallery;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            m->loadTemplate(false, g.data(), accelMatch::FP_PLAIN, nullptr, 0, 0));
    }
    state.counters["minutiae"] = m->m_numNestG;
}

void BM_NestSelection(benchmark::State& state)
{
    auto m = Loaded(FvcPair(state.range(0) != 0));
    if (m == nullptr) {
        state.SkipWithError("shared FVC2002 data absent or not loadable");
        return;
    }
    for (auto _ : state) {
        zftest::ChooseSeeds(*m);
        benchmark::DoNotOptimize(m->m_nestVirtSizeSet.m_numItems);
    }
    state.counters["best_nests"] = m->m_numBestNests;
    state.counters["seeds"] = m->m_nestVirtSizeSet.m_numItems;
}

BENCHMARK(BM_LoadGallery)->ArgName("mated")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NestSelection)->ArgName("mated")->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
