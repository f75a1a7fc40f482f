// match_profile: runs the 1:1 finger comparisons of an FVC2002 set B protocol (speed 0, rotation
// limit 180, the lower file name as probe) for profiling the matcher, e.g. under
// valgrind --tool=callgrind. The set's templates are made once and kept in a cache file, so
// that a profiled run spends its time in matching only. Every `stride`-th pair of the protocol
// is compared; the program prints the number of comparisons and a checksum of their results,
// which two builds must give alike.
//
//   match_profile <set> <cache-file> [stride]     e.g. match_profile fvc2002_db1_b /tmp/db1.t 10

#include "matching/Matcher100.h"
#include "tests/support/fvc_sets.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using Templates = std::vector<std::vector<unsigned char>>;

// FNV-1a step over the eight bytes of v.
std::uint64_t Mix(std::uint64_t h, std::uint64_t v)
{
    for (int b = 0; b < 8; ++b) {
        h = (h ^ ((v >> (8 * b)) & 0xFF)) * 0x100000001B3ull;
    }
    return h;
}

bool ReadCache(const std::string& path, Templates& t)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    t.clear();
    std::uint32_t size = 0;
    while (std::fread(&size, sizeof size, 1, f) == 1) {
        std::vector<unsigned char> b(size);
        if (size != 0 && std::fread(b.data(), 1, size, f) != size) {
            break;
        }
        t.push_back(std::move(b));
    }
    std::fclose(f);
    return t.size() == static_cast<std::size_t>(zftest::FVC_FINGERS * zftest::FVC_IMPRESSIONS);
}

bool MakeCache(const std::string& set, const std::string& path, Templates& t)
{
    t.clear();
    for (int i = 0; i < zftest::FVC_FINGERS * zftest::FVC_IMPRESSIONS; ++i) {
        t.push_back(zftest::FvcSetTemplate(set, zftest::FVC_FIRST_FINGER + i / 8, 1 + i % 8));
        if (t.back().empty()) {
            return false;
        }
    }
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    for (const auto& b : t) {
        const auto size = static_cast<std::uint32_t>(b.size());
        std::fwrite(&size, sizeof size, 1, f);
        std::fwrite(b.data(), 1, size, f);
    }
    return std::fclose(f) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <set> <cache-file> [stride]\n", argv[0]);
        return 2;
    }
    const std::string set = argv[1];
    const std::string cache = argv[2];
    const long stride = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 1;
    if (stride < 1) {
        std::fprintf(stderr, "stride must be 1 or more\n");
        return 2;
    }
    Templates t;
    if (!ReadCache(cache, t) && !MakeCache(set, cache, t)) {
        std::fprintf(stderr, "templates of %s could not be made or cached\n", set.c_str());
        return 1;
    }
    accelMatch::setDefaultTransitionMatrix();
    auto m = std::make_unique<accelMatch::Matcher100>();
    const std::vector<zftest::FvcPair> pairs = zftest::FvcPairs();
    int loadedP = -1;
    long count = 0;
    std::uint64_t check = 0xCBF29CE484222325ull;
    for (std::size_t k = 0; k < pairs.size(); k += static_cast<std::size_t>(stride)) {
        const zftest::FvcPair& pair = pairs[k];
        if (pair.probe != loadedP) {
            m->loadTemplate(true, t[static_cast<std::size_t>(pair.probe)].data(),
                            accelMatch::FP_PLAIN, nullptr, 0, 0);
            loadedP = pair.probe;
        }
        m->loadTemplate(false, t[static_cast<std::size_t>(pair.gallery)].data(),
                        accelMatch::FP_PLAIN, nullptr, 0, 0);
        accelMatch::MatchResult r;
        m->match(r, 180, 0, false, nullptr, nullptr, 0, false);
        const std::int64_t fields[] = {r.score,    r.numPairs, r.centerPX, r.centerPY,
                                       r.centerGX, r.centerGY, r.rotation};
        for (std::int64_t v : fields) {
            check = Mix(check, static_cast<std::uint64_t>(v));
        }
        for (std::uint32_t i = 0; i < r.numPairs && i < accelMatch::MAX_MATCH_PAIRS; ++i) {
            check = Mix(check, static_cast<std::uint64_t>(r.pairs[i].np) << 16 | r.pairs[i].ng);
        }
        ++count;
    }
    std::printf("%ld comparisons, checksum %016llx\n", count,
                static_cast<unsigned long long>(check));
    return 0;
}
