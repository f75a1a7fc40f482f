// Oriented finger rectangle: building from mask regions (upright box or least-squares axis),
// turning and fitting to the contour, shortening, moving and writing the corners at the input
// resolution. Angles are radians with 0 = vertical, positive leaning right going down.

#include "segmentation/graph8_spot.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double STEP_10_DEGREES = 0.17453292519943295;
constexpr double LIMIT_50_DEGREES = 0.8726646259971648;
constexpr double STEP_1_DEGREE = PI / 180.0;
constexpr double LIMIT_30_DEGREES = PI / 6.0;

// round(sqrt((a + 1)^2 + (b + 1)^2)) scaled by 2^shift, the length convention of the box.
double SpSideLength(int a, int b)
{
    const double p = static_cast<double>(a) + 1.0;
    const double q = static_cast<double>(b) + 1.0;
    return std::sqrt(p * p + q * q);
}

} // namespace

void FitLineSums(double n, double st, double stt, double sx, double sxt, double& a, double& b)
{
    const double theta = 0.5 * std::atan2(2.0 * st, stt - n);
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    const double l1 = n * c * c + stt * s * s - 2.0 * c * s * st;
    const double l2 = n * s * s + stt * c * c + 2.0 * c * s * st;
    const double p = l1 != 0.0 ? (sx * c - sxt * s) / l1 : 0.0;
    const double q = l2 != 0.0 ? (sx * s + sxt * c) / l2 : 0.0;
    a = p * c + q * s;
    b = q * c - p * s;
}

int roundDouble(double v)
{
    return v >= 0.0 ? static_cast<int>(v + 0.5) : static_cast<int>(v - 0.5);
}

// The contour is not cleared: every read stops at m_pointCount, and spots are made by the
// hundred (16 KB each).
CSpot::CSpot()
    : m_pointCount(0), m_x1(0), m_y1(0), m_x2(0), m_y2(0), m_cx(0), m_cy(0), m_dx(0), m_dy(0),
      m_A(1.0), m_B(0.0), m_C(0.0), m_angle(0.0), m_length(0), m_hw(0), m_area(0), m_code(0),
      m_phalanx(0), m_spare(0)
{
}

CSpot::CSpot(int x1, int y1, int x2, int y2, int halfWidth) : CSpot()
{
    init(x1, y1, x2, y2, halfWidth);
}

void CSpot::AssignAxis(const CSpot& other)
{
    m_pointCount = 0;
    m_x1 = other.m_x1;
    m_y1 = other.m_y1;
    m_x2 = other.m_x2;
    m_y2 = other.m_y2;
    m_cx = other.m_cx;
    m_cy = other.m_cy;
    m_dx = other.m_dx;
    m_dy = other.m_dy;
    m_A = other.m_A;
    m_B = other.m_B;
    m_C = other.m_C;
    m_angle = other.m_angle;
    m_length = other.m_length;
    m_hw = other.m_hw;
    m_area = other.m_area;
    m_code = other.m_code;
    m_phalanx = other.m_phalanx;
    m_spare = other.m_spare;
}

void CSpot::SpAxis()
{
    m_cx = FloorHalf(m_x1 + m_x2 + 1);
    m_cy = FloorHalf(m_y1 + m_y2 + 1);
    m_dx = m_x2 - m_x1;
    m_dy = m_y2 - m_y1;
    m_length = static_cast<int>(SpSideLength(m_dx, m_dy) + 0.5);
    const double dx = m_dx;
    const double dy = m_dy;
    const double a = std::sqrt(dx * dx + dy * dy);
    if (a > 0.0) {
        m_A = dy / a;
        m_B = -dx / a;
        m_C = -(static_cast<double>(m_y2) * m_x1 - static_cast<double>(m_y1) * m_x2) / a;
    } else {
        m_A = 0.0;
        m_B = 0.0;
        m_C = 0.0;
    }
    m_angle = std::acos(m_B) - PI / 2.0;
}

void CSpot::init(int x1, int y1, int x2, int y2, int halfWidth)
{
    if (y2 <= y1) {
        m_x1 = x2;
        m_y1 = y2;
        m_x2 = x1;
        m_y2 = y1;
    } else {
        m_x1 = x1;
        m_y1 = y1;
        m_x2 = x2;
        m_y2 = y2;
    }
    m_hw = halfWidth;
    SpAxis();
    m_area = 2 * halfWidth * m_length;
}

