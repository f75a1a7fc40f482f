// 8-bit image toolkit: conversions, crops, grey levels, blur and 3x3 / window sums.
// Reads and writes caller buffers only (packed rows); temporary buffers are owned by
// containers. Returns 0, IMG_NO_OUTPUT or IMG_BAD_GEOMETRY where a function can fail.

#include "imaging/graph8.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

void ConvertImg8ToImg32(const unsigned char* src, int* dst, unsigned n)
{
    for (unsigned i = 0; i < n; ++i) {
        dst[i] = src[i];
    }
}

void ConvertImg32ToImg8(const int* src, unsigned char* dst, unsigned n)
{
    for (unsigned i = 0; i < n; ++i) {
        dst[i] = static_cast<unsigned char>(src[i] & 0xFF);
    }
}

void ConvertImg32To8(int* buf, unsigned n)
{
    unsigned char* bytes = reinterpret_cast<unsigned char*>(buf);
    for (unsigned i = 0; i < n; ++i) {
        bytes[i] = static_cast<unsigned char>(buf[i] & 0xFF); // int i lies at or after byte i
    }
}

void ConvertImg8To32(int* buf, unsigned n)
{
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(buf);
    for (unsigned i = n; i-- > 0;) {
        buf[i] = bytes[i]; // int i covers bytes 4i..4i+3, none below i is touched yet
    }
}

int GetClone8(const unsigned char* src, unsigned w, unsigned h, unsigned char*& dst)
{
    delete[] dst;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    dst = new unsigned char[n];
    if (n != 0) {
        std::memcpy(dst, src, n);
    }
    return 0;
}

int Get2Rect8(const unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
              unsigned char* dst, unsigned& outW, unsigned& outH, unsigned char fill)
{
    if (y1 > y2 || x1 > x2) {
        return IMG_BAD_GEOMETRY;
    }
    const std::int64_t width = static_cast<std::int64_t>(x2) - x1 + 1;
    const std::int64_t height = static_cast<std::int64_t>(y2) - y1 + 1;
    if (width > UINT32_MAX || height > UINT32_MAX) {
        return IMG_BAD_GEOMETRY; // a side that does not fit the output size
    }
    outW = static_cast<unsigned>(width);
    outH = static_cast<unsigned>(height);
    if (dst == nullptr) {
        return IMG_NO_OUTPUT;
    }
    // Each output row: fill left of the image, the image bytes, fill right of it. Rows above
    // or below the image, and rectangles that miss it, are fill throughout.
    const std::int64_t copyFrom = std::max<std::int64_t>(x1, 0);
    const std::int64_t copyTo = std::min<std::int64_t>(x2, static_cast<std::int64_t>(w) - 1);
    for (std::int64_t j = 0; j < height; ++j) {
        unsigned char* out = dst + static_cast<std::size_t>(j) * outW;
        const std::int64_t y = y1 + j;
        if (y < 0 || y >= h || copyFrom > copyTo) {
            std::memset(out, fill, outW);
            continue;
        }
        const std::size_t left = static_cast<std::size_t>(copyFrom - x1);
        const std::size_t count = static_cast<std::size_t>(copyTo - copyFrom + 1);
        std::memset(out, fill, left);
        std::memcpy(out + left,
                    img + static_cast<std::size_t>(y) * w + static_cast<std::size_t>(copyFrom),
                    count);
        std::memset(out + left + count, fill, outW - left - count);
    }
    return 0;
}

namespace {

// Side length in pixels between two corners: one is added to each signed coordinate difference,
// so a side running left or up comes out two pixels shorter than the same side running right or
// down (a 20 x 20 square turned a quarter gives 20 x 18).
double RectSide(int xa, int ya, int xb, int yb)
{
    const double dx = static_cast<double>(xb) - xa + 1.0;
    const double dy = static_cast<double>(yb) - ya + 1.0;
    return std::sqrt(dx * dx + dy * dy);
}

} // namespace

