// 8-bit binary toolkit: binarisations, binary NOT/AND, mask clean-up, flood fill, block-mask
// fills, pixel lists and line probes. Works in place or into caller outputs of the same
// geometry; temporary buffers are owned by containers. No pixel outside the image is read
// or written, whatever the mask holds or where a line's end points lie.

#include "imaging/graph8_bin.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

using imaging_detail::RectInside;

namespace {

std::size_t Area(unsigned w, unsigned h)
{
    return static_cast<std::size_t>(w) * h;
}

} // namespace

void Binarization8(unsigned char* img, unsigned w, unsigned h)
{
    const std::size_t n = Area(w, h);
    if (n == 0) {
        return;
    }
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sum += img[i];
    }
    BinarizationC8(img, w, h, static_cast<unsigned char>(sum / n));
}

void BinarizationC8(unsigned char* img, unsigned w, unsigned h, unsigned char t)
{
    const std::size_t n = Area(w, h);
    for (std::size_t i = 0; i < n; ++i) {
        img[i] = img[i] >= t ? 1 : 0;
    }
}

void BinarizationN8(unsigned char* img, unsigned w, unsigned h)
{
    const std::size_t n = Area(w, h);
    if (n == 0) {
        return;
    }
    const auto range = std::minmax_element(img, img + n);
    const int lo = *range.first;
    const int hi = *range.second;
    BinarizationC8(img, w, h, static_cast<unsigned char>(hi - ((hi - lo) >> 3)));
}

int BinarizationX8(unsigned char* img, unsigned w, unsigned h, unsigned x1, unsigned y1,
                   unsigned x2, unsigned y2)
{
    if (x1 > x2 || y1 > y2 || x2 >= w || y2 >= h) {
        return IMG_BAD_GEOMETRY;
    }
    const unsigned cols = x2 - x1 + 1;
    const unsigned rows = y2 - y1 + 1;
    // 1. Column means then row means, from the image before any pixel changes.
    std::vector<int> mean(static_cast<std::size_t>(cols) + rows, 0);
    int* colMean = mean.data();
    int* rowMean = mean.data() + cols;
    for (unsigned y = y1; y <= y2; ++y) {
        const unsigned char* row = img + static_cast<std::size_t>(y) * w;
        int sum = 0;
        for (unsigned x = x1; x <= x2; ++x) {
            colMean[x - x1] += row[x];
            sum += row[x];
        }
        rowMean[y - y1] = sum / static_cast<int>(cols);
    }
    for (unsigned c = 0; c < cols; ++c) {
        colMean[c] /= static_cast<int>(rows);
    }
    // 2. Threshold: 5/9 column mean and 4/9 row mean, up to truncation.
    for (unsigned y = y1; y <= y2; ++y) {
        unsigned char* row = img + static_cast<std::size_t>(y) * w;
        for (unsigned x = x1; x <= x2; ++x) {
            const int cm = colMean[x - x1];
            const int t = ((cm + rowMean[y - y1] + (cm >> 2)) * 4) / 9; // cm >= 0
            row[x] = row[x] >= t ? 1 : 0;
        }
    }
    return 0;
}

int BinarizationToL8(const unsigned char* src, unsigned w, unsigned h, int x1, int y1, int x2,
                     int y2, int s, unsigned char* dst)
{
    if (s < 0 || s > 30 || static_cast<int>(w) < (1 << s) || static_cast<int>(h) < (1 << s) ||
        !RectInside(w, h, x1, y1, x2, y2)) {
        return IMG_BAD_GEOMETRY;
    }
    if (dst == nullptr) {
        return IMG_NO_OUTPUT;
    }
    // The bands that no window reaches stay 1 (bright).
    for (int y = y1; y <= y2; ++y) {
        std::fill(dst + static_cast<std::size_t>(y) * w + x1,
                  dst + static_cast<std::size_t>(y) * w + x2 + 1, 1);
    }
    imaging_detail::ForEachWindowSum(src, w, x1, y1, x2, y2, s,
                                     [&](int x, int y, std::int64_t sum) {
                                         const std::size_t at = static_cast<std::size_t>(y) * w + x;
                                         dst[at] = src[at] > (sum >> (2 * s)) ? 1 : 0; // sum >= 0
                                     });
    return 0;
}

