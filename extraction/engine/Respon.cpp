// Stage 7, Respon: how well the level-0 gradients (stage 2's raw responses in work planes 0 and
// 2) agree with the expected ridge direction of every level-3 block. The agreement attenuates
// the contrast 114 into 115, and a doubled-angle field built from it is carried down the
// pyramid as orientation 34 (degrees 0..179) and magnitude 144 at levels 3 down to the target.
// The gradient direction (halved degrees) and magnitude stay as 272 and 273 of level 0. Throws
// only what stage 6 throws.

#include "extraction/engine/BlockEnergy.h"
#include "extraction/engine/Codex.h"
#include "extraction/engine/HalfAngle.h"
#include "extraction/engine/Roots.h"
#include "extraction/engine/Smooth121.h"
#include "extraction/engine/Steps.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace wizard73 {
namespace {

constexpr int RESPON_STAGE = 7;
constexpr int LEVEL = 3;
constexpr int ZERO = 127; // signed values in bytes

[[noreturn]] void NoLayer(std::int32_t& error)
{
    error = WZ_NO_LAYER;
    throw WZ_NO_LAYER;
}

// Orientation (degrees 0..179) and magnitude of a doubled-angle pair.
struct Polar {
    int c, s, o, m;
};

// The orientation and magnitude of the [1 2 1] x [1 2 1] means c and s (-127..128) of a pair
// of byte planes at an inner pixel (ReSmoothRow).
__attribute__((always_inline)) inline Polar Inner(int c, int s)
{
    Polar r{c, s, 0, 0};
    r.o = HalfAtan(r.c, r.s);
    r.m = TabSqr[static_cast<std::size_t>(r.c * r.c + r.s * r.s)]; // at most 2 * 128^2
    return r;
}

// The [1 2 1] x [1 2 1] mean, less ZERO, of the byte plane around p (rows w apart).
int Smooth3(const unsigned char* p, std::ptrdiff_t w)
{
    return Smooth121(p, w) - ZERO;
}

// Zeroes the outermost rows and columns of a w x h byte plane.
void ClearBorder(unsigned char* p, int w, int h)
{
    if (w <= 0 || h <= 0) {
        return;
    }
    std::memset(p, 0, static_cast<std::size_t>(w));
    std::memset(p + static_cast<std::size_t>(h - 1) * w, 0, static_cast<std::size_t>(w));
    for (int y = 1; y + 1 < h; ++y) {
        p[static_cast<std::size_t>(y) * w] = 0;
        p[static_cast<std::size_t>(y) * w + w - 1] = 0;
    }
}

Polar Border(const unsigned char* c, const unsigned char* s)
{
    Polar r{(*c - ZERO) / 2, (*s - ZERO) / 2, 0, 0};
    r.o = HalfAtan(r.c, r.s);
    r.m = TabSqr[r.c * r.c + r.s * r.s];
    return r;
}

} // namespace

// The gradient magnitude byte of a norm n = gx^2 + gy^2 (sqri reads the roots past its first
// blend from its table of change points).
int ReMagnitude(int n)
{
    const int m = SqriInline(n) / 4;
    return m > 255 ? 255 : m; // steep diagonals saturate
}

void ReSmoothRowScalar(const unsigned char* fc, const unsigned char* fs, int w, int x0, int x1,
                       std::int16_t* mc, std::int16_t* ms)
{
    for (int x = x0; x < x1; ++x) {
        mc[x] = static_cast<std::int16_t>(Smooth3(fc + x, w));
        ms[x] = static_cast<std::int16_t>(Smooth3(fs + x, w));
    }
}

#if defined(__SSE2__)
// Eight pixels at a time (Smooth121x8).
void ReSmoothRow(const unsigned char* fc, const unsigned char* fs, int w, int x0, int x1,
                 std::int16_t* mc, std::int16_t* ms)
{
    const __m128i bias = _mm_set1_epi16(ZERO);
    int x = x0;
    for (; x + 8 <= x1; x += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(mc + x),
                         _mm_sub_epi16(Smooth121x8(fc + x, w), bias));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(ms + x),
                         _mm_sub_epi16(Smooth121x8(fs + x, w), bias));
    }
    ReSmoothRowScalar(fc, fs, w, x, x1, mc, ms);
}
#else
void ReSmoothRow(const unsigned char* fc, const unsigned char* fs, int w, int x0, int x1,
                 std::int16_t* mc, std::int16_t* ms)
{
    ReSmoothRowScalar(fc, fs, w, x0, x1, mc, ms);
}
#endif

