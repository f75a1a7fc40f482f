// Histograms and transfer curves of CRank: curves through control points, quantiles, stretch
// and equalisation curves, box means, runs, and the angle-curve layout that both kinds of
// reader share.

#include "extraction/engine/CRank.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

using wizard73::CRank;

std::unique_ptr<CRank> Fresh()
{
    auto r = std::make_unique<CRank>();
    *r = CRank{};
    return r;
}

TEST(CRank, CurvesThroughControlPoints)
{
    auto r = Fresh();
    const int identity[] = {2, 0, 0, 255, 255};
    r->RanMod(identity);
    for (int g = 0; g < 256; ++g) {
        ASSERT_EQ(r->Ran[g], g);
    }
    const int bend[] = {3, 0, 0, 128, 200, 255, 255};
    r->RanMod(bend);
    EXPECT_EQ(r->Ran[0], 0);
    EXPECT_EQ(r->Ran[128], 200);
    EXPECT_EQ(r->Ran[255], 255);
    // t = 64: terms 0 + 200*64*(-191)/(128*(-127)) + 255*64*(-64)/(255*127), each truncated:
    // 150 - 32.
    EXPECT_EQ(r->Ran[64], 118);
    const int none[] = {0};
    r->LorGau(none);
    EXPECT_EQ(r->Lor[0], 0);
    EXPECT_EQ(r->Lor[255], 255);
    const int steep[] = {2, 0, 0, 10, 100};
    r->RanGau(steep); // 10 t, clamped, mirrored
    EXPECT_EQ(r->Ran[5], 50);
    EXPECT_EQ(r->Ran[250], 205);
    EXPECT_EQ(r->Ran[100], 255);
    EXPECT_EQ(r->Ran[155], 0);
    const int twin[] = {2, 5, 0, 5, 9}; // two points on one x: no division by zero
    r->RanMod(twin);
    EXPECT_EQ(r->Ran[3], 0);
}

// The angle curve: Cor[90 + a] is the curve at |a| with the sign of a. Readers of both kinds
// index it as Cor[90 + difference]; one hand-computed value each.
TEST(CRank, CorGauLayoutServesSignedDifferences)
{
    auto r = Fresh();
    const int twist[] = {4, 0, 0, 20, 13, 45, 45, 90, 8};
    r->CorGau(twist);
    EXPECT_EQ(r->Cor[90], 0);
    EXPECT_EQ(r->Cor[90 + 20], 13);
    EXPECT_EQ(r->Cor[90 - 20], -13);
    EXPECT_EQ(r->Cor[90 + 45], 45);
    EXPECT_EQ(r->Cor[180], 8);
    EXPECT_EQ(r->Cor[0], -8);
    const int line[] = {3, 0, 0, 42, 42, 90, 90};
    r->CorGau(line);
    for (int a = -90; a <= 90; ++a) { // each term truncated: a, or one below in magnitude
        ASSERT_LE(std::abs(r->Cor[90 + a] - a), 1) << a;
        ASSERT_EQ(r->Cor[90 + a], -r->Cor[90 - a]) << a;
    }
    EXPECT_EQ(r->Cor[90 + 42], 42);
    EXPECT_EQ(r->Cor[90 + 89], 88); // 42*89*(-1)/(42*(-48)) = 1, 90*89*47/(90*48) = 87
    // Hand-computed at a = 10 through (0,0), (10,10), (45,1), (90,0): the middle term alone,
    // 10 * (10 - 0)(10 - 45)(10 - 90) / ((10 - 0)(10 - 45)(10 - 90)) = 10.
    const int ray[] = {4, 0, 0, 10, 10, 45, 1, 90, 0};
    r->CorGau(ray);
    EXPECT_EQ(r->Cor[100], 10);
    EXPECT_EQ(r->Cor[80], -10);
    r->CorSmo(1);
    EXPECT_EQ(r->Cor[90], 0); // odd curve stays odd under a symmetric mean
}

TEST(CRank, BeginAndEndLevels)
{
    auto r = Fresh();
    r->RanIni(0);
    r->Ran[100] = 5000; // every pixel at 100
    r->RanBeg(6);
    r->RanEnd(9);
    EXPECT_EQ(r->beg, 100);
    EXPECT_EQ(r->end, 100);
    r->RanIni(10); // flat: 2560 pixels, 6 per mille = 15, 9 per mille = 23
    r->RanBeg(6);
    r->RanEnd(9);
    EXPECT_EQ(r->beg, 1);   // 10 + 10 >= 15
    EXPECT_EQ(r->end, 253); // 10 + 10 + 10 >= 23
    r->RanIni(0);
    r->RanBeg(6);
    r->RanEnd(9);
    EXPECT_EQ(r->beg, 0);
    EXPECT_EQ(r->end, 255);
}

TEST(CRank, StretchAndEqualisation)
{
    auto r = Fresh();
    r->beg = 20;
    r->end = 220;
    r->RanRes();
    EXPECT_EQ(r->Ran[20], 0);
    EXPECT_EQ(r->Ran[120], 127);
    EXPECT_EQ(r->Ran[219], 253);
    EXPECT_EQ(r->Ran[220], 255);
    r->RanIni(0);
    r->Ran[77] = 900;
    r->RanUni();
    EXPECT_EQ(r->Ran[76], 0);
    EXPECT_EQ(r->Ran[77], 255);
    EXPECT_EQ(r->Ran[255], 255);
    r->RanIni(0);
    r->Ran[0] = 1;
    r->Ran[255] = 2; // c = 1 at 0: (255 + 1) / 3 = 85
    r->RanUni();
    EXPECT_EQ(r->Ran[0], 85);
    r->RanIni(0);
    r->RanUni(); // stays zero
    EXPECT_EQ(r->Ran[128], 0);
}

