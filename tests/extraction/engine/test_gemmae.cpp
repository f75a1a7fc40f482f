// Angular accumulators (sector, front/back and rotation sums), direction pickers, the kernel
// builder GemWeb, Targum and the palette, checked against hand-computed values.

#include "extraction/engine/Codex.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/emulation.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace wizard73;

struct Acc : Codex {
    unsigned char centre = 0, dir = 0, mag = 0;
    Acc()
    {
        m_refc = &centre;
        m_walk[0] = &dir;
        m_walk[1] = &mag;
        m_ringValue = 1;
    }
};

TEST(Accumulators, SectorSumsWeighByRingWeightAndMagnitude)
{
    auto e = std::make_unique<Acc>();
    e->centre = 0; // sector axes 0, 45, ..., 315
    e->dir = 0;    // doubled angle 0: Cd = 256, Sd = 0
    e->mag = 10;
    e->Argums_quick(0, 0);
    // Axis 0: w = 64, (256 * 64 * 10 + 128) / 256 = 640; axes 45 and 315: w = 45 -> 450.
    const int cosWant[8] = {640, 450, 0, 0, 0, 0, 0, 450};
    const int wWant[8] = {64, 45, 0, 0, 0, 0, 0, 45};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(e->m_cosSum[k], cosWant[k]) << k;
        EXPECT_EQ(e->m_sinSum[k], 0) << k;
        EXPECT_EQ(e->m_wSum[k], wWant[k]) << k;
    }
    // The weightless form adds the vectors only; a doubled ring value turns the axes.
    e->dir = 45; // doubled angle 90: Sd = 256
    e->m_ringValue = 2;
    e->centre = 45; // axes 90, 135, ...
    e->Argums_NoApw_quick(90, 0);
    EXPECT_EQ(e->m_sinSum[0], 640);
    EXPECT_EQ(e->m_wSum[0], 64); // unchanged
    // A point 90 degrees or more from an axis adds nothing to that sector.
    EXPECT_EQ(e->m_sinSum[2], 0);
    EXPECT_EQ(e->m_sinSum[4], 0);
}

TEST(Accumulators, TableAndWordFormsAgree)
{
    auto a = std::make_unique<Acc>();
    auto b = std::make_unique<Acc>();
    for (unsigned char q : {0, 30, 77, 120, 179}) {
        for (int angle : {0, 13, 90, 203}) {
            a->dir = b->dir = q;
            a->mag = b->mag = 200;
            a->Argums(angle, 0);
            b->Argums_quick(angle, 0);
        }
    }
    for (int k = 0; k < 8; ++k) {
        EXPECT_NEAR(a->m_cosSum[k], b->m_cosSum[k], 40) << k; // 20 terms, 2 apart at most
        EXPECT_NEAR(a->m_sinSum[k], b->m_sinSum[k], 40) << k;
        EXPECT_EQ(a->m_wSum[k], b->m_wSum[k]) << k;
    }
}

TEST(Accumulators, FrontAndBackSums)
{
    auto e = std::make_unique<Acc>();
    e->centre = 0;
    e->dir = 45; // theta 90: cos 0, sin 8192
    e->mag = 3;
    e->Argums_I(180, 0); // behind the centre direction
    EXPECT_EQ(e->m_frontCos, 0);
    EXPECT_EQ(e->m_frontSin, 0);
    EXPECT_EQ(e->m_backCos, 0);
    EXPECT_EQ(e->m_backSin, 64 * 3);
    e->Argums_I(0, 0); // ahead
    EXPECT_EQ(e->m_frontSin, 64 * 3);
    e->Argums_I_quick(0, 0);
    EXPECT_EQ(e->m_frontSin, 2 * 64 * 3);
}

