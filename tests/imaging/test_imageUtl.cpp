// Image utilities on hand-made images: flips, turns, inversion, pixel packing, cut and row
// widening, histogram, contrast stretch, mean grey, and the finger locator.

#include "imaging/imageUtl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Seq(unsigned n, int start = 0)
{
    Bytes v(n);
    for (unsigned i = 0; i < n; ++i) {
        v[i] = static_cast<unsigned char>(start + i);
    }
    return v;
}

TEST(ImageUtl, FlipsInvertAndPacking)
{
    const Bytes src = Seq(3 * 5); // stride 5 (odd), 3 rows
    Bytes dst(15, 0);
    flipH(src.data(), dst.data(), 5, 3);
    EXPECT_EQ(dst, (Bytes{10, 11, 12, 13, 14, 5, 6, 7, 8, 9, 0, 1, 2, 3, 4}));
    Bytes one(5, 0);
    flipH(src.data(), one.data(), 5, 1);
    EXPECT_EQ(one, Seq(5));
    Bytes none(5, 9);
    flipH(src.data(), none.data(), 5, 0);
    EXPECT_EQ(none[0], 9);

    flipV(src.data(), dst.data(), 5, 3);
    EXPECT_EQ(dst[0], 4);
    EXPECT_EQ(dst[14], 10);

    Bytes img = {0, 1, 254, 255};
    invert(img.data(), 2, 2);
    EXPECT_EQ(img, (Bytes{255, 254, 1, 0}));
    invert(img.data(), 0, 5);
    EXPECT_EQ(img[0], 255);

    Bytes wide = Seq(16);
    trans32To8Bpp(wide.data(), 2, 2);
    EXPECT_EQ(Bytes(wide.begin(), wide.begin() + 4), (Bytes{0, 4, 8, 12}));
}

TEST(ImageUtl, QuarterTurnsComeBack)
{
    const Bytes src = Seq(2 * 3); // 3 wide, 2 high: 0 1 2 / 3 4 5
    Bytes cw(6, 0);
    unsigned w = 3;
    unsigned h = 2;
    rotate90(src.data(), cw.data(), w, h, 1);
    EXPECT_EQ(w, 2u);
    EXPECT_EQ(h, 3u);
    EXPECT_EQ(cw, (Bytes{3, 0, 4, 1, 5, 2}));
    Bytes back(6, 0);
    rotate90(cw.data(), back.data(), w, h, 0);
    EXPECT_EQ(w, 3u);
    EXPECT_EQ(h, 2u);
    EXPECT_EQ(back, src);
}

TEST(ImageUtl, CutChecksTheFarEdgeOnly)
{
    const Bytes src = Seq(6 * 4); // stride 6, 4 rows
    struct Case {
        unsigned x, y, w, h, result;
    };
    for (const Case& c :
         {Case{2, 1, 4, 3, 1}, Case{3, 1, 4, 3, 0}, Case{2, 2, 4, 3, 0}, Case{0, 0, 6, 4, 1},
          Case{1, 1, 2, 0, 1}, Case{0xFFFFFFF0u, 0, 0x20, 1, 0}}) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.w << "x" << c.h);
        Bytes dst(64, 0xEE);
        EXPECT_EQ(cut(src.data(), 6, 4, c.x, c.y, c.w, c.h, dst.data()), c.result);
        if (c.result == 0 || c.h == 0) {
            EXPECT_EQ(dst[0], 0xEE);
        } else {
            EXPECT_EQ(dst[0], src[c.y * 6 + c.x]);
            EXPECT_EQ(dst[c.w * c.h - 1], src[(c.y + c.h - 1) * 6 + c.x + c.w - 1]);
        }
    }
}

