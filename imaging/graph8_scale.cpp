// Resizing of 8-bit packed images by powers of two, by resolution and to a given size, canvas
// centring, and doubling of direction fields. In-place forms order their writes so that no
// source pixel is overwritten before it is read.

#include "imaging/graph8_scale.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr int SC_MAX_SHIFT = 15;

bool ScShiftOk(int n)
{
    return n >= 0 && n <= SC_MAX_SHIFT;
}

// Circular mean of two directions of 0..179 degrees, halves rounded up.
int ScMeanDir(int a, int b)
{
    int d = b - a;
    d = d > 90 ? d - 180 : (d < -90 ? d + 180 : d);
    const int twice = 2 * a + d + 1 + 360; // kept positive: 180 added to the mean
    return (twice / 2) % 180;
}

} // namespace

int ResizeDecFastTo8(const unsigned char* src, unsigned& w, unsigned& h, int n, unsigned char* dst)
{
    if (!ScShiftOk(n)) {
        return IMG_BAD_GEOMETRY;
    }
    if (dst == nullptr) {
        return IMG_NO_OUTPUT;
    }
    const unsigned nw = w >> n;
    const unsigned nh = h >> n;
    const unsigned o = n == 0 ? 0 : 1u << (n - 1);
    // Front to back: every write lies at or before the pixel it reads, so dst may be src.
    for (unsigned y = 0; y < nh; ++y) {
        const unsigned char* row = src + static_cast<std::size_t>((y << n) + o) * w;
        unsigned char* out = dst + static_cast<std::size_t>(y) * nw;
        for (unsigned x = 0; x < nw; ++x) {
            out[x] = row[(x << n) + o];
        }
    }
    w = nw;
    h = nh;
    return 0;
}

int ResizeDecFast8(unsigned char* img, unsigned& w, unsigned& h, int n)
{
    return ResizeDecFastTo8(img, w, h, n, img);
}

int ResizeIncFast8(unsigned char* img, unsigned& w, unsigned& h, int n)
{
    if (!ScShiftOk(n) || (std::uint64_t{w} << n) * (std::uint64_t{h} << n) > UINT32_MAX) {
        return IMG_BAD_GEOMETRY;
    }
    if (img == nullptr) {
        return IMG_NO_OUTPUT;
    }
    const unsigned f = 1u << n;
    const unsigned nw = w << n;
    // Last row first and each row from its end: the widened row starts at or after the
    // source row, so unread pixels are never overwritten.
    for (unsigned y = h; y-- > 0;) {
        const unsigned char* row = img + static_cast<std::size_t>(y) * w;
        unsigned char* band = img + static_cast<std::size_t>(y) * f * nw;
        for (unsigned x = w; x-- > 0;) {
            const unsigned char v = row[x];
            for (unsigned j = f; j-- > 0;) {
                band[static_cast<std::size_t>(x) * f + j] = v;
            }
        }
        for (unsigned j = 1; j < f; ++j) {
            std::memmove(band + static_cast<std::size_t>(j) * nw, band, nw);
        }
    }
    w = nw;
    h <<= n;
    return 0;
}

int ResizeFast8(unsigned char* img, unsigned& w, unsigned& h, int n)
{
    if (n > 0) {
        return ResizeIncFast8(img, w, h, n);
    }
    if (n < 0) {
        return ResizeDecFast8(img, w, h, -n);
    }
    return 0;
}

int ResizeDecFastForDPI8(unsigned char* img, unsigned& w, unsigned& h, int dpi, int target)
{
    if (target < 1) {
        return 0; // no resolution is reached by halving towards it
    }
    int n = 0;
    while (dpi > target) {
        dpi >>= 1;
        ++n;
    }
    if (n > 0) {
        ResizeDecFast8(img, w, h, n);
    }
    return n;
}

int ResizeDecLinearTo8(const unsigned char* src, unsigned w, unsigned h, unsigned W, unsigned H,
                       unsigned char* dst)
{
    if (dst == nullptr || src == nullptr || W == 0 || H == 0 || W > w || H > h) {
        return IMG_BAD_GEOMETRY;
    }
    const double fx = static_cast<double>(w) / W;
    const double fy = static_cast<double>(h) / H;
    const unsigned bx = static_cast<unsigned>(fx);
    const unsigned by = static_cast<unsigned>(fy);
    const unsigned area = bx * by;
    for (unsigned y = 0; y < H; ++y) {
        unsigned y0 = static_cast<unsigned>(y * fy);
        y0 = y0 + by > h ? h - by : y0;
        for (unsigned x = 0; x < W; ++x) {
            unsigned x0 = static_cast<unsigned>(x * fx);
            x0 = x0 + bx > w ? w - bx : x0;
            std::uint64_t sum = 0;
            for (unsigned v = y0; v < y0 + by; ++v) {
                const unsigned char* row = src + static_cast<std::size_t>(v) * w;
                for (unsigned u = x0; u < x0 + bx; ++u) {
                    sum += row[u];
                }
            }
            dst[static_cast<std::size_t>(y) * W + x] =
                static_cast<unsigned char>((sum + area / 2) / area);
        }
    }
    return 0;
}

