// Oriented finger rectangle: an axis between two ends, a half-width across it, the normalised
// line A·x + B·y + C = 0 of the axis and the contour of the mask region it was built from.
// Coordinates are pixels of the working image; getRectV / getRectR scale them by 2^shift to
// the input image. Nothing here allocates; the contour is held inline.
#pragma once

#include "segmentation/FSeg.h"

#include <cstdint>
#include <cstdio>

// trunc(v + 0.5) for v >= 0, trunc(v - 0.5) otherwise: halves away from zero.
int roundDouble(double v);

// Least-squares line x = a + b t from the sums n, St, Stt, Sx and Sxt of its points: solves
// [[n, St], [St, Stt]] (a, b) = (Sx, Sxt) in the eigenbasis of the matrix; an eigenvalue of 0
// contributes nothing.
void FitLineSums(double n, double st, double stt, double sx, double sxt, double& a, double& b);

// floor(v / 2) without shifting a negative value.
inline int FloorHalf(int v)
{
    return v >= 0 ? v >> 1 : -((1 - v) >> 1);
}

// floor(v / 4) without shifting a negative value.
inline int FloorQuarter(int v)
{
    return v >= 0 ? v >> 2 : -((3 - v) >> 2);
}

struct SpotPoint {
    std::int32_t x;
    std::int32_t y;
};

class CSpot {
public:
    static constexpr int MAX_ROWS = 1024;
    static constexpr int MAX_POINTS = 2 * MAX_ROWS;

    CSpot();
    CSpot(int x1, int y1, int x2, int y2, int halfWidth);
    CSpot(const CSpot&) = default;
    CSpot& operator=(const CSpot&) = default;
    virtual ~CSpot() = default;

    // Copies the axis, sizes and codes of other; the copy has an empty contour.
    void AssignAxis(const CSpot& other);

    // Sets the axis (ends ordered so that y1 <= y2; equal rows swap) and half-width; the
    // contour is kept.
    void init(int x1, int y1, int x2, int y2, int halfWidth);
    // Upright box of the region of colour whose first pixel in raster order is seed.
    // Returns 0, or 1 when the seed's row holds no pixel of the colour.
    int initV(const unsigned char* image, unsigned width, unsigned height,
              const unsigned char* seed, unsigned char colour);
    // The region's straight axis by least squares over its row middles; returns as initV.
    int initR(const unsigned char* image, unsigned width, unsigned height,
              const unsigned char* seed, unsigned char colour);

    // Turns the box to angle (radians, 0 = vertical) round its centre and fits it to the
    // contour; with maxDistance != 0 only contour points up to that level along the axis count.
    void setAngle(double angle, int maxDistance);
    // Turns the box to the angle of least area (narrow: +-30 degrees round the negated angle).
    void setAngleAuto(bool narrow);
    // Sets the length, cuts the lower end at the narrowest level near it, turns to angle.
    void setAngleAndLength(double angle, int length, int unused);

    int getX(int y) const;
    int isPointInRect(int x, int y, int margin) const;
    void move(int dx, int dy);
    void rotate(double c, double s);
    unsigned getScaledWidth(unsigned shift) const;
    unsigned getScaledHeight(unsigned shift) const;
    // Corners at the input resolution: upright box (aligned sides) or turned box.
    void getRectV(SgmRect* rect, unsigned shift, unsigned align) const;
    void getRectR(SgmRect* rect, unsigned shift, unsigned align) const;
    // One debugging line with the corners; returns fprintf's result, -1 for a null file.
    int saveR(std::FILE* file, unsigned shift, unsigned align) const;
    int saveV(std::FILE* file, unsigned shift, unsigned align) const;

    SpotPoint m_contour[MAX_POINTS];
    std::int32_t m_pointCount;
    std::int32_t m_x1, m_y1, m_x2, m_y2;
    std::int32_t m_cx, m_cy;
    std::int32_t m_dx, m_dy;
    double m_A, m_B, m_C;
    double m_angle;
    std::int32_t m_length;
    std::int32_t m_hw;
    std::int32_t m_area;
    std::int32_t m_code;
    std::int32_t m_phalanx;
    std::int32_t m_spare;

private:
    // Centre, deltas, length, line and angle from the ends as they stand.
    void SpAxis();
    // Contour and area of the region from the seed's row down; returns the rows gathered
    // (0 when the seed's row has no pixel of the colour).
    int SpGather(const unsigned char* image, unsigned width, unsigned height,
                 const unsigned char* seed, unsigned char colour, int& seedRow);
    // Extremes of the contour turned by (c, s) round the centre, starting at 0.
    void SpExtremes(double c, double s, int maxDistance, int& minU, int& maxU, int& minV,
                    int& maxV) const;
};
