// Stage 12, Flower: measures per level-3 pixel how the level-0 gradients of stage 7 (layers
// 272 / 273) agree with the stage-11 flow 35 and turns that into a doubled-angle flow vector
// (layers 240 / 241, 127 = 0), rates the channels' incoherence (117, 0..90), and carries the
// vectors down to the asked level with a flow-oriented 3 x 3 mean, writing the filtered flow 36
// (whole degrees 0..179) on every level from 3 to the asked one. Throws WZ_NO_LAYER.

#include "extraction/engine/BlockEnergy.h"
#include "extraction/engine/Codex.h"
#include "extraction/engine/FlowMean.h"
#include "extraction/engine/HalfAngle.h"
#include "extraction/engine/Steps.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace wizard73 {
namespace {

constexpr int FLOWER_STAGE = 12;
constexpr int FLOW_LEVEL = 3;

} // namespace

void Codex::Flower(int level)
{
    if (GetKey(35, FLOW_LEVEL) == -1) {
        Swells(1);
    }
    m_stage = FLOWER_STAGE;
    OldLay(m_stage);
    m_curLevel = FLOW_LEVEL;
    const int finest = level < 0 ? 0 : level > FLOW_LEVEL ? FLOW_LEVEL : level;
    const CLevel& l0 = m_level[0];
    const CLevel& l3 = m_level[FLOW_LEVEL];

    // 1. Stage 7's gradient direction and magnitude, read in place.
    const unsigned char* gdir = Layer(272, 0);
    const unsigned char* gmag = Layer(273, 0);

    // 2. Gain curve; the divisor comes from the response histogram left in Ran.
    const int divisor = m_rank.RanSha(3) + 1;
    static const int curve[] = {3, 9, 0, 60, 90, 255, 255};
    m_rank.RanMod(curve);
    m_rank.RanSmo(7);
    m_rank.LorLog(255);

    // 3. Measuring scan: one level-3 pixel per block of level-0 pixels.
    const unsigned char* flow = Layer(35, FLOW_LEVEL);
    const unsigned char* cls = Layer(129, FLOW_LEVEL);
    const unsigned char* sdir = Layer(37, FLOW_LEVEL);
    unsigned char* incoh = Layer(117, FLOW_LEVEL);
    unsigned char* out = Layer(36, FLOW_LEVEL);
    unsigned char* vx = Layer(240, FLOW_LEVEL);
    unsigned char* vy = Layer(241, FLOW_LEVEL);
    const unsigned char* ang[4];
    const unsigned char* str[4];
    for (int k = 0; k < 4; ++k) {
        ang[k] = Layer(38 + k, FLOW_LEVEL);
        str[k] = Layer(119 + k, FLOW_LEVEL);
    }
    const int k3 = l3.scale / l0.scale;
    const BlockEnergy energy(m_rank.Ran, m_rank.Lor, divisor);
    for (int y = 0; y < l3.height; ++y) {
        for (int x = 0; x < l3.width; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * l3.width + x;
            const int c = flow[at];
            // 3.1 Channel incoherence: strength running across the flow.
            const std::uint8_t* toFlow = AxialFrom(c); // byte angles: Dist(a, c) at toFlow[a]
            int pos = 0;
            int neg = 0;
            for (int k = 0; k < 4; ++k) {
                const int d = toFlow[ang[k][at]];
                const int wk = Descale13(CosDeg(2 * d) * str[k][at]);
                if (wk > 0) {
                    pos += wk;
                } else {
                    neg -= wk;
                }
            }
            incoh[at] = static_cast<unsigned char>(
                neg == 0 ? 0 : (90 * neg + (pos + neg) / 2) / (pos + neg));
            // 3.2 Energies across and along the flow of the block's gradients.
            const int klass = cls[at];
            const int ref = Mod360(klass == 1 || klass == 2 ? 2 * sdir[at] : c + 90);
            // The block's level-0 pixels off the image border.
            const int x0 = BlockStart(x, k3, l0.width);
            const int y0 = BlockStart(y, k3, l0.height);
            const BlockSums e =
                energy.Scan(gdir, gmag, l0.width, std::max(x0, 1), std::min(x0 + k3, l0.width - 1),
                            std::max(y0, 1), std::min(y0 + k3, l0.height - 1), ref);
            // 3.3 The block's flow vector.
            out[at] = static_cast<unsigned char>(c);
            int theta = c;
            int kmax = 90;
            if (klass == 2 || klass == 1) {
                theta = 2 * (sdir[at] + 45);
                kmax = klass == 2 ? 90 : 85;
            } else if (klass == 8) {
                kmax = 75;
            }
            const int a = kmax * e.across / (e.along + e.across == 0 ? 1 : e.along + e.across);
            const int m = Descale13(TabSig[90 - a] * e.top) + 7;
            const int t = Mod360(2 * theta);
            vx[at] = static_cast<unsigned char>(ClampByte(Descale13(CosDeg(t) * m) / 2 + 127));
            vy[at] = static_cast<unsigned char>(ClampByte(Descale13(SinDeg(t) * m) / 2 + 127));
        }
    }

    // 4. Descent: each coarse pixel's smoothed vector fills its block of the finer level.
    std::vector<std::uint64_t> pairs; // a level's 240 and 241 packed together (FlowPack)
    for (int lv = FLOW_LEVEL; lv > finest; --lv) {
        const CLevel& cl = m_level[lv];
        const CLevel& fl = m_level[lv - 1];
        const unsigned char* c36 = Layer(36, lv);
        const unsigned char* c240 = Layer(240, lv);
        const unsigned char* c241 = Layer(241, lv);
        unsigned char* f36 = Layer(36, lv - 1);
        unsigned char* f240 = Layer(240, lv - 1);
        unsigned char* f241 = Layer(241, lv - 1);
        const int q = cl.scale / fl.scale;
        // The sizes in locals: the byte stores could alias the level records.
        const int cw = cl.width;
        const int ch = cl.height;
        const int fw = fl.width;
        const int fh = fl.height;
        pairs.resize(cl.size);
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            pairs[i] = FlowPack(c240[i], c241[i]);
        }
        for (int y = 0; y < ch; ++y) {
            const int y0 = BlockStart(y, q, fh);
            const int y1 = std::min(y0 + q, fh);
            // Whole 2 x 2 blocks all along the row (a block is narrower only on a level one
            // pixel wide), stored without loops.
            const bool quads = q == 2 && fw >= 2 && y1 - y0 == 2;
            const std::size_t row = static_cast<std::size_t>(y) * cw;
            const std::uint64_t* here = pairs.data() + row;
            // The vector (vxv, vyv) of coarse pixel x fills its block of the finer level.
            auto emit = [&](int x, int vxv, int vyv) __attribute__((always_inline))
            {
                const auto h = static_cast<unsigned char>(HalfAtan(vxv, vyv));
                const auto bx = static_cast<unsigned char>(ClampByte(vxv + 127));
                const auto by = static_cast<unsigned char>(ClampByte(vyv + 127));
                const int x0 = BlockStart(x, q, fw);
                auto put = [&](std::size_t o) {
                    f240[o] = bx;
                    f241[o] = by;
                    f36[o] = h;
                };
                if (quads) {
                    ForQuad(static_cast<std::size_t>(y0) * fw + x0, static_cast<std::size_t>(fw),
                            put);
                    return;
                }
                const int x1 = std::min(x0 + q, fw);
                for (int yy = y0; yy < y1; ++yy) {
                    for (int xx = x0; xx < x1; ++xx) {
                        put(static_cast<std::size_t>(yy) * fw + xx);
                    }
                }
            };
            // Edge pixels keep their own vector; inner ones take the smoothed one.
            auto own = [&](int x) { emit(x, c240[row + x] - 127, c241[row + x] - 127); };
            if (y < 1 || y >= ch - 1) {
                for (int x = 0; x < cw; ++x) {
                    own(x);
                }
                continue;
            }
            if (cw > 0) {
                own(0);
            }
            for (int x = 1; x < cw - 1; ++x) {
                const std::uint64_t m =
                    FlowMeanPair(FlowMeanAt(c36[row + x]), here - cw, here, here + cw, x);
                emit(x, static_cast<int>(m & 0xffffffffu) - 127, static_cast<int>(m >> 32) - 127);
            }
            if (cw > 1) {
                own(cw - 1);
            }
        }
    }

    // 5. Final pass at the asked level: inner pixels take the smoothed vector's orientation.
    {
        const CLevel& fl = m_level[finest];
        unsigned char* f36 = Layer(36, finest);
        const unsigned char* f240 = Layer(240, finest);
        const unsigned char* f241 = Layer(241, finest);
        // The sizes in locals: the byte stores could alias the level record.
        const int fw = fl.width;
        const int fh = fl.height;
        // Rows of 240 and 241 packed together (FlowPack), three kept in turn: the row below
        // is packed as the pass reaches it.
        std::vector<std::uint64_t> packed(3 * static_cast<std::size_t>(fw));
        auto packRow = [&](int y) {
            std::uint64_t* dst = packed.data() + static_cast<std::size_t>(y % 3) * fw;
            const std::size_t row = static_cast<std::size_t>(y) * fw;
            for (int x = 0; x < fw; ++x) {
                dst[x] = FlowPack(f240[row + x], f241[row + x]);
            }
            return dst;
        };
        if (fh > 2) {
            packRow(0);
            packRow(1);
        }
        for (int y = 1; y < fh - 1; ++y) {
            const std::uint64_t* above = packed.data() + static_cast<std::size_t>((y - 1) % 3) * fw;
            const std::uint64_t* here = packed.data() + static_cast<std::size_t>(y % 3) * fw;
            const std::uint64_t* below = packRow(y + 1);
            unsigned char* r36 = f36 + static_cast<std::size_t>(y) * fw;
            for (int x = 1; x < fw - 1; ++x) {
                const std::uint64_t m = FlowMeanPair(FlowMeanAt(r36[x]), above, here, below, x);
                r36[x] = static_cast<unsigned char>(HalfAtan(
                    static_cast<int>(m & 0xffffffffu) - 127, static_cast<int>(m >> 32) - 127));
            }
        }
    }

    for (int lv = finest; lv <= FLOW_LEVEL; ++lv) {
        DelLay(240, lv);
        DelLay(241, lv);
    }
    DelLay(272, 0);
    DelLay(273, 0);
}

} // namespace wizard73
