// Hand image analysis on a fixed 1000 x 250 working raster: side bands lifted, finger and gap
// guide lines found by weighted line probes, contrast normalised and blurred, the hand mask
// binarised, grown, closed from the top and cleaned, the palm's upper edge found, and every
// finger traced upwards into a least-squares line with crease points. Grey and mask planes
// are int32 per working pixel; outputs are scaled to the caller's pixels.

#include "segmentation/fpalm_image.h"

#include "imaging/graph8_scale.h"
#include "platform/assert.h"
#include "segmentation/graph8_spot.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int HAND = 0;
constexpr int BACKGROUND = 1;
constexpr int VISITED = 2;
constexpr int REACHED = 3;
constexpr int MARGIN = 125;         // side bands examined by crop
constexpr int GUIDE_START = 62;     // first lower end of a finger guide
constexpr int GUIDE_END = 938;      // lower ends stay below this
constexpr int GUIDE_STEP = 31;      // step of both guide ends
constexpr int GUIDE_CLEARANCE = 82; // least distance between the ends of two guides
constexpr int GUIDE_MID_LO = 32;    // mid x of a guide's ends lies in 32..968
constexpr int GUIDE_MID_HI = 968;
constexpr double PROBE_REACH2 = 15625; // 125 squared
constexpr int WHITE_HALF = 100;        // lineWhite blanks x - 100 .. x + 99
constexpr int BLACK_HALF = 15;         // lineBlack sets x - 15 .. x + 14
constexpr int LIGHT_HALF = 31;         // lineLight doubles x - 31 .. x + 30
constexpr int FIT_MIN_ROWS = 2;

// Walks the digital line from (x1, y1) to (x2, y2); visit(x, y, step, movesX, movesY) is
// called for the start (step 0) and every step and returns false to stop the walk.
template <class Visit> void ImWalk(int x1, int y1, int x2, int y2, Visit visit)
{
    const int adx = std::abs(x2 - x1);
    const int ady = std::abs(y2 - y1);
    const int stx = x2 > x1 ? 1 : -1;
    const int sty = y2 > y1 ? 1 : -1;
    const int steps = adx > ady ? adx : ady;
    int x = x1;
    int y = y1;
    int movesX = 0;
    int movesY = 0;
    if (!visit(x, y, 0, 0, 0)) {
        return;
    }
    int err = 0;
    for (int i = 1; i <= steps; ++i) {
        if (adx >= ady) {
            x += stx;
            ++movesX;
            err += 2 * ady;
            if (err > adx) {
                y += sty;
                ++movesY;
                err -= 2 * adx;
            }
        } else {
            y += sty;
            ++movesY;
            err += 2 * adx;
            if (err > ady) {
                x += stx;
                ++movesX;
                err -= 2 * ady;
            }
        }
        if (!visit(x, y, i, movesX, movesY)) {
            return;
        }
    }
}

int ImClamp(int v, int lo, int hi)
{
    return v < lo ? lo : (v > hi ? hi : v);
}

// A double truncated towards zero, saturated to the int range (far-off lines stay finite).
int ImTrunc(double v)
{
    if (!(v > -1e9)) {
        return -1000000000;
    }
    if (v > 1e9) {
        return 1000000000;
    }
    return static_cast<int>(v);
}

} // namespace

void CImage::setRegionSize(int width, int height)
{
    m_width = width;
    m_height = height;
    m_sx = width / 1000.0;
    m_sy = height / 250.0;
    m_isx = 1000.0 / width;
    m_isy = 250.0 / height;
    const double r = m_sx * 250.0 / height;
    m_k = r * r;
}