void BinarizationOtsu8(unsigned char* img, unsigned w, unsigned h)
{
    const std::size_t n = Area(w, h);
    if (n == 0) {
        return;
    }
    // 1. Histogram and the occupied range lo..hi.
    double hist[256] = {};
    for (std::size_t i = 0; i < n; ++i) {
        hist[img[i]] += 1;
    }
    int lo = 0;
    while (hist[lo] == 0) {
        ++lo;
    }
    int hi = 255;
    while (hist[hi] == 0) {
        --hi;
    }
    // 2. Between-class score of each split, levels counted from lo; the first maximum wins.
    const double total = static_cast<double>(n);
    double moment = 0;
    for (int i = 0; i <= hi - lo; ++i) {
        moment += i * hist[lo + i];
    }
    int best = 0;
    double bestScore = -1.0;
    double n0 = 0;
    double s0 = 0;
    for (int k = 0; k < hi - lo; ++k) {
        n0 += hist[lo + k];
        s0 += k * hist[lo + k];
        const double w0 = n0 / total;
        const double mu0 = s0 / n0;
        const double mu1 = (moment - s0) / (total - n0);
        const double score = (1 - w0) * w0 * (mu0 - mu1) * (mu0 - mu1);
        if (score > bestScore) {
            bestScore = score;
            best = k;
        }
    }
    // 3. The dark class is lo .. lo + best.
    const int t = lo + best;
    for (std::size_t i = 0; i < n; ++i) {
        img[i] = img[i] > t ? 1 : 0;
    }
}

void Binary_NOT8(unsigned char* img, unsigned w, unsigned h)
{
    Binary_NOT_To8(img, w, h, img);
}

void Binary_NOT_To8(const unsigned char* src, unsigned w, unsigned h, unsigned char* dst)
{
    const std::size_t n = Area(w, h);
    for (std::size_t i = 0; i < n; ++i) {
        dst[i] = static_cast<unsigned char>(src[i] ^ 1);
    }
}

void Binary_AND8(unsigned char* a, const unsigned char* b, unsigned w, unsigned h)
{
    const std::size_t n = Area(w, h);
    for (std::size_t i = 0; i < n; ++i) {
        a[i] = static_cast<unsigned char>(a[i] & b[i]);
    }
}

void GetBounds8(const unsigned char* img, unsigned w, unsigned h, unsigned char colour, int& left,
                int& top, int& right, int& bottom)
{
    left = top = right = bottom = -1;
    for (unsigned y = 0; y < h; ++y) {
        const unsigned char* row = img + static_cast<std::size_t>(y) * w;
        for (unsigned x = 0; x < w; ++x) {
            if (row[x] != colour) {
                continue;
            }
            if (top < 0) {
                top = static_cast<int>(y);
                left = right = static_cast<int>(x);
            }
            bottom = static_cast<int>(y);
            left = std::min(left, static_cast<int>(x));
            right = std::max(right, static_cast<int>(x));
        }
    }
}

void Border8(unsigned char* img, unsigned w, unsigned h, unsigned char colour)
{
    if (w == 0 || h == 0) {
        return;
    }
    std::fill(img, img + w, colour);
    std::fill(img + Area(w, h - 1), img + Area(w, h), colour);
    for (unsigned y = 1; y + 1 < h; ++y) {
        unsigned char* row = img + static_cast<std::size_t>(y) * w;
        row[0] = colour;
        row[w - 1] = colour;
    }
}