// Rotation sums read Cor[90 + e / 2]: with the twist curve through (0,0), (20,13), (45,45),
// (90,8), a rotation 90 degrees off reads the curve at 45, which is 45.
TEST(Accumulators, RotationSumsReadTheAngleCurveAtHalfTheDifference)
{
    auto e = std::make_unique<Acc>();
    for (int i = 0; i <= 180; ++i) {
        e->m_rank.Cor[i] = i;
    }
    e->centre = 0; // phi 0
    e->dir = 45;   // psi 90
    e->Twists_I(0, 0);
    const int diff[8] = {90, 45, 0, 45, 90, 135, 180, 135};
    for (int o = 0; o < 8; ++o) {
        EXPECT_EQ(e->m_rotSum[o], 90 + diff[o] / 2) << o;
    }
    EXPECT_EQ(e->m_rotPoints, 1);
    const int twist[] = {4, 0, 0, 20, 13, 45, 45, 90, 8};
    e->m_rank.CorGau(twist);
    for (int& s : e->m_rotSum) {
        s = 0;
    }
    e->Twists_I(0, 0);
    EXPECT_EQ(e->m_rotSum[0], 45);
    EXPECT_EQ(e->m_rotSum[2], 0);
    EXPECT_EQ(e->m_rotSum[6], 8);
    const int last = e->Twists(0, 0);
    EXPECT_EQ(last, e->m_rank.Cor[90 + 135 / 2]);
    EXPECT_EQ(e->m_rotSum[0], 45 + 90);
    EXPECT_EQ(e->m_rotCount[3], 1);
}

// A small level with direction and magnitude bytes of many values and a rotation curve.
template <int Width, int Height> struct RingBench : Codex {
    static constexpr int kW = Width, kH = Height;
    unsigned char* dir = nullptr;
    unsigned char* mag = nullptr;
    RingBench()
    {
        Reset();
        SetMap(pyr[2]);
        SetGeo(kW, kH);
        NewDoc();
        dir = GetLay(200, 0);
        mag = GetLay(201, 0);
        for (int i = 0; i < kW * kH; ++i) {
            dir[i] = static_cast<unsigned char>(i * 113 + 7);
            mag[i] = static_cast<unsigned char>(255 - i * 37);
        }
        for (int i = 0; i <= 180; ++i) {
            m_rank.Cor[i] = (i * 7) % 50 - 20;
        }
    }
    void Clear()
    {
        for (int k = 0; k < 8; ++k) {
            m_cosSum[k] = m_sinSum[k] = m_wSum[k] = m_rotSum[k] = 0;
        }
        m_frontCos = m_frontSin = m_backCos = m_backSin = m_rotPoints = 0;
    }
};

int Fold180(int d)
{
    const int m = Mod360(d);
    return m > 180 ? m - 360 : m;
}

int Back8(int v)
{
    return (v + 128) / 256;
}

