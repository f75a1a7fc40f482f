// Image utilities on 8-bit grey images and the finger locator over the 4 x 4 block activity
// map. Row layouts as each function states; allocation failures are reported by result codes
// (new (std::nothrow)), never thrown.

#include "imaging/imageUtl.h"

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <new>

namespace {

constexpr unsigned IU_BLOCK = 4;       // side of an activity block, pixels
constexpr int IU_ACTIVE = 10;          // map values above this enter the mean
constexpr int IU_FLAT_MEAN = 11;       // a mean below this means no finger
constexpr int IU_MARGIN_BLOCKS = 5;    // the box grows by this many blocks on each side
constexpr double IU_CLIP_SHARE = 0.01; // share of pixels clipped at each end by normalize
constexpr unsigned IU_PAPER = 240;     // grey levels from here up are not counted by normalize

unsigned IuStride(unsigned width)
{
    return (width + 3) & ~3u;
}

// First position of a run scan from the low end: the first i in 1..limit whose window of
// `span` values from i-1 starts with 1 and holds more than span-2 ones; returns i + span - s,
// or fallback when none does.
template <typename At> int IuScanLow(At at, int limit, int span, int fallback)
{
    for (int i = 1; i <= limit; ++i) {
        if (at(i - 1) != 1) {
            continue;
        }
        int s = 0;
        for (int j = i - 1; j < i - 1 + span; ++j) {
            s += at(j) == 1 ? 1 : 0;
        }
        if (s > span - 2) {
            return i + span - s;
        }
    }
    return fallback;
}

// The same from the high end: the first k from top down to bottom whose ten values up to k
// start (at k) with 1 and hold more than 7 ones; returns k - 10 + s, or fallback.
template <typename At> int IuScanHigh(At at, int top, int bottom, int fallback)
{
    for (int k = top; k >= bottom; --k) {
        if (at(k) != 1) {
            continue;
        }
        int s = 0;
        for (int j = k - 9; j <= k; ++j) {
            s += at(j) == 1 ? 1 : 0;
        }
        if (s > 7) {
            return k - 10 + s;
        }
    }
    return fallback;
}

} // namespace

void flipH(const unsigned char* src, unsigned char* dst, unsigned stride, unsigned rows)
{
    for (unsigned i = 0; i < rows; ++i) {
        std::memcpy(dst + static_cast<std::size_t>(i) * stride,
                    src + static_cast<std::size_t>(rows - 1 - i) * stride, stride);
    }
}

void flipV(const unsigned char* src, unsigned char* dst, unsigned width, unsigned rows)
{
    for (unsigned y = 0; y < rows; ++y) {
        const unsigned char* s = src + static_cast<std::size_t>(y) * width;
        unsigned char* d = dst + static_cast<std::size_t>(y) * width;
        for (unsigned x = 0; x < width; ++x) {
            d[x] = s[width - 1 - x];
        }
    }
}

void invert(unsigned char* img, unsigned width, unsigned height)
{
    const std::int32_t n = static_cast<std::int32_t>(width * height);
    for (std::int32_t i = 0; i < n; ++i) {
        img[i] = static_cast<unsigned char>(~img[i]);
    }
}

void rotate90(const unsigned char* src, unsigned char* dst, unsigned& width, unsigned& height,
              unsigned char clockwise)
{
    const unsigned oldW = width;
    const unsigned oldH = height;
    width = oldH;
    height = oldW;
    for (unsigned r = 0; r < oldW; ++r) {
        unsigned char* out = dst + static_cast<std::size_t>(r) * oldH;
        for (unsigned c = 0; c < oldH; ++c) {
            out[c] = clockwise != 0 ? src[static_cast<std::size_t>(oldH - 1 - c) * oldW + r]
                                    : src[static_cast<std::size_t>(c) * oldW + (oldW - 1 - r)];
        }
    }
}

