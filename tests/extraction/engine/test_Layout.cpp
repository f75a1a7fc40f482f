// Engine object lifecycle, template seal, layer store, pyramid geometry and coordinate mapping.

#include "extraction/engine/Codex.h"
#include "extraction/engine/Steps.h"
#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace wizard73;

// An engine with a loaded geometry and layer store of the given map.
std::unique_ptr<Codex> Loaded(int w0, int h0, const int* map)
{
    auto e = std::make_unique<Codex>();
    e->Reset();
    e->SetMap(map);
    e->SetGeo(w0, h0);
    e->NewDoc();
    return e;
}

TEST(Engine, FreshObjectHasEmptyStoreAndDefaults)
{
    Codex e;
    for (int level = 0; level < WZ_LEVELS; ++level) {
        for (int id : {0, 1, 129, 273}) {
            EXPECT_EQ(e.GetKey(id, level), -1);
        }
    }
    EXPECT_EQ(e.m_stage, 0);
    EXPECT_EQ(e.m_imgppi, 500);
    EXPECT_EQ(e.m_tplppi, 500);
    EXPECT_EQ(e.m_linkno, 17);
    EXPECT_EQ(e.m_passxy, 20);
    EXPECT_EQ(e.m_passan, 20);
    EXPECT_EQ(e.m_flag, 1);
    EXPECT_EQ(e.m_level[0].slots, 6); // map 3 at construction
    EXPECT_EQ(e.m_level[4].slots, 4);
    EXPECT_EQ(e.W[0], 64);
    EXPECT_EQ(e.W[-180], -64);
    Codex other; // the construction tables are built once and shared
    EXPECT_EQ(other.Ex, e.Ex);
    EXPECT_EQ(other.W, e.W);
    // No level has slots backed by memory before a load: claims and mappings give null.
    EXPECT_EQ(e.GetLay(5, 0), nullptr);
    EXPECT_EQ(e.ProRef(5, 3, 3, 1, 0), nullptr);
    e.ProLay(5, 3, 3, 1, 0);
}

TEST(Engine, ConstructLoadResetDestroyRepeatedly)
{
    for (int round = 0; round < 5; ++round) {
        auto e = Loaded(64 + 4 * round, 68, pyr[2]);
        unsigned char* p = e->GetLay(0, 0);
        ASSERT_NE(p, nullptr);
        p[0] = 9;
        e->Reset();
        e->Reset();                          // twice in a row is harmless
        EXPECT_EQ(e->GetLay(0, 0), nullptr); // no slot points into the freed block
        EXPECT_EQ(e->m_block, nullptr);
        for (int k = 0; k < WZ_PLANES; ++k) {
            EXPECT_EQ(e->Plane(k), nullptr);
        }
        e->SetGeo(80, 64);
        e->NewDoc(); // a second image on the same object
        EXPECT_NE(e->GetLay(3, 1), nullptr);
    }
    Codex never_ran; // destroyed without any image
}

// Slots are never cleared, so no stage may read a cell of a layer it claimed before writing
// it: with every free slot filled with a pattern after the load, the whole engine writes the
// same record as with the slots the allocator gave.
TEST(Engine, RecordDoesNotDependOnWhatFreeSlotsHold)
{
    std::vector<std::pair<std::string, zftest::Loaded (*)()>> prints = {
        {"synthetic whorl", [] {
             const int w = 288;
             const int h = 300;
             return zftest::LoadInto(
                 zftest::FlowImage(w, h, {{144, 120, 1}, {150, 180, 1}, {80, 250, -1}}, 90.0, 9.0,
                                   11),
                 w, h);
         }}};
    if (!zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm").empty()) {
        prints.push_back({"101_1", [] { return zftest::LoadShared("fvc2002_db1_b/101_1.pgm"); }});
        prints.push_back({"109_4", [] { return zftest::LoadShared("fvc2002_db1_b/109_4.pgm"); }});
    }
    for (const auto& [name, load] : prints) {
        SCOPED_TRACE(name);
        std::vector<unsigned char> plain;
        // Pattern -1 leaves the slots as they are; -2 fills them with pseudo-random bytes.
        for (const int pattern : {-1, 0x00, 0xFF, 0xA5, -2}) {
            SCOPED_TRACE(pattern);
            zftest::Loaded l = load();
            ASSERT_EQ(l.code, 0);
            Codex& e = *l.engine;
            std::uint32_t seed = 12345;
            for (const CLevel& lv : e.m_level) {
                for (int s = 0; s < lv.slots; ++s) {
                    if (lv.key[s] != WZ_FREE_KEY || pattern == -1) {
                        continue;
                    }
                    for (std::uint32_t i = 0; i < lv.size; ++i) {
                        lv.buf[s][i] = static_cast<unsigned char>(
                            pattern >= 0 ? pattern : (zftest::XorShift32(seed) >> 8) & 255);
                    }
                }
            }
            ASSERT_TRUE(zftest::RunThroughEpilog(e));
            const std::vector<unsigned char> rec = zftest::WrittenRecord(e);
            if (pattern == -1) {
                plain = rec;
                EXPECT_GT(e.m_minutiae, 10u);
            } else {
                EXPECT_EQ(rec, plain);
            }
        }
    }
}

