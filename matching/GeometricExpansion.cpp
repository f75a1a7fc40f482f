// Geometric test and growth of the current group: the prints are aligned by the group, a
// group turned beyond the rotation limit or leaving too many minutiae unexplained is
// refused, minutiae that the other print's area cannot show are excluded (their missing
// partner is not held against the match), and every further pair that agrees in distance and
// direction with the group is added. Area masks are 8 x 8-pixel cells, 0x40 outside.

#include "matching/Matcher100.h"
#include "matching/SearchHelpers.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace accelMatch {
namespace {

constexpr unsigned char OUTSIDE_CELL = 0x40;
constexpr int CELL_SIZE = 8;
constexpr int EXCLUDE_REACH = 2;        // a 5 x 5 window of cells
constexpr int EXCLUDE_MIN_INSIDE = 20;  // fewer cells inside: excluded
constexpr int STRONG_REACH = 3;         // a 7 x 7 window of cells
constexpr int UNEXPLAINED_PER_PAIR = 8; // unexplained minutiae allowed per pair
// Window counts come from area sums kept modulo 2^16: a window must hold fewer cells.
static_assert((2 * EXCLUDE_REACH + 1) * (2 * EXCLUDE_REACH + 1) < 65536 &&
                  (2 * STRONG_REACH + 1) * (2 * STRONG_REACH + 1) < 65536,
              "window counts below 2^16");

// Masks of at most this many cells are summed once per match; larger ones (a caller's mask may
// hold up to 512 x 512 cells) are counted window by window.
constexpr std::size_t MAX_SUMMED_CELLS = 65536;

// Cells of the (2 reach + 1)^2 window around cell (cx, cy) that lie inside the mask; cells
// beyond the mask count as outside.
int countInsideCells(int cx, int cy, const unsigned char* mask, int width, int height, int reach)
{
    int count = 0;
    for (int dy = -reach; dy <= reach; ++dy) {
        const int row = cy + dy;
        if (row < 0 || row >= height) {
            continue;
        }
        for (int dx = -reach; dx <= reach; ++dx) {
            const int col = cx + dx;
            if (col >= 0 && col < width &&
                mask[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                     static_cast<std::size_t>(col)] != OUTSIDE_CELL) {
                ++count;
            }
        }
    }
    return count;
}

} // namespace

void Matcher100::refreshAreaSums(AreaSums& a, const unsigned char* mask, int width, int height)
{
    const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    const bool same = a.used && a.width == width && a.height == height && a.cells.size() == n &&
                      (n == 0 || std::memcmp(a.cells.data(), mask, n) == 0);
    a.checked = true;
    a.mask = mask;
    a.width = width;
    a.height = height;
    if (same) {
        return;
    }
    a.used = n <= MAX_SUMMED_CELLS;
    const std::size_t w1 = static_cast<std::size_t>(width) + 1;
    if (a.used) {
        try {
            a.sums.resize(w1 * (static_cast<std::size_t>(height) + 1));
            a.cells.assign(mask, mask + n);
        } catch (const std::bad_alloc&) {
            a.used = false; // counted cell by cell instead
        }
    }
    if (!a.used) {
        a.cells.clear();
        return;
    }
    // sums[r][c]: inside cells of rows below r and columns below c (row 0 and column 0 zero),
    // modulo 2^16.
    std::fill(a.sums.begin(), a.sums.begin() + static_cast<std::ptrdiff_t>(w1),
              static_cast<std::uint16_t>(0));
    for (int row = 0; row < height; ++row) {
        std::uint16_t line = 0;
        const unsigned char* m = mask + static_cast<std::size_t>(row) * width;
        const std::uint16_t* above = a.sums.data() + static_cast<std::size_t>(row) * w1;
        std::uint16_t* out = a.sums.data() + static_cast<std::size_t>(row + 1) * w1;
        out[0] = 0;
        int col = 0;
#if defined(__SSE2__)
        // Sixteen cells a step: their inside flags (0 or 1 a byte) summed along the row by
        // four shifted additions (at most 16 a byte), widened to 16 bits and added to the
        // running count of the row and the row above. A row whose width is not a whole number
        // of steps ends with the step of its last sixteen cells, started from the running
        // count before them: it writes the entries it overlaps again, with the same values.
        const __m128i outside = _mm_set1_epi8(static_cast<char>(OUTSIDE_CELL));
        const __m128i one = _mm_set1_epi8(1);
        const __m128i zero = _mm_setzero_si128();
        for (; width >= 16 && col < width; col += 16) {
            if (col + 16 > width) {
                col = width - 16;
                line = static_cast<std::uint16_t>(out[col] - above[col]);
            }
            __m128i v = _mm_andnot_si128(
                _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m + col)), outside),
                one);
            v = _mm_add_epi8(v, _mm_slli_si128(v, 1));
            v = _mm_add_epi8(v, _mm_slli_si128(v, 2));
            v = _mm_add_epi8(v, _mm_slli_si128(v, 4));
            v = _mm_add_epi8(v, _mm_slli_si128(v, 8));
            const __m128i base = _mm_set1_epi16(static_cast<short>(line));
            const __m128i lo = _mm_add_epi16(_mm_unpacklo_epi8(v, zero), base);
            const __m128i hi = _mm_add_epi16(_mm_unpackhi_epi8(v, zero), base);
            const std::size_t at = static_cast<std::size_t>(col) + 1;
            const __m128i upLo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + at));
            const __m128i upHi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + at + 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_add_epi16(lo, upLo));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at + 8), _mm_add_epi16(hi, upHi));
            line = static_cast<std::uint16_t>(_mm_extract_epi16(hi, 7));
        }
