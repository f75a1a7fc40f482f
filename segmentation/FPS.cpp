// The segmentation driver and the stages that several segmenters share: argument checks and
// working copy, region search over the working mask (1 background and frame, 0 foreground,
// 10..253 region labels, 255 retired labels) with cuts between touching objects, corrections
// of the output rectangles' angle, length and ends, and the conversion to SgmRect corners.

#include "segmentation/FPS.h"

#include "imaging/graph8.h"
#include "imaging/graph8_bin.h"
#include "imaging/graph8_scale.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned char BACKGROUND = 1;
constexpr unsigned char FIRST_LABEL = 10;
constexpr unsigned char LAST_LABEL = 253;
constexpr unsigned char RETIRED = 255;
constexpr int CUT_LENGTH = 80;
constexpr int CUT_THICKNESS = 6;
constexpr int CUT_OVERSHOOT = 4;
constexpr int MAX_LINE_BACKGROUND = 4;
constexpr double OUTLIER_ANGLE = 0.3490658503988659; // 20 degrees

// Length factors by position code 0..10: the little fingers are 10 % shorter.
constexpr double LENGTH_FACTOR[11] = {1, 1, 1, 1, 1, 0.9, 1, 1, 1, 1, 0.9};

double FpLengthFactor(int code)
{
    return code >= 0 && code < 11 ? LENGTH_FACTOR[code] : 1.0;
}

// Stage results onto the FSeg codes.
int FpStageCode(int code)
{
    if (code == 0) {
        return 0;
    }
    return code == IMG_NO_OUTPUT ? SGM_NO_BUFFER : SGM_FAILED;
}

int FpClampInt(int v, int lo, int hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

} // namespace

CFps::CFps()
{
    Reset();
}

CFps::~CFps()
{
    FreeImg();
}

void CFps::Reset()
{
    std::memset(m_points, 0, sizeof(m_points));
    m_pointCount = 0;
    m_candCount = 0;
    m_outCount = 0;
}

int CFps::CopyImg(const unsigned char* image, unsigned width, unsigned height)
{
    FreeImg();
    if (image == nullptr) {
        return SGM_NO_IMAGE;
    }
    if (width == 0) {
        return SGM_BAD_WIDTH;
    }
    if (height == 0) {
        return SGM_BAD_HEIGHT;
    }
    const std::size_t n = static_cast<std::size_t>(width) * height;
    m_work = new unsigned char[n];
    std::memcpy(m_work, image, n);
    m_workWidth = width;
    m_workHeight = height;
    return 1;
}

bool CFps::ReduceWork(int dpi, unsigned extraShift)
{
    unsigned w = m_workWidth;
    unsigned h = m_workHeight;
    m_shift += static_cast<unsigned>(ResizeDecFastForDPI8(m_work, w, h, FpDpiArg(m_dpi), dpi)) +
               extraShift;
    m_workWidth = w;
    m_workHeight = h;
    if (w < 3 || h < 3) {
        m_workWidth = 0;
        m_workHeight = 0;
        return false;
    }
    return true;
}

void CFps::FreeImg()
{
    delete[] m_work;
    m_work = nullptr;
    m_workWidth = 0;
    m_workHeight = 0;
}

void CFps::CleanBackground(const unsigned char* background)
{
    const std::size_t n = static_cast<std::size_t>(m_workWidth) * m_workHeight;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char p = m_work[i];
        const unsigned char b = background[i];
        m_work[i] = p < b ? static_cast<unsigned char>(255 - (b - p)) : 255;
    }
}

