// Single-finger segmentation: a block mask of ridge texture (16-pixel blocks at up to 500 dpi,
// from the direction and frequency fields) brought to at most 200 dpi, its regions, the finger
// as the largest region merged with the fragments below it, and the fingertip box down to the
// first flexion crease found on a local-mean binarisation of the grey clone.

#include "segmentation/FPS.h"

#include "imaging/graph8.h"
#include "imaging/graph8_bin.h"
#include "imaging/graph8_dir.h"
#include "imaging/graph8_frq.h"
#include "imaging/graph8_scale.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr unsigned BLOCK_SHIFT = 4;
constexpr unsigned BLOCK = 1u << BLOCK_SHIFT;
constexpr unsigned PAD = 32;
constexpr unsigned LEVELS_CLIP = 10000;
constexpr int MASK_DPI = 500;
constexpr int WORK_DPI = 200;
constexpr unsigned char FIRST_LABEL = 10;
constexpr int CREASE_START = 100;
constexpr int CREASE_MIN_DISTANCE = 21;
constexpr int GROWTH = 3;
constexpr int MAX_MERGE_PASSES = 4096;

// Side padded to whole blocks plus a margin of fill on both sides.
unsigned FfPadded(unsigned side)
{
    return ((side + BLOCK - 1) & ~(BLOCK - 1)) + PAD;
}

} // namespace

CFpsFinger::~CFpsFinger()
{
    delete[] m_clone;
    m_clone = nullptr;
}

int CFpsFinger::Preprocessing()
{
    // 1. At most 500 dpi.
    unsigned w = m_workWidth;
    unsigned h = m_workHeight;
    m_shift += static_cast<unsigned>(ResizeDecFastForDPI8(m_work, w, h, FpDpiArg(m_dpi), MASK_DPI));
    m_workWidth = w;
    m_workHeight = h;
    if (w == 0 || h == 0) {
        return 0; // the image vanished at this resolution: nothing to find
    }
    // 2, 3. Padded canvas, block grid and one scratch buffer for all fields.
    const unsigned pw = FfPadded(w);
    const unsigned ph = FfPadded(h);
    const unsigned bw = pw / BLOCK;
    const unsigned bh = ph / BLOCK;
    const std::size_t canvas = static_cast<std::size_t>(pw) * ph;
    const std::size_t blocks = static_cast<std::size_t>(bw) * bh;
    std::unique_ptr<unsigned char[]> scratch(new unsigned char[2 * canvas + 3 * blocks]);
    unsigned char* padded = scratch.get();
    unsigned char* mask = padded + canvas;
    unsigned char* dir = mask + canvas;
    unsigned char* flags = dir + blocks;
    unsigned char* freq = flags + blocks;
    std::memset(mask, 0, blocks); // a block mask until step 13 widens it over the whole canvas
    // 4, 5. Stretched grey levels, centred on the canvas.
    ArrAutoLevelsC8(m_work, w * h, LEVELS_CLIP);
    SetSize8(m_work, w, h, pw, ph, padded, 255);
    // 6, 7. Directions; the outer ring of blocks is background.
    int code = GetDirections8(padded, pw, ph, BLOCK_SHIFT, mask, dir, flags);
    if (code != 0) {
        return code;
    }
    DirsCorrection8(dir, bw, bh, mask);
    Border8(mask, bw, bh, 1);
    // 8. Frequencies mark the blocks without a plausible ridge period.
    code = GetFrequencies8(padded, pw, ph, BLOCK_SHIFT, mask, dir, freq);
    if (code != 0) {
        return code;
    }
    code = FreqCorrection8(freq, bw, bh, mask);
    if (code != 0) {
        return code;
    }
    // 9..12. Holes filled, thin runs removed and regrown; a small finger survives.
    FillCavities8(mask, bw, bh, 1, 0);
    std::unique_ptr<unsigned char[]> kept(new unsigned char[blocks]);
    std::memcpy(kept.get(), mask, blocks);
    DeleteLines8(mask, bw, bh, 0, 0, static_cast<int>(bw) - 1, static_cast<int>(bh) - 1, 0, 2, 7);
    ExpandLines8(mask, bw, bh, 0, 1, 2);
    if (!ArrValueExists8(mask, static_cast<unsigned>(blocks), 0)) {
        std::memcpy(mask, kept.get(), blocks);
    }
    // 13. Block mask to pixels, centre cut back to w x h at the start of the scratch.
    unsigned mw = bw;
    unsigned mh = bh;
    ResizeIncFast8(mask, mw, mh, BLOCK_SHIFT);
    SetSize8(mask, mw, mh, w, h, padded, 255);
    // 14. Grey image and mask to at most 200 dpi.
    const unsigned m = static_cast<unsigned>(
        ResizeDecFastForDPI8(m_work, w, h, FpDpiArg(m_dpi >> m_shift), WORK_DPI));
    m_shift += m;
    mw = m_workWidth;
    mh = m_workHeight;
    ResizeDecFast8(padded, mw, mh, static_cast<int>(m));
    // 15. Grey clone; the working image becomes the mask.
    m_workWidth = w;
    m_workHeight = h;
    GetClone8(m_work, w, h, m_clone);
    std::memcpy(m_work, padded, static_cast<std::size_t>(w) * h);
    return 0;
}