int CImage::getDirectLines(const unsigned char* image, int& x0, int& y0, int& x1, int& y1,
                           CDevLine* lines, int& lineCount, int& upperLine, int findType)
{
    // 1. Region and scale; the reduction cannot enlarge, so a smaller region is refused.
    lineCount = 0;
    if (image == nullptr || lines == nullptr) {
        return HAND_NO_IMAGE;
    }
    const int width = x1 - x0;
    const int height = y1 - y0;
    if (width < W) {
        return HAND_TOO_NARROW;
    }
    if (height < H) {
        return HAND_TOO_LOW;
    }
    setRegionSize(width, height);
    // 2. Box-average reduction into the working raster.
    ResizeDecLinearTo8(image, static_cast<unsigned>(width), static_cast<unsigned>(height), W, H,
                       m_raster);
    loadFromBitmap(m_raster);
    // 3, 4. Side bands, then the finger guides and the gap guides between them.
    crop();
    findFS(m_fingerGuides, nullptr, 0, m_fingerCount, findType == 1 ? 5 : 4);
    findFS(m_gapGuides, m_fingerGuides, m_fingerCount, m_gapCount, 1 - m_fingerCount);
    // 5. The hand mask and its upper palm edge.
    normalization();
    blur5();
    binarization(findType);
    fillWhiteRegions();
    deleteSmallFragmets();
    getBounds();
    upperLine = findUpLine();
    // 6. Every hand region traced upwards from its lowest row.
    for (int y = H - 1; y >= 1; --y) {
        for (int x = 0; x < W; ++x) {
            if (m_mask[y][x] == HAND) {
                fillAndFindPoints(x, y);
                linearApproximation(lines, lineCount);
            }
        }
    }
    // 7. Guides in the caller's pixels.
    for (int i = 0; i < m_fingerCount; ++i) {
        CLine& g = m_fingerGuides[i].line;
        g.init(g.x1 * m_sx, g.y1 * m_sy, g.x2 * m_sx, g.y2 * m_sy, 0);
    }
    for (int i = 0; i < m_gapCount; ++i) {
        CLine& g = m_gapGuides[i].line;
        g.init(g.x1 * m_sx, g.y1 * m_sy, g.x2 * m_sx, g.y2 * m_sy, 0);
    }
    // 8. Finger slots; implausible lines out.
    setFingerIndexes(lines, lineCount);
    filterLines(lines, lineCount);
    // 9. Bounds in the caller's pixels.
    x0 = static_cast<int>(m_left * m_sx);
    y0 = static_cast<int>(m_top * m_sy);
    x1 = static_cast<int>(m_right * m_sx);
    y1 = static_cast<int>(m_bottom * m_sy);
    return HAND_OK;
}

void CImage::loadFromBitmap(const unsigned char* raster)
{
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            m_grey[y][x] = raster[y * W + x];
        }
    }
}

void CImage::ImHalfMeans(double& upper, double& lower) const
{
    std::int64_t su = 0;
    std::int64_t sl = 0;
    for (int y = 0; y < H; ++y) {
        std::int64_t s = 0;
        for (int x = 0; x < W; ++x) {
            s += m_grey[y][x];
        }
        (y < HALF ? su : sl) += s;
    }
    upper = static_cast<double>(su) / (HALF * W);
    lower = static_cast<double>(sl) / (HALF * W);
}

void CImage::crop()
{
    double m1 = 0.0;
    double m2 = 0.0;
    ImHalfMeans(m1, m2);
    const int fill = static_cast<int>(255 - (255 - m1) * 0.5);
    const int start = static_cast<int>(0.75 * m2) & 255;
    double means[W];
    for (int x = 0; x < W; ++x) {
        int s = 0;
        for (int y = 0; y < H; ++y) {
            s += m_grey[y][x];
        }
        means[x] = s * 0.004;
    }
    // One band: the darkest column below the start minimum seeds a walk each way over the
    // columns darker than T, inside the band.
    auto band = [&](int from, int to) {
        int seed = -1;
        double least = start;
        for (int x = from; x <= to; ++x) {
            if (means[x] < least) {
                least = means[x];
                seed = x;
            }
        }
        if (seed < 0) {
            return;
        }
        const double t = 255 - (255 - means[seed]) * 0.25;
        auto lift = [&](int x) {
            for (int y = 0; y < H; ++y) {
                if (m_grey[y][x] < fill) {
                    m_grey[y][x] = fill;
                }
            }
        };
        for (int x = seed; x <= to && means[x] < t; ++x) {
            lift(x);
        }
        for (int x = seed - 1; x >= from && means[x] < t; --x) {
            lift(x);
        }
    };
    band(0, MARGIN - 1);
    band(W - MARGIN, W - 1);
}

double CImage::lineS(int x1, int y1, int x2, int y2, int fill) const
{
    if (x1 == x2 && y1 == y2) {
        return -1.0;
    }
    double sum = 0.0;
    int steps = 0;
    ImWalk(x1, y1, x2, y2, [&](int x, int y, int step, int mx, int my) {
        const double v =
            (x < 0 || x >= W || y < 0 || y >= H) ? fill : static_cast<double>(m_mask[y][x]);
        sum += v * (1 + 0.032 * (HALF - y));
        if (step == 0) {
            return true;
        }
        ++steps;
        return my * my + m_k * mx * mx < PROBE_REACH2;
    });
    return steps == 0 ? -1.0 : sum / steps;
}