// The whole-ring sums of Spiral's frequent ring steps against their definition over the ring
// points that lie inside the level, at every position of the level (edges and corners
// included), for every radius and both ring values; the walk ends on the last ring point.
template <class Bench> void CheckWholeRings(int& rings)
{
    auto e = std::make_unique<Bench>();
    using Fn = CBase::RingFn;
    const Fn steps[4] = {static_cast<Fn>(&CWork::Argums_quick),
                         static_cast<Fn>(&CWork::Argums_NoApw_quick),
                         static_cast<Fn>(&CWork::Argums_I), static_cast<Fn>(&CWork::Twists_I)};
    const int dx[8] = {1, 1, 0, -1, -1, -1, 0, 1};
    const int dy[8] = {0, 1, 1, 1, 0, -1, -1, -1};
    for (int at = 0; at < Bench::kW * Bench::kH; ++at) {
        const int x = at % Bench::kW;
        const int y = at / Bench::kW;
        for (int radius = 0; radius <= 5; ++radius) {
            for (int value = 1; value <= 2; ++value) {
                std::vector<std::pair<int, int>> seen; // (angle, offset from the centre)
                int px = x, py = y;
                const int n = kRingEntries[radius > 4 ? 4 : radius];
                for (int i = 0; i < n; ++i) {
                    px += dx[ring[i].dir];
                    py += dy[ring[i].dir];
                    if (px >= 0 && py >= 0 && px < Bench::kW && py < Bench::kH) {
                        seen.push_back({ring[i].angle, px - x + (py - y) * Bench::kW});
                    }
                }
                const int c = value * e->dir[at];
                int cosSum[8] = {}, sinSum[8] = {}, wSum[8] = {}, rot[8] = {}, fb[4] = {};
                for (const auto& [angle, off] : seen) {
                    const int q = e->dir[at + off];
                    const int m = e->mag[at + off];
                    const int t = Mod360(2 * q);
                    for (int k = 0; k < 8; ++k) {
                        const int w = e->W[Fold180(Mod360(c + 45 * k) - angle)];
                        if (w > 0) {
                            cosSum[k] += Back8(e->Cd[q % 180] * m * w);
                            sinSum[k] += Back8(e->Sd[q % 180] * m * w);
                            wSum[k] += w;
                        }
                        int d = std::abs(Mod360(2 * e->dir[at] + 45 * k) - t);
                        d = d > 180 ? 360 - d : d;
                        rot[k] += e->m_rank.Cor[90 + d / 2];
                    }
                    for (int side = 0; side < 2; ++side) {
                        const int w = e->W[Fold180(Mod360(c) + 180 * side - angle)];
                        if (w > 0) {
                            fb[2 * side] += Descale13(CosDeg(t) * w * m);
                            fb[2 * side + 1] += Descale13(SinDeg(t) * w * m);
                        }
                    }
                }
                for (int s = 0; s < 4; ++s) {
                    e->Clear();
                    e->WalkAt(x, y, 0, e->dir, e->dir, e->mag);
                    e->m_ringPoint = steps[s];
                    ASSERT_EQ(e->Spiral(0, radius, value), n);
                    const std::string where = "step " + std::to_string(s) + " at " +
                                              std::to_string(x) + "," + std::to_string(y) + " r" +
                                              std::to_string(radius) + " v" + std::to_string(value);
                    for (int k = 0; k < 8; ++k) {
                        ASSERT_EQ(e->m_cosSum[k], s < 2 ? cosSum[k] : 0) << where;
                        ASSERT_EQ(e->m_sinSum[k], s < 2 ? sinSum[k] : 0) << where;
                        ASSERT_EQ(e->m_wSum[k], s == 0 ? wSum[k] : 0) << where;
                        ASSERT_EQ(e->m_rotSum[k], s == 3 ? rot[k] : 0) << where;
                    }
                    const int front[4] = {e->m_frontCos, e->m_frontSin, e->m_backCos, e->m_backSin};
                    for (int j = 0; j < 4; ++j) {
                        ASSERT_EQ(front[j], s == 2 ? fb[j] : 0) << where;
                    }
                    ASSERT_EQ(e->m_rotPoints, s == 3 ? static_cast<int>(seen.size()) : 0);
                    const int end = px + py * Bench::kW;
                    ASSERT_EQ(e->m_wx, px) << where;
                    ASSERT_EQ(e->m_wy, py) << where;
                    ASSERT_EQ(e->m_walkOff, end) << where;
                    ASSERT_EQ(e->m_walk[0] - e->dir, end) << where;
                    ASSERT_EQ(e->m_walk[1] - e->mag, end) << where;
                    ASSERT_EQ(e->m_walk[2], nullptr);
                    ASSERT_EQ(e->m_ringValue, value);
                    ++rings;
                }
            }
        }
    }
}

// On a 9 x 8 level the near-edge rings are walked step by step; on 16 x 16 they come from the
// edge lists, and the cells hold every direction byte and every magnitude byte.
TEST(Accumulators, WholeRingSumsMatchTheirDefinitionOverTheRingPointsInside)
{
    int small = 0;
    CheckWholeRings<RingBench<9, 8>>(small);
    EXPECT_EQ(small, 72 * 6 * 2 * 4);
    int large = 0;
    CheckWholeRings<RingBench<16, 16>>(large);
    EXPECT_EQ(large, 256 * 6 * 2 * 4);
}

// Rotation sums are linear in the angle curve: a constant curve k gives k per visited point in
// every sum (at the 16-bit limit 341 with 96 points, and past it), and a curve scaled by 100
// (past the 16-bit rows) gives 100 times the sums of the curve, in whole and near-edge rings.
TEST(Accumulators, RotationSumsScaleWithTheCurve)
{
    auto e = std::make_unique<RingBench<16, 16>>();
    const auto sums = [&](int x, int y, int radius, int* rot) {
        e->Clear();
        e->WalkAt(x, y, 0, e->dir, e->dir);
        e->m_ringPoint = static_cast<CBase::RingFn>(&CWork::Twists_I);
        e->Spiral(0, radius, 1);
        std::copy(e->m_rotSum, e->m_rotSum + 8, rot);
        return e->m_rotPoints;
    };
    const int at[3][2] = {{8, 8}, {1, 2}, {15, 0}};
    for (const auto& p : at) {
        for (int radius = 0; radius <= 4; ++radius) {
            int rot[8], scaled[8];
            for (int k : {341, -341, 342, -342, 5000}) {
                std::fill(e->m_rank.Cor, e->m_rank.Cor + 181, k);
                const int points = sums(p[0], p[1], radius, rot);
                for (int o = 0; o < 8; ++o) {
                    ASSERT_EQ(rot[o], k * points) << k << " r" << radius;
                }
            }
            for (int i = 0; i <= 180; ++i) {
                e->m_rank.Cor[i] = (i * 7) % 50 - 20;
            }
            sums(p[0], p[1], radius, rot);
            for (int& c : e->m_rank.Cor) {
                c *= 100;
            }
            sums(p[0], p[1], radius, scaled);
            for (int o = 0; o < 8; ++o) {
                ASSERT_EQ(scaled[o], 100 * rot[o]) << p[0] << "," << p[1] << " r" << radius;
            }
        }
    }
}

