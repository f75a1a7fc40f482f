// 8-bit image toolkit: conversions, crops, grey levels, blur and window sums over packed
// images (stride = width) and flat arrays. Functions return 0, IMG_NO_OUTPUT or
// IMG_BAD_GEOMETRY where they can fail; the others return nothing. No state between calls.
#pragma once

#include "platform/export.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Result codes shared by the 8-bit toolkit.
constexpr int IMG_NO_OUTPUT = -10;    // a required output pointer is null
constexpr int IMG_BAD_GEOMETRY = -15; // empty image or rectangle, or window larger than the image

// Conversions between 8-bit and 32-bit pixels.
ZF_EXPORT void ConvertImg8ToImg32(const unsigned char* src, int* dst, unsigned n);
ZF_EXPORT void ConvertImg32ToImg8(const int* src, unsigned char* dst, unsigned n);
// In place: byte i of buf takes the low 8 bits of int i.
ZF_EXPORT void ConvertImg32To8(int* buf, unsigned n);
// In place: int i takes byte i of buf (walks back to front).
ZF_EXPORT void ConvertImg8To32(int* buf, unsigned n);

// Replaces dst (released with delete[] when not null) by a new copy of the w*h bytes of src.
ZF_EXPORT int GetClone8(const unsigned char* src, unsigned w, unsigned h, unsigned char*& dst);

// Crop of the inclusive rectangle (x1, y1)-(x2, y2); parts outside the image get fill.
// Checks in this order: empty rectangle -> IMG_BAD_GEOMETRY (outW/outH untouched); then
// outW/outH are written; null dst -> IMG_NO_OUTPUT.
ZF_EXPORT int Get2Rect8(const unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2,
                        int y2, unsigned char* dst, unsigned& outW, unsigned& outH,
                        unsigned char fill);
// Crop of the rectangle with corners top-left (x1, y1), top-right (x2, y2), bottom-left
// (x3, y3), bilinear sampling; outside the image gives fill. Same order of checks.
ZF_EXPORT int Get3Rect8(const unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2,
                        int y2, int x3, int y3, unsigned char* dst, unsigned& outW, unsigned& outH,
                        unsigned char fill);

// Grey levels on flat arrays.
ZF_EXPORT void ArrMul8(unsigned char* a, unsigned n, int k);
ZF_EXPORT void ArrDiv8(unsigned char* a, unsigned n, int k);
ZF_EXPORT void ArrNormalize256_8(unsigned char* a, unsigned n);
ZF_EXPORT void ArrAutoLevels8(unsigned char* a, unsigned n, int lowPercent, int highPercent);
ZF_EXPORT void ArrAutoLevelsC8(unsigned char* a, unsigned n, unsigned count);
ZF_EXPORT int ArrGetSumm8(const unsigned char* a, int n);
ZF_EXPORT int ArrGetMean8(const unsigned char* a, int n);
ZF_EXPORT void ArrSetMinMax8(unsigned char* a, unsigned n, unsigned char lo, unsigned char hi);
ZF_EXPORT bool ArrValueExists8(const unsigned char* a, unsigned n, unsigned char v);
ZF_EXPORT void Equalize8(unsigned char* img, unsigned w, unsigned h, unsigned char floor);

// Repeated [1 2 1] blur, rows then (for h >= 4) columns, in place.
ZF_EXPORT void Blur8(unsigned char* img, unsigned w, unsigned h, int passes);

// 3x3 family over the inclusive rectangle (x1, y1)-(x2, y2): inner pixels get their 3x3
// value, the rectangle's border copies its inner neighbour; outside the rectangle dst is
// not written. src and dst must not overlap.
ZF_EXPORT void Summ3x3To8(const unsigned char* src, unsigned w, unsigned h, int x1, int y1, int x2,
                          int y2, unsigned char* dst);
ZF_EXPORT void Summ3x3To8(const unsigned char* src, unsigned w, unsigned h, unsigned char* dst);
ZF_EXPORT void Summ3x38To32(const unsigned char* src, unsigned w, unsigned h, int x1, int y1,
                            int x2, int y2, int* dst);