int Fill8(unsigned char* img, unsigned w, unsigned h, unsigned char* seed, unsigned char colour)
{
    const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(img);
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(seed);
    if (img == nullptr || seed == nullptr || at < base || at - base >= Area(w, h)) {
        return IMG_BAD_GEOMETRY; // the seed must point into the image
    }
    const unsigned char old = *seed;
    if (old == colour) {
        return 0; // the region already has the colour
    }
    // Scanline fill: each pending entry is one pixel; popping it fills its whole run of old
    // within the row and queues the first pixel of every run of old directly above and below.
    // A run is filled once, so a pixel is queued at most twice (from the row above and the
    // row below): the stack, which grows on demand, never exceeds 2 * w * h entries. Every
    // image edge is tested, so a region touching the edge stays inside the image.
    struct Pending {
        unsigned x;
        unsigned y;
    };
    std::vector<Pending> stack;
    stack.push_back(
        {static_cast<unsigned>((at - base) % w), static_cast<unsigned>((at - base) / w)});
    while (!stack.empty()) {
        const Pending p = stack.back();
        stack.pop_back();
        unsigned char* row = img + static_cast<std::size_t>(p.y) * w;
        if (row[p.x] != old) {
            continue;
        }
        unsigned left = p.x;
        while (left > 0 && row[left - 1] == old) {
            --left;
        }
        unsigned right = p.x;
        while (right + 1 < w && row[right + 1] == old) {
            ++right;
        }
        std::fill(row + left, row + right + 1, colour);
        for (int dy = -1; dy <= 1; dy += 2) {
            if ((dy < 0 && p.y == 0) || (dy > 0 && p.y + 1 >= h)) {
                continue;
            }
            const unsigned y = dy < 0 ? p.y - 1 : p.y + 1;
            const unsigned char* next = img + static_cast<std::size_t>(y) * w;
            for (unsigned x = left; x <= right; ++x) {
                if (next[x] == old && (x == left || next[x - 1] != old)) {
                    stack.push_back({x, y});
                }
            }
        }
    }
    return 0;
}

void ChangeColor8(unsigned char* img, unsigned w, unsigned h, unsigned char from, unsigned char to)
{
    std::replace(img, img + Area(w, h), from, to);
}

void ChangeColors8(unsigned char* img, unsigned w, unsigned h, unsigned char lo, unsigned char hi,
                   unsigned char to)
{
    const std::size_t n = Area(w, h);
    for (std::size_t i = 0; i < n; ++i) {
        if (img[i] >= lo && img[i] <= hi) {
            img[i] = to;
        }
    }
}

namespace {

// Marks every maximal run of colour no longer than maxLen among the n pixels `step` bytes
// apart starting at p.
void MkShortRuns(unsigned char* p, unsigned n, std::size_t step, unsigned char colour,
                 unsigned char mark, int maxLen)
{
    unsigned i = 0;
    while (i < n) {
        if (p[i * step] != colour) {
            ++i;
            continue;
        }
        unsigned end = i;
        while (end < n && p[end * step] == colour) {
            ++end;
        }
        if (static_cast<std::int64_t>(end - i) <= maxLen) {
            for (unsigned k = i; k < end; ++k) {
                p[k * step] = mark;
            }
        }
        i = end;
    }
}

} // namespace

void DeleteHLines8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                   unsigned char colour, unsigned char mark, int maxLen)
{
    if (!RectInside(w, h, x1, y1, x2, y2)) {
        return;
    }
    for (int y = y1; y <= y2; ++y) {
        MkShortRuns(img + static_cast<std::size_t>(y) * w + x1, static_cast<unsigned>(x2 - x1 + 1),
                    1, colour, mark, maxLen);
    }
}

void DeleteVLines8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                   unsigned char colour, unsigned char mark, int maxLen)
{
    if (!RectInside(w, h, x1, y1, x2, y2)) {
        return;
    }
    for (int x = x1; x <= x2; ++x) {
        MkShortRuns(img + static_cast<std::size_t>(y1) * w + x, static_cast<unsigned>(y2 - y1 + 1),
                    w, colour, mark, maxLen);
    }
}

void DeleteLines8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
                  unsigned char colour, unsigned char mark, int maxLen)
{
    DeleteHLines8(img, w, h, x1, y1, x2, y2, colour, mark, maxLen);
    DeleteVLines8(img, w, h, x1, y1, x2, y2, colour, mark, maxLen);
    DeleteHLines8(img, w, h, x1, y1, x2, y2, colour, mark, maxLen);
}

