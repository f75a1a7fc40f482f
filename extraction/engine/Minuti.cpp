// Stage 20, Minuti: every ending (code 1) and bifurcation (code 0, or 2) of the level-0 skeleton
// in layer 5 becomes one SSign in layer 176 of level 1 (position, type 1 or 0, direction in
// 2-degree units, level 57, quality 147 with bit 7 near the border or beside an opposite minutia
// and bit 6 near a singular point); the first pixels of a bifurcation's two branch arms get codes
// 5 and 6. Also the template's qualit and densit, and the minutia lookups of stage 21.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wizard73 {
namespace {

constexpr int MINUTI_STAGE = 20;
constexpr int CELL_LEVEL = 1;
constexpr int CELL_WEAK = 65; // layer 128: paper or weak cell
constexpr int SINGULAR_MASK = 11;
constexpr int EDGE_NEAR = 4;
constexpr int EDGE_END = 8;
constexpr int REMOVED = 3;
constexpr int MIN_TRACE = 4;
constexpr int ISO_TRACE = 16;
constexpr int REFERENCE = 16;

// Largest minutia count for the image kind and the byte size of level 1: the list fills at
// most the whole layer.
int MiLimit(unsigned char kind, unsigned size1)
{
    if (kind == 'F' || kind == 'L') {
        const unsigned n = size1 / 2 / 7;
        return n < 255 ? static_cast<int>(n) : 255;
    }
    if (kind == 'P' || kind == 'S') {
        const unsigned n = size1 / 14;
        return n < 2550 ? static_cast<int>(n) : 2550;
    }
    return 0;
}

// Unsigned difference |a - b| of two angles in 0..359 lies in 90..269 (they face apart).
bool Opposed(int a, int b)
{
    const int d = a > b ? a - b : b - a;
    return d >= 90 && d <= 269;
}

int Sq(int v)
{
    return v * v;
}

struct MiWork {
    Codex* cx;
    unsigned char* l4;
    unsigned char* l5;
    const unsigned char* edge; // 164
    const unsigned char* lev;  // 57
    const unsigned char* sing; // 129
    const unsigned char* ori;  // 36
    const unsigned char* qual; // 147
    const unsigned char* per;  // 56
    SSign* list;               // 176
    int limit;
    bool iso;
    int W0;
};

// Ending direction: traced over shorter and shorter arms until it agrees with the orientation.
int MiEnding(MiWork& m, int trace, int o)
{
    Codex& cx = *m.cx;
    int d = 0;
    for (int len = trace;;) {
        cx.Orient(len);
        d = cx.m_arms > 0 ? cx.m_arm[0].dir : 0;
        --len;
        if (len < MIN_TRACE || Codex::Dist(d, o) <= 45) {
            return d;
        }
    }
}

// Bisector of the two arms that lie closest together.
int MiBisector(MiWork& m, int trace, int o)
{
    Codex& cx = *m.cx;
    int d = 0;
    for (int len = trace;;) {
        cx.Orient(len);
        const int n = cx.m_arms < 4 ? cx.m_arms : 4;
        int best = 361;
        d = 0;
        for (int k = 0; k < n; ++k) {
            int e = Mod360(cx.m_arm[k].dir - cx.m_arm[(k + 1) % n].dir);
            e = e > 180 ? e - 360 : e;
            const int ae = e < 0 ? -e : e;
            if (ae <= best) {
                best = ae;
                d = Mod360(cx.m_arm[k].dir - e / 2);
            }
        }
        --len;
        if (len < MIN_TRACE || Codex::Dist(d, o) < 46) {
            return d;
        }
    }
}

// Marks the first pixels of the branch arms: the arms ordered by their turn from `back`, then
// by angle from the first; arm 1 gets 5, arm 2 gets 6.
void MiArms(MiWork& m, int back)
{
    Codex& cx = *m.cx;
    const int n = cx.m_arms < 4 ? cx.m_arms : 4;
    int dir[4];
    unsigned char* first[4];
    int key[4];
    for (int k = 0; k < n; ++k) {
        dir[k] = cx.m_arm[k].dir;
        first[k] = cx.m_arm[k].first;
        key[k] = Codex::Turn(dir[k], back);
    }
    auto sort = [&]() {
        for (int i = 0; i + 1 < n; ++i) {
            for (int k = i + 1; k < n; ++k) {
                if (key[i] > key[k]) {
                    const int d = dir[i], kk = key[i];
                    unsigned char* f = first[i];
                    dir[i] = dir[k], key[i] = key[k], first[i] = first[k];
                    dir[k] = d, key[k] = kk, first[k] = f;
                }
            }
        }
    };
    sort();
    for (int k = 0; k < n; ++k) {
        key[k] = Mod360(dir[k] - dir[0]);
    }
    sort();
    for (int k = 1; k < n && k <= 2; ++k) {
        if (first[k] != nullptr) {
            const std::ptrdiff_t o = first[k] - m.l5;
            m.l5[o] = m.l4[o] = static_cast<unsigned char>(4 + k);
        }
    }
}

// One skeleton pixel of a finger cell b.
void MiRead(MiWork& m, int x, int y, int b)
{
    Codex& cx = *m.cx;
    const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(y) * m.W0 + x;
    const int t = m.l5[o];
    if (t > 2) {
        return;
    }
    if (m.edge[b] == EDGE_END) {
        m.l5[o] = m.l4[o] = REMOVED;
        return;
    }
    if (cx.m_minutiae >= m.limit) {
        return;
    }
    const int o36 = m.ori[b];
    const bool singular = integ != 0 && (m.sing[b] & SINGULAR_MASK) != 0;
    const int trace = m.iso ? ISO_TRACE : m.per[b];
    cx.WalkAt(x, y, 0, nullptr, m.l5);
    int angle = 0;
    if (t == 1) {
        int d = MiEnding(m, trace, o36);
        if (!m.iso && !singular) {
            d = Opposed(d, o36) ? Mod360(o36 + 180) : o36;
        }
        angle = d / 2;
    } else {
        const int d = MiBisector(m, trace, o36);
        int back = Mod360(d + 180);
        if (!m.iso && !singular) {
            back = Opposed(d, o36) ? o36 : Mod360(o36 + 180);
        }
        MiArms(m, back);
        angle = m.iso ? d / 2 : Mod360(back + 180) / 2;
    }
    SSign s{};
    s.x = x;
    s.y = y;
    s.type = static_cast<std::uint8_t>(t == 1 ? 1 : 0); // the record stores the type in one bit
    s.level = m.lev[b];
    s.quality = static_cast<std::uint8_t>(m.qual[b] | (m.edge[b] == EDGE_NEAR ? 128 : 0));
    s.angle = static_cast<std::uint8_t>(angle);
    std::memcpy(&m.list[cx.m_minutiae], &s, sizeof s);
    ++cx.m_minutiae;
}

// Quality marks: opposite minutiae close together (bit 7 of both), minutiae near a singular
// point other than the reference centre (bit 6).
void Doubts(Codex& cx, SSign* list)
{
    const int n = cx.m_minutiae;
    for (int i = 0; i < n; ++i) {
        SSign& a = list[i];
        const int r = ((a.level + (cx.m_quick != 0 ? 16 : 32)) >> 3) + 1;
        for (int j = 0; j < n; ++j) {
            SSign& b = list[j];
            if (j != i && Opposed(2 * a.angle % 360, 2 * b.angle % 360) &&
                Sq(a.x - b.x) + Sq(a.y - b.y) < 3 * r * r) {
                a.quality = static_cast<std::uint8_t>(a.quality | 128);
                b.quality = static_cast<std::uint8_t>(b.quality | 128);
                break;
            }
        }
        for (int k = 0; k < cx.m_singular; ++k) {
            const SSign& s = cx.m_sign[k];
            if ((s.type & SINGULAR_MASK) != 0 && Sq(a.x - s.x) + Sq(a.y - s.y) < 5 * r * r) {
                a.quality = static_cast<std::uint8_t>(a.quality | 64);
                break;
            }
        }
    }
}

} // namespace

