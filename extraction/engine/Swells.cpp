// Stage 11, Swells: the level-3 flow 35 (orientation, whole degrees 0..179) from the flow 32 / 112
// of stage 3: a pattern model around every singular point (bit 16 of layer 128), propagation of
// orientations from settled pixels (bits 8 and 16) into the others, and up to three cycles of
// channel choice among 38..41 / 119..122 that settle reliable pixels (bit 8) and adopt the chosen
// channels into 32 and 112. Work layers 240..242 are deleted at the end. Throws WZ_NO_LAYER.

#include "extraction/engine/Codex.h"
#include "extraction/engine/Steps.h"
#include "extraction/engine/codes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace wizard73 {
namespace {

constexpr int SWELLS_STAGE = 11;
constexpr int FLOW_LEVEL = 3;
constexpr int SETTLED_BIT = 8;
constexpr int MODELLED_BIT = 16;
constexpr int SETTLED = 0;
constexpr int MARKER = 7;
constexpr int UNSETTLED = 255;
constexpr int CYCLES = 3;
constexpr int START_T = 66;

// Pattern templates by sector: angle of the model at 45 s degrees from the point's direction.
constexpr int Whorl[8] = {90, 137, 0, 43, 90, 137, 0, 43};
constexpr int Loops[8] = {0, 3, 14, 50, 90, 130, 166, 177};
constexpr int Delta[8] = {0, 158, 135, 113, 90, 68, 45, 23};

// Percentages of the strongest channel that a chosen channel's agreement must pass: pixels with
// bit 4 only, pixels with bit 2.
constexpr int C_qual[2] = {92, 85};

// Growth side of a fill by the code of the settled neighbours (bit k = neighbour k, directions
// E, SE, S, SW, W, NW, N, NE): 0 forbids the fill, else the low four bits e give 360 e / 16.
// clang-format off
constexpr unsigned char kSide[256] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1A, 0x00, 0x1B, 0x00, 0x00, 0x00, 0x00, 0x1C, 0x1B, // 0x
    0x00, 0x14, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x2C, 0x1E, 0x2E, 0x1D, 0x1C, // 1x
    0x00, 0x15, 0x16, 0x00, 0x1F, 0x00, 0x00, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x2C, // 2x
    0x00, 0x00, 0x00, 0x24, 0x00, 0x00, 0x2E, 0x22, 0x10, 0x28, 0x20, 0x28, 0x1F, 0x27, 0x1E, 0x1D, // 3x
    0x00, 0x00, 0x17, 0x00, 0x18, 0x00, 0x00, 0x2A, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x24, 0x23, // 4x
    0x00, 0x00, 0x00, 0x00, 0x00, 0x42, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2E, 0x00, 0x2E, 0x24, // 5x
    0x00, 0x00, 0x00, 0x26, 0x00, 0x00, 0x20, 0x22, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x24, 0x49, // 6x
    0x12, 0x22, 0x2A, 0x2A, 0x22, 0x00, 0x2A, 0x22, 0x11, 0x22, 0x29, 0x43, 0x10, 0x28, 0x1F, 0x2E, // 7x
    0x00, 0x00, 0x00, 0x18, 0x19, 0x00, 0x00, 0x19, 0x1A, 0x00, 0x00, 0x28, 0x00, 0x2A, 0x2C, 0x1A, // 8x
    0x13, 0x00, 0x00, 0x20, 0x00, 0x00, 0x00, 0x2A, 0x00, 0x24, 0x00, 0x20, 0x26, 0x26, 0x25, 0x1B, // 9x
    0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0x21, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x22, // Ax
    0x00, 0x24, 0x00, 0x20, 0x00, 0x00, 0x00, 0x4B, 0x20, 0x28, 0x00, 0x20, 0x20, 0x4D, 0x26, 0x2C, // Bx
    0x00, 0x16, 0x00, 0x17, 0x00, 0x26, 0x28, 0x18, 0x00, 0x2E, 0x00, 0x28, 0x20, 0x2E, 0x24, 0x19, // Cx
    0x00, 0x26, 0x00, 0x2F, 0x00, 0x00, 0x00, 0x20, 0x22, 0x2E, 0x00, 0x45, 0x26, 0x26, 0x4F, 0x2A, // Dx
    0x14, 0x15, 0x24, 0x16, 0x2C, 0x26, 0x2C, 0x17, 0x24, 0x2D, 0x00, 0x2E, 0x2C, 0x47, 0x24, 0x28, // Ex
    0x13, 0x14, 0x24, 0x15, 0x2B, 0x2C, 0x41, 0x26, 0x12, 0x13, 0x2A, 0x24, 0x11, 0x22, 0x20, 0x40, // Fx
};
// clang-format on

