// Line walks of Coral: Bresenham lines from the walk position to a point or along a direction,
// calling the step callback per pixel or recording the pixels as SStep entries (x, y and the
// pixel offset of the walk cursor), the skeleton probes, and the marking walk Pastes with its
// neighbourhood table `mask`. Nothing throws.

#include "extraction/engine/Codex.h"

#include <cstdint>

namespace wizard73 {

// clang-format off
const unsigned char mask[256] = {
    1, 1, 1, 2, 1, 0, 34, 0, 1, 1, 1, 2, 34, 0, 0, 0,       //   0
    1, 1, 1, 2, 0, 0, 0, 0, 66, 66, 66, 0, 0, 0, 0, 0,      //  16
    1, 1, 1, 2, 1, 0, 34, 0, 1, 0, 0, 0, 34, 0, 0, 0,       //  32
    66, 66, 66, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,      //  48
    1, 0, 1, 0, 1, 0, 34, 0, 1, 0, 0, 0, 34, 0, 0, 0,       //  64
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,         //  80
    98, 0, 98, 0, 98, 0, 0, 0, 98, 0, 0, 0, 0, 0, 0, 0,     //  96
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,         // 112
    1, 2, 1, 0, 1, 0, 34, 0, 1, 2, 0, 0, 34, 0, 0, 0,       // 128
    1, 2, 0, 0, 0, 0, 0, 0, 66, 0, 0, 0, 0, 0, 0, 0,        // 144
    1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,         // 160
    66, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,        // 176
    98, 0, 98, 0, 98, 0, 0, 0, 98, 0, 0, 0, 0, 0, 0, 0,     // 192
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,         // 208
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,         // 224
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,         // 240
};
// clang-format on

inline void Coral::Pitchs(int level)
{
    m_walkLevel = level < 0 ? 0 : level >= WZ_LEVELS ? WZ_LEVELS - 1 : level;
    const CLevel& lv = m_level[m_walkLevel];
    m_maxX = lv.width - 1;
    m_maxY = lv.height - 1;
    m_xstep = m_ldx < 0 ? -1 : 1;
    m_ystep = m_ldy < 0 ? -1 : 1;
    m_rowStep = m_ldy < 0 ? -lv.width : lv.width;
    m_stepIndex = 0;
    m_hit = 0;
    m_adx = m_ldx < 0 ? -m_ldx : m_ldx;
    m_ady = m_ldy < 0 ? -m_ldy : m_ldy;
    if (m_adx > m_ady) {
        m_err = 2 * m_ady - m_adx;
        m_inc1 = 2 * m_ady;
        m_inc2 = 2 * (m_ady - m_adx);
        m_count = m_adx;
    } else {
        m_err = 2 * m_adx - m_ady;
        m_inc1 = 2 * m_adx;
        m_inc2 = 2 * (m_adx - m_ady);
        m_count = m_ady;
    }
}

namespace {

// The Bresenham state of one line walk, with the major step (every pixel) and the minor step
// (where the error allows) resolved once. The loops that record steps hold it in locals, so
// that storing a step does not force the state back to memory at every pixel.
struct LineWalk {
    int wx;
    int wy;
    int off;
    int err;
    int inc1;
    int inc2;
    int majorX;
    int majorY;
    int majorBy;
    int minorX;
    int minorY;
    int minorBy;

    LineWalk(int x, int y, int offset, int error, bool xMajor, int xstep, int ystep, int rowStep,
             int i1, int i2)
        : wx(x), wy(y), off(offset), err(error), inc1(i1), inc2(i2), majorX(xMajor ? xstep : 0),
          majorY(xMajor ? 0 : ystep), majorBy(xMajor ? xstep : rowStep), minorX(xMajor ? 0 : xstep),
          minorY(xMajor ? ystep : 0), minorBy(xMajor ? rowStep : xstep)
    {
    }