int Get3Rect8(const unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
              int x3, int y3, unsigned char* dst, unsigned& outW, unsigned& outH,
              unsigned char fill)
{
    // 1. Upright rectangles are plain crops.
    if (x1 <= x2 && x3 == x1 && y1 <= y3 && y2 == y1) {
        return Get2Rect8(img, w, h, x1, y1, x2, y3, dst, outW, outH, fill);
    }
    // 2. Output size from the two sides.
    const double width = RectSide(x1, y1, x2, y2) + 0.5;
    const double height = RectSide(x1, y1, x3, y3) + 0.5;
    if (width >= 4294967296.0 || height >= 4294967296.0) {
        return IMG_BAD_GEOMETRY;
    }
    outW = static_cast<unsigned>(width);
    outH = static_cast<unsigned>(height);
    if (outW == 0 || outH == 0) {
        return IMG_BAD_GEOMETRY;
    }
    if (dst == nullptr) {
        return IMG_NO_OUTPUT;
    }
    // 3. The angle of the longer side.
    const double pi = std::acos(-1.0);
    const double theta =
        outH > outW
            ? std::atan2(static_cast<double>(y3) - y1, static_cast<double>(x3) - x1) - pi / 2
            : std::atan2(static_cast<double>(y2) - y1, static_cast<double>(x2) - x1);
    const double c = std::cos(theta);
    const double s = std::sin(theta);
    // 4. Bilinear samples inside the image; the last row and column are copied; fill outside.
    for (unsigned j = 0; j < outH; ++j) {
        unsigned char* out = dst + static_cast<std::size_t>(j) * outW;
        for (unsigned i = 0; i < outW; ++i) {
            const double sx = i * c + x1 - j * s;
            const double sy = i * s + y1 + j * c;
            if (sx < 0 || sy < 0 || sx >= w || sy >= h) {
                out[i] = fill;
                continue;
            }
            const unsigned ix = static_cast<unsigned>(sx);
            const unsigned iy = static_cast<unsigned>(sy);
            const unsigned char* p = img + static_cast<std::size_t>(iy) * w + ix;
            if (ix + 1 < w && iy + 1 < h) {
                const double fx = sx - ix;
                const double fy = sy - iy;
                const double v = ((1 - fx) * p[0] + fx * p[1]) * (1 - fy) +
                                 ((1 - fx) * p[w] + fx * p[w + 1]) * fy;
                out[i] = static_cast<unsigned char>(static_cast<unsigned>(v + 0.5));
            } else {
                out[i] = *p;
            }
        }
    }
    return 0;
}

void ArrMul8(unsigned char* a, unsigned n, int k)
{
    if (k <= 0) {
        return; // negative shifts leave the bytes as they are
    }
    for (unsigned i = 0; i < n; ++i) {
        a[i] = k >= 8 ? 0 : static_cast<unsigned char>((a[i] << k) & 0xFF);
    }
}

void ArrDiv8(unsigned char* a, unsigned n, int k)
{
    if (k <= 0) {
        return;
    }
    for (unsigned i = 0; i < n; ++i) {
        a[i] = k >= 8 ? 0 : static_cast<unsigned char>(a[i] >> k);
    }
}

void ArrNormalize256_8(unsigned char* a, unsigned n)
{
    if (n == 0) {
        return;
    }
    unsigned lo = 255;
    unsigned hi = 0;
    for (unsigned i = 0; i < n; ++i) {
        lo = std::min<unsigned>(lo, a[i]);
        hi = std::max<unsigned>(hi, a[i]);
    }
    if (hi <= lo || (lo == 0 && hi == 255)) {
        return;
    }
    const std::uint32_t step = 0xFF0000u / (hi - lo); // step * (hi - lo) <= 0xFF0000
    for (unsigned i = 0; i < n; ++i) {
        a[i] = static_cast<unsigned char>((step * (a[i] - lo)) >> 16);
    }
}

namespace {

// Maps the bytes through the ramp from lo to hi (0 at or below lo, 255 at or above hi),
// first separating levels that meet or cross around their midpoint.
void LvMapRamp(unsigned char* a, unsigned n, int lo, int hi)
{
    if (lo >= hi) {
        const int m = (lo + hi) / 2;
        if (m > 127) {
            hi = m;
            lo = m - 1;
        } else {
            lo = m;
            hi = m + 1;
        }
    }
    imaging_detail::RampBytes(a, n, lo, hi);
}

} // namespace

