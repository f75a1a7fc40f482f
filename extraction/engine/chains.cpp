// Skeleton arm walks: the arms that leave one skeleton pixel, each followed for a bounded number
// of steps by a visitor that marks, restores, deletes or measures it; on top of them arm
// directions and lengths, crossing detection, spur removal, and chain codes of the arms written
// to and read from a caller's byte buffer. Level-0 skeleton codes; the walks restore what they
// raise except the deleting and rubbing ones. Nothing throws; the chain codes return their codes.

#include "extraction/engine/Codex.h"
#include "extraction/engine/Steps.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

namespace wizard73 {
namespace {

// The arm points form a ring buffer of a power-of-two size, so an index wraps by a mask.
static_assert((WZ_ARM_POINTS & (WZ_ARM_POINTS - 1)) == 0, "ring size a power of two");
constexpr int ARM_POINT_MASK = WZ_ARM_POINTS - 1;

// Axial distance 0..90 between two directions in degrees.
int Axial(int a, int b)
{
    const int d = Mod360(a - b) % 180;
    return d > 90 ? 180 - d : d;
}

// Values the direction visitors (and those built on them) act on: arm pixels 4..7 and the
// arm ends 0, 1 and 3. A closure, so that the walks that take it inline the test.
constexpr auto Directed = [](int v) { return v <= 7 && v != 2; };

} // namespace

// ---------------------------------------------------------------------------------------------
// Single-arm walk

template <class Visitor> int Chain::Visit(Visitor visitor)
{
    const int r = visitor();
    if (r != 0 || m_armStop) {
        m_endX = m_wx;
        m_endY = m_wy;
        m_endP = m_walk[0];
    }
    return r;
}

// The state every arm walk starts from: no code, no stop, empty lists, the end on the walker.
void Chain::ArmStart()
{
    m_armCode = 0;
    m_armStop = false;
    m_head = m_tail = m_kept = 0;
    m_visitCount = 0;
    m_endX = m_wx;
    m_endY = m_wy;
    m_endP = m_walk[0];
}

namespace {

// The first direction from `from` on whose neighbour of p, in rows W bytes apart, heeds holds; 8
// when there is none. The directions are unrolled, so each offset is a constant against the row
// pointers, and the neighbours are read in direction order up to the first that is heeded.
template <class Heeds> inline int FirstHeeded(const unsigned char* p, int W, int from, Heeds heeds)
{
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        if (k >= from && heeds(p[StepOffset(k, W)])) {
            return k;
        }
    }
    return 8;
}

// A walker's place (position, cursor offset, level and cursors), kept to be put back after a
// walk from it.
struct WalkerPlace {
    explicit WalkerPlace(const CBase& w)
        : x(w.m_wx), y(w.m_wy), off(w.m_walkOff), level(w.m_walkLevel)
    {
        std::copy(w.m_walk, w.m_walk + WZ_WALKERS, cursors);
    }
    void PutBack(CBase& w) const
    {
        w.m_wx = x;
        w.m_wy = y;
        w.m_walkOff = off;
        w.m_walkLevel = level;
        std::copy(cursors, cursors + WZ_WALKERS, w.m_walk);
    }
    int x;
    int y;
    std::int32_t off;
    int level;
    unsigned char* cursors[WZ_WALKERS];
};
} // namespace