int CFps::Segmentation(unsigned char* image, unsigned char* background, unsigned width,
                       unsigned height, unsigned dpi, SGM_HAND hand, NIST_IMP_TYPE impression,
                       bool rotated, SGM_FINGER* missing, unsigned missingCount, SgmRect* rects,
                       unsigned& rectCount, unsigned align)
{
    // 1. Arguments, in this order.
    if (image == nullptr) {
        return SGM_NO_IMAGE;
    }
    if (width < SGM_MIN_SIDE || width > SGM_MAX_SIDE) {
        return SGM_BAD_WIDTH;
    }
    if (height < SGM_MIN_SIDE || height > SGM_MAX_SIDE) {
        return SGM_BAD_HEIGHT;
    }
    if (dpi < SGM_MIN_DPI) {
        return SGM_BAD_DPI;
    }
    if (missing == nullptr && missingCount != 0) {
        return SGM_NO_MISSING_LIST;
    }
    if (rects == nullptr) {
        return SGM_NO_RECTS;
    }
    if (rectCount == 0) {
        return SGM_NO_ROOM;
    }
    // 2. Parameters; an expected hand is worked with as the hand itself.
    m_width = width;
    m_height = height;
    m_dpi = dpi;
    m_hand = hand;
    m_impression = impression;
    m_rotated = rotated;
    m_shift = 0;
    if (hand == SGM_HAND_LEFT_EXPECTED) {
        m_workHand = SGM_HAND_LEFT;
    } else if (hand == SGM_HAND_RIGHT_EXPECTED) {
        m_workHand = SGM_HAND_RIGHT;
    } else {
        m_workHand = static_cast<unsigned>(hand);
    }
    // 3. Working copy.
    Reset();
    const int copied = CopyImg(image, width, height);
    if (copied != 1) {
        return copied;
    }
    if (background != nullptr) {
        CleanBackground(background);
    }
    // 4, 5. The stages.
    int code = FpStageCode(Preprocessing());
    if (code != 0) {
        return code;
    }
    code = FpStageCode(Recognition(missing, missingCount));
    if (code != 0) {
        return code;
    }
    // 6. Output.
    return RectsOut(rects, rectCount, align);
}

void CFps::FpClip(SgmRect& rect, bool upright, unsigned align) const
{
    const int maxX = static_cast<int>(m_width) - 1;
    const int maxY = static_cast<int>(m_height) - 1;
    if (!upright) {
        int* xs[4] = {&rect.x1, &rect.x2, &rect.x3, &rect.x4};
        int* ys[4] = {&rect.y1, &rect.y2, &rect.y3, &rect.y4};
        for (int i = 0; i < 4; ++i) {
            *xs[i] = FpClampInt(*xs[i], 0, maxX);
            *ys[i] = FpClampInt(*ys[i], 0, maxY);
        }
        return;
    }
    // A side cut by the image edge loses the remainder of align on the cut side.
    auto fit = [align](int& lo, int& hi, int limit) {
        const bool cutLo = lo < 0;
        const bool cutHi = hi > limit;
        lo = FpClampInt(lo, 0, limit);
        hi = FpClampInt(hi, lo, limit);
        if (align > 1 && (cutLo || cutHi)) {
            const int span = hi - lo + 1;
            const int r = span % static_cast<int>(align);
            if (r > 0 && span > r) {
                if (cutHi) {
                    hi -= r;
                } else {
                    lo += r;
                }
            }
        }
    };
    int left = rect.x1;
    int right = rect.x4;
    int top = rect.y1;
    int bottom = rect.y4;
    fit(left, right, maxX);
    fit(top, bottom, maxY);
    rect.x1 = left;
    rect.y1 = top;
    rect.x2 = right;
    rect.y2 = top;
    rect.x3 = left;
    rect.y3 = bottom;
    rect.x4 = right;
    rect.y4 = bottom;
}

int CFps::RectsOut(SgmRect* rects, unsigned& rectCount, unsigned align)
{
    // 1. Nothing to write.
    if (m_outCount <= 0) {
        rectCount = 0;
        return SGM_NOTHING;
    }
    // 2, 3. Rectangles that reach the minimum size at the input resolution.
    const std::uint64_t minHalfWidth = (32ull * m_dpi) / 500;
    const std::uint64_t minLength = (64ull * m_dpi) / 500;
    unsigned written = 0;
    for (int i = 0; i < m_outCount; ++i) {
        const CSpot& spot = m_out[i];
        if (spot.m_hw < 0 || (static_cast<std::uint64_t>(spot.m_hw) << m_shift) < minHalfWidth ||
            spot.getScaledHeight(m_shift) < minLength) {
            continue;
        }
        if (written == rectCount) {
            return SGM_NO_ROOM;
        }
        SgmRect& rect = rects[written];
        if (m_rotated) {
            spot.getRectR(&rect, m_shift, align);
        } else {
            spot.getRectV(&rect, m_shift, align);
        }
        FpClip(rect, !m_rotated, align);
        rect.code = spot.m_code;
        rect.phalanx = spot.m_phalanx;
        ++written;
    }
    // 4. Count and hand check.
    rectCount = written;
    if (written == 0) {
        return SGM_NOTHING;
    }
    if ((m_hand == SGM_HAND_LEFT_EXPECTED && m_workHand == SGM_HAND_RIGHT) ||
        (m_hand == SGM_HAND_RIGHT_EXPECTED && m_workHand == SGM_HAND_LEFT)) {
        return SGM_HAND_CONTRADICTED;
    }
    return SGM_FOUND;
}