void trans32To8Bpp(unsigned char* img, unsigned width, unsigned height)
{
    const std::int32_t n = static_cast<std::int32_t>(width * height);
    for (std::int32_t i = 0; i < n; ++i) {
        img[i] = img[static_cast<std::size_t>(i) * 4];
    }
}

unsigned cut(const unsigned char* src, unsigned srcStride, unsigned srcRows, unsigned x, unsigned y,
             unsigned w, unsigned h, unsigned char* dst)
{
    // In 64 bits: a sum that wraps in 32 would pass the test.
    if (std::uint64_t{x} + w > srcStride || std::uint64_t{y} + h > srcRows) {
        return 0;
    }
    for (unsigned r = 0; r < h; ++r) {
        std::memcpy(dst + static_cast<std::size_t>(r) * w,
                    src + static_cast<std::size_t>(y + r) * srcStride + x, w);
    }
    return 1;
}

unsigned arrangeImageCut(unsigned width, unsigned rows, const unsigned char* src,
                         unsigned char* dst)
{
    const unsigned nw = width & ~3u;
    for (unsigned y = 0; y < rows; ++y) {
        std::memmove(dst + static_cast<std::size_t>(y) * nw,
                     src + static_cast<std::size_t>(y) * width, nw);
    }
    return nw;
}

unsigned arrangeImage(unsigned width, unsigned rows, const unsigned char* src, unsigned char* dst)
{
    const unsigned stride = IuStride(width);
    for (unsigned y = 0; y < rows; ++y) {
        unsigned char* d = dst + static_cast<std::size_t>(y) * stride;
        std::memcpy(d, src + static_cast<std::size_t>(y) * width, width);
        std::memset(d + width, 255, stride - width);
    }
    return stride;
}

unsigned arrangeImage2(unsigned width, unsigned rows, unsigned char* img)
{
    const unsigned stride = IuStride(width);
    const std::size_t n = static_cast<std::size_t>(width) * rows;
    unsigned char* copy = new (std::nothrow) unsigned char[n == 0 ? 1 : n];
    if (copy == nullptr) {
        return 0;
    }
    std::memcpy(copy, img, n);
    for (unsigned y = 0; y < rows; ++y) {
        unsigned char* d = img + static_cast<std::size_t>(y) * stride;
        std::memcpy(d, copy + static_cast<std::size_t>(y) * width, width);
        std::memset(d + width, 0, stride - width);
    }
    delete[] copy;
    return stride;
}

void calcHistog(const unsigned char* img, unsigned stride, unsigned rows, unsigned x0, unsigned y0,
                unsigned x1, unsigned y1, std::uint32_t hist[256])
{
    for (int i = 0; i < 256; ++i) {
        hist[i] = 0;
    }
    const unsigned ye = y1 < rows ? y1 : rows;
    const unsigned xe = x1 < stride ? x1 : stride;
    for (unsigned y = y0; y < ye; ++y) {
        const unsigned char* row = img + static_cast<std::size_t>(y) * stride;
        for (unsigned x = x0; x < xe; ++x) {
            ++hist[row[x]];
        }
    }
}

