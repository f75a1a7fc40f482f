// The matcher core on real templates (FVC2002 DB1 set B and MINEX, made through the public
// template creator): every template loads on both sides; mutated templates are refused or
// loaded and compared without harm; turned and shifted copies with known correspondences
// find their own nests and their alignment; and the best nest similarities separate mated
// from non-mated prints. Skipped without the shared data.

#include "matching/Matcher100.h"
#include "tests/matching/matcher_fixture.h"
#include "tests/support/data_path.h"
#include "tests/support/emulation.h"
#include "tests/support/fvc_sets.h"
#include "tests/support/nest_selection.h"
#include "tests/support/print_templates.h"
#include "tests/support/template_copies.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace {

using namespace accelMatch;
using zftest::Template;

const char* const kSet = "fvc2002_db1_b";
const char* const kMinex[] = {"a001_03p", "a001_04p", "a001_05p", "a001_06p", "a001_07p",
                              "a004_05p", "a999_01p", "b001_04p", "b001_06p", "b001_08p"};
const int kMinexFinger[] = {3, 4, 5, 6, 7, 5, 1, 4, 6, 8};

// Arc of two degrees per unit of radius: the rotation is estimated in whole degrees (rounded
// up for negative values) and points are carried along whole-degree directions.
constexpr double kTwoDegrees = 2 * 3.14159265358979 / 180;

// The first `count` prints of the set, by file name; empty when the data is absent.
std::vector<const Template*> FvcPrints(int count)
{
    std::vector<const Template*> out;
    for (int k = 0; k < count; ++k) {
        const Template& t =
            zftest::FvcSetTemplate(kSet, zftest::FVC_FIRST_FINGER + k / 8, k % 8 + 1);
        if (t.empty()) {
            return {};
        }
        out.push_back(&t);
    }
    return out;
}

int Load(Matcher100& m, bool isP, const Template& t)
{
    Template copy = t;
    return m.loadTemplate(isP, copy.data(), FP_PLAIN, nullptr, 0, 0);
}

// Mean similarity of the ten best nest pairs.
double MeanOfTenBest(const Matcher100& m)
{
    const unsigned n = std::min(10u, m.m_numBestNests);
    double sum = 0;
    for (unsigned k = 0; k < n; ++k) {
        sum += m.m_bestNests[k].sim;
    }
    return n == 0 ? 0 : sum / 10;
}

double Percentile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    const std::size_t k = static_cast<std::size_t>(q * (v.size() - 1) + 0.5);
    return v[k];
}

// Every template loads as probe and as gallery with its minutia count (cut to 255) and
// symmetric pair lengths.
void CheckLoadOnBothSides()
{
    std::vector<Template> prints;
    for (const Template* t : FvcPrints(zftest::InputSize(80, 12))) {
        prints.push_back(*t);
    }
    for (int k = 0; k < zftest::InputSize(10, 3); ++k) {
        const std::string path =
            zftest::SharedData(std::string("fingerprints/minex_sd29/") + kMinex[k] + ".pgm");
        prints.push_back(zftest::TemplateFromPgm(path, kMinexFinger[k]));
        if (prints.back().empty()) {
            // Only what the creator makes is asked to load.
            std::printf("no template made from %s\n", kMinex[k]);
            prints.pop_back();
        }
    }
    setDefaultTransitionMatrix();
    auto m = std::make_unique<Matcher100>();
    ESK::Unwrap* reader = m->m_unwrap;
    for (std::size_t k = 0; k < prints.size(); ++k) {
        SCOPED_TRACE(k);
        const unsigned n = reader->idnova(prints[k].data() + TF_PREFIX_SIZE);
        const int want = static_cast<int>(std::min(n, 255u));
        ASSERT_EQ(Load(*m, true, prints[k]), 0);
        ASSERT_EQ(Load(*m, false, prints[k]), 0);
        EXPECT_EQ(m->m_numNestP, want);
        EXPECT_EQ(m->m_numNestG, want);
        EXPECT_GT(want, 5);
        bool symmetric = true;
        for (int i = 0; i < want; ++i) {
            for (int j = i + 1; j < want; ++j) {
                symmetric = symmetric && m->m_pairSetP.getLen(i, j) == m->m_pairSetP.getLen(j, i) &&
                            m->m_pairSetG.getLen(i, j) == m->m_pairSetP.getLen(i, j);
            }
        }
        EXPECT_TRUE(symmetric);
        // The signatures made with the link tables are calcNestAccel's, the probe's with the
        // neighbouring levels.
        bool sameSignatures = true;
        for (int i = 0; i < want; ++i) {
            NestAccel p;
            NestAccel g;
            calcNestAccel(true, p, m->m_minutiaeP, m->m_linksP, static_cast<unsigned>(want),
                          static_cast<unsigned>(i), m->m_pairSetP);
            calcNestAccel(false, g, m->m_minutiaeG, m->m_linksG, static_cast<unsigned>(want),
                          static_cast<unsigned>(i), m->m_pairSetG);
            sameSignatures = sameSignatures && std::memcmp(&p, &m->m_accelP[i], sizeof p) == 0 &&
                             std::memcmp(&g, &m->m_accelG[i], sizeof g) == 0;
        }
        EXPECT_TRUE(sameSignatures);
        // Each minutia's family slot sets: the slots that link another minutia by a code of
        // that family (codes from 16 on by the family of their low four bits).
        const LinkCodeFamilies& families = linkCodeFamilies();
        bool sameFamilies = true;
        for (int i = 0; i < want; ++i) {
            std::uint64_t expected[2] = {};
            const ESK::Link& link = m->m_linksG[i];
            for (int s = 0; s < std::min<int>(link.count, ESK::ESK_LINK_SLOTS); ++s) {
                const ESK::LinkSlot& slot = link.slot[s];
                const int family = families[slot.code & 15];
                if (slot.code != 0 && slot.neighbour < want && slot.neighbour != i &&
                    (family == 0 || family == 1)) {
                    expected[family] |= std::uint64_t{1} << s;
                }
            }
            sameFamilies = sameFamilies && m->m_neighboursG[i].familySlots[0] == expected[0] &&
                           m->m_neighboursG[i].familySlots[1] == expected[1];
        }
        EXPECT_TRUE(sameFamilies);
        // A print against itself: every nest pair lies within the rotation limit.
        EXPECT_EQ(m->compareAllNestAccel(), want * want);
        zftest::ExpectLoadedQuadrants(*m);
    }
}