void CFps::FindPoints()
{
    m_pointCount = 0;
    const int w = static_cast<int>(m_workWidth);
    const int h = static_cast<int>(m_workHeight);
    auto px = [this](int x, int y) { return *FpAt(x, y); };
    // 1. Row pass: tips of background runs whose neighbour row is all foreground.
    for (int y = 1; y + 1 < h && m_pointCount < MAX_POINTS; ++y) {
        int x = 0;
        while (x < w && m_pointCount < MAX_POINTS) {
            if (px(x, y) != BACKGROUND) {
                ++x;
                continue;
            }
            const int first = x;
            const int nrow = px(first, y - 1) == BACKGROUND ? y + 1 : y - 1;
            bool open = px(first, nrow) == BACKGROUND;
            while (x < w && px(x, y) == BACKGROUND) {
                open = open || px(x, nrow) == BACKGROUND;
                ++x;
            }
            if (open) {
                continue;
            }
            const int last = x - 1;
            const int px0 = (first + last) / 2;
            if (px0 > w / 16 && px0 < w - w / 16 && nrow > h / 16 && nrow < h - h / 16) {
                const int side = px(last, y + 1) == BACKGROUND ? -1 : 1;
                m_points[m_pointCount++] = {px0, nrow, side};
            }
        }
    }
    // 2. Column pass: the same along columns, every point kept.
    for (int x = 1; x + 1 < w && m_pointCount < MAX_POINTS; ++x) {
        int y = 0;
        while (y < h && m_pointCount < MAX_POINTS) {
            if (px(x, y) != BACKGROUND) {
                ++y;
                continue;
            }
            const int first = y;
            const int ncol = px(x - 1, first) == BACKGROUND ? x + 1 : x - 1;
            bool open = px(ncol, first) == BACKGROUND;
            while (y < h && px(x, y) == BACKGROUND) {
                open = open || px(ncol, y) == BACKGROUND;
                ++y;
            }
            if (open) {
                continue;
            }
            const int last = y - 1;
            const int side = px(x + 1, last) == BACKGROUND ? -2 : 2;
            m_points[m_pointCount++] = {ncol, (first + last) / 2, side};
        }
    }
}