void CImage::lineWhite(int x1, int y1, int x2, int y2)
{
    ImWalk(x1, y1, x2, y2, [&](int x, int y, int step, int, int) {
        if (y < 0 || y >= H) {
            return true;
        }
        if (step == 0) {
            if (x >= 0 && x < W) {
                m_mask[y][x] = 0;
            }
        } else if (x >= WHITE_HALF + 1 && x <= W - WHITE_HALF - 1) {
            for (int i = x - WHITE_HALF; i < x + WHITE_HALF; ++i) {
                m_mask[y][i] = 0;
            }
        }
        return true;
    });
}

void CImage::lineBlack(int x1, int y1, int x2, int y2)
{
    bool joined = false;
    ImWalk(x1, y1, x2, y2, [&](int x, int y, int, int, int) {
        if (y < 0 || y >= H || x < BLACK_HALF + 1 || x > W - BLACK_HALF - 1) {
            return true;
        }
        if (!joined) {
            joined = true;
            for (int i = x - BLACK_HALF; i < x + BLACK_HALF; ++i) {
                joined = joined && m_mask[y][i] == HAND;
            }
        }
        if (joined) {
            for (int i = x - BLACK_HALF; i < x + BLACK_HALF; ++i) {
                m_mask[y][i] = HAND;
            }
        }
        return true;
    });
}

void CImage::lineLight(int x1, int y1, int x2, int y2)
{
    ImWalk(x1, y1, x2, y2, [&](int x, int y, int step, int, int) {
        if (step == 0 || y < 0 || y >= H || x < LIGHT_HALF + 1 || x > W - LIGHT_HALF - 1) {
            return true;
        }
        for (int i = x - LIGHT_HALF; i < x + LIGHT_HALF; ++i) {
            const int v = 2 * m_grey[y][i];
            m_grey[y][i] = v > 255 ? 255 : v;
        }
        return true;
    });
}

void CImage::findFS(Guide* guides, const Guide* reference, int referenceCount, int& count, int n)
{
    // 1. First half-range.
    count = 0;
    int d = static_cast<int>(25.0 * m_sy * 1000.0 / m_width);
    d = d < 1 ? 1 : d; // a region far wider than high still probes one column either side
    // 2. Grey copy into the mask plane: inverted for dark fingers, plain for bright gaps.
    int fill = 255;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const int v = n >= 1 ? 255 - m_grey[y][x] : m_grey[y][x];
            m_mask[y][x] = v;
            fill = v < fill ? v : fill;
        }
    }
    // 3. One search per guide; with a reference, one per pair of neighbouring references.
    int searches = n < 0 ? -n : n;
    const int capacity = reference != nullptr ? MAX_GAP_GUIDES : MAX_FINGER_GUIDES;
    if (reference != nullptr) {
        const int pairs = referenceCount - 1;
        searches = searches < pairs ? searches : pairs;
    }
    searches = searches < capacity ? searches : capacity;
    int h = d;
    for (int k = 0; k < searches; ++k) {
        int fromB = GUIDE_START;
        int toB = GUIDE_END;
        int lowT = 0;
        int highT = 0;
        if (reference != nullptr) {
            fromB = static_cast<int>(reference[k].line.x2);
            toB = static_cast<int>(reference[k + 1].line.x2);
            if (toB <= fromB) {
                break;
            }
            lowT = static_cast<int>(reference[k].line.x1);
            highT = static_cast<int>(reference[k + 1].line.x1);
        }
        double best = 0.0;
        int bestT = 0;
        int bestB = 0;
        for (int xb = fromB; xb < toB; xb += GUIDE_STEP) {
            // 4. Upper ends round the lower end, inside the references' upper ends.
            int t0 = xb - h;
            int t1 = xb + h;
            if (reference != nullptr) {
                t0 = ImClamp(t0, lowT, highT);
                t1 = ImClamp(t1, lowT, highT);
            }
            for (int xt = t0; xt < t1; xt += GUIDE_STEP) {
                const double s = lineS(xb, HALF, xt, 0, fill);
                const double score = (1 + 0.0004 * (500 - std::abs(xb - 500))) *
                                     (1 - 0.1 * std::abs(xt - xb) / h) * s;
                // 5. Better, central enough and clear of the guides already found.
                if (!(score > best)) {
                    continue;
                }
                const int mid = xt < 0 ? xb >> 1 : (xt >= W ? (xb + W - 1) >> 1 : (xt + xb) >> 1);
                if (mid < GUIDE_MID_LO || mid > GUIDE_MID_HI) {
                    continue;
                }
                bool clear = true;
                for (int g = 0; g < count && clear; ++g) {
                    const CLine& line = guides[g].line;
                    const int gt = static_cast<int>(line.x1);
                    const int gb = static_cast<int>(line.x2);
                    clear = std::abs(xt - gt) > GUIDE_CLEARANCE &&
                            std::abs(xb - gb) > GUIDE_CLEARANCE &&
                            !((xt < gt && xb > gb) || (xt > gt && xb < gb));
                }
                if (!clear) {
                    continue;
                }
                best = score;
                bestT = xt;
                bestB = xb;
            }
        }
        // 6. None: this and every later search end. Else blank it and insert it by lower end.
        if (!(best > 0.0)) {
            break;
        }
        lineWhite(bestT, 0, bestB, HALF);
        int at = count;
        while (at > 0 && guides[at - 1].line.x2 > bestB) {
            guides[at] = guides[at - 1];
            --at;
        }
        guides[at].line.init(bestT, 0, bestB, HALF, 0);
        guides[at].score = best;
        guides[at].spare = 0.0;
        ++count;
        h += d;
    }
    // 7. Each guide from its upper end on row 0 to its lower end on row 125.
    for (int g = 0; g < count; ++g) {
        CLine& line = guides[g].line;
        line.init(line.x1, 0, line.x2, HALF, 0);
    }
}

