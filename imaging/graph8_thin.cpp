// Thinning and skeleton correction over binary images (0 ridge, 1 background). Pixel lists are
// arrays of pointers into the image; temporary lists are owned by unique_ptr. Neighbour reads
// rely on a one-pixel frame of 1 round the image, which both entry points draw.

#include "imaging/graph8_thin.h"

#include "imaging/graph8_bin.h"
#include "imaging/graph8_dir.h"

#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <memory>
#include <utility>

namespace {

constexpr int TH_MAX_SHIFT = 15;
constexpr int TH_ARM_PIXELS = 16;     // pixels traced per arm
constexpr int TH_ARM_SHORT = 6;       // an arm that misses the other point is judged here
constexpr int TH_NEAR_DIST_SQR = 257; // point pairs at most 16 pixels apart
constexpr int TH_PAIR_ANGLE = 50;     // pairs of points whose directions differ less
constexpr int TH_JOIN_ANGLE = 30;     // end points joined when the join follows both
constexpr int TH_BRIDGE_ACROSS = 49;  // pass 0 removes bridges steeper than this
constexpr int TH_BRIDGE_ALONG = 11;   // pass 1 removes bridges flatter than this
constexpr unsigned char TH_ARM = 2;   // arm pixel while a bridge is traced
constexpr unsigned char TH_START = 3; // neighbouring branch point used as an arm start

bool ThGeometryOk(unsigned w, unsigned h, int s)
{
    return w >= 3 && h >= 3 && s >= 0 && s <= TH_MAX_SHIFT;
}

// Offsets of the eight neighbours in the order NE, N, NW, W, SW, S, SE, E.
void ThRing(int w, int ring[8])
{
    ring[0] = 1 - w;
    ring[1] = -w;
    ring[2] = -w - 1;
    ring[3] = -1;
    ring[4] = w - 1;
    ring[5] = w;
    ring[6] = w + 1;
    ring[7] = 1;
}

// Whether a listed 0 pixel must stay in a thinning sub-pass towards `toward`.
bool ThKeeps(const unsigned char* p, int w, int toward)
{
    if (p[toward] == 0) {
        return true; // not on the border seen from this side
    }
    const bool e = p[1] != 0;
    const bool ne = p[1 - w] != 0;
    const bool n = p[-w] != 0;
    const bool nw = p[-w - 1] != 0;
    const bool we = p[-1] != 0;
    const bool sw = p[w - 1] != 0;
    const bool s = p[w] != 0;
    const bool se = p[w + 1] != 0;
    // The only link to a diagonal neighbour.
    if ((e && n && !ne) || (we && n && !nw) || (we && s && !sw) || (e && s && !se)) {
        return true;
    }
    // Vertical links.
    if (we && e) {
        if (!n && !(s && se && sw)) {
            return true;
        }
        if (n && !s && !(nw && ne)) {
            return true;
        }
    }
    // Horizontal links.
    if (s && n) {
        if (!e && !(we && nw && sw)) {
            return true;
        }
        if (e && !we && !(se && ne)) {
            return true;
        }
    }
    // An end point (seven background neighbours) stays.
    const int background = e + ne + n + nw + we + sw + s + se;
    return background == 7;
}

void ThToXY(const unsigned char* img, unsigned w, const unsigned char* p, int& x, int& y)
{
    const std::ptrdiff_t off = p - img;
    x = static_cast<int>(off % w);
    y = static_cast<int>(off / w);
}

int ThSign(int v)
{
    return v > 0 ? 1 : (v < 0 ? -1 : 0);
}

} // namespace

int GetAngle(int x1, int y1, int x2, int y2)
{
    int a = static_cast<int>(
        std::atan2(static_cast<double>(y2 - y1), static_cast<double>(x1 - x2)) * val_180_div_pi);
    return a < 0 ? a + 180 : a;
}

int GetAngleDelta(int a, int b)
{
    const int d = std::abs(a - b);
    return d > 90 ? 180 - d : d;
}

int GetMaxAngleDelta(int a, int b, int c)
{
    const int ab = GetAngleDelta(a, b);
    const int ac = GetAngleDelta(a, c);
    return ab > ac ? ab : ac;
}