    // One step; returns the pixel offset moved.
    int Step()
    {
        int by = majorBy;
        wx += majorX;
        wy += majorY;
        if (err >= 0) {
            wx += minorX;
            wy += minorY;
            by += minorBy;
            err += inc2;
        } else {
            err += inc1;
        }
        off += by;
        return by;
    }
};

} // namespace

int Coral::Margin() const
{
    return m_wx < 0 || m_wy < 0 || m_wx > m_maxX || m_wy > m_maxY ? 1 : 0;
}

// The line state lives in locals across the walk: visit(w, index) is asked about every pixel
// inside the level (w holds its position and offset, index is the step index) and stops the walk
// with a non-zero answer. The position, offset, error, cursors, step index and remaining count
// go back to the members when the walk ends, as a walk that stored them at every step leaves them.
template <class Visit> void Coral::WalkLine(Visit visit)
{
    LineWalk w{m_wx,    m_wy,    m_walkOff, m_err,  m_adx > m_ady,
               m_xstep, m_ystep, m_rowStep, m_inc1, m_inc2};
    const int maxX = m_maxX;
    const int maxY = m_maxY;
    int index = m_stepIndex;
    int count = m_count;
    for (; count > 0; --count) {
        w.Step();
        if (w.wx < 0 || w.wy < 0 || w.wx > maxX || w.wy > maxY || visit(w, index) != 0) {
            break;
        }
        ++index;
    }
    m_count = count;
    m_stepIndex = index;
    Advance(m_walk, WZ_WALKERS, w.off - m_walkOff);
    m_wx = w.wx;
    m_wy = w.wy;
    m_walkOff = w.off;
    m_err = w.err;
}

// The step callback reads the walk state from the members, so they follow every step.
void Coral::Bresen()
{
    Codex* self = Self();
    const StepFn step = m_step;
    WalkLine([this, self, step](const LineWalk& w, int index) {
        Advance(m_walk, WZ_WALKERS, w.off - m_walkOff);
        m_wx = w.wx;
        m_wy = w.wy;
        m_walkOff = w.off;
        m_err = w.err;
        m_stepIndex = index;
        return step != nullptr ? (self->*step)(index) : 0;
    });
}

int Coral::Bresen(int x, int y, int x0, int y0, int level)
{
    m_ldx = x - x0;
    m_ldy = y - y0;
    Pitchs(level);
    Bresen();
    return m_stepIndex;
}

int Coral::Bresen(int angle, int length, int level)
{
    Aim(angle, length, level);
    Bresen();
    return m_stepIndex;
}

// Sets the line to the table displacement of `length` (clamped to 0..254) pixels at `angle`
// degrees and places it on `level`.
inline void Coral::Aim(int angle, int length, int level)
{
    const int a = Mod360(angle);
    const int m = length < 0 ? 0 : length > 254 ? 254 : length;
    const CTables& t = EngineTables();
    m_ldx = t.Ex[m][a];
    m_ldy = t.Ey[m][a];
    Pitchs(level);
}

// The recording walks move the walk cursor once by the whole line: nothing reads it between
// the steps. Each step's offset goes into steps[i] (with its position when WithXY) and a zero
// step closes the list. Only the positioned walk moves the walk position.
template <bool WithXY> void Coral::RecordWalk(SStep* steps)
{
    LineWalk w{m_wx,    m_wy,    m_walkOff, m_err,  m_adx > m_ady,
               m_xstep, m_ystep, m_rowStep, m_inc1, m_inc2};
    int i = m_stepIndex;
    for (; i < m_count; ++i) {
        w.Step();
        if (steps != nullptr) {
            if (WithXY) {
                steps[i].x = w.wx;
                steps[i].y = w.wy;
            }
            steps[i].off = w.off;
        }
    }
    Advance(m_walk, 1, w.off - m_walkOff);
    m_stepIndex = i;
    if (WithXY) {
        m_wx = w.wx;
        m_wy = w.wy;
    }
    m_walkOff = w.off;
    m_err = w.err;
    if (steps != nullptr) {
        if (WithXY) {
            steps[m_count].x = 0;
            steps[m_count].y = 0;
        }
        steps[m_count].off = 0;
    }
}

void Coral::Bresen(SStep* steps)
{
    RecordWalk<true>(steps);
}

int Coral::Breweb(int angle, int length, int level, SStep* steps)
{
    Aim(angle, length, level);
    Bresen(steps);
    return m_count;
}

void Coral::Bresen_Furiew(SStep* steps)
{
    RecordWalk<false>(steps);
}

int Coral::Breweb_Furiew(int angle, int length, int level, SStep* steps)
{
    Aim(angle, length, level);
    Bresen_Furiew(steps);
    return m_count;
}

int Coral::Breinj(int angle, int length, int level, SStep* steps)
{
    const int a = Mod360(angle);
    m_ldx += Descale13(length * CosDeg(a));
    m_ldy += Descale13(length * SinDeg(a));
    const int from = m_stepIndex;
    Pitchs(level);
    m_stepIndex = from < m_count ? from : m_count;
    Bresen(steps);
    return m_stepIndex;
}

// A probe walk with its step callback `probe` inlined as visit(p, x, y) on the pixel p under
// the walk cursor at (x, y); m_step is left set to `probe` as a walk through it would leave it.
template <class Visit> int Coral::Probe(StepFn probe, int angle, int length, int level, Visit visit)
{
    m_step = probe;
    Aim(angle, length, level);
    unsigned char* const cursor = m_walk[0];
    const std::int32_t from = m_walkOff;
    WalkLine([cursor, from, visit](const LineWalk& w, int) {
        return visit(cursor + (w.off - from), w.wx, w.wy);
    });
    return m_hit;
}

int Coral::SkeSke(int angle, int length, int level)
{
    return Probe(static_cast<StepFn>(&Coral::SkeSkeI), angle, length, level,
                 [this](unsigned char* p, int x, int y) { return SkeSkeAt(p, x, y); });
}

int Coral::SkeEnd(int angle, int length, int level)
{
    return Probe(static_cast<StepFn>(&Coral::SkeEndI), angle, length, level,
                 [this](unsigned char* p, int x, int y) { return SkeEndAt(p, x, y); });
}

int Coral::SkeOut(int angle, int length, int level)
{
    return Probe(static_cast<StepFn>(&Coral::SkeOutI), angle, length, level,
                 [this](unsigned char* p, int, int) { return SkeOutAt(p); });
}

int Coral::SkeSkeI(int)
{
    return SkeSkeAt(m_walk[0], m_wx, m_wy);
}

int Coral::SkeEndI(int)
{
    return SkeEndAt(m_walk[0], m_wx, m_wy);
}

int Coral::SkeOutI(int)
{
    return SkeOutAt(m_walk[0]);
}

inline void Coral::Hit(unsigned char* p, int x, int y)
{
    m_hit = 1;
    m_hitX = x;
    m_hitY = y;
    m_hitCursor = p;
}

inline int Coral::SkeSkeAt(unsigned char* p, int x, int y)
{
    const int v = *p;
    if (v == 7) {
        Hit(p, x, y);
        return 1;
    }
    return (v >= 20 && v <= 23) || v == 128 ? 0 : 1;
}

inline int Coral::SkeEndAt(unsigned char* p, int x, int y)
{
    const int v = *p;
    if (v == 128) {
        return 0;
    }
    if (v == 1) {
        Hit(p, x, y);
    }
    return 1;
}

inline int Coral::SkeOutAt(const unsigned char* p)
{
    if (*p < 255) {
        return 0;
    }
    m_hit = 1;
    return 1;
}

int Coral::Pastes(int x, int y)
{
    m_step = static_cast<StepFn>(&Coral::SkeSet);
    m_walkLevel = 0;
    m_maxX = m_level[0].width - 1;
    m_maxY = m_level[0].height - 1;
    SkeSet(0);
    return Bresen(x, y, m_wx, m_wy, 0);
}

// Neighbours outside the level are neither read nor written.
int Coral::SkeSet(int)
{
    unsigned char* p = m_walk[0];
    if (*p == 255) {
        return 1;
    }
    const CLevel& lv = m_level[m_walkLevel];
    auto inLevel = [&](int d) {
        const int x = m_wx + lv.dx[d];
        const int y = m_wy + lv.dy[d];
        return x >= 0 && y >= 0 && x < lv.width && y < lv.height;
    };
    int code = 0;
    for (int d = 0; d < 8; ++d) {
        if (inLevel(d) && p[lv.step[d]] < 8) {
            code |= 1 << d;
        }
    }
    const int m = mask[code];
    if ((m & 3) != 0) {
        *p = 7;
    }
    if ((m & 2) != 0 && inLevel(m >> 4)) {
        p[lv.step[m >> 4]] = 128;
    }
    return 0;
}

} // namespace wizard73