void CImage::normalization()
{
    double m1 = 0.0;
    double m2 = 0.0;
    ImHalfMeans(m1, m2);
    double low = m1 - 2 * (255 - m1);
    low = m2 < low ? m2 : low;
    double scale = 1.0;
    if (low < 0) {
        low = 0;
    } else if (low < 255) {
        scale = 255 / (255 - low);
    }
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            const int p = m_grey[y][x];
            m_grey[y][x] = p > low ? static_cast<int>((p - low) * scale) & 255 : 0;
        }
    }
}

void CImage::blur5()
{
    std::int32_t before[W];
    for (int pass = 0; pass < 5; ++pass) {
        for (int y = 0; y < H; ++y) {
            std::int32_t* row = m_grey[y];
            std::memcpy(before, row, sizeof(before));
            for (int x = 1; x < W - 1; ++x) {
                row[x] = before[x - 1] + 2 * before[x] + before[x + 1];
            }
            row[0] = row[1];
            row[W - 1] = row[W - 2];
        }
        for (int x = 0; x < W; ++x) {
            std::int32_t col[H];
            for (int y = 0; y < H; ++y) {
                col[y] = m_grey[y][x];
            }
            for (int y = 1; y < H - 1; ++y) {
                m_grey[y][x] = (col[y - 1] + 2 * col[y] + col[y + 1]) >> 4;
            }
            m_grey[0][x] = m_grey[1][x];
            m_grey[H - 1][x] = m_grey[H - 2][x];
        }
    }
}

void CImage::ImGrowRows(int a, int b, double limit)
{
    for (int y = a; y <= b; ++y) {
        std::int32_t* mask = m_mask[y];
        const std::int32_t* grey = m_grey[y];
        int x = 0;
        while (x < W) {
            if (mask[x] != HAND) {
                ++x;
                continue;
            }
            for (int l = x - 1; l >= 0 && mask[l] == BACKGROUND && grey[l] < limit; --l) {
                mask[l] = HAND;
            }
            while (x < W && mask[x] == HAND) {
                ++x;
            }
            while (x < W && mask[x] == BACKGROUND && grey[x] < limit) {
                mask[x++] = HAND;
            }
        }
    }
}

void CImage::ImGrowColumns(int a, int b, double limit)
{
    for (int x = 0; x < W; ++x) {
        int y = a;
        while (y <= b) {
            if (m_mask[y][x] != HAND) {
                ++y;
                continue;
            }
            for (int u = y - 1; u >= a && m_mask[u][x] == BACKGROUND && m_grey[u][x] < limit; --u) {
                m_mask[u][x] = HAND;
            }
            while (y <= b && m_mask[y][x] == HAND) {
                ++y;
            }
            while (y <= b && m_mask[y][x] == BACKGROUND && m_grey[y][x] < limit) {
                m_mask[y++][x] = HAND;
            }
        }
    }
}

