// Ridge-walking primitives: bright and dark ridge walks (single, summing, paired), recursive
// neighbourhood exploration, the chain follower Runner and the straight walk UnWrap. They move
// the walk position and the five walk cursors together with the level's direction table and
// never step from a pixel on the level's outermost ring. Nothing throws.

#include "extraction/engine/Codex.h"

#include <type_traits>

namespace wizard73 {
namespace {

enum Kind { LAY_W, LAY_I, SUM_W, SUM_I, SYN_W, SYN_I };

bool Bright(int kind)
{
    return kind == LAY_W || kind == SUM_W || kind == SYN_W;
}

} // namespace

void CBase::MvTune(int dir, int level)
{
    m_walkLevel = level;
    const CLevel& lv = m_level[level];
    m_fwdAhead = lv.step[dir & 7];
    m_fwdRight = lv.step[(dir + 1) & 7];
    m_fwdLeft = lv.step[(dir + 7) & 7];
}

bool CBase::WalkInside() const
{
    const CLevel& lv = m_level[m_walkLevel];
    return m_wx >= 1 && m_wy >= 1 && m_wx <= lv.width - 2 && m_wy <= lv.height - 2;
}

void CBase::WalkStep(int dir)
{
    const CLevel& lv = m_level[m_walkLevel];
    m_wx += lv.dx[dir];
    m_wy += lv.dy[dir];
    m_walkOff += lv.step[dir];
    Advance(m_walk, WZ_WALKERS, lv.step[dir]);
}

int CBase::RidgeWalk(int dir, int steps, int stopAfterMarks, int level, int kind)
{
    if (level < 0 || level >= WZ_LEVELS) {
        return 0;
    }
    MvTune(dir, level);
    const bool bright = Bright(kind);
    const bool paired = kind == SYN_W || kind == SYN_I;
    auto marked = [bright](int v) { return bright ? v >= 128 : v < 127; };
    auto inside2 = [this]() {
        const CLevel& lv = m_level[m_walkLevel];
        return m_wx2 >= 1 && m_wy2 >= 1 && m_wx2 <= lv.width - 2 && m_wy2 <= lv.height - 2;
    };
    // 1. A walk that cannot start.
    if (steps == 0 || !WalkInside() || (paired && !inside2())) {
        return kind == LAY_W || kind == LAY_I ? static_cast<int>(marked(*m_walk[0])) : 0;
    }
    const CLevel& lv = m_level[level];
    const int d0 = dir & 7;
    const int xMax = lv.width - 2;
    const int yMax = lv.height - 2;
    int s1 = 0;
    int s2 = 0;
    int run = 0;
    bool lastMarked = marked(*m_walk[0]);
    // The walk runs on local copies of its position and first cursor; the members, including
    // all walk cursors, take the whole move when the walk ends.
    int wx = m_wx;
    int wy = m_wy;
    const unsigned char* p0 = m_walk[0];
    int moved = 0;
    auto settle = [&]() {
        m_wx = wx;
        m_wy = wy;
        m_walkOff += moved;
        Advance(m_walk, WZ_WALKERS, moved);
    };
    const bool layer = kind == LAY_W || kind == LAY_I;
    // The steps, built once per pair of walk flags so that the flags are constants in the loop.
    // Returns true when a layer walk stops on its first unmarked pixel after marks.
    auto walk = [&](auto brightFlag, auto pairedFlag) {
        constexpr bool kBright = decltype(brightFlag)::value;
        constexpr bool kPaired = decltype(pairedFlag)::value;
        for (int n = 0; n < steps; ++n) {
            // 2. Choose among ahead, right and left on the first cursor's layer.
            const int a = p0[m_fwdAhead];
            const int r = p0[m_fwdRight];
            const int l = p0[m_fwdLeft];
            int go;
            if (kBright) {
                go = a >= r ? (a >= l ? d0 : d0 + 7) : (r > l ? d0 + 1 : d0 + 7);
            } else {
                go = a <= r ? (a <= l ? d0 : d0 + 7) : (r < l ? d0 + 1 : d0 + 7);
            }
            go &= 7;
            wx += lv.dx[go];
            wy += lv.dy[go];
            moved += lv.step[go];
            p0 += lv.step[go];
            if (kPaired) {
                m_wx2 += lv.dx[go];
                m_wy2 += lv.dy[go];
                if (m_walk2 != nullptr) {
                    m_walk2 += lv.step[go];
                }
            }
            // 3. Accumulate and apply the stop rule.
            const int v = *p0;
            s1 += kBright ? v - 127 : 127 - v;
            if (kPaired) {
                const int v2 = *m_walk2;
                s2 += kBright ? 127 - v2 : v2 - 127;
            }
            lastMarked = kBright ? v >= 128 : v < 127;
            if (stopAfterMarks != 0) {
                if (lastMarked) {
                    ++run;
                } else if (run > 0) {
                    return layer;
                }
            }
            // 4. Leave the level's inner area: stop.
            if (wx < 1 || wy < 1 || wx > xMax || wy > yMax || (kPaired && !inside2())) {
                break;
            }
        }
        return false;
    };
    using Yes = std::true_type;
    using No = std::false_type;
    const bool stopped = bright ? (paired ? walk(Yes(), Yes()) : walk(Yes(), No()))
                                : (paired ? walk(No(), Yes()) : walk(No(), No()));
    settle();
    if (stopped) {
        return 0;
    }
    switch (kind) {
    case LAY_W:
    case LAY_I:
        return static_cast<int>(lastMarked);
    case SUM_W:
    case SUM_I:
        return s1 >= 1 ? 2 * s1 : 0;
    default: {
        const int m = s1 < s2 ? s1 : s2;
        return m > 0 ? 2 * m : 0;
    }
    }
}

int CBase::MvLayW(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk(dir, steps, stopAfterMarks, level, LAY_W);
}

int CBase::MvLayI(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk(dir, steps, stopAfterMarks, level, LAY_I);
}

int CBase::MvSumW(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk(dir, steps, stopAfterMarks, level, SUM_W);
}

int CBase::MvSumI(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk(dir, steps, stopAfterMarks, level, SUM_I);
}

int CBase::MvSynW(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk(dir, steps, stopAfterMarks, level, SYN_W);
}

int CBase::MvSynI(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk(dir, steps, stopAfterMarks, level, SYN_I);
}

// Depth-first exploration over every `stride`-th neighbour; at depth 0 the leaf callback
// answers. Returns the leaf's answer at depth 0, otherwise the number of neighbours the chain
// callback accepted.
int CBase::RoundWalk(int depth, int stride)
{
    Codex* self = Self();
    if (depth <= 0) {
        return (self->*m_leaf)();
    }
    int accepted = 0;
    for (int d = 0; d < 8; d += stride) {
        if (!WalkInside()) {
            continue;
        }
        m_lastDir = d;
        WalkStep(d);
        if ((self->*m_chain)() != 0) {
            ++accepted;
            RoundWalk(depth - 1, stride);
        }
        WalkStep((d + 4) & 7);
    }
    return accepted;
}

// Sets the walk level and returns the chain callback's answer at the start, or 0 for a level
// out of range.
int CBase::WalkStart(int level)
{
    if (level < 0 || level >= WZ_LEVELS) {
        return 0;
    }
    m_walkLevel = level;
    return (Self()->*m_chain)();
}

int CBase::Rounde(int depth)
{
    return RoundWalk(depth, 1);
}

int CBase::Roundf(int depth)
{
    return RoundWalk(depth, 2);
}

int CBase::Rounde(int depth, int level)
{
    return WalkStart(level) != 0 ? Rounde(depth - 1) : 0;
}

int CBase::Roundf(int depth, int level)
{
    return WalkStart(level) != 0 ? Roundf(depth - 1) : 0;
}

int CBase::Runner(int maxSteps, int level)
{
    int answer = WalkStart(level);
    if (answer == 0) {
        return 0;
    }
    Codex* self = Self();
    for (int n = 0; n < maxSteps; ++n) {
        if (!WalkInside()) {
            return 0; // no step from the outermost ring: the walk ends here
        }
        for (int d = 0; d < 8; ++d) {
            WalkStep(d);
            m_lastDir = d;
            answer = (self->*m_chain)();
            if (answer != 0) {
                break;
            }
            if (d < 7) {
                WalkStep((d + 4) & 7);
            }
        }
        if (answer == 0) {
            return 0; // all eight refused: the position rests on the north-east neighbour
        }
    }
    return answer;
}

void CBase::UnWrap(int steps, int level)
{
    if (level < 0 || level >= WZ_LEVELS || m_dirList == nullptr) {
        return;
    }
    m_walkLevel = level;
    const int dir = m_dirList[m_dirIndex];
    if (dir > 7) {
        return;
    }
    Codex* self = Self();
    for (int n = 0; n < steps && WalkInside(); ++n) {
        WalkStep(dir);
        if ((self->*m_chain)() == 0) {
            break;
        }
    }
}

} // namespace wizard73