// The sector sums of a whole ring visit its points in an order of their own from lists per
// level: after the level is made again at another width they still equal the point-by-point
// walk's sums, and leave the walk where it does.
TEST(Accumulators, WholeRingSectorSumsFollowANewWidth)
{
    auto e = std::make_unique<RingBench<16, 16>>();
    for (int width : {16, 21, 16}) {
        e->SetGeo(width, 16);
        e->NewDoc();
        unsigned char* dir = e->GetLay(200, 0);
        unsigned char* mag = e->GetLay(201, 0);
        ASSERT_NE(dir, nullptr);
        ASSERT_NE(mag, nullptr);
        for (int i = 0; i < width * 16; ++i) {
            dir[i] = static_cast<unsigned char>(i * 113 + 7);
            mag[i] = static_cast<unsigned char>(255 - i * 37);
        }
        for (int radius = 0; radius <= 4; ++radius) {
            for (int value = 1; value <= 2; ++value) {
                int sums[2][25] = {};
                for (int form = 0; form < 2; ++form) {
                    e->Clear();
                    e->WalkAt(8, 8, 0, dir, dir, mag);
                    if (form == 0) {
                        e->SectorRingLanes(0, radius, value, true);
                    } else {
                        e->RingWalk(0, radius, value,
                                    [&](int angle, int) { e->Argums_quick(angle, 0); });
                    }
                    for (int k = 0; k < 8; ++k) {
                        sums[form][k] = e->m_cosSum[k];
                        sums[form][8 + k] = e->m_sinSum[k];
                        sums[form][16 + k] = e->m_wSum[k];
                    }
                    sums[form][24] = e->m_walkOff;
                }
                for (int k = 0; k < 25; ++k) {
                    ASSERT_EQ(sums[0][k], sums[1][k])
                        << "width " << width << " r" << radius << " v" << value << " entry " << k;
                }
            }
        }
    }
}

// The lane-wise sector sums equal their one-sector-at-a-time twin on the direction and contrast
// layers of real prints, around every cell, for every radius, both ring values and both forms
// (with and without weight sums).
TEST(Accumulators, LaneWiseSectorSumsEqualScalarOnRealPrints)
{
    const char* names[] = {"fvc2002_db1_b/101_1.pgm", "fvc2002_db1_b/105_3.pgm",
                           "fvc2002_db1_b/109_4.pgm"};
    const int prints = zftest::InputSize(3, 1);
    for (int f = 0; f < prints; ++f) {
        zftest::Loaded l = zftest::LoadShared(names[f]);
        if (l.code == -1) {
            GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
        }
        ASSERT_EQ(l.code, 0) << names[f];
        Codex& e = *l.engine;
        e.Pickup(-1);
        const int level = 3;
        unsigned char* dir = e.GetLay(32, level);
        unsigned char* con = e.GetLay(114, level);
        ASSERT_NE(dir, nullptr);
        ASSERT_NE(con, nullptr);
        const int w = e.m_level[level].width;
        const int n = static_cast<int>(e.m_level[level].size);
        int nonZero = 0;
        for (int i = 0; i < n; ++i) {
            for (int radius = 0; radius <= 4; ++radius) {
                for (int value = 1; value <= 2; ++value) {
                    for (bool weights : {true, false}) {
                        int sums[2][24] = {};
                        int counts[2] = {};
                        for (int form = 0; form < 2; ++form) {
                            for (int k = 0; k < 8; ++k) {
                                e.m_cosSum[k] = e.m_sinSum[k] = e.m_wSum[k] = 0;
                            }
                            e.WalkAt(i % w, i / w, level, dir, dir, con);
                            counts[form] = form == 0
                                               ? e.SectorRingLanes(level, radius, value, weights)
                                               : e.SectorRingScalar(level, radius, value, weights);
                            for (int k = 0; k < 8; ++k) {
                                sums[form][k] = e.m_cosSum[k];
                                sums[form][8 + k] = e.m_sinSum[k];
                                sums[form][16 + k] = e.m_wSum[k];
                            }
                        }
                        ASSERT_EQ(counts[0], counts[1]);
                        for (int k = 0; k < 24; ++k) {
                            ASSERT_EQ(sums[0][k], sums[1][k])
                                << names[f] << " cell " << i << " r" << radius << " v" << value
                                << " entry " << k;
                            nonZero += sums[0][k] != 0;
                        }
                    }
                }
            }
        }
        EXPECT_GT(nonZero, n); // the print's layers give real sums
    }
}