void CImage::binarization(int findType)
{
    // 1. The gaps between the fingers made brighter.
    if (findType != 1) {
        for (int i = 0; i < m_gapCount; ++i) {
            const CLine& g = m_gapGuides[i].line;
            lineLight(ImTrunc(g.x1), 0, ImTrunc(g.x2), HALF);
        }
    }
    // 2. Thresholds by half.
    double m1 = 0.0;
    double m2 = 0.0;
    ImHalfMeans(m1, m2);
    const double upper = 0.9 * 0.9 * m1;
    const double lower = 0.9 * m2;
    for (int y = 0; y < H; ++y) {
        const double t = y < HALF ? upper : lower;
        for (int x = 0; x < W; ++x) {
            m_mask[y][x] = m_grey[y][x] < t ? HAND : BACKGROUND;
        }
    }
    // 3. The first row where the finger guides reach the hand; the guides joined below it.
    if (m_fingerCount > 0) {
        int reach = -1;
        for (int y = 0; y < HALF && reach < 0; ++y) {
            int off = 0;
            int which = -1;
            for (int i = 0; i < m_fingerCount; ++i) {
                const int x = ImTrunc(m_fingerGuides[i].line.getX(y));
                if (x < 0 || x >= W || m_mask[y][x] == BACKGROUND) {
                    ++off;
                    which = i;
                }
            }
            if (off == 0 || (off == 1 && (which == 0 || which == m_fingerCount - 1))) {
                reach = y;
            }
        }
        if (reach >= 0) {
            for (int i = 0; i < m_fingerCount; ++i) {
                const CLine& g = m_fingerGuides[i].line;
                lineBlack(ImTrunc(g.getX(reach)), reach, ImTrunc(g.x2), HALF);
            }
        }
    }
    // 4. Hand grown over darker background, twice.
    for (int pass = 0; pass < 2; ++pass) {
        ImGrowRows(0, HALF - 1, 0.9 * m1);
        ImGrowRows(HALF, H - 1, 0.9 * m2);
        ImGrowColumns(0, HALF - 1, 0.9 * m1);
        ImGrowColumns(HALF, H - 1, 0.9 * m1);
    }
    // 5. Far beside the outer finger guides the upper half is background.
    if (m_fingerCount > 0) {
        const CLine& first = m_fingerGuides[0].line;
        const CLine& last = m_fingerGuides[m_fingerCount - 1].line;
        for (int y = 0; y < HALF; ++y) {
            const int xl = ImTrunc(first.getX(y));
            const int xr = ImTrunc(last.getX(y));
            if (xl > 99) {
                for (int x = 0; x <= xl - 100 && x < W; ++x) {
                    m_mask[y][x] = BACKGROUND;
                }
            }
            if (xr < 900) {
                for (int x = xr + 100 < 0 ? 0 : xr + 100; x < W; ++x) {
                    m_mask[y][x] = BACKGROUND;
                }
            }
        }
    }
}

void CImage::fillWhiteRegions()
{
    // 1. Frame of hand with a ring of background inside it; row 1 is reached.
    for (int x = 0; x < W; ++x) {
        m_mask[0][x] = HAND;
        m_mask[H - 1][x] = HAND;
        m_mask[1][x] = BACKGROUND;
        m_mask[H - 2][x] = BACKGROUND;
    }
    for (int y = 0; y < H; ++y) {
        m_mask[y][0] = HAND;
        m_mask[y][W - 1] = HAND;
        if (y >= 1 && y <= H - 2) {
            m_mask[y][1] = BACKGROUND;
            m_mask[y][W - 2] = BACKGROUND;
        }
    }
    for (int x = 1; x < W - 1; ++x) {
        m_mask[1][x] = REACHED;
    }
    // 2. Background reached from the top going down and sideways only. A run of a row is
    // reached when a pixel of it lies under a reached pixel, so one sweep down the rows gives
    // the whole fill without a queue.
    for (int y = 2; y < H; ++y) {
        std::int32_t* row = m_mask[y];
        const std::int32_t* above = m_mask[y - 1];
        int x = 0;
        while (x < W) {
            if (row[x] != BACKGROUND) {
                ++x;
                continue;
            }
            const int first = x;
            bool reached = false;
            while (x < W && row[x] == BACKGROUND) {
                reached = reached || above[x] == REACHED;
                ++x;
            }
            if (reached) {
                for (int i = first; i < x; ++i) {
                    row[i] = REACHED;
                }
            }
        }
    }
    // 3. Frame reached; what was not reached is hand.
    for (int x = 0; x < W; ++x) {
        m_mask[0][x] = REACHED;
        m_mask[H - 1][x] = REACHED;
    }
    for (int y = 0; y < H; ++y) {
        m_mask[y][0] = REACHED;
        m_mask[y][W - 1] = REACHED;
        for (int x = 0; x < W; ++x) {
            m_mask[y][x] = m_mask[y][x] == REACHED ? BACKGROUND : HAND;
        }
    }
}