int GetDistanceSqr(int x1, int y1, int x2, int y2)
{
    return (x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2);
}

int PointNearLine(int x0, int y0, int x1, int y1, int x2, int y2)
{
    return (x0 - x2) * (y1 - y0) + (y2 - y0) * (x1 - x0);
}

void BinGetRDxy8(int* t, int w, int r)
{
    GetRPDxy8(t, w, r);
}

int Thinning8(unsigned char* img, unsigned w, unsigned h, int s, const unsigned char* blockMask)
{
    if (!ThGeometryOk(w, h, s)) {
        return IMG_BAD_GEOMETRY;
    }
    // 1. Frame, region of interest and the list of its 0 pixels.
    const std::size_t n = static_cast<std::size_t>(w) * h;
    auto list = std::make_unique<unsigned char*[]>(n);
    auto gone = std::make_unique<unsigned char*[]>(n);
    unsigned char** cursor = list.get();
    GetPixelsAndFillOther(img, w, h, s, blockMask, cursor);
    std::size_t count = static_cast<std::size_t>(cursor - list.get());

    // 2. Sub-passes towards north, south, east and west in turn; each decides from the image
    //    as it was at its start.
    const int iw = static_cast<int>(w);
    const int toward[4] = {-iw, iw, 1, -1};
    for (int pass = 0; count > 0; pass = (pass + 1) % 4) {
        std::size_t kept = 0;
        std::size_t deleted = 0;
        for (std::size_t i = 0; i < count; ++i) {
            unsigned char* p = list[i];
            if (ThKeeps(p, iw, toward[pass])) {
                list[kept++] = p;
            } else {
                gone[deleted++] = p;
            }
        }
        for (std::size_t i = 0; i < deleted; ++i) {
            *gone[i] = 1;
        }
        count = kept;
        // 3. Done when a sub-pass deletes nothing.
        if (deleted == 0) {
            break;
        }
    }
    return 0;
}

// The three arrays are reached through their cursors; their starts stay with the caller.
void GetAndSelectPoints8(unsigned char* img, unsigned w, int s, const unsigned char* blockDir,
                         unsigned char** first, unsigned char** last, MPOINT* /*ends*/,
                         MPOINT*& endCursor, MPOINT* /*branches*/, MPOINT*& branchCursor,
                         MPOINT* /*others*/, MPOINT*& otherCursor)
{
    int ring[8];
    ThRing(static_cast<int>(w), ring);
    const unsigned bw = w >> s;
    for (unsigned char** it = first; it != last; ++it) {
        unsigned char* p = *it;
        if (*p != 0) {
            continue;
        }
        int n = 0;
        for (int k = 0; k < 8; ++k) {
            n += p[ring[k]] != 1 ? 1 : 0;
        }
        if (n == 2) {
            continue;
        }
        if (n == 0 || n == 8) {
            *p = 1;
            continue;
        }
        int x = 0;
        int y = 0;
        ThToXY(img, w, p, x, y);
        const int dir =
            blockDir[static_cast<std::size_t>(y >> s) * bw + static_cast<unsigned>(x >> s)];
        if (n == 1) {
            *p = SKL_END;
            *endCursor++ = MPOINT{x, y, p, dir};
        } else if (n == 3) {
            *p = SKL_BRANCH;
            *branchCursor++ = MPOINT{x, y, p, dir};
        } else {
            *p = SKL_CROSS;
            *otherCursor++ = MPOINT{0, 0, p, 0};
        }
    }
}

void CheckT1Points8(unsigned char* img, int w, unsigned h, MPOINT* first, MPOINT* last)
{
    const unsigned uw = static_cast<unsigned>(w);
    for (MPOINT* i = first; i != last; ++i) {
        for (MPOINT* j = i + 1; j != last; ++j) {
            if (*i->p != SKL_END || *j->p != SKL_END) {
                continue;
            }
            if (GetAngleDelta(i->dir, j->dir) >= TH_PAIR_ANGLE ||
                GetDistanceSqr(i->x, i->y, j->x, j->y) >= TH_NEAR_DIST_SQR) {
                continue;
            }
            const int join = GetAngle(i->x, i->y, j->x, j->y);
            if (GetMaxAngleDelta(join, i->dir, j->dir) >= TH_JOIN_ANGLE) {
                continue;
            }
            if (LineBr8(img, uw, h, i->x, i->y, j->x, j->y, 0) == 0) {
                Line8(img, uw, h, i->x, i->y, j->x, j->y, 0);
            }
        }
    }
}

