// Stage 6, Ifocus: candidate singular regions at level 3. Scores every cell by how much the
// flow twists around it (work layer 240), classes cells by the Poincare index of their sector
// orientations (129: 1 whorl, 2 loop, 8 delta), fits each singular cell's direction (37,
// halved), thins every connected group to its best cell, labels the survivors (152), widens
// them by one cell and refines their directions along short rays. Layers 129, 152, 37 and 48
// are copied down to the target level. Throws only what stages 2 to 5 throw.

#include "extraction/engine/StreamLanes.h"

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace wizard73 {
namespace {

constexpr int IFOCUS_STAGE = 6;
constexpr int LEVEL = 3;
constexpr int NO_LABEL = 255;
constexpr int LAST_LABEL = 239;
constexpr int WIDENED = 128;
constexpr int FLOOD_DEPTH = 255;

constexpr int kWhorl[8] = {90, 137, 0, 43, 90, 137, 0, 43};
constexpr int kDelta[8] = {0, 158, 135, 113, 90, 68, 45, 23};

// The stage's level-3 layers as Ifocus looks them up, and their slots in m_ifLayer.
constexpr int kIds[] = {33, 114, 48, 240, 241, 152, 129, 37};
enum IfLayer { L33, L114, L48, L240, L241, L152, L129, L37 };

} // namespace

// Twist side at radius 0 or 1 from the front and back ring sums.
void Codex::IfIndi_2(int i, int radius)
{
    const int w = m_level[LEVEL].width;
    unsigned char* l33 = m_ifLayer[L33];
    const int c = l33[i];
    m_frontCos = m_frontSin = m_backCos = m_backSin = 0;
    WalkAt(i % w, i / w, LEVEL, l33, l33, m_ifLayer[L114]);
    m_ringPoint = static_cast<RingFn>(&CWork::Argums_I);
    Spiral(LEVEL, radius, 1);
    m_ringPoint = static_cast<RingFn>(&CBase::Deaden);
    const int of = HalfOr(m_frontCos, m_frontSin, c);
    const int ob = HalfOr(m_backCos, m_backSin, c);
    m_ifLayer[L48][i] = static_cast<unsigned char>(
        Fold(of - c) - Fold(ob - c) >= 1 ? (c + 90) / 2 : Mod360(c - 90) / 2);
}

// Twist side, class and template direction of cell i at radius 2.
void Codex::IfIndi(int i)
{
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    unsigned char* l33 = m_ifLayer[L33];
    const int c = l33[i];
    // 1. Sector orientations.
    std::memset(m_cosSum, 0, sizeof m_cosSum);
    std::memset(m_sinSum, 0, sizeof m_sinSum);
    std::memset(m_wSum, 0, sizeof m_wSum);
    WalkAt(i % w, i / w, LEVEL, l33, l33, m_ifLayer[L114]);
    m_ringPoint = static_cast<RingFn>(&CWork::Argums_quick);
    Spiral(LEVEL, 2, 1);
    m_ringPoint = static_cast<RingFn>(&CBase::Deaden);
    int o[8];
    Targum(m_cosSum, m_sinSum, o, l33 + i);
    // 2. Twist side.
    m_ifLayer[L48][i] = static_cast<unsigned char>(
        Fold(o[0] - c) > Fold(o[4] - c) ? (c + 90) / 2 : Mod360(c - 90) / 2);
    // 3. No class on the outermost cells.
    const int x = i % w;
    const int y = i / w;
    if (x == 0 || y == 0 || x == w - 1 || y == h - 1) {
        return;
    }
    // 4. Class.
    const int p = Poincare(o, m_quick != 0);
    const int cls = p == 180 ? 2 : p == 360 ? 1 : p == -180 ? 8 : 0;
    m_ifLayer[L129][i] = static_cast<unsigned char>(cls);
    if (cls == 0) {
        return;
    }
    // 5. Template fit; the sector index wraps into 0..7.
    const int* tpl = cls == 2 ? kLoops : cls == 1 ? kWhorl : kDelta;
    const int theta = cls == 2 ? 90 : cls == 1 ? 358 : 200;
    const int trials = cls == 2 ? 180 : cls == 1 ? 90 : 72;
    const int fit = FitTemplateLanes(tpl, theta, trials, c, o);
    if (fit >= 0) {
        m_ifLayer[L37][i] = static_cast<unsigned char>(fit / 2);
    }
}

int CWork::Twist(int x, int y, int level, unsigned char* dir, int radius)
{
    std::memset(m_rotSum, 0, sizeof m_rotSum);
    m_rotPoints = 0;
    WalkAt(x, y, level, dir, dir);
    TwistsRing(level, radius, 1); // what Spiral runs for the ring step Twists_I
    m_ringPoint = static_cast<RingFn>(&CBase::Deaden);
    if (m_rotPoints == 0) {
        return 0;
    }
    int least = m_rotSum[0];
    for (int m = 1; m < 8; ++m) {
        least = m_rotSum[m] < least ? m_rotSum[m] : least;
    }
    return least / m_rotPoints;
}

// Twist score of inner cell i: the least misalignment over eight rotations, added to 240.
void Codex::IfTwis(int i, int radius)
{
    const int w = m_level[LEVEL].width;
    unsigned char* score = m_ifLayer[L240];
    const int v = score[i] + Twist(i % w, i / w, LEVEL, m_ifLayer[L48], radius);
    score[i] = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v); // saturates
}

