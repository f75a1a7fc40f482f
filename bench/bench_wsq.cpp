// Decoding and encoding speed of the WSQ codec on two images of the NIST card in tests/data, in
// megapixels per second: the 804 x 752 single finger fp01 and the 1572 x 1000 slap fp13.

#include "wsq/Wsq.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> ReadWsq(const char* name)
{
    std::ifstream f(std::string(ZF_SOURCE_DIR) + "/tests/data/wsq/" + name, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(f),
                                      std::istreambuf_iterator<char>());
}

// Decodes the stream into `pixels`; returns the decoder's code.
int Decode(void* inst, std::vector<unsigned char>& data, std::vector<unsigned char>& pixels, int& w,
           int& h)
{
    const int size = static_cast<int>(data.size());
    const int guard = static_cast<int>(Wsq::wsqCheckSum(data.data(), size));
    if (wsq_decode(inst, nullptr, data.data(), size, &w, &h, guard) != WSQ_SIZE_QUERY) {
        return -1;
    }
    pixels.resize(static_cast<std::size_t>(w) * h);
    return wsq_decode(inst, pixels.data(), data.data(), size, &w, &h, guard);
}

void BM_WsqDecode(benchmark::State& state, const char* name)
{
    std::vector<unsigned char> data = ReadWsq(name);
    void* inst = init_instance();
    std::vector<unsigned char> pixels;
    int w = 0;
    int h = 0;
    for (auto _ : state) {
        if (Decode(inst, data, pixels, w, h) < 0) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    cancel_instance(inst);
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(w) * h * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK_CAPTURE(BM_WsqDecode, fp01, "fp01.wsq")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WsqDecode, fp13, "fp13.wsq")->Unit(benchmark::kMillisecond);

void BM_WsqEncode(benchmark::State& state, const char* name)
{
    std::vector<unsigned char> data = ReadWsq(name);
    void* inst = init_instance();
    std::vector<unsigned char> pixels;
    int w = 0;
    int h = 0;
    if (Decode(inst, data, pixels, w, h) < 0) {
        state.SkipWithError("decode failed");
        cancel_instance(inst);
        return;
    }
    std::vector<unsigned char> out(pixels.size());
    const int guard = static_cast<int>(Wsq::wsqCheckSum(pixels.data(), w * h));
    for (auto _ : state) {
        const int n = wsq_encode(inst, pixels.data(), out.data(), w, h, -0.75f, guard);
        if (n <= 0) {
            state.SkipWithError("encode failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    cancel_instance(inst);
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(w) * h * 1e-6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK_CAPTURE(BM_WsqEncode, fp01, "fp01.wsq")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WsqEncode, fp13, "fp13.wsq")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