void CheckT3Points8(unsigned char* img, unsigned w, unsigned h, MPOINT* first, MPOINT* last,
                    int pass)
{
    for (MPOINT* i = first; i != last; ++i) {
        for (MPOINT* j = i + 1; j != last; ++j) {
            if (*i->p != SKL_BRANCH || *j->p != SKL_BRANCH) {
                continue;
            }
            if (GetAngleDelta(i->dir, j->dir) < TH_PAIR_ANGLE &&
                GetDistanceSqr(i->x, i->y, j->x, j->y) < TH_NEAR_DIST_SQR) {
                CheckT3Lines8(img, w, h, i, j, pass);
            }
        }
    }
}

namespace {

// Every mark of a traced bridge undone: arm pixels back to 0, arm starts back to 30.
void ThUndo(BRIDGE& br, unsigned char* starts[6])
{
    for (int arm = 0; arm < 6; ++arm) {
        for (int k = 0; k < br.traced[arm]; ++k) {
            if (*br.trace[arm][k] == TH_ARM) {
                *br.trace[arm][k] = 0;
            }
        }
        if (starts[arm] != nullptr && *starts[arm] == TH_START) {
            *starts[arm] = SKL_BRANCH;
        }
    }
}

} // namespace

void CheckT3Lines8(unsigned char* img, unsigned w, unsigned h, MPOINT* a, MPOINT* b, int pass)
{
    const int iw = static_cast<int>(w);
    int ring[8];
    ThRing(iw, ring);
    BRIDGE br{};
    br.a = a;
    br.b = b;
    br.result = -1;
    unsigned char* starts[6] = {};
    bool reaches[6] = {};

    // 1. Three arms from each branch point.
    for (int arm = 0; arm < 6; ++arm) {
        MPOINT* from = arm < 3 ? a : b;
        const unsigned char* other = arm < 3 ? b->p : a->p;
        unsigned char* cur = from->p;
        for (int k = 0; k < 8; ++k) {
            if (from->p[ring[k]] == SKL_BRANCH && from->p + ring[k] != other) {
                cur = from->p + ring[k];
                *cur = TH_START;
                starts[arm] = cur;
                break;
            }
        }
        while (br.traced[arm] < TH_ARM_PIXELS) {
            unsigned char* next = nullptr;
            for (int k = 0; k < 8; ++k) {
                if (cur[ring[k]] == 0) {
                    next = cur + ring[k];
                    break;
                }
            }
            if (next == nullptr) {
                break;
            }
            *next = TH_ARM;
            br.trace[arm][br.traced[arm]++] = next;
            cur = next;
            const std::ptrdiff_t d = std::abs(next - other);
            if (d == 0 || d == 1 || d == iw - 1 || d == iw || d == iw + 1) {
                reaches[arm] = true;
                break;
            }
        }
    }

    // 2. Exactly one arm of a must reach b.
    const int reaching = reaches[0] + reaches[1] + reaches[2];
    if (reaching != 1) {
        ThUndo(br, starts);
        return;
    }

    // 3. Representative pixel of each arm; the reaching arm of a goes first.
    unsigned char* rep[6];
    int repIndex[6];
    for (int arm = 0; arm < 6; ++arm) {
        const int n = br.traced[arm];
        int idx = n - 1;
        if (!reaches[arm] && n > TH_ARM_SHORT) {
            idx = TH_ARM_SHORT - 1;
        }
        repIndex[arm] = idx;
        MPOINT* from = arm < 3 ? a : b;
        rep[arm] = idx >= 0 ? br.trace[arm][idx] : (starts[arm] != nullptr ? starts[arm] : from->p);
        ThToXY(img, w, rep[arm], br.pt[arm][0], br.pt[arm][1]);
    }
    const int first = reaches[0] ? 0 : (reaches[1] ? 1 : 2);
    if (first != 0) {
        std::swap(br.pt[0], br.pt[first]);
    }

    // 4. The bridge test.
    CheckBridge(br);

    // 5. Removal, or every mark undone.
    const bool remove = br.result != -1 && ((pass == 0 && br.result > TH_BRIDGE_ACROSS) ||
                                            (pass == 1 && br.result < TH_BRIDGE_ALONG));
    if (!remove) {
        ThUndo(br, starts);
        return;
    }
    *a->p = 1;
    *b->p = 1;
    for (int arm = 0; arm < 6; ++arm) {
        for (int k = 0; k < br.traced[arm]; ++k) {
            unsigned char* p = br.trace[arm][k];
            if (k <= repIndex[arm]) {
                *p = 1;
            } else if (*p == TH_ARM) {
                *p = 0;
            }
        }
        if (starts[arm] != nullptr && *starts[arm] == TH_START) {
            *starts[arm] = SKL_BRANCH;
        }
    }
    const int(&pt)[6][2] = br.pt;
    if (pass == 0) {
        Line8(img, w, h, pt[1][0], pt[1][1], pt[2][0], pt[2][1], 0); // A - B
        Line8(img, w, h, pt[4][0], pt[4][1], pt[5][0], pt[5][1], 0); // G - H
    } else {
        Line8(img, w, h, pt[1][0], pt[1][1], pt[4][0], pt[4][1], 0); // A - G
        Line8(img, w, h, pt[2][0], pt[2][1], pt[5][0], pt[5][1], 0); // B - H
    }
}