TEST(Engine, SealAndVerify)
{
    std::vector<unsigned char> rec(80);
    for (std::size_t i = 0; i < rec.size(); ++i) {
        rec[i] = static_cast<unsigned char>(i * 37 + 11);
    }
    rec[0] = 80;
    rec[1] = rec[2] = rec[3] = 0;
    unsigned sum = 0;
    for (int i = 0; i <= 75; ++i) {
        sum += rec[i];
    }
    Codex e;
    EXPECT_EQ(e.SetMod(rec.data()), static_cast<int>(sum % 251));
    EXPECT_EQ(rec[76], 0);
    EXPECT_EQ(rec[77], 0);
    EXPECT_EQ(rec[78], 0);
    EXPECT_EQ(rec[79], sum % 251);
    EXPECT_TRUE(e.VerMod(rec.data()));
    rec[40] ^= 1;
    EXPECT_FALSE(e.VerMod(rec.data()));
    rec[40] ^= 1;
    rec[42] = 10; // moving one unit between two bytes keeps the sum
    rec[43] = 10;
    e.SetMod(rec.data());
    rec[42] = 9;
    rec[43] = 11;
    EXPECT_TRUE(e.VerMod(rec.data()));
}

TEST(Engine, SealOfTooShortRecordWritesNothing)
{
    unsigned char rec[8] = {4, 0, 0, 0, 1, 2, 3, 4};
    Codex e;
    EXPECT_EQ(e.SetMod(rec), 0);
    EXPECT_EQ(rec[0], 4); // the length field is not overwritten by a trailer
    unsigned char empty[4] = {0, 0, 0, 0};
    EXPECT_FALSE(e.VerMod(empty));
}

TEST(LayerStore, SetMapCapsCounts)
{
    Codex e;
    const int counts[5] = {100, 5, 0, 68, 69};
    e.SetMap(counts);
    const int want[5] = {68, 5, 0, 68, 68};
    for (int l = 0; l < 5; ++l) {
        EXPECT_EQ(e.m_level[l].slots, want[l]) << l;
    }
}

// Direction d points at 45 d degrees, x right and y down, and steps to the nearest neighbour.
TEST(LayerStore, NeighbourStepsTurnByFortyFiveDegrees)
{
    for (int d = 0; d < 8; ++d) {
        SCOPED_TRACE(d);
        const double a = d * 45 * 3.14159265358979 / 180;
        EXPECT_EQ(kStepX[d], std::lround(std::cos(a)));
        EXPECT_EQ(kStepY[d], std::lround(std::sin(a)));
    }
}

TEST(LayerStore, PyramidGeometryOnOddSizes)
{
    auto e = Loaded(100, 68, pyr[2]);
    const int w[5] = {100, 50, 25, 13, 7};
    const int h[5] = {68, 34, 17, 9, 5};
    for (int l = 0; l < 5; ++l) {
        SCOPED_TRACE(l);
        EXPECT_EQ(e->m_level[l].scale, 1 << l);
        EXPECT_EQ(e->m_level[l].width, w[l]);
        EXPECT_EQ(e->m_level[l].height, h[l]);
        EXPECT_EQ(e->m_level[l].size, static_cast<unsigned>(w[l] * h[l]));
        EXPECT_EQ(e->m_level[l].step[1], w[l] + 1);
        EXPECT_EQ(e->m_level[l].step[7], 1 - w[l]);
        EXPECT_EQ(e->m_level[l].xEdge[0], w[l] - 1);
        EXPECT_EQ(e->m_level[l].yEdge[6], 0);
        EXPECT_EQ(e->m_level[l].xEdge[2], -9);
    }
    // Map 2: 14, 24, 24, 62, 0 slots; buffers one after another, the last one ending the block.
    EXPECT_NE(e->Plane(4), nullptr);
    EXPECT_EQ(e->m_level[4].slots, 0);
    EXPECT_EQ(e->GetLay(1, 4), nullptr);
    EXPECT_EQ(e->m_level[0].buf[1], e->m_level[0].buf[0] + 6800);
    EXPECT_EQ(e->m_level[1].buf[0], e->m_level[0].buf[13] + 6800);
    const unsigned char* last = nullptr;
    for (int id = 0; id < 62; ++id) {
        last = e->GetLay(id, 3);
    }
    ASSERT_EQ(last, e->m_level[3].buf[61]);
    std::memset(e->m_level[3].buf[61], 0x5A, e->m_level[3].size);
    EXPECT_EQ(last[e->m_level[3].size - 1], 0x5A);
}