void CImage::deleteSmallFragmets()
{
    // 1. Short runs along the rows; middling ones survive only near a finger guide.
    for (int y = 0; y < H; ++y) {
        std::int32_t* row = m_mask[y];
        int x = 0;
        while (x < W) {
            if (row[x] != HAND) {
                ++x;
                continue;
            }
            const int first = x;
            while (x < W && row[x] == HAND) {
                ++x;
            }
            const int length = x - first;
            bool remove = length <= 27;
            if (length >= 28 && length <= 40) {
                const int centre = (first + x - 1) >> 1;
                remove = true;
                for (int g = 0; g < m_fingerCount && remove; ++g) {
                    const double gx = m_fingerGuides[g].line.getX(y);
                    remove = !(std::fabs(centre - gx) < length);
                }
            }
            if (remove) {
                for (int i = first; i < x; ++i) {
                    row[i] = BACKGROUND;
                }
            }
        }
    }
    // 2. Runs of at most two rows along the columns.
    for (int x = 0; x < W; ++x) {
        int y = 0;
        while (y < H) {
            if (m_mask[y][x] != HAND) {
                ++y;
                continue;
            }
            const int first = y;
            while (y < H && m_mask[y][x] == HAND) {
                ++y;
            }
            if (y - first <= 2) {
                for (int i = first; i < y; ++i) {
                    m_mask[i][x] = BACKGROUND;
                }
            }
        }
    }
}

void CImage::correction()
{
    for (int y = 0; y < H; ++y) {
        std::int32_t* mask = m_mask[y];
        const std::int32_t* grey = m_grey[y];
        int x = 1;
        while (x < W) {
            if (mask[x] == mask[x - 1]) {
                ++x;
                continue;
            }
            // Runs on both sides of the transition between x - 1 and x.
            int l = x - 1;
            while (l > 0 && mask[l - 1] == mask[x - 1]) {
                --l;
            }
            int r = x;
            while (r + 1 < W && mask[r + 1] == mask[x]) {
                ++r;
            }
            const int a = l + ((x - 1 - l) >> 1);
            const int b = x + ((r - x) >> 1);
            std::int64_t sum = 0;
            for (int i = a; i <= b; ++i) {
                sum += grey[i];
            }
            const double mean = static_cast<double>(sum) / (b - a + 1);
            if (mask[x - 1] == HAND) {
                while (x < W && mask[x] != HAND && grey[x] < mean) {
                    mask[x++] = HAND;
                }
            } else {
                for (int i = x - 1; i >= 0 && mask[i] != HAND && grey[i] < mean; --i) {
                    mask[i] = HAND;
                }
            }
            x = r + 1;
        }
    }
}

void CImage::getBounds()
{
    auto rowHasHand = [this](int y) {
        for (int x = 2; x <= W - 3; ++x) {
            if (m_mask[y][x] == HAND) {
                return true;
            }
        }
        return false;
    };
    m_top = H - 2;
    for (int y = 2; y <= H - 3; ++y) {
        if (rowHasHand(y)) {
            m_top = y;
            break;
        }
    }
    m_bottom = H - 3;
    for (int y = H - 3; y >= m_top; --y) {
        if (rowHasHand(y)) {
            m_bottom = y;
            break;
        }
    }
    auto columnHasHand = [this](int x) {
        for (int y = m_top; y <= m_bottom; ++y) {
            if (m_mask[y][x] == HAND) {
                return true;
            }
        }
        return false;
    };
    m_left = W - 2;
    for (int x = 2; x <= W - 3; ++x) {
        if (columnHasHand(x)) {
            m_left = x;
            break;
        }
    }
    m_right = W - 3;
    for (int x = W - 3; x >= m_left; --x) {
        if (columnHasHand(x)) {
            m_right = x;
            break;
        }
    }
}

bool CImage::isBlackLine(int y) const
{
    if (m_fingerCount < 2 || y < 0 || y >= H) {
        return false;
    }
    for (int i = 0; i + 1 < m_fingerCount; ++i) {
        const int xa = ImClamp(ImTrunc(m_fingerGuides[i].line.getX(y)), 0, W);
        const int xb = ImClamp(ImTrunc(m_fingerGuides[i + 1].line.getX(y)) + 1, 0, W);
        if (xb <= xa) {
            return true;
        }
        bool background = false;
        for (int x = xa; x < xb && !background; ++x) {
            background = m_mask[y][x] == BACKGROUND;
        }
        if (!background) {
            return true;
        }
    }
    return false;
}