namespace imaging_detail {

void RampBytesScalar(unsigned char* a, std::size_t n, int lo, int hi)
{
    unsigned char table[256];
    const std::uint32_t step = 0xFF0000u / static_cast<std::uint32_t>(hi - lo);
    for (int v = 0; v < 256; ++v) {
        if (v <= lo) {
            table[v] = 0;
        } else if (v >= hi) {
            table[v] = 255;
        } else {
            table[v] =
                static_cast<unsigned char>((static_cast<std::uint32_t>(v - lo) * step) >> 16);
        }
    }
    for (std::size_t i = 0; i < n; ++i) {
        a[i] = table[a[i]];
    }
}

#if defined(__SSE2__)
// With d = v - lo and step = 2^16 sh + sl, (d * step) >> 16 = d * sh + ((d * sl) >> 16)
// exactly, and both terms fit 16-bit lanes (d, sh <= 255). Levels at or below lo give d = 0
// by the saturating subtraction; levels at or above hi are forced to 255.
void RampBytes(unsigned char* a, std::size_t n, int lo, int hi)
{
    const std::uint32_t step = 0xFF0000u / static_cast<std::uint32_t>(hi - lo);
    const __m128i zero = _mm_setzero_si128();
    const __m128i low = _mm_set1_epi8(static_cast<char>(lo));
    const __m128i high = _mm_set1_epi8(static_cast<char>(hi));
    const __m128i sh = _mm_set1_epi16(static_cast<short>(step >> 16));
    const __m128i sl = _mm_set1_epi16(static_cast<short>(step & 0xFFFF));
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        __m128i* const p = reinterpret_cast<__m128i*>(a + i);
        const __m128i v = _mm_loadu_si128(p);
        const __m128i d = _mm_subs_epu8(v, low);
        const __m128i dLo = _mm_unpacklo_epi8(d, zero);
        const __m128i dHi = _mm_unpackhi_epi8(d, zero);
        const __m128i rLo = _mm_add_epi16(_mm_mullo_epi16(dLo, sh), _mm_mulhi_epu16(dLo, sl));
        const __m128i rHi = _mm_add_epi16(_mm_mullo_epi16(dHi, sh), _mm_mulhi_epu16(dHi, sl));
        // Inside the ramp the values are below 255 and pack as they are; the lanes at or above
        // hi, whatever they pack to, become 255.
        const __m128i top = _mm_cmpeq_epi8(_mm_max_epu8(v, high), v);
        _mm_storeu_si128(p, _mm_or_si128(_mm_packus_epi16(rLo, rHi), top));
    }
    RampBytesScalar(a + i, n - i, lo, hi);
}
#else
void RampBytes(unsigned char* a, std::size_t n, int lo, int hi)
{
    RampBytesScalar(a, n, lo, hi);
}
#endif

} // namespace imaging_detail

namespace {

void LvHistogram(const unsigned char* a, unsigned n, std::uint32_t hist[256])
{
    std::fill(hist, hist + 256, 0u);
#pragma GCC unroll 4
    for (unsigned i = 0; i < n; ++i) {
        ++hist[a[i]];
    }
}

// Smallest level whose count from level 0 up, itself included, reaches c; 256 if none does.
int LvFirstFromBottom(const std::uint32_t hist[256], std::uint32_t c)
{
    std::uint32_t sum = 0;
    for (int v = 0; v < 256; ++v) {
        sum += hist[v];
        if (sum >= c) {
            return v;
        }
    }
    return 256;
}

// Largest level whose count from level 255 down, itself included, reaches c; -1 if none does.
int LvFirstFromTop(const std::uint32_t hist[256], std::uint32_t c)
{
    std::uint32_t sum = 0;
    for (int v = 255; v >= 0; --v) {
        sum += hist[v];
        if (sum >= c) {
            return v;
        }
    }
    return -1;
}

} // namespace

void ArrAutoLevels8(unsigned char* a, unsigned n, int lowPercent, int highPercent)
{
    std::uint32_t hist[256];
    LvHistogram(a, n, hist);
    const std::uint32_t cLow = n * static_cast<std::uint32_t>(lowPercent) / 100u;
    const std::uint32_t cHigh = n * static_cast<std::uint32_t>(highPercent) / 100u;
    // A clip count beyond the pixel count stops at the last level instead of running on.
    const int lo = std::min(LvFirstFromBottom(hist, cLow), 255);
    const int hi = std::max(LvFirstFromTop(hist, cHigh), 0);
    LvMapRamp(a, n, lo, hi);
}