// Thinning at singular cell i: a flood through like cells; a better cell takes over.
int Codex::IfLift(int i)
{
    unsigned char* cls = m_ifLayer[L129];
    if (!Singular(cls[i])) {
        return 0;
    }
    const CLevel& lv = m_level[LEVEL];
    const int w = lv.width;
    const int h = lv.height;
    unsigned char* marks = m_ifLayer[L241];
    unsigned char* score = m_ifLayer[L240];
    unsigned char* dirs = m_ifLayer[L37];
    // 1. Reference and a fresh visit mark (the mark plane is cleared when the counter wraps).
    //    The flood's running state is kept together (the reference, the least score that
    //    joins, the best like cell and the last step direction) and the layers are held by
    //    value, so that the recursion reads each through one pointer.
    struct Run {
        int ref, least, best, bestX, bestY, lastDir;
    };
    Run run = {score[i], 62 * score[i] / 100, score[i], i % w, i / w, -1};
    const int cls0 = cls[i];
    const int dir0 = dirs[i];
    if (++m_visit >= 255) {
        m_visit = 1;
        std::memset(marks, 0, lv.size);
    }
    const unsigned char visit = static_cast<unsigned char>(m_visit);
    // 2. Flood from the start cell, depth first over the eight neighbours in direction order
    //    and at most FLOOD_DEPTH cells deep (the walk of Rounde with this test as its chain
    //    callback, kept in locals). A cell joins when it is not yet visited (it is marked
    //    now), scores at least 62 % of the reference and, if singular, has the start's class
    //    (a loop also its direction within 119 degrees); the best like cell is kept, and every
    //    joining cell can raise the reference.
    auto joins = [marks, score, cls, dirs, visit, cls0, dir0, &run](std::ptrdiff_t at, int x,
                                                                    int y) {
        if (marks[at] == visit) {
            return false;
        }
        marks[at] = visit;
        const int s = score[at];
        if (s < run.least) {
            return false;
        }
        const int c = cls[at] & 11;
        if (c != 0) {
            if (c != cls0 || (c == 2 && Turn(2 * dirs[at], 2 * dir0) > 119)) {
                return false;
            }
            if (s >= run.best) {
                run.best = s;
                run.bestX = x;
                run.bestY = y;
            }
        }
        if (s > run.ref) {
            run.ref = s;
            run.least = 62 * s / 100;
        }
        return true;
    };
    auto flood = [this, &joins, &run, &lv, w, h, marks, score, cls, dirs](auto& self, int x, int y,
                                                                          int depth) -> void {
        if (depth <= 0) {
            // Rounde's leaf callback answers here, the walk standing on the cell.
            m_lastDir = run.lastDir;
            WalkAt(x, y, LEVEL, nullptr, marks, score, cls, dirs);
            Codex* engine = Self();
            const TestFn leaf = m_leaf;
            (engine->*leaf)();
            return;
        }
        // No step from the outermost ring.
        if (x < 1 || y < 1 || x > w - 2 || y > h - 2) {
            return;
        }
        const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(y) * w + x;
        for (int d = 0; d < 8; ++d) {
            run.lastDir = d;
            const int nx = x + lv.dx[d];
            const int ny = y + lv.dy[d];
            if (joins(at + lv.step[d], nx, ny)) {
                self(self, nx, ny, depth - 1);
            }
        }
    };
    if (joins(i, i % w, i / w)) {
        flood(flood, i % w, i / w, FLOOD_DEPTH - 1);
    }
    // The walk ends where it started, as Rounde leaves it.
    WalkAt(i % w, i / w, LEVEL, nullptr, marks, score, cls, dirs);
    if (run.lastDir >= 0) {
        m_lastDir = run.lastDir;
    }
    // 3. Hand over to the best cell.
    const int b = run.bestX + run.bestY * w;
    if (b == i) {
        return 0;
    }
    cls[i] = 0;
    score[b] = static_cast<unsigned char>(score[b] < 255 ? score[b] + 1 : 255);
    return 1;
}

