// Invariance of the match on the FVC2002 DB1 set B prints (whole-print search, speed 0,
// rotation limit 40): copies turned by up to 35 degrees and shifted keep at least 90 % of
// the self score and report their turn; a copy turned by 60 degrees scores no more than the
// set's impostors; a print turned and shifted on a larger canvas and extracted again scores
// above the impostors' 99th percentile. Reduced under emulation.

#include "matching/Matcher100.h"
#include "records/TemplateFormat.h"
#include "records/Unwrap.h"
#include "tests/support/data_path.h"
#include "tests/support/emulation.h"
#include "tests/support/fvc_sets.h"
#include "tests/support/template_copies.h"
#include "tests/support/template_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace accelMatch {
namespace {

constexpr int LIMIT = 40;
const char* const SET = "fvc2002_db1_b";

int Score(Matcher100& m, const std::vector<unsigned char>& p, const std::vector<unsigned char>& g,
          int* rotation = nullptr)
{
    std::vector<unsigned char> a = p;
    std::vector<unsigned char> b = g;
    EXPECT_EQ(m.loadTemplate(true, a.data(), FP_PLAIN, nullptr, 0, 0), 0);
    EXPECT_EQ(m.loadTemplate(false, b.data(), FP_PLAIN, nullptr, 0, 0), 0);
    MatchResult r;
    EXPECT_EQ(m.match(r, LIMIT, 0, false, nullptr, nullptr, 0, false), 0);
    if (rotation != nullptr) {
        *rotation = r.rotation;
    }
    return r.score;
}

struct Prints {
    std::vector<std::vector<unsigned char>> tpl; // by index (finger - 101) x 8 + impression - 1
    int impostorMax = 0;
    int impostorP99 = 0;
};

// Templates of the first `fingers` fingers and the scores of their impostor pairs.
bool LoadPrints(Matcher100& m, int fingers, Prints& out)
{
    for (int i = 0; i < fingers * zftest::FVC_IMPRESSIONS; ++i) {
        out.tpl.push_back(zftest::FvcSetTemplate(SET, 101 + i / 8, 1 + i % 8));
        if (out.tpl.back().empty()) {
            return false;
        }
    }
    std::vector<int> impostor;
    for (const zftest::FvcPair& pair : zftest::FvcPairs()) {
        if (!pair.genuine && pair.gallery < static_cast<int>(out.tpl.size())) {
            impostor.push_back(Score(m, out.tpl[static_cast<std::size_t>(pair.probe)],
                                     out.tpl[static_cast<std::size_t>(pair.gallery)]));
        }
    }
    std::sort(impostor.begin(), impostor.end());
    out.impostorMax = impostor.back();
    out.impostorP99 = impostor[impostor.size() * 99 / 100];
    return true;
}

TEST(Invariance, TurnedAndShiftedCopies)
{
    setDefaultTransitionMatrix();
    auto m = std::make_unique<Matcher100>();
    Prints prints;
    if (!LoadPrints(*m, zftest::InputSize(zftest::FVC_FINGERS, 2), prints)) {
        GTEST_SKIP() << "shared FVC2002 prints absent";
    }
    int checked = 0;
    for (std::size_t i = 0; i < prints.tpl.size(); ++i) {
        const std::vector<unsigned char>& source = prints.tpl[i];
        const int self = Score(*m, source, source);
        for (const int theta : {-35, -20, 0, 20, 35}) {
            SCOPED_TRACE(testing::Message() << "print " << i << " theta " << theta);
            int rotation = 0;
            const int s = Score(*m, source, zftest::TurnedCopy(source, theta, 30, -20), &rotation);
            EXPECT_GE(s * 10, self * 9);
            EXPECT_LE(std::abs(rotation - theta), 2);
            ++checked;
        }
        SCOPED_TRACE(testing::Message() << "print " << i << " theta 60");
        EXPECT_LE(Score(*m, source, zftest::TurnedCopy(source, 60, 30, -20)), prints.impostorMax);
    }
    EXPECT_EQ(checked, static_cast<int>(prints.tpl.size()) * 5);
    std::printf("impostor max %d, p99 %d\n", prints.impostorMax, prints.impostorP99);
}

struct ReaderDeleter {
    void operator()(ESK::Unwrap* p) const { ESK::Unwrap::cancel(p); }
};

// A copy of the print (on the copies' larger canvas, not turned) whose right half is cut
// away: its minutiae and the links to them removed. With markCut the cut half's cells are
// outside the print in the mask, else the whole mask is inside. Empty when it cannot be made.
std::vector<unsigned char> CutCopy(const std::vector<unsigned char>& source, bool markCut,
                                   int& cutX)
{
    const std::vector<unsigned char> copy = zftest::TurnedCopy(source, 0, 0, 0);
    if (copy.empty()) {
        return {};
    }
    std::unique_ptr<ESK::Unwrap, ReaderDeleter> reader(ESK::Unwrap::create());
    reader->versor(ESK::ESK_ACCESS_CODE);
    reader->factor(false);
    const unsigned char* rec = copy.data() + TF_PREFIX_SIZE;
    const unsigned n = reader->idnova(rec);
    std::vector<ESK::Sign> minutiae(n + 1);
    std::vector<ESK::Link> links(n + 1);
    if (reader->denova(minutiae.data(), rec) != n ||
        reader->denest(links.data(), minutiae.data(), static_cast<unsigned short>(n), rec) != n) {
        return {};
    }
    zftest::RecordPlan plan;
    plan.quality = reader->qualit(rec);
    plan.density = reader->densit(rec);
    plan.linkno = rec[TF_LINKNO];
    plan.sizeX = reader->size_x(rec);
    plan.sizeY = reader->size_y(rec);
    cutX = plan.sizeX / 2;
    std::vector<int> index(n, -1);
    for (unsigned i = 0; i < n; ++i) {
        if (minutiae[i].x < cutX) {
            index[i] = static_cast<int>(plan.minutiae.size());
            zftest::PointPlan p;
            p.x = minutiae[i].x;
            p.y = minutiae[i].y;
            p.type = minutiae[i].type;
            p.level = static_cast<std::uint8_t>(minutiae[i].level - TF_DENSITY_BIAS);
            p.quality = minutiae[i].quality;
            p.angle = static_cast<std::uint8_t>(minutiae[i].angle / 2);
            plan.minutiae.push_back(p);
        }
    }
    for (unsigned i = 0; i < n; ++i) {
        if (index[i] < 0) {
            continue;
        }
        std::vector<zftest::LinkPlan> kept;
        for (int s = 0; s < links[i].count; ++s) {
            const ESK::LinkSlot& slot = links[i].slot[s];
            if (slot.code == 0 || index[slot.neighbour] < 0) {
                continue;
            }
            // The reader adds 8 to codes whose neighbour has type 1; writing the decoded value
            // back (without that bit where it is not part of the stored code) reads the same.
            const std::uint8_t code = (slot.code & 3) == 3 ? slot.code : slot.code & 7;
            kept.push_back(
                {s, code, static_cast<std::uint16_t>(index[slot.neighbour]), slot.extra});
        }
        plan.links.push_back(kept);
    }
    plan.area.w = static_cast<std::uint16_t>((plan.sizeX + 7) / 8);
    plan.area.h = static_cast<std::uint16_t>((plan.sizeY + 7) / 8);
    plan.area.outside.assign(static_cast<std::size_t>(plan.area.w) * plan.area.h, 0);
    for (int row = 0; markCut && row < plan.area.h; ++row) {
        for (int col = cutX / 8; col < plan.area.w; ++col) {
            plan.area.outside[static_cast<std::size_t>(row) * plan.area.w + col] = 1;
        }
    }
    return zftest::BuildTemplate(plan);
}

TEST(Invariance, HalfCutCopies)
{
    setDefaultTransitionMatrix();
    auto m = std::make_unique<Matcher100>();
    Prints prints;
    if (!LoadPrints(*m, zftest::InputSize(zftest::FVC_FINGERS, 2), prints)) {
        GTEST_SKIP() << "shared FVC2002 prints absent";
    }
    int above = 0;
    int cuts = 0;
    int wellInside = 0;
    for (std::size_t i = 0; i < prints.tpl.size(); i += zftest::FVC_IMPRESSIONS / 2) {
        SCOPED_TRACE(testing::Message() << "print " << i);
        int cutX = 0;
        const std::vector<unsigned char> inside = CutCopy(prints.tpl[i], false, cutX);
        const std::vector<unsigned char> marked = CutCopy(prints.tpl[i], true, cutX);
        ASSERT_FALSE(inside.empty() || marked.empty());
        const int plain = Score(*m, prints.tpl[i], inside);
        above += plain > prints.impostorMax ? 1 : 0;
        ++cuts;
        const int withMask = Score(*m, prints.tpl[i], marked);
        EXPECT_GE(withMask, plain);
        // Aligned by the kept pairs, the probe minutiae carried three cells or more into the
        // cut half are excluded.
        GroupEx& g = m->m_kernelGroups[0];
        g.reset();
        MatchResult r;
        std::vector<unsigned char> a = prints.tpl[i];
        std::vector<unsigned char> b = marked;
        ASSERT_EQ(m->loadTemplate(true, a.data(), FP_PLAIN, nullptr, 0, 0), 0);
        ASSERT_EQ(m->loadTemplate(false, b.data(), FP_PLAIN, nullptr, 0, 0), 0);
        ASSERT_EQ(m->match(r, LIMIT, 0, false, nullptr, nullptr, 0, false), 0);
        g.reset();
        for (unsigned k = 0; k < r.numPairs; ++k) {
            g.add(r.pairs[k].np, r.pairs[k].ng, 0);
        }
        m->m_curGroup = &g;
        m->combineFingerprintsByCurGroup(&g, true, true, true);
        m->findExclude();
        for (int k = 0; k < m->m_numNestP; ++k) {
            const MinutiaeShort& c = m->m_carriedP[k];
            if (c.x >= cutX + 24 && c.y >= 24 && c.y < m->m_areaHeightG * 8 - 24) {
                EXPECT_NE(m->m_excludeP[k], 0) << "minutia " << k;
                ++wellInside;
            }
        }
    }
    EXPECT_GT(wellInside, 0);
    // Half a print scores above every impostor for all prints but one (102_5, measured 3310
    // against an impostor maximum of 4165, keeps too little).
    EXPECT_GE(above, cuts - 1);
    std::printf("half copies above the impostor maximum: %d of %d\n", above, cuts);
}

// The image turned by theta about its centre and shifted by (dx, dy) on a white canvas with
// a margin on every side (nearest pixel).
std::vector<unsigned char> TurnedImage(const std::vector<unsigned char>& src, int w, int h,
                                       int theta, int dx, int dy, int margin, int& outW, int& outH)
{
    outW = w + 2 * margin;
    outH = h + 2 * margin;
    std::vector<unsigned char> out(static_cast<std::size_t>(outW) * outH, 255);
    const double a = theta * 3.14159265358979323846 / 180.0;
    const double c = std::cos(a);
    const double s = std::sin(a);
    for (int y = 0; y < outH; ++y) {
        for (int x = 0; x < outW; ++x) {
            // Inverse map: canvas point back into the source.
            const double u = x - margin - dx - w / 2.0;
            const double v = y - margin - dy - h / 2.0;
            const int sx = static_cast<int>(std::lround(c * u + s * v + w / 2.0));
            const int sy = static_cast<int>(std::lround(-s * u + c * v + h / 2.0));
            if (sx >= 0 && sx < w && sy >= 0 && sy < h) {
                out[static_cast<std::size_t>(y) * outW + x] =
                    src[static_cast<std::size_t>(sy) * w + sx];
            }
        }
    }
    return out;
}

// Template of 8-bit pixels through a temporary PGM file and the public creator.
std::vector<unsigned char> TemplateOfPixels(const std::vector<unsigned char>& pixels, int w, int h)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / "zf_turned_print.pgm").string();
    {
        std::ofstream out(path, std::ios::binary);
        out << "P5\n" << w << " " << h << "\n255\n";
        out.write(reinterpret_cast<const char*>(pixels.data()),
                  static_cast<std::streamsize>(pixels.size()));
    }
    std::vector<unsigned char> tpl = zftest::TemplateFromPgm(path, 1);
    std::remove(path.c_str());
    return tpl;
}

