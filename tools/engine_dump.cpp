// engine_dump: runs the extraction engine on an 8-bit PGM image up to a chosen stage and writes
// the named layers as PGM images, so that orientation, foreground and singular regions can be
// looked at. Prints the quality (stage 5 on) and the singular points (stage 8).
//
//   engine_dump <image.pgm> <stage 0..8 or 17..20> <output prefix> [layer:level ...]
//
// Each layer:level writes <prefix>_<layer>_<level>.pgm (a layer that does not exist at the end
// of the run is reported and skipped). Stage 8 releases most of its inputs; dump them after
// stage 7. From stage 17 on it also counts the finger-area cells of levels 1 and 3; from 19 on
// the skeleton's endings and forks; at 20 the minutiae, with those flagged in quality. Exit code 0,
// 1 on bad arguments or an unreadable image, 2 when the engine failed.

#include "extraction/engine/Codex.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/data_path.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

bool WritePgm(const std::string& path, const unsigned char* p, int w, int h)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    std::fprintf(f, "P5\n%d %d\n255\n", w, h);
    const bool ok =
        std::fwrite(p, 1, static_cast<std::size_t>(w) * h, f) == static_cast<std::size_t>(w) * h;
    return std::fclose(f) == 0 && ok;
}

// Runs the stages 2..stage (each pulls its predecessors); the engine's codes are thrown as int.
void RunTo(wizard73::Codex& e, int stage)
{
    switch (stage) {
    case 2:
        e.Lightf(-1);
        break;
    case 3:
        e.Stream(-1);
        break;
    case 4:
        e.Cohere(-1);
        break;
    case 5:
        e.Pickup(-1);
        break;
    case 6:
        e.Ifocus(1);
        break;
    case 7:
        e.Respon(1);
        break;
    case 8:
        e.Xfocus(1);
        break;
    case 17: // paper, weak and finger-area flags in layer 128
        e.Xfocus(1);
        e.Laying(1);
        break;
    case 18: // through the binarisation: layer 4:0 is the binary ridge image
        e.Xfocus(1);
        e.Filter(1);
        break;
    case 19: // the skeleton codes in layer 5:0
        e.Xfocus(1);
        e.Skelet(1);
        break;
    case 20:
        e.Xfocus(1);
        e.Minuti(1);
        break;
    default:
        break;
    }
}

int Run(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: %s <image.pgm> <stage 0..8 or 17..20> <prefix> [layer:level ...]\n",
                     argv[0]);
        return 1;
    }
    std::vector<unsigned char> pixels;
    int w = 0;
    int h = 0;
    if (!zftest::ReadPgm(argv[1], pixels, w, h) || w > 65535 || h > 65535) {
        std::fprintf(stderr, "cannot read %s as an 8-bit PGM\n", argv[1]);
        return 1;
    }
    const int stage = std::atoi(argv[2]);
    auto engine = std::make_unique<wizard73::Codex>();
    int code = zftest::LoadWith(*engine, pixels, w, h);
    if (code == 0) {
        try {
            RunTo(*engine, stage);
        } catch (int c) {
            code = c;
        }
    }
    if (code != 0) {
        std::fprintf(stderr, "engine failed with %d\n", code);
        return 2;
    }
    std::printf("level 0: %d x %d\n", engine->m_level[0].width, engine->m_level[0].height);
    if (stage >= 5) {
        std::printf("quality %u\n", engine->m_quality);
    }
    if (stage >= 8) {
        std::printf("singular points %d, pattern class %u (immask %u)\n", engine->m_singular,
                    engine->m_class, engine->m_immask);
        for (int i = 0; i < engine->m_singular; ++i) {
            const wizard73::SSign& p = engine->m_sign[i];
            std::printf("  type %3u at (%d, %d) angle %d quality %u level %u\n", p.type, p.x, p.y,
                        2 * p.angle, p.quality, p.level);
        }
    }
    if (stage >= 17) {
        for (int level : {3, 1}) {
            const unsigned char* f = engine->GetLay(128, level);
            std::size_t area = 0;
            for (std::size_t i = 0; i < engine->m_level[level].size; ++i) {
                area += (f[i] & 65) == 0 ? 1 : 0;
            }
            std::printf("finger area at level %d: %zu of %u cells\n", level, area,
                        static_cast<unsigned>(engine->m_level[level].size));
        }
    }
    if (stage >= 19 && engine->GetKey(5, 0) != -1) {
        const unsigned char* s = engine->GetLay(5, 0);
        std::size_t endings = 0;
        std::size_t forks = 0;
        for (std::size_t i = 0; i < engine->m_level[0].size; ++i) {
            endings += s[i] == 1 ? 1 : 0;
            forks += s[i] == 0 || s[i] == 2 ? 1 : 0;
        }
        std::printf("skeleton endings %zu, forks %zu\n", endings, forks);
    }
    if (stage >= 20) {
        const wizard73::SSign* list = engine->MinutiaList();
        int border = 0;
        int opposed = 0;
        int singular = 0;
        for (int i = 0; i < engine->m_minutiae; ++i) {
            border += (list[i].quality & 128) != 0 ? 1 : 0;
            opposed += (list[i].quality & 192) == 192 ? 1 : 0;
            singular += (list[i].quality & 64) != 0 ? 1 : 0;
        }
        std::printf("minutiae %d (quality bit 7: %d, bits 7 and 6: %d, bit 6: %d)\n",
                    engine->m_minutiae, border, opposed, singular);
    }
    int missing = 0;
    for (int k = 4; k < argc; ++k) {
        int id = 0;
        int level = 0;
        if (std::sscanf(argv[k], "%d:%d", &id, &level) != 2 || level < 0 || level > 4) {
            std::fprintf(stderr, "bad layer %s (use id:level)\n", argv[k]);
            return 1;
        }
        if (engine->GetKey(id, level) == -1) {
            std::fprintf(stderr, "layer %d of level %d does not exist\n", id, level);
            ++missing;
            continue;
        }
        const std::string path =
            std::string(argv[3]) + "_" + std::to_string(id) + "_" + std::to_string(level) + ".pgm";
        if (!WritePgm(path, engine->GetLay(id, level), engine->m_level[level].width,
                      engine->m_level[level].height)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("wrote %s\n", path.c_str());
    }
    return missing == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    return Run(argc, argv);
}