int CSpot::SpGather(const unsigned char* image, unsigned width, unsigned height,
                    const unsigned char* seed, unsigned char colour, int& seedRow)
{
    m_pointCount = 0;
    m_area = 0;
    seedRow = static_cast<int>(static_cast<std::size_t>(seed - image) / width);
    int rows = 0;
    for (unsigned y = static_cast<unsigned>(seedRow); y < height && rows < MAX_ROWS; ++y) {
        const unsigned char* row = image + static_cast<std::size_t>(y) * width;
        int left = -1;
        int right = -1;
        for (unsigned x = 0; x < width; ++x) {
            if (row[x] == colour) {
                if (left < 0) {
                    left = static_cast<int>(x);
                }
                right = static_cast<int>(x);
            }
        }
        if (left < 0) {
            break;
        }
        m_contour[m_pointCount++] = {left, static_cast<int>(y)};
        m_contour[m_pointCount++] = {right, static_cast<int>(y)};
        m_area += right - left + 1;
        ++rows;
    }
    return rows;
}

int CSpot::initV(const unsigned char* image, unsigned width, unsigned height,
                 const unsigned char* seed, unsigned char colour)
{
    int seedRow = 0;
    const int rows = SpGather(image, width, height, seed, colour, seedRow);
    if (rows == 0) {
        return 1;
    }
    int minX = m_contour[0].x;
    int maxX = m_contour[0].x;
    for (int i = 1; i < m_pointCount; ++i) {
        minX = m_contour[i].x < minX ? m_contour[i].x : minX;
        maxX = m_contour[i].x > maxX ? m_contour[i].x : maxX;
    }
    m_y1 = seedRow;
    m_y2 = seedRow + rows;
    m_dy = m_y2 - m_y1;
    m_length = m_dy + 1;
    m_cx = (minX + maxX + 1) >> 1;
    m_x1 = m_cx;
    m_x2 = m_cx;
    m_dx = 0;
    m_hw = (maxX - minX + 2) / 2;
    m_cy = (m_y1 + m_y2 + 1) >> 1;
    m_A = 1.0;
    m_B = 0.0;
    m_C = -static_cast<double>(m_cx);
    m_angle = 0.0;
    m_code = 0;
    m_phalanx = 0;
    return 0;
}

int CSpot::initR(const unsigned char* image, unsigned width, unsigned height,
                 const unsigned char* seed, unsigned char colour)
{
    int seedRow = 0;
    const int rows = SpGather(image, width, height, seed, colour, seedRow);
    if (rows == 0) {
        return 1;
    }
    // 1. Sums over the row middles m = (L + R + 1) / 2.
    double n = 0.0;
    double sy = 0.0;
    double syy = 0.0;
    double sm = 0.0;
    double sym = 0.0;
    int widest = 0;
    for (int i = 0; i + 1 < m_pointCount; i += 2) {
        const int left = m_contour[i].x;
        const int right = m_contour[i + 1].x;
        const double y = m_contour[i].y;
        const double m = static_cast<double>((left + right + 1) >> 1);
        n += 1.0;
        sy += y;
        syy += y * y;
        sm += m;
        sym += y * m;
        widest = right - left + 1 > widest ? right - left + 1 : widest;
    }
    // 2. The axis m = a + b y.
    double a = 0.0;
    double b = 0.0;
    FitLineSums(n, sy, syy, sm, sym, a, b);
    // 3. The axis from the seed's row to the row where the scan stopped.
    m_y1 = seedRow;
    m_y2 = seedRow + rows;
    m_x1 = roundDouble(a + b * m_y1);
    m_x2 = roundDouble(a + b * m_y2);
    SpAxis();
    m_hw = (widest + 1) / 2;
    m_code = 0;
    m_phalanx = 0;
    m_spare = 0;
    return 0;
}

void CSpot::SpExtremes(double c, double s, int maxDistance, int& minU, int& maxU, int& minV,
                       int& maxV) const
{
    minU = 0;
    maxU = 0;
    minV = 0;
    maxV = 0;
    for (int i = 0; i < m_pointCount; ++i) {
        const double rx = m_contour[i].x - m_cx;
        const double ry = m_contour[i].y - m_cy;
        const int u = roundDouble(rx * c - ry * s);
        const int v = roundDouble(rx * s + ry * c);
        if (maxDistance != 0 && v > maxDistance) {
            continue;
        }
        minU = u < minU ? u : minU;
        maxU = u > maxU ? u : maxU;
        minV = v < minV ? v : minV;
        maxV = v > maxV ? v : maxV;
    }
}