TEST(Invariance, ReExtractedTurnedImage)
{
    setDefaultTransitionMatrix();
    auto m = std::make_unique<Matcher100>();
    Prints prints;
    if (!LoadPrints(*m, zftest::InputSize(zftest::FVC_FINGERS, 2), prints)) {
        GTEST_SKIP() << "shared FVC2002 prints absent";
    }
    const int fingers = static_cast<int>(prints.tpl.size()) / zftest::FVC_IMPRESSIONS;
    int above = 0;
    for (int f = 0; f < fingers; ++f) {
        const std::string name = std::to_string(101 + f) + "_1";
        std::vector<unsigned char> pixels;
        int w = 0;
        int h = 0;
        ASSERT_TRUE(zftest::ReadPgm(
            zftest::SharedData(std::string("fingerprints/") + SET + "/" + name + ".pgm"), pixels, w,
            h));
        int tw = 0;
        int th = 0;
        const std::vector<unsigned char> turned = TurnedImage(pixels, w, h, 20, 40, 40, 80, tw, th);
        const std::vector<unsigned char> tpl = TemplateOfPixels(turned, tw, th);
        ASSERT_FALSE(tpl.empty()) << name;
        const int s = Score(*m, prints.tpl[static_cast<std::size_t>(f) * 8], tpl);
        SCOPED_TRACE(name);
        EXPECT_GT(s, prints.impostorP99);
        above += s > prints.impostorP99 ? 1 : 0;
    }
    RecordProperty("above_p99", above);
}

} // namespace
} // namespace accelMatch