// The lane-wise sector sums equal the scalar ones for every direction byte, at the largest
// magnitude and products (Cd = 256, W = 64, m = 255 pass 16 bits only in the last step).
TEST(Accumulators, LaneWiseSectorSumsEqualScalarOverEveryByte)
{
    constexpr int kW = 16, kH = 16;
    struct ByteBench : Codex {
        ByteBench()
        {
            Reset();
            SetMap(pyr[2]);
            SetGeo(kW, kH);
            NewDoc();
        }
    };
    auto e = std::make_unique<ByteBench>();
    unsigned char* dir = e->GetLay(200, 0);
    unsigned char* mag = e->GetLay(201, 0);
    ASSERT_NE(dir, nullptr);
    ASSERT_NE(mag, nullptr);
    const unsigned char mags[4] = {255, 0, 254, 1};
    for (int i = 0; i < kW * kH; ++i) {
        dir[i] = static_cast<unsigned char>(i * 45 + 3); // 45 is odd: every byte once
        mag[i] = mags[i % 4];
    }
    for (int pass = 0; pass < 2; ++pass) { // the second with every magnitude 255
        if (pass == 1) {
            std::fill(mag, mag + kW * kH, 255);
        }
        for (int at = 0; at < kW * kH; ++at) {
            for (int radius = 0; radius <= 4; ++radius) {
                for (int value = 1; value <= 2; ++value) {
                    for (bool weights : {true, false}) {
                        int sums[2][24] = {};
                        for (int form = 0; form < 2; ++form) {
                            for (int k = 0; k < 8; ++k) {
                                e->m_cosSum[k] = e->m_sinSum[k] = e->m_wSum[k] = 0;
                            }
                            e->WalkAt(at % kW, at / kW, 0, dir, dir, mag);
                            if (form == 0) {
                                e->SectorRingLanes(0, radius, value, weights);
                            } else {
                                e->SectorRingScalar(0, radius, value, weights);
                            }
                            for (int k = 0; k < 8; ++k) {
                                sums[form][k] = e->m_cosSum[k];
                                sums[form][8 + k] = e->m_sinSum[k];
                                sums[form][16 + k] = e->m_wSum[k];
                            }
                        }
                        for (int k = 0; k < 24; ++k) {
                            ASSERT_EQ(sums[0][k], sums[1][k])
                                << "pass " << pass << " cell " << at << " r" << radius << " v"
                                << value << " entry " << k;
                        }
                    }
                }
            }
        }
    }
}

// The sums of SectorRingNest against SectorRing of each ring on its own, from every cell of a
// level (dir and mag layers), for every top and low radius index, both ring values and both
// forms: each kept ring's sums, and the widest ring's sums, point count and walk end.
void CheckNests(Codex& e, int level, unsigned char* dir, unsigned char* mag, int& nests)
{
    const int w = e.m_level[level].width;
    const int n = static_cast<int>(e.m_level[level].size);
    // Sums, then point count and walk end, of SectorRing (form -1) or SectorRingNest.
    const auto run = [&](int i, int top, int low, int value, int form, CWork::SSectorSums* nest) {
        std::vector<int> v;
        for (int k = 0; k < 8; ++k) {
            e.m_cosSum[k] = e.m_sinSum[k] = e.m_wSum[k] = 0;
        }
        e.WalkAt(i % w, i / w, level, dir, dir, mag);
        const int count = form < 0   ? e.SectorRingLanes(level, top, value, true)
                          : form > 0 ? e.SectorNestLanes(level, top, low, value, nest)
                                     : e.SectorNestScalar(level, top, low, value, nest);
        v.insert(v.end(), e.m_cosSum, e.m_cosSum + 8);
        v.insert(v.end(), e.m_sinSum, e.m_sinSum + 8);
        v.insert(v.end(), e.m_wSum, e.m_wSum + 8);
        v.insert(v.end(), {count, e.m_ringCount, e.m_ringValue, e.m_wx, e.m_wy, e.m_walkOff,
                           static_cast<int>(e.m_walk[1] - mag)});
        return v;
    };
    for (int i = 0; i < n; ++i) {
        for (int value = 1; value <= 2; ++value) {
            std::vector<int> alone[5];
            for (int r = 0; r <= 4; ++r) {
                alone[r] = run(i, r, 0, value, -1, nullptr);
            }
            for (int top = 1; top <= 4; ++top) {
                for (int low = 0; low < top; ++low) {
                    for (int form = 0; form < 2; ++form) {
                        CWork::SSectorSums nest[4];
                        std::memset(nest, 0x55, sizeof nest);
                        const std::string where =
                            "cell " + std::to_string(i) + " v" + std::to_string(value) + " top " +
                            std::to_string(top) + " low " + std::to_string(low) + " form " +
                            std::to_string(form);
                        ASSERT_EQ(run(i, top, low, value, form, nest), alone[top]) << where;
                        for (int r = low; r < top; ++r) {
                            const CWork::SSectorSums& k = nest[r - low];
                            std::vector<int> kept(k.cos, k.cos + 8);
                            kept.insert(kept.end(), k.sin, k.sin + 8);
                            kept.insert(kept.end(), k.w, k.w + 8);
                            ASSERT_EQ(kept,
                                      std::vector<int>(alone[r].begin(), alone[r].begin() + 24))
                                << where << " r" << r;
                        }
                        ++nests;
                    }
                }
            }
        }
    }
}

