// 8-bit binary toolkit: binarisations (1 bright, 0 dark), NOT/AND of 0/1 images, mask
// clean-up, span flood fill, block-mask fills, pixel lists, and line probes and drawing.
// Packed images (stride = width); mask colours 0 foreground, 1 background and frame,
// 2 temporary mark, 10..253 region labels, 255 retired labels.
#pragma once

#include "imaging/graph8.h"
#include "platform/export.h"

// Binarisation.
ZF_EXPORT void Binarization8(unsigned char* img, unsigned w, unsigned h);
ZF_EXPORT void BinarizationC8(unsigned char* img, unsigned w, unsigned h, unsigned char t);
ZF_EXPORT void BinarizationN8(unsigned char* img, unsigned w, unsigned h);
ZF_EXPORT int BinarizationX8(unsigned char* img, unsigned w, unsigned h, unsigned x1, unsigned y1,
                             unsigned x2, unsigned y2);
ZF_EXPORT int BinarizationToL8(const unsigned char* src, unsigned w, unsigned h, int x1, int y1,
                               int x2, int y2, int s, unsigned char* dst);
ZF_EXPORT void BinarizationOtsu8(unsigned char* img, unsigned w, unsigned h);
ZF_EXPORT void Binary_NOT8(unsigned char* img, unsigned w, unsigned h);
ZF_EXPORT void Binary_NOT_To8(const unsigned char* src, unsigned w, unsigned h, unsigned char* dst);
ZF_EXPORT void Binary_AND8(unsigned char* a, const unsigned char* b, unsigned w, unsigned h);
ZF_EXPORT void GetBounds8(const unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                          int& left, int& top, int& right, int& bottom);

// Mask clean-up and fills.
ZF_EXPORT void Border8(unsigned char* img, unsigned w, unsigned h, unsigned char colour);
ZF_EXPORT int Fill8(unsigned char* img, unsigned w, unsigned h, unsigned char* seed,
                    unsigned char colour);
ZF_EXPORT void ChangeColor8(unsigned char* img, unsigned w, unsigned h, unsigned char from,
                            unsigned char to);
ZF_EXPORT void ChangeColors8(unsigned char* img, unsigned w, unsigned h, unsigned char lo,
                             unsigned char hi, unsigned char to);
ZF_EXPORT void DeleteHLines8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2,
                             int y2, unsigned char colour, unsigned char mark, int maxLen);
ZF_EXPORT void DeleteVLines8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2,
                             int y2, unsigned char colour, unsigned char mark, int maxLen);
ZF_EXPORT void DeleteLines8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2,
                            int y2, unsigned char colour, unsigned char mark, int maxLen);
ZF_EXPORT void CheckExpandHLines8(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                                  unsigned char fill);
ZF_EXPORT void CheckExpandVLines8(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                                  unsigned char fill);
ZF_EXPORT void ExpandHLines8(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                             int len);
ZF_EXPORT void ExpandVLines8(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                             int len);
ZF_EXPORT void ExpandLines8(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                            unsigned char fill, int len);
ZF_EXPORT void FillCavities8(unsigned char* img, unsigned w, unsigned h, int margin, int maxLen);
ZF_EXPORT void DeleteSpots8(unsigned char* img, unsigned w, unsigned h, unsigned char other,
                            unsigned char colour, int size);
ZF_EXPORT void DeleteSpots4x4_8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2,
                                int y2);
ZF_EXPORT void FillSpaces8(unsigned char* img, const unsigned char* ref, unsigned w, unsigned h);
ZF_EXPORT void ExpandTo8(const unsigned char* src, unsigned w, unsigned h, unsigned char* dst);
ZF_EXPORT int FillAroundRoI8(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                             int s, const unsigned char* blockMask);
ZF_EXPORT void FillIfNotInRoI8(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                               int s, const unsigned char* blockMask);
ZF_EXPORT void GetPixelsAndFillOther(unsigned char* img, unsigned w, unsigned h, int s,
                                     const unsigned char* blockMask, unsigned char**& cursor);
ZF_EXPORT void GetPixels(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                         unsigned char**& cursor);

// Line probes and drawing along the digital line from (x1, y1) to (x2, y2).
ZF_EXPORT int IsLine8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                      unsigned char colour);
ZF_EXPORT int LineBr8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                      unsigned char colour);
ZF_EXPORT int LineN8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                     unsigned char colour);
ZF_EXPORT int LineCD8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                      unsigned char colour);
ZF_EXPORT void Line8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                     unsigned char colour);
ZF_EXPORT void LineV8(unsigned char* img, unsigned w, unsigned h, int x, int y1, int y2,
                      unsigned char colour);
ZF_EXPORT void LineTh8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                       unsigned char colour, int thickness);