int normalize(const unsigned char* src, unsigned width, unsigned height, unsigned char* dst)
{
    // 1. Arguments, and the plain copy.
    if (src == nullptr || dst == nullptr || width == 0 || height == 0) {
        return 0;
    }
    const std::size_t n = static_cast<std::size_t>(width) * height;
    std::memcpy(dst, src, n);
    // 2.-3. Histogram and the clip count over the levels below paper white.
    std::uint32_t hist[256];
    calcHistog(src, width, height, 0, 0, width, height, hist);
    std::uint64_t total = 0;
    for (unsigned i = 0; i < IU_PAPER; ++i) {
        total += hist[i];
    }
    const std::int64_t clip = static_cast<std::int64_t>(static_cast<double>(total) * IU_CLIP_SHARE);
    // 4. Low cut.
    int lo = 0;
    std::int64_t run = 0;
    for (unsigned i = 0; i <= IU_PAPER; ++i) {
        run += hist[i];
        if (run > clip) {
            lo = static_cast<int>(i) + 1;
            break;
        }
    }
    if (lo > static_cast<int>(IU_PAPER) - 1) {
        return 0;
    }
    // 5. High cut, counted down from the paper level.
    int hi = -1;
    if (hist[IU_PAPER] > clip) {
        hi = static_cast<int>(IU_PAPER) - 1;
    } else {
        run = hist[IU_PAPER];
        for (int k = static_cast<int>(IU_PAPER) - 1; k > lo; --k) {
            run += hist[k];
            if (run > clip) {
                hi = k - 1;
                break;
            }
        }
        if (hi < 0) {
            return 0;
        }
    }
    // 6.-7. The stretch, in single precision, truncated.
    if (lo >= hi) {
        return 0;
    }
    const float scale = 255.0f / static_cast<float>(hi - lo);
    for (std::size_t i = 0; i < n; ++i) {
        const int p = src[i];
        dst[i] = p < lo   ? 0
                 : p > hi ? 255
                          : static_cast<unsigned char>(
                                static_cast<unsigned>(static_cast<float>(p - lo) * scale));
    }
    return 1;
}

unsigned char getAverangeColor(const unsigned char* img, unsigned stride, unsigned rows, unsigned x,
                               unsigned y, unsigned w, unsigned h)
{
    if (std::int64_t{x} + w > std::int64_t{stride} || std::int64_t{y} + h > std::int64_t{rows} ||
        w == 0 || h == 0) {
        return 0; // outside the image, or no pixel to average
    }
    std::uint64_t sum = 0;
    for (unsigned r = y; r < y + h; ++r) {
        const unsigned char* row = img + static_cast<std::size_t>(r) * stride;
        for (unsigned c = x; c < x + w; ++c) {
            sum += row[c];
        }
    }
    return static_cast<unsigned char>(sum / (std::uint64_t{w} * h));
}

int getDifferences(const unsigned char* img, unsigned width, unsigned height, int** map)
{
    const int n = static_cast<int>(width / IU_BLOCK);
    // 1. Work row.
    int* work = new (std::nothrow) int[n > 0 ? n : 1]();
    if (work == nullptr) {
        return 0;
    }
    if (height < IU_BLOCK) {
        delete[] work;
        return 1;
    }
    const std::size_t stride = IuStride(width);
    const int usedW = static_cast<int>(width & ~3u);
    const int usedH = static_cast<int>(height & ~3u);
    for (int by = 0; 4 * by < usedH; ++by) {
        const int y = 4 * by;
        // 2. Spread of a horizontal and a vertical comb of samples through (x, y).
        for (int bx = 0; bx < n; ++bx) {
            const int x = 4 * bx;
            int lo = img[y * stride + x];
            int hi = lo;
            for (int dx = -12; dx <= 9; dx += 3) {
                if (x + dx >= 0 && x + dx < usedW) {
                    const int v = img[y * stride + (x + dx)];
                    lo = v < lo ? v : lo;
                    hi = v > hi ? v : hi;
                }
            }
            for (int dy = -10; dy <= 10; dy += 2) {
                if (y + dy >= 0 && y + dy < usedH) {
                    const int v = img[(y + dy) * stride + x];
                    lo = v < lo ? v : lo;
                    hi = v > hi ? v : hi;
                }
            }
            work[bx] = hi - lo;
        }
        // 3. Smoothing along the block row; the two blocks at each end copy the third.
        int* row = map[by];
        if (n > 4) {
            for (int bx = 2; bx < n - 2; ++bx) {
                row[bx] = (work[bx - 2] + 2 * work[bx - 1] + 4 * work[bx] + 2 * work[bx + 1] +
                           work[bx + 2]) /
                          10;
            }
        }
        if (n >= 3) {
            row[0] = row[1] = row[2];
            row[n - 2] = row[n - 1] = row[n - 3];
        }
    }
    // 4.
    delete[] work;
    return 1;
}