namespace {

constexpr unsigned char MARK = 2; // the clean-up mark the expansions recognise

// A line of n pixels `step` bytes apart; `across` is the step between neighbouring lines and
// `lines` their count (a row of the image: step 1, across w, lines h).
struct ExLine {
    unsigned n;
    std::size_t step;
    unsigned lines;
    std::size_t across;
};

// Cuts across marked gaps: each run of marks with colour on both sides along the line,
// ending before the line's end, is painted with fill together with everything across the
// lines up to the next colour pixel on either side.
void ExCutGaps(unsigned char* img, const ExLine& g, unsigned char colour, unsigned char fill)
{
    const std::int64_t lines = g.lines;
    for (std::int64_t l = 0; l < lines; ++l) {
        auto at = [&](std::int64_t line, std::int64_t i) -> unsigned char& {
            return img[static_cast<std::size_t>(line) * g.across +
                       static_cast<std::size_t>(i) * g.step];
        };
        std::int64_t i = 1;
        while (i < g.n) {
            if (at(l, i) != MARK) {
                ++i;
                continue;
            }
            std::int64_t end = i;
            while (end < g.n && at(l, end) == MARK) {
                ++end;
            }
            if (end < g.n && at(l, i - 1) == colour && at(l, end) == colour) {
                for (std::int64_t k = i; k < end; ++k) {
                    for (std::int64_t m = l; m >= 0 && at(m, k) != colour; --m) {
                        at(m, k) = fill;
                    }
                    for (std::int64_t m = l + 1; m < lines && at(m, k) != colour; ++m) {
                        at(m, k) = fill;
                    }
                }
            }
            i = end;
        }
    }
}

// Regrows colour into the marks next to it by up to len pixels from each side of a run.
void ExRegrow(unsigned char* img, const ExLine& g, unsigned char colour, int len)
{
    const std::int64_t n = g.n;
    for (unsigned l = 0; l < g.lines; ++l) {
        unsigned char* p = img + static_cast<std::size_t>(l) * g.across;
        auto at = [&](std::int64_t i) -> unsigned char& {
            return p[static_cast<std::size_t>(i) * g.step];
        };
        for (std::int64_t i = 1; i < n;) { // forwards, colour on the left
            if (at(i) != MARK || at(i - 1) != colour) {
                ++i;
                continue;
            }
            for (int k = 0; k < len && i < n && at(i) == MARK; ++k, ++i) {
                at(i) = colour;
            }
            while (i < n && at(i) == MARK) {
                ++i; // the rest of the run waits for the other side
            }
        }
        for (std::int64_t i = n - 2; i >= 0;) { // backwards, colour on the right
            if (at(i) != MARK || at(i + 1) != colour) {
                --i;
                continue;
            }
            for (int k = 0; k < len && i >= 0 && at(i) == MARK; ++k, --i) {
                at(i) = colour;
            }
            while (i >= 0 && at(i) == MARK) {
                --i;
            }
        }
    }
}

ExLine Rows(unsigned w, unsigned h)
{
    return {w, 1, h, w};
}

ExLine Columns(unsigned w, unsigned h)
{
    return {h, w, w, 1};
}

} // namespace

void CheckExpandHLines8(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                        unsigned char fill)
{
    ExCutGaps(img, Rows(w, h), colour, fill);
}

void CheckExpandVLines8(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                        unsigned char fill)
{
    ExCutGaps(img, Columns(w, h), colour, fill);
}

void ExpandHLines8(unsigned char* img, unsigned w, unsigned h, unsigned char colour, int len)
{
    ExRegrow(img, Rows(w, h), colour, len);
}

void ExpandVLines8(unsigned char* img, unsigned w, unsigned h, unsigned char colour, int len)
{
    ExRegrow(img, Columns(w, h), colour, len);
}

void ExpandLines8(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
                  unsigned char fill, int len)
{
    CheckExpandHLines8(img, w, h, colour, fill);
    CheckExpandVLines8(img, w, h, colour, fill);
    ExpandHLines8(img, w, h, colour, len);
    ExpandVLines8(img, w, h, colour, len);
    ChangeColor8(img, w, h, MARK, fill);
}

