// Stage 10, Attrac: near every singular point the four flow channels of level 3 (angles 38..41,
// strengths 119..122) are traced again from stage 3's saved copies (256..264) along the level-0
// directional responses 10..13; the singular-class map 129 and direction map 37 are rebuilt from
// the singular list, grown by one ring and replicated down to the asked level. Angles are whole
// degrees 0..179, directions in 37 half degrees. Throws WZ_NO_LAYER when a level has no slot.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace wizard73 {
namespace {

constexpr int ATTRAC_STAGE = 10;
constexpr int FLOW_LEVEL = 3;
constexpr int SINGULAR_MASK = 11; // whorl 1, loop 2, delta 8
constexpr int GROWN_BIT = 128;
constexpr int NEAR = 5; // distance limit of the refinement, level-3 pixels

// Run lengths by distance 0..5 to the nearest singular point: straight and diagonal channels.
constexpr int tabrun[6] = {9, 9, 10, 11, 13, 15};
constexpr int tabrun_2[6] = {6, 6, 7, 8, 9, 11};

// q = S / r rounded half away from zero; the strength is q + 7 clamped to a byte.
int WalkStrength(int s, int r)
{
    const int q = s > 0 ? (s + r / 2) / r : (s - r / 2) / r;
    return Codex::ClampByte(q + 7);
}

// Orientation 0..179 of the vector (x, y).
int HalfTurn(int x, int y)
{
    return atan(x, y) % 180;
}

struct Point {
    int x, y;
};

} // namespace

unsigned char* Codex::Layer(int id, int level)
{
    unsigned char* p = GetLay(id, level);
    if (p == nullptr) {
        m_error = WZ_NO_LAYER;
        throw WZ_NO_LAYER;
    }
    return p;
}

void Codex::AtWide(int, int index)
{
    const int v = *m_walk[0];
    if (v != 1 && v != 2 && v != 8) {
        return;
    }
    if (v == 1) {
        m_atCount += 8;
    } else if (index < 8) {
        m_atCount += 1;
    }
    m_atType = v;
    m_atDir = *m_walk[1];
}

