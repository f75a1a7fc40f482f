// Geometric value types of the hand model, in pixels (x right, y down), all doubles: a segment
// with its normalised line equation and a half-width (CLine), a finger line with its region's
// extent, its finger slot and a profile of crease points (CDevLine), and the four corners of
// the band round a segment (CRect4). No virtual functions, no owned memory.
#pragma once

#include <cstdint>

class CLine {
public:
    CLine() = default;
    CLine(double x1, double y1, double x2, double y2, double width);

    // Stores the ends with the upper one first (equal rows: the second argument point first)
    // and derives the rest. Coinciding ends give a = 1, b = c' = 0 through the first end.
    void init(double x1, double y1, double x2, double y2, double width);
    // x of the line at height y; the mid-point's x for a horizontal line.
    double getX(double y) const;

    double x1 = 0.0;
    double y1 = 0.0;
    double x2 = 0.0;
    double y2 = 0.0;
    double cx = 0.0;
    double cy = 0.0;
    double dx = 0.0;
    double dy = 0.0;
    double a = 1.0;
    double b = 0.0;
    double c = 0.0;
    double length = 0.0;
    double width = 0.0;
};

struct DevPoint {
    double x;
    double y;
};

class CDevLine : public CLine {
public:
    static constexpr int MAX_POINTS = 1000;

    CDevLine() = default;

    // CLine::init, then keeps the profile points whose y lies on the new segment, in order.
    void init(double x1, double y1, double x2, double y2, double width);
    // Appends a profile point; false when the profile is full.
    bool addPoint(double x, double y);

    double left = 0.0;
    double right = 0.0;
    std::int32_t count = 0;
    DevPoint points[MAX_POINTS];
    std::int32_t slot = 0;
};

class CRect4 {
public:
    void init(const CLine* line);

    double x1() const { return m_x1; }
    double y1() const { return m_y1; }
    double x2() const { return m_x2; }
    double y2() const { return m_y2; }
    double width() const { return m_w; }

    // Corners p1..p4 (x, y each), then the centre.
    double p[8] = {};
    double centreX = 0.0;
    double centreY = 0.0;

private:
    double m_x1 = 0.0;
    double m_y1 = 0.0;
    double m_x2 = 0.0;
    double m_y2 = 0.0;
    double m_w = 0.0;
};