TEST(ImageUtl, RowWideningAndTrimming)
{
    const Bytes src = Seq(5 * 2); // width 5
    Bytes dst(16, 0);
    EXPECT_EQ(arrangeImage(5, 2, src.data(), dst.data()), 8u);
    EXPECT_EQ(dst, (Bytes{0, 1, 2, 3, 4, 255, 255, 255, 5, 6, 7, 8, 9, 255, 255, 255}));
    Bytes four = Seq(8);
    Bytes same(8, 0);
    EXPECT_EQ(arrangeImage(4, 2, four.data(), same.data()), 4u);
    EXPECT_EQ(same, four);

    Bytes img(16, 0);
    std::copy(src.begin(), src.end(), img.begin());
    EXPECT_EQ(arrangeImage2(5, 2, img.data()), 8u);
    EXPECT_EQ(img, (Bytes{0, 1, 2, 3, 4, 0, 0, 0, 5, 6, 7, 8, 9, 0, 0, 0}));

    Bytes cutRows(8, 0);
    EXPECT_EQ(arrangeImageCut(5, 2, src.data(), cutRows.data()), 4u);
    EXPECT_EQ(cutRows, (Bytes{0, 1, 2, 3, 5, 6, 7, 8}));
    EXPECT_EQ(arrangeImageCut(3, 1, src.data(), cutRows.data()), 0u);
}

TEST(ImageUtl, HistogramMeanAndArea)
{
    const Bytes img = {1, 1, 2, 9, 3, 3, 3, 9}; // stride 4, 2 rows
    std::uint32_t hist[256];
    calcHistog(img.data(), 4, 2, 0, 0, 3, 9, hist);
    EXPECT_EQ(hist[1], 2u);
    EXPECT_EQ(hist[3], 3u);
    EXPECT_EQ(hist[9], 0u);

    EXPECT_EQ(getAverangeColor(img.data(), 4, 2, 0, 0, 4, 2), (1 + 1 + 2 + 9 + 3 + 3 + 3 + 9) / 8);
    EXPECT_EQ(getAverangeColor(img.data(), 4, 2, 3, 0, 1, 2), 9);
    EXPECT_EQ(getAverangeColor(img.data(), 4, 2, 3, 0, 2, 2), 0);
    EXPECT_EQ(getAverangeColor(img.data(), 4, 2, 1, 1, 0, 1), 0); // empty: no mean

    unsigned x1 = 3, x2 = 10, y1 = 7, y2 = 8;
    inflateArea(x1, x2, y1, y2, 5, 5);
    EXPECT_EQ(x1, 0u);
    EXPECT_EQ(x2, 15u);
    EXPECT_EQ(y1, 2u);
    EXPECT_EQ(y2, 13u);
}

TEST(Normalize, StretchesTheSpreadAndRefusesPaper)
{
    // Levels 10..200, each on 10 pixels: 1 % of 1910 is 19, so the low cut is level 12 (the
    // running sum passes 19 at level 11) and the high cut level 198.
    Bytes src;
    for (int v = 10; v <= 200; ++v) {
        for (int k = 0; k < 10; ++k) {
            src.push_back(static_cast<unsigned char>(v));
        }
    }
    const unsigned w = 10;
    const unsigned h = static_cast<unsigned>(src.size()) / w;
    Bytes dst(src.size(), 0);
    ASSERT_EQ(normalize(src.data(), w, h, dst.data()), 1);
    const float scale = 255.0f / (198 - 12);
    for (size_t i = 0; i < src.size(); ++i) {
        const int p = src[i];
        const int expected =
            p < 12 ? 0 : (p > 198 ? 255 : static_cast<int>(static_cast<float>(p - 12) * scale));
        ASSERT_EQ(dst[i], expected) << p;
    }
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[src.size() - 1], 255);

    Bytes paper(100, 245);
    paper[3] = 250;
    Bytes out(100, 0);
    EXPECT_EQ(normalize(paper.data(), 10, 10, out.data()), 0);
    EXPECT_EQ(out, paper); // the plain copy stays
    Bytes flat(100, 77);
    EXPECT_EQ(normalize(flat.data(), 10, 10, out.data()), 0);
    EXPECT_EQ(normalize(flat.data(), 0, 10, out.data()), 0);
    EXPECT_EQ(normalize(nullptr, 10, 10, out.data()), 0);
    const unsigned char one = 0;
    unsigned char oneOut = 9;
    EXPECT_EQ(normalize(&one, 1, 1, &oneOut), 0);
}