TEST(CRank, UpperQuantile)
{
    auto r = Fresh();
    r->RanIni(1);                 // 256 pixels
    EXPECT_EQ(r->RanSha(4), 246); // 4 * 256 / 100 = 10: levels 246..255
    EXPECT_EQ(r->RanSha(0), 255);
    EXPECT_EQ(r->RanSha(100), 0);
    const int t[3] = {5, 5, 5};
    EXPECT_EQ(CRank::AnySha(t, 0, 50), 0);
    EXPECT_EQ(CRank::AnySha(t, 2, 50), 1);
}

TEST(CRank, BoxMeansAndDifferences)
{
    const int in[3] = {0, 3, 0};
    int out[3];
    CRank::AnyMat(1, out, in, 2);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], 1);
    const int neg[3] = {0, -3, 0};
    CRank::AnyMat(2, out, neg, 2); // -3/5 rounds to -1, away from zero at halves only
    EXPECT_EQ(out[1], -1);
    const int ramp[5] = {0, 10, 20, 30, 40};
    int dev[5];
    CRank::AnyDev(1, dev, ramp, 4);
    EXPECT_EQ(dev[0], 5); // (10 - 0) / 2
    EXPECT_EQ(dev[2], 10);
    EXPECT_EQ(dev[4], 5);
    CRank::AnyDev(0, dev, ramp, 4);
    EXPECT_EQ(dev[3], 0);
    auto r = Fresh();
    r->RanIni(0);
    r->Ran[10] = 9;
    r->RanSmo(1);
    EXPECT_EQ(r->Ran[9], 3);
    EXPECT_EQ(r->Ran[11], 3);
    EXPECT_EQ(r->Ran[12], 0);
}

TEST(CRank, SumsExtremesAndLog)
{
    auto r = Fresh();
    const int t[4] = {4, -2, 9, 1};
    EXPECT_EQ(r->AnyPow(t, 3), 12);
    EXPECT_EQ(r->AnySup(t, 3), 9);
    EXPECT_EQ(r->AnyInf(t, 3), -2);
    EXPECT_EQ(r->AnySup(t, -1), -1);
    EXPECT_EQ(r->pow, 12);
    r->LorLog(2048);
    EXPECT_EQ(r->Lor[255], 2048);
    EXPECT_EQ(r->Lor[2], 256);
    r->LorLog(100);
    EXPECT_EQ(r->Lor[255], 100);
    int small[3] = {1, 2, 3};
    CRank::AnyLog(small, 2048, 2); // entries at 0, 127, 255 of TabLog
    EXPECT_EQ(small[2], 2048);
    int nor[2] = {10, 20};
    CRank::AnyNor(40, nor, 1);
    EXPECT_EQ(nor[0], 64);
    CRank::AnyNor(0, nor, 1); // no divisor: unchanged
    EXPECT_EQ(nor[1], 128);
}

TEST(CRank, RunsAndFloatingLevel)
{
    const int t[10] = {0, 5, 9, 4, 1, 0, 7, 8, 2, 0};
    EXPECT_EQ(CRank::Rraise(t, 9, 3, 0), 3); // rises to 9, drops at index 3
    EXPECT_EQ(CRank::Rlower(t, 9, 3, 3), 6); // falls to 0, rises at index 6
    EXPECT_EQ(CRank::Rraise(t, 9, 3, 6), 8);
    EXPECT_EQ(CRank::Rraise(t, 9, 3, 12), 12);
    EXPECT_EQ(CRank::Rraise(t, 9, 20, 0), 10); // never reaches the level
    EXPECT_EQ(CRank::Rfloat(t, 9, 3, 2), 3);   // two rises found at once
    EXPECT_EQ(CRank::Rfloat(t, 9, 100, 2), 100 * 90 / 100 * 90 / 100 * 90 / 100 * 90 / 100 * 90 /
                                               100 * 90 / 100 * 90 / 100 * 90 / 100 * 90 / 100 *
                                               90 / 100);
}

TEST(CRank, SShapeAndImpulse)
{
    auto r = Fresh();
    r->GauSqr(1);
    EXPECT_EQ(r->Ran[127], 127); // i = 0
    EXPECT_EQ(r->Ran[128], 128);
    EXPECT_EQ(r->Ran[127 - 16], 127 - 8); // fourth root of 4096 = 8
    for (int i = 0; i < 128; ++i) {
        ASSERT_EQ(r->Ran[127 - i] + r->Ran[128 + i], 255);
    }
    r->RanIni(1);
    r->Ran[3] = 65;
    EXPECT_EQ(r->RanImp(320), 320 * 65 / 320);
    r->RanIni(0);
    EXPECT_EQ(r->RanImp(10), 0);
}

TEST(CRank, CosineWindow)
{
    // A constant input gives 0 everywhere: the centre and end weights cancel.
    int in[9], out[9];
    for (int i = 0; i < 9; ++i) {
        in[i] = 50;
        out[i] = 0;
    }
    CRank::CorCos(4, 8, 0, 1, out, in);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(out[i], 0) << i;
    }
    // A peak at 4 with W = 4 (h = 2): at i = 4, S = 2 * 100 + 2 * R(cos 45 * 0) ... = 200,
    // v = 8 * 200 / 12 = 133.
    for (int i = 0; i < 9; ++i) {
        in[i] = i == 4 ? 100 : 0;
    }
    CRank::CorCos(4, 8, 0, 1, out, in);
    EXPECT_EQ(out[4], 133);
    int down[9];
    for (int i = 0; i < 9; ++i) {
        down[i] = 500;
    }
    CRank::CorCos(4, 8, 1, 0, down, in); // inverted: the peak gives 0, lowering every entry
    EXPECT_EQ(down[4], 0);
}

} // namespace