namespace {

// Edge marks of FillCavities8: a run of 0s at either end of the line, at most margin long,
// becomes a mark.
void CvMarkEnds(unsigned char* img, const ExLine& g, int margin)
{
    const std::int64_t n = g.n;
    for (unsigned l = 0; l < g.lines; ++l) {
        unsigned char* p = img + static_cast<std::size_t>(l) * g.across;
        auto at = [&](std::int64_t i) -> unsigned char& {
            return p[static_cast<std::size_t>(i) * g.step];
        };
        std::int64_t run = 0;
        while (run < n && at(run) == 0) {
            ++run;
        }
        if (run >= 1 && run <= margin) {
            for (std::int64_t i = 0; i < run; ++i) {
                at(i) = MARK;
            }
        }
        run = 0;
        while (run < n && at(n - 1 - run) == 0) {
            ++run;
        }
        if (run >= 1 && run <= margin) {
            for (std::int64_t i = n - run; i < n; ++i) {
                at(i) = MARK;
            }
        }
    }
}

// Fills runs of 1s bounded by 0 on both sides along the line, shorter than maxLen, whose
// every pixel has 0 on the neighbouring line already passed. The lines are taken in order
// away from that neighbour (dir +1: line 1 onwards looking back at line l-1; dir -1: the
// second-last line backwards looking at line l+1).
void CvFillRuns(unsigned char* img, const ExLine& g, int dir, std::int64_t maxLen)
{
    const std::int64_t n = g.n;
    const std::int64_t lines = g.lines;
    for (std::int64_t l = dir > 0 ? 1 : lines - 2; l >= 0 && l < lines; l += dir) {
        unsigned char* p = img + static_cast<std::size_t>(l) * g.across;
        const unsigned char* q = img + static_cast<std::size_t>(l - dir) * g.across;
        auto at = [&](std::int64_t i) -> unsigned char& {
            return p[static_cast<std::size_t>(i) * g.step];
        };
        auto near = [&](std::int64_t i) { return q[static_cast<std::size_t>(i) * g.step]; };
        std::int64_t i = 1;
        while (i < n) {
            if (at(i) != 1 || at(i - 1) != 0) {
                ++i;
                continue;
            }
            std::int64_t end = i;
            bool covered = true;
            while (end < n && at(end) == 1) {
                covered = covered && near(end) == 0;
                ++end;
            }
            if (end < n && at(end) == 0 && covered && end - i < maxLen) {
                for (std::int64_t k = i; k < end; ++k) {
                    at(k) = 0;
                }
            }
            i = end;
        }
    }
}

} // namespace

void FillCavities8(unsigned char* img, unsigned w, unsigned h, int margin, int maxLen)
{
    const std::int64_t lenH = maxLen >= 1 ? maxLen : static_cast<std::int64_t>(w);
    const std::int64_t lenV = maxLen >= 1 ? maxLen : static_cast<std::int64_t>(h);
    CvMarkEnds(img, Rows(w, h), margin);      // 1
    CvMarkEnds(img, Columns(w, h), margin);   // 2
    CvFillRuns(img, Rows(w, h), +1, lenH);    // 3. rows, 0 above
    CvFillRuns(img, Rows(w, h), -1, lenH);    // 4. rows, 0 below
    CvFillRuns(img, Columns(w, h), +1, lenV); // 5. columns, 0 to the left
    CvFillRuns(img, Columns(w, h), -1, lenV); // 6. columns, 0 to the right
    ChangeColor8(img, w, h, MARK, 0);         // 7
}

void DeleteSpots8(unsigned char* img, unsigned w, unsigned h, unsigned char other,
                  unsigned char colour, int size)
{
    const int half = size >> 1;
    if (half < 1 || w == 0 || h == 0) {
        return; // no cross to test (and no grid step)
    }
    constexpr unsigned char SPOT_FRAME = 3;
    // 1. A temporary frame that no region of colour crosses.
    Border8(img, w, h, SPOT_FRAME);
    // 2. Grid points whose whole cross lies in colour seed a fill of their region with the mark.
    const std::int64_t wl = w;
    const std::int64_t hl = h;
    for (std::int64_t y = half; y < hl - half; y += half) {
        for (std::int64_t x = half; x < wl - half; x += half) {
            bool cross = true;
            for (std::int64_t k = -half; k < half && cross; ++k) {
                cross = img[static_cast<std::size_t>(y * wl + x + k)] == colour &&
                        img[static_cast<std::size_t>((y + k) * wl + x)] == colour;
            }
            if (cross) {
                Fill8(img, w, h, img + static_cast<std::size_t>(y * wl + x), MARK);
            }
        }
    }
    // 3. Marked regions keep colour, everything else becomes other; the frame is colour.
    const std::size_t n = Area(w, h);
    for (std::size_t i = 0; i < n; ++i) {
        img[i] = img[i] == MARK ? colour : other;
    }
    Border8(img, w, h, colour);
}