// Follows the arm from the walker's pixel: the visitor is asked about the start, then about the
// neighbours of the current pixel in direction order; the first it lets through becomes the
// current pixel. Ends when the visitor stops the walk, no neighbour passes, the walker reaches
// the level's outermost ring, or `length` pixels were passed. The walker is put back afterwards.
// Each neighbour is reached from the current pixel's saved position and cursors, so the walker
// stands on it as a step there would have put it; when none passes it stands on the current
// pixel again. A neighbour whose value the visitor does not heed (`heeds` false: the visitor
// would answer 0 and change nothing) is passed over without placing the walker there.
template <class Visitor, class Heeds> int Chain::ArmWalk(Visitor visitor, Heeds heeds, int length)
{
    const WalkerPlace start(*this);
    m_walkLevel = 0;
    ArmStart();
    const CLevel& lv = m_level[0];
    int r = m_walk[0] != nullptr ? Visit(visitor) : 0;
    // The steps with the first `lead` walk cursors set and the others unset (they stay so), or
    // (lead 0) with any other pattern.
    auto steps = [&](auto lead) {
        constexpr int kLead = decltype(lead)::value;
        constexpr int kMoved = kLead == 0 ? WZ_WALKERS : kLead;
        // WalkInside on level 0, which the walk keeps (no visitor moves the walk).
        const int xMax = lv.width - 2;
        const int yMax = lv.height - 2;
        const int W = lv.width; // the level-0 steps are StepOffset(d, W)
        for (int n = 1; r != 0 && !m_armStop && n < length; ++n) {
            const int cx = m_wx;
            const int cy = m_wy;
            if (cx < 1 || cy < 1 || cx > xMax || cy > yMax) {
                break;
            }
            r = 0;
            const int coff = m_walkOff;
            unsigned char* centre[WZ_WALKERS];
            for (int i = 0; i < kMoved; ++i) {
                centre[i] = m_walk[i];
            }
            // m_lastDir ends as the last direction tried: the one visited when the walk goes on
            // or stops, else 7.
            int d = FirstHeeded(centre[0], W, 0, heeds);
            for (; d < 8; d = FirstHeeded(centre[0], W, d + 1, heeds)) {
                const int step = StepOffset(d, W);
                m_wx = cx + lv.dx[d];
                m_wy = cy + lv.dy[d];
                m_walkOff = coff + step;
                for (int i = 0; i < kMoved; ++i) {
                    m_walk[i] = kLead != 0 || centre[i] != nullptr ? centre[i] + step : nullptr;
                }
                m_lastDir = d;
                r = Visit(visitor);
                if (r != 0 || m_armStop) {
                    break;
                }
            }
            if (d == 8) {
                m_lastDir = 7;
            }
            if (r == 0 && !m_armStop) {
                m_wx = cx;
                m_wy = cy;
                m_walkOff = coff;
                for (int i = 0; i < kMoved; ++i) {
                    m_walk[i] = centre[i];
                }
            }
        }
    };
    const bool rest = m_walk[2] == nullptr && m_walk[3] == nullptr && m_walk[4] == nullptr;
    if (rest && m_walk[1] == nullptr) {
        steps(std::integral_constant<int, 1>());
    } else if (rest) {
        steps(std::integral_constant<int, 2>());
    } else {
        steps(std::integral_constant<int, 0>());
    }
    m_armHit = m_armStop;
    start.PutBack(*this);
    return m_armCode;
}

inline void Chain::RingPush()
{
    RingPush(m_wx, m_wy, m_walk[0]);
}

inline void Chain::RingPush(int x, int y, unsigned char* p)
{
    m_pts[m_head] = SPoint{x, y, p};
    m_head = (m_head + 1) & ARM_POINT_MASK;
    if (m_kept == WZ_ARM_POINTS) {
        m_tail = (m_tail + 1) & ARM_POINT_MASK;
    } else {
        ++m_kept;
    }
}

// Direction (degrees) and rounded length from the oldest kept point to the newest.
int Chain::RingAngle(int* length) const
{
    if (m_kept == 0) {
        *length = 0;
        return 0;
    }
    const SPoint& o = m_pts[m_tail];
    const SPoint& n = m_pts[(m_head + WZ_ARM_POINTS - 1) & ARM_POINT_MASK];
    const int dx = n.x - o.x;
    const int dy = n.y - o.y;
    *length = sqri(dx * dx + dy * dy);
    return atan(dx, dy);
}

