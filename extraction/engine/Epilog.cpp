// Stage 22, Epilog: the engine's last stage. Writes the record's abac section (ridge counts
// between every pair of singular points, walked over the level-0 skeleton in layer 5) into
// layer 180 of level 3, refreshes the singular points' level and quality from layers 57 and 147
// of level 3, and run-length codes the level-3 foreground mask (from layer 128 of level 1) into
// layer 182 of level 3. Throws WZ_NO_LAYER, or WZ_RECORD_FULL when a section passes its layer.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"
#include "records/TemplateFormat.h"

#include <cstddef>

namespace wizard73 {
namespace {

constexpr int EPILOG_STAGE = 22;
constexpr int AREA_LEVEL = 3;
constexpr int FINE_LEVEL = 1;
constexpr int FOREGROUND = 65; // layer 128: paper or weak bit
constexpr int REFERENCE = 16;
constexpr int RIDGE = 8; // layer-5 values below are on a ridge
constexpr int OUTSIDE = 255;
constexpr int AREA_HEAD = 4;

// Step code 0..7 (0 = +x, counting toward +y) nearest to the direction a in degrees.
int StepCode(int a)
{
    static const int limits[8] = {23, 68, 113, 158, 203, 248, 293, 338};
    for (int k = 0; k < 8; ++k) {
        if (a < limits[k]) {
            return k;
        }
    }
    return 0;
}

// q / w rounded half away from zero, w = 0 counting as 1.
int RoundDiv(int q, int w)
{
    w = w == 0 ? 1 : w;
    return q >= 0 ? (q + w / 2) / w : (q - w / 2) / w;
}

} // namespace

int Codex::Rcount(const SSign& target)
{
    const CLevel& lv = m_level[0];
    const unsigned char* skeleton = GetLay(5, 0);
    int x = m_wx;
    int y = m_wy;
    auto outside = [&lv](int px, int py) {
        return px < 0 || py < 0 || px >= lv.width || py >= lv.height;
    };
    if (outside(x, y) || outside(target.x, target.y)) {
        return -1; // such a walk would leave the image
    }
    int count = 0;
    bool wasRidge = false;
    bool onRidge = false;
    // A walk moves at most one pixel nearer per step; the bound only guards the loop.
    const int most = 2 * (lv.width + lv.height) + 8;
    for (int steps = 0; steps <= most; ++steps) {
        const int dx = target.x - x;
        const int dy = target.y - y;
        const int k = StepCode(atan(dx, dy));
        const int v = skeleton[static_cast<std::ptrdiff_t>(y) * lv.width + x];
        if (v == OUTSIDE) {
            return -1;
        }
        onRidge = v < RIDGE;
        if (onRidge && !wasRidge) {
            ++count;
        }
        wasRidge = onRidge;
        const int dist = sqri(dx * dx + dy * dy);
        if (dist == 0) {
            return onRidge ? count - 1 : count;
        }
        int d = k;
        if (dist > 1) {
            if (x < 1 || x >= lv.width - 1 || y < 1 || y >= lv.height - 1) {
                return -1;
            }
            const int km = (k + 7) & 7;
            const int kp = (k + 1) & 7;
            const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * lv.width + x;
            const int pk = skeleton[at + lv.step[k]];
            const int pm = skeleton[at + lv.step[km]];
            const int pp = skeleton[at + lv.step[kp]];
            d = pk <= pm && pk <= pp ? k : pm <= pp ? km : kp;
        }
        x += lv.dx[d];
        y += lv.dy[d];
        if (outside(x, y)) {
            return -1;
        }
    }
    return -1;
}

int Codex::Rcount(const SSign& a, const SSign& b)
{
    WalkAt(b.x, b.y, 0, nullptr, GetLay(5, 0));
    const int r1 = Rcount(a);
    WalkAt(a.x, a.y, 0, nullptr, GetLay(5, 0));
    const int r2 = Rcount(b);
    if (r1 < 0 && r2 < 0) {
        return -1;
    }
    if (r1 < 0) {
        return (r2 * 4) | 3;
    }
    if (r2 < 0) {
        return (r1 * 4) | 3;
    }
    const int s = r1 + r2;
    const int m = s >> 1;
    const int d1 = r2 - m < 0 ? m - r2 : r2 - m;
    const int d2 = r1 - m < 0 ? m - r1 : r1 - m;
    const int d = d1 < d2 ? d1 : d2;
    if (s >= 64 || d > 3) {
        return -1;
    }
    return (m * 4) | (d > 1 ? d : 1);
}

int Codex::Rtotal()
{
    BitStart(Layer(180, AREA_LEVEL), m_level[AREA_LEVEL].size);
    const int n = m_singular < 16 ? m_singular : 16;
    if (n < 2) {
        return 0;
    }
    for (int i = 0; i + 1 < n; ++i) {
        for (int j = i + 1; j < n; ++j) {
            if (m_sign[i].type == REFERENCE || m_sign[j].type == REFERENCE) {
                continue;
            }
            const int v = Rcount(m_sign[i], m_sign[j]);
            if (v < 0) {
                PutBits(0, 2);
            } else {
                PutBits(static_cast<unsigned>(v) & 127u, 7);
            }
        }
    }
    return static_cast<int>(BitBytes());
}

int Codex::Rcount()
{
    BitStart(Layer(181, AREA_LEVEL), m_level[AREA_LEVEL].size);
    const SSign* list = MinutiaList();
    const int n = m_singular < 16 ? m_singular : 16;
    for (int i = 0; list != nullptr && i < m_minutiae; ++i) {
        for (int j = 0; j < n; ++j) {
            if (m_sign[j].type == REFERENCE) {
                continue;
            }
            const int v = Rcount(list[i], m_sign[j]);
            if (v < 0) {
                PutBits(0, 2);
            } else {
                PutBits(static_cast<unsigned>(v) & 127u, 7);
            }
        }
    }
    return static_cast<int>(BitBytes());
}

int Codex::Rtrace(SCoor& at, const SSign& p)
{
    const CLevel& lv = m_level[0];
    const unsigned char* skeleton = GetLay(5, 0);
    const int a = Mod360(2 * p.angle + 110);
    const int c = CosDeg(a);
    const int s = SinDeg(a);
    bool left = false; // a non-skeleton pixel has been passed
    const int most = lv.width + lv.height;
    for (int t = 0; t <= most; ++t) {
        const int x = p.x + Descale13(t * c);
        const int y = p.y + Descale13(t * s);
        if (x < 0 || y < 0 || x >= lv.width || y >= lv.height) {
            return -1;
        }
        const int v = skeleton[static_cast<std::size_t>(y) * lv.width + x];
        if (v == OUTSIDE) {
            return -1;
        }
        if (v >= RIDGE) {
            left = true;
        } else if (left) {
            at.x = x;
            at.y = y;
            return t;
        }
    }
    return -1;
}

void Codex::IScale()
{
    const CLevel& l3 = m_level[AREA_LEVEL];
    unsigned char* fg = Layer(128, AREA_LEVEL);
    unsigned char* lev = Layer(57, AREA_LEVEL);
    unsigned char* qual = Layer(147, AREA_LEVEL);
    m_ringPoint = static_cast<RingFn>(&Codex::EpHarm);
    const int n = m_singular < 16 ? m_singular : 16;
    for (int i = 0; i < n; ++i) {
        SSign& s = m_sign[i];
        const int x = s.x / l3.scale;
        const int y = s.y / l3.scale;
        if (x < 0 || y < 0 || x >= l3.width || y >= l3.height) {
            continue; // a point outside the image keeps its bytes
        }
        WalkAt(x, y, AREA_LEVEL, nullptr, fg, lev, qual);
        m_epWeight = m_epSum57 = m_epSum147 = 0;
        Spiral(AREA_LEVEL, 4, 1);
        s.level = static_cast<std::uint8_t>(RoundDiv(m_epSum57, m_epWeight));
        s.quality = static_cast<std::uint8_t>(RoundDiv(m_epSum147, m_epWeight));
    }
    m_ringPoint = static_cast<RingFn>(&CBase::Deaden);
}

void Codex::EpHarm(int, int)
{
    const int times = (*m_walk[0] & FOREGROUND) == 0 ? 2 : 1;
    m_epSum57 += times * *m_walk[1];
    m_epSum147 += times * *m_walk[2];
    m_epWeight += times;
}

void Codex::EpList()
{
    while (m_epRun - 255 > 0) {
        PutBits(255, 8);
        PutBits(0, 8);
        m_epRun -= 255;
    }
    PutBits(static_cast<unsigned>(m_epRun), 8);
    m_epRun = 1;
    m_epState ^= 1;
}

void Codex::Epilog(int)
{
    if (GetKey(179, FINE_LEVEL) == -1) {
        Linker(-1);
    }
    m_stage = EPILOG_STAGE;
    OldLay(m_stage);
    m_curLevel = AREA_LEVEL;
    // 4, 5. Ridge counts; levels and qualities of the singular points.
    m_section[TF_ABAC] = static_cast<std::uint32_t>(Rtotal());
    IScale();
    // 6. Area code: runs of foreground and background cells behind a 4-byte head.
    const CLevel& l3 = m_level[AREA_LEVEL];
    const CLevel& l1 = m_level[FINE_LEVEL];
    unsigned char* area = Layer(182, AREA_LEVEL);
    const unsigned char* fg = Layer(128, FINE_LEVEL);
    if (l3.size < AREA_HEAD) {
        m_error = WZ_RECORD_FULL;
        throw WZ_RECORD_FULL;
    }
    BitStart(area + AREA_HEAD, l3.size - AREA_HEAD);
    m_epRun = 0;
    m_epState = 0;
    const int k = l3.scale / l1.scale;
    for (int y = 0; y < l3.height; ++y) {
        for (int x = 0; x < l3.width; ++x) {
            int vote = 0;
            const int x0 = BlockStart(x, k, l1.width);
            const int y0 = BlockStart(y, k, l1.height);
            for (int yy = y0; yy < y0 + k && yy < l1.height; ++yy) {
                for (int xx = x0; xx < x0 + k && xx < l1.width; ++xx) {
                    vote += (fg[yy * l1.width + xx] & FOREGROUND) == 0 ? 1 : -1;
                }
            }
            const int cls = vote < 1 ? 0 : 1;
            if (cls == m_epState) {
                ++m_epRun;
            } else {
                EpList();
            }
        }
    }
    EpList();
    m_section[TF_AREA] = static_cast<std::uint32_t>(AREA_HEAD + BitBytes());
    area[0] = static_cast<unsigned char>(l3.width & 255);
    area[1] = static_cast<unsigned char>(l3.width >> 8);
    area[2] = static_cast<unsigned char>(l3.height & 255);
    area[3] = static_cast<unsigned char>(l3.height >> 8);
    // 7. Energy copies.
    if (m_flag != 0) {
        for (int id = 256; id <= 264; ++id) {
            if (id != 260) {
                DelLay(id, AREA_LEVEL);
            }
        }
    }
}

} // namespace wizard73