int findFingerAlloc(int**& map, int*& colTop, int*& colBottom, int*& rowLeft, int*& rowRight,
                    int*& rowSkip, int*& colSkip, unsigned width, unsigned height)
{
    map = nullptr;
    colTop = colBottom = rowLeft = rowRight = rowSkip = colSkip = nullptr;
    const unsigned n = width / IU_BLOCK;
    const unsigned m = height / IU_BLOCK;
    // The row table starts all null, so a partial allocation can be released row by row.
    map = new (std::nothrow) int*[m > 0 ? m : 1]();
    if (map == nullptr) {
        return 0;
    }
    for (unsigned i = 0; i < m; ++i) {
        map[i] = new (std::nothrow) int[n > 0 ? n : 1]();
        if (map[i] == nullptr) {
            return 0;
        }
    }
    for (int** p : {&colTop, &colBottom, &colSkip}) {
        *p = new (std::nothrow) int[n > 0 ? n : 1]();
        if (*p == nullptr) {
            return 0;
        }
    }
    for (int** p : {&rowLeft, &rowRight, &rowSkip}) {
        *p = new (std::nothrow) int[m > 0 ? m : 1]();
        if (*p == nullptr) {
            return 0;
        }
    }
    return 1;
}

void findFingerFree(int**& map, int*& colTop, int*& colBottom, int*& rowLeft, int*& rowRight,
                    int*& rowSkip, int*& colSkip, unsigned /*width*/, unsigned height)
{
    if (map != nullptr) {
        for (unsigned i = 0; i < height / IU_BLOCK; ++i) {
            delete[] map[i];
        }
        delete[] map;
        map = nullptr;
    }
    for (int** p : {&colTop, &colBottom, &rowLeft, &rowRight, &rowSkip, &colSkip}) {
        delete[] * p;
        *p = nullptr;
    }
}

void inflateArea(unsigned& x1, unsigned& x2, unsigned& y1, unsigned& y2, unsigned dx, unsigned dy)
{
    y1 = y1 < dy ? 0 : y1 - dy;
    y2 += dy;
    x1 = x1 < dx ? 0 : x1 - dx;
    x2 += dx;
}

void clearFakeBorder(const int* a, const int* b, const int* c, const int* d, int* e, int* f, int nF,
                     int nE)
{
    // One pass over a flag array: an unflagged entry i becomes flagged when each of the three
    // entries j, j+1, j+2 round it points (through idxA or idxB) at a flagged entry.
    auto pass = [](int* flags, int count, const int* idxA, const int* idxB) {
        if (count < 3) {
            return; // no three entries to look at
        }
        auto flagged = [&](int t) {
            const int p = idxA[t];
            const int q = idxB[t];
            return (p >= 0 && p < count && flags[p] != 0) || (q >= 0 && q < count && flags[q] != 0);
        };
        for (int i = 0; i < count; ++i) {
            if (flags[i] != 0) {
                continue;
            }
            const int j = i == 0 ? 0 : (i == count - 1 ? count - 3 : i - 1);
            if (flagged(j) && flagged(j + 1) && flagged(j + 2)) {
                flags[i] = 1;
            }
        }
    };
    pass(f, nF, c, d);
    pass(e, nE, a, b);
}

