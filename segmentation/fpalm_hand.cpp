// Hand model: palm band from the finger lines round the palm's upper edge, fingers chosen per
// finger slot, left/right from where the fingers stand against the palm, connection points on
// a circle round the palm, corrected palm and phalanx lengths from the relative-length tables,
// and three phalanx rectangles per finger snapped to the creases. Doubles in image pixels.

#include "segmentation/fpalm_hand.h"

#include <cmath>

namespace {

constexpr double RAW_LPL[4] = {0.9, 1.2, 1.3, 1.1};
constexpr double RAW_RPL[4] = {1.1, 1.3, 1.2, 0.9};
constexpr double RAW_PFL[3] = {2.0, 1.9, 2.4};
constexpr double LPL_MEAN = (RAW_LPL[0] + RAW_LPL[1] + RAW_LPL[2] + RAW_LPL[3]) * 0.25;
constexpr double PFL_MEAN = (RAW_PFL[0] + RAW_PFL[1] + RAW_PFL[2]) / 3;
constexpr int RIGHT_CODES[4] = {2, 3, 4, 5};
constexpr int LEFT_CODES[4] = {10, 9, 8, 7};

double HaPflSum()
{
    return pfl[0] + pfl[1] + pfl[2];
}

} // namespace

// Normalised once, by the compiler: both finger tables by the left table's mean.
const double lpl[4] = {RAW_LPL[0] / LPL_MEAN, RAW_LPL[1] / LPL_MEAN, RAW_LPL[2] / LPL_MEAN,
                       RAW_LPL[3] / LPL_MEAN};
const double rpl[4] = {RAW_RPL[0] / LPL_MEAN, RAW_RPL[1] / LPL_MEAN, RAW_RPL[2] / LPL_MEAN,
                       RAW_RPL[3] / LPL_MEAN};
const double pfl[3] = {RAW_PFL[0] / PFL_MEAN, RAW_PFL[1] / PFL_MEAN, RAW_PFL[2] / PFL_MEAN};

CPhalanx::CPhalanx(int index, double x1, double y1, double x2, double y2, double width)
    : m_index(index), m_axis(x1, y1, x2, y2, width)
{
    m_rect.init(&m_axis);
}

CFinger::CFinger(CHand* hand, const CDevLine* line) : m_hand(hand), m_line(*line)
{
    m_rect.init(&m_line);
}

CFinger::~CFinger()
{
    for (int k = 0; k < m_phalanxCount; ++k) {
        delete m_phalanxes[k];
    }
}

CPhalanx* CFinger::phalanx(int k) const
{
    return k >= 0 && k < m_phalanxCount ? m_phalanxes[k] : nullptr;
}

void CFinger::addPhalanx(CPhalanx* phalanx)
{
    if (m_phalanxCount >= MAX_PHALANXES) {
        delete phalanx;
        return;
    }
    m_phalanxes[m_phalanxCount++] = phalanx;
}

double CFinger::getLowPointX() const
{
    return m_phalanxCount > 0 ? m_phalanxes[m_phalanxCount - 1]->getLowPointX() : m_line.x2;
}

double CFinger::getLowPointY() const
{
    return m_phalanxCount > 0 ? m_phalanxes[m_phalanxCount - 1]->getLowPointY() : m_line.y2;
}

void CFinger::setConnectionPointY(double y)
{
    m_cpY = y;
    m_cpX = m_line.getX(y);
}

double CFinger::getPhalanxLength(double limit) const
{
    double gap = 0.0;
    for (int k = 1; k < m_line.count; ++k) {
        const double g = (m_line.points[k].y - m_line.points[k - 1].y) * m_line.a;
        gap = g > gap ? g : gap;
    }
    if (gap < limit || gap < 0.35 * m_line.length) {
        return gap;
    }
    return 0.0;
}

double CFinger::setAvrPhalanxLength(double& length)
{
    m_avrPhalanx = length;
    const double a = m_line.a;
    if (!(a > 0.0)) {
        return 0.0;
    }
    const double lp = length * a;
    const double s = HaPflSum();
    const double top = m_cpY - lp * s;
    const double tip = m_line.count > 0 ? m_line.points[0].y : m_line.y1;
    if (std::fabs(tip - top) < 0.5 * lp) {
        length = (m_cpY - tip) / s / a;
        m_avrPhalanx = length;
        return 0.0;
    }
    return tip < top ? top - tip : 0.0;
}