// On a 9 x 8 level the near-edge rings are walked step by step, on 16 x 16 they come from the
// edge lists; the prints' level 3 has whole rings and both kinds of edge.
TEST(Accumulators, NestedRingSumsEqualEachRingAlone)
{
    int nests = 0;
    auto small = std::make_unique<RingBench<9, 8>>();
    CheckNests(*small, 0, small->dir, small->mag, nests);
    auto large = std::make_unique<RingBench<16, 16>>();
    CheckNests(*large, 0, large->dir, large->mag, nests);
    EXPECT_EQ(nests, (72 + 256) * 2 * 10 * 2);
    zftest::Loaded l = zftest::LoadShared("fvc2002_db1_b/105_3.pgm");
    if (l.code == -1) {
        GTEST_SKIP() << "shared fingerprint images not found (set ZF_DATA)";
    }
    ASSERT_EQ(l.code, 0);
    l.engine->Pickup(-1);
    unsigned char* dir = l.engine->GetLay(32, 3);
    unsigned char* con = l.engine->GetLay(114, 3);
    ASSERT_NE(dir, nullptr);
    ASSERT_NE(con, nullptr);
    CheckNests(*l.engine, 3, dir, con, nests);
}

TEST(Pickers, BestOfFourCandidates)
{
    auto e = std::make_unique<Acc>();
    unsigned char cand[8];
    for (int k = 0; k < 8; ++k) {
        e->m_coarse[8 + k] = &cand[k];
    }
    auto set = [&](int k, int angle, int mag) {
        cand[2 * k] = static_cast<unsigned char>(angle);
        cand[2 * k + 1] = static_cast<unsigned char>(mag);
    };
    unsigned char outA = 99, outM = 99;
    for (int k = 0; k < 4; ++k) {
        set(k, 10 + k, 100); // all at 10..13 degrees, ref 10 + 180: equal scores 100 but k=0
    }
    set(1, 10, 100);
    set(2, 10, 100);
    set(3, 10, 100);
    EXPECT_EQ(e->GemReg_I(&outA, &outM, 190), 100);
    EXPECT_EQ(outA, 10);
    EXPECT_EQ(outM, 100);
    // Better alignment beats magnitude: 100 at 60 degrees off scores 25, 60 on the axis 60.
    set(0, 70, 100);
    set(1, 10, 60);
    set(2, 100, 250); // 90 degrees off: score 0
    set(3, 10, 0);
    EXPECT_EQ(e->GemReg_I(&outA, &outM, 10), 250);
    EXPECT_EQ(outA, 10);
    EXPECT_EQ(outM, 60);
    // No score above 0: nothing written, the largest magnitude still returned.
    outA = outM = 7;
    set(0, 100, 30);
    set(1, 100, 40);
    set(2, 100, 0);
    set(3, 100, 5);
    e->GemReg_Stream_1(&outA, &outM, 10);
    EXPECT_EQ(e->GemReg_I(&outA, &outM, 10), 40);
    EXPECT_EQ(outA, 7);
    EXPECT_EQ(outM, 7);
}