// Ray direction 2c + 45 s rounded to a multiple of 45 degrees.
int RayDirection(int d)
{
    const int a = Mod360(d);
    return a < 338 ? ((a + 22) / 45) * 45 : 0;
}

// The level-3 layers the stage works on.
struct Planes {
    unsigned char* marks; // 128
    unsigned char* flow;  // 32
    unsigned char* power; // 112
    unsigned char* cls;   // 129
    unsigned char* dir;   // 37
    unsigned char* state; // 240
    unsigned char* out;   // 35
    unsigned char* pick;  // 241
    unsigned char* pickS; // 242
    unsigned char* ang[4];
    unsigned char* str[4];
};

// What a fill of an inner pixel decides from its settled neighbours, apart from the threshold:
// the distance of the growth side from the neighbours' orientation (-1: never filled) and the
// orientation filled in. It holds until a neighbour settles: a settled pixel (state below
// MARKER) keeps its state and flow, and an inner pixel's own flow changes only by its fill.
struct Fill {
    std::int16_t dist;
    unsigned char turned;
    bool known;
};

// The decision of Scheme for inner pixel `at`.
Fill Decide(const Codex& cx, const Planes& p, int at, int w)
{
    int code = 0;
    int sx = 0;
    int sy = 0;
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        const int o = at + StepOffset(k, w);
        if (p.state[o] < MARKER) {
            code |= 1 << k;
            const int phi = p.out[o] % 180;
            sx += cx.Cb[phi];
            sy += cx.Sb[phi];
        }
    }
    const int e = kSide[code];
    if (e == 0) {
        return Fill{-1, 0, true};
    }
    const int theta = CWork::HalfOr(sx, sy, 0);
    const int d = CWork::Fold(theta - p.out[at]);
    const int wgt = cx.m_rank.Cor[90 + d];
    const int turned = Codex::Mod180(theta - (cx.m_quick != 0 ? wgt / 2 : wgt / 3));
    const int side = ((e & 15) * 360) >> 4;
    return Fill{static_cast<std::int16_t>(CWork::Dist(side, theta)),
                static_cast<unsigned char>(turned), true};
}

// Fill of one inner pixel from its settled neighbours; `t` is the current growth threshold.
// The decision is kept in `fill` until Settled forgets it.
void Scheme(const Codex& cx, const Planes& p, int at, int w, int t, Fill& fill)
{
    if (!fill.known) {
        fill = Decide(cx, p, at, w);
    }
    if (fill.dist < t) {
        return;
    }
    p.out[at] = fill.turned;
    p.state[at] = MARKER;
}

// Inner pixel `at` has settled: the decisions of its eight neighbours are made again.
void SettledInner(std::vector<Fill>& fills, int at, int w)
{
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        fills[static_cast<std::size_t>(at + StepOffset(k, w))].known = false;
    }
}

// Pixel `at` has settled: the decisions of its neighbours are made again.
void Settled(std::vector<Fill>& fills, int at, int w, int h)
{
    const int x = at % w;
    const int y = at / w;
    if (x > 0 && y > 0 && x < w - 1 && y < h - 1) { // an inner pixel has all eight
        SettledInner(fills, at, w);
        return;
    }
    for (int k = 0; k < 8; ++k) {
        const int nx = x + kStepX[k];
        const int ny = y + kStepY[k];
        if (nx >= 0 && ny >= 0 && nx < w && ny < h) {
            fills[static_cast<std::size_t>(ny * w + nx)].known = false;
        }
    }
}

// Copies state and flow of pixel `from` to `to` when `to` is not settled.
void Follow(const Planes& p, int to, int from, std::vector<Fill>& fills, int w, int h)
{
    if (p.state[to] > MARKER) {
        p.state[to] = p.state[from];
        p.out[to] = p.out[from];
        if (p.state[to] < MARKER) {
            Settled(fills, to, w, h);
        }
    }
}