void DeleteSpots4x4_8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2)
{
    if (!RectInside(w, h, x1, y1, x2, y2)) {
        return;
    }
    auto px = [&](int x, int y) -> unsigned char& {
        return img[static_cast<std::size_t>(y) * w + x];
    };
    for (int r = y1 + 1; r <= y2 - 4; ++r) {
        for (int c = x1; c <= x2 - 5; ++c) {
            const unsigned char p = px(c, r);
            // Frame of the hole of side n: row r-1 above, column c left, column c+n+1
            // right, row r+n below, corners excluded.
            auto frameIs = [&](int n) {
                for (int k = 0; k < n; ++k) {
                    if (px(c + 1 + k, r - 1) != p || px(c, r + k) != p ||
                        px(c + n + 1, r + k) != p || px(c + 1 + k, r + n) != p) {
                        return false;
                    }
                }
                return true;
            };
            for (int n = 1; n <= 4; ++n) {
                if (!frameIs(n) || (n == 1 && px(c + 1, r) == p)) {
                    continue;
                }
                for (int j = 0; j < n; ++j) {
                    for (int k = 0; k < n; ++k) {
                        px(c + 1 + k, r + j) = p;
                    }
                }
                break;
            }
        }
    }
}

namespace {

// Clears the runs of 1s in img bounded by 0 on both sides along each line whose pixels are
// all 0 in ref.
void SpClearRuns(unsigned char* img, const unsigned char* ref, const ExLine& g)
{
    const std::int64_t n = g.n;
    for (unsigned l = 0; l < g.lines; ++l) {
        const std::size_t base = static_cast<std::size_t>(l) * g.across;
        auto idx = [&](std::int64_t i) { return base + static_cast<std::size_t>(i) * g.step; };
        std::int64_t i = 1;
        while (i < n) {
            if (img[idx(i)] != 1 || img[idx(i - 1)] != 0) {
                ++i;
                continue;
            }
            std::int64_t end = i;
            bool free = true;
            while (end < n && img[idx(end)] == 1) {
                free = free && ref[idx(end)] == 0;
                ++end;
            }
            if (end < n && img[idx(end)] == 0 && free) {
                for (std::int64_t k = i; k < end; ++k) {
                    img[idx(k)] = 0;
                }
            }
            i = end;
        }
    }
}

} // namespace

void FillSpaces8(unsigned char* img, const unsigned char* ref, unsigned w, unsigned h)
{
    SpClearRuns(img, ref, Rows(w, h));
    SpClearRuns(img, ref, Columns(w, h));
}

void ExpandTo8(const unsigned char* src, unsigned w, unsigned h, unsigned char* dst)
{
    if (dst == nullptr) {
        return;
    }
    std::copy(src, src + Area(w, h), dst);
    for (unsigned y = 0; y + 1 < h; ++y) {
        const unsigned char* s = src + static_cast<std::size_t>(y) * w;
        unsigned char* d = dst + static_cast<std::size_t>(y) * w;
        for (unsigned x = 0; x + 1 < w; ++x) {
            if (s[x] == 0 || s[x + 1] == 0 || s[x + w] == 0 || s[x + w + 1] == 0) {
                d[x] = d[x + 1] = d[x + w] = d[x + w + 1] = 0;
            }
        }
    }
}

