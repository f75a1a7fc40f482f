// Skeleton operations on binary ridge images (0 ridge or skeleton, 1 background): thinning to a
// one-pixel skeleton inside a block region of interest, classification of end and branch
// points, joining of facing end points, removal of short bridges between branch points, and a
// check of the region of interest against the skeleton; plus the small geometry helpers they
// use. Packed images (stride = width); block fields one byte per block of side 2^s.
#pragma once

#include "imaging/graph8.h"
#include "platform/export.h"

#include <cstdint>

// 180 / pi of the toolkit's angle helpers.
constexpr double val_180_div_pi = 57.295779513082320876798;

// One classified skeleton point: column, row, the pixel, and its block's direction (0..179).
struct MPOINT {
    std::int32_t x;
    std::int32_t y;
    unsigned char* p;
    std::int32_t dir;
};

// Work record of the bridge test. Arm points in order P0, A, B (arms of the first branch point,
// P0 the one that reaches the second) and F, G, H (arms of the second).
struct BRIDGE {
    std::int32_t pt[6][2];
    MPOINT* a;
    MPOINT* b;
    unsigned char* trace[6][16];
    std::int32_t traced[6];
    std::int32_t result;
};

// Marks written into the skeleton while it is corrected; none is left when it returns.
constexpr unsigned char SKL_END = 10;
constexpr unsigned char SKL_BRANCH = 30;
constexpr unsigned char SKL_CROSS = 40;

// Thins the 0 pixels of the blocks whose mask byte is 0 (everything else, and a one-pixel
// frame, becomes 1). Returns 0; IMG_BAD_GEOMETRY for an image under 3 x 3 or s outside 0..15.
ZF_EXPORT int Thinning8(unsigned char* img, unsigned w, unsigned h, int s,
                        const unsigned char* blockMask);
// Joins facing end points and cuts bridges between nearby branch points, in two passes. The
// one-pixel frame of the image is set to 1 first (the point tests read all eight neighbours);
// pixels outside the whole blocks of the direction grid are left as they are.
// Returns 0; IMG_BAD_GEOMETRY for an image under 3 x 3 or s outside 0..15.
ZF_EXPORT int SkelCorrection8(unsigned char* img, unsigned w, unsigned h, int s,
                              const unsigned char* blockDir);
// Classifies the listed pixels that are still 0 by their number n of non-1 neighbours:
// 0 or 8 -> 1, 1 -> end point (10, appended to ends), 3 -> branch point (30, branches), 4 or
// more -> 40 (others, pointer only). img is the image start, rows w bytes; pixels on the frame
// must not be listed.
ZF_EXPORT void GetAndSelectPoints8(unsigned char* img, unsigned w, int s,
                                   const unsigned char* blockDir, unsigned char** first,
                                   unsigned char** last, MPOINT* ends, MPOINT*& endCursor,
                                   MPOINT* branches, MPOINT*& branchCursor, MPOINT* others,
                                   MPOINT*& otherCursor);
ZF_EXPORT void CheckT1Points8(unsigned char* img, int w, unsigned h, MPOINT* first, MPOINT* last);
ZF_EXPORT void CheckT3Points8(unsigned char* img, unsigned w, unsigned h, MPOINT* first,
                              MPOINT* last, int pass);
ZF_EXPORT void CheckT3Lines8(unsigned char* img, unsigned w, unsigned h, MPOINT* a, MPOINT* b,
                             int pass);
ZF_EXPORT void CheckBridge(BRIDGE& bridge);
// Drops from the region of interest (mask byte 1) the blocks crossed by fewer than two skeleton
// lines across their direction (s in 1..4). Returns 0; the last argument is not read.
ZF_EXPORT int CheckSklROI8(unsigned char* skl, unsigned w, unsigned h, int s,
                           unsigned char* blockMask, const unsigned char* blockDir,
                           unsigned char* ignored);
// 180 rows of 2r offsets across each direction (the offsets of GetRPDxy8).
ZF_EXPORT void BinGetRDxy8(int* t, int w, int r);

ZF_EXPORT int GetAngle(int x1, int y1, int x2, int y2);
ZF_EXPORT int GetAngleDelta(int a, int b);
ZF_EXPORT int GetMaxAngleDelta(int a, int b, int c);
ZF_EXPORT int GetDistanceSqr(int x1, int y1, int x2, int y2);
ZF_EXPORT int PointNearLine(int x0, int y0, int x1, int y1, int x2, int y2);