int findFinger(const unsigned char* img, unsigned width, unsigned height, unsigned& x1,
               unsigned& x2, unsigned& y1, unsigned& y2, int* rowLeft, int* rowRight, int* colTop,
               int* colBottom, int** map, int* rowSkip, int* colSkip)
{
    // 1. Arguments.
    if (img == nullptr) {
        return 0;
    }
    x1 = x2 = y1 = y2 = 0;
    if (rowLeft == nullptr || rowRight == nullptr || colTop == nullptr || colBottom == nullptr ||
        map == nullptr || rowSkip == nullptr || colSkip == nullptr) {
        return 0;
    }
    // 2. Activity map.
    const int rc = getDifferences(img, width, height, map);
    if (rc == 0 || height < IU_BLOCK) {
        return rc;
    }
    const int n = static_cast<int>(width / IU_BLOCK);
    const int m = static_cast<int>(height / IU_BLOCK);
    // 3. Mean of the active values, taken off every value.
    std::int64_t sum = 0;
    std::int64_t count = 0;
    for (int by = 0; by < m; ++by) {
        for (int bx = 0; bx < n; ++bx) {
            if (map[by][bx] > IU_ACTIVE) {
                sum += map[by][bx];
                ++count;
            }
        }
    }
    const int mean = count == 0 ? 0 : static_cast<int>(sum / count);
    int most = 0;
    for (int by = 0; by < m; ++by) {
        for (int bx = 0; bx < n; ++bx) {
            map[by][bx] -= mean;
            most = map[by][bx] > most ? map[by][bx] : most;
        }
    }
    if (mean < IU_FLAT_MEAN) {
        return 1;
    }
    // 4. Blocks of enough activity become 1.
    int least = 0;
    for (int by = 0; by < m; ++by) {
        for (int bx = 0; bx < n; ++bx) {
            least = map[by][bx] < least ? map[by][bx] : least;
        }
    }
    const int thr = 7 * least / 10;
    for (int by = 0; by < m; ++by) {
        for (int bx = 0; bx < n; ++bx) {
            map[by][bx] = thr <= map[by][bx] && map[by][bx] <= most ? 1 : 0;
        }
    }
    // 5. Rows: first and last dense run of ones.
    for (int by = 0; by < m; ++by) {
        auto at = [&](int i) { return map[by][i]; };
        const int left = n > 9 ? IuScanLow(at, n - 9, 9, n - 1) : n - 1;
        const int right = left < n - 10 ? IuScanHigh(at, n - 1, left + 10, left) : left;
        rowLeft[by] = left;
        rowRight[by] = right;
        rowSkip[by] = right - left <= 9 ? 1 : 0;
    }
    // 6. Columns, the same (the top scan needs m > 10 and stops at m - 10).
    for (int bx = 0; bx < n; ++bx) {
        auto at = [&](int i) { return map[i][bx]; };
        const int top = m > 10 ? IuScanLow(at, m - 10, 9, m - 1) : m - 1;
        const int bottom = top < m - 10 ? IuScanHigh(at, m - 1, top + 10, top) : top;
        colTop[bx] = top;
        colBottom[bx] = bottom;
        colSkip[bx] = bottom - top <= 9 ? 1 : 0;
    }
    // 7. Box over the rows and columns kept.
    int bx1 = n;
    int bx2 = 0;
    int by1 = m;
    int by2 = 0;
    for (int bx = 0; bx < n; ++bx) {
        if (colSkip[bx] == 0) {
            by1 = colTop[bx] < by1 ? colTop[bx] : by1;
            by2 = colBottom[bx] > by2 ? colBottom[bx] : by2;
        }
    }
    for (int by = 0; by < m; ++by) {
        if (rowSkip[by] == 0) {
            bx1 = rowLeft[by] < bx1 ? rowLeft[by] : bx1;
            bx2 = rowRight[by] > bx2 ? rowRight[by] : bx2;
        }
    }
    // 8. Margin, pixels, clipping to the image, sides multiples of 4.
    x1 = static_cast<unsigned>(bx1);
    x2 = static_cast<unsigned>(bx2);
    y1 = static_cast<unsigned>(by1);
    y2 = static_cast<unsigned>(by2);
    inflateArea(x1, x2, y1, y2, IU_MARGIN_BLOCKS, IU_MARGIN_BLOCKS);
    x1 *= IU_BLOCK;
    x2 *= IU_BLOCK;
    y1 *= IU_BLOCK;
    y2 *= IU_BLOCK;
    y2 = y2 < height ? y2 : height;
    x2 = x2 < width ? x2 : width;
    y1 = y1 < y2 ? y1 : y2;
    x1 = x1 < x2 ? x1 : x2;
    x2 = x1 + ((x2 - x1) & ~3u);
    y2 = y1 + ((y2 - y1) & ~3u);
    return 1;
}