double CFinger::getCirclePointY(double /*cx: the edge is relative to the centre*/, double cy,
                                double r, const CLine* edge) const
{
    const double fallback = cy - 0.4 * r;
    const double a = edge->a;
    const double b = edge->b;
    const double c = edge->c;
    const double r2 = r * r;
    const double a2 = r2 * (a * a + b * b);
    const double bq = 2 * b * c * r2;
    const double d = bq * bq - 4 * a2 * r2 * (c * c - r2 * a * a);
    if (d < 0 || !(a2 > 0.0)) {
        return fallback;
    }
    const double root = std::sqrt(d);
    double best = fallback;
    const double ys[2] = {(-bq - root) / (2 * a2) + cy, (-bq + root) / (2 * a2) + cy};
    for (double y : ys) {
        if (y >= cy - r && y < best) {
            best = y;
        }
    }
    return best;
}

void CFinger::findConnectionPoint(const CLine* palm)
{
    const double hw = palm->width;
    const double up = palm->cy - palm->y1;
    const double r = hw > up ? hw : up;
    const bool right = m_hand != nullptr && m_hand->isRightHand() != 0;
    const double cx = right ? palm->cx - 0.1 * hw : palm->cx + 0.1 * hw;
    const double cy = palm->cy;
    const double w = m_line.width;
    const CLine left(m_line.x1 - w - cx, m_line.y1 - cy, m_line.x2 - w - cx, m_line.y2 - cy, 0);
    const CLine rightEdge(m_line.x1 + w - cx, m_line.y1 - cy, m_line.x2 + w - cx, m_line.y2 - cy,
                          0);
    const double ya = getCirclePointY(cx, cy, r, &left);
    const double yb = getCirclePointY(cx, cy, r, &rightEdge);
    setConnectionPointY((ya + yb) * 0.5 + 0.05 * up);
}

void CFinger::findPhalanxes()
{
    const double s = HaPflSum();
    double lp = m_avrPhalanx * m_line.a;
    const double tip = m_line.count > 0 ? m_line.points[0].y : m_line.y1;
    // 1. Top boundary and the phalanx length in use.
    double y0 = tip;
    if (m_cpY > 0) {
        const double top = m_cpY - lp * s;
        if (tip < top || tip - top < 0.4 * lp) {
            lp = (m_cpY - tip) / s;
        } else {
            y0 = top;
        }
    }
    const double tolerance = 0.4 * lp;
    // 2. Boundaries by the phalanx proportions.
    double ys[4];
    ys[0] = y0;
    ys[1] = ys[0] + lp * pfl[0];
    ys[2] = ys[1] + lp * pfl[1];
    ys[3] = ys[2] + lp * pfl[2];
    // 3. The two inner boundaries snap to the nearest crease within the tolerance.
    for (int i = 1; i <= 2; ++i) {
        double nearest = 0.0;
        bool found = false;
        for (int k = 1; k < m_line.count; ++k) {
            const double d = std::fabs(m_line.points[k].y - ys[i]);
            if (!found || d < std::fabs(nearest - ys[i])) {
                nearest = m_line.points[k].y;
                found = true;
            }
        }
        if (found && std::fabs(nearest - ys[i]) <= std::fabs(tolerance)) {
            ys[i] = nearest;
        }
    }
    // 4. The profile becomes the four boundaries.
    m_line.count = 0;
    for (double y : ys) {
        m_line.addPoint(m_line.getX(y), y);
    }
    // 5. Tip, middle and base phalanx; the outer two a little wider.
    const double w = m_line.width;
    for (int k = 0; k < MAX_PHALANXES; ++k) {
        const double width = k == 1 ? w : 1.1 * w;
        addPhalanx(
            new CPhalanx(k, m_line.getX(ys[k]), ys[k], m_line.getX(ys[k + 1]), ys[k + 1], width));
    }
}

CHand::CHand() = default;

CHand::~CHand()
{
    free();
}

CFinger* CHand::finger(int i) const
{
    return i >= 0 && i < m_fingerCount ? m_fingers[i] : nullptr;
}

void CHand::free()
{
    for (CFinger*& f : m_fingers) {
        delete f;
        f = nullptr;
    }
}

void CHand::addStdFinger(CFinger* finger)
{
    if (m_fingerCount >= MAX_FINGERS) {
        delete finger;
        return;
    }
    m_fingers[m_fingerCount++] = finger;
}