TEST(RealTemplates, MutatedTemplatesAreRefusedOrComparedSafely)
{
    const std::vector<const Template*> prints = FvcPrints(zftest::InputSize(8, 2));
    if (prints.empty()) {
        GTEST_SKIP() << "shared FVC2002 data absent";
    }
    setDefaultTransitionMatrix();
    auto m = std::make_unique<Matcher100>();
    std::uint32_t seed = 20261210u;
    const auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    int loaded = 0;
    int refused = 0;
    const int rounds = zftest::InputSize(120, 20);
    for (const Template* source : prints) {
        for (int round = 0; round < rounds; ++round) {
            zftest::Bytes t = *source;
            const std::size_t length = t.size() - TF_PREFIX_SIZE;
            // 1 to 4 bytes changed anywhere in the record; mostly resealed, so that the
            // sections are decoded and not just the seal refused.
            const int changes = 1 + static_cast<int>(next() % 4);
            for (int c = 0; c < changes; ++c) {
                t[TF_PREFIX_SIZE + next() % length] ^= static_cast<unsigned char>(1 + next() % 255);
            }
            if (next() % 4 != 0) {
                zftest::Bytes rec(t.begin() + TF_PREFIX_SIZE, t.end());
                if (TfRead32(rec.data()) == rec.size()) {
                    zftest::Seal(rec);
                    std::copy(rec.begin(), rec.end(), t.begin() + TF_PREFIX_SIZE);
                }
            }
            const bool isP = (round & 1) == 0;
            if (Load(*m, !isP, *source) != 0) {
                ADD_FAILURE() << "the source no longer loads";
                return;
            }
            const int code = m->loadTemplate(isP, t.data(), FP_PLAIN, nullptr, 0, 0);
            if (code == 0) {
                ++loaded;
            } else {
                ++refused;
                EXPECT_EQ(code, isP ? MA_ERR_BAD_PROBE : MA_ERR_BAD_GALLERY);
            }
            zftest::ChooseSeeds(*m);
        }
    }
    std::printf("mutated templates: %d loaded, %d refused\n", loaded, refused);
    EXPECT_GT(loaded, 0);
    EXPECT_GT(refused, 0);
}

// Distinct neighbours of nest i that the comparison can pair: kept, and not i itself.
int LinkableNeighbours(const Matcher100& m, int i)
{
    std::set<int> n;
    const ESK::Link& link = m.m_linksP[i];
    for (int k = 0; k < link.count && k < ESK::ESK_LINK_SLOTS; ++k) {
        const ESK::LinkSlot& s = link.slot[k];
        if (s.code != 0 && s.neighbour != i && s.neighbour < m.m_numNestP &&
            T2T[s.code & 15][s.code & 15] <= MPT) {
            n.insert(s.neighbour);
        }
    }
    return static_cast<int>(n.size());
}