int CFpsFinger::Recognition(SGM_FINGER* /*missing: one finger has no position to miss*/,
                            unsigned /*count*/)
{
    FindRects();
    FindRect();
    CorrectRect();
    return 0;
}

int CFpsFinger::RectsOut(SgmRect* rects, unsigned& rectCount, unsigned align)
{
    m_outCount = 0;
    if (m_candCount > 0 && rectCount != 0) {
        m_out[0] = m_cand[0];
        m_out[1] = m_cand[1];
        m_out[0].m_code = 0;
        m_out[1].m_code = 0;
        m_outCount = 2;
    }
    return CFps::RectsOut(rects, rectCount, align);
}

void CFpsFinger::FindRects()
{
    // 1. Frame round the mask.
    m_candCount = 0;
    const unsigned w = m_workWidth;
    const unsigned h = m_workHeight;
    if (w < 3 || h < 3) {
        return;
    }
    Border8(m_work, w, h, 1);
    // 2. One candidate per region of 0, labels from 10 on (at most 100 regions).
    unsigned char colour = FIRST_LABEL;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    for (std::size_t pos = 0; pos < n; ++pos) {
        if (m_work[pos] != 0) {
            continue;
        }
        if (m_candCount == MAX_RECTS) {
            break;
        }
        unsigned char* seed = m_work + pos;
        Fill8(m_work, w, h, seed, colour);
        if (m_cand[m_candCount].initV(m_work, w, h, seed, colour) == 0) {
            ++m_candCount;
        }
        ++colour;
    }
}

void CFpsFinger::FindRect()
{
    if (m_candCount == 0) {
        return;
    }
    // 1. The largest region.
    int best = 0;
    for (int i = 1; i < m_candCount; ++i) {
        if (m_cand[i].m_length * 2 * m_cand[i].m_hw >
            m_cand[best].m_length * 2 * m_cand[best].m_hw) {
            best = i;
        }
    }
    CSpot& finger = m_cand[best];
    // 2. Its box; the top stays.
    const int top = finger.m_y1;
    int left = finger.m_cx - finger.m_hw;
    int right = finger.m_cx + finger.m_hw;
    int bottom = finger.m_y2;
    // 3, 4. Merge the fragments below it until the box stops changing.
    for (int pass = 0; pass < MAX_MERGE_PASSES; ++pass) {
        int accLeft = left;
        int accRight = right;
        int accBottom = bottom;
        for (int j = 0; j < m_candCount; ++j) {
            const CSpot& frag = m_cand[j];
            if (j == best || frag.m_y1 <= top) {
                continue;
            }
            const int lj = frag.m_cx - frag.m_hw;
            const int rj = frag.m_cx + frag.m_hw;
            bool qualifies = false;
            if (lj <= left && rj >= right) {
                qualifies = rj - lj <= 2 * (right - left);
            } else if (lj >= left && rj <= right) {
                qualifies = true;
            } else if (lj <= left && left <= rj) {
                qualifies = rj - lj <= 2 * (rj - left);
            } else if (lj <= right && right <= rj) {
                qualifies = rj - lj <= 2 * (right - lj);
            } else {
                qualifies = rj - lj <= 0;
            }
            if (!qualifies) {
                continue;
            }
            if (std::abs(frag.m_y1 - accBottom) > std::abs(frag.m_y2 - accBottom)) {
                accLeft = lj < accLeft ? lj : accLeft;
                accRight = rj > accRight ? rj : accRight;
                accBottom = frag.m_y2 > accBottom ? frag.m_y2 : accBottom;
            } else if (frag.m_y1 > accBottom) {
                accBottom = frag.m_y1;
            }
        }
        if (accLeft == left && accRight == right && accBottom == bottom) {
            break;
        }
        const int centre = FloorHalf(accRight + accLeft + 1);
        finger.init(centre, top, centre, accBottom, (accRight - accLeft + 1) / 2);
        left = finger.m_cx - finger.m_hw;
        right = finger.m_cx + finger.m_hw;
        bottom = finger.m_y2;
        if (left == accLeft && right == accRight && bottom == accBottom) {
            break;
        }
    }
    // 5. The finger into slot 0.
    const int cx = finger.m_cx;
    const int hw = finger.m_hw;
    const int y2 = finger.m_y2;
    m_cand[0].init(cx, top, cx, y2, hw);
}