void CheckBridge(BRIDGE& br)
{
    enum { P0, A, B, F, G, H };
    auto& pt = br.pt;
    auto dist = [&](int i) { return GetDistanceSqr(pt[P0][0], pt[P0][1], pt[i][0], pt[i][1]); };
    auto side = [&](int p0, int p1, int x, int y) {
        return ThSign(PointNearLine(pt[p0][0], pt[p0][1], pt[p1][0], pt[p1][1], x, y));
    };
    // 1. The arm of b nearest to P0 goes to F, its opposite to H.
    const int dF = dist(F);
    const int dG = dist(G);
    const int dH = dist(H);
    if ((dG < dF && dG <= dH) || (dH < dF && dH < dG)) {
        std::swap(pt[F], pt[H]);
    }
    // 2. A and B on the sides of the line A-G that match B and H.
    if (side(A, G, pt[B][0], pt[B][1]) * side(A, G, pt[H][0], pt[H][1]) < 0) {
        std::swap(pt[A], pt[B]);
    }
    // 3. Both branch points strictly between the lines A-G and B-H.
    for (const MPOINT* m : {br.a, br.b}) {
        if (side(A, G, m->x, m->y) * side(B, H, m->x, m->y) >= 0) {
            return;
        }
    }
    // 4. How far the line between the two arm centres turns from both directions.
    const int x1 = (pt[A][0] + 2 * br.a->x + pt[B][0]) >> 2;
    const int y1 = (pt[A][1] + 2 * br.a->y + pt[B][1]) >> 2;
    const int x2 = (pt[G][0] + 2 * br.b->x + pt[H][0]) >> 2;
    const int y2 = (pt[G][1] + 2 * br.b->y + pt[H][1]) >> 2;
    br.result = GetMaxAngleDelta(GetAngle(x1, y1, x2, y2), br.a->dir, br.b->dir);
}