int CHand::find(const unsigned char* image, unsigned width, unsigned height, int findType)
{
    // 1. Reset.
    m_width = static_cast<std::int32_t>(width);
    m_height = static_cast<std::int32_t>(height);
    m_halfWidth = m_width >> 1;
    m_halfHeight = m_height >> 1;
    m_findType = findType;
    free();
    m_fingerCount = 0;
    m_typicalWidth = 0.0;
    m_avrPhalanx = 0.0;
    m_rightHand = 0;
    m_x0 = 0;
    m_y0 = 0;
    m_x1 = m_width;
    m_y1 = m_height;
    // 2. Finger lines, bounds and the palm's upper edge.
    int upper = m_upperLine;
    int count = 0;
    const int code =
        m_image.getDirectLines(image, m_x0, m_y0, m_x1, m_y1, m_lines, count, upper, findType);
    m_lineCount = count;
    if (code != HAND_OK) {
        return code;
    }
    m_upperLine = upper;
    // 3. The steps of the type.
    if (m_lineCount == 0) {
        return HAND_OK;
    }
    if (findType == -1) {
        findFingers();
    } else {
        findPalm();
        if (findType != 1) {
            findFingers();
        }
    }
    checkRightHand();
    if (findType == 0) {
        findConnectionPoints();
    }
    if (findType != -1) {
        correctPalm1();
    }
    if (findType == 1) {
        return HAND_OK;
    }
    correctFingers();
    if (findType == 0) {
        correctPalm2();
    }
    return HAND_OK;
}

void CHand::findPalm()
{
    const double xl = m_x0 + 0.2 * (m_x1 - m_x0);
    const double xr = m_x1 - 0.2 * (m_x1 - m_x0);
    const double imageWidth = m_width;
    double l = imageWidth;
    double r = 0.0;
    double m = 0.0;
    double bottom = 0.0;
    bool found = false;
    bool inBand = false;
    double fallbackL = xl;
    double fallbackR = xr;
    auto within = [&](const CDevLine& line) { return line.cx > xl && line.cx < xr; };
    auto overlaps = [](const CDevLine& p, const CDevLine& q) {
        auto between = [](double v, double lo, double hi) { return v > lo && v < hi; };
        return between(p.y1, q.y1, q.y2) || between(q.y1, p.y1, p.y2) ||
               between(p.y2, q.y1, q.y2) || between(q.y2, p.y1, p.y2);
    };
    for (int i = 0; i < m_lineCount; ++i) {
        if (!within(m_lines[i])) {
            continue;
        }
        // 1. Mid of the palm so far.
        m = (l + r) * 0.5;
        // 2. The widest overlapping line, weighted by its distance from that mid.
        auto score = [&](const CDevLine& line) {
            double s = (line.right - line.left) * line.width;
            if (l != imageWidth) {
                s *= imageWidth - std::fabs(line.cx - m);
            }
            return s;
        };
        int best = i;
        for (int j = 0; j < m_lineCount; ++j) {
            if (j == best || !within(m_lines[j]) || !overlaps(m_lines[j], m_lines[best])) {
                continue;
            }
            const double sb = score(m_lines[best]);
            if (sb == 0.0 || score(m_lines[j]) / sb > 2.0) {
                best = j;
            }
        }
        const CDevLine& b = m_lines[best];
        // 3. A line reaching above the palm's upper edge widens the palm.
        if (m_upperLine < b.cy) {
            l = b.left < l ? b.left : l;
            r = b.right > r ? b.right : r;
            found = true;
        }
        // 4. The lowest line is the fallback.
        if (b.y2 > bottom) {
            bottom = b.y2;
            fallbackL = b.left;
            fallbackR = b.right;
            inBand = true;
        }
    }
    if (!found) {
        l = inBand ? fallbackL : xl;
        r = inBand ? fallbackR : xr;
        m = (l + r) * 0.5;
    }
    m_palmLine = CLine(m, m_upperLine, m, bottom, std::fabs(r - l) * 0.5);
    m_palmRect.init(&m_palmLine);
}