void CFpsFinger::CorrectRect()
{
    if (m_candCount == 0) {
        return;
    }
    CSpot& whole = m_cand[0];
    CSpot& tip = m_cand[1];
    const int c = whole.m_cx;
    const int hw = whole.m_hw;
    const int y1 = whole.m_y1;
    const int y2 = whole.m_y2;
    const int w = static_cast<int>(m_workWidth);
    const int h = static_cast<int>(m_workHeight);
    int tipBottom = y2;
    // 1, 2. A short finger, or one without room below the tip, has no crease to look for.
    const int left = c - hw > 0 ? c - hw : 0;
    const int right = c + hw < w - 1 ? c + hw : w - 1;
    const int bottom = y2 < h - 1 ? y2 : h - 1;
    const int start = (y1 > 0 ? y1 : 0) + CREASE_START;
    if (whole.m_length > 2 * hw && right > left && bottom >= start && m_clone != nullptr) {
        // 3. Ridge pixels (0) of the local-mean binarisation.
        const std::size_t n = static_cast<std::size_t>(m_workWidth) * m_workHeight;
        std::unique_ptr<unsigned char[]> bin(new unsigned char[n]);
        if (BinarizationToL8(m_clone, m_workWidth, m_workHeight, 0, 0, w - 1, h - 1, 4,
                             bin.get()) == 0) {
            const int width = right - left;
            const int q = width >> 2;
            const int limit = width >> 4;
            const int xa = (right + 3 * left) >> 2;
            const int xm = (right + left) >> 1;
            const int xb = (3 * right + left) >> 2;
            // 4. The first pair of rows joined by a line with few ridge pixels on most fragments.
            int crease = -1;
            for (int r = start; r <= bottom && crease < 0; ++r) {
                const int from = r - q > start ? r - q : start;
                const int to = r + q < bottom ? r + q : bottom;
                for (int r2 = from; r2 <= to; ++r2) {
                    const int ya = (3 * r + r2) >> 2;
                    const int ym = (r + r2) >> 1;
                    const int yb = (r + 3 * r2) >> 2;
                    unsigned char* b = bin.get();
                    const int counts[4] = {
                        IsLine8(b, m_workWidth, m_workHeight, left, r, xa, ya, 0),
                        IsLine8(b, m_workWidth, m_workHeight, xa, ya, xm, ym, 0),
                        IsLine8(b, m_workWidth, m_workHeight, xm, ym, xb, yb, 0),
                        IsLine8(b, m_workWidth, m_workHeight, xb, yb, right, r2, 0)};
                    int below = 0;
                    for (int k = 0; k < 4; ++k) {
                        below += counts[k] < limit ? 1 : 0;
                    }
                    if (below > 2) {
                        crease = r > r2 ? r : r2;
                        break;
                    }
                }
            }
            // 5. A crease close to the bottom is the end of the image, not a crease.
            if (crease >= 0 && y2 - crease >= CREASE_MIN_DISTANCE) {
                tipBottom = crease;
            }
        }
    }
    tip.init(c, y1, c, tipBottom, hw);
    // 6. Both boxes grow by 3 at each end and in half-width.
    whole.init(whole.m_x1, whole.m_y1 - GROWTH, whole.m_x2, whole.m_y2 + GROWTH,
               whole.m_hw + GROWTH);
    tip.init(tip.m_x1, tip.m_y1 - GROWTH, tip.m_x2, tip.m_y2 + GROWTH, tip.m_hw + GROWTH);
}