namespace {

// Paints the block (bx, by) of side 2^s.
void RoPaintBlock(unsigned char* img, unsigned w, int s, unsigned bx, unsigned by,
                  unsigned char colour)
{
    const unsigned side = 1u << s;
    for (unsigned y = 0; y < side; ++y) {
        unsigned char* row = img + (static_cast<std::size_t>(by) * side + y) * w + bx * side;
        std::fill(row, row + side, colour);
    }
}

// Paints the columns right of the last full block and the rows below the last block row.
void RoPaintRemainder(unsigned char* img, unsigned w, unsigned h, int s, unsigned char colour)
{
    const unsigned usedW = (w >> s) << s;
    const unsigned usedH = (h >> s) << s;
    for (unsigned y = 0; y < h; ++y) {
        unsigned char* row = img + static_cast<std::size_t>(y) * w;
        std::fill(row + (y < usedH ? usedW : 0), row + w, colour);
    }
}

bool RoShiftValid(int s)
{
    return s >= 0 && s <= 30;
}

} // namespace

int FillAroundRoI8(unsigned char* img, unsigned w, unsigned h, unsigned char colour, int s,
                   const unsigned char* blockMask)
{
    if (!RoShiftValid(s)) {
        return IMG_BAD_GEOMETRY;
    }
    const unsigned bw = w >> s;
    const unsigned bh = h >> s;
    std::vector<unsigned char> grown(Area(bw, bh));
    ExpandTo8(blockMask, bw, bh, grown.data());
    for (unsigned by = 0; by < bh; ++by) {
        for (unsigned bx = 0; bx < bw; ++bx) {
            const std::size_t b = static_cast<std::size_t>(by) * bw + bx;
            if (blockMask[b] != 0 && grown[b] == 0) {
                RoPaintBlock(img, w, s, bx, by, colour);
            }
        }
    }
    return 0;
}

void FillIfNotInRoI8(unsigned char* img, unsigned w, unsigned h, unsigned char colour, int s,
                     const unsigned char* blockMask)
{
    if (!RoShiftValid(s)) {
        return;
    }
    const unsigned bw = w >> s;
    const unsigned bh = h >> s;
    for (unsigned by = 0; by < bh; ++by) {
        for (unsigned bx = 0; bx < bw; ++bx) {
            if (blockMask[static_cast<std::size_t>(by) * bw + bx] != 0) {
                RoPaintBlock(img, w, s, bx, by, colour);
            }
        }
    }
    RoPaintRemainder(img, w, h, s, colour);
}

void GetPixelsAndFillOther(unsigned char* img, unsigned w, unsigned h, int s,
                           const unsigned char* blockMask, unsigned char**& cursor)
{
    if (!RoShiftValid(s)) {
        return;
    }
    Border8(img, w, h, 1);
    const unsigned side = 1u << s;
    const unsigned bw = w >> s;
    const unsigned bh = h >> s;
    for (unsigned by = 0; by < bh; ++by) {
        for (unsigned bx = 0; bx < bw; ++bx) {
            if (blockMask[static_cast<std::size_t>(by) * bw + bx] != 0) {
                RoPaintBlock(img, w, s, bx, by, 1);
                continue;
            }
            for (unsigned y = 0; y < side; ++y) {
                unsigned char* row =
                    img + (static_cast<std::size_t>(by) * side + y) * w + bx * side;
                for (unsigned x = 0; x < side; ++x) {
                    if (row[x] == 0) {
                        *cursor++ = row + x;
                    }
                }
            }
        }
    }
    RoPaintRemainder(img, w, h, s, 1);
}

void GetPixels(unsigned char* img, unsigned w, unsigned h, unsigned char colour,
               unsigned char**& cursor)
{
    const std::size_t n = Area(w, h);
    for (std::size_t i = 0; i < n; ++i) {
        if (img[i] == colour) {
            *cursor++ = img + i;
        }
    }
}

