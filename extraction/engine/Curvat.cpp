// Stage 13, Curvat: from the filtered flow 36 (whole degrees 0..179) and strength 112 of level 3,
// how much the flow turns ahead of and behind every pixel (curvature 49, 0..180) and to which
// side the ridges bend (48, 0 or 1); curvature is cleared where the bending sides disagree all
// around, and both maps are copied down to the asked level (49 smoothed there, 0 on the border).
// Work layers 240 / 241 are deleted at the end. Throws WZ_NO_LAYER.

#include "extraction/engine/Codex.h"
#include "extraction/engine/Smooth121.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace wizard73 {
namespace {

constexpr int CURVAT_STAGE = 13;
constexpr int FLOW_LEVEL = 3;
constexpr int TWIST_LIMIT = 45;

} // namespace

void CuSmoothRowScalar(const unsigned char* p, int w, int x0, int x1, unsigned char* out)
{
    for (int x = x0; x < x1; ++x) {
        out[x] = static_cast<unsigned char>(Smooth121(p + x, w));
    }
}

#if defined(__SSE2__)
// Eight pixels at a time (Smooth121x8), packed back to bytes.
void CuSmoothRow(const unsigned char* p, int w, int x0, int x1, unsigned char* out)
{
    int x = x0;
    for (; x + 8 <= x1; x += 8) {
        const __m128i m = Smooth121x8(p + x, w);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(m, m));
    }
    CuSmoothRowScalar(p, w, x, x1, out);
}
#else
void CuSmoothRow(const unsigned char* p, int w, int x0, int x1, unsigned char* out)
{
    CuSmoothRowScalar(p, w, x0, x1, out);
}
#endif

void Codex::Curvat(int level)
{
    if (GetKey(36, FLOW_LEVEL) == -1) {
        Flower(1);
    }
    m_stage = CURVAT_STAGE;
    OldLay(m_stage);
    m_curLevel = FLOW_LEVEL;
    const int finest = level < 0 ? 0 : level > FLOW_LEVEL ? FLOW_LEVEL : level;
    const CLevel& l3 = m_level[FLOW_LEVEL];
    const int w = l3.width;
    const int h = l3.height;

    // Twist weights: twice the identity, lightly smoothed.
    static const int twist[] = {3, 0, 0, 42, 42, 90, 90};
    m_rank.CorGau(twist);
    m_rank.CorSmo(1);
    for (int& v : m_rank.Cor) {
        v *= 2;
    }

    unsigned char* flow = Layer(36, FLOW_LEVEL);
    unsigned char* power = Layer(112, FLOW_LEVEL);
    unsigned char* bend = Layer(240, FLOW_LEVEL);
    unsigned char* curv = Layer(49, FLOW_LEVEL);
    unsigned char* side = Layer(48, FLOW_LEVEL);

    // 1. Curvature: flow turning ahead of and behind each pixel along its own flow line.
    m_ringPoint = static_cast<RingFn>(&CWork::Argums_I);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * w + x;
            const int c = flow[at];
            m_frontCos = m_frontSin = m_backCos = m_backSin = 0;
            WalkAt(x, y, FLOW_LEVEL, flow, flow, power);
            Spiral(FLOW_LEVEL, 1, 1);
            const int a = HalfOr(m_frontCos, m_frontSin, c);
            const int b = HalfOr(m_backCos, m_backSin, c);
            const int da = Fold(a - c);
            const int db = Fold(b - c);
            bend[at] = static_cast<unsigned char>(da - db > 0 ? (c + 90) / 2 : Mod360(c - 90) / 2);
            curv[at] = static_cast<unsigned char>(Dist(c, a) + Dist(c, b));
        }
    }

    // 2. Side and twist: curvature is cleared where the bending directions disagree all around.
    m_ringPoint = static_cast<RingFn>(&CWork::Twists_I);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * w + x;
            for (int m = 0; m < 8; ++m) {
                m_rotSum[m] = 0;
            }
            m_rotPoints = 0;
            WalkAt(x, y, FLOW_LEVEL, bend, bend);
            Spiral(FLOW_LEVEL, 0, 1);
            int least = m_rotSum[0];
            for (int m = 1; m < 8; ++m) {
                least = m_rotSum[m] < least ? m_rotSum[m] : least;
            }
            if (m_rotPoints > 0 && least / m_rotPoints > TWIST_LIMIT) {
                curv[at] = 0;
            }
            const int t = 2 * bend[at];
            side[at] = Mod360(t - flow[at]) <= 179 ? 1 : 0;
        }
    }
    Resume();

    // 3. Descent: block copies (clipped to the level), curvature smoothed at the finer level.
    for (int lv = FLOW_LEVEL; lv > finest; --lv) {
        const CLevel& cl = m_level[lv];
        const CLevel& fl = m_level[lv - 1];
        const int q = cl.scale / fl.scale;
        const unsigned char* c49 = Layer(49, lv);
        const unsigned char* c48 = Layer(48, lv);
        unsigned char* f49 = Layer(49, lv - 1);
        unsigned char* f48 = Layer(48, lv - 1);
        unsigned char* raw = Layer(241, lv - 1);
        // Fine rows and columns beyond q times the coarser level keep what they held.
        const int rows = std::min<int>(fl.height, q * cl.height);
        const std::size_t span = static_cast<std::size_t>(std::min<int>(fl.width, q * cl.width));
        for (int yy = 0; yy < rows; ++yy) {
            const std::size_t from = static_cast<std::size_t>(yy / q) * cl.width;
            const std::size_t to = static_cast<std::size_t>(yy) * fl.width;
            if (yy % q != 0) { // the coarse row of the fine row above: that row again
                std::memcpy(f48 + to, f48 + to - fl.width, span);
                std::memcpy(f49 + to, f49 + to - fl.width, span);
                std::memcpy(raw + to, raw + to - fl.width, span);
                continue;
            }
            for (int x = 0; x < cl.width; ++x) {
                const unsigned char v48 = c48[from + x];
                const unsigned char v49 = c49[from + x];
                for (int xx = q * x; xx < q * x + q && xx < fl.width; ++xx) {
                    f48[to + xx] = v48;
                    f49[to + xx] = v49;
                    raw[to + xx] = v49;
                }
            }
        }
        m_curLevel = lv - 1;
        const int fw = fl.width;
        for (int y = 0; y < fl.height; ++y) {
            unsigned char* out = f49 + static_cast<std::size_t>(y) * fw;
            if (y == 0 || y == fl.height - 1) {
                std::memset(out, 0, static_cast<std::size_t>(fw));
                continue;
            }
            if (fw > 0) {
                out[0] = 0;
                out[fw - 1] = 0;
            }
            CuSmoothRow(raw + static_cast<std::size_t>(y) * fw, fw, 1, fw - 1, out);
        }
    }

    for (int lv = FLOW_LEVEL; lv >= finest; --lv) {
        DelLay(240, lv);
        DelLay(241, lv);
    }
}

} // namespace wizard73