void ArrAutoLevelsC8(unsigned char* a, unsigned n, unsigned count)
{
    const int c = std::min(static_cast<int>(n / 2), static_cast<int>(count));
    if (c <= 0) {
        LvMapRamp(a, n, 0, 255);
        return;
    }
    std::uint32_t hist[256];
    LvHistogram(a, n, hist);
    const int lo = LvFirstFromBottom(hist, static_cast<std::uint32_t>(c)) + 1;
    const int hi = LvFirstFromTop(hist, static_cast<std::uint32_t>(c)) - 1;
    LvMapRamp(a, n, lo, hi);
}

int ArrGetSumm8(const unsigned char* a, int n)
{
    std::uint32_t sum = 0;
    for (int i = 0; i < n; ++i) {
        sum += a[i];
    }
    return static_cast<int>(sum);
}

int ArrGetMean8(const unsigned char* a, int n)
{
    if (n <= 0) {
        return 0; // no bytes, no mean (and no division by zero)
    }
    // The 32-bit sum divided as unsigned: sums past INT_MAX still give their mean.
    return static_cast<int>(static_cast<std::uint32_t>(ArrGetSumm8(a, n)) /
                            static_cast<unsigned>(n));
}

void ArrSetMinMax8(unsigned char* a, unsigned n, unsigned char lo, unsigned char hi)
{
    if (lo >= hi) {
        return; // no ramp between the levels: the bytes stay as they are
    }
    const int step = 0xFF00000 / (hi - lo); // step * (v - lo) < 0xFF00000 inside the ramp
    for (unsigned i = 0; i < n; ++i) {
        const int v = a[i];
        a[i] = v >= hi ? 255 : v <= lo ? 0 : static_cast<unsigned char>((step * (v - lo)) >> 20);
    }
}

bool ArrValueExists8(const unsigned char* a, unsigned n, unsigned char v)
{
    for (unsigned i = 0; i < n; ++i) {
        if (a[i] == v) {
            return true;
        }
    }
    return false;
}

void Equalize8(unsigned char* img, unsigned w, unsigned h, unsigned char floor)
{
    for (unsigned y = 0; y + 1 < h; ++y) {
        unsigned char* row = img + static_cast<std::size_t>(y) * w;
        for (unsigned x = 0; x + 1 < w; ++x) {
            const int p = row[x];
            if (p < floor) {
                continue;
            }
            const int a = row[x + 1];
            const int b = row[x + w];
            const int c = row[x + w + 1];
            const int sum = std::abs(p - a) + std::abs(p - b) + std::abs(p - c) + std::abs(a - b) +
                            std::abs(a - c) + std::abs(b - c);
            row[x] = static_cast<unsigned char>(std::max<int>(p - sum / 6, floor));
        }
    }
}

namespace {

// One [1 2 1] / 4 pass along n values `step` bytes apart, from the values before the pass;
// the two end values then copy their inner neighbours. Needs n >= 3.
void BlSweep(unsigned char* p, unsigned n, std::size_t step)
{
    unsigned prev = p[0];
    unsigned cur = p[step];
    for (unsigned i = 1; i + 1 < n; ++i) {
        const unsigned next = p[(i + 1) * step];
        p[i * step] = static_cast<unsigned char>((prev + 2 * cur + next) >> 2);
        prev = cur;
        cur = next;
    }
    p[0] = p[step];
    p[(n - 1) * step] = p[(n - 2) * step];
}

} // namespace

void Blur8(unsigned char* img, unsigned w, unsigned h, int passes)
{
    for (int pass = 0; pass < passes; ++pass) {
        if (w >= 3) { // narrower rows have no inner pixel to smooth
            for (unsigned y = 0; y < h; ++y) {
                BlSweep(img + static_cast<std::size_t>(y) * w, w, 1);
            }
        }
        if (h >= 4) {
            for (unsigned x = 0; x < w; ++x) {
                BlSweep(img + x, h, w);
            }
        }
    }
}

