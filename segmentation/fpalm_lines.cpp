// Segments, finger lines and bands of the hand model: ordering of the ends, the normalised
// line equation, the profile kept on a shortened finger line, and the band's corners.

#include "segmentation/fpalm_lines.h"

#include <cmath>

CLine::CLine(double x1_, double y1_, double x2_, double y2_, double width_)
{
    init(x1_, y1_, x2_, y2_, width_);
}

void CLine::init(double x1_, double y1_, double x2_, double y2_, double width_)
{
    if (y2_ > y1_) {
        x1 = x1_;
        y1 = y1_;
        x2 = x2_;
        y2 = y2_;
    } else {
        x1 = x2_;
        y1 = y2_;
        x2 = x1_;
        y2 = y1_;
    }
    cx = (x1 + x2) / 2;
    cy = (y1 + y2) / 2;
    dx = x2 - x1;
    dy = y2 - y1;
    length = std::sqrt(dx * dx + dy * dy);
    width = width_;
    if (length > 0.0) {
        a = dy / length;
        b = -dx / length;
        c = (x2 * y1 - x1 * y2) / length;
    } else {
        // No direction: the vertical line through the point, so getX stays finite.
        a = 1.0;
        b = 0.0;
        c = -x1;
    }
}

double CLine::getX(double y) const
{
    if (a == 0.0) {
        return cx;
    }
    return -(b * y + c) / a;
}

void CDevLine::init(double x1_, double y1_, double x2_, double y2_, double width_)
{
    CLine::init(x1_, y1_, x2_, y2_, width_);
    int kept = 0;
    for (int i = 0; i < count; ++i) {
        if (points[i].y >= y1 && points[i].y <= y2) {
            points[kept++] = points[i];
        }
    }
    count = kept;
}

bool CDevLine::addPoint(double x, double y)
{
    if (count >= MAX_POINTS) {
        return false;
    }
    points[count++] = {x, y};
    return true;
}

void CRect4::init(const CLine* line)
{
    const double wa = line->width * line->a;
    const double wb = line->width * line->b;
    p[0] = line->x1 - wa;
    p[1] = line->y1 - wb;
    p[2] = line->x1 + wa;
    p[3] = line->y1 + wb;
    p[4] = line->x2 - wa;
    p[5] = line->y2 - wb;
    p[6] = line->x2 + wa;
    p[7] = line->y2 + wb;
    centreX = (p[0] + p[6]) / 2;
    centreY = (p[1] + p[7]) / 2;
    m_x1 = line->x1;
    m_y1 = line->y1;
    m_x2 = line->x2;
    m_y2 = line->y2;
    m_w = line->width;
}