struct Locator {
    int** map = nullptr;
    int* colTop = nullptr;
    int* colBottom = nullptr;
    int* rowLeft = nullptr;
    int* rowRight = nullptr;
    int* rowSkip = nullptr;
    int* colSkip = nullptr;
    unsigned w, h;
    Locator(unsigned width, unsigned height) : w(width), h(height)
    {
        EXPECT_EQ(
            findFingerAlloc(map, colTop, colBottom, rowLeft, rowRight, rowSkip, colSkip, w, h), 1);
    }
    ~Locator()
    {
        findFingerFree(map, colTop, colBottom, rowLeft, rowRight, rowSkip, colSkip, w, h);
    }
    int Find(const Bytes& img, unsigned& x1, unsigned& x2, unsigned& y1, unsigned& y2)
    {
        return findFinger(img.data(), w, h, x1, x2, y1, y2, rowLeft, rowRight, colTop, colBottom,
                          map, rowSkip, colSkip);
    }
};

TEST(FindFinger, FlatImagesGiveAnEmptyBoxAndTexturedPatchIsFound)
{
    for (unsigned char grey : {0, 128, 255}) {
        Locator loc(160, 160);
        Bytes img(160 * 160, grey);
        unsigned x1 = 9, x2 = 9, y1 = 9, y2 = 9;
        EXPECT_EQ(loc.Find(img, x1, x2, y1, y2), 1);
        EXPECT_EQ(x1 + x2 + y1 + y2, 0u);
    }
    // Stripes inside (48..111) x (40..119) of a 160 x 160 grey page.
    const unsigned w = 160;
    const unsigned h = 160;
    Bytes img(w * h, 128);
    for (unsigned y = 40; y < 120; ++y) {
        for (unsigned x = 48; x < 112; ++x) {
            img[y * w + x] = ((x + y) / 4) % 2 == 0 ? 20 : 230;
        }
    }
    Locator loc(w, h);
    unsigned x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    ASSERT_EQ(loc.Find(img, x1, x2, y1, y2), 1);
    EXPECT_LE(x1, 48u);
    EXPECT_GE(x2, 100u);
    EXPECT_LE(y1, 40u);
    EXPECT_GE(y2, 108u);
    EXPECT_LE(x2, w);
    EXPECT_LE(y2, h);
    EXPECT_EQ((x2 - x1) % 4, 0u);
    EXPECT_EQ((y2 - y1) % 4, 0u);
    EXPECT_LT(x2 - x1, w); // the grey border is left out
}

TEST(FindFinger, SmallImagesAndMissingBuffers)
{
    for (unsigned side : {1u, 3u, 4u, 9u, 13u}) {
        SCOPED_TRACE(side);
        Locator loc(side, side);
        Bytes img(((side + 3) & ~3u) * side, 0);
        for (size_t i = 0; i < img.size(); i += 2) {
            img[i] = 255;
        }
        unsigned x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        EXPECT_EQ(loc.Find(img, x1, x2, y1, y2), 1);
        EXPECT_LE(x2, side);
        EXPECT_LE(y2, side);
    }
    unsigned x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    Bytes img(64, 0);
    EXPECT_EQ(findFinger(img.data(), 8, 8, x1, x2, y1, y2, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(findFinger(nullptr, 8, 8, x1, x2, y1, y2, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr),
              0);
}

TEST(ClearFakeBorder, FlagsEntriesSurroundedByFlaggedNeighbours)
{
    // f: entries 0..4; entry 2 is unflagged and its neighbours 1..3 point at flagged entries.
    int f[5] = {1, 1, 0, 1, 1};
    const int c[5] = {0, 0, 1, 3, 4};
    const int d[5] = {99, -1, 3, 4, 0}; // out-of-range indexes read as unflagged
    int e[2] = {0, 0};
    const int a[2] = {0, 0};
    const int b[2] = {0, 0};
    clearFakeBorder(a, b, c, d, e, f, 5, 2);
    EXPECT_EQ(f[2], 1);
    EXPECT_EQ(e[0], 0); // fewer than three entries: nothing to do
}

} // namespace