#endif
        for (; col < width; ++col) {
            line = static_cast<std::uint16_t>(line + (m[col] != OUTSIDE_CELL ? 1 : 0));
            out[col + 1] = static_cast<std::uint16_t>(above[col + 1] + line);
        }
    }
}

void Matcher100::markSparseWindows(bool ofP, const MinutiaeShort* carried, int count, int reach,
                                   int minInside, std::uint8_t* marks)
{
    const unsigned char* mask = ofP ? m_areaP : m_areaG;
    if (mask == nullptr) {
        // No cell lies inside.
        for (int i = 0; i < count; ++i) {
            marks[i] = 0 < minInside ? 1 : 0;
        }
        return;
    }
    const int width = ofP ? m_areaWidthP : m_areaWidthG;
    const int height = ofP ? m_areaHeightP : m_areaHeightG;
    AreaSums& a = ofP ? m_areaSumsP : m_areaSumsG;
    if (!a.checked || a.mask != mask || a.width != width || a.height != height) {
        refreshAreaSums(a, mask, width, height);
    }
    if (!a.used) {
        for (int i = 0; i < count; ++i) {
            const int inside = countInsideCells(carried[i].x / CELL_SIZE, carried[i].y / CELL_SIZE,
                                                mask, width, height, reach);
            marks[i] = inside < minInside ? 1 : 0;
        }
        return;
    }
    const std::size_t w1 = static_cast<std::size_t>(width) + 1;
    const std::uint16_t* s = a.sums.data();
    // A window wholly inside the mask (its first cell below `limitX` and `limitY` from the
    // mask's first; none fits a mask smaller than the window) is summed from its corner
    // without clipping. Such a window starts at a cell of 0 or more, so its coordinates are
    // not negative and their cells are unsigned shifts; a negative coordinate shifted so lies
    // far beyond the limits and is left to the clipped window, which divides towards zero.
    const int side = 2 * reach + 1;
    const std::size_t below = static_cast<std::size_t>(side) * w1;
    const bool fits = width >= side && height >= side;
    const unsigned limitX = fits ? static_cast<unsigned>(width - side + 1) : 0u;
    const unsigned limitY = fits ? static_cast<unsigned>(height - side + 1) : 0u;
    static_assert(CELL_SIZE == 8, "cells of 8 pixels: a shift by 3");
    for (int i = 0; i < count; ++i) {
        const unsigned x0 =
            (static_cast<unsigned>(carried[i].x) >> 3) - static_cast<unsigned>(reach);
        const unsigned y0 =
            (static_cast<unsigned>(carried[i].y) >> 3) - static_cast<unsigned>(reach);
        int inside = 0;
        if (x0 < limitX && y0 < limitY) {
            const std::uint16_t* top = s + static_cast<std::size_t>(y0) * w1 + x0;
            inside =
                static_cast<std::uint16_t>(top[below + side] - top[side] - top[below] + top[0]);
        } else {
            // The window clipped to the mask.
            const int cx = carried[i].x / CELL_SIZE;
            const int cy = carried[i].y / CELL_SIZE;
            const int r0 = cy - reach < 0 ? 0 : cy - reach;
            const int r1 = cy + reach >= height ? height - 1 : cy + reach;
            const int c0 = cx - reach < 0 ? 0 : cx - reach;
            const int c1 = cx + reach >= width ? width - 1 : cx + reach;
            if (r0 <= r1 && c0 <= c1) {
                const std::size_t topRow = static_cast<std::size_t>(r0) * w1;
                const std::size_t bottom = static_cast<std::size_t>(r1 + 1) * w1;
                inside = static_cast<std::uint16_t>(s[bottom + c1 + 1] - s[topRow + c1 + 1] -
                                                    s[bottom + c0] + s[topRow + c0]);
            }
        }
        marks[i] = inside < minInside ? 1 : 0;
    }
}