int ResizeDecLinearTo8(const unsigned char* src, unsigned& w, unsigned& h, int n,
                       unsigned char* dst)
{
    if (!ScShiftOk(n)) {
        return IMG_BAD_GEOMETRY;
    }
    if (dst == nullptr) {
        return IMG_NO_OUTPUT;
    }
    const unsigned nw = w >> n;
    const unsigned nh = h >> n;
    const unsigned f = 1u << n;
    // Front to back, each output before the rows it is read from: dst may be src.
    for (unsigned y = 0; y < nh; ++y) {
        for (unsigned x = 0; x < nw; ++x) {
            std::uint64_t sum = 0;
            for (unsigned v = y * f; v < y * f + f; ++v) {
                const unsigned char* row = src + static_cast<std::size_t>(v) * w + x * f;
                for (unsigned u = 0; u < f; ++u) {
                    sum += row[u];
                }
            }
            dst[static_cast<std::size_t>(y) * nw + x] = static_cast<unsigned char>(sum >> (2 * n));
        }
    }
    w = nw;
    h = nh;
    return 0;
}

void SetSize8(const unsigned char* src, unsigned w, unsigned h, unsigned W, unsigned H,
              unsigned char* dst, unsigned char fill)
{
    if (dst == nullptr || W == 0 || H == 0) {
        return;
    }
    // Rows: padding above and below, or the middle H source rows.
    unsigned top = 0;
    unsigned first = 0;
    unsigned used = H;
    if (H > h) {
        top = (H - h) / 2;
        used = h;
    } else {
        first = (h - H) / 2;
    }
    const unsigned left = W > w ? (W - w) / 2 : 0;
    const unsigned start = W > w ? 0 : (w - W) / 2;
    const unsigned copied = W > w ? w : W;
    if (used == 0 || copied == 0) {
        std::memset(dst, fill, static_cast<std::size_t>(W) * H);
        return;
    }
    // Only the padding is filled: the rows above, each copied row's sides, the rows below.
    std::memset(dst, fill, static_cast<std::size_t>(W) * top);
    for (unsigned y = 0; y < used; ++y) {
        const unsigned char* row = src + static_cast<std::size_t>(first + y) * w + start;
        unsigned char* out = dst + static_cast<std::size_t>(top + y) * W;
        std::memset(out, fill, left);
        std::memcpy(out + left, row, copied);
        std::memset(out + left + copied, fill, W - left - copied);
    }
    std::memset(dst + static_cast<std::size_t>(top + used) * W, fill,
                static_cast<std::size_t>(W) * (H - top - used));
}

void ResizeInc2xLinear8(unsigned char* /*img*/, unsigned& /*w*/, unsigned& /*h*/) {}

void ResizeIncLinear8(unsigned char* img, unsigned& w, unsigned& h, int n)
{
    for (int i = 0; i < n; ++i) {
        ResizeInc2xLinear8(img, w, h);
    }
}

int ResizeIncDirs8(unsigned char* dir, unsigned& w, unsigned& h, int n)
{
    if (!ScShiftOk(n) || (std::uint64_t{w} << n) * (std::uint64_t{h} << n) > UINT32_MAX) {
        return IMG_BAD_GEOMETRY;
    }
    if (dir == nullptr) {
        return IMG_NO_OUTPUT;
    }
    for (int step = 0; step < n; ++step) {
        const std::size_t count = static_cast<std::size_t>(w) * h;
        auto old = std::make_unique<unsigned char[]>(count);
        std::memcpy(old.get(), dir, count);
        const unsigned nw = 2 * w;
        auto at = [&](unsigned x, unsigned y) {
            x = x < w ? x : w - 1;
            y = y < h ? y : h - 1;
            return old[static_cast<std::size_t>(y) * w + x] % 180;
        };
        // Each source value keeps its even position; the odd positions take the circular mean
        // of the values on either side (the last row and column repeat their neighbour).
        for (unsigned y = 0; y < h; ++y) {
            for (unsigned x = 0; x < w; ++x) {
                const int c = at(x, y);
                const int right = ScMeanDir(c, at(x + 1, y));
                const int down = ScMeanDir(c, at(x, y + 1));
                const int diag = ScMeanDir(right, ScMeanDir(at(x, y + 1), at(x + 1, y + 1)));
                unsigned char* out = dir + static_cast<std::size_t>(2 * y) * nw + 2 * x;
                out[0] = static_cast<unsigned char>(c);
                out[1] = static_cast<unsigned char>(right);
                out[nw] = static_cast<unsigned char>(down);
                out[nw + 1] = static_cast<unsigned char>(diag);
            }
        }
        w = nw;
        h *= 2;
    }
    return 0;
}

int ResizeIncFrTo8(const unsigned char* src, unsigned& w, unsigned& h, int /*n*/,
                   unsigned char* dst)
{
    if (dst == nullptr) {
        return IMG_NO_OUTPUT;
    }
    const unsigned nw = 2 * w;
    std::memset(dst, 0, static_cast<std::size_t>(nw) * 2 * h);
    for (unsigned y = 1; y + 1 < h; ++y) {
        for (unsigned x = 1; x + 1 < w; ++x) {
            const unsigned char* p = src + static_cast<std::size_t>(y) * w + x;
            unsigned char* out = dst + static_cast<std::size_t>(2 * y) * nw + 2 * x;
            out[0] = p[0];
            out[1] = p[1];
            out[nw] = p[w];
            out[nw + 1] = p[w + 1];
        }
    }
    w = nw;
    h *= 2;
    return 0;
}