// Labels of the singular inner cells in raster order (255 from the 241st on).
void Codex::IfEnum()
{
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    const unsigned char* cls = m_ifLayer[L129];
    unsigned char* label = m_ifLayer[L152];
    int next = 0;
    for (int y = 1; y + 1 < h; ++y) {
        for (int x = 1; x + 1 < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            if (Singular(cls[i]) && next <= LAST_LABEL) {
                label[i] = static_cast<unsigned char>(next++);
            } else {
                label[i] = NO_LABEL;
            }
        }
    }
}

// Widening: an inner cell with exactly one singular neighbour joins it (class + 128). A widened
// cell is not singular, nor was it before, so every count is of the cells singular at the
// start: per row, the singular cells of each column of three rows, summed over three columns.
void Codex::IfWideV()
{
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    unsigned char* cls = m_ifLayer[L129];
    unsigned char* label = m_ifLayer[L152];
    unsigned char* dir = m_ifLayer[L37];
    std::vector<unsigned char> column(static_cast<std::size_t>(w > 0 ? w : 0));
    for (int y = 1; y + 1 < h; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            column[x] = static_cast<unsigned char>(
                Singular(cls[row - w + x]) + Singular(cls[row + x]) + Singular(cls[row + w + x]));
        }
        for (int x = 1; x + 1 < w; ++x) {
            const std::size_t i = row + x;
            if (column[x - 1] + column[x] + column[x + 1] != 1 || Singular(cls[i])) {
                continue;
            }
            std::size_t from = i;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const std::size_t j = static_cast<std::size_t>(y + dy) * w + (x + dx);
                    from = Singular(cls[j]) ? j : from;
                }
            }
            label[i] = label[from];
            dir[i] = dir[from];
            cls[i] = static_cast<unsigned char>(cls[from] + WIDENED);
        }
    }
}

// Ray callback of the direction refinement: walk cursors on 33 and 129.
int Codex::IfRays(int step)
{
    if (*m_walk[1] != 0) {
        return step > 2 ? 1 : 0;
    }
    const int d = Fold(Mod360(*m_walk[0] - 2 * m_rayDir));
    m_raySum += m_rank.Cor[90 + d];
    ++m_rayCount;
    return 0;
}

// Direction refinement of cell i along four rays (and the end of the widening mark).
void Codex::IfRaysV(int i)
{
    unsigned char* cls = m_ifLayer[L129];
    cls[i] = static_cast<unsigned char>(cls[i] % WIDENED);
    if (!Singular(cls[i])) {
        return;
    }
    const int w = m_level[LEVEL].width;
    unsigned char* dir = m_ifLayer[L37];
    for (int k = 0; k < 4; ++k) {
        m_rayDir = dir[i];
        m_raySum = 0;
        m_rayCount = 0;
        WalkAt(i % w, i / w, LEVEL, nullptr, m_ifLayer[L33], cls);
        m_step = static_cast<StepFn>(&Codex::IfRays);
        Bresen(2 * dir[i], 4, LEVEL);
        m_step = nullptr;
        const int m = m_rayCount != 0 ? m_raySum / (m_rayCount + k) : 0;
        dir[i] = static_cast<unsigned char>(Mod360(m + 2 * dir[i]) / 2);
    }
}