ZF_EXPORT void Summ3x3To32(const int* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                           int* dst);
ZF_EXPORT void Summ3x3QTo32(const int* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                            const unsigned char* weight, int* dst);
ZF_EXPORT void Blur3x3To8(const unsigned char* src, unsigned w, unsigned h, int x1, int y1, int x2,
                          int y2, unsigned char* dst);

// Sliding windows of side L = 2^s over the rectangle; results at (x + L/2, y + L/2), the
// bands no window reaches are set to 1.
ZF_EXPORT int SummToL32(const int* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                        int s, int* dst);
ZF_EXPORT int AutoLevelsToL8(const unsigned char* src, unsigned w, unsigned h, int x1, int y1,
                             int x2, int y2, int s, unsigned char* dst);

// Internal to the toolkit: walks every window of side L = 2^s whose top-left corner (x, y)
// has x1 <= x <= x2-L+1 and y1 <= y <= y2-L+1, with running column sums, and calls
// visit(x + L/2, y + L/2, window sum). Nothing is visited when the rectangle is smaller
// than the window. The caller has checked the rectangle against the image and 0 <= s <= 30.
namespace imaging_detail {

template <class Pixel, class Visit>
void ForEachWindowSum(const Pixel* src, unsigned w, int x1, int y1, int x2, int y2, int s,
                      Visit visit)
{
    const int side = 1 << s;
    const int half = side / 2;
    if (x2 - x1 + 1 < side || y2 - y1 + 1 < side) {
        return;
    }
    const int cols = x2 - x1 + 1;
    std::vector<std::int64_t> col(static_cast<std::size_t>(cols), 0);
    auto row = [&](int y) { return src + static_cast<std::size_t>(y) * w + x1; };
    for (int y = y1; y < y1 + side; ++y) {
        const Pixel* r = row(y);
        for (int c = 0; c < cols; ++c) {
            col[c] += r[c];
        }
    }
    for (int y = y1;; ++y) {
        std::int64_t sum = 0;
        for (int c = 0; c < side - 1; ++c) {
            sum += col[c];
        }
        for (int c = 0; c + side <= cols; ++c) {
            sum += col[c + side - 1];
            visit(x1 + c + half, y + half, sum);
            sum -= col[c];
        }
        if (y + side > y2) {
            break;
        }
        const Pixel* enter = row(y + side);
        const Pixel* leave = row(y);
        for (int c = 0; c < cols; ++c) {
            col[c] += static_cast<std::int64_t>(enter[c]) - leave[c];
        }
    }
}

// True when the inclusive rectangle is non-empty and lies inside a w x h image.
inline bool RectInside(unsigned w, unsigned h, int x1, int y1, int x2, int y2)
{
    return x1 >= 0 && y1 >= 0 && x1 <= x2 && y1 <= y2 && static_cast<unsigned>(x2) < w &&
           static_cast<unsigned>(y2) < h;
}

// Sixteen bytes handled as one vector (GCC vector extension); loads and stores go through
// memcpy, so any alignment will do.
using Lanes8 = unsigned char __attribute__((vector_size(16)));

// Vote keeping of the correction stages: where votes[i] < lowest[i], lowest[i] takes the
// vote and label[i] takes the candidate; ties keep the earlier candidate.
void KeepLowestVote8(const unsigned char* votes, std::size_t n, unsigned char candidate,
                     unsigned char* lowest, unsigned char* label);

// Maps the n bytes through the ramp from lo to hi, 0 <= lo < hi <= 255: 0 at or below lo, 255
// at or above hi, (v - lo) * (0xFF0000 / (hi - lo)) >> 16 between. Sixteen bytes a step where
// SSE2 is at hand; the twin is the portable form, one 256-level table.
void RampBytes(unsigned char* a, std::size_t n, int lo, int hi);
void RampBytesScalar(unsigned char* a, std::size_t n, int lo, int hi);

} // namespace imaging_detail