// Measuring scan: per level-3 block, the energies along and across the expected normal, the
// attenuated contrast 115 and the doubled-angle field 240 / 241 of level 3.
void Codex::ReMeasure(int divisor)
{
    const int w0 = m_level[0].width;
    const int h0 = m_level[0].height;
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    const unsigned char* gdir = GetLay(272, 0);
    const unsigned char* gmag = GetLay(273, 0);
    const unsigned char* cls = GetLay(129, LEVEL);
    const unsigned char* l37 = GetLay(37, LEVEL);
    const unsigned char* l32 = GetLay(32, LEVEL);
    const unsigned char* l33 = GetLay(33, LEVEL);
    const unsigned char* l114 = GetLay(114, LEVEL);
    unsigned char* l115 = GetLay(115, LEVEL);
    unsigned char* fc = GetLay(240, LEVEL);
    unsigned char* fs = GetLay(241, LEVEL);
    if (gdir == nullptr || gmag == nullptr || cls == nullptr || l37 == nullptr || l32 == nullptr ||
        l33 == nullptr || l114 == nullptr || l115 == nullptr || fc == nullptr || fs == nullptr) {
        NoLayer(m_error);
    }
    const BlockEnergy energy(m_rank.Ran, m_rank.Lor, divisor);
    for (int y = 0; y < h; ++y) {
        const int by = y * 8 + 8 > h0 ? h0 - 8 : y * 8;
        for (int x = 0; x < w; ++x) {
            const int bx = x * 8 + 8 > w0 ? w0 - 8 : x * 8;
            const std::size_t b = static_cast<std::size_t>(y) * w + x;
            const int c = cls[b];
            const int ref = Mod360(c == 1 || c == 2 ? Mod360(2 * l37[b])
                                   : c == 8         ? l32[b] + 90
                                                    : l33[b] + 90);
            // 1.-2. Energies and the fourth-largest weighted magnitude of the block, over its
            // pixels off the level-0 border.
            const BlockSums e =
                energy.Scan(gdir, gmag, w0, std::max(bx, 1), std::min(bx + 8, w0 - 1),
                            std::max(by, 1), std::min(by + 8, h0 - 1), ref);
            // 3. Block value and the field.
            int r;
            int lim;
            if (c == 2 || c == 1) {
                r = 2 * (l37[b] + 45);
                lim = c == 2 ? 75 : 85;
            } else if (c == 8) {
                r = l32[b];
                lim = 80;
            } else {
                r = l33[b];
                lim = 85;
            }
            const int angle = lim * e.across / (e.along + e.across == 0 ? 1 : e.along + e.across);
            const int m = Descale13(TabSig[90 - angle] * e.top) + 7;
            const int r2 = Mod360(2 * r);
            fc[b] = static_cast<unsigned char>(
                std::clamp(Descale13(CosDeg(r2) * m) / 2 + ZERO, 0, 255));
            fs[b] = static_cast<unsigned char>(
                std::clamp(Descale13(SinDeg(r2) * m) / 2 + ZERO, 0, 255));
            const int att = Descale13(TabSig[90 - angle] * l114[b]);
            l115[b] = static_cast<unsigned char>(att < 0 ? 0 : att);
        }
    }
}

