// Slap segmentation: a binary mask at most 200 dpi (by the impression type), regions split
// into fingers, fragments of found fingers removed, the hand and each finger's position code
// chosen by the best-fitting hand template, then angle, length and ends corrected.

#include "segmentation/FPS.h"

#include "imaging/graph8.h"
#include "imaging/graph8_bin.h"
#include "imaging/graph8_dir.h"
#include "imaging/graph8_scale.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// clang-format off
const SlapTemplate templs[22] = {
    // hand, n, weight, tip offsets, codes, gap ratios (left to right)
    {1, 4, 3.0, {0.9, -1.3, -2.1, -1.1}, {10, 9, 8, 7}, {1.0, 1.0, 1.0, 0}},
    {1, 3, 3.0, {0.9, -1.3, -2.1, 0}, {10, 9, 8, 0}, {1.0, 1.0, 0, 0}},
    {1, 3, 2.2, {0.9, -1.3, -1.1, 0}, {10, 9, 7, 0}, {0.8, 1.2, 0, 0}},
    {1, 3, 3.0, {0.9, -2.1, -1.1, 0}, {10, 8, 7, 0}, {1.2, 0.8, 0, 0}},
    {1, 3, 1.0, {-1.3, -2.1, -1.1, 0}, {9, 8, 7, 0}, {1.0, 1.0, 0, 0}},
    {1, 2, 2.2, {0.9, -1.3, 0, 0}, {10, 9, 0, 0}, {1.0, 0, 0, 0}},
    {1, 2, 3.0, {0.9, -2.1, 0, 0}, {10, 8, 0, 0}, {1.0, 0, 0, 0}},
    {1, 2, 2.0, {0.9, -1.1, 0, 0}, {10, 7, 0, 0}, {1.0, 0, 0, 0}},
    {1, 2, 0.8, {-1.3, -2.1, 0, 0}, {9, 8, 0, 0}, {1.0, 0, 0, 0}},
    {1, 2, 0.19999999999999996, {-1.3, -1.1, 0, 0}, {9, 7, 0, 0}, {1.0, 0, 0, 0}},
    {1, 2, 1.0, {-2.1, -1.1, 0, 0}, {8, 7, 0, 0}, {1.0, 0, 0, 0}},
    {2, 4, 3.0, {-1.1, -2.1, -1.3, 0.9}, {2, 3, 4, 5}, {1.0, 1.0, 1.0, 0}},
    {2, 3, 1.0, {-1.1, -2.1, -1.3, 0}, {2, 3, 4, 0}, {1.0, 1.0, 0, 0}},
    {2, 3, 3.0, {-1.1, -2.1, 0.9, 0}, {2, 3, 5, 0}, {0.8, 1.2, 0, 0}},
    {2, 3, 2.2, {-1.1, -1.3, 0.9, 0}, {2, 4, 5, 0}, {1.2, 0.8, 0, 0}},
    {2, 3, 3.0, {-2.1, -1.3, 0.9, 0}, {3, 4, 5, 0}, {1.0, 1.0, 0, 0}},
    {2, 2, 1.0, {-1.1, -2.1, 0, 0}, {2, 3, 0, 0}, {1.0, 0, 0, 0}},
    {2, 2, 0.19999999999999996, {-1.1, -1.3, 0, 0}, {2, 4, 0, 0}, {1.0, 0, 0, 0}},
    {2, 2, 2.0, {-1.1, 0.9, 0, 0}, {2, 5, 0, 0}, {1.0, 0, 0, 0}},
    {2, 2, 0.8, {-2.1, -1.3, 0, 0}, {3, 4, 0, 0}, {1.0, 0, 0, 0}},
    {2, 2, 3.0, {-2.1, 0.9, 0, 0}, {3, 5, 0, 0}, {1.0, 0, 0, 0}},
    {2, 2, 2.2, {-1.3, 0.9, 0, 0}, {4, 5, 0, 0}, {1.0, 0, 0, 0}},
};
// clang-format on