bool Matcher100::expandCurGroupByGeometry(bool quick)
{
    GroupEx* group = m_curGroup;
    // 1. and 2. Alignment and the rotation limit.
    m_probeScalesOf = nullptr;
    const int rotation = wrap180(combineFingerprintsByCurGroup(group, true, true, true));
    if (std::abs(rotation) > m_maxAngle) {
        return false;
    }
    // 3. Minutiae the other print cannot show (their window marks kept for the score).
    markExcludeWindows(m_windowMarksP, m_windowMarksG);
    m_windowMarksKept = true;
    findExclude();
    const int eP = countExcluded(m_numNestP, m_excludeP);
    const int eG = countExcluded(m_numNestG, m_excludeG);
    // 4. Too many unexplained minutiae on the smaller side.
    const int s = static_cast<int>(group->getNumItems());
    const int freeP = m_numNestP - s - eP;
    const int freeG = m_numNestG - s - eG;
    const auto unexplained = static_cast<std::uint8_t>(freeP < freeG ? freeP : freeG);
    if (unexplained > UNEXPLAINED_PER_PAIR * s) {
        return false;
    }
    // 5. Growth.
    findStrongExclude();
    m_probeScalesFresh = m_probeScalesOf == group;
    expandCurGroup(quick);
    m_probeScalesFresh = false;
    return true;
}

void Matcher100::markExcludeWindows(std::uint8_t* marksP, std::uint8_t* marksG)
{
    std::memset(marksP, 0, MAX_NESTS);
    std::memset(marksG, 0, MAX_NESTS);
    markSparseWindows(false, m_carriedP, m_numNestP, EXCLUDE_REACH, EXCLUDE_MIN_INSIDE, marksP);
    markSparseWindows(true, m_carriedG, m_numNestG, EXCLUDE_REACH, EXCLUDE_MIN_INSIDE, marksG);
}

void Matcher100::remarkExcludeWindowG(int ng)
{
    if (m_windowMarksKept) {
        ZF_ASSERT(ng >= 0 && ng < m_numNestG);
        markSparseWindows(true, m_carriedG + ng, 1, EXCLUDE_REACH, EXCLUDE_MIN_INSIDE,
                          m_windowMarksG + ng);
    }
}

void Matcher100::findExclude()
{
    if (m_windowMarksKept) {
        std::memcpy(m_excludeP, m_windowMarksP, sizeof m_excludeP);
        std::memcpy(m_excludeG, m_windowMarksG, sizeof m_excludeG);
    } else {
        markExcludeWindows(m_excludeP, m_excludeG);
    }
    const GroupEx& g = *m_curGroup;
    for (std::uint32_t k = 0; k < g.getNumItems(); ++k) {
        m_excludeP[g.getPair(k).np] = 0;
        m_excludeG[g.getPair(k).ng] = 0;
    }
}

void Matcher100::findStrongExclude()
{
    std::memset(m_strongExcludeP, 0, sizeof m_strongExcludeP);
    std::memset(m_strongExcludeG, 0, sizeof m_strongExcludeG);
    // No cell of the window inside: fewer than one.
    markSparseWindows(false, m_carriedP, m_numNestP, STRONG_REACH, 1, m_strongExcludeP);
    markSparseWindows(true, m_carriedG, m_numNestG, STRONG_REACH, 1, m_strongExcludeG);
    const GroupEx& g = *m_curGroup;
    for (std::uint32_t k = 0; k < g.getNumItems(); ++k) {
        m_strongExcludeP[g.getPair(k).np] = 0;
        m_strongExcludeG[g.getPair(k).ng] = 0;
    }
}

