// Verification through the public matcher on one core: the NIST card's rolled ten-finger record
// against its plain one (positional mode), and one-finger records of FVC2002 DB1 set B (each
// impression 1 against impression 2 of the same finger, and against impression 1 of the next
// finger), as verifications per second.

#include "interface/ZelvanFinger.h"
#include "tests/support/real_records.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void Verify(benchmark::State& state, std::vector<std::pair<TpTemplate, TpTemplate>>& pairs)
{
    ZelvanFinger::Matcher* m = ZelvanFinger::Matcher::create();
    if (m == nullptr || pairs.empty()) {
        state.SkipWithError("no matcher or no records");
        ZelvanFinger::Matcher::cancel(m);
        return;
    }
    ZelvanFinger::MatchingParameters params = {0, 180, 180, 0};
    std::size_t k = 0;
    double sum = 0;
    for (auto _ : state) {
        double score = 0;
        m->verify_record(params, pairs[k].first, pairs[k].second, score);
        sum += score;
        k = (k + 1) % pairs.size();
    }
    benchmark::DoNotOptimize(sum);
    state.counters["verify_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    ZelvanFinger::Matcher::cancel(m);
}

void BM_VerifyNistTenFingers(benchmark::State& state)
{
    static zftest::RealRecord r = zftest::Rolled();
    static zftest::RealRecord s = zftest::Plain();
    std::vector<std::pair<TpTemplate, TpTemplate>> pairs;
    if (r.count() == 10 && s.count() == 10) {
        pairs.push_back({r.record(), s.record()});
    }
    Verify(state, pairs);
}
BENCHMARK(BM_VerifyNistTenFingers)->Unit(benchmark::kMillisecond);

void BM_VerifyFvcOneFinger(benchmark::State& state)
{
    std::vector<std::pair<TpTemplate, TpTemplate>> pairs;
    for (int f = 101; f <= 110; ++f) {
        const int next = f == 110 ? 101 : f + 1;
        zftest::Template& a = const_cast<zftest::Template&>(zftest::FvcTemplate(f, 1));
        zftest::Template& b = const_cast<zftest::Template&>(zftest::FvcTemplate(f, 2));
        zftest::Template& c = const_cast<zftest::Template&>(zftest::FvcTemplate(next, 1));
        if (a.empty() || b.empty() || c.empty()) {
            continue;
        }
        TpTemplate pa = {};
        TpTemplate pb = {};
        TpTemplate pc = {};
        pa.finger[0] = a.data();
        pb.finger[0] = b.data();
        pc.finger[0] = c.data();
        pairs.push_back({pa, pb});
        pairs.push_back({pa, pc});
    }
    Verify(state, pairs);
}
BENCHMARK(BM_VerifyFvcOneFinger)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
