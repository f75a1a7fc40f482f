// Angular accumulators of CWork: ring callbacks for Spiral that sum doubled-angle direction
// vectors per sector or per pair of opposite sectors, rotation sums against the rank object's
// angle curve, direction pickers among four candidates, the zero-mean kernel builder GemWeb,
// and Targum. Directions in layers are half-turn bytes (0..179); ring angles whole degrees.

#include "extraction/engine/Codex.h"

#include <cstdint>

namespace wizard73 {
namespace {

// Any difference in degrees brought into -179..180.
int Fold180(int d)
{
    const int m = Mod360(d);
    return m > 180 ? m - 360 : m;
}

// Axial distance 0..90 between two angles in degrees.
int Axial(int a, int b)
{
    int d = Mod360(a - b) % 180;
    return d > 90 ? 180 - d : d;
}

// (v + 128) / 256 with truncation toward zero.
int Back8(int v)
{
    return (v + 128) / 256;
}

// Orientation byte as an index of the 180-entry direction tables.
int HalfTurn(unsigned char q)
{
    return q % 180;
}

// The sectors with a positive ring weight, by the offset (centre - angle) mod 360 of sector
// 0's axis from the ring point: the sector numbers in rising order and their weights.
struct SectorRow {
    int count;
    int k[8];
    int w[8];
};

struct SectorTable {
    SectorRow row[360];
};

// Built once from the ring weights W (a = -180..180).
SectorTable MakeSectorTable(const std::int32_t* W)
{
    SectorTable t{};
    for (int d0 = 0; d0 < 360; ++d0) {
        SectorRow& r = t.row[d0];
        for (int k = 0; k < 8; ++k) {
            const int w = W[Fold180(d0 + 45 * k)];
            if (w > 0) {
                r.k[r.count] = k;
                r.w[r.count] = w;
                ++r.count;
            }
        }
    }
    return t;
}

} // namespace

// Sector sums: for every sector axis within 90 degrees of the ring point, its doubled-angle
// vector weighted by the ring weight and the point's magnitude, added to cosSum, sinSum and
// (with weights) wSum.
// Inlined into the ring walk of SectorRing, where the sums are locals.
__attribute__((always_inline)) inline void CWork::SectorPoint(int angle, bool weights, int* cosSum,
                                                              int* sinSum, int* wSum) const
{
    const int centre = m_ringValue * *m_refc;
    const int q = HalfTurn(*m_walk[0]);
    const int m = *m_walk[1];
    // The point's vector times its magnitude, taken once (|256 * 64 * 255| stays far below
    // 2^31 in any order of the products).
    const int cm = Cd[q] * m;
    const int sm = Sd[q] * m;
    // Only the sectors whose axis lies within 90 degrees of the ring point take a share.
    static const SectorTable table = MakeSectorTable(W);
    const SectorRow& r = table.row[Mod360(centre - angle)];
    for (int j = 0; j < r.count; ++j) {
        const int k = r.k[j];
        const int w = r.w[j];
        cosSum[k] += Back8(cm * w);
        sinSum[k] += Back8(sm * w);
        if (weights) {
            wSum[k] += w;
        }
    }
}

void CWork::Sector(int angle, bool weights)
{
    SectorPoint(angle, weights, m_cosSum, m_sinSum, m_wSum);
}

// The ring's integer sums gather in locals and are added to the members once: the same sums
// as point by point.
int CWork::SectorRing(int level, int radius, int value, bool weights)
{
    int cosSum[8] = {};
    int sinSum[8] = {};
    int wSum[8] = {};
    const int n = RingWalk(level, radius, value, [&](int angle, int) {
        SectorPoint(angle, weights, cosSum, sinSum, wSum);
    });
    for (int k = 0; k < 8; ++k) {
        m_cosSum[k] += cosSum[k];
        m_sinSum[k] += sinSum[k];
        m_wSum[k] += wSum[k];
    }
    return n;
}

bool CWork::KnownRing(int level, int radius, int value, int& count)
{
    if (m_ringPoint == static_cast<RingFn>(&CWork::Argums_quick)) {
        count = SectorRing(level, radius, value, true);
    } else if (m_ringPoint == static_cast<RingFn>(&CWork::Argums_NoApw_quick)) {
        count = SectorRing(level, radius, value, false);
    } else if (m_ringPoint == static_cast<RingFn>(&CWork::Twists_I)) {
        count = RingWalk(level, radius, value, [this](int, int) { TwistsPoint(); });
    } else if (m_ringPoint == static_cast<RingFn>(&CWork::Argums_I)) {
        count = RingWalk(level, radius, value, [this](int angle, int) { ArgumsPoint(angle); });
    } else {
        return false;
    }
    return true;
}

void CWork::Argums_quick(int angle, int)
{
    Sector(angle, true);
}

void CWork::Argums_NoApw_quick(int angle, int)
{
    Sector(angle, false);
}

void CWork::Argums(int angle, int index)
{
    Argums_NoApw(angle, index);
    const int centre = m_ringValue * *m_refc;
    for (int k = 0; k < 8; ++k) {
        const int w = W[Fold180(Mod360(centre + 45 * k) - angle)];
        if (w > 0) {
            m_wSum[k] += w;
        }
    }
}

void CWork::Argums_NoApw(int angle, int)
{
    const int centre = m_ringValue * *m_refc;
    const int t = Mod360(2 * *m_walk[0]);
    const int m = *m_walk[1];
    for (int k = 0; k < 8; ++k) {
        const int w = W[Fold180(Mod360(centre + 45 * k) - angle)];
        if (w <= 0) {
            continue;
        }
        m_cosSum[k] += Descale13(CosDeg(t) * w * m);
        m_sinSum[k] += Descale13(SinDeg(t) * w * m);
    }
}

// Front (along the centre direction) and back (opposite) sums of the ring.
void CWork::Argums_I(int angle, int)
{
    ArgumsPoint(angle);
}

__attribute__((always_inline)) inline void CWork::ArgumsPoint(int angle)
{
    const int c = Mod360(m_ringValue * *m_refc);
    const int t = Mod360(2 * *m_walk[0]);
    const int s = *m_walk[1];
    const int wf = W[Fold180(c - angle)];
    if (wf > 0) {
        m_frontCos += Descale13(CosDeg(t) * wf * s);
        m_frontSin += Descale13(SinDeg(t) * wf * s);
    }
    const int wb = W[Fold180(c + 180 - angle)];
    if (wb > 0) {
        m_backCos += Descale13(CosDeg(t) * wb * s);
        m_backSin += Descale13(SinDeg(t) * wb * s);
    }
}

void CWork::Argums_I_quick(int angle, int)
{
    const int c = Mod360(m_ringValue * *m_refc);
    const int q = HalfTurn(*m_walk[0]);
    const int s = *m_walk[1];
    const int wf = W[Fold180(c - angle)];
    if (wf > 0) {
        m_frontCos += Back8(Cd[q] * wf * s);
        m_frontSin += Back8(Sd[q] * wf * s);
    }
    const int wb = W[Fold180(c + 180 - angle)];
    if (wb > 0) {
        m_backCos += Back8(Cd[q] * wb * s);
        m_backSin += Back8(Sd[q] * wb * s);
    }
}

void CWork::Twists_I(int, int)
{
    TwistsPoint();
}

__attribute__((always_inline)) inline void CWork::TwistsPoint()
{
    const int a = Mod360(2 * *m_refc);
    const int b = Mod360(2 * *m_walk[0]);
    // Axis o at (a + 45 o) mod 360, stepped without a division.
    for (int o = 0, ao = a; o < 8; ++o, ao = ao >= 315 ? ao - 315 : ao + 45) {
        int e = ao - b;
        e = e < 0 ? -e : e;
        e = e > 179 ? 360 - e : e;
        m_rotSum[o] += m_rank.Cor[90 + e / 2];
    }
    ++m_rotPoints;
}

int CWork::Twists(int, int)
{
    const int a = Mod360(2 * *m_refc);
    const int b = Mod360(2 * *m_walk[0]);
    int last = 0;
    for (int o = 0, ao = a; o < 8; ++o, ao = ao >= 315 ? ao - 315 : ao + 45) {
        int e = ao - b;
        e = e < 0 ? -e : e;
        e = e > 179 ? 360 - e : e;
        last = m_rank.Cor[90 + e / 2];
        m_rotSum[o] += 2 * last;
        ++m_rotCount[o];
    }
    return last;
}

// Candidate k: angle byte under m_coarse[8 + 2k], magnitude under m_coarse[9 + 2k].
int CWork::GemReg_I(unsigned char* angleOut, unsigned char* magOut, int ref)
{
    const int r = Mod360(ref);
    int best = 0;
    int top = 0;
    for (int k = 0; k < 4; ++k) {
        const int a = *m_coarse[8 + 2 * k];
        const int m = *m_coarse[9 + 2 * k];
        top = m > top ? m : top;
        const int score = Descale13(TabSig[90 - Axial(a, r)] * m);
        if (score > best) {
            best = score;
            *angleOut = static_cast<unsigned char>(a);
            *magOut = static_cast<unsigned char>(m);
        }
    }
    return top;
}

void CWork::GemReg_Stream_1(unsigned char* angleOut, unsigned char* magOut, int ref)
{
    GemReg_I(angleOut, magOut, ref);
}

int CWork::GemReg(unsigned char* angleOut, unsigned char* magOut, int ref)
{
    const int r = Mod360(ref);
    int best = 0;
    int top = 0;
    for (int k = 0; k < 4; ++k) {
        const unsigned char* pa = ProSrc(38 + k, m_curLevel, m_curLevel);
        const unsigned char* pm = ProSrc(119 + k, m_curLevel, m_curLevel);
        if (pa == nullptr || pm == nullptr) {
            continue; // no such layer and no slot to hold one
        }
        top = *pm > top ? *pm : top;
        const int score = Descale13(TabSig[90 - Axial(*pa, r)] * *pm);
        if (score > best) {
            best = score;
            *angleOut = *pa;
            *magOut = *pm;
        }
    }
    return top;
}

int CWork::GemWeb(SStep* taps, int r, int level, int angle, int kind)
{
    if (r <= 0) { // no window: an empty list
        taps[0].off = 0;
        return taps[0].val;
    }
    const int width = m_level[level < 0 || level >= WZ_LEVELS ? 0 : level].width;
    const int a = Mod360(angle);
    int n = 0;
    int centre = -1;
    std::int64_t sum = 0;
    for (int y = -r; y <= r; ++y) {
        for (int x = -r; x <= r; ++x) {
            const int X = 180 * x / r;
            const int Y = 180 * y / r;
            if (kind == 1) {
                const int t = Descale13(CosDeg(a) * X) + Descale13(SinDeg(a) * Y);
                if (t > 45 || t < -45) {
                    continue;
                }
            }
            const int d = sqri(X * X + Y * Y);
            if (d > 180) {
                continue;
            }
            const int weight = Descale13(m_amp * CosDeg(Mod360(m_rank.Cor[d])));
            taps[n].x = x;
            taps[n].y = y;
            taps[n].off = x + y * width;
            taps[n].val = weight;
            if (x == 0 && y == 0) {
                centre = n;
            }
            sum += weight;
            ++n;
        }
    }
    taps[n].off = 0;
    if (n == 0) {
        return 0;
    }
    const std::int64_t mean = sum > 0 ? (sum + n / 2) / n : (sum - n / 2) / n;
    std::int64_t rest = 0;
    for (int i = n - 1; i >= 0; --i) {
        taps[i].val -= static_cast<int>(mean);
        rest += taps[i].val;
    }
    taps[centre].val -= static_cast<int>(rest);
    return taps[centre].val;
}

void Targum(const int* cosSums, const int* sinSums, int* out, const unsigned char* centre)
{
    for (int k = 0; k < 8; ++k) {
        const int c = cosSums[k];
        const int s = sinSums[k];
        if (c != 0 && s != 0) {
            out[k] = atan(c, s) / 2;
        } else if (c == 0 && s != 0) {
            out[k] = s > 0 ? 45 : 135;
        } else if (s == 0 && c != 0) {
            out[k] = c > 0 ? 0 : 90;
        } else {
            out[k] = *centre;
        }
    }
}

} // namespace wizard73
