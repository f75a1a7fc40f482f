// Layer store, pyramid geometry and coordinate mapping, and the raster scan engine: Scener over
// one level, Scenes over a coarse level in blocks of a finer one, the border-block walk Fragmo
// and the ring walk Spiral. Layers are 8-bit planes of a level's width * height bytes; the
// scans move the stage's cursors and call the installed member callbacks. Nothing throws.

#include "extraction/engine/Codex.h"
#include "extraction/engine/FlowMean.h"
#include "extraction/engine/Steps.h"

#include <cstddef>
#include <cstring>

namespace wizard73 {
namespace {

bool ValidLevel(int level)
{
    return level >= 0 && level < WZ_LEVELS;
}

} // namespace

// clang-format off
constexpr SRingStep ring[96] = {
    // ring 1, entries 0-7
    {0, 2, 0}, {2, 3, 45}, {4, 0, 90}, {4, 3, 135}, {6, 0, 180}, {6, 4, 225}, {0, 0, 270},
    {0, 6, 315},
    // ring 2, entries 8-23
    {0, 4, 338}, {2, 0, 0}, {2, 7, 23}, {2, 5, 45}, {4, 0, 68}, {4, 0, 90}, {4, 7, 113},
    {4, 5, 135}, {6, 0, 158}, {6, 0, 180}, {6, 8, 203}, {6, 6, 225}, {0, 0, 248}, {0, 0, 270},
    {0, 9, 293}, {0, 7, 315},
    // ring 3, entries 24-43
    {0, 5, 324}, {2, 0, 342}, {2, 0, 0}, {2, 9, 18}, {2, 7, 36}, {3, 5, 54}, {4, 0, 72},
    {4, 0, 90}, {4, 9, 108}, {4, 7, 126}, {5, 5, 144}, {6, 0, 162}, {6, 0, 180}, {6, 10, 198},
    {6, 8, 216}, {7, 6, 234}, {0, 0, 252}, {0, 0, 270}, {0, 11, 288}, {0, 9, 306},
    // ring 4, entries 44-67
    {0, 7, 315}, {1, 5, 330}, {2, 0, 345}, {2, 0, 0}, {2, 11, 15}, {2, 9, 30}, {3, 7, 45},
    {3, 5, 60}, {4, 0, 75}, {4, 0, 90}, {4, 11, 105}, {4, 9, 120}, {5, 7, 135}, {5, 5, 150},
    {6, 0, 165}, {6, 0, 180}, {6, 12, 195}, {6, 10, 210}, {7, 8, 225}, {7, 6, 240},
    {0, 0, 255}, {0, 0, 270}, {0, 13, 285}, {0, 11, 300},
    // ring 5, entries 68-95
    {0, 9, 309}, {1, 7, 322}, {1, 5, 335}, {2, 0, 348}, {2, 0, 0}, {2, 13, 13}, {2, 11, 26},
    {3, 9, 39}, {3, 7, 52}, {3, 5, 65}, {4, 0, 78}, {4, 0, 90}, {4, 13, 103}, {4, 11, 116},
    {5, 9, 129}, {5, 7, 142}, {5, 5, 155}, {6, 0, 168}, {6, 0, 180}, {6, 14, 193},
    {6, 12, 206}, {7, 10, 219}, {7, 8, 232}, {7, 6, 245}, {0, 0, 258}, {0, 0, 270},
    {0, 15, 283}, {0, 13, 296},
};
// clang-format on

namespace {

constexpr SRingReach MakeRingReach(int r)
{
    SRingReach e{};
    int x = 0;
    int y = 0;
    for (int i = 0; i < kRingEntries[r]; ++i) {
        const int d = ring[i].dir;
        if (kStepX[d] == 1 && x > e.east) {
            e.east = static_cast<std::int8_t>(x);
        }
        if (kStepX[d] == -1 && -x > e.west) {
            e.west = static_cast<std::int8_t>(-x);
        }
        if (kStepY[d] == 1 && y > e.south) {
            e.south = static_cast<std::int8_t>(y);
        }
        if (kStepY[d] == -1 && -y > e.north) {
            e.north = static_cast<std::int8_t>(-y);
        }
        x += kStepX[d];
        y += kStepY[d];
    }
    e.endX = static_cast<std::int8_t>(x);
    e.endY = static_cast<std::int8_t>(y);
    return e;
}

} // namespace

constexpr SRingReach ringReach[5] = {MakeRingReach(0), MakeRingReach(1), MakeRingReach(2),
                                     MakeRingReach(3), MakeRingReach(4)};

Codex* CBase::Self()
{
    return static_cast<Codex*>(this); // Codex is the only class ever instantiated
}

// ---------------------------------------------------------------------------------------------
// Layer store

void CBase::SetMap(const int* counts)
{
    for (int l = 0; l < WZ_LEVELS; ++l) {
        const int c = counts[l] < 0 ? 0 : counts[l] > WZ_SLOTS ? WZ_SLOTS : counts[l];
        m_level[l].slots = static_cast<std::uint8_t>(c);
    }
}

void CBase::SetGeo(int width0, int height0)
{
    // Sides are 16-bit fields: a larger side is clamped so that width, height and size agree.
    int w = width0 < 0 ? 0 : width0 > 65535 ? 65535 : width0;
    int h = height0 < 0 ? 0 : height0 > 65535 ? 65535 : height0;
    for (int l = 0; l < WZ_LEVELS; ++l) {
        CLevel& lv = m_level[l];
        lv.scale = static_cast<std::uint8_t>(1 << l);
        lv.width = static_cast<std::uint16_t>(w);
        lv.height = static_cast<std::uint16_t>(h);
        lv.size = static_cast<std::uint32_t>(w) * static_cast<std::uint32_t>(h);
        for (int d = 0; d < 8; ++d) {
            lv.dx[d] = kStepX[d];
            lv.dy[d] = kStepY[d];
            lv.step[d] = StepOffset(d, w);
            lv.xEdge[d] = kStepX[d] == 1 ? w - 1 : kStepX[d] == -1 ? 0 : -9;
            lv.yEdge[d] = kStepY[d] == 1 ? h - 1 : kStepY[d] == -1 ? 0 : -9;
        }
        std::int32_t off = 0;
        for (int i = 0; i < 96; ++i) {
            off += lv.step[ring[i].dir];
            m_ringOff[l][i] = off;
        }
        m_ringWidth[l] = w;
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
}

void CBase::NewDoc()
{
    std::size_t total = 0;
    for (const CLevel& lv : m_level) {
        total += static_cast<std::size_t>(lv.slots) * lv.size;
    }
    // Slots are not cleared, here or when claimed: every stage writes the cells of a layer it
    // claims before it reads them.
    m_block.reset();
    m_block.reset(new unsigned char[total == 0 ? 1 : total]);
    unsigned char* p = m_block.get();
    for (CLevel& lv : m_level) {
        for (int s = 0; s < WZ_SLOTS; ++s) {
            lv.key[s] = WZ_FREE_KEY;
            lv.stamp[s] = -1;
            lv.buf[s] = nullptr;
            if (s < lv.slots) {
                lv.buf[s] = p;
                p += lv.size;
            }
        }
        lv.peak = 0;
    }
    // The work planes are not cleared: every stage writes the cells it later reads.
    const std::size_t plane = m_level[0].size == 0 ? 1 : m_level[0].size;
    for (auto& pl : m_plane) {
        pl.reset();
        pl.reset(new std::int16_t[plane]);
    }
}

int CBase::GetKey(int id, int level) const
{
    if (!ValidLevel(level) || id < 0) { // a negative id would match the free key
        return -1;
    }
    const CLevel& lv = m_level[level];
    for (int s = 0; s < lv.slots; ++s) {
        if (lv.key[s] == static_cast<std::uint32_t>(id)) {
            return s;
        }
    }
    return -1;
}

unsigned char* CBase::ClaimLay(int id, int level)
{
    if (!ValidLevel(level) || m_level[level].slots == 0 || id < 0) {
        return nullptr;
    }
    CLevel& lv = m_level[level];
    int used = 0;
    int free = -1;
    for (int s = 0; s < lv.slots; ++s) {
        if (lv.key[s] != WZ_FREE_KEY) {
            ++used;
        } else if (free < 0) {
            free = s;
        }
    }
    if (used + 1 > lv.peak) {
        lv.peak = static_cast<std::uint8_t>(used + 1);
    }
    if (free < 0) {
        return nullptr;
    }
    ++m_claims;
    lv.key[free] = static_cast<std::uint32_t>(id);
    lv.stamp[free] = m_stage;
    lv.hint = static_cast<std::uint8_t>(free);
    return lv.buf[free];
}

void CBase::DelLay(int id, int level)
{
    const int s = GetKey(id, level);
    if (s >= 0) {
        m_level[level].key[s] = WZ_FREE_KEY;
        m_level[level].stamp[s] = -1;
    }
}

void CBase::OldLay(int stage)
{
    for (CLevel& lv : m_level) {
        for (int s = 0; s < lv.slots; ++s) {
            if (lv.stamp[s] >= stage) {
                lv.key[s] = WZ_FREE_KEY;
                lv.stamp[s] = -1;
            }
        }
    }
}

unsigned char* CBase::ProRef(int id, int x, int y, int level, int fromLevel)
{
    if (!ValidLevel(level) || !ValidLevel(fromLevel) || m_level[level].scale == 0) {
        return nullptr; // no geometry yet
    }
    const int xl = x * m_level[fromLevel].scale / m_level[level].scale;
    const int yl = y * m_level[fromLevel].scale / m_level[level].scale;
    unsigned char* base = GetLay(id, level);
    if (base == nullptr) {
        return nullptr;
    }
    return base + xl + static_cast<std::ptrdiff_t>(m_level[level].width) * yl;
}

void CBase::ProLay(int id, int x, int y, int level, int fromLevel)
{
    if (!ValidLevel(level) || !ValidLevel(fromLevel) || m_level[level].scale == 0) {
        return; // no geometry yet
    }
    m_wx = x * m_level[fromLevel].scale / m_level[level].scale;
    m_wy = y * m_level[fromLevel].scale / m_level[level].scale;
    m_walkOff = m_wx + m_level[level].width * m_wy;
    m_walk[0] = ProRef(id, x, y, level, fromLevel);
}

unsigned char* CBase::ProSrc(int id, int level, int fromLevel)
{
    return ProRef(id, m_fineX, m_fineY, level, fromLevel);
}

int CBase::DipPyr(int v, int fine, int coarse)
{
    const int d = (coarse - fine) & 255;
    return d < 32 ? v * (1 << d) + (1 << d) / 2 : 0;
}

// ---------------------------------------------------------------------------------------------
// Raster scans

void CBase::Resume()
{
    m_tune = static_cast<TuneFn>(&CBase::Deaden);
    m_tune2 = static_cast<TuneFn>(&CBase::Deaden);
    m_blockTest = static_cast<TestFn>(&CBase::Spirit);
    m_pixel = static_cast<ActFn>(&CBase::Deaden);
    m_blockDone = static_cast<ActFn>(&CBase::Deaden);
    m_edgeTest = static_cast<TestFn>(&CBase::Spirit);
    m_edgePixel = static_cast<ActFn>(&CBase::Deaden);
    m_edgeDone = static_cast<ActFn>(&CBase::Deaden);
    m_ringPoint = static_cast<RingFn>(&CBase::Deaden);
    m_step = nullptr;
    m_chain = static_cast<TestFn>(&CBase::Deafen);
    m_leaf = static_cast<TestFn>(&CBase::Deafen);
    m_fineX = m_fineY = m_scanX = m_scanY = 0;
    m_clipX = m_clipY = 0;
    for (int i = 0; i < WZ_CURSORS; ++i) {
        m_fine[i] = nullptr;
        m_coarse[i] = nullptr;
    }
}

void CBase::Scener(int level)
{
    if (!ValidLevel(level)) {
        Resume();
        return;
    }
    Codex* self = Self();
    m_W = m_w = m_level[level].width;
    m_H = m_h = m_level[level].height;
    m_Wm1 = m_wm1 = m_W - 1;
    m_Wp1 = m_wp1 = m_W + 1;
    for (int d = 0; d < 8; ++d) {
        m_nb[d] = m_level[level].step[d];
    }
    m_claims = 0;
    m_half = m_centre = 0;
    m_clipX = m_clipY = 0;
    (self->*m_tune)(level, level);
    (self->*m_tune2)(level, level);
    if (m_claims != 0) {
        (self->*m_fresh)();
    }
    for (int y = 0; y < m_H; ++y) {
        for (int x = 0; x < m_W; ++x) {
            m_fineX = m_scanX = x;
            m_fineY = m_scanY = y;
            if (x < m_winLeft || x > m_winRight || y < m_winTop || y > m_winBottom) {
                (self->*m_edgePixel)();
            } else {
                (self->*m_pixel)();
            }
            Advance(m_fine, 8, 1);
            Advance(m_coarse, 8, 1);
        }
    }
    Resume();
}

void CBase::Scenes(int mode, int border, int scanLevel, int fineLevel)
{
    if (!ValidLevel(scanLevel) || !ValidLevel(fineLevel) || fineLevel > scanLevel) {
        Resume(); // a fine level coarser than the scanned one has no blocks
        return;
    }
    Codex* self = Self();
    const CLevel& fl = m_level[fineLevel];
    const CLevel& sl = m_level[scanLevel];
    m_W = fl.width;
    m_H = fl.height;
    m_Wm1 = m_W - 1;
    m_Wp1 = m_W + 1;
    m_w = sl.width;
    m_h = sl.height;
    m_wm1 = m_w - 1;
    m_wp1 = m_w + 1;
    for (int d = 0; d < 8; ++d) {
        m_nb[d] = fl.step[d];
    }
    const int k = 1 << (scanLevel - fineLevel);
    // 1. Preparation.
    m_claims = 0;
    m_half = m_centre = 0;
    m_clipX = m_clipY = 0;
    (self->*m_tune)(scanLevel, fineLevel);
    (self->*m_tune2)(scanLevel, fineLevel);
    if (m_claims != 0) {
        (self->*m_fresh)();
    }
    if (mode == 1) {
        m_half = k / 2;
        m_centre = (m_W + 1) * (k / 2);
    }
    // 2. Raster over the scanned level.
    unsigned char* saved[WZ_CURSORS];
    m_fineY = 0;
    for (int row = 0; row < m_h; ++row) {
        m_scanY = row;
        m_fineX = 0;
        for (int col = 0; col < m_w; ++col) {
            m_scanX = col;
            m_fineX = col * k;
            m_fineY = row * k;
            // 2.1 Clip: the last block of a row or column overlaps its neighbour.
            const int s = m_fineX + k > m_W ? m_fineX + k - m_W : 0;
            const int t = m_fineY + k > m_H ? m_fineY + k - m_H : 0;
            m_fineX -= s;
            m_fineY -= t;
            m_clipX = s;
            m_clipY = t * m_W;
            Advance(m_fine, WZ_CURSORS, -(s + t * m_W));
            // 2.2 Dispatch.
            const bool edge = border > 0 && (col < border || row < border || col >= m_w - border ||
                                             row >= m_h - border);
            if (!edge && mode == 0) {
                if ((self->*m_blockTest)() != 0) {
                    std::memcpy(saved, m_fine, sizeof saved);
                    const int x0 = m_fineX;
                    const int y0 = m_fineY;
                    for (int r = 0; r < k; ++r) {
                        for (int c = 0; c < k; ++c) {
                            (self->*m_pixel)();
                            Advance(m_fine, WZ_CURSORS, 1);
                            ++m_fineX;
                        }
                        Advance(m_fine, WZ_CURSORS, m_W - k);
                        m_fineX -= k;
                        ++m_fineY;
                    }
                    std::memcpy(m_fine, saved, sizeof saved);
                    m_fineX = x0;
                    m_fineY = y0;
                    (self->*m_blockDone)();
                }
            } else if (!edge) {
                (self->*m_pixel)();
            } else if (mode == 0) {
                if ((self->*m_edgeTest)() != 0) {
                    Fragmo(k, k * m_W);
                }
            } else {
                (self->*m_edgePixel)();
            }
            // 2.3 Undo the clip, move on by one block.
            Advance(m_fine, WZ_CURSORS, s + t * m_W + k);
            m_clipX = m_clipY = 0;
            Advance(m_coarse, WZ_CURSORS, 1);
        }
        // 2.4 Next block row.
        if (k > 1) {
            Advance(m_fine, WZ_CURSORS, k * m_W - m_w * k);
        }
    }
    Resume();
}

void CBase::Fragmo(int k, int kW)
{
    Codex* self = Self();
    for (int r = 0; r < k; ++r) {
        for (int c = 0; c < k; ++c) {
            (self->*m_edgePixel)();
            Advance(m_fine, WZ_CURSORS, 1);
            ++m_fineX;
        }
        Advance(m_fine, WZ_CURSORS, m_W - k);
        m_fineX -= k;
        ++m_fineY;
    }
    Advance(m_fine, WZ_CURSORS, -kW);
    m_fineY -= k;
    (self->*m_edgeDone)();
}

int CBase::Spiral(int level, int radius, int value)
{
    Codex* self = Self();
    // The most frequent ring steps run their own inlined walk.
    int count = 0;
    if (self->KnownRing(level, radius, value, count)) {
        return count;
    }
    return RingWalk(level, radius, value, [this, self](int angle, int i) {
        const RingFn step = m_ringPoint;
        (self->*step)(angle, i);
    });
}

const std::int32_t* CBase::EdgeRingMake(int level, int r, int cx, int cy)
{
    const CLevel& lv = m_level[level];
    const SRingReach& e = ringReach[r];
    const int w = lv.width;
    const int h = lv.height;
    const int nx = e.west + e.east + 3;
    const int ny = e.north + e.south + 3;
    const int n = kRingEntries[r];
    const int stride = 3 + 2 * n;
    SEdgeRings& t = m_edgeRing[level][r];
    if (t.list == nullptr || t.width != w || t.height != h) {
        // Only the made flags start cleared: a class's list is written when it is made.
        t.list.reset(new std::int32_t[static_cast<std::size_t>(nx * ny * stride)]);
        for (int c = 0; c < nx * ny; ++c) {
            t.list[static_cast<std::size_t>(c * stride)] = 0;
        }
        t.width = w;
        t.height = h;
    }
    std::int32_t* rec = t.list.get() + static_cast<std::size_t>(cy * nx + cx) * stride;
    // One start of the class: the distance to the edge, or the first middle column (row).
    auto start = [](int c, int lo, int hi, int size) {
        return c <= lo ? c : c <= lo + hi + 1 ? size - 1 - (c - lo - 1) : lo + 1;
    };
    int x = start(cx, e.west, e.east, w);
    int y = start(cy, e.north, e.south, h);
    std::int32_t end = 0;
    int count = 0;
    RingNearEdge(lv, n, x, y, [&](int i, int d, bool visited) {
        end += lv.step[d];
        if (visited) {
            rec[3 + 2 * count] = ring[i].angle;
            rec[4 + 2 * count] = end;
            ++count;
        }
    });
    rec[0] = 1;
    rec[1] = count;
    rec[2] = end;
    return rec + 1;
}

int CBase::Fiimpo(int a, const unsigned char* p, int fine) const
{
    return FlowMean(FlowMeanAt(a), p, fine != 0 ? m_W : m_w);
}

} // namespace wizard73