// Raises the pixel by 16 and lists it for SkeRes_1; false when the list is full.
inline bool Chain::Listed(unsigned char* p)
{
    if (m_visitCount >= WZ_VISITED) {
        return false;
    }
    *p = static_cast<unsigned char>(*p + 16);
    m_visited[m_visitCount++] = p;
    return true;
}

// ---------------------------------------------------------------------------------------------
// Visitors

int Chain::SkeHidV()
{
    unsigned char* p = m_walk[0];
    if (*p == 0 || *p == 1 || *p == 7) {
        *p = static_cast<unsigned char>(*p + 16);
        return 1;
    }
    if (*p == 3) {
        *p = 19;
        m_armStop = true;
    }
    return 0;
}

int Chain::SkeRevV()
{
    unsigned char* p = m_walk[0];
    if (*p >= 16 && *p <= 23 && *p != 18) {
        *p = static_cast<unsigned char>(*p - 16);
        return 1;
    }
    return 0;
}

int Chain::SkeRubV()
{
    unsigned char* p = m_walk[0];
    if (*p >= 16 && *p <= 23 && *p != 18) {
        *p = 128;
        return 1;
    }
    return 0;
}

int Chain::SkeResV()
{
    unsigned char* p = m_walk[0];
    if (*p >= 20 && *p <= 23) {
        *p = static_cast<unsigned char>(*p - 16);
        return 1;
    }
    return 0;
}

int Chain::SkeMrkV()
{
    unsigned char* p = m_walk[0];
    if (*p >= 4 && *p <= 7) {
        *p = static_cast<unsigned char>(*p + 16);
        return 1;
    }
    return 0;
}

int Chain::SkeDelV()
{
    unsigned char* p = m_walk[0];
    if (*p == 0 || *p == 1) {
        *p = *p == 0 ? 7 : 128;
        m_armStop = true;
        return 0;
    }
    if (*p >= 20 && *p <= 23) {
        *p = 128;
        return 1;
    }
    return 0;
}

inline int Chain::SkeDirV()
{
    unsigned char* p = m_walk[0];
    if (*p >= 4 && *p <= 7) {
        RingPush();
        if (!Listed(p)) {
            m_armStop = true;
            return 0;
        }
        return 1;
    }
    if (*p == 0 || *p == 1 || *p == 3) {
        RingPush();
        m_armStop = true;
    }
    return 0;
}

int Chain::SkeMinV()
{
    const int v = *m_walk[0];
    const int r = SkeDirV();
    if (m_armStop && (v == 0 || v == 1)) {
        m_armCode = 1;
    }
    return r;
}

// The walker reached the pixel over a step in direction m_lastDir.
int Chain::EChainV()
{
    const int r = SkeDirV();
    if (r == 0 && !m_armStop) {
        return 0; // not a pixel of the arm
    }
    if (!PutCode((m_lastDir - m_chainDir + 8) % 8)) {
        m_armStop = true;
        return 0;
    }
    m_chainDir = m_lastDir;
    ++m_chainSteps;
    return r;
}

int Chain::SkeLinV()
{
    unsigned char* p = m_walk[0];
    const int v = *p;
    if (v == 4 && m_linkAsk != nullptr && (Self()->*m_linkAsk)() == 0) {
        RingPush();
        m_armStop = true;
        return 0;
    }
    if (v == 0) {
        const int prev = m_kept > 0 ? *m_pts[(m_head + WZ_ARM_POINTS - 1) & ARM_POINT_MASK].p : 0;
        m_armCode = prev == 21 ? 7 : prev == 22 ? 11 : prev == 23 ? 3 : 0;
    } else if (v == 1) {
        m_armCode = 15;
    }
    return SkeDirV();
}

// ---------------------------------------------------------------------------------------------
// Single-arm walks

int Chain::SkeHid(int length)
{
    return ArmWalk([this] { return SkeHidV(); }, [](int v) { return v <= 3 || v == 7; }, length);
}

int Chain::SkeRev(int length)
{
    return ArmWalk([this] { return SkeRevV(); }, [](int v) { return v >= 16 && v <= 23; }, length);
}