namespace {

constexpr int WORK_DPI = 200;
constexpr unsigned char BINARY_THRESHOLD = 230;
constexpr int EDGE_ROWS = 5;
constexpr int EDGE_FRAGMENT_LENGTH = 30;
constexpr int FRAGMENT_ROWS = 23;
constexpr int FRAGMENT_MARGIN = 15;
constexpr double FRAGMENT_ANGLE = 0.5235987755982988; // 30 degrees
constexpr int MIN_TIP_WIDTH = 13;
constexpr int TEMPLATE_ROWS = 22;
constexpr double NO_FIT = -1.0;

// Live-scan impression codes: binarised by a fixed threshold after a levels stretch.
bool SsLiveScan(NIST_IMP_TYPE impression)
{
    const int c = impression;
    return c == 0 || c == 1 || c == 8 || (c >= 20 && c <= 27) || c == 40 || c == 41;
}

bool SsMissing(const SGM_FINGER* missing, unsigned count, int code)
{
    for (unsigned i = 0; i < count; ++i) {
        if (static_cast<int>(missing[i]) == code) {
            return true;
        }
    }
    return false;
}

// Next choice of n increasing indices below total; false after the last one.
bool SsNextChoice(int* choice, int n, int total)
{
    for (int i = n - 1; i >= 0; --i) {
        if (choice[i] < total - n + i) {
            ++choice[i];
            for (int k = i + 1; k < n; ++k) {
                choice[k] = choice[k - 1] + 1;
            }
            return true;
        }
    }
    return false;
}

int SsClamp(int v, int lo, int hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

} // namespace

CFpsSlap::~CFpsSlap()
{
    delete[] m_clone;
    m_clone = nullptr;
}

int CFpsSlap::Preprocessing()
{
    // 1. At most 200 dpi.
    if (!ReduceWork(WORK_DPI, 0)) {
        return 0; // the image vanished at this resolution: nothing to find
    }
    unsigned w = m_workWidth;
    unsigned h = m_workHeight;
    const unsigned n = w * h;
    // 2. Bright texture damped, smoothed; the grey clone.
    Equalize8(m_work, w, h, 16);
    Blur8(m_work, w, h, 4);
    GetClone8(m_work, w, h, m_clone);
    // 3. Ink on paper: long printed lines painted over, the darkest levels lifted.
    if (m_impression == NIST_IMP_NONLIVESCAN_PLAIN || m_impression == NIST_IMP_NONLIVESCAN_ROLLED) {
        const int mean = ArrGetMean8(m_work, static_cast<int>(n));
        DeleteLongLinesH8(m_work, w, h, static_cast<int>(w / 3));
        ChangeColors8(m_work, w, h, 0, 3, static_cast<unsigned char>(mean + (255 - mean) / 2));
    }
    // 4. Binarisation by the impression type.
    if (SsLiveScan(m_impression)) {
        const std::int64_t dpi = m_dpi;
        const std::int64_t f = ((300 * dpi / 500) * (450 * dpi / 500)) >> (2 * m_shift);
        const std::int64_t area = n;
        const std::int64_t p = 100 * (area - 4 * f) / area;
        if (p >= 1) {
            ArrAutoLevels8(m_work, n, 0, static_cast<int>(p));
        }
        BinarizationC8(m_work, w, h, BINARY_THRESHOLD);
    } else if (m_rotated) {
        const int code = BinarizationX8(m_work, w, h, 0, 0, w - 1, h - 1);
        if (code != 0) {
            return code;
        }
    } else {
        // Stripes of about one finger width; the last one takes the remaining columns.
        const unsigned s = ((350 * static_cast<std::uint64_t>(m_dpi)) / 500) >> m_shift;
        unsigned k = s == 0 ? 1 : static_cast<unsigned>(static_cast<double>(w) / s + 0.5);
        k = k < 1 ? 1 : (k > 4 ? 4 : k);
        const unsigned stripe = w / k;
        for (unsigned i = 0; i < k; ++i) {
            const unsigned x2 = i + 1 == k ? w - 1 : (i + 1) * stripe - 1;
            const int code = BinarizationX8(m_work, w, h, i * stripe, 0, x2, h - 1);
            if (code != 0) {
                return code;
            }
        }
    }
    // 5. Clean-up of the binary mask.
    DeleteSpots8(m_work, w, h, 0, 1, 16);
    DeleteLines8(m_work, w, h, 0, 0, static_cast<int>(w) - 1, static_cast<int>(h) - 1, 0, 2, 20);
    ExpandLines8(m_work, w, h, 0, 1, 4);
    DeleteLines8(m_work, w, h, 0, 0, static_cast<int>(w) - 1, static_cast<int>(h) - 1, 0, 1, 8);
    return 0;
}

int CFpsSlap::Recognition(SGM_FINGER* missing, unsigned count)
{
    // 1. Regions, split where they are wider than a finger.
    const std::uint64_t dpi = m_dpi;
    const unsigned rotatedLimit = static_cast<unsigned>(((350 * dpi / 500) >> m_shift) / 2);
    const unsigned uprightLimit = static_cast<unsigned>(((467 * dpi / 500) >> m_shift) / 2);
    FindRects(rotatedLimit, uprightLimit);
    // 2..7. Fragments removed, fingers assigned, rectangles corrected.
    DelRects();
    FindSlap4(missing, count);
    if (m_rotated) {
        SlapAutoRotate();
    }
    CorrectRectsLength(2.5, 4.0, 3.4);
    CorrectSlapRectsSize();
    CorrectRects(12, 10, 8);
    // 8. A single region that wide is no finger.
    if (m_outCount == 1 && 6 * m_out[0].m_hw > static_cast<int>(m_workWidth)) {
        m_outCount = 0;
    }
    return 0;
}

void CFpsSlap::DelRects()
{
    bool deleted[MAX_RECTS] = {};
    const int h = static_cast<int>(m_workHeight);
    // 1. Short fragments cut by the top or bottom edge.
    for (int i = 0; i < m_candCount; ++i) {
        const CSpot& c = m_cand[i];
        if ((c.m_y1 < EDGE_ROWS && c.m_length < EDGE_FRAGMENT_LENGTH) ||
            (c.m_y2 >= h - 4 && c.m_length < EDGE_FRAGMENT_LENGTH)) {
            deleted[i] = true;
        }
    }
    // 2. A lower fragment whose axis runs into the last quarter of an upper region.
    for (int i = 0; i < m_candCount; ++i) {
        for (int j = i + 1; j < m_candCount && !deleted[i]; ++j) {
            if (deleted[j]) {
                continue;
            }
            const CSpot& a = m_cand[i];
            const CSpot& b = m_cand[j];
            if (std::abs(a.m_cy - b.m_cy) > (a.m_dy + b.m_dy) / 2 + FRAGMENT_ROWS ||
                std::fabs(a.m_angle - b.m_angle) >= FRAGMENT_ANGLE) {
                continue;
            }
            const bool aUpper = a.m_cy <= b.m_cy;
            const CSpot& upper = aUpper ? a : b;
            const CSpot& lower = aUpper ? b : a;
            const int r = (upper.m_y2 + upper.m_cy) / 2;
            if (upper.isPointInRect(lower.getX(r), r, FRAGMENT_MARGIN) != 0) {
                deleted[aUpper ? j : i] = true;
            }
        }
    }
    // 3. Pack.
    int kept = 0;
    for (int i = 0; i < m_candCount; ++i) {
        if (!deleted[i]) {
            if (kept != i) {
                m_cand[kept] = m_cand[i];
            }
            ++kept;
        }
    }
    m_candCount = kept;
}

int CFpsSlap::FindSlap4(SGM_FINGER* missing, unsigned count)
{
    m_outCount = 0;
    const int start = m_candCount < 4 ? m_candCount : 4;
    for (int n = start; n >= 2; --n) {
        // 1. Lowest cost per hand over the rows of n fingers and the choices of n candidates.
        double bestCost[2] = {NO_FIT, NO_FIT};
        int bestRow[2] = {-1, -1};
        int bestChoice[2][4] = {};
        for (int row = 0; row < TEMPLATE_ROWS; ++row) {
            const SlapTemplate& t = templs[row];
            if (t.count != n) {
                continue;
            }
            bool skip = false;
            for (int i = 0; i < n; ++i) {
                skip = skip || SsMissing(missing, count, t.codes[i]);
            }
            if (skip) {
                continue;
            }
            const int side = t.hand == SGM_HAND_LEFT ? 0 : 1;
            int choice[4] = {0, 1, 2, 3};
            do {
                int order[4] = {};
                const double cost = TestSlap(row, n, choice, order);
                if (cost >= 0.0 && (bestRow[side] < 0 || cost < bestCost[side])) {
                    bestCost[side] = cost;
                    bestRow[side] = row;
                    std::memcpy(bestChoice[side], choice, sizeof(choice));
                }
            } while (SsNextChoice(choice, n, m_candCount));
        }
        const bool left = bestRow[0] >= 0;
        const bool right = bestRow[1] >= 0;
        if (!left && !right) {
            continue;
        }
        // 2. The hand: the caller's, when it fits at this count.
        int side = -1;
        switch (m_hand) {
        case SGM_HAND_LEFT:
            side = left ? 0 : -1;
            break;
        case SGM_HAND_RIGHT:
            side = right ? 1 : -1;
            break;
        case SGM_HAND_LEFT_EXPECTED:
            side = left ? 0 : 1;
            break;
        case SGM_HAND_RIGHT_EXPECTED:
            side = right ? 1 : 0;
            break;
        default:
            side = (left && right) ? (bestCost[1] < bestCost[0] ? 1 : 0) : (left ? 0 : 1);
            break;
        }
        if (side < 0) {
            continue;
        }
        // 3. The chosen fit, fingers from left to right.
        int order[4] = {};
        TestSlap(bestRow[side], n, bestChoice[side], order);
        const SlapTemplate& t = templs[bestRow[side]];
        m_workHand = static_cast<unsigned>(t.hand);
        for (int i = 0; i < n; ++i) {
            m_out[i] = m_cand[order[i]];
            m_out[i].m_code = t.codes[i];
            m_out[i].m_phalanx = 1;
        }
        m_outCount = n;
        return 0;
    }
    // 4. No fit: the largest region alone, as the first finger of the hand not missing.
    if (m_candCount == 0) {
        return 0;
    }
    int best = 0;
    for (int i = 1; i < m_candCount; ++i) {
        if (m_cand[i].m_length * m_cand[i].m_hw > m_cand[best].m_length * m_cand[best].m_hw) {
            best = i;
        }
    }
    static const int RIGHT_LIST[] = {2, 3, 4, 5};
    static const int LEFT_LIST[] = {10, 9, 8, 7};
    static const int ANY_LIST[] = {2, 3, 4, 5, 10, 9, 8, 7};
    const int* list = ANY_LIST;
    int listSize = 8;
    if (m_hand == SGM_HAND_RIGHT || m_hand == SGM_HAND_RIGHT_EXPECTED) {
        list = RIGHT_LIST;
        listSize = 4;
    } else if (m_hand == SGM_HAND_LEFT || m_hand == SGM_HAND_LEFT_EXPECTED) {
        list = LEFT_LIST;
        listSize = 4;
    }
    int code = 0;
    for (int i = 0; i < listSize && code == 0; ++i) {
        code = SsMissing(missing, count, list[i]) ? 0 : list[i];
    }
    m_out[0] = m_cand[best];
    m_out[0].m_code = code;
    m_out[0].m_phalanx = 1;
    m_outCount = 1;
    return 0;
}

double CFpsSlap::TestSlap(int row, int n, int* candidates, int* result)
{
    const SlapTemplate& t = templs[row];
    CSpot* f = m_fingers;
    CSpot* model = m_model;
    // 1. Working copies; mean half-width and the longest plausible finger.
    int sumHw = 0;
    for (int i = 0; i < n; ++i) {
        f[i].AssignAxis(m_cand[candidates[i]]);
        result[i] = candidates[i];
        sumHw += f[i].m_hw;
    }
    const int m = sumHw / n;
    const int maxLen = static_cast<int>(3.3 * m);
    double penalty = 0.0;
    // 2. Tips at the top edge reach out of the image; long fingers are cut to maxLen.
    for (int i = 0; i < n; ++i) {
        int x1 = f[i].m_x1;
        int y1 = f[i].m_y1;
        int x2 = f[i].m_x2;
        int y2 = f[i].m_y2;
        if (y1 < 2 && f[i].m_B != 0.0) {
            x1 = f[i].getX(-25);
            y1 = -25;
        }
        if (f[i].m_length < maxLen) {
            penalty += 0.6 * (maxLen - f[i].m_length);
        } else {
            y2 = y1 + static_cast<int>(maxLen * f[i].m_A);
            x2 = f[i].getX(y2);
        }
        f[i].init(x1, y1, x2, y2, f[i].m_hw);
    }
    // 3. Upright round the origin.
    double sumA = 0.0;
    double sumB = 0.0;
    int sumCx = 0;
    int sumCy = 0;
    for (int i = 0; i < n; ++i) {
        sumA += f[i].m_A;
        sumB += f[i].m_B;
        sumCx += f[i].m_cx;
        sumCy += f[i].m_cy;
    }
    const double mA = sumA / n;
    const double mB = sumB / n;
    const int mcx = sumCx / n;
    const int mcy = sumCy / n;
    for (int i = 0; i < n; ++i) {
        f[i].move(-mcx, -mcy);
        f[i].rotate(mA, -mB);
    }
    // 4. Left to right.
    for (int pass = 0; pass < n; ++pass) {
        for (int i = 0; i + 1 < n; ++i) {
            if (f[i + 1].m_cx < f[i].m_cx) {
                CSpot tmp;
                tmp.AssignAxis(f[i]);
                f[i].AssignAxis(f[i + 1]);
                f[i + 1].AssignAxis(tmp);
                const int r = result[i];
                result[i] = result[i + 1];
                result[i + 1] = r;
            }
        }
    }
    // 5. Extents.
    int minTop = static_cast<int>(m_workWidth);
    int maxEnd = 0;
    for (int i = 0; i < n; ++i) {
        minTop = f[i].m_y1 < minTop ? f[i].m_y1 : minTop;
        const int end = static_cast<int>(f[i].m_y1 + 3.55 * m * f[i].m_A);
        if (i == 0) {
            maxEnd = end < 0 ? 0 : end;
        } else if (end > maxEnd) {
            maxEnd = end;
        }
    }
    // 6. Gaps between neighbours.
    int sumGap = 0;
    for (int i = 0; i + 1 < n; ++i) {
        const int gap = std::abs(f[i + 1].m_cx - f[i].m_cx);
        if (gap < 1.5 * m) {
            return NO_FIT;
        }
        sumGap += gap;
    }
    const int meanGap = sumGap / (n - 1);
    if (meanGap < 1.8 * m) {
        return NO_FIT;
    }
    penalty += meanGap;
    // 7. The template's fingers.
    const int u = static_cast<int>((maxEnd - minTop) / (t.weight + 2.0));
    int x = static_cast<int>(-0.5 * meanGap * (n - 1));
    int tips[4] = {};
    for (int i = 0; i < n; ++i) {
        tips[i] = static_cast<int>(u * t.tips[i]);
        model[i].init(x, tips[i], x, static_cast<int>(tips[i] + 3.6 * m),
                      static_cast<int>(0.9 * m));
        x += static_cast<int>(meanGap * t.gaps[i]);
    }
    // 8. The real tips may not run against the template's order by more than m.
    for (int i = 0; i + 1 < n; ++i) {
        const int dT = tips[i + 1] - tips[i];
        const int dW = f[i + 1].m_y1 - f[i].m_y1;
        if ((dT < 0 && dW > m) || (dT > 0 && dW < -m)) {
            return NO_FIT;
        }
    }
    // 9. Cost of the differences; every centre inside its template finger.
    double cost = penalty;
    for (int i = 0; i < n; ++i) {
        if (model[i].isPointInRect(f[i].m_cx, f[i].m_cy, 0) == 0) {
            return NO_FIT;
        }
        cost += std::abs(model[i].m_y1 - f[i].m_y1) + std::abs(model[i].m_y2 - f[i].m_y2) +
                0.6 * std::abs(model[i].m_cx - f[i].m_cx) +
                std::abs(model[i].m_length - f[i].m_length) + std::abs(model[i].m_hw - f[i].m_hw);
    }
    return cost;
}

void CFpsSlap::CorrectSlapRectsSize()
{
    // 1. Mean length and half-width.
    if (m_outCount <= 0) {
        return;
    }
    int sumLength = 0;
    int sumHw = 0;
    for (int i = 0; i < m_outCount; ++i) {
        sumLength += m_out[i].m_length;
        sumHw += m_out[i].m_hw;
    }
    const int L = sumLength / m_outCount;
    const int H = sumHw / m_outCount;
    // 2. Growth of each short finger (negative rows); -1 marks a narrow one left alone.
    int growth[MAX_RECTS] = {};
    bool any = false;
    for (int i = 0; i < m_outCount; ++i) {
        const CSpot& s = m_out[i];
        if (2 * H > L) {
            growth[i] = s.m_length >= L - 4 ? -2 - 2 * H + L : -2 - L + s.m_length;
            any = true;
        } else if (s.m_length < L - 4) {
            growth[i] = -2 - L + s.m_length;
            any = true;
        } else if (s.m_hw < H - 8) {
            growth[i] = -1;
            any = true;
        }
    }
    if (!any || m_clone == nullptr) {
        return;
    }
    // 3. Each short finger grows upwards while its cross-section stays bright enough.
    const int w = static_cast<int>(m_workWidth);
    const int h = static_cast<int>(m_workHeight);
    const std::size_t n = static_cast<std::size_t>(m_workWidth) * m_workHeight;
    for (int i = 0; i < m_outCount; ++i) {
        if (growth[i] >= -1) {
            continue;
        }
        CSpot& s = m_out[i];
        const int hA = static_cast<int>(s.m_hw * s.m_A);
        const int hB = static_cast<int>(s.m_hw * s.m_B);
        const int t = s.m_y1 + growth[i] - static_cast<int>(4 * s.m_A);
        std::memcpy(m_work, m_clone, n);
        const int tx = s.getX(t);
        int xs[4] = {tx - hA, tx + hA, s.m_cx - hA, s.m_cx + hA};
        int ys[4] = {t - hB, t + hB, s.m_cy - hB, s.m_cy + hB};
        int x1 = xs[0];
        int x2 = xs[0];
        int y1 = ys[0];
        int y2 = ys[0];
        for (int k = 1; k < 4; ++k) {
            x1 = xs[k] < x1 ? xs[k] : x1;
            x2 = xs[k] > x2 ? xs[k] : x2;
            y1 = ys[k] < y1 ? ys[k] : y1;
            y2 = ys[k] > y2 ? ys[k] : y2;
        }
        const int half = (x2 - x1) / 2;
        x1 = SsClamp(x1 - half, 0, w - 1);
        x2 = SsClamp(x2 + half, 0, w - 1);
        y1 = SsClamp(y1, 0, h - 1);
        y2 = SsClamp(y2, 0, h - 1);
        if (x1 < x2 && y1 < y2) {
            BinarizationX8(m_work, m_workWidth, m_workHeight, static_cast<unsigned>(x1),
                           static_cast<unsigned>(y1), static_cast<unsigned>(x2),
                           static_cast<unsigned>(y2));
        }
        int r = s.m_y1 - 1;
        while (r > t) {
            const int xr = s.getX(r);
            if (LineN8(m_work, m_workWidth, m_workHeight, xr - hA, r - hB, xr + hA, r + hB, 0) <
                MIN_TIP_WIDTH) {
                break;
            }
            --r;
        }
        s.init(s.getX(r), r - static_cast<int>(2 * s.m_A), s.m_x2, s.m_y2, s.m_hw);
    }
}