void Codex::Minuti(int)
{
    if (GetKey(164, CELL_LEVEL) == -1) {
        Skelet(-1);
    }
    m_stage = MINUTI_STAGE;
    OldLay(m_stage);
    m_curLevel = CELL_LEVEL;

    const CLevel& l1 = m_level[CELL_LEVEL];
    MiWork m{};
    m.cx = this;
    m.W0 = m_level[0].width;
    m.l5 = Layer(5, 0);
    m.l4 = Layer(4, 0);
    m.edge = Layer(164, CELL_LEVEL);
    m.lev = Layer(57, CELL_LEVEL);
    m.sing = integ != 0 ? Layer(129, CELL_LEVEL) : nullptr;
    m.ori = Layer(36, CELL_LEVEL);
    m.qual = Layer(147, CELL_LEVEL);
    m.per = Layer(56, CELL_LEVEL);
    const unsigned char* fg = Layer(128, CELL_LEVEL);
    m.list = reinterpret_cast<SSign*>(Layer(176, CELL_LEVEL));
    m.limit = MiLimit(m_kind, l1.size);
    m.iso = m_iso;
    m_minutiae = 0;

    // 1. Cells: weights of the figures; the pixels of finger cells with an edge code. The sums
    // reach 16 * 255 per cell, past 32 bits on a large level.
    std::int64_t s57 = 0;
    std::int64_t s147 = 0;
    std::int64_t n = 0;
    for (int y = 0; y < l1.height; ++y) {
        for (int x = 0; x < l1.width; ++x) {
            const int b = y * l1.width + x;
            const bool finger = (fg[b] & CELL_WEAK) == 0;
            const int wt = finger ? 16 : 1;
            s57 += wt * m.lev[b];
            s147 += wt * m.qual[b];
            n += wt;
            if (!finger || m.edge[b] == 0) {
                continue;
            }
            const int x0 = BlockStart(x, 2, m.W0);
            const int y0 = BlockStart(y, 2, m_level[0].height);
            for (int yy = y0; yy < y0 + 2 && yy < m_level[0].height; ++yy) {
                for (int xx = x0; xx < x0 + 2 && xx < m.W0; ++xx) {
                    MiRead(m, xx, yy, b);
                }
            }
        }
    }
    // 2. Quality marks and the figures.
    Doubts(*this, m.list);
    n = n == 0 ? 1 : n;
    const std::int64_t dens = s57 >= 1 ? (s57 + n / 2) / n : (s57 - n / 2) / n;
    m_densit = static_cast<unsigned char>(dens & 255);
    const std::int64_t q = 100 * (s147 / 43) / n;
    m_qualit = static_cast<unsigned char>(q < 0 ? 0 : q > 100 ? 100 : q);
}