TEST(LayerStore, OversizedSideIsClampedSoSizesAgree)
{
    Codex e;
    e.SetGeo(70000, -3);
    EXPECT_EQ(e.m_level[0].width, 65535);
    EXPECT_EQ(e.m_level[0].height, 0);
    EXPECT_EQ(e.m_level[0].size, 0u);
    EXPECT_EQ(e.m_level[1].width, 32768);
}

TEST(LayerStore, ClaimReleaseAndReuseKeepsOldContents)
{
    const int map[5] = {2, 2, 2, 2, 2};
    auto e = Loaded(64, 64, map);
    unsigned char* a = e->GetLay(7, 2);
    unsigned char* b = e->GetLay(8, 2);
    EXPECT_EQ(a, e->m_level[2].buf[0]);
    EXPECT_EQ(b, e->m_level[2].buf[1]);
    EXPECT_EQ(e->m_claims, 2u);
    EXPECT_EQ(e->GetLay(7, 2), a); // existing layer: no claim
    EXPECT_EQ(e->m_claims, 2u);
    EXPECT_EQ(e->GetLay(9, 2), nullptr); // no free slot
    a[5] = 77;
    e->DelLay(7, 2);
    EXPECT_EQ(e->GetKey(7, 2), -1);
    unsigned char* c = e->GetLay(9, 2);
    EXPECT_EQ(c, a);
    EXPECT_EQ(c[5], 77); // claimed layers are not cleared
    EXPECT_EQ(e->GetKey(9, 2), 0);
    e->DelLay(123, 2); // absent: nothing
    EXPECT_EQ(e->GetKey(8, 2), 1);
    // Out-of-range levels are absent, never indexed; a negative id never matches a free slot.
    EXPECT_EQ(e->GetKey(1, 5), -1);
    EXPECT_EQ(e->GetLay(1, -1), nullptr);
    e->DelLay(9, 2);
    EXPECT_EQ(e->GetKey(-1, 2), -1);
    EXPECT_EQ(e->GetLay(-1, 2), nullptr);
    EXPECT_EQ(e->GetKey(-1, 2), -1);
}

TEST(LayerStore, OldLayFreesTheStageAndLaterOnes)
{
    auto e = Loaded(64, 64, pyr[2]);
    e->m_stage = 0;
    e->GetLay(0, 0);
    e->m_stage = 5;
    e->GetLay(50, 3);
    e->m_stage = 7;
    e->GetLay(70, 1);
    e->OldLay(6);
    EXPECT_GE(e->GetKey(50, 3), 0);
    EXPECT_EQ(e->GetKey(70, 1), -1);
    e->OldLay(5);
    EXPECT_EQ(e->GetKey(50, 3), -1);
    e->OldLay(1);
    EXPECT_EQ(e->GetKey(0, 0), 0); // the loader's layer stays
    EXPECT_EQ(e->m_level[3].stamp[0], -1);
}

TEST(LayerStore, CoordinateMapping)
{
    auto e = Loaded(400, 300, pyr[2]);
    unsigned char* l1 = e->GetLay(3, 1);
    unsigned char* l3 = e->GetLay(3, 3);
    EXPECT_EQ(e->ProRef(3, 10, 7, 1, 3), l1 + 40 + 28 * 200);
    EXPECT_EQ(e->ProRef(3, 41, 29, 3, 1), l3 + 10 + 7 * 50);
    e->ProLay(3, 41, 29, 3, 1);
    EXPECT_EQ(e->m_wx, 10);
    EXPECT_EQ(e->m_wy, 7);
    EXPECT_EQ(e->m_walk[0], l3 + 10 + 7 * 50);
    EXPECT_EQ(e->m_walkOff, 10 + 7 * 50);
    e->m_fineX = 21;
    e->m_fineY = 9;
    EXPECT_EQ(e->ProSrc(3, 3, 0), l3 + 2 + 1 * 50);
    EXPECT_EQ(CBase::DipPyr(5, 0, 3), 44);
    EXPECT_EQ(CBase::DipPyr(5, 2, 2), 5);
    EXPECT_EQ(CBase::DipPyr(5, 3, 0), 0);
    EXPECT_EQ(CBase::DipPyr(1, 1, 2), 3);
}

} // namespace
