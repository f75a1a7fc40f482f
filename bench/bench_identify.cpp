// Identification through the public matcher on one core: 5,400 ten-finger records made from
// real templates (FVC2002 DB1 set B, the NIST card, MINEX) by strong seeded changes, searched
// with probes made from gallery records by light changes. Reports the time of one ten-finger
// search, the insertion time per record, how many of 20 probes rank their source first, and
// the coarse and final share of a search.

#include "interface/ZelvanFinger.h"
#include "search/AccelLib.h"
#include "tests/support/perturbed_records.h"
#include "tests/support/real_records.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <list>
#include <string>
#include <vector>

namespace {

constexpr int kRecords = 5400;

using Clock = std::chrono::steady_clock;

struct Gallery {
    std::vector<zftest::Template> sources;
    std::vector<std::vector<zftest::Template>> records; // ten per record
    ZelvanFinger::Matcher* m = nullptr;
    double insertMs = 0;
    int rank1 = 0;

    static TpTemplate Tp(std::vector<zftest::Template>& f)
    {
        TpTemplate t{};
        for (int k = 0; k < 10; ++k) {
            t.finger[k] = f[static_cast<std::size_t>(k)].empty()
                              ? nullptr
                              : f[static_cast<std::size_t>(k)].data();
        }
        return t;
    }

