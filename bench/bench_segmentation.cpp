// Speed of single-finger segmentation (FSeg, kind 0) on a 388 x 374 FVC2002 print at 500 dpi,
// the call that every template creation makes. Skipped when the shared images are absent.

#include "segmentation/FSeg.h"

#include <benchmark/benchmark.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Pixels of an 8-bit binary PGM; empty when the file is missing or of another kind.
std::vector<unsigned char> ReadPgm(const std::string& path, unsigned& w, unsigned& h)
{
    std::ifstream f(path, std::ios::binary);
    std::string magic;
    unsigned maxval = 0;
    if (!(f >> magic >> w >> h >> maxval) || magic != "P5" || maxval != 255) {
        return {};
    }
    f.get();
    std::vector<unsigned char> pixels(static_cast<std::size_t>(w) * h);
    if (!f.read(reinterpret_cast<char*>(pixels.data()),
                static_cast<std::streamsize>(pixels.size()))) {
        return {};
    }
    return pixels;
}

std::string DataRoot()
{
    const char* env = std::getenv("ZF_DATA");
    return env != nullptr && *env != '\0' ? std::string(env)
                                          : std::string(ZF_SOURCE_DIR) + "/../shared/data";
}

void BM_FSegSingleFinger(benchmark::State& state)
{
    unsigned w = 0;
    unsigned h = 0;
    std::vector<unsigned char> img =
        ReadPgm(DataRoot() + "/fingerprints/fvc2002_db1_b/101_1.pgm", w, h);
    if (img.empty()) {
        state.SkipWithError("shared fingerprint images not found (set ZF_DATA)");
        return;
    }
    for (auto _ : state) {
        SgmRect rects[2];
        unsigned count = 2;
        const int result = FSeg(img.data(), nullptr, w, h, 500, SGM_TYPE_FINGER, SGM_HAND_UNKNOWN,
                                NIST_IMP_UNKNOWN, false, nullptr, 0, rects, count);
        if (result != SGM_FOUND) {
            state.SkipWithError("no finger found");
            break;
        }
        benchmark::DoNotOptimize(rects);
    }
    state.counters["images/s"] =
        benchmark::Counter(1.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_FSegSingleFinger)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
