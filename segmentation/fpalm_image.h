// Image side of the hand model: a full-palm image reduced to a fixed 1000 x 250 working raster,
// hand separated from background, guide lines along the fingers and through the gaps, and
// every finger traced as a CDevLine whose profile marks its creases. Working planes are fixed
// members; results are in pixels of the caller's image. Regions below 1000 x 250 are refused.
#pragma once

#include "segmentation/fpalm_lines.h"

#include <cstdint>

// Results of CImage::getDirectLines (and of the hand model's find).
constexpr int HAND_OK = 0;
constexpr int HAND_TOO_NARROW = -3; // region narrower than the working raster
constexpr int HAND_TOO_LOW = -4;    // region lower than the working raster
constexpr int HAND_NO_IMAGE = -2;

class CImage {
public:
    static constexpr int W = 1000;
    static constexpr int H = 250;
    static constexpr int HALF = 125;
    static constexpr int MAX_RUNS = 1000;
    static constexpr int QUEUE = 500;
    static constexpr int MAX_FINGER_GUIDES = 5;
    static constexpr int MAX_GAP_GUIDES = 4;
    static constexpr int MAX_LINES = 1000;

    struct Guide {
        CLine line;
        double score;
        double spare;
    };
    struct Run {
        std::int32_t centre;
        std::int32_t halfWidth;
    };
    struct Span {
        std::int32_t first;
        std::int32_t last;
        std::int32_t row;
    };

    // The whole analysis of the region (x0, y0)-(x1, y1) of a packed image whose rows are
    // x1 - x0 bytes long. On return x0..y1 hold the hand's bounding box, lines[0..lineCount-1]
    // the finger lines, upperLine the palm's upper edge. findType: 0 palm and fingers, 1 palm
    // only, -1 fingers only. Returns HAND_OK, or a HAND_ code with lineCount 0 and the
    // arguments otherwise untouched.
    int getDirectLines(const unsigned char* image, int& x0, int& y0, int& x1, int& y1,
                       CDevLine* lines, int& lineCount, int& upperLine, int findType);

    // Steps of the analysis, in working pixels.
    void loadFromBitmap(const unsigned char* raster);
    void crop();
    void findFS(Guide* guides, const Guide* reference, int referenceCount, int& count, int n);
    void normalization();
    void blur5();
    void binarization(int findType);
    void fillWhiteRegions();
    void deleteSmallFragmets();
    void getBounds();
    int findUpLine();
    bool isBlackLine(int y) const;
    void fillAndFindPoints(int x, int y);
    void linearApproximation(CDevLine* lines, int& count);
    void findLineDeviders(CDevLine* line, int run, int yTop, int yBottom) const;
    void setFingerIndexes(CDevLine* lines, int count) const;
    void filterLines(CDevLine* lines, int& count) const;
    double lineS(int x1, int y1, int x2, int y2, int fill) const;
    void lineWhite(int x1, int y1, int x2, int y2);
    void lineBlack(int x1, int y1, int x2, int y2);
    void lineLight(int x1, int y1, int x2, int y2);
    // Moves each hand/background transition of the mask towards the darker side (unused).
    void correction();

    int fingerGuideCount() const { return m_fingerCount; }
    int gapGuideCount() const { return m_gapCount; }
    const Guide& fingerGuide(int i) const { return m_fingerGuides[i]; }
    const Guide& gapGuide(int i) const { return m_gapGuides[i]; }
    int left() const { return m_left; }
    int right() const { return m_right; }
    int top() const { return m_top; }
    int bottom() const { return m_bottom; }
    std::int32_t grey(int x, int y) const { return m_grey[y][x]; }
    std::int32_t mask(int x, int y) const { return m_mask[y][x]; }
    void setMask(int x, int y, std::int32_t v) { m_mask[y][x] = v; }
    void setGrey(int x, int y, std::int32_t v) { m_grey[y][x] = v; }
    int runCount(int row) const { return m_runCount[row]; }
    const Run& run(int row, int k) const { return m_runs[row][k]; }
    // Scale factors as getDirectLines sets them (1 for a 1000 x 250 region).
    void setRegionSize(int width, int height);

private:
    // Means of the upper and the lower half of the grey plane.
    void ImHalfMeans(double& upper, double& lower) const;
    // Grows every run of hand along the rows a..b over background darker than limit.
    void ImGrowRows(int a, int b, double limit);
    // Grows every run of hand inside rows a..b up and down over background darker than limit.
    void ImGrowColumns(int a, int b, double limit);
    bool ImPush(int first, int last, int row);

    std::int32_t m_grey[H][W];
    std::int32_t m_mask[H][W];
    Run m_runs[H][MAX_RUNS];
    std::int32_t m_runCount[H];
    Span m_queue[QUEUE];
    int m_queueHead = 0;
    int m_queueSize = 0;
    int m_left = 0;
    int m_right = 0;
    int m_top = 0;
    int m_bottom = 0;
    Guide m_fingerGuides[MAX_FINGER_GUIDES];
    int m_fingerCount = 0;
    Guide m_gapGuides[MAX_GAP_GUIDES];
    int m_gapCount = 0;
    int m_width = W;
    int m_height = H;
    double m_sx = 1.0;
    double m_sy = 1.0;
    double m_isx = 1.0;
    double m_isy = 1.0;
    double m_k = 1.0;
    unsigned char m_raster[W * H];
};