int CFps::ClearLines(int maxLength)
{
    if (m_pointCount == 0) {
        return 0;
    }
    const CSpot& region = m_cand[m_candCount];
    const int w = static_cast<int>(m_workWidth);
    const int h = static_cast<int>(m_workHeight);
    int drawn = 0;
    for (int i = 0; i < m_pointCount; ++i) {
        SegPoint& pi = m_points[i];
        if (pi.side == 0 || region.isPointInRect(pi.x, pi.y, 0) == 0) {
            continue;
        }
        int best = -1;
        int bestD2 = w * w + h * h;
        for (int j = 0; j < m_pointCount; ++j) {
            const SegPoint& pj = m_points[j];
            if (j == i || pj.side == 0 || pj.side == pi.side || (pj.x == pi.x && pj.y == pi.y) ||
                region.isPointInRect(pj.x, pj.y, 0) == 0) {
                continue;
            }
            const int dx = pj.x - pi.x;
            const int dy = pj.y - pi.y;
            const int d2 = dx * dx + dy * dy;
            const int lim = std::abs(dy) * maxLength / (std::abs(dx) + std::abs(dy));
            if (d2 > lim * lim || d2 >= bestD2) {
                continue;
            }
            if (IsLine8(m_work, m_workWidth, m_workHeight, pi.x, pi.y, pj.x, pj.y, BACKGROUND) >=
                MAX_LINE_BACKGROUND) {
                continue;
            }
            // The perpendicular through the midpoint, shortened to stay inside the image; a
            // vertical or horizontal cut leaves the bound of its zero component out.
            const int mx = (pi.x + pj.x) / 2;
            const int my = (pi.y + pj.y) / 2;
            double t = 1.0;
            if (dy != 0) {
                const double ady = std::abs(dy);
                t = std::fmin(t, mx / ady);
                t = std::fmin(t, (w - 1 - mx) / ady);
            }
            if (dx != 0) {
                const double adx = std::abs(dx);
                t = std::fmin(t, my / adx);
                t = std::fmin(t, (h - 1 - my) / adx);
            }
            const int ex1 = static_cast<int>(mx - t * dy);
            const int ey1 = static_cast<int>(my + t * dx);
            const int ex2 = static_cast<int>(mx + t * dy);
            const int ey2 = static_cast<int>(my - t * dx);
            if (ex1 < 0 || ex1 >= w || ey1 < 0 || ey1 >= h || ex2 < 0 || ex2 >= w || ey2 < 0 ||
                ey2 >= h) {
                continue;
            }
            if (IsLine8(m_work, m_workWidth, m_workHeight, ex1, ey1, ex2, ey2, BACKGROUND) >=
                MAX_LINE_BACKGROUND) {
                continue;
            }
            best = j;
            bestD2 = d2;
        }
        if (best < 0) {
            continue;
        }
        SegPoint& pj = m_points[best];
        pi.side = 0;
        pj.side = 0;
        // Each end pushed outward; a vertical or horizontal cut keeps its direction.
        const int px = pi.x == pj.x ? 0 : CUT_OVERSHOOT;
        const int py = pi.y == pj.y ? 0 : CUT_OVERSHOOT;
        const int xa = pi.x < pj.x ? pi.x - px : pi.x + px;
        const int xb = pi.x < pj.x ? pj.x + px : pj.x - px;
        const int ya = pi.y < pj.y ? pi.y - py : pi.y + py;
        const int yb = pi.y < pj.y ? pj.y + py : pj.y - py;
        LineTh8(m_work, m_workWidth, m_workHeight, xa, ya, xb, yb, BACKGROUND, CUT_THICKNESS);
        ++drawn;
    }
    return drawn;
}

void CFps::FindRects(unsigned minHalfWidthRotated, unsigned minHalfWidthUpright)
{
    // 1. Frame, first label, no points yet.
    m_candCount = 0;
    const unsigned w = m_workWidth;
    const unsigned h = m_workHeight;
    if (w < 3 || h < 3) {
        return;
    }
    Border8(m_work, w, h, BACKGROUND);
    unsigned char colour = FIRST_LABEL;
    bool searched = false;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    const int minRotated = static_cast<int>(minHalfWidthRotated);
    const int minUpright = static_cast<int>(minHalfWidthUpright);
    // 2. Regions of 0 in raster order.
    std::size_t pos = 0;
    while (pos < n) {
        if (m_work[pos] != 0) {
            ++pos;
            continue;
        }
        if (m_candCount == MAX_RECTS) {
            break;
        }
        unsigned char* seed = m_work + pos;
        Fill8(m_work, w, h, seed, colour);
        CSpot& spot = m_cand[m_candCount];
        bool split = false;
        if (!m_rotated) {
            // 3. Upright: a wide region is cut, by its notches or down its axis.
            spot.initV(m_work, w, h, seed, colour);
            if (spot.m_hw < minUpright) {
                ++m_candCount;
            } else {
                if (!searched) {
                    FindPoints();
                    searched = true;
                }
                if (ClearLines(CUT_LENGTH) == 0) {
                    LineV8(m_work, w, h, spot.m_cx, spot.m_y1, spot.m_y2, BACKGROUND);
                }
                split = true;
            }
        } else {
            // 4. Rotated: regions of a finger's proportions are kept as they are.
            spot.initR(m_work, w, h, seed, colour);
            const double hw = spot.m_hw;
            if (spot.m_hw < minRotated && (spot.m_length < 5.5 * hw || spot.m_length > 6 * hw)) {
                spot.setAngleAuto(false);
                ++m_candCount;
            } else {
                if (!searched) {
                    FindPoints();
                    searched = true;
                }
                if (ClearLines(CUT_LENGTH) > 0) {
                    split = true;
                } else {
                    spot.setAngleAuto(false);
                    ++m_candCount;
                }
            }
        }
        if (split) {
            ChangeColor8(m_work, w, h, colour, 0);
            pos = 0;
        }
        // 5. Next label; retired labels make room when they run out.
        if (colour == LAST_LABEL) {
            ChangeColors8(m_work, w, h, FIRST_LABEL, LAST_LABEL, RETIRED);
            colour = FIRST_LABEL;
        } else {
            ++colour;
        }
    }
    // 6. Rotated: wide outliers of the length-weighted mean angle are turned to it.
    if (m_rotated && m_candCount > 0) {
        double sumAngle = 0.0;
        double sumLength = 0.0;
        int sumHw = 0;
        for (int i = 0; i < m_candCount; ++i) {
            sumAngle += m_cand[i].m_length * m_cand[i].m_angle;
            sumLength += m_cand[i].m_length;
            sumHw += m_cand[i].m_hw;
        }
        const double mean = sumLength > 0.0 ? sumAngle / sumLength : 0.0;
        const int meanHw = sumHw / m_candCount;
        for (int i = 0; i < m_candCount; ++i) {
            if (std::fabs(m_cand[i].m_angle - mean) > OUTLIER_ANGLE && m_cand[i].m_hw > meanHw) {
                m_cand[i].setAngle(mean, 0);
            }
        }
    }
}