void Codex::Attrac(int level)
{
    m_stage = ATTRAC_STAGE;
    OldLay(m_stage);
    m_curLevel = FLOW_LEVEL;
    const int finest = level < 0 ? 0 : level;
    const CLevel& l3 = m_level[FLOW_LEVEL];
    const CLevel& l0 = m_level[0];
    const int w3 = l3.width;
    const int h3 = l3.height;
    const std::size_t n3 = l3.size;
    const int count = m_singular < 0 ? 0 : m_singular > 16 ? 16 : m_singular;
    m_singular = count;

    // 1. Channel refinement near the singular points (normal mode only).
    if (m_quick == 0) {
        Point pos[16];
        for (int i = 0; i < count; ++i) {
            pos[i] = {m_sign[i].x / l3.scale, m_sign[i].y / l3.scale};
        }
        const int k3 = l3.scale / l0.scale;
        // Distance of every pixel to its nearest singular point, NEAR when none is nearer; the
        // four channels share it.
        std::vector<unsigned char> nearest(n3, NEAR);
        for (int y = 0; y < h3; ++y) {
            for (int x = 0; x < w3; ++x) {
                int m = NEAR;
                for (int i = 0; i < count; ++i) {
                    if ((m_sign[i].type & SINGULAR_MASK) == 0) {
                        continue;
                    }
                    const int dx = pos[i].x > x ? pos[i].x - x : x - pos[i].x;
                    const int dy = pos[i].y > y ? pos[i].y - y : y - pos[i].y;
                    if (dx < m && dy < m) {
                        const int d = sqri(dx * dx + dy * dy);
                        m = d < m ? d : m;
                    }
                }
                nearest[static_cast<std::size_t>(y) * w3 + x] = static_cast<unsigned char>(m);
            }
        }
        for (int k = 0; k < 4; ++k) {
            unsigned char* ang = Layer(38 + k, FLOW_LEVEL);
            unsigned char* str = Layer(119 + k, FLOW_LEVEL);
            if (GetKey(256 + k, FLOW_LEVEL) >= 0) {
                std::memcpy(ang, Layer(256 + k, FLOW_LEVEL), n3);
            }
            if (GetKey(261 + k, FLOW_LEVEL) >= 0) {
                std::memcpy(str, Layer(261 + k, FLOW_LEVEL), n3);
            }
            unsigned char* resp = Layer(10 + k, 0);
            for (int y = 0; y < h3; ++y) {
                for (int x = 0; x < w3; ++x) {
                    const std::size_t at = static_cast<std::size_t>(y) * w3 + x;
                    const int m = nearest[at];
                    if (m == NEAR) {
                        continue;
                    }
                    const int r = (k & 1) != 0 ? tabrun_2[m] : tabrun[m];
                    const int cx = BlockStart(x, k3, l0.width) + k3 / 2;
                    const int cy = BlockStart(y, k3, l0.height) + k3 / 2;
                    int best = 0;
                    for (int j = 0; j <= 4; j += 4) {
                        const int a = (k + j) & 7;
                        const int b = (a + 4) & 7;
                        // 1.1 Bright and dark walks from the block centre.
                        WalkAt(cx, cy, 0, nullptr, resp);
                        MvLayW(a, r / 2 + 1, 0, 0);
                        MvLayW(b, r, 1, 0);
                        const Point ew = {m_wx, m_wy};
                        WalkAt(cx, cy, 0, nullptr, resp);
                        MvLayI(a, r / 2 + 1, 0, 0);
                        MvLayI(b, r, 1, 0);
                        const Point ei = {m_wx, m_wy};
                        // 1.2 Paired walks from both ends.
                        WalkAt(ei.x, ei.y, 0, nullptr, resp);
                        m_wx2 = ew.x;
                        m_wy2 = ew.y;
                        m_walk2 = resp + ew.x + static_cast<std::ptrdiff_t>(ew.y) * l0.width;
                        const int p1 = WalkStrength(MvSynI(a, r, 1, 0), r);
                        const int t1 = HalfTurn(ei.x - m_wx, ei.y - m_wy);
                        WalkAt(ew.x, ew.y, 0, nullptr, resp);
                        m_wx2 = ei.x;
                        m_wy2 = ei.y;
                        m_walk2 = resp + ei.x + static_cast<std::ptrdiff_t>(ei.y) * l0.width;
                        const int p2 = WalkStrength(MvSynW(a, r, 1, 0), r);
                        const int t2 = HalfTurn(ew.x - m_wx, ew.y - m_wy);
                        // 1.3 The strongest candidate; ties go to the later one.
                        if (p1 >= best) {
                            ang[at] = static_cast<unsigned char>(t1);
                            str[at] = static_cast<unsigned char>(p1);
                            best = p1;
                        }
                        if (best <= p2) {
                            ang[at] = static_cast<unsigned char>(t2);
                            str[at] = static_cast<unsigned char>(p2);
                            best = p2;
                        }
                    }
                }
            }
        }
        m_walk2 = nullptr;
    }

    // 2. Class and direction marks of the singular points inside the image.
    unsigned char* cls = Layer(129, FLOW_LEVEL);
    unsigned char* dir = Layer(37, FLOW_LEVEL);
    std::memset(cls, 0, n3);
    for (int i = 0; i < m_singular;) {
        const SSign& s = m_sign[i];
        if ((s.type & SINGULAR_MASK) == 0) {
            ++i;
            continue;
        }
        if (s.x > 0 && s.x < l0.width - 1 && s.y > 0 && s.y < l0.height - 1) {
            const std::size_t at = static_cast<std::size_t>(s.y / l3.scale) * w3 + s.x / l3.scale;
            cls[at] = s.type;
            dir[at] = s.angle;
            ++i;
            continue;
        }
        for (int j = i; j + 1 < m_singular; ++j) {
            m_sign[j] = m_sign[j + 1];
        }
        --m_singular;
    }
    DesImp();

    // 3. A free pixel joins a single adjacent loop or delta mark, or a single whorl mark within
    //    two pixels; the grown marks carry bit 7 and do not grow further. A pixel with no
    //    such mark within two pixels (its ring's reach) would count nothing and is passed
    //    over; the last free pixel still walks its ring, so that the walk ends where the scan
    //    leaves it.
    auto growing = [](int v) { return v == 1 || v == 2 || v == 8; };
    std::vector<unsigned char> near(n3, 0);
    for (int y = 0; y < h3; ++y) {
        for (int x = 0; x < w3; ++x) {
            if (!growing(cls[static_cast<std::size_t>(y) * w3 + x])) {
                continue;
            }
            for (int yy = y < 2 ? 0 : y - 2; yy <= y + 2 && yy < h3; ++yy) {
                for (int xx = x < 2 ? 0 : x - 2; xx <= x + 2 && xx < w3; ++xx) {
                    near[static_cast<std::size_t>(yy) * w3 + xx] = 1;
                }
            }
        }
    }
    m_ringPoint = static_cast<RingFn>(&Codex::AtWide);
    auto grow = [&](int x, int y) {
        m_atCount = m_atType = m_atDir = 0;
        WalkAt(x, y, FLOW_LEVEL, nullptr, cls, dir);
        RingWalk(FLOW_LEVEL, 1, 1, [this](int angle, int i) { AtWide(angle, i); });
    };
    std::ptrdiff_t passed = -1; // the last free pixel when it was passed over
    for (int y = 0; y < h3; ++y) {
        for (int x = 0; x < w3; ++x) {
            const std::size_t at = static_cast<std::size_t>(y) * w3 + x;
            if (cls[at] != 0) {
                continue;
            }
            if (near[at] == 0) {
                passed = static_cast<std::ptrdiff_t>(at);
                continue;
            }
            passed = -1;
            grow(x, y);
            if (m_atCount == 1 || m_atCount == 8) {
                dir[at] = static_cast<unsigned char>(m_atDir);
                cls[at] = static_cast<unsigned char>(GROWN_BIT + m_atType);
            }
        }
    }
    if (passed >= 0) {
        grow(static_cast<int>(passed % w3), static_cast<int>(passed / w3));
    }
    Resume();

    // 4. Replication down to the asked level, each block clipped to the level: the first row of
    //    a row of blocks is written cell by cell, its other rows copy that row.
    for (int v = finest; v < FLOW_LEVEL; ++v) {
        const CLevel& lv = m_level[v];
        const int q = l3.scale / lv.scale;
        unsigned char* cv = Layer(129, v);
        unsigned char* dv = Layer(37, v);
        const int lw = lv.width;
        const int span = q * w3 < lw ? q * w3 : lw; // the columns the blocks cover
        for (int y = 0; y < h3 && q * y < lv.height; ++y) {
            const std::size_t at = static_cast<std::size_t>(y) * w3;
            unsigned char* c0 = cv + static_cast<std::size_t>(q * y) * lw;
            unsigned char* d0 = dv + static_cast<std::size_t>(q * y) * lw;
            for (int x = 0, xx = 0; xx < span; ++x) {
                for (int j = 0; j < q && xx < span; ++j, ++xx) {
                    c0[xx] = cls[at + x];
                    d0[xx] = dir[at + x];
                }
            }
            for (int yy = q * y + 1; yy < q * y + q && yy < lv.height; ++yy) {
                const std::size_t o = static_cast<std::size_t>(yy) * lw;
                std::memcpy(cv + o, c0, span);
                std::memcpy(dv + o, d0, span);
            }
        }
    }

    for (int k = 0; k < 4; ++k) {
        DelLay(10 + k, 0);
    }
}

} // namespace wizard73