// Propagation steps until a step at threshold 0 fills nothing. Only border pixels follow, so
// the unsettled inner pixels are a list that shrinks as they settle, and a step's fills (state
// MARKER) lie in that list or, through the last column and row, on the border.
void Propagate(const Codex& cx, const Planes& p, int w, int h)
{
    if (w < 2 || h < 2) {
        return; // no inner neighbour to follow
    }
    std::vector<Fill> fills(static_cast<std::size_t>(w) * h, Fill{0, 0, false});
    auto follow = [&](int to, int from) { Follow(p, to, from, fills, w, h); };
    std::vector<int> open; // unsettled inner pixels, ascending
    for (int y = 1; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            if (p.state[y * w + x] > MARKER) {
                open.push_back(y * w + x);
            }
        }
    }
    auto settle = [&](int i) {
        if (p.state[i] == MARKER) {
            p.state[i] = SETTLED;
            Settled(fills, i, w, h);
            return true;
        }
        return false;
    };
    int t = START_T;
    bool changed = true;
    while (changed || t != 0) {
        changed = false;
        // 1. First row from the row below, as it was before this step.
        follow(0, w + 1);
        for (int x = 1; x < w - 1; ++x) {
            follow(x, x + w);
        }
        follow(w - 1, 2 * w - 2);
        // 2. Inner rows: first column, fills, last column after the fills.
        std::size_t next = 0;
        for (int y = 1; y < h - 1; ++y) {
            const int row = y * w;
            follow(row, row + 1);
            for (; next < open.size() && open[next] < row + w; ++next) {
                const int at = open[next];
                Scheme(cx, p, at, w, t, fills[static_cast<std::size_t>(at)]);
            }
            follow(row + w - 1, row + w - 2);
        }
        // 3. Last row from the row above, after its fills.
        const int last = (h - 1) * w;
        follow(last, last - w + 1);
        for (int x = 1; x < w - 1; ++x) {
            follow(last + x, last - w + x);
        }
        follow(last + w - 1, last - 2);
        // 4. This step's fills become settled: the border, then the inner list, which drops
        //    its settled pixels.
        for (int x = 0; x < w; ++x) {
            changed = settle(x) || changed;
            changed = settle(last + x) || changed;
        }
        for (int y = 1; y < h - 1; ++y) {
            changed = settle(y * w) || changed;
            changed = settle(y * w + w - 1) || changed;
        }
        std::size_t kept = 0;
        for (const int at : open) {
            if (p.state[at] == MARKER) { // settle(at), knowing the list holds inner pixels
                p.state[at] = SETTLED;
                SettledInner(fills, at, w);
                changed = true;
            } else {
                open[kept++] = at;
            }
        }
        open.resize(kept);
        if (t != 0) {
            t -= 2;
        }
    }
}

} // namespace

int Codex::SwFlow(int step)
{
    const int s = m_swSector;
    if (m_swSweep == 0) {
        if (step == 0) {
            ++m_swRays;
            m_swDiff += Fold(m_swOrient[s] - Mod360(m_swModel[s]));
        }
        return 0;
    }
    *m_walk[0] = static_cast<unsigned char>(*m_walk[0] | MODELLED_BIT);
    const int m = m_swG + m_swModel[s];
    const int d = Fold(m_swOrient[s] - Mod360(m));
    *m_walk[1] = static_cast<unsigned char>(Mod180(m + m_rank.Cor[90 + d] / m_swJ));
    return 0;
}