// Copies the level-3 values of 152, 129, 37 and 48 to every pixel of each block of level l
// (edge blocks shifted inside; a level narrower than one block keeps the part inside).
void Codex::IfDeepV_integ(int l)
{
    static const int kCopied[] = {152, 129, 37, 48};
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    const int k = 1 << (LEVEL - l);
    const int wl = m_level[l].width;
    const int hl = m_level[l].height;
    // The cell whose block covers each column of level l last (-1: none), a later block
    // overwriting what it shares with an earlier one, as it would block by block.
    std::vector<int> owner(static_cast<std::size_t>(wl > 0 ? wl : 0), -1);
    for (int x = 0; x < w; ++x) {
        const int fx = x * k + k > wl ? wl - k : x * k;
        for (int c = fx < 0 ? 0 : fx; c < fx + k; ++c) {
            owner[c] = x;
        }
    }
    for (int id : kCopied) {
        const unsigned char* src = GetLay(id, LEVEL);
        unsigned char* dst = GetLay(id, l);
        if (dst == nullptr) {
            m_error = WZ_NO_LAYER;
            throw WZ_NO_LAYER;
        }
        // The blocks of a row of cells together cover whole rows of level l (w k >= wl), so
        // the first row of a block row is built and copied into the others.
        for (int y = 0; y < h; ++y) {
            const int fy = y * k + k > hl ? hl - k : y * k;
            const int y0 = fy < 0 ? 0 : fy;
            if (y0 >= fy + k) {
                continue;
            }
            unsigned char* first = dst + static_cast<std::size_t>(y0) * wl;
            const unsigned char* const cells = src + static_cast<std::size_t>(y) * w;
            for (int c = 0; c < wl; ++c) {
                first[c] = owner[c] >= 0 ? cells[owner[c]] : first[c];
            }
            for (int r = y0 + 1; r < fy + k; ++r) {
                std::memcpy(dst + static_cast<std::size_t>(r) * wl, first, wl);
            }
        }
    }
}

void Codex::Ifocus(int level)
{
    // 1. Pull and stage discipline.
    if (GetKey(128, LEVEL) == -1) {
        Pickup(-1);
    }
    m_stage = IFOCUS_STAGE;
    OldLay(IFOCUS_STAGE);
    m_curLevel = LEVEL;
    m_visit = 1;
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    const int n3 = w * h;
    m_winLeft = 0;
    m_winTop = 0;
    m_winRight = w - 1;
    m_winBottom = h - 1;
    for (int k = 0; k < 8; ++k) {
        m_ifLayer[k] = GetLay(kIds[k], LEVEL);
        if (m_ifLayer[k] == nullptr) {
            m_error = WZ_NO_LAYER;
            throw WZ_NO_LAYER;
        }
    }
    // 2. Twist curve.
    static const int kTwist[] = {4, 0, 0, 20, 13, 45, 45, 90, 8};
    m_rank.CorGau(kTwist);
    m_rank.CorSmo(2);
    for (int& v : m_rank.Cor) {
        v *= 2;
    }
    // 3. Start values.
    std::memset(m_ifLayer[L152], NO_LABEL, n3);
    std::memset(m_ifLayer[L129], 0, n3);
    std::memset(m_ifLayer[L37], 0, n3);
    std::memset(m_ifLayer[L241], 0, n3);
    std::memset(m_ifLayer[L240], 4, n3);
    // 4. Twist sides, classes and scores on rings 0, 1, 2.
    for (int r = 0; r <= 2; ++r) {
        for (int i = 0; i < n3; ++i) {
            if (r < 2) {
                IfIndi_2(i, r);
            } else {
                IfIndi(i);
            }
        }
        for (int y = 1; y + 1 < h; ++y) {
            for (int x = 1; x + 1 < w; ++x) {
                IfTwis(y * w + x, r);
            }
        }
    }
    // 5. Ray curve.
    static const int kRay[] = {4, 0, 0, 10, 10, 45, 1, 90, 0};
    m_rank.CorGau(kRay);
    m_rank.CorSmo(4);
    // 6. Two cycles of thinning, labelling, widening and refinement.
    for (int cycle = 0; cycle < 2; ++cycle) {
        for (bool changed = true; changed;) {
            changed = false;
            for (int i = 0; i < n3; ++i) {
                changed = IfLift(i) != 0 || changed;
            }
        }
        IfEnum();
        IfWideV();
        for (int i = 0; i < n3; ++i) {
            IfRaysV(i);
        }
    }
    // 7. Copies down to the target level.
    for (int l = level < 0 ? 0 : level; l <= 2; ++l) {
        IfDeepV_integ(l);
    }
    // 8. Work layers.
    DelLay(240, LEVEL);
    DelLay(241, LEVEL);
    Resume();
}

} // namespace wizard73