// Turned and shifted copies: their nests pair link for link at 0 degrees, the true pairs lead
// the best-nest list, and ten true pairs give the rotation and carry the copy back.
void CheckTurnedCopies()
{
    const std::vector<const Template*> prints = FvcPrints(zftest::InputSize(80, 8));
    setDefaultTransitionMatrix();
    auto m = std::make_unique<Matcher100>();
    ESK::Unwrap* reader = m->m_unwrap;
    for (int theta : {-45, -20, 0, 20, 45}) {
        SCOPED_TRACE(theta);
        double trueShare = 0;
        int worstRotation = 0;
        double worstDistance = 0;
        double worstExcess = 0;
        int within3 = 0;
        int carried = 0;
        for (const Template* source : prints) {
            const Template copy = zftest::TurnedCopy(*source, theta, 30, -20);
            ASSERT_EQ(Load(*m, true, *source), 0);
            ASSERT_EQ(Load(*m, false, copy), 0);
            ASSERT_EQ(m->m_numNestP, m->m_numNestG);
            const int n = m->m_numNestP;

            // At 0 degrees every link of a nest pairs with its copy.
            if (theta == 0) {
                m->setDistErrorLevel(2);
                for (int i = 0; i < n; ++i) {
                    m->compNestsAlt(static_cast<short>(i), static_cast<short>(i), 0,
                                    m->nestRotation(i, i));
                    ASSERT_EQ(m->m_scratchHit.m_numItems, LinkableNeighbours(*m, i)) << i;
                }
            }

            // The true pairs lead the best-nest list.
            zftest::SelectBestNests(*m);
            const unsigned top = std::min(20u, m->m_numBestNests);
            unsigned mates = 0;
            for (unsigned k = 0; k < top; ++k) {
                mates += m->m_bestNests[k].np == m->m_bestNests[k].ng ? 1 : 0;
            }
            trueShare += top == 0 ? 0 : static_cast<double>(mates) / top;

            // Ten true pairs align the copy with its source.
            GroupEx& g = m->m_kernelGroups[0];
            g.reset();
            for (int k = 0; k < 10; ++k) {
                g.add(k * n / 10, k * n / 10, 0);
            }
            const int rotation = m->combineFingerprintsByCurGroup(&g, false, true, true);
            worstRotation = std::max(worstRotation, std::abs(wrap180(rotation + theta)));
            for (int i = 0; i < n; ++i) {
                const double dx = m->m_carriedG[i].x - m->m_minutiaeP[i].x;
                const double dy = m->m_carriedG[i].y - m->m_minutiaeP[i].y;
                const double rx = m->m_minutiaeP[i].x - g.m_centrePX;
                const double ry = m->m_minutiaeP[i].y - g.m_centrePY;
                const double r = std::sqrt(rx * rx + ry * ry);
                const double e = std::sqrt(dx * dx + dy * dy);
                worstDistance = std::max(worstDistance, e);
                worstExcess = std::max(worstExcess, e - r * kTwoDegrees);
                within3 += e <= 3.0 ? 1 : 0;
                carried += 1;
            }
        }
        trueShare /= static_cast<double>(prints.size());
        std::printf("theta %3d: true pairs %.1f %% of the 20 best nests, rotation off by %d, "
                    "carried minutiae within %.2f px (%.1f %% within 3 px, worst excess over two "
                    "degrees of arc %.2f px)\n",
                    theta, 100 * trueShare, worstRotation, worstDistance, 100.0 * within3 / carried,
                    worstExcess);
        EXPECT_GE(trueShare, 0.8);
        EXPECT_LE(worstRotation, 1);
        EXPECT_LE(worstExcess, 3.0);
        EXPECT_GE(within3, carried * 85 / 100);
    }
    (void)reader;
}

// The mean similarity of the ten best nest pairs, mated against non-mated pairs.
void CheckSeparation()
{
    const int count = zftest::InputSize(80, 16);
    const std::vector<const Template*> prints = FvcPrints(count);
    setDefaultTransitionMatrix();
    auto m = std::make_unique<Matcher100>();
    std::vector<double> genuine;
    std::vector<double> impostor;
    int loadedP = -1;
    for (const zftest::FvcPair& pair : zftest::FvcPairs()) {
        if (pair.probe >= count || pair.gallery >= count) {
            continue;
        }
        if (loadedP != pair.probe) {
            ASSERT_EQ(Load(*m, true, *prints[static_cast<std::size_t>(pair.probe)]), 0);
            loadedP = pair.probe;
        }
        ASSERT_EQ(Load(*m, false, *prints[static_cast<std::size_t>(pair.gallery)]), 0);
        zftest::SelectBestNests(*m);
        (pair.genuine ? genuine : impostor).push_back(MeanOfTenBest(*m));
    }
    ASSERT_FALSE(genuine.empty());
    ASSERT_FALSE(impostor.empty());
    const double q[] = {0.0, 0.1, 0.25, 0.5, 0.75, 0.9, 0.99, 1.0};
    for (const auto* set : {&genuine, &impostor}) {
        std::printf("%s (%zu pairs):", set == &genuine ? "genuine" : "impostor", set->size());
        for (double v : q) {
            std::printf(" p%g %.0f", 100 * v, Percentile(*set, v));
        }
        std::printf("\n");
    }
    EXPECT_GT(Percentile(genuine, 0.5), Percentile(impostor, 0.9));
}

// One test, so that the 80 templates are made once.
TEST(RealTemplates, LoadSelectAndAlign)
{
    if (FvcPrints(1).empty()) {
        GTEST_SKIP() << "shared FVC2002 data absent";
    }
    {
        SCOPED_TRACE("loading");
        CheckLoadOnBothSides();
    }
    {
        SCOPED_TRACE("turned copies");
        CheckTurnedCopies();
    }
    {
        SCOPED_TRACE("separation");
        CheckSeparation();
    }
}

} // namespace