void CHand::findFingers()
{
    // 1. The best line of each finger slot.
    const double upper = m_upperLine;
    int chosen[MAX_FINGERS + 1] = {-1, -1, -1, -1, -1};
    double bestScore[MAX_FINGERS + 1] = {};
    for (int i = 0; i < m_lineCount; ++i) {
        const CDevLine& line = m_lines[i];
        if (line.slot < 1 || line.slot > MAX_FINGERS) {
            continue;
        }
        const bool candidate =
            (line.y1 + line.cy) * 0.5 < upper && upper > line.y1 + 2 * line.width &&
            0.02 * (m_width + m_height) < line.length && 0.125 * m_width > line.width &&
            std::fabs(line.a) > std::fabs(line.b) && std::fabs(line.y1 - line.y2) > 3.0;
        if (!candidate) {
            continue;
        }
        const double score = line.length * (1 + (m_halfHeight - line.cy) / m_halfHeight);
        if (chosen[line.slot] < 0 || score > bestScore[line.slot]) {
            chosen[line.slot] = i;
            bestScore[line.slot] = score;
        }
    }
    // 2. Lines narrower than twice the mean width become fingers.
    double sum = 0.0;
    int n = 0;
    for (int s = 1; s <= MAX_FINGERS; ++s) {
        if (chosen[s] >= 0) {
            sum += m_lines[chosen[s]].width;
            ++n;
        }
    }
    const double estimate = n > 0 ? 2 * sum / n : 0.2 * m_width;
    for (int s = 1; s <= MAX_FINGERS; ++s) {
        if (chosen[s] >= 0 && m_lines[chosen[s]].width < estimate) {
            addStdFinger(new CFinger(this, &m_lines[chosen[s]]));
            m_lines[chosen[s]].length = 0;
        }
    }
    // 3. Typical finger width between the narrowest and the widest, both capped by a quarter
    // of the palm's half-width; no finger (or no palm) leaves it 0.
    const double cap = 0.25 * m_palmLine.width;
    double wmin = m_height;
    double wmax = 0.0;
    for (int k = 0; k < m_fingerCount; ++k) {
        const double w = m_fingers[k]->getWidth();
        wmin = w < wmin ? w : wmin;
        wmax = w > wmax ? w : wmax;
    }
    wmin = wmin < cap ? wmin : cap;
    wmax = wmax < cap ? wmax : cap;
    if (wmax > 0.0) {
        const double t = 0.5 * wmin / wmax;
        m_typicalWidth = (1 - t) * wmax + t * wmin;
    } else {
        m_typicalWidth = 0.0;
    }
    // 4. Average phalanx length from the creases.
    m_avrPhalanx = 0.0;
    if (m_typicalWidth > 0.0) {
        double total = 0.0;
        int positive = 0;
        for (int k = 0; k < m_fingerCount; ++k) {
            const double g = m_fingers[k]->getPhalanxLength(4 * m_typicalWidth);
            if (g > 0.0) {
                total += g;
                ++positive;
            }
        }
        m_avrPhalanx = positive > 0 ? total / positive * 0.95 : 3 * m_typicalWidth;
    }
    // 5. Left to right by low point.
    bool exchanged = true;
    while (exchanged) {
        exchanged = false;
        for (int k = 0; k + 1 < m_fingerCount; ++k) {
            if (m_fingers[k]->getLowPointX() > m_fingers[k + 1]->getLowPointX()) {
                CFinger* t = m_fingers[k];
                m_fingers[k] = m_fingers[k + 1];
                m_fingers[k + 1] = t;
                exchanged = true;
            }
        }
    }
}

void CHand::checkRightHand()
{
    double d = 0.0;
    if (m_fingerCount < 3) {
        // Where the broad lines of the lower half stand against all of them.
        double swl = 0.0;
        double swlx = 0.0;
        double sl = 0.0;
        double slx = 0.0;
        for (int i = 0; i < m_lineCount; ++i) {
            const CDevLine& line = m_lines[i];
            if (line.cy > m_halfHeight) {
                swl += line.length * line.width;
                swlx += line.length * line.width * line.cx;
                sl += line.length;
                slx += line.length * line.cx;
            }
        }
        d = swl > 0.0 && sl > 0.0 ? swlx / swl - slx / sl : 0.0;
    } else {
        const double mid = m_palmLine.cx;
        for (int k = 0; k < m_fingerCount; ++k) {
            d += m_fingers[k]->getLowPointX() - mid;
        }
        if (std::fabs(d) < 1.1 * m_typicalWidth) {
            const CFinger* first = m_fingers[0];
            const CFinger* last = m_fingers[m_fingerCount - 1];
            const CFinger* weaker = last->getPower() < first->getPower() ? last : first;
            d = weaker->getLowPointX() - mid;
        }
    }
    m_rightHand = d > 0.0 ? 1 : 0;
    if (m_findType == 1) {
        return;
    }
    const int* codes = m_rightHand != 0 ? RIGHT_CODES : LEFT_CODES;
    for (int k = 0; k < m_fingerCount; ++k) {
        m_fingers[k]->setIndex(codes[k]);
    }
}

