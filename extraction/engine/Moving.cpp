// Ridge-walking primitives: bright and dark ridge walks (single, summing, paired), recursive
// neighbourhood exploration, the chain follower Runner and the straight walk UnWrap. They move
// the walk position and the five walk cursors together with the level's direction table and
// never step from a pixel on the level's outermost ring. Nothing throws.

#include "extraction/engine/Codex.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace wizard73 {
namespace {

enum Kind { LAY_W, LAY_I, SUM_W, SUM_I, SYN_W, SYN_I };

} // namespace

void CBase::MvTune(int dir, int level)
{
    m_walkLevel = level;
    const CLevel& lv = m_level[level];
    m_fwdAhead = lv.step[dir & 7];
    m_fwdRight = lv.step[(dir + 1) & 7];
    m_fwdLeft = lv.step[(dir + 7) & 7];
}

// The walk's kinds resolved at compile time: bright or dark ridges, paired or single, and what
// the walk returns (the last pixel's mark, the sum, or the smaller of the paired sums).
template <int Kind> int CBase::RidgeWalk(int dir, int steps, int stopAfterMarks, int level)
{
    constexpr bool kBright = Kind == LAY_W || Kind == SUM_W || Kind == SYN_W;
    constexpr bool kPaired = Kind == SYN_W || Kind == SYN_I;
    constexpr bool kLayer = Kind == LAY_W || Kind == LAY_I;
    if (level < 0 || level >= WZ_LEVELS) {
        return 0;
    }
    MvTune(dir, level);
    const CLevel& lv = m_level[level];
    const int xMax = lv.width - 2;
    const int yMax = lv.height - 2;
    // Steps the walk can surely make from (x, y) before it may leave the inner area; negative
    // when it is outside already.
    auto room = [xMax, yMax](int x, int y) {
        int r = x - 1;
        r = y - 1 < r ? y - 1 : r;
        r = xMax - x < r ? xMax - x : r;
        return yMax - y < r ? yMax - y : r;
    };
    // 1. A walk that cannot start (a paired walk also needs its second cursor).
    int budget = room(m_wx, m_wy);
    if (kPaired) {
        const int r2 = room(m_wx2, m_wy2);
        budget = r2 < budget ? r2 : budget;
    }
    if (steps <= 0 || budget < 0 || (kPaired && m_walk2 == nullptr)) {
        const int v = *m_walk[0];
        return kLayer && (kBright ? v >= 128 : v < 127) ? 1 : 0;
    }
    // The three moves (ahead, right, left) as cursor offsets. The position is not carried
    // along: after each run of steps it is read back from the cursor's change over the run.
    const std::ptrdiff_t fa = m_fwdAhead;
    const std::ptrdiff_t fr = m_fwdRight;
    const std::ptrdiff_t fl = m_fwdLeft;
    const int x0 = m_wx;
    const int y0 = m_wy;
    int x = x0;
    int y = y0;
    unsigned char* const start = m_walk[0];
    const unsigned char* p0 = start;
    const unsigned char* p2 = m_walk2;
    const unsigned char* runStart = p0;
    // A run moves at most `budget + 1` pixels along each axis, which is at most half = (w - 1)
    // / 2 for a level of width w (budget <= (w - 3) / 2), so the column change dx of a run is
    // the one in -half..half with dy * w + dx equal to the cursor change.
    const int w = lv.width;
    const int half = (w - 1) / 2;
    auto settle = [&]() {
        const int d = static_cast<int>(p0 - runStart) + half;
        const int dy = d >= 0 ? d / w : -((w - 1 - d) / w);
        x += d - dy * w - half;
        y += dy;
        runStart = p0;
    };
    // Pixel sums of the two cursors; each step's 127 is taken out once at the end.
    int t1 = 0;
    int t2 = 0;
    int taken = 0;
    bool run = false;
    int v = *p0;
    // 2. One step: choose among ahead, right and left on the first cursor's layer, move and
    // accumulate; true when the new pixel is marked.
    auto step = [&]() {
        const int a = p0[fa];
        const int r = p0[fr];
        const int l = p0[fl];
        std::ptrdiff_t m;
        if (kBright) {
            m = a >= r ? (a >= l ? fa : fl) : (r > l ? fr : fl);
        } else {
            m = a <= r ? (a <= l ? fa : fl) : (r < l ? fr : fl);
        }
        p0 += m;
        v = *p0;
        if (!kLayer) {
            t1 += v;
        }
        if (kPaired) {
            p2 += m;
            t2 += *p2;
        }
        return kBright ? v >= 128 : v < 127;
    };
    // The steps in runs that surely stay inside, the positions checked after each run: a step
    // moves at most one pixel along each axis.
    auto walk = [&](auto stopFlag) {
        int left = steps;
        for (;;) {
            const int chunk = left <= budget ? left : budget + 1;
            left -= chunk;
            int n = 0;
            if (decltype(stopFlag)::value) {
                // 3. The stop rule: the walk ends on its first unmarked pixel after marks (a
                // layer walk then answers 0, a sum walk its sum).
                while (!run && n < chunk) {
                    ++n;
                    run = step();
                }
                while (n < chunk) {
                    ++n;
                    if (!step()) {
                        taken += n;
                        return;
                    }
                }
            } else {
                for (; n < chunk; ++n) {
                    step();
                }
            }
            taken += n;
            if (left == 0) {
                return;
            }
            // 4. Leave the level's inner area: stop.
            settle();
            budget = room(x, y);
            if (kPaired) {
                const int r2 = room(m_wx2 + x - x0, m_wy2 + y - y0);
                budget = r2 < budget ? r2 : budget;
            }
            if (budget < 0) {
                return;
            }
        }
    };
    if (stopAfterMarks != 0) {
        walk(std::true_type());
    } else {
        walk(std::false_type());
    }
    settle();
    const int moved = static_cast<int>(p0 - start);
    m_wx = x;
    m_wy = y;
    m_walkOff += moved;
    Advance(m_walk, WZ_WALKERS, moved);
    if (kPaired) {
        m_wx2 += m_wx - x0;
        m_wy2 += m_wy - y0;
        m_walk2 += moved;
    }
    if (kLayer) {
        return kBright ? (v >= 128 ? 1 : 0) : (v < 127 ? 1 : 0);
    }
    const int base = 127 * taken;
    const int s1 = kBright ? t1 - base : base - t1;
    if (!kPaired) {
        return s1 >= 1 ? 2 * s1 : 0;
    }
    const int s2 = kBright ? base - t2 : t2 - base;
    const int m = s1 < s2 ? s1 : s2;
    return m > 0 ? 2 * m : 0;
}

int CBase::MvLayW(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk<LAY_W>(dir, steps, stopAfterMarks, level);
}

int CBase::MvLayI(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk<LAY_I>(dir, steps, stopAfterMarks, level);
}

int CBase::MvSumW(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk<SUM_W>(dir, steps, stopAfterMarks, level);
}

int CBase::MvSumI(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk<SUM_I>(dir, steps, stopAfterMarks, level);
}

int CBase::MvSynW(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk<SYN_W>(dir, steps, stopAfterMarks, level);
}

int CBase::MvSynI(int dir, int steps, int stopAfterMarks, int level)
{
    return RidgeWalk<SYN_I>(dir, steps, stopAfterMarks, level);
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
