// Stages 6 and 7, singular regions and ridge contrast: classed cells keep off the border, carry
// labels in raster order and are copied down the pyramid; the orientation field reaches the
// asked level and the attenuated contrast never exceeds the contrast.

#include "tests/extraction/engine/stage_fixture.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using namespace wizard73;

zftest::Loaded Whorl()
{
    const std::vector<zftest::Pole> poles = {{150, 140, 1}, {150, 140, 1}};
    auto l = zftest::LoadInto(zftest::FlowImage(300, 280, poles, 90.0, 9.0, 7), 300, 280);
    EXPECT_EQ(l.code, 0);
    return l;
}

TEST(Ifocus, ClassedCellsAreLabelledInRasterOrderAndCopiedDown)
{
    auto l = Whorl();
    l.engine->Ifocus(1);
    Codex& e = *l.engine;
    const int w = e.m_level[3].width;
    const int h = e.m_level[3].height;
    const auto cls = zftest::LayerCopy(e, 129, 3);
    const auto label = zftest::LayerCopy(e, 152, 3);
    int next = 0;
    int singular = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int c = cls[y * w + x];
            ASSERT_TRUE(c == 0 || c == 1 || c == 2 || c == 8) << c;
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1) {
                EXPECT_EQ(c, 0);
                continue;
            }
            singular += c != 0 ? 1 : 0;
            const int lb = label[y * w + x];
            if (lb != 255 && lb >= next) { // the first cell of each label, in raster order
                EXPECT_EQ(lb, next);
                next = lb + 1;
            }
        }
    }
    EXPECT_GE(singular, 1); // a whorl shows as one or two regions here
    EXPECT_GE(next, 1);
    // Level 1 holds the level-3 values block by block.
    for (int id : {129, 152, 37, 48}) {
        SCOPED_TRACE(id);
        const auto fine = zftest::LayerCopy(e, id, 1);
        const auto coarse = zftest::LayerCopy(e, id, 3);
        ASSERT_FALSE(fine.empty());
        const int w1 = e.m_level[1].width;
        EXPECT_EQ(fine[(4 * 10 + 1) * w1 + 4 * 12 + 2], coarse[10 * w + 12]);
    }
    EXPECT_EQ(e.GetKey(240, 3), -1);
    EXPECT_EQ(e.GetKey(241, 3), -1);
}

// Kinds 'A' and 'T' load images of any size; on a level narrower than one block the copies
// down the pyramid stay inside their own layers.
TEST(Ifocus, TinyImagesCopyDownInsideTheirLayers)
{
    for (int side : {4, 8, 12}) {
        SCOPED_TRACE(side);
        auto l = zftest::LoadInto(zftest::Grating(side, side, 30.0, 9.0, 90.0), side, side, 'A');
        ASSERT_EQ(l.code, 0);
        Codex& e = *l.engine;
        e.Ifocus(1);
        const int w3 = e.m_level[3].width;
        const int h3 = e.m_level[3].height;
        for (int level = 1; level <= 2; ++level) {
            const int w = e.m_level[level].width;
            const int h = e.m_level[level].height;
            const int k = 1 << (3 - level);
            // The last block of a row or column is shifted back inside and covers its neighbour.
            auto cell = [k](int v, int n, int cells) {
                const int last = std::max((cells - 1) * k + k > n ? n - k : (cells - 1) * k, 0);
                return v >= last ? cells - 1 : v / k;
            };
            for (int id : {152, 129, 37, 48}) {
                const auto fine = zftest::LayerCopy(e, id, level);
                const auto coarse = zftest::LayerCopy(e, id, 3);
                for (int y = 0; y < h; ++y) {
                    for (int x = 0; x < w; ++x) {
                        ASSERT_EQ(fine[y * w + x], coarse[cell(y, h, h3) * w3 + cell(x, w, w3)])
                            << "layer " << id << " level " << level << " at " << x << "," << y;
                    }
                }
            }
        }
        e.Xfocus(1);
        EXPECT_GE(e.m_singular, 1);
    }
}