void CHand::findConnectionPoints()
{
    for (int k = 0; k < m_fingerCount; ++k) {
        m_fingers[k]->findConnectionPoint(&m_palmLine);
    }
}

void CHand::correctPalm1()
{
    const double cx = m_palmLine.cx;
    double y1 = m_palmLine.y1;
    const double y2 = m_palmLine.y2;
    const double w = m_palmLine.width;
    const bool right = m_rightHand != 0;
    double topX = right ? cx + 0.1 * w : cx - 0.1 * w;
    if (m_fingerCount >= 3) {
        double lowest = m_fingers[0]->getLowPointY();
        double sum = 0.0;
        for (int k = 0; k < m_fingerCount; ++k) {
            const double y = m_fingers[k]->getLowPointY();
            lowest = y > lowest ? y : lowest;
            sum += m_fingers[k]->connectionPointX();
        }
        if (y1 > lowest) {
            y1 = lowest;
        }
        const double lo = right ? cx + 0.1 * w : cx - 0.3 * w;
        const double hi = right ? cx + 0.3 * w : cx - 0.1 * w;
        topX = sum / m_fingerCount;
        topX = topX < lo ? lo : (topX > hi ? hi : topX);
    }
    m_palmLine = CLine(topX, y1, 2 * cx - topX, y2 + 0.05 * (y2 - y1), 1.1 * w);
    m_palmRect.init(&m_palmLine);
}

void CHand::correctFingers()
{
    if (m_fingerCount == 0) {
        return;
    }
    // 1. Neighbouring fingers bound the typical width.
    if (m_fingerCount >= 2) {
        double sum = 0.0;
        for (int k = 0; k + 1 < m_fingerCount; ++k) {
            sum += m_fingers[k + 1]->getLowPointX() - m_fingers[k]->getLowPointX();
        }
        const double half = 0.5 * sum / (m_fingerCount - 1);
        if (half < m_typicalWidth) {
            m_typicalWidth = half;
        }
    }
    // 2. Phalanx lengths by the finger's share; fingers whose tip fits refine the average,
    // which every finger then takes again (mirror images get mirror results).
    const double* table = m_rightHand != 0 ? rpl : lpl;
    double sumC = 0.0;
    double sumL = 0.0;
    for (int k = 0; k < m_fingerCount; ++k) {
        double length = table[k] * m_avrPhalanx;
        sumC += m_fingers[k]->setAvrPhalanxLength(length);
        sumL += length / table[k];
    }
    m_avrPhalanx = sumL / m_fingerCount;
    for (int k = 0; k < m_fingerCount; ++k) {
        double length = m_avrPhalanx * table[k];
        m_fingers[k]->setAvrPhalanxLength(length);
    }
    // 3. Tips standing above their phalanxes move the connection points.
    if (sumC > 0.0) {
        const double shift = sumC / m_fingerCount * 0.5;
        for (int k = 0; k < m_fingerCount; ++k) {
            m_fingers[k]->setConnectionPointY(m_fingers[k]->connectionPointY() - shift);
        }
    }
    // 4. Widths and phalanxes.
    for (int k = 0; k < m_fingerCount; ++k) {
        CFinger* f = m_fingers[k];
        const double w = 1.1 * f->getWidth();
        f->setWidth(w > m_typicalWidth ? w : m_typicalWidth);
        f->findPhalanxes();
    }
}

void CHand::correctPalm2()
{
    if (m_fingerCount < 3) {
        return;
    }
    double least = m_height;
    for (int k = 0; k < m_fingerCount; ++k) {
        const double y = m_fingers[k]->getLowPointY();
        least = y < least ? y : least;
    }
    if (m_palmLine.y1 > least) {
        m_palmLine = CLine(m_palmLine.x1, least, m_palmLine.x2, m_palmLine.y2, m_palmLine.width);
        m_palmRect.init(&m_palmLine);
    }
}