int CImage::findUpLine()
{
    const int enough = (m_bottom - m_top) / 6;
    int longest = -1;
    int longestStart = 0;
    int y = m_top;
    while (y <= m_bottom) {
        if (!isBlackLine(y)) {
            ++y;
            continue;
        }
        const int start = y;
        while (y + 1 <= m_bottom && isBlackLine(y + 1)) {
            ++y;
        }
        const int k = y - start;
        if (k >= enough) {
            return static_cast<int>((start - 7) * m_sy);
        }
        if (k > longest) {
            longest = k;
            longestStart = start;
        }
        ++y;
    }
    return static_cast<int>(((longest >= 0 ? longestStart : m_bottom) - 7) * m_sy);
}

bool CImage::ImPush(int first, int last, int row)
{
    if (m_queueSize == QUEUE) {
        return false;
    }
    m_queue[(m_queueHead + m_queueSize) % QUEUE] = {first, last, row};
    ++m_queueSize;
    return true;
}

void CImage::fillAndFindPoints(int x, int y)
{
    std::memset(m_runCount, 0, sizeof(m_runCount));
    m_queueHead = 0;
    m_queueSize = 0;
    // The seed's run, recorded under its own row.
    int l = x;
    int r = x;
    while (l > 0 && m_mask[y][l - 1] == HAND) {
        --l;
    }
    while (r + 1 < W && m_mask[y][r + 1] == HAND) {
        ++r;
    }
    for (int i = l; i <= r; ++i) {
        m_mask[y][i] = VISITED;
    }
    m_runs[y][0] = {(l + r) >> 1, (r - l) >> 1};
    m_runCount[y] = 1;
    ImPush(l, r, y);
    // Upwards: each run has at most one run above it; a fork cuts the region at that row, so
    // at most one run is ever queued.
    while (m_queueSize > 0) {
        const Span parent = m_queue[m_queueHead];
        m_queueHead = (m_queueHead + 1) % QUEUE;
        --m_queueSize;
        const int row = parent.row - 1;
        if (row < 0) {
            continue;
        }
        std::int32_t* mask = m_mask[row];
        int children = 0;
        for (int i = parent.first; i <= parent.last; ++i) {
            if (mask[i] != HAND) {
                continue;
            }
            int cl = i;
            int cr = i;
            while (cl > 0 && mask[cl - 1] == HAND) {
                --cl;
            }
            while (cr + 1 < W && mask[cr + 1] == HAND) {
                ++cr;
            }
            for (int j = cl; j <= cr; ++j) {
                mask[j] = VISITED;
            }
            ++children;
            if (children == 2) {
                // A fork: the first child is withdrawn and the row is cut across the parent.
                --m_queueSize;
                --m_runCount[row];
                for (int j = parent.first; j <= parent.last; ++j) {
                    mask[j] = BACKGROUND;
                }
                break;
            }
            ZF_ASSERT(m_runCount[row] < MAX_RUNS);
            m_runs[row][m_runCount[row]++] = {(cl + cr) >> 1, (cr - cl) >> 1};
            const bool queued = ImPush(cl, cr, row);
            ZF_ASSERT(queued);
            i = cr;
        }
    }
}