void Codex::Swells(int)
{
    if (GetKey(129, FLOW_LEVEL) == -1) {
        Attrac(1);
    }
    m_stage = SWELLS_STAGE;
    OldLay(m_stage);
    m_curLevel = FLOW_LEVEL;
    const CLevel& l3 = m_level[FLOW_LEVEL];
    const int w = l3.width;
    const int h = l3.height;
    const int n = static_cast<int>(l3.size);
    m_winLeft = 0;
    m_winTop = 0;
    m_winRight = w - 1;
    m_winBottom = h - 1;
    int best = 0;

    // 1. The agreement curve: 0 at 0 and at 90 degrees, largest near 11.
    static const int corPoints[] = {4, 0, 0, 11, 9, 64, 6, 90, 0};
    m_rank.CorGau(corPoints);
    m_rank.CorSmo(4);

    // 2. Layers; the chosen-channel layers start cleared so that a pixel where no channel
    //    scores holds angle 0 and strength 0.
    Planes p{};
    p.marks = Layer(128, FLOW_LEVEL);
    p.flow = Layer(32, FLOW_LEVEL);
    p.power = Layer(112, FLOW_LEVEL);
    p.state = Layer(240, FLOW_LEVEL);
    p.out = Layer(35, FLOW_LEVEL);
    p.pick = Layer(241, FLOW_LEVEL);
    p.pickS = Layer(242, FLOW_LEVEL);
    for (int k = 0; k < 4; ++k) {
        p.ang[k] = Layer(38 + k, FLOW_LEVEL);
        p.str[k] = Layer(119 + k, FLOW_LEVEL);
    }
    p.cls = Layer(129, FLOW_LEVEL);
    p.dir = Layer(37, FLOW_LEVEL);
    std::memset(p.pick, 0, l3.size);
    std::memset(p.pickS, 0, l3.size);
    std::memcpy(p.out, p.flow, l3.size);
    for (int i = 0; i < n; ++i) {
        if ((p.marks[i] & (2 | 4)) != 0) {
            p.marks[i] = static_cast<unsigned char>(p.marks[i] | SETTLED_BIT);
        }
    }

    // 3. Singular model: rays of length 2 around every singular pixel take the pattern's
    //    orientation, corrected by the flow measured around the point.
    if (m_quick == 0 && integ != 0) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const int at = y * w + x;
                const int c = p.cls[at];
                if (c != 1 && c != 2 && c != 8) {
                    continue;
                }
                const int dir = p.dir[at];
                // 3.1 Sector orientations of the measured flow.
                for (int s = 0; s < 8; ++s) {
                    m_cosSum[s] = m_sinSum[s] = m_wSum[s] = 0;
                }
                m_ringPoint = static_cast<RingFn>(&CWork::Argums_quick);
                WalkAt(x, y, FLOW_LEVEL, p.dir, p.flow, p.power);
                Spiral(FLOW_LEVEL, 2, 2);
                Targum(m_cosSum, m_sinSum, m_swOrient, p.flow + at);
                // 3.2 Model of the point's class.
                const int* tpl = c == 1 ? Whorl : c == 2 ? Loops : Delta;
                m_swJ = c == 1 ? 2 : 1;
                for (int s = 0; s < 8; ++s) {
                    m_swModel[s] = 2 * dir + tpl[s];
                }
                // 3.3 Two sweeps over the eight rays.
                m_swRays = 0;
                m_swDiff = 0;
                m_step = static_cast<StepFn>(&Codex::SwFlow);
                for (m_swSweep = 0; m_swSweep < 2; ++m_swSweep) {
                    for (int s = 0; s < 8; ++s) {
                        m_swSector = s;
                        WalkAt(x, y, FLOW_LEVEL, nullptr, p.marks, p.out);
                        Bresen(RayDirection(2 * dir + 45 * s), 2, FLOW_LEVEL);
                    }
                    if (m_swSweep == 0) {
                        m_swG = m_swRays > 0 ? m_rank.Cor[90 + m_swDiff / m_swRays] : 0;
                    }
                }
                m_step = nullptr;
            }
        }
        Resume();
    }

    // 4. Cycles of propagation, channel choice and adoption.
    for (int cycle = 1; cycle <= CYCLES; ++cycle) {
        for (int i = 0; i < n; ++i) {
            p.state[i] = (p.marks[i] & (SETTLED_BIT | MODELLED_BIT)) != 0 ? SETTLED : UNSETTLED;
        }
        Propagate(*this, p, w, h);
        if (cycle == CYCLES) {
            break;
        }
        int sum = 0;
        for (int i = 0; i < n; ++i) {
            for (int k = 0; k < 4; ++k) {
                m_coarse[8 + 2 * k] = p.ang[k] + i;
                m_coarse[9 + 2 * k] = p.str[k] + i;
            }
            const int smax = GemReg_I(p.pick + i, p.pickS + i, p.out[i]);
            const int d = Fold(p.pick[i] - p.out[i]);
            const int v = Descale13(CosDeg(Mod360(2 * d)) * p.pickS[i]);
            sum += v;
            const int q = (p.marks[i] & 2) != 0   ? C_qual[1]
                          : (p.marks[i] & 4) != 0 ? C_qual[0]
                                                  : -1;
            if (q < 0) {
                continue;
            }
            if (v > q * smax / 100) {
                p.marks[i] = static_cast<unsigned char>(p.marks[i] | SETTLED_BIT);
            } else {
                p.marks[i] = static_cast<unsigned char>(p.marks[i] & ~SETTLED_BIT);
            }
        }
        for (int k = 0; k < 8; ++k) {
            m_coarse[8 + k] = nullptr;
        }
        if (sum < best) {
            break;
        }
        best = sum;
        std::memcpy(p.flow, p.pick, l3.size);
        std::memcpy(p.power, p.pickS, l3.size);
        for (int i = 0; i < n; ++i) {
            if ((p.marks[i] & MODELLED_BIT) == 0) {
                p.out[i] = p.flow[i];
            }
        }
    }

    DelLay(240, FLOW_LEVEL);
    DelLay(241, FLOW_LEVEL);
    DelLay(242, FLOW_LEVEL);
}

} // namespace wizard73