    Gallery()
    {
        for (int f = 101; f <= 110; ++f) {
            for (int i = 1; i <= 8; ++i) {
                sources.push_back(zftest::FvcTemplate(f, i));
            }
        }
        for (const zftest::RealRecord* r :
             {&zftest::Rolled(), &zftest::Plain(), &zftest::MinexOthers()}) {
            for (const zftest::Template& t : r->fingers) {
                if (!t.empty()) {
                    sources.push_back(t);
                }
            }
        }
        sources.erase(std::remove_if(sources.begin(), sources.end(),
                                     [](const zftest::Template& t) { return t.empty(); }),
                      sources.end());
        if (sources.empty()) {
            return;
        }
        m = ZelvanFinger::Matcher::create();
        records.resize(kRecords);
        double ms = 0;
        for (int r = 0; r < kRecords; ++r) {
            for (int k = 0; k < 10; ++k) {
                const std::uint32_t seed = static_cast<std::uint32_t>(r * 10 + k);
                records[static_cast<std::size_t>(r)].push_back(
                    zftest::Perturbed(sources[seed % sources.size()], seed, zftest::kNewIdentity));
            }
            TpTemplate t = Tp(records[static_cast<std::size_t>(r)]);
            std::string id = std::to_string(r);
            const auto t0 = Clock::now();
            m->insertRecord(id, t);
            ms += std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
        }
        insertMs = ms / kRecords;
        std::string extra = std::to_string(kRecords);
        TpTemplate t = Tp(records[0]);
        if (m->insertRecord(extra, t) != 23) {
            insertMs = -1; // capacity broken
        }
        ZelvanFinger::MatchingParameters p{0, 180, 180, 0};
        for (int i = 0; i < 20; ++i) {
            std::vector<zftest::Template> probe;
            const int source = i * 269 % kRecords;
            for (int k = 0; k < 10; ++k) {
                probe.push_back(zftest::Perturbed(
                    records[static_cast<std::size_t>(source)][static_cast<std::size_t>(k)],
                    static_cast<std::uint32_t>(1000000 + i * 10 + k), zftest::kNewImpression));
            }
            TpTemplate pt = Tp(probe);
            std::vector<ZelvanFinger::candidates_string> c;
            m->identify_record(p, pt, 1, 10, c);
            rank1 += !c.empty() && c[0].id == std::to_string(source) ? 1 : 0;
        }
    }
    ~Gallery() { ZelvanFinger::Matcher::cancel(m); }
};

// Resident memory of the process in MiB (Linux), 0 when unknown.
double ResidentMiB()
{
    std::FILE* f = std::fopen("/proc/self/status", "r");
    double kb = 0;
    char line[256];
    while (f != nullptr && std::fgets(line, sizeof(line), f) != nullptr) {
        if (std::sscanf(line, "VmRSS: %lf kB", &kb) == 1) {
            break;
        }
    }
    if (f != nullptr) {
        std::fclose(f);
    }
    return kb / 1024.0;
}

Gallery& TheGallery()
{
    static Gallery g;
    return g;
}

void BM_IdentifyTenFingers(benchmark::State& state)
{
    Gallery& g = TheGallery();
    if (g.m == nullptr) {
        state.SkipWithError("no real templates");
        return;
    }
    std::vector<zftest::Template> probe;
    for (int k = 0; k < 10; ++k) {
        probe.push_back(zftest::Perturbed(g.records[7][static_cast<std::size_t>(k)],
                                          static_cast<std::uint32_t>(5000000 + k),
                                          zftest::kNewImpression));
    }
    TpTemplate pt = Gallery::Tp(probe);
    ZelvanFinger::MatchingParameters p{0, 180, 180, 0};
    std::vector<ZelvanFinger::candidates_string> c;
    for (auto _ : state) {
        g.m->identify_record(p, pt, 1, 10, c);
    }
    state.counters["first_is_source"] = !c.empty() && c[0].id == "7" ? 1 : 0;
    state.counters["insert_ms"] = g.insertMs;
    state.counters["rank1_of_20"] = g.rank1;
    state.counters["rss_MiB"] = ResidentMiB();
}
BENCHMARK(BM_IdentifyTenFingers)->Unit(benchmark::kMillisecond);

// The coarse stage alone over the same gallery, through the library.
void BM_CoarseStageTenFingers(benchmark::State& state)
{
    Gallery& g = TheGallery();
    if (g.m == nullptr) {
        state.SkipWithError("no real templates");
        return;
    }
    void* handle = nullptr;
    unsigned threads = 1;
    accelMatch::initAccelLib(&handle, threads);
    std::list<accelMatch::GalleryItem> items;
    std::vector<std::vector<unsigned char>> accels(kRecords);
    for (int r = 0; r < kRecords; ++r) {
        accelMatch::GalleryItem item{};
        TpTemplate t = Gallery::Tp(g.records[static_cast<std::size_t>(r)]);
        std::vector<unsigned char>& a = accels[static_cast<std::size_t>(r)];
        a.resize(accelMatch::getMaximumAccelSize(10));
        unsigned size = 0;
        accelMatch::calcAccel(handle, t, a.data(), size, nullptr);
        item.accel = a.data();
        std::memcpy(item.tpl, t.finger, sizeof(item.tpl));
        item.id = static_cast<std::uint64_t>(r);
        items.push_back(item);
    }
    accelMatch::uploadDb(handle, items);
    double accelBytes = 0;
    double tplBytes = 0;
    for (int r = 0; r < kRecords; ++r) {
        accelBytes += accelMatch::AcGet32(accels[static_cast<std::size_t>(r)].data() +
                                          accelMatch::ACCEL_HEAD_TOTAL);
        for (const zftest::Template& t : g.records[static_cast<std::size_t>(r)]) {
            tplBytes += static_cast<double>(t.size());
        }
    }
    state.counters["accel_MiB"] = accelBytes / 1048576.0;
    state.counters["templates_MiB"] = tplBytes / 1048576.0;
    TpTemplate pt = Gallery::Tp(g.records[7]);
    accelMatch::AccelSearchParam sp{0, 180, 180, -1, 0, 0, 5, 0, 0, 0, 10000};
    accelMatch::RL list[10];
    for (auto _ : state) {
        accelMatch::accelIdentifyTP(handle, sp, pt, list, 10, nullptr);
    }
    accelMatch::closeAccelLib(&handle);
}
BENCHMARK(BM_CoarseStageTenFingers)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