// Carries the field of level `level` down to level - 1 (block by block, edge blocks shifted
// inside), or, with target == level, writes 34 and 144 of the level from its own field.
void Codex::ReSpread(int level, int target)
{
    const int w = m_level[level].width;
    const int h = m_level[level].height;
    const unsigned char* fc = GetLay(240, level);
    const unsigned char* fs = GetLay(241, level);
    unsigned char* o = GetLay(34, level);
    unsigned char* mg = GetLay(144, level);
    if (fc == nullptr || fs == nullptr || o == nullptr || mg == nullptr) {
        NoLayer(m_error);
    }
    const bool down = target < level;
    const int fine = down ? level - 1 : level;
    const int wf = m_level[fine].width;
    const int hf = m_level[fine].height;
    unsigned char* fo = GetLay(34, fine);
    unsigned char* fm = GetLay(144, fine);
    unsigned char* ffc = GetLay(240, fine);
    unsigned char* ffs = GetLay(241, fine);
    if (fo == nullptr || fm == nullptr || ffc == nullptr || ffs == nullptr) {
        NoLayer(m_error);
    }
    const int k = down ? 2 : 1;
    // The smoothed c and s of an inner row's inner pixels, less ZERO.
    std::vector<std::int16_t> means(2 * static_cast<std::size_t>(w));
    std::int16_t* mc = means.data();
    std::int16_t* ms = mc + w;
    // Written into separate buffers first: the fine level's field must not feed this level.
    // The pass is made once with the descent's stores and once without, each with its own loop;
    // a descent onto the target level leaves out its 34 and 144, which the target's own pass
    // writes on every pixel.
    auto pass = [&](auto descend, auto keepFine) {
        constexpr bool kDown = decltype(descend)::value;
        constexpr bool kFine = decltype(keepFine)::value;
        for (int y = 0; y < h; ++y) {
            const bool innerRow = y > 0 && y < h - 1;
            const std::size_t row = static_cast<std::size_t>(y) * w;
            const int fy0 = y * k + k > hf ? hf - k : y * k;
            // The values of pixel x of the row, and of its block of the finer level.
            auto emit = [&](int x, const Polar& p) __attribute__((always_inline))
            {
                const std::size_t i = row + x;
                o[i] = static_cast<unsigned char>(p.o);
                mg[i] = static_cast<unsigned char>(p.m);
                if (!kDown) {
                    return;
                }
                const int fx0 = x * k + k > wf ? wf - k : x * k;
                const auto vo = static_cast<unsigned char>(p.o);
                const auto vm = static_cast<unsigned char>(p.m);
                const auto vc = static_cast<unsigned char>(std::clamp(p.c + ZERO, 0, 255));
                const auto vs = static_cast<unsigned char>(std::clamp(p.s + ZERO, 0, 255));
                auto put = [&](std::size_t j) {
                    if (kFine) {
                        fo[j] = vo;
                        fm[j] = vm;
                    }
                    ffc[j] = vc;
                    ffs[j] = vs;
                };
                if (fx0 >= 0 && fy0 >= 0) { // a whole 2 x 2 block, stored without loops
                    ForQuad(static_cast<std::size_t>(fy0) * wf + fx0, static_cast<std::size_t>(wf),
                            put);
                    return;
                }
                for (int fy = std::max(fy0, 0); fy < fy0 + k; ++fy) { // inside a narrow level only
                    for (int fx = std::max(fx0, 0); fx < fx0 + k; ++fx) {
                        put(static_cast<std::size_t>(fy) * wf + fx);
                    }
                }
            };
            if (!innerRow) {
                for (int x = 0; x < w; ++x) {
                    emit(x, Border(fc + row + x, fs + row + x));
                }
                continue;
            }
            // An inner row: its first and last pixels are edge pixels, the others inner ones.
            ReSmoothRow(fc + row, fs + row, w, 1, w - 1, mc, ms);
            if (w > 0) {
                emit(0, Border(fc + row, fs + row));
            }
            for (int x = 1; x < w - 1; ++x) {
                emit(x, Inner(mc[x], ms[x]));
            }
            if (w > 1) {
                emit(w - 1, Border(fc + row + w - 1, fs + row + w - 1));
            }
        }
    };
    if (!down) {
        pass(std::false_type(), std::false_type());
    } else if (fine == target) {
        pass(std::true_type(), std::false_type());
    } else {
        pass(std::true_type(), std::true_type());
    }
}

void Codex::Respon(int level)
{
    // 1. Pull and stage discipline.
    if (GetKey(129, LEVEL) == -1) {
        Ifocus(1);
    }
    m_stage = RESPON_STAGE;
    OldLay(RESPON_STAGE);
    m_curLevel = LEVEL;
    const int target = std::clamp(level, 0, LEVEL);
    m_rank.RanIni(0);
    // 2. Gradient direction and magnitude at the inner level-0 pixels.
    const int w0 = m_level[0].width;
    const int h0 = m_level[0].height;
    // Kept for later stages as 272 and 273.
    unsigned char* gdir = GetLay(272, 0);
    unsigned char* gmag = GetLay(273, 0);
    if (gdir == nullptr || gmag == nullptr || GetLay(1, 0) == nullptr) {
        NoLayer(m_error);
    }
    // Every inner pixel is written below.
    ClearBorder(gdir, w0, h0);
    ClearBorder(gmag, w0, h0);
    const std::int16_t* d12 = Plane(0);
    const std::int16_t* d10 = Plane(2);
    for (int y = 1; y + 1 < h0; ++y) {
        for (int x = 1; x + 1 < w0; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w0 + x;
            const int gx = -d12[i];
            const int gy = d10[i];
            gdir[i] = static_cast<unsigned char>(static_cast<unsigned>(atan(gx, gy)) / 2); // 0..359
            gmag[i] = static_cast<unsigned char>(ReMagnitude(gx * gx + gy * gy));
            ++m_rank.Ran[gmag[i]];
        }
    }
    // 3.-4. Weight curve and gain.
    static const int kCurve[] = {3, 15, 0, 64, 90, 255, 255};
    const int divisor = m_rank.RanSha(3) + 1;
    m_reDivisor = m_reDivisor2 = divisor;
    m_rank.RanMod(kCurve);
    m_rank.RanSmo(7);
    m_rank.LorLog(255);
    // 5. Measuring scan.
    ReMeasure(divisor);
    // 6. Propagation down to the target, then the target's own values.
    for (int l = LEVEL; l > target; --l) {
        ReSpread(l, target);
    }
    ReSpread(target, target);
    // 7. Work layers.
    for (int l = LEVEL; l >= 0; --l) {
        DelLay(240, l);
        DelLay(241, l);
        DelLay(242, l);
        DelLay(243, l);
    }
    m_curLevel = LEVEL;
}

} // namespace wizard73
