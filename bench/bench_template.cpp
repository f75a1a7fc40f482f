// Template creation per FVC2002 DB1 image (388 x 374) on one core: the public creator over all
// 80 images in turn, and the same run split into the engine's stages (mean milliseconds per
// image of each stage as counters) to show where the time goes.

#include "extraction/engine/Codex.h"
#include "extraction/processing.h"
#include "interface/ZelvanFinger.h"
#include "records/TemplateFormat.h"

#include <benchmark/benchmark.h>
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Image {
    int w = 0;
    int h = 0;
    std::vector<unsigned char> px;
};

// The FVC images as grey pixels (binary PGM with a plain three-number header).
const std::vector<Image>& Images()
{
    static std::vector<Image> images = [] {
        std::vector<Image> out;
        const char* env = std::getenv("ZF_DATA");
        const std::string dir =
            (env != nullptr && *env != 0 ? std::string(env)
                                         : std::string(ZF_SOURCE_DIR) + "/../shared/data") +
            "/fingerprints/fvc2002_db1_b";
        std::vector<std::string> names;
        if (DIR* d = opendir(dir.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n.size() > 4 && n.compare(n.size() - 4, 4, ".pgm") == 0) {
                    names.push_back(dir + "/" + n);
                }
            }
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) {
            std::ifstream f(n, std::ios::binary);
            std::string magic;
            Image img;
            int maxval = 0;
            f >> magic >> img.w >> img.h >> maxval;
            f.get();
            img.px.resize(static_cast<std::size_t>(img.w) * img.h);
            f.read(reinterpret_cast<char*>(img.px.data()), static_cast<long>(img.px.size()));
            if (magic == "P5" && maxval == 255 && f) {
                out.push_back(std::move(img));
            }
        }
        return out;
    }();
    return images;
}

void BM_CreateTemplate(benchmark::State& state)
{
    const std::vector<Image>& images = Images();
    if (images.empty()) {
        state.SkipWithError("FVC images not found (set ZF_DATA)");
        return;
    }
    ZelvanFinger::TemplateCreator* creator = ZelvanFinger::TemplateCreator::create();
    std::size_t k = 0;
    for (auto _ : state) {
        Image img = images[k++ % images.size()];
        ZelvanFinger::RawImage raw{2, img.w, img.h, img.px.data()};
        unsigned size = 0;
        unsigned char quality = 0;
        if (creator->createTemplate(raw, size, quality) != 0) {
            state.SkipWithError("creation failed");
            break;
        }
        benchmark::DoNotOptimize(size);
    }
    ZelvanFinger::TemplateCreator::cancel(creator);
}
BENCHMARK(BM_CreateTemplate)->Unit(benchmark::kMillisecond);

// The engine run of the driver, one stage at a time; each counter is the mean milliseconds per
// image of one stage (its predecessors have run, so each call does its own work only).
void BM_StageTimes(benchmark::State& state)
{
    const std::vector<Image>& images = Images();
    if (images.empty()) {
        state.SkipWithError("FVC images not found (set ZF_DATA)");
        return;
    }
    using wizard73::Codex;
    struct Step {
        const char* name;
        void (*run)(Codex&);
    };
    static const Step steps[] = {
        {"02_lightf", [](Codex& e) { e.Lightf(-1); }},
        {"03_stream", [](Codex& e) { e.Stream(-1); }},
        {"04_cohere", [](Codex& e) { e.Cohere(-1); }},
        {"05_pickup", [](Codex& e) { e.Pickup(-1); }},
        {"06_ifocus", [](Codex& e) { e.Ifocus(1); }},
        {"07_respon", [](Codex& e) { e.Respon(1); }},
        {"08_xfocus", [](Codex& e) { e.Xfocus(1); }},
        {"10_attrac", [](Codex& e) { e.Attrac(1); }},
        {"11_swells", [](Codex& e) { e.Swells(1); }},
        {"12_flower", [](Codex& e) { e.Flower(1); }},
        {"13_curvat", [](Codex& e) { e.Curvat(1); }},
        {"14_furiew", [](Codex& e) { e.Furiew(1); }},
        {"15_harmon", [](Codex& e) { e.Harmon(1); }},
        {"16_expert", [](Codex& e) { e.Expert(1); }},
        {"17_laying", [](Codex& e) { e.Laying(1); }},
        {"18_filter", [](Codex& e) { e.Filter(-1); }},
        {"19_skelet", [](Codex& e) { e.Skelet(-1); }},
        {"20_minuti", [](Codex& e) { e.Minuti(-1); }},
        {"21_linker", [](Codex& e) { e.Linker(-1); }},
        {"22_epilog", [](Codex& e) { e.Epilog(-1); }},
    };
    constexpr std::size_t N = sizeof steps / sizeof steps[0];
    double total[N + 1] = {};
    auto engine = std::make_unique<Codex>();
    std::size_t k = 0;
    std::size_t runs = 0;
    for (auto _ : state) {
        const Image& img = images[k++ % images.size()];
        wizard73::SData s{};
        s.kind = TF_DEFAULT_KIND;
        s.width = static_cast<std::uint16_t>(img.w);
        s.height = static_cast<std::uint16_t>(img.h);
        s.xres = TF_DEFAULT_PPI;
        s.yres = TF_DEFAULT_PPI;
        s.links = TF_DEFAULT_LINKNO;
        s.pixels = img.px.data();
        s.check = IpCheckValue(img.px.data(), img.px.size());
        auto t0 = std::chrono::steady_clock::now();
        engine->Reset();
        if (engine->Loader(s, wizard73::pyr[2], false) != 0) {
            state.SkipWithError("load failed");
            break;
        }
        auto t1 = std::chrono::steady_clock::now();
        total[0] += std::chrono::duration<double, std::milli>(t1 - t0).count();
        for (std::size_t i = 0; i < N; ++i) {
            t0 = std::chrono::steady_clock::now();
            steps[i].run(*engine);
            t1 = std::chrono::steady_clock::now();
            total[i + 1] += std::chrono::duration<double, std::milli>(t1 - t0).count();
        }
        ++runs;
    }
    if (runs > 0) {
        state.counters["00_loader_ms"] = total[0] / static_cast<double>(runs);
        for (std::size_t i = 0; i < N; ++i) {
            state.counters[std::string(steps[i].name) + "_ms"] =
                total[i + 1] / static_cast<double>(runs);
        }
    }
}
BENCHMARK(BM_StageTimes)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