int Chain::SkeRub(int length)
{
    return ArmWalk([this] { return SkeRubV(); }, [](int v) { return v >= 16 && v <= 23; }, length);
}

// ArmWalk with SkeResV, which lowers exactly the values it heeds and never stops the walk: each
// step goes to the first raised neighbour, so only the walk cursor moves, held in a local. The
// level-0 steps are StepOffset of its width, as the walker's own table holds them.
int Chain::SkeRes(int length)
{
    ArmStart();
    m_armHit = false;
    unsigned char* const start = m_walk[0];
    if (start == nullptr || SkeResV() == 0) {
        return 0;
    }
    const CLevel& lv = m_level[0];
    const std::ptrdiff_t W = lv.width;
    const int xMax = lv.width - 2;
    const int yMax = lv.height - 2;
    int x = m_wx;
    int y = m_wy;
    unsigned char* p = start;
    for (int n = 1; n < length; ++n) {
        if (x < 1 || y < 1 || x > xMax || y > yMax) {
            break;
        }
        // The first raised neighbour (20..23).
        const int d = FirstHeeded(p, static_cast<int>(W), 0,
                                  [](int v) { return static_cast<unsigned>(v - 20) <= 3; });
        if (d == 8) {
            m_lastDir = 7;
            break;
        }
        m_lastDir = d;
        x += kStepX[d];
        y += kStepY[d];
        p += StepOffset(d, W);
        // A raised pixel (20..23): SkeResV lowers it by 16.
        *p = static_cast<unsigned char>(*p - 16);
    }
    m_walk[0] = start;
    m_endX = x;
    m_endY = y;
    m_endP = p;
    return 0;
}

int Chain::SkeMrk(int length)
{
    return ArmWalk([this] { return SkeMrkV(); }, [](int v) { return v >= 4 && v <= 7; }, length);
}

int Chain::SkeDir(int length)
{
    return DirWalk<false>(length);
}

int Chain::SkeDirWalk(int length)
{
    return ArmWalk([this] { return SkeDirV(); }, Directed, length);
}

int Chain::SkeDel(int length)
{
    return ArmWalk([this] { return SkeDelV(); },
                   [](int v) { return v <= 1 || (v >= 20 && v <= 23); }, length);
}

int Chain::SkeMin(int length)
{
    return ArmWalk([this] { return SkeMinV(); }, Directed, length);
}

int Chain::SkeLin(int length)
{
    return DirWalk<true>(length);
}