namespace {

// Step 2 of the 3x3 family: the first and last rows of a rectangle at least three rows high
// copy their inner neighbours (the inner rows are already written).
template <class Out> void SmCopyEdgeRows(Out* dst, unsigned w, int x1, int y1, int x2, int y2)
{
    const std::size_t cols = static_cast<std::size_t>(x2 - x1) + 1;
    Out* first = dst + static_cast<std::size_t>(y1) * w + x1;
    Out* last = dst + static_cast<std::size_t>(y2) * w + x1;
    std::copy(first + w, first + w + cols, first);
    std::copy(last - w, last - w + cols, last);
}

// Drives the 3x3 family over the inclusive rectangle. value(xs, ys, x, y) gives the output
// at (x, y) from the nine source pixels at columns xs[0..2] and rows ys[0..2]. Inner pixels
// use their own neighbourhood and the rectangle's border copies the nearest inner output.
// A rectangle with fewer than three rows or columns has no inner pixel: each of its pixels
// then takes the value of its neighbourhood clamped to the rectangle, so nothing outside the
// rectangle and nothing unwritten is read.
template <class Out, class Value>
void SmFor3x3(unsigned w, unsigned h, int x1, int y1, int x2, int y2, Out* dst, Value value)
{
    if (!imaging_detail::RectInside(w, h, x1, y1, x2, y2)) {
        return;
    }
    auto at = [&](int x, int y) -> Out& { return dst[static_cast<std::size_t>(y) * w + x]; };
    if (x2 - x1 < 2 || y2 - y1 < 2) {
        for (int y = y1; y <= y2; ++y) {
            const int ys[3] = {std::max(y - 1, y1), y, std::min(y + 1, y2)};
            for (int x = x1; x <= x2; ++x) {
                const int xs[3] = {std::max(x - 1, x1), x, std::min(x + 1, x2)};
                at(x, y) = value(xs, ys, x, y);
            }
        }
        return;
    }
    // 1. Inner rows; each row's ends copy their inner neighbours.
    for (int y = y1 + 1; y < y2; ++y) {
        const int ys[3] = {y - 1, y, y + 1};
        for (int x = x1 + 1; x < x2; ++x) {
            const int xs[3] = {x - 1, x, x + 1};
            at(x, y) = value(xs, ys, x, y);
        }
        at(x1, y) = at(x1 + 1, y);
        at(x2, y) = at(x2 - 1, y);
    }
    SmCopyEdgeRows(dst, w, x1, y1, x2, y2);
}

// Sum of the nine pixels, in the unsigned arithmetic of Acc (wrap-around included).
template <class Acc, class Pixel>
Acc SmSum9(const Pixel* src, unsigned w, const int xs[3], const int ys[3])
{
    Acc sum = 0;
    for (int r = 0; r < 3; ++r) {
        const Pixel* row = src + static_cast<std::size_t>(ys[r]) * w;
        sum += static_cast<Acc>(row[xs[0]]) + static_cast<Acc>(row[xs[1]]) +
               static_cast<Acc>(row[xs[2]]);
    }
    return sum;
}

#if defined(__SSE2__)
constexpr int SM_LANES = 16;  // outputs a vector step
constexpr int SM_CHUNK = 256; // outputs whose column sums one stack buffer holds

// Outputs begin..end-1 of one inner row from the source rows r0..r2 above, at and below it,
// sixteen at a time: the 16-bit column sums of the three rows go to a buffer, and each output
// adds three neighbouring column sums (at most 9 * 255, so 16 bits hold them exactly).
// Finish::Lanes(lo, hi) makes bytes of the sixteen sums in two 8-lane halves. A last step that
// would pass end moves back to end - 16 and rewrites equal values. Returns the first output
// left for the scalar loop: begin when the row has fewer than sixteen, end otherwise.
template <class Finish>
int Sm3x3RowLanes(const unsigned char* r0, const unsigned char* r1, const unsigned char* r2,
                  unsigned char* out, int begin, int end)
{
    if (end - begin < SM_LANES) {
        return begin;
    }
    const __m128i zero = _mm_setzero_si128();
    alignas(16) std::uint16_t cols[SM_CHUNK + 2 + SM_LANES];
    for (int x = begin; x < end; x += SM_CHUNK) {
        const int stop = std::min(x + SM_CHUNK, end);
        const int first = std::min(x, stop - SM_LANES); // outputs first..stop-1
        // Column sums of columns first-1 .. stop.
        const int m = stop - first + 2;
        for (int j = 0;; j += SM_LANES) {
            j = std::min(j, m - SM_LANES);
            const std::ptrdiff_t c = first - 1 + j;
            auto load = [c](const unsigned char* r) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + c));
            };
            const __m128i a = load(r0);
            const __m128i b = load(r1);
            const __m128i d = load(r2);
            const __m128i lo =
                _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero)),
                              _mm_unpacklo_epi8(d, zero));
            const __m128i hi =
                _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero)),
                              _mm_unpackhi_epi8(d, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(cols + j), lo);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(cols + j + 8), hi);
            if (j + SM_LANES >= m) {
                break;
            }
        }
        // Outputs: column sums k, k + 1 and k + 2 for output first + k.
        const int n = stop - first;
        for (int k = 0;; k += SM_LANES) {
            k = std::min(k, n - SM_LANES);
            auto three = [&cols](int at) {
                auto col = [&cols](int i) {
                    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(cols + i));
                };
                return _mm_add_epi16(_mm_add_epi16(col(at), col(at + 1)), col(at + 2));
            };
            const __m128i bytes = Finish::Lanes(three(k), three(k + 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + first + k), bytes);
            if (k + SM_LANES >= n) {
                break;
            }
        }
    }
    return end;
}
#endif