// The widening against a plain count of the eight neighbours, cell by cell in raster order, on
// random class planes from sparse to dense (widened cells, class + 128, among them): labels,
// directions and classes agree everywhere.
TEST(Ifocus, WideningMatchesAPlainNeighbourCount)
{
    auto l = Whorl();
    Codex& e = *l.engine;
    e.Ifocus(1);
    const int w = e.m_level[3].width;
    const int h = e.m_level[3].height;
    const std::size_t n = static_cast<std::size_t>(w) * h;
    unsigned char* const layers[3] = {e.m_ifLayer[6], e.m_ifLayer[5],
                                      e.m_ifLayer[7]}; // 129, 152, 37
    auto plain = [w, h](std::vector<unsigned char>& cls, std::vector<unsigned char>& label,
                        std::vector<unsigned char>& dir) {
        auto singular = [](int c) { return c == 1 || c == 2 || c == 8; };
        for (int y = 1; y + 1 < h; ++y) {
            for (int x = 1; x + 1 < w; ++x) {
                const int i = y * w + x;
                if (singular(cls[i])) {
                    continue;
                }
                int count = 0;
                int from = i;
                for (int j :
                     {i - w - 1, i - w, i - w + 1, i - 1, i + 1, i + w - 1, i + w, i + w + 1}) {
                    if (singular(cls[j])) {
                        ++count;
                        from = j;
                    }
                }
                if (count == 1) {
                    label[i] = label[from];
                    dir[i] = dir[from];
                    cls[i] = static_cast<unsigned char>(cls[from] + 128);
                }
            }
        }
    };
    const unsigned char classes[] = {1, 2, 8, 129, 130, 136, 3, 0};
    std::uint32_t seed = 9001;
    for (int density : {1, 4, 16, 60}) {
        SCOPED_TRACE(density);
        std::vector<unsigned char> want[3];
        for (int k = 0; k < 3; ++k) {
            want[k].resize(n);
            for (std::size_t i = 0; i < n; ++i) {
                zftest::Lcg32(seed);
                const unsigned r = seed >> 8;
                want[k][i] = static_cast<unsigned char>(k != 0 ? r
                                                        : r % 100 < static_cast<unsigned>(density)
                                                            ? classes[r % 8]
                                                            : 0);
            }
            std::copy(want[k].begin(), want[k].end(), layers[k]);
        }
        plain(want[0], want[1], want[2]);
        e.IfWideV();
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(std::vector<unsigned char>(layers[k], layers[k] + n), want[k])
                << "layer " << k;
        }
    }
}

TEST(Respon, FieldReachesTheAskedLevelAndAttenuatesTheContrast)
{
    auto l = Whorl();
    l.engine->Respon(1);
    Codex& e = *l.engine;
    for (int level = 1; level <= 3; ++level) {
        EXPECT_NE(e.GetKey(34, level), -1) << level;
        EXPECT_NE(e.GetKey(144, level), -1) << level;
    }
    EXPECT_EQ(e.GetKey(34, 0), -1);
    for (int level = 0; level <= 3; ++level) {
        for (int id : {240, 241, 242, 243}) {
            EXPECT_EQ(e.GetKey(id, level), -1) << id << " at " << level;
        }
    }
    EXPECT_NE(e.GetKey(272, 0), -1);
    EXPECT_NE(e.GetKey(273, 0), -1);
    const auto con = zftest::LayerCopy(e, 114, 3);
    const auto att = zftest::LayerCopy(e, 115, 3);
    ASSERT_EQ(con.size(), att.size());
    for (std::size_t i = 0; i < con.size(); ++i) {
        ASSERT_LE(att[i], con[i]) << i;
    }
    // Off the singular point the field follows the concentric ridges: at (150, 40), straight
    // above the centre, the ridges run east-west.
    const int w2 = e.m_level[2].width;
    const int o = zftest::LayerCopy(e, 34, 2)[10 * w2 + 37];
    EXPECT_LE(CWork::Dist(o, 0), 10) << o;
}

// On a grating every gradient lies across the ridges, along the expected normal: the contrast
// passes unattenuated on the inner cells.
TEST(Respon, GratingKeepsItsContrast)
{
    for (double angle : {0.0, 40.0, 115.0}) {
        SCOPED_TRACE(angle);
        auto l = zftest::LoadInto(zftest::Grating(256, 256, angle, 9.0, 90.0), 256, 256);
        ASSERT_EQ(l.code, 0);
        l.engine->Respon(1);
        const int w = l.engine->m_level[3].width;
        const int h = l.engine->m_level[3].height;
        const auto con = zftest::LayerCopy(*l.engine, 114, 3);
        const auto att = zftest::LayerCopy(*l.engine, 115, 3);
        int cells = 0;
        int kept = 0;
        for (int y = 2; y < h - 2; ++y) {
            for (int x = 2; x < w - 2; ++x) {
                ++cells;
                kept += att[y * w + x] * 10 >= con[y * w + x] * 9 ? 1 : 0;
            }
        }
        EXPECT_GE(kept * 10, cells * 9) << kept << " of " << cells;
    }
}

TEST(Respon, UniformImageGetsTheLeastDivisor)
{
    auto l = zftest::LoadInto(std::vector<unsigned char>(160 * 160, 77), 160, 160, 'A');
    ASSERT_EQ(l.code, 0);
    l.engine->Respon(3); // a target of 3 or more keeps the field at level 3
    EXPECT_EQ(l.engine->m_reDivisor, 1);
    EXPECT_NE(l.engine->GetKey(34, 3), -1);
    EXPECT_EQ(l.engine->GetKey(34, 2), -1);
}

} // namespace