void CImage::linearApproximation(CDevLine* lines, int& count)
{
    int t0 = 0;
    while (t0 < H) {
        const int m = m_runCount[t0];
        if (m == 0) {
            ++t0;
            continue;
        }
        int t1 = t0;
        while (t1 + 1 < H && m_runCount[t1 + 1] == m) {
            ++t1;
        }
        const int n = t1 - t0 + 1;
        for (int k = 0; k < m && n >= FIT_MIN_ROWS; ++k) {
            if (count >= MAX_LINES) {
                return; // the list is full: further lines are dropped
            }
            // 1. Sums over the span.
            double st = 0.0;
            double stt = 0.0;
            double sz = 0.0;
            double szt = 0.0;
            double sh = 0.0;
            int lo = W;
            int hi = 0;
            for (int t = t0; t <= t1; ++t) {
                const Run& run = m_runs[t][k];
                st += t;
                stt += static_cast<double>(t) * t;
                sz += run.centre;
                szt += static_cast<double>(run.centre) * t;
                sh += run.halfWidth;
                lo = run.centre - run.halfWidth < lo ? run.centre - run.halfWidth : lo;
                hi = run.centre + run.halfWidth > hi ? run.centre + run.halfWidth : hi;
            }
            // 2. x = p + q t by the rotated normal equations.
            double p = 0.0;
            double q = 0.0;
            FitLineSums(n, st, stt, sz, szt, p, q);
            // 3. Width; the tip rows narrower than half of it are passed over.
            const double w = 1.2 * sh / n;
            int tTop = t0;
            while (tTop < t1 && m_runs[tTop][k].halfWidth < 0.5 * w) {
                ++tTop;
            }
            // 4. The line in the caller's pixels.
            CDevLine& line = lines[count++];
            line.count = 0;
            line.slot = 0;
            line.init(m_sx * (p + q * t0), m_sy * t0, m_sx * (p + q * t1), m_sy * t1, m_sx * w);
            line.left = m_sx * lo;
            line.right = m_sx * hi;
            // 5. Its creases.
            const int d = static_cast<int>(line.a * 0.35 * w * m_sx / m_sy);
            findLineDeviders(&line, k, tTop - d > t0 ? tTop - d : t0, t1);
        }
        t0 = t1 + 1;
    }
}

void CImage::findLineDeviders(CDevLine* line, int run, int yTop, int yBottom) const
{
    line->count = 0;
    line->addPoint(line->getX(yTop * m_sy), yTop * m_sy);
    if (yTop > yBottom) {
        return;
    }
    int lastRow = yTop;
    for (int r = yTop; r <= yBottom; ++r) {
        const int reach = r == yTop ? 5 : 15;
        const int end = r + reach < yBottom ? r + reach : yBottom;
        int best = r;
        for (int t = r + 1; t <= end; ++t) {
            if (m_runs[t][run].halfWidth < m_runs[best][run].halfWidth) {
                best = t;
            }
        }
        if (best == lastRow) {
            continue;
        }
        bool take = best == yTop || best == yBottom;
        if (!take) {
            bool wider_above = false;
            bool wider_below = false;
            const int hw = m_runs[best][run].halfWidth;
            for (int t = r; t <= end; ++t) {
                wider_above = wider_above || (t < best && m_runs[t][run].halfWidth > hw);
                wider_below = wider_below || (t > best && m_runs[t][run].halfWidth > hw);
            }
            take = wider_above && wider_below;
        }
        if (take) {
            lastRow = best;
            line->addPoint(line->getX(best * m_sy), best * m_sy);
        }
    }
}

void CImage::setFingerIndexes(CDevLine* lines, int count) const
{
    const double tol = 0.1 * m_width;
    for (int i = 0; i < count; ++i) {
        CDevLine& line = lines[i];
        line.slot = 0;
        for (int j = 0; j < m_fingerCount; ++j) {
            const CLine& g = m_fingerGuides[j].line;
            if (!(std::fabs(g.a * line.x1 + g.b * line.y1 + g.c) < tol &&
                  std::fabs(g.a * line.x2 + g.b * line.y2 + g.c) < tol)) {
                continue;
            }
            // Between the gap guides on either side; the outer fingers are open outwards.
            auto leftAt = [&](double y) {
                return j >= 1 && j - 1 < m_gapCount ? m_gapGuides[j - 1].line.getX(y)
                                                    : -static_cast<double>(m_width);
            };
            auto rightAt = [&](double y) {
                return j < m_gapCount ? m_gapGuides[j].line.getX(y) : 2.0 * m_width;
            };
            if (line.x1 >= leftAt(line.y1) && line.x2 >= leftAt(line.y2) &&
                line.x1 <= rightAt(line.y1) && line.x2 <= rightAt(line.y2)) {
                line.slot = j + 1;
                break;
            }
        }
    }
}

void CImage::filterLines(CDevLine* lines, int& count) const
{
    // The limit is a row of the caller's image, like the lines.
    const double limit = (m_top + 0.4 * (m_bottom - m_top)) * m_sy;
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        const CDevLine& line = lines[i];
        bool keep = line.length > 0 && std::fabs(line.y1 - line.y2) > 3.0;
        if (keep && line.cy <= limit) {
            keep = std::fabs(line.a) > std::fabs(line.b) && line.slot != 0;
        }
        if (keep) {
            if (kept != i) {
                lines[kept] = lines[i];
            }
            ++kept;
        }
    }
    count = kept;
}