// Pixels of the 8-bit 3x3 family from the unsigned sum of their nine source pixels: One for
// one sum; in SSE2 builds Row for the outputs begin..end-1 of an inner row as Sm3x3RowLanes
// gives them (returning the first output it leaves to the scalar loop).
struct SmLowByte {
    static unsigned char One(unsigned sum) { return static_cast<unsigned char>(sum & 0xFF); }
#if defined(__SSE2__)
    // The low byte of the sum is the sum of the bytes modulo 256: sixteen outputs are nine
    // wrapping byte additions.
    static int Row(const unsigned char* r0, const unsigned char* r1, const unsigned char* r2,
                   unsigned char* out, int begin, int end)
    {
        if (end - begin < SM_LANES) {
            return begin;
        }
        for (int x = begin;; x += SM_LANES) {
            x = std::min(x, end - SM_LANES);
            __m128i sum = _mm_setzero_si128();
            for (const unsigned char* r : {r0, r1, r2}) {
                for (int dx = -1; dx <= 1; ++dx) {
                    sum = _mm_add_epi8(
                        sum, _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + x + dx)));
                }
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), sum);
            if (x + SM_LANES >= end) {
                return end;
            }
        }
    }
#endif
};

struct SmNinth {
    static unsigned char One(unsigned sum) { return static_cast<unsigned char>(sum / 9); }
#if defined(__SSE2__)
    // floor(s * 7282 / 2^16) = floor(s / 9) for every s <= 9 * 255: the product overshoots
    // s / 9 by 2s / (9 * 2^16) < 1/9, less than the gap to the next whole number.
    static __m128i Lanes(__m128i lo, __m128i hi)
    {
        const __m128i ninth = _mm_set1_epi16(7282);
        return _mm_packus_epi16(_mm_mulhi_epu16(lo, ninth), _mm_mulhi_epu16(hi, ninth));
    }
    static int Row(const unsigned char* r0, const unsigned char* r1, const unsigned char* r2,
                   unsigned char* out, int begin, int end)
    {
        return Sm3x3RowLanes<SmNinth>(r0, r1, r2, out, begin, end);
    }
#endif
};