// The picker against its definition, the largest Descale13(TabSig[90 - axial distance] * m)
// (the first on a tie, none at 0), for every direction byte and references of several turns.
TEST(Pickers, PickerMatchesItsDefinition)
{
    auto e = std::make_unique<Acc>();
    unsigned char cand[8];
    for (int k = 0; k < 8; ++k) {
        e->m_coarse[8 + k] = &cand[k];
    }
    std::uint32_t state = 2463534242u;
    for (int round = 0; round < 4000; ++round) {
        const int ref = static_cast<int>(zftest::XorShift32(state) % 1500) - 700;
        for (int k = 0; k < 4; ++k) {
            cand[2 * k] = static_cast<unsigned char>(round % 64 * 4 + k); // every byte
            cand[2 * k + 1] = static_cast<unsigned char>(zftest::XorShift32(state) >> 24);
        }
        int best = 0, top = 0, wantA = -1, wantM = -1;
        for (int k = 0; k < 4; ++k) {
            const int m = cand[2 * k + 1];
            top = std::max(top, m);
            const int d = AxialDistance(Mod360(cand[2 * k] - Mod360(ref)));
            const int score = Descale13(TabSig[90 - d] * m);
            if (score > best) {
                best = score;
                wantA = cand[2 * k];
                wantM = m;
            }
        }
        // With every score 0 nothing is picked and both outputs keep what they held.
        unsigned char a = 0xEE, m = 0xEE;
        ASSERT_EQ(e->GemReg_I(&a, &m, ref), top) << round;
        ASSERT_EQ(a, wantA >= 0 ? wantA : 0xEE) << round;
        ASSERT_EQ(m, wantM >= 0 ? wantM : 0xEE) << round;
    }
}

TEST(Kernel, GemWebBuildsAZeroMeanWindow)
{
    auto e = std::make_unique<Acc>();
    e->SetGeo(20, 12);
    for (int i = 0; i <= 180; ++i) {
        e->m_rank.Cor[i] = i; // weight A cos d
    }
    e->m_amp = 100;
    SStep taps[10];
    // Corners lie at distance 255 and are dropped; the five others keep 100 (centre) and -100
    // (edges), mean (-300 - 2) / 5 = -60: centre 160, edges -40.
    EXPECT_EQ(e->GemWeb(taps, 1, 0, 0, 0), 160);
    const int want[5][3] = {{0, -1, -20}, {-1, 0, -1}, {0, 0, 0}, {1, 0, 1}, {0, 1, 20}};
    int sum = 0;
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(taps[i].x, want[i][0]) << i;
        EXPECT_EQ(taps[i].y, want[i][1]) << i;
        EXPECT_EQ(taps[i].off, want[i][2]) << i;
        sum += taps[i].val;
    }
    EXPECT_EQ(sum, 0);
    EXPECT_EQ(taps[5].off, 0);
    // Kind 1 keeps a band across the angle: at 0 degrees only the column x = 0.
    // Weights -100, 100, -100, mean (-100 - 1) / 3 = -33: -67, 133, -67, centre + 1 = 134.
    EXPECT_EQ(e->GemWeb(taps, 1, 0, 0, 1), 134);
    EXPECT_EQ(taps[1].y, 0);
    EXPECT_EQ(taps[3].off, 0);
    taps[0].val = 42;
    EXPECT_EQ(e->GemWeb(taps, -1, 0, 0, 0), 42);
    EXPECT_EQ(taps[0].off, 0);
}

TEST(Kernel, Targum)
{
    const int c[8] = {5, 0, 0, -3, 0, 4, -4, 7};
    const int s[8] = {5, 2, -2, 0, 0, -4, -4, 0};
    const unsigned char centre = 33;
    int out[8], scalar[8];
    Targum(c, s, out, &centre);
    TargumScalar(c, s, scalar, &centre);
    const int want[8] = {22, 45, 135, 90, 33, 157, 112, 0};
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(out[k], want[k]) << k;
        EXPECT_EQ(scalar[k], want[k]) << k;
    }
}