void CSpot::setAngle(double angle, int maxDistance)
{
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    int minU = 0;
    int maxU = 0;
    int minV = 0;
    int maxV = 0;
    SpExtremes(c, s, maxDistance, minU, maxU, minV, maxV);
    if (maxU <= minU || maxV <= minV) {
        return;
    }
    // Corners (u, v) back into the image.
    auto cornerX = [&](int u, int v) { return m_cx + roundDouble(u * c + v * s); };
    auto cornerY = [&](int u, int v) { return m_cy + roundDouble(-u * s + v * c); };
    const int ax = cornerX(minU, minV);
    const int ay = cornerY(minU, minV);
    const int bx = cornerX(maxU, minV);
    const int by = cornerY(maxU, minV);
    const int cxLow = cornerX(minU, maxV);
    const int cyLow = cornerY(minU, maxV);
    const int dxLow = cornerX(maxU, maxV);
    const int dyLow = cornerY(maxU, maxV);
    m_x1 = FloorHalf(ax + bx + 1);
    m_y1 = FloorHalf(ay + by + 1);
    m_x2 = FloorHalf(cxLow + dxLow + 1);
    m_y2 = FloorHalf(cyLow + dyLow + 1);
    m_hw = static_cast<int>(SpSideLength(std::abs(by - ay), std::abs(bx - ax)) * 0.5 + 0.5);
    SpAxis();
    m_angle = angle;
}

void CSpot::setAngleAuto(bool narrow)
{
    const double current = m_angle;
    double best = current;
    // Widened: the contour spans at most the image, but 4 length^2 may pass 2^31.
    std::int64_t bestArea = 4 * static_cast<std::int64_t>(m_length) * m_length;
    auto tryAngle = [&](double angle) {
        int minU = 0;
        int maxU = 0;
        int minV = 0;
        int maxV = 0;
        SpExtremes(std::cos(angle), std::sin(angle), 0, minU, maxU, minV, maxV);
        const std::int64_t area = static_cast<std::int64_t>(maxV - minV) * (maxU - minU);
        if (area < bestArea) {
            bestArea = area;
            best = angle;
        }
    };
    if (narrow) {
        for (double a = -LIMIT_30_DEGREES - current; a <= LIMIT_30_DEGREES - current;
             a += STEP_1_DEGREE) {
            tryAngle(a);
        }
    } else {
        const double lo = current < -LIMIT_50_DEGREES ? current : -LIMIT_50_DEGREES;
        const double hi = current > LIMIT_50_DEGREES ? current : LIMIT_50_DEGREES;
        const double step = current >= 0.0 ? STEP_10_DEGREES : -STEP_10_DEGREES;
        for (double a = current; a >= lo && a <= hi; a += step) {
            tryAngle(a);
        }
    }
    setAngle(best, 0);
}

void CSpot::setAngleAndLength(double angle, int length, int /*unused: kept for callers*/)
{
    // 1. New length along the axis.
    int y2 = m_y1 + roundDouble(length * m_A);
    init(m_x1, m_y1, getX(y2), y2, m_hw);
    // 2. The levels of the rows y2 -+ d along the turned axis.
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    const int d = roundDouble(0.2 * length * m_A);
    auto level = [&](int x, int y) { return roundDouble((x - m_cx) * s + (y - m_cy) * c); };
    auto across = [&](int x, int y) { return roundDouble(c * (x - m_cx) - s * (y - m_cy)); };
    const int vLo = level(getX(y2 - d), y2 - d);
    const int vHi = level(getX(y2 + d), y2 + d);
    // 3. The narrowest level: nearest left and right contour points of each level.
    int best = 4 * m_hw;
    int cut = 0;
    bool taken = false;
    for (int v = vLo; v <= vHi; ++v) {
        int left = -1;
        int right = -1;
        int leftD = length;
        int rightD = length;
        for (int i = 0; i + 1 < m_pointCount; i += 2) {
            const int dl = std::abs(level(m_contour[i].x, m_contour[i].y) - v);
            if (dl < leftD) {
                leftD = dl;
                left = i;
            }
            const int dr = std::abs(level(m_contour[i + 1].x, m_contour[i + 1].y) - v);
            if (dr < rightD) {
                rightD = dr;
                right = i + 1;
            }
            if (leftD < 2 && rightD < 2) {
                break;
            }
        }
        // Both sides must have a point within reach for a width to exist.
        if (left < 0 || right < 0 || (leftD >= 2 && rightD >= 2)) {
            continue;
        }
        const int width = std::abs(across(m_contour[right].x, m_contour[right].y) -
                                   across(m_contour[left].x, m_contour[left].y));
        if (width < best) {
            best = width;
            cut = v;
            taken = true;
        }
    }
    // 4. Turn, keeping the contour up to the cut.
    setAngle(angle, taken ? cut : y2);
}