// The 8-bit 3x3 family, each pixel Finish::One of its nine-pixel sum. Same layout as
// SmFor3x3; the inner rows are swept sixteen pixels at a time where SSE2 exists, and the rest
// with three running column sums, so each pixel adds one new column. src and dst must not
// overlap.
template <class Finish>
void SmFor3x3To8(const unsigned char* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                 unsigned char* dst)
{
    auto finish = [](unsigned sum) { return Finish::One(sum); };
    if (!imaging_detail::RectInside(w, h, x1, y1, x2, y2) || x2 - x1 < 2 || y2 - y1 < 2) {
        SmFor3x3(w, h, x1, y1, x2, y2, dst, [&](const int* xs, const int* ys, int, int) {
            return finish(SmSum9<unsigned>(src, w, xs, ys));
        });
        return;
    }
    // 1. Inner rows; each row's ends copy their inner neighbours.
    for (int y = y1 + 1; y < y2; ++y) {
        const unsigned char* r0 = src + static_cast<std::size_t>(y - 1) * w;
        const unsigned char* r1 = r0 + w;
        const unsigned char* r2 = r1 + w;
        unsigned char* out = dst + static_cast<std::size_t>(y) * w;
        int start = x1 + 1;
#if defined(__SSE2__)
        start = Finish::Row(r0, r1, r2, out, start, x2);
#endif
        unsigned left = static_cast<unsigned>(r0[start - 1]) + r1[start - 1] + r2[start - 1];
        unsigned mid = static_cast<unsigned>(r0[start]) + r1[start] + r2[start];
        for (int x = start; x < x2; ++x) {
            const unsigned right = static_cast<unsigned>(r0[x + 1]) + r1[x + 1] + r2[x + 1];
            out[x] = finish(left + mid + right);
            left = mid;
            mid = right;
        }
        out[x1] = out[x1 + 1];
        out[x2] = out[x2 - 1];
    }
    SmCopyEdgeRows(dst, w, x1, y1, x2, y2);
}

} // namespace

void Summ3x3To8(const unsigned char* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                unsigned char* dst)
{
    SmFor3x3To8<SmLowByte>(src, w, h, x1, y1, x2, y2, dst);
}

void Summ3x3To8(const unsigned char* src, unsigned w, unsigned h, unsigned char* dst)
{
    if (w == 0 || h == 0) {
        return;
    }
    Summ3x3To8(src, w, h, 0, 0, static_cast<int>(w - 1), static_cast<int>(h - 1), dst);
}

void Summ3x38To32(const unsigned char* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                  int* dst)
{
    SmFor3x3(w, h, x1, y1, x2, y2, dst, [&](const int* xs, const int* ys, int, int) {
        return static_cast<int>(SmSum9<unsigned>(src, w, xs, ys));
    });
}

void Summ3x3To32(const int* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2, int* dst)
{
    SmFor3x3(w, h, x1, y1, x2, y2, dst, [&](const int* xs, const int* ys, int, int) {
        return static_cast<int>(SmSum9<std::uint32_t>(src, w, xs, ys));
    });
}

void Summ3x3QTo32(const int* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                  const unsigned char* weight, int* dst)
{
    SmFor3x3(w, h, x1, y1, x2, y2, dst, [&](const int* xs, const int* ys, int x, int y) {
        std::int64_t num = 0;
        std::int64_t den = 0;
        for (int r = 0; r < 3; ++r) {
            const std::size_t row = static_cast<std::size_t>(ys[r]) * w;
            for (int c = 0; c < 3; ++c) {
                num += static_cast<std::int64_t>(weight[row + xs[c]]) * src[row + xs[c]];
                den += weight[row + xs[c]];
            }
        }
        return den == 0 ? src[static_cast<std::size_t>(y) * w + x] : static_cast<int>(num / den);
    });
}

void Blur3x3To8(const unsigned char* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                unsigned char* dst)
{
    SmFor3x3To8<SmNinth>(src, w, h, x1, y1, x2, y2, dst);
}

void imaging_detail::KeepLowestVote8(const unsigned char* votes, std::size_t n,
                                     unsigned char candidate, unsigned char* lowest,
                                     unsigned char* label)
{
    // Sixteen blocks at a time in byte vectors, the rest one by one.
    using Lanes = Lanes8;
    std::size_t i = 0;
    for (; i + sizeof(Lanes) <= n; i += sizeof(Lanes)) {
        Lanes v;
        Lanes low;
        Lanes lab;
        std::memcpy(&v, votes + i, sizeof v);
        std::memcpy(&low, lowest + i, sizeof low);
        std::memcpy(&lab, label + i, sizeof lab);
        const auto better = v < low;
        low = better ? v : low;
        lab = better ? candidate : lab;
        std::memcpy(lowest + i, &low, sizeof low);
        std::memcpy(label + i, &lab, sizeof lab);
    }
    for (; i < n; ++i) {
        if (votes[i] < lowest[i]) {
            lowest[i] = votes[i];
            label[i] = candidate;
        }
    }
}