unsigned char Matcher100::countExcluded(int count, const std::uint8_t* flags) const
{
    unsigned char n = 0;
    for (int i = 0; i < count; ++i) {
        if (flags[i] != 0) {
            ++n;
        }
    }
    return n;
}

int Matcher100::expandCurGroup(bool markOnly)
{
    GroupEx* group = m_curGroup;
    // 1. Marks of the group's minutiae.
    std::memset(m_inGroupP, 0, sizeof m_inGroupP);
    std::memset(m_inGroupG, 0, sizeof m_inGroupG);
    for (std::uint32_t k = 0; k < group->getNumItems(); ++k) {
        m_inGroupP[group->getPair(k).np] = 1;
        m_inGroupG[group->getPair(k).ng] = 1;
    }
    const int s0 = static_cast<int>(group->getNumItems());
    // 2. and 3. Expand groups of the compatible pairs.
    if (markOnly) {
        return 0;
    }
    findAllCompatiblePairs();
    const std::size_t numExpand = buildExpandGroups();
    if (numExpand == 0) {
        return 0;
    }
    // 4. The first expand group joins whole, in place of the pair it contradicts.
    const GroupEx& first = *m_expandRank[0];
    if (first.getNumItems() < 2 && first.m_conflictPos != -1) {
        return 0;
    }
    if (first.m_conflictPos >= 0 &&
        static_cast<std::uint32_t>(first.m_conflictPos) < group->getNumItems()) {
        const PairEx2 gone = group->getPair(static_cast<std::size_t>(first.m_conflictPos));
        group->remove(static_cast<std::size_t>(first.m_conflictPos));
        m_inGroupP[gone.np] = 0;
        m_inGroupG[gone.ng] = 0;
    }
    for (std::uint32_t k = 0; k < first.getNumItems(); ++k) {
        const PairEx2& p = first.getPair(k);
        if (m_inGroupP[p.np] != 0 || m_inGroupG[p.ng] != 0 ||
            !group->add(p.np, p.ng, p.transition)) {
            continue;
        }
        calcScaleForNewPair(group, group->getNumItems() - 1);
        m_inGroupP[p.np] = 1;
        m_inGroupG[p.ng] = 1;
    }
    // 5. New pairs are tested against the pairs from baseSize on.
    const std::uint32_t t = group->m_baseSize;
    // 6. The pairs of the other expand groups, one by one.
    NumSet<unsigned> none;
    LocalSet<1> conflicts;
    LocalSet<MAX_NESTS> before; // the positions in front of t
    for (std::uint32_t k = 0; k < t && k < group->getNumItems(); ++k) {
        before.set.append(k);
    }
    for (std::size_t e = 1; e < numExpand; ++e) {
        const GroupEx& eg = *m_expandRank[e];
        for (std::uint32_t k = 0; k < eg.getNumItems(); ++k) {
            const PairEx2 cand = eg.getPair(k);
            const int p = cand.np;
            const int g = cand.ng;
            // 6.1 Minutiae already taken.
            if (m_inGroupP[p] != 0 || m_inGroupG[g] != 0) {
                continue;
            }
            // 6.2 to 6.6 Local scale around the probe minutia, the two minutia directions,
            //     and distance and direction against every pair from t on.
            int sx = 0;
            int sy = 0;
            getAreaScale(group, m_minutiaeP[p].x, m_minutiaeP[p].y, sx, sy, true);
            if (!group->isCompatible(static_cast<short>(p), static_cast<short>(g), m_errorLevel,
                                     none, 0, nullptr, before.set, true, sx, sy, IC_STRICT, 0)) {
                continue;
            }
            // 6.7 Topology against the same pairs; accepted pairs join at once.
            conflicts.set.m_numItems = 0;
            if (!checkQuadrants(group, p, g, cand.transition, none, t, conflicts.set, 0)) {
                continue;
            }
            if (!group->add(p, g, cand.transition)) {
                continue;
            }
            calcScaleForNewPair(group, group->getNumItems() - 1);
            m_inGroupP[p] = 1;
            m_inGroupG[g] = 1;
        }
    }
    // 7. Growth.
    return static_cast<int>(group->getNumItems()) - s0;
}

} // namespace accelMatch