int Codex::Native(int x, int y, int k)
{
    const SSign* list = MinutiaList();
    if (list == nullptr || m_minutiae == 0) {
        return -1;
    }
    // With k other than -1 only the indices i with i & 127 == k take part.
    int first = 0;
    int step = 1;
    if (k != -1) {
        if (k < 0 || k > 127) {
            return -1;
        }
        first = k;
        step = 128;
    }
    int best = -1;
    long long bestD = 0;
    for (int i = first; i < m_minutiae; i += step) {
        const long long dx = list[i].x - x;
        const long long dy = list[i].y - y;
        const long long d = dx * dx + dy * dy;
        if (best < 0 || d < bestD) {
            best = i;
            bestD = d;
        }
    }
    return best;
}

bool Codex::NativeI(int k)
{
    return Native(m_wx, m_wy, k) == m_activeMinutia;
}

int Codex::Nature(int x, int y) const
{
    int best = -1;
    long long bestD = 0;
    for (int i = 0; i < m_singular && i < 16; ++i) {
        const long long dx = m_sign[i].x - x;
        const long long dy = m_sign[i].y - y;
        const long long d = dx * dx + dy * dy + (m_sign[i].type == REFERENCE ? 1 : 0);
        if (best < 0 || d < bestD) {
            best = i;
            bestD = d;
        }
    }
    return best;
}

void Codex::Active(int x, int y)
{
    m_activeMinutia = -1;
    const SSign* list = MinutiaList();
    for (int i = 0; list != nullptr && i < m_minutiae; ++i) {
        if (list[i].x == x && list[i].y == y) {
            m_activeMinutia = i;
            return;
        }
    }
}

} // namespace wizard73