namespace {

// v / 2^k rounded towards minus infinity (an arithmetic shift), without shifting a negative.
// Domain: 0 <= k <= 60.
std::int64_t FloorShift(std::int64_t v, int k)
{
    return v >= 0 ? v >> k : -((-v + ((std::int64_t{1} << k) - 1)) >> k);
}

// Sets every pixel of the (checked) rectangle to v.
template <class Out> void SmFillRect(Out* dst, unsigned w, int x1, int y1, int x2, int y2, Out v)
{
    for (int y = y1; y <= y2; ++y) {
        Out* row = dst + static_cast<std::size_t>(y) * w;
        std::fill(row + x1, row + x2 + 1, v);
    }
}

} // namespace

int SummToL32(const int* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2, int s,
              int* dst)
{
    if (s < 0 || s > 30 || !imaging_detail::RectInside(w, h, x1, y1, x2, y2)) {
        return IMG_BAD_GEOMETRY;
    }
    if (dst == nullptr) {
        return IMG_NO_OUTPUT;
    }
    // The bands that no window reaches keep this 1.
    SmFillRect(dst, w, x1, y1, x2, y2, 1);
    imaging_detail::ForEachWindowSum(
        src, w, x1, y1, x2, y2, s, [&](int x, int y, std::int64_t sum) {
            dst[static_cast<std::size_t>(y) * w + x] = static_cast<int>(FloorShift(sum, 2 * s));
        });
    return 0;
}

int AutoLevelsToL8(const unsigned char* src, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                   int s, unsigned char* dst)
{
    if (s < 0 || s > 30 || static_cast<int>(w) < (1 << s) || static_cast<int>(h) < (1 << s) ||
        !imaging_detail::RectInside(w, h, x1, y1, x2, y2)) {
        return IMG_BAD_GEOMETRY;
    }
    if (dst == nullptr) {
        return IMG_NO_OUTPUT;
    }
    const int side = 1 << s;
    const int half = side / 2;
    SmFillRect<unsigned char>(dst, w, x1, y1, x2, y2, 1);
    const int cols = x2 - x1 + 1;
    if (cols < side || y2 - y1 + 1 < side) {
        return 0;
    }
    // 1. One 256-bin histogram per column of the rectangle over the current band of rows.
    std::vector<std::uint32_t> colHist(static_cast<std::size_t>(cols) * 256, 0);
    auto hist = [&](int c) { return colHist.data() + static_cast<std::size_t>(c) * 256; };
    auto pixel = [&](int c, int y) { return src[static_cast<std::size_t>(y) * w + x1 + c]; };
    for (int y = y1; y < y1 + side; ++y) {
        for (int c = 0; c < cols; ++c) {
            ++hist(c)[pixel(c, y)];
        }
    }
    std::uint32_t window[256];
    for (int y = y1;; ++y) {
        // 2. Slide along the band: add the entering column, take the mode, drop the leaving.
        std::fill(window, window + 256, 0u);
        for (int c = 0; c < side - 1; ++c) {
            for (int v = 0; v < 256; ++v) {
                window[v] += hist(c)[v];
            }
        }
        for (int c = 0; c + side <= cols; ++c) {
            const std::uint32_t* enter = hist(c + side - 1);
            const std::uint32_t* leave = hist(c);
            int mode = 0;
            for (int v = 0; v < 256; ++v) {
                window[v] += enter[v];
                if (window[v] > window[mode]) {
                    mode = v; // the lowest level wins ties
                }
            }
            dst[static_cast<std::size_t>(y + half) * w + x1 + c + half] =
                static_cast<unsigned char>(mode);
            for (int v = 0; v < 256; ++v) {
                window[v] -= leave[v];
            }
        }
        // 3. Next band: the entering row in, the leaving row out.
        if (y + side > y2) {
            break;
        }
        for (int c = 0; c < cols; ++c) {
            ++hist(c)[pixel(c, y + side)];
            --hist(c)[pixel(c, y)];
        }
    }
    return 0;
}