// ArmWalk with SkeLinV (kLink) or SkeDirV, which on every value Directed heeds either go on or
// stop the walk, so each step goes to the first heeded neighbour. The walk's position is held in
// locals; the walker itself (position, offset, every cursor) is put on the pixel only for the
// link callback, which reads it, and back on the start at the end, as ArmWalk leaves it.
template <bool kLink> int Chain::DirWalk(int length)
{
    const WalkerPlace start(*this);
    m_walkLevel = 0;
    ArmStart();
    const CLevel& lv = m_level[0];
    int r = 0;
    if (m_walk[0] != nullptr) {
        r = kLink ? Visit([this] { return SkeLinV(); }) : Visit([this] { return SkeDirV(); });
    }
    if (r != 0 && !m_armStop) {
        const int xMax = lv.width - 2;
        const int yMax = lv.height - 2;
        const int W = lv.width; // the level-0 steps are StepOffset(d, W)
        int x = start.x;
        int y = start.y;
        unsigned char* p = m_walk[0];
        for (int n = 1; n < length; ++n) {
            if (x < 1 || y < 1 || x > xMax || y > yMax) {
                break;
            }
            const int d = FirstHeeded(p, W, 0, Directed);
            if (d == 8) {
                m_lastDir = 7;
                break;
            }
            const int step = StepOffset(d, W);
            x += lv.dx[d];
            y += lv.dy[d];
            p += step;
            m_lastDir = d;
            // The visitor on the heeded pixel, which sets the arm's end either way.
            m_endX = x;
            m_endY = y;
            m_endP = p;
            if (kLink && *p == 4 && m_linkAsk != nullptr) {
                const std::ptrdiff_t moved = p - start.cursors[0];
                m_wx = x;
                m_wy = y;
                m_walkOff = start.off + static_cast<std::int32_t>(moved);
                for (int i = 0; i < WZ_WALKERS; ++i) {
                    m_walk[i] = start.cursors[i] != nullptr ? start.cursors[i] + moved : nullptr;
                }
                if ((Self()->*m_linkAsk)() == 0) {
                    RingPush(x, y, p);
                    m_armStop = true;
                    break;
                }
            }
            const int v = *p;
            // SkeLinV's codes of the ends (SkeDirV sets none).
            if (kLink && v == 0) {
                const int prev =
                    m_kept > 0 ? *m_pts[(m_head + WZ_ARM_POINTS - 1) & ARM_POINT_MASK].p : 0;
                m_armCode = prev == 21 ? 7 : prev == 22 ? 11 : prev == 23 ? 3 : 0;
            } else if (kLink && v == 1) {
                m_armCode = 15;
            }
            RingPush(x, y, p);
            // Arm pixels 4..7 go on unless the list of raised pixels is full; the arm ends 0, 1
            // and 3 stop.
            if (v < 4 || !Listed(p)) {
                m_armStop = true;
                break;
            }
        }
    }
    m_armHit = m_armStop;
    start.PutBack(*this);
    return m_armCode;
}

int Chain::SkeLinWalk(int length)
{
    return ArmWalk([this] { return SkeLinV(); }, Directed, length);
}

// ---------------------------------------------------------------------------------------------
// Bookkeeping

void Chain::ArmEnd()
{
    if (m_arms < WZ_ARMS) {
        SArm& a = m_arm[m_arms];
        a.x = m_endX;
        a.y = m_endY;
        a.end = m_endP;
        a.code = m_armCode;
        ++m_arms;
    }
}

void Chain::ArmDel()
{
    for (SArm& a : m_arm) {
        a = SArm{};
    }
    m_arms = 0;
}

void Chain::ArmDir()
{
    if (m_arms < 4) {
        int length = 0;
        m_arm[m_arms].dir = RingAngle(&length);
        ++m_arms;
    }
}

void Chain::ArmArm()
{
    if (m_arms < 4) {
        SArm& a = m_arm[m_arms];
        a.dir = RingAngle(&a.len);
        a.x = m_endX;
        a.y = m_endY;
        a.end = m_endP;
        a.code = m_armCode;
        ++m_arms;
    }
}

void Chain::SkeRes_1()
{
    for (int i = 0; i < m_visitCount; ++i) {
        *m_visited[i] = static_cast<unsigned char>(*m_visited[i] - 16);
    }
    m_visitCount = 0;
}

// Appends one byte; false (and the writer marked full) when the buffer has no room left.
bool Chain::PutCode(int code)
{
    if (m_codes == nullptr || m_codeAt >= m_codeSize) {
        m_codeFull = true;
        return false;
    }
    m_codes[m_codeAt++] = static_cast<unsigned char>(code);
    return true;
}