namespace {

// Walks the digital line from (x1, y1) to (x2, y2), max(dx, dy) + 1 pixels, calling
// visit(x, y) for each; the minor step is taken when the error term is strictly positive.
template <class Visit> void LnWalk(int x1, int y1, int x2, int y2, Visit visit)
{
    const std::int64_t dx = std::abs(static_cast<std::int64_t>(x2) - x1);
    const std::int64_t dy = std::abs(static_cast<std::int64_t>(y2) - y1);
    const int sx = x1 > x2 ? -1 : 1;
    const int sy = y1 > y2 ? -1 : 1;
    std::int64_t x = x1;
    std::int64_t y = y1;
    if (dx >= dy) {
        std::int64_t e = 2 * dy - dx;
        for (std::int64_t k = 0; k <= dx; ++k, x += sx) {
            visit(x, y);
            if (e >= 1) {
                y += sy;
                e += 2 * (dy - dx);
            } else {
                e += 2 * dy;
            }
        }
    } else {
        std::int64_t e = 2 * dx - dy;
        for (std::int64_t k = 0; k <= dy; ++k, y += sy) {
            visit(x, y);
            if (e >= 1) {
                x += sx;
                e += 2 * (dx - dy);
            } else {
                e += 2 * dx;
            }
        }
    }
}

// The pixel at (x, y), or null when it lies outside the image.
unsigned char* LnPixel(unsigned char* img, unsigned w, unsigned h, std::int64_t x, std::int64_t y)
{
    if (x < 0 || y < 0 || x >= w || y >= h) {
        return nullptr;
    }
    return img + static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x);
}

// Number of line pixels inside the image that equal colour (match) or differ from it.
int LnCount(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
            unsigned char colour, bool match)
{
    if (x1 == x2 && y1 == y2) {
        return 0;
    }
    int count = 0;
    LnWalk(x1, y1, x2, y2, [&](std::int64_t x, std::int64_t y) {
        const unsigned char* p = LnPixel(img, w, h, x, y);
        if (p != nullptr && (*p == colour) == match) {
            ++count;
        }
    });
    return count;
}

} // namespace

int IsLine8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
            unsigned char colour)
{
    return LnCount(img, w, h, x1, y1, x2, y2, colour, true);
}

int LineBr8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
            unsigned char colour)
{
    return LnCount(img, w, h, x1, y1, x2, y2, colour, true);
}

int LineN8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
           unsigned char colour)
{
    return LnCount(img, w, h, x1, y1, x2, y2, colour, false);
}

int LineCD8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
            unsigned char colour)
{
    if (x1 == x2 && y1 == y2) {
        return -1;
    }
    int sum = 0;
    LnWalk(x1, y1, x2, y2, [&](std::int64_t x, std::int64_t y) {
        if (const unsigned char* p = LnPixel(img, w, h, x, y)) {
            sum += std::abs(colour - *p);
        }
    });
    return sum;
}

void Line8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
           unsigned char colour)
{
    if (x1 == x2 && y1 == y2) {
        return;
    }
    LnWalk(x1, y1, x2, y2, [&](std::int64_t x, std::int64_t y) {
        if (unsigned char* p = LnPixel(img, w, h, x, y)) {
            *p = colour;
        }
    });
}

void LineV8(unsigned char* img, unsigned w, unsigned h, int x, int y1, int y2, unsigned char colour)
{
    for (std::int64_t y = std::max(y1, 0); y <= y2; ++y) {
        unsigned char* p = LnPixel(img, w, h, x, y);
        if (p == nullptr) {
            return; // past the last row, or a column outside the image
        }
        *p = colour;
    }
}

void LineTh8(unsigned char* img, unsigned w, unsigned h, int x1, int y1, int x2, int y2,
             unsigned char colour, int thickness)
{
    if (x1 == x2 && y1 == y2) {
        return;
    }
    const std::int64_t reach = thickness > 0 ? thickness >> 1 : 0; // runs of 2 * reach + 1
    const bool xMajor = std::abs(static_cast<std::int64_t>(x2) - x1) >=
                        std::abs(static_cast<std::int64_t>(y2) - y1);
    LnWalk(x1, y1, x2, y2, [&](std::int64_t x, std::int64_t y) {
        for (std::int64_t k = -reach; k <= reach; ++k) {
            // Across the major direction; pixels outside the image are not painted.
            if (unsigned char* p = LnPixel(img, w, h, xMajor ? x : x + k, xMajor ? y + k : y)) {
                *p = colour;
            }
        }
    });
}