int CSpot::getX(int y) const
{
    if (m_A == 0.0 || m_B == 0.0) {
        return m_cx;
    }
    return roundDouble(-(m_B * y + m_C) / m_A);
}

int CSpot::isPointInRect(int x, int y, int margin) const
{
    if (y < m_y1 + margin || y > m_y2 - margin) {
        return 0;
    }
    const int xc = getX(y);
    const int w = roundDouble(m_hw * m_A);
    return (x >= xc - w + margin && x <= xc + w - margin) ? 1 : 0;
}

void CSpot::move(int dx, int dy)
{
    init(m_x1 + dx, m_y1 + dy, m_x2 + dx, m_y2 + dy, m_hw);
}

void CSpot::rotate(double c, double s)
{
    const int x1 = roundDouble(m_x1 * c - m_y1 * s);
    const int y1 = roundDouble(m_x1 * s + m_y1 * c);
    const int x2 = roundDouble(m_x2 * c - m_y2 * s);
    const int y2 = roundDouble(m_x2 * s + m_y2 * c);
    init(x1, y1, x2, y2, m_hw);
}

unsigned CSpot::getScaledWidth(unsigned shift) const
{
    return static_cast<unsigned>(m_hw) << shift;
}

unsigned CSpot::getScaledHeight(unsigned shift) const
{
    return static_cast<unsigned>(std::ldexp(SpSideLength(m_dx, m_dy), static_cast<int>(shift)) +
                                 0.5);
}

void CSpot::getRectV(SgmRect* rect, unsigned shift, unsigned align) const
{
    const int scale = 1 << shift;
    int left = (m_x1 - m_hw) * scale;
    int right = (m_x2 + m_hw) * scale;
    int top = m_y1 * scale;
    int bottom = m_y2 * scale;
    if (align > 1) {
        const int a = static_cast<int>(align);
        auto widen = [a](int& lo, int& hi) {
            const int span = hi - lo + 1;
            const int r = span > 0 ? span % a : 0;
            if (r > 0) {
                const int p = a - r;
                hi += p - p / 2;
                lo -= p / 2;
            }
        };
        widen(left, right);
        widen(top, bottom);
    }
    rect->x1 = left;
    rect->y1 = top;
    rect->x2 = right;
    rect->y2 = top;
    rect->x3 = left;
    rect->y3 = bottom;
    rect->x4 = right;
    rect->y4 = bottom;
}

void CSpot::getRectR(SgmRect* rect, unsigned shift,
                     unsigned /*align: turned boxes keep theirs*/) const
{
    const double scale = std::ldexp(1.0, static_cast<int>(shift));
    const double hA = m_hw * m_A;
    const double hB = m_hw * m_B;
    rect->x1 = roundDouble(scale * (m_x1 - hA));
    rect->y1 = roundDouble(scale * (m_y1 - hB));
    rect->x2 = roundDouble(scale * (m_x1 + hA));
    rect->y2 = roundDouble(scale * (m_y1 + hB));
    rect->x3 = roundDouble(scale * (m_x2 - hA));
    rect->y3 = roundDouble(scale * (m_y2 - hB));
    rect->x4 = roundDouble(scale * (m_x2 + hA));
    rect->y4 = roundDouble(scale * (m_y2 + hB));
}

int CSpot::saveR(std::FILE* file, unsigned shift, unsigned align) const
{
    if (file == nullptr) {
        return -1;
    }
    SgmRect r{};
    getRectR(&r, shift, align);
    return std::fprintf(file, "%d,%d,%d,%d,%d,%d,%d,%d\n", r.x1, r.y1, r.x2, r.y2, r.x3, r.y3, r.x4,
                        r.y4);
}

int CSpot::saveV(std::FILE* file, unsigned shift, unsigned align) const
{
    if (file == nullptr) {
        return -1;
    }
    SgmRect r{};
    getRectV(&r, shift, align);
    return std::fprintf(file, "%d,%d,%d,%d\n", r.x1, r.y1, r.x4, r.y4);
}