void CFps::SlapAutoRotate()
{
    if (m_outCount <= 0) {
        return;
    }
    double sum = 0.0;
    for (int i = 0; i < m_outCount; ++i) {
        sum += m_out[i].m_angle;
    }
    const double mean = sum / m_outCount;
    for (int i = 0; i < m_outCount; ++i) {
        m_out[i].setAngle(mean, 0);
    }
}

void CFps::CorrectRectsLength(double minFactor, double maxFactor, double capFactor)
{
    // 1. Mean half-width and the cap.
    if (m_outCount <= 0) {
        return;
    }
    int sumHw = 0;
    for (int i = 0; i < m_outCount; ++i) {
        sumHw += m_out[i].m_hw;
    }
    const int m = sumHw / m_outCount;
    const int cap = static_cast<int>(m * capFactor);
    const int lo = static_cast<int>(m * minFactor);
    const int hi = static_cast<int>(m * maxFactor);
    // 2. Over-long rectangles are capped; plausible lengths make the mean.
    int sum = 0;
    int counted = 0;
    for (int i = 0; i < m_outCount; ++i) {
        CSpot& spot = m_out[i];
        const int limit = static_cast<int>(cap * FpLengthFactor(spot.m_code));
        if (spot.m_length > limit) {
            spot.setAngleAndLength(spot.m_angle, limit, 24);
        }
        if (spot.m_length >= lo && spot.m_length <= hi) {
            sum += spot.m_length;
            ++counted;
        }
    }
    // 3. Every rectangle gets the mean length of its finger.
    if (counted == 0) {
        return;
    }
    const int meanLength = sum / counted;
    for (int i = 0; i < m_outCount; ++i) {
        CSpot& spot = m_out[i];
        const int length = static_cast<int>(meanLength * FpLengthFactor(spot.m_code));
        spot.setAngleAndLength(spot.m_angle, length, 24);
    }
}

void CFps::CorrectRects(int extendTop, int extendBottom, int widen)
{
    const int h = static_cast<int>(m_workHeight);
    for (int i = 0; i < m_outCount; ++i) {
        CSpot& spot = m_out[i];
        int top = spot.m_y1 - static_cast<int>(spot.m_A * extendTop);
        int bottom = spot.m_y2 + static_cast<int>(spot.m_A * extendBottom);
        const int slant = std::abs(static_cast<int>(spot.m_hw * spot.m_B));
        if (top < 0) {
            top = top > 1 - slant ? top : 1 - slant;
        }
        if (bottom >= h) {
            bottom = bottom < h - 1 + slant ? bottom : h - 1 + slant;
        }
        spot.init(spot.getX(top), top, spot.getX(bottom), bottom, spot.m_hw + widen);
    }
}