int SkelCorrection8(unsigned char* img, unsigned w, unsigned h, int s,
                    const unsigned char* blockDir)
{
    if (!ThGeometryOk(w, h, s)) {
        return IMG_BAD_GEOMETRY;
    }
    // 1. Frame, then every skeleton pixel.
    Border8(img, w, h, 1);
    const std::size_t size = static_cast<std::size_t>(w) * h;
    auto list = std::make_unique<unsigned char*[]>(size);
    unsigned char** cursor = list.get();
    GetPixels(img, w, h, 0, cursor);
    // Only pixels of whole blocks have a block direction: the partial blocks at the right and
    // bottom are left as they are.
    const unsigned fullW = (w >> s) << s;
    const unsigned fullH = (h >> s) << s;
    unsigned char** kept = list.get();
    for (unsigned char** it = list.get(); it != cursor; ++it) {
        int x = 0;
        int y = 0;
        ThToXY(img, w, *it, x, y);
        if (static_cast<unsigned>(x) < fullW && static_cast<unsigned>(y) < fullH) {
            *kept++ = *it;
        }
    }
    cursor = kept;
    const std::size_t n = static_cast<std::size_t>(cursor - list.get());
    auto ends = std::make_unique<MPOINT[]>(n + 1);
    auto branches = std::make_unique<MPOINT[]>(n + 1);
    auto others = std::make_unique<MPOINT[]>(n + 1);

    // 2. Two passes of classification, joins and bridge cuts; the marks are cleared after each.
    for (int pass = 0; pass < 2; ++pass) {
        MPOINT* endCursor = ends.get();
        MPOINT* branchCursor = branches.get();
        MPOINT* otherCursor = others.get();
        GetAndSelectPoints8(img, w, s, blockDir, list.get(), cursor, ends.get(), endCursor,
                            branches.get(), branchCursor, others.get(), otherCursor);
        if (pass == 0) {
            CheckT1Points8(img, static_cast<int>(w), h, ends.get(), endCursor);
        }
        CheckT3Points8(img, w, h, branches.get(), branchCursor, pass);
        for (unsigned char** it = list.get(); it != cursor; ++it) {
            if (**it == SKL_END || **it == SKL_BRANCH || **it == SKL_CROSS) {
                **it = 0;
            }
        }
    }
    return 0;
}

int CheckSklROI8(unsigned char* skl, unsigned w, unsigned h, int s, unsigned char* blockMask,
                 const unsigned char* blockDir, unsigned char* /*ignored*/)
{
    if (s < 1 || s > 4) {
        return IMG_BAD_GEOMETRY; // the samples reach 2^s, at most the tables' radius 16
    }
    const int l = 1 << s;
    const unsigned bw = w >> s;
    const unsigned bh = h >> s;
    const std::size_t nb = static_cast<std::size_t>(bw) * bh;
    if (nb == 0) {
        return 0;
    }
    // 1. Block values start at 200.
    auto value = std::make_unique<unsigned char[]>(nb);
    for (std::size_t i = 0; i < nb; ++i) {
        value[i] = 200;
    }
    const int iw = static_cast<int>(w);
    const int ih = static_cast<int>(h);
    auto onRidge = [&](int x, int y) {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int u = x + dx;
                const int v = y + dy;
                if (u >= 0 && v >= 0 && u < iw && v < ih &&
                    skl[static_cast<std::size_t>(v) * w + u] == 0) {
                    return true;
                }
            }
        }
        return false;
    };
    // 2. Skeleton lines crossed along the 2L samples across each inner block's direction (the
    //    offsets of BinGetRDxy8 taken apart into columns and rows).
    for (unsigned by = 1; by + 1 < bh; ++by) {
        for (unsigned bx = 1; bx + 1 < bw; ++bx) {
            const std::size_t i = static_cast<std::size_t>(by) * bw + bx;
            if (blockMask[i] != 0) {
                continue;
            }
            const int row = 450 - blockDir[i] % 180;
            const int cx = static_cast<int>(bx) * l + l / 2;
            const int cy = static_cast<int>(by) * l + l / 2;
            int runs = 0;
            bool inRun = false;
            for (int q = -l; q <= l; ++q) {
                if (q == 0) {
                    continue;
                }
                const int k = RadiusColumn(q);
                const bool on =
                    onRidge(cx + arr_cosx_i720x32[row][k], cy + arr_sinx_i720x32[row][k]);
                runs += on && !inRun ? 1 : 0;
                inRun = on;
            }
            const int v = runs * 8;
            value[i] = static_cast<unsigned char>(v > 255 ? 255 : v);
        }
    }
    // 3. Smoothing over the block grid.
    if (bw >= 3) {
        Blur8(value.get(), bw, bh, 6);
    }
    // 4. Blocks crossed by too few lines leave the region.
    bool any = false;
    for (std::size_t i = 0; i < nb; ++i) {
        any = any || blockMask[i] == 0;
    }
    if (any) {
        for (std::size_t i = 0; i < nb; ++i) {
            if (value[i] < 16) {
                blockMask[i] = 1;
            }
        }
    }
    return 0;
}
