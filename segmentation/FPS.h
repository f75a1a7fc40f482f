// Segmenters behind FSeg: the common driver CFps (argument checks, working image, region
// search with splitting of touching objects, rectangle corrections and output) and the
// single-finger and slap segmenters. Stages work on a mask copy of the input at a reduced
// resolution (scale shift); output corners are scaled back to the input image.
#pragma once

#include "segmentation/FSeg.h"
#include "segmentation/graph8_spot.h"

#include <climits>
#include <cstddef>
#include <cstdint>

// A resolution as the toolkit's signed argument (resolutions beyond INT_MAX saturate).
inline int FpDpiArg(unsigned dpi)
{
    return dpi > static_cast<unsigned>(INT_MAX) ? INT_MAX : static_cast<int>(dpi);
}

class CFps {
public:
    static constexpr int MAX_POINTS = 1024;
    static constexpr int MAX_RECTS = 100;

    CFps();
    CFps(const CFps&) = delete;
    CFps& operator=(const CFps&) = delete;
    virtual ~CFps();

    virtual int Preprocessing() = 0;
    virtual int Recognition(SGM_FINGER* missing, unsigned count) = 0;
    virtual int RectsOut(SgmRect* rects, unsigned& rectCount, unsigned align);

    // The driver: checks, working copy, the stages and the output. Returns the FSeg codes.
    int Segmentation(unsigned char* image, unsigned char* background, unsigned width,
                     unsigned height, unsigned dpi, SGM_HAND hand, NIST_IMP_TYPE impression,
                     bool rotated, SGM_FINGER* missing, unsigned missingCount, SgmRect* rects,
                     unsigned& rectCount, unsigned align);

    void Reset();
    int CopyImg(const unsigned char* image, unsigned width, unsigned height);
    void FreeImg();
    // Reduces the working image to at most dpi and adds extraShift to the scale shift; false
    // when too little is left to search (the working size is then 0 x 0 and nothing is found).
    bool ReduceWork(int dpi, unsigned extraShift);
    void CleanBackground(const unsigned char* background);
    void FindRects(unsigned minHalfWidthRotated, unsigned minHalfWidthUpright);
    void FindPoints();
    int ClearLines(int maxLength);
    void SlapAutoRotate();
    void CorrectRectsLength(double minFactor, double maxFactor, double capFactor);
    void CorrectRects(int extendTop, int extendBottom, int widen);

    struct SegPoint {
        std::int32_t x;
        std::int32_t y;
        std::int32_t side;
    };

    unsigned m_width = 0;
    unsigned m_height = 0;
    unsigned m_dpi = 500;
    SGM_HAND m_hand = SGM_HAND_UNKNOWN;
    NIST_IMP_TYPE m_impression = NIST_IMP_LIVESCAN_PLAIN;
    bool m_rotated = true;
    unsigned m_shift = 0;
    unsigned char* m_work = nullptr;
    unsigned m_workWidth = 0;
    unsigned m_workHeight = 0;
    unsigned m_workHand = 0;
    SegPoint m_points[MAX_POINTS] = {};
    CSpot m_cand[MAX_RECTS];
    CSpot m_out[MAX_RECTS];
    int m_pointCount = 0;
    int m_candCount = 0;
    int m_outCount = 0;
    unsigned char* m_clone = nullptr;

protected:
    // Working pixel at (x, y).
    unsigned char* FpAt(int x, int y) const
    {
        return m_work + static_cast<std::size_t>(y) * m_workWidth + static_cast<std::size_t>(x);
    }
    // Clamps the corners of an output rectangle into the input image (upright boxes keep
    // sides that are multiples of align where the image allows it).
    void FpClip(SgmRect& rect, bool upright, unsigned align) const;
};

// Single finger: the largest region of ridge texture, merged with the fragments below it; outputs
// the whole finger and the fingertip box down to the first crease.
class CFpsFinger : public CFps {
public:
    CFpsFinger() = default;
    ~CFpsFinger() override;

    int Preprocessing() override;
    int Recognition(SGM_FINGER* missing, unsigned count) override;
    int RectsOut(SgmRect* rects, unsigned& rectCount, unsigned align) override;

    void FindRects();
    void FindRect();
    void CorrectRect();
};

// One row of the slap templates: a subset of the fingers of one hand, left to right.
struct SlapTemplate {
    std::int32_t hand;
    std::int32_t count;
    double weight;
    double tips[4];
    std::int32_t codes[4];
    double gaps[4];
};
extern const SlapTemplate templs[22];

// Four-finger slap: regions split into fingers, matched against the hand templates.
class CFpsSlap : public CFps {
public:
    CFpsSlap() = default;
    ~CFpsSlap() override;

    int Preprocessing() override;
    int Recognition(SGM_FINGER* missing, unsigned count) override;

    void DelRects();
    int FindSlap4(SGM_FINGER* missing, unsigned count);
    double TestSlap(int row, int n, int* candidates, int* result);
    void CorrectSlapRectsSize();

    CSpot m_fingers[4];
    CSpot m_model[4];
};