int Chain::DChain(int code)
{
    if (code == 8) {
        return 0;
    }
    if (code > 8) {
        return WZ_CHAIN_BAD;
    }
    const CLevel& lv = m_level[0];
    const int d = (m_chainDir + code) % 8;
    const int x = m_endX + lv.dx[d];
    const int y = m_endY + lv.dy[d];
    if (x < 0 || y < 0 || x >= lv.width || y >= lv.height) {
        return WZ_CHAIN_BAD;
    }
    m_chainDir = d;
    m_endX = x;
    m_endY = y;
    m_endP += lv.step[d];
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Arm callbacks

void Chain::Glance(int length)
{
    SkeDir(length);
    ArmDir();
    SkeRes_1();
}

void Chain::Follow(int length)
{
    SkeLin(length);
    if (m_armHit) {
        ArmArm();
    } else if (m_arms < WZ_ARMS) {
        ++m_arms;
    }
    SkeRes(length);
}

void Chain::HidArm(int length)
{
    SkeHid(length);
    ArmEnd();
}

void Chain::RubArm(int length)
{
    SkeRub(length);
}

void Chain::RevArm(int length)
{
    SkeRev(length);
}

void Chain::MrkArm(int length)
{
    SkeMrk(length);
}

void Chain::ResArm(int length)
{
    SkeRes(length);
}

// One arm's steps and its closing 8; an arm with no step writes nothing.
void Chain::EChain(int length)
{
    if (m_codeFull) {
        return;
    }
    m_chainDir = 0;
    m_chainSteps = 0;
    ArmWalk([this] { return EChainV(); }, Directed, length);
    SkeRes_1();
    if (m_chainSteps > 0 && PutCode(8)) {
        ++m_chainArms;
    }
}

// A spur ends on an ending or a branch point no farther than length * tan(delta), delta being
// its angle against the orientation; at 90 degrees the limit is unbounded and the arm goes.
void Chain::Sprout(int length)
{
    SkeMin(length);
    if (m_armCode != 1) {
        SkeRes_1();
        return;
    }
    int d = 0;
    const int a = RingAngle(&d);
    const int delta = Axial(a, m_orientation);
    const int c = TabSin[90 - delta];
    const int len = length < 0 ? 0 : length;
    const bool spur = c == 0 || d <= (2 * len * TabSin[delta] + c) / (2 * c);
    if (spur) {
        SkeDel(length);
        ++m_deleted;
    } else {
        SkeRes(length);
    }
}

// ---------------------------------------------------------------------------------------------
// Operations around the centre

void Chain::Boxers(int length)
{
    unsigned char* centre = m_walk[0];
    if (centre == nullptr || (*centre & 128) != 0) {
        return;
    }
    const unsigned char code = *centre;
    const int x = m_wx;
    const int y = m_wy;
    const int off = m_walkOff;
    unsigned char* cursors[WZ_WALKERS];
    for (int i = 0; i < WZ_WALKERS; ++i) {
        cursors[i] = m_walk[i];
    }
    const CLevel& lv = m_level[0];
    *centre = 128;
    for (int d = 0; d < 8; ++d) {
        const int nx = x + lv.dx[d];
        const int ny = y + lv.dy[d];
        if (nx < 0 || ny < 0 || nx >= lv.width || ny >= lv.height) {
            continue; // no arm leaves the level
        }
        unsigned char* q = centre + lv.step[d];
        if (*q >= 128) {
            continue;
        }
        if (m_arms < WZ_ARMS) {
            m_arm[m_arms].first = q;
        }
        m_wx = nx;
        m_wy = ny;
        m_walkOff = off + lv.step[d];
        m_lastDir = d;
        for (int i = 0; i < WZ_WALKERS; ++i) {
            m_walk[i] = cursors[i] != nullptr ? cursors[i] + lv.step[d] : nullptr;
        }
        if (m_armFn != nullptr) {
            (Self()->*m_armFn)(length);
        }
        m_wx = x;
        m_wy = y;
        m_walkOff = off;
        for (int i = 0; i < WZ_WALKERS; ++i) {
            m_walk[i] = cursors[i];
        }
    }
    *centre = code;
}

void Chain::Orient(int length)
{
    m_arms = 0;
    m_armFn = static_cast<ArmFn>(&Chain::Glance);
    Boxers(length);
}

void Chain::Morpho(int length)
{
    ArmDel();
    m_armFn = static_cast<ArmFn>(&Chain::Follow);
    Boxers(length);
}

int Chain::Crossd(int length)
{
    unsigned char* centre = m_walk[0];
    ArmDel();
    m_armFn = static_cast<ArmFn>(&Chain::HidArm);
    Boxers(length);
    if (m_arms == 4) {
        m_armFn = static_cast<ArmFn>(&Chain::RubArm);
        Boxers(length);
        *centre = 128;
        return 1;
    }
    m_armFn = static_cast<ArmFn>(&Chain::RevArm);
    Boxers(length);
    return 0;
}

void Chain::Branch(int length, int orientation)
{
    unsigned char* centre = m_walk[0];
    m_deleted = 0;
    m_orientation = orientation;
    m_armFn = static_cast<ArmFn>(&Chain::Sprout);
    Boxers(length);
    if (centre == nullptr) {
        return;
    }
    if (*centre == 0) {
        *centre = m_deleted == 3 ? 128 : m_deleted == 2 ? 1 : m_deleted == 1 ? 7 : 0;
    } else if (*centre == 1 && m_deleted == 1) {
        *centre = 128;
    }
}

void Chain::Colour(int length)
{
    unsigned char* centre = m_walk[0];
    if (centre == nullptr) {
        return;
    }
    if (*centre == 7) {
        *centre = 23;
    }
    if (*centre == 0 || *centre == 1 || *centre == 23) {
        m_armFn = static_cast<ArmFn>(&Chain::MrkArm);
        Boxers(length);
    }
}

void Chain::Visual(int length)
{
    unsigned char* centre = m_walk[0];
    if (centre == nullptr) {
        return;
    }
    if (*centre == 23) {
        *centre = 7;
    }
    if (*centre == 0 || *centre == 1 || *centre == 7) {
        m_armFn = static_cast<ArmFn>(&Chain::ResArm);
        Boxers(length);
    }
}

// ---------------------------------------------------------------------------------------------
// Chain codes

void Chain::SetChain(unsigned char* codes, int size)
{
    m_codes = codes;
    m_codeSize = codes != nullptr && size > 0 ? size : 0;
    m_codeAt = 0;
}

int Chain::Chaine(int length)
{
    unsigned char* centre = m_walk[0];
    if (centre == nullptr || *centre < 4 || *centre > 7) {
        return WZ_CHAIN_CENTRE;
    }
    m_codeAt = 0;
    m_codeFull = false;
    m_chainArms = 0;
    *centre = static_cast<unsigned char>(*centre + 16);
    m_armFn = static_cast<ArmFn>(&Chain::EChain);
    Boxers(length);
    while (m_chainArms < 2 && PutCode(8)) {
        ++m_chainArms;
    }
    *centre = static_cast<unsigned char>(*centre - 16);
    return m_codeFull ? WZ_CHAIN_FULL : m_codeAt;
}

int Chain::Chaind(int length)
{
    ArmDel();
    if (m_walk[0] == nullptr) {
        return WZ_CHAIN_CENTRE;
    }
    m_codeAt = 0;
    const int most = length < 1 ? 1 : length; // the walk always takes an arm's first step
    int steps = 0;
    m_chainDir = 0;
    m_endX = m_wx;
    m_endY = m_wy;
    m_endP = m_walk[0];
    while (m_codeAt < m_codeSize) {
        const int r = DChain(m_codes[m_codeAt++]);
        if (r < 0) {
            return r;
        }
        if (r == 1) {
            if (++steps > most || m_arms >= WZ_ARMS) {
                return WZ_CHAIN_BAD;
            }
            if (steps == 1) {
                m_arm[m_arms].first = m_endP;
            }
            continue;
        }
        // 8: the arm ends where the read position stands; the next starts at the centre.
        if (m_arms >= WZ_ARMS) {
            return WZ_CHAIN_BAD;
        }
        SArm& a = m_arm[m_arms++];
        a.x = m_endX;
        a.y = m_endY;
        a.end = m_endP;
        steps = 0;
        m_chainDir = 0;
        m_endX = m_wx;
        m_endY = m_wy;
        m_endP = m_walk[0];
    }
    return steps > 0 || m_arms < 2 ? WZ_CHAIN_BAD : m_arms;
}

} // namespace wizard73