// The quadrant table of Targum against the general atan, halved: every sign pair, both sides
// of the diagonal, the diagonal itself, magnitudes past 2^24 (the 64-bit division) and INT32_MIN.
TEST(Kernel, TargumHalvesAtan)
{
    const int mags[] = {1,
                        2,
                        3,
                        7,
                        100,
                        127,
                        128,
                        129,
                        1000,
                        12345,
                        (1 << 24) - 1,
                        1 << 24,
                        (1 << 24) + 1,
                        123456789,
                        2147483647};
    std::vector<std::pair<int, int>> cases;
    for (int a : mags) {
        for (int b : mags) {
            for (int sc : {1, -1}) {
                for (int ss : {1, -1}) {
                    cases.emplace_back(sc * a, ss * b);
                }
            }
        }
    }
    for (int v : {1, -1, 5, -5, 1 << 30, -(1 << 30), 2147483647, -2147483647}) {
        cases.emplace_back(INT32_MIN, v);
        cases.emplace_back(v, INT32_MIN);
    }
    cases.emplace_back(INT32_MIN, INT32_MIN);
    std::srand(7);
    for (int i = 0; i < 20000; ++i) {
        const int c = std::rand() % 4001 - 2000;
        const int s = std::rand() % 4001 - 2000;
        if (c != 0 && s != 0) {
            cases.emplace_back(c, s);
        }
    }
    for (std::size_t i = 0; i < cases.size(); i += 8) {
        int c[8] = {};
        int s[8] = {};
        for (std::size_t k = 0; k < 8 && i + k < cases.size(); ++k) {
            c[k] = cases[i + k].first;
            s[k] = cases[i + k].second;
        }
        const unsigned char centre = 77;
        int out[8], scalar[8];
        Targum(c, s, out, &centre);
        TargumScalar(c, s, scalar, &centre);
        for (int k = 0; k < 8 && i + k < cases.size(); ++k) {
            EXPECT_EQ(out[k], atan(c[k], s[k]) / 2) << c[k] << ", " << s[k];
            EXPECT_EQ(scalar[k], out[k]) << c[k] << ", " << s[k];
        }
    }
}

TEST(Palette, ColoursAndChannels)
{
    auto e = std::make_unique<Codex>();
    EXPECT_EQ(e->m_hueOn, 1);
    EXPECT_EQ(e->m_hue0[0], 255);
    EXPECT_EQ(e->m_hue0[3], 255);
    EXPECT_EQ(e->m_hue19[0][0], 0xFF); // 0x30FFFF: R = 0xFF, G = 0xFF, B = 0x30
    EXPECT_EQ(e->m_hue19[0][2], 0x30);
    EXPECT_EQ(e->m_hue19[1][0], 255 - 0x40); // inverted 0xFF2040
    EXPECT_EQ(e->m_hue35[1][1], 0xC0);
    unsigned char out[4];
    EXPECT_EQ(e->HueOrg(out, 0), 1); // never an intensity of 0
    int table[256];
    for (int i = 0; i < 256; ++i) {
        table[i] = i;
    }
    e->CHues::Colour(0);
    e->PolHue(table);
    EXPECT_EQ(e->m_channel[1][200], 73);
    e->CHues::Colour(1);
    e->PolHue(table); // i >= 128: first colour of key 19, v * colour / intensity
    const int intensity = (0xFF + 0xFF + 0x30) / 3;
    EXPECT_EQ(e->m_channel[0][200], 73 * 0xFF / intensity);
    unsigned char rgb[3] = {10, 20, 30};
    e->PolHue(table, rgb, 0); // no divisor: a copy
    EXPECT_EQ(e->m_channel[2][9], 9);
    e->PolHue(table, rgb, 10);
    EXPECT_EQ(e->m_channel[2][9], 27);
}

} // namespace

namespace {

// The layer form reads candidate k from layers 38 + k (angle) and 119 + k (magnitude) at the
// scan's fine position on the current level.
TEST(Pickers, LayerFormReadsTheFlowChannels)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(wizard73::pyr[2]);
    e->SetGeo(64, 64);
    e->NewDoc();
    e->m_curLevel = 1;
    e->m_fineX = 2;
    e->m_fineY = 3;
    const int at = 2 + 3 * 32;
    const int angles[4] = {90, 20, 30, 10};
    const int mags[4] = {255, 100, 90, 50};
    for (int k = 0; k < 4; ++k) {
        e->GetLay(38 + k, 1)[at] = static_cast<unsigned char>(angles[k]);
        e->GetLay(119 + k, 1)[at] = static_cast<unsigned char>(mags[k]);
    }
    unsigned char a = 0, m = 0;
    // Reference 10: scores 0, 100 cos^2 10 = 97, 90 cos^2 20 = 79, 50: the second channel.
    EXPECT_EQ(e->GemReg(&a, &m, 10), 255);
    EXPECT_EQ(a, 20);
    EXPECT_EQ(m, 100);
}

} // namespace
