// Hand model of a full-palm image: from the finger lines of the image analysis, the palm
// rectangle, up to four fingers with their position codes (2..5 right hand, 10..7 left hand,
// left to right in the image), each finger's connection point with the palm and up to three
// phalanx rectangles per finger, and the left/right decision. Doubles in pixels of the image
// given to find. A CHand is large (its finger lines and working planes are members).
#pragma once

#include "segmentation/fpalm_image.h"
#include "segmentation/fpalm_lines.h"

#include <cstdint>

// Relative phalanx lengths of the four fingers, left to right in the image, for a left and a
// right hand, and of a finger's three phalanxes (tip first); each table has mean 1.
extern const double lpl[4];
extern const double rpl[4];
extern const double pfl[3];

class CHand;

class CPhalanx {
public:
    CPhalanx(int index, double x1, double y1, double x2, double y2, double width);

    int index() const { return m_index; }
    CRect4 rect() const { return m_rect; }
    const CLine& axis() const { return m_axis; }
    double getLowPointX() const { return m_axis.x2; }
    double getLowPointY() const { return m_axis.y2; }

private:
    std::int32_t m_index;
    CLine m_axis;
    CRect4 m_rect;
};

class CFinger {
public:
    static constexpr int MAX_PHALANXES = 3;

    CFinger(CHand* hand, const CDevLine* line);
    ~CFinger();
    CFinger(const CFinger&) = delete;
    CFinger& operator=(const CFinger&) = delete;

    int index() const { return m_index; }
    void setIndex(int index) { m_index = index; }
    int phalanxesCount() const { return m_phalanxCount; }
    CPhalanx* phalanx(int k) const;
    // Takes ownership; ignored (and deleted) once three phalanxes are held.
    void addPhalanx(CPhalanx* phalanx);

    double getWidth() const { return m_line.width; }
    void setWidth(double width) { m_line.width = width; }
    // The line's length minus its upper end's y.
    double getPower() const { return m_line.length - m_line.y1; }
    double getLowPointX() const;
    double getLowPointY() const;
    double connectionPointX() const { return m_cpX; }
    double connectionPointY() const { return m_cpY; }
    void setConnectionPointY(double y);
    double averagePhalanxLength() const { return m_avrPhalanx; }
    const CDevLine& line() const { return m_line; }
    CRect4 rect() const { return m_rect; }

    // Largest gap between neighbouring profile points along the axis, or 0 when it is not
    // below limit nor below 0.35 of the line's length.
    double getPhalanxLength(double limit) const;
    // Stores length as the finger's phalanx length; a tip close to where three phalanxes of
    // that length would end refits length (written back) and gives 0; otherwise the distance
    // by which the tip lies above that end, or 0.
    double setAvrPhalanxLength(double& length);
    void findConnectionPoint(const CLine* palm);
    // Highest crossing, not above the circle's top, of edge (relative to the circle's centre)
    // with the circle of radius r round (cx, cy); cy - 0.4 r when there is none lower.
    double getCirclePointY(double cx, double cy, double r, const CLine* edge) const;
    void findPhalanxes();

private:
    std::int32_t m_index = -1;
    CHand* m_hand;
    CRect4 m_rect;
    CDevLine m_line;
    std::int32_t m_phalanxCount = 0;
    CPhalanx* m_phalanxes[MAX_PHALANXES] = {};
    double m_avrPhalanx = 0.0;
    double m_cpX = 0.0;
    double m_cpY = 0.0;
};

class CHand {
public:
    static constexpr int MAX_FINGERS = 4;

    CHand();
    ~CHand();
    CHand(const CHand&) = delete;
    CHand& operator=(const CHand&) = delete;

    // The whole analysis of a packed width x height image. findType: 0 palm and fingers,
    // 1 palm only, -1 fingers only. Returns HAND_OK, or the image analysis' refusal (image
    // below 1000 x 250, null image): then no finger and the palm of the previous call.
    int find(const unsigned char* image, unsigned width, unsigned height, int findType);

    CRect4 rect() const { return m_palmRect; }
    const CLine& palmLine() const { return m_palmLine; }
    int fingersCount() const { return m_fingerCount; }
    CFinger* finger(int i) const;
    int isRightHand() const { return m_rightHand; }
    int imageWidth() const { return m_width; }
    int imageHeight() const { return m_height; }
    void setFindType(int findType) { m_findType = findType; }
    double typicalFingerWidth() const { return m_typicalWidth; }
    double averagePhalanxLength() const { return m_avrPhalanx; }
    int upperLine() const { return m_upperLine; }
    int lineCount() const { return m_lineCount; }
    const CDevLine& fingerLine(int i) const { return m_lines[i]; }
    const CImage& image() const { return m_image; }

    // Deletes every finger (the count is reset by find).
    void free();
    // Appends while fewer than four fingers are held; a fifth is deleted.
    void addStdFinger(CFinger* finger);

    void findPalm();
    void findFingers();
    void checkRightHand();
    void findConnectionPoints();
    void correctPalm1();
    void correctFingers();
    void correctPalm2();

private:
    CRect4 m_palmRect;
    CLine m_palmLine;
    std::int32_t m_width = 0;
    std::int32_t m_height = 0;
    std::int32_t m_halfWidth = 0;
    std::int32_t m_halfHeight = 0;
    std::int32_t m_x0 = 0;
    std::int32_t m_y0 = 0;
    std::int32_t m_x1 = 0;
    std::int32_t m_y1 = 0;
    std::int32_t m_findType = 0;
    std::int32_t m_rightHand = 0;
    std::int32_t m_upperLine = 0;
    double m_avrPhalanx = 0.0;
    CImage m_image;
    std::int32_t m_lineCount = 0;
    CDevLine m_lines[CImage::MAX_LINES];
    std::int32_t m_fingerCount = 0;
    CFinger* m_fingers[MAX_FINGERS] = {};
    double m_typicalWidth = 0.0;
};
