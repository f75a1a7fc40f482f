// Gallery search on real prints: every FVC2002 DB1 set B impression against the other 79 as
// one-finger records, the NIST rolled record found by its plain record among impostors, and
// the rotation the comparison recovers for a print turned by 20 degrees.

#include "interface/ZelvanFinger.h"
#include "search/AccelLib.h"
#include "tests/support/data_path.h"
#include "tests/support/emulation.h"
#include "tests/support/print_templates.h"
#include "tests/support/real_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using namespace ZelvanFinger;

namespace {

struct MatcherOwner {
    Matcher* m = Matcher::create();
    ~MatcherOwner() { Matcher::cancel(m); }
};

TpTemplate OneFinger(const zftest::Template& t)
{
    TpTemplate r{};
    r.finger[0] = const_cast<unsigned char*>(t.data());
    return r;
}

std::string FvcId(int finger, int impression)
{
    return std::to_string(finger * 10 + impression);
}

// The PGM at `path` turned by `degrees` about its centre (nearest pixel, white outside).
zftest::Template TurnedTemplate(const std::string& path, double degrees)
{
    std::vector<unsigned char> pixels;
    int w = 0;
    int h = 0;
    if (!zftest::ReadPgm(path, pixels, w, h)) {
        return {};
    }
    std::vector<unsigned char> out(pixels.size(), 255);
    const double a = degrees * M_PI / 180.0;
    const double c = std::cos(a);
    const double s = std::sin(a);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double dx = x - w / 2.0;
            const double dy = y - h / 2.0;
            const int sx = static_cast<int>(std::lround(w / 2.0 + c * dx + s * dy));
            const int sy = static_cast<int>(std::lround(h / 2.0 - s * dx + c * dy));
            if (sx >= 0 && sx < w && sy >= 0 && sy < h) {
                out[static_cast<std::size_t>(y * w + x)] =
                    pixels[static_cast<std::size_t>(sy * w + sx)];
            }
        }
    }
    TemplateCreator* creator = TemplateCreator::create();
    RawImage image{1, w, h, out.data()};
    unsigned size = 0;
    unsigned char quality = 0;
    zftest::Template t;
    if (creator->createTemplate(image, size, quality) == 0) {
        t.resize(size);
        creator->getTemplate(t.data());
    }
    TemplateCreator::cancel(creator);
    return t;
}

} // namespace

TEST(AccelReal, FvcImpressionsFindTheirMateFirst)
{
    if (zftest::SharedData("fingerprints/fvc2002_db1_b/101_1.pgm").empty()) {
        GTEST_SKIP() << "shared FVC2002 DB1 set B images are absent";
    }
    const int fingers = zftest::InputSize(10, 3);
    MatcherOwner owner;
    for (int f = 101; f < 101 + fingers; ++f) {
        for (int i = 1; i <= 8; ++i) {
            std::string id = FvcId(f, i);
            TpTemplate r = OneFinger(zftest::FvcTemplate(f, i));
            ASSERT_EQ(owner.m->insertRecord(id, r), 0) << id;
        }
    }
    MatchingParameters p{0, 180, 180, 0};
    int hits = 0;
    std::string misses;
    for (int f = 101; f < 101 + fingers; ++f) {
        for (int i = 1; i <= 8; ++i) {
            TpTemplate probe = OneFinger(zftest::FvcTemplate(f, i));
            std::vector<candidates_string> c;
            ASSERT_EQ(owner.m->identify_record(p, probe, 1, 4, c), 0);
            ASSERT_FALSE(c.empty());
            // A record searched with its own template ranks first (ties keep enrolment order).
            bool self = false;
            std::size_t other = c.size();
            for (std::size_t k = 0; k < c.size(); ++k) {
                if (c[k].id == FvcId(f, i)) {
                    self = c[k].score == c[0].score;
                } else if (other == c.size()) {
                    other = k;
                }
            }
            EXPECT_TRUE(self) << FvcId(f, i);
            const bool hit = other < c.size() && c[other].id.substr(0, 3) == std::to_string(f);
            hits += hit ? 1 : 0;
            if (!hit) {
                misses += " " + FvcId(f, i);
            }
        }
    }
    std::printf("rank-1: %d of %d; misses:%s\n", hits, fingers * 8, misses.c_str());
    RecordProperty("rank1", hits);
    EXPECT_GE(hits, fingers * 8 * 76 / 80) << "misses:" << misses;
}

TEST(AccelReal, RolledRecordFoundByPlainRecord)
{
    zftest::RealRecord rolled = zftest::Rolled();
    zftest::RealRecord plain = zftest::Plain();
    if (rolled.count() == 0 || plain.count() == 0) {
        GTEST_SKIP() << "NIST card prints are absent";
    }
    for (int mode : {0, 3}) {
        SCOPED_TRACE(mode);
        MatcherOwner owner;
        zftest::RealRecord fvc = zftest::FvcOthers();
        zftest::RealRecord minex = zftest::MinexOthers();
        const struct {
            const char* id;
            zftest::RealRecord* r;
        } enrol[] = {{"1", &fvc}, {"2", &minex}, {"3", &rolled}};
        for (const auto& e : enrol) {
            if (e.r->count() == 0) {
                continue;
            }
            std::string id = e.id;
            TpTemplate t = e.r->record();
            ASSERT_EQ(owner.m->insertRecord(id, t), 0) << id;
        }
        MatchingParameters p{0, 180, 180, mode};
        TpTemplate probe = plain.record();
        std::vector<candidates_string> c;
        ASSERT_EQ(owner.m->identify_record(p, probe, 1, 3, c), 0);
        ASSERT_FALSE(c.empty());
        EXPECT_EQ(c[0].id, "3");
        if (c.size() > 1) {
            EXPECT_GT(c[0].score, c[1].score);
        }
    }
}

TEST(AccelReal, TurnedPrintRecoversTheRotation)
{
    const std::string path = zftest::SharedData("fingerprints/fvc2002_db1_b/103_1.pgm");
    if (path.empty()) {
        GTEST_SKIP() << "shared FVC2002 DB1 set B images are absent";
    }
    const zftest::Template& base = zftest::FvcTemplate(103, 1);
    const zftest::Template turned = TurnedTemplate(path, 20.0);
    ASSERT_FALSE(base.empty());
    ASSERT_FALSE(turned.empty());
    void* handle = nullptr;
    unsigned threads = 1;
    ASSERT_EQ(accelMatch::initAccelLib(&handle, threads), 0);
    std::vector<unsigned char> accel(accelMatch::getMaximumAccelSize(10));
    TpTemplate g = OneFinger(turned);
    unsigned size = 0;
    ASSERT_EQ(accelMatch::calcAccel(handle, g, accel.data(), size, nullptr), 0);
    TpTemplate probe = OneFinger(base);
    ASSERT_EQ(accelMatch::loadAccelTP(handle, probe, nullptr), 0);
    accelMatch::AccelData* data = static_cast<accelMatch::AccelData*>(handle);
    accelMatch::TpAccel view;
    ASSERT_TRUE(view.readFromBuffer(accel.data()));
    accelMatch::AccelSearchParam sp{0, 180, 180, -1, 0, 0, 5, 0, 0, 0, 10000};
    std::uint32_t row[accelMatch::SPEED_COLUMNS];
    accelMatch::getSpeedParams(0, row, 73, 1);
    accelMatch::ThreadData& t = data->slots[0];
    t.spare->clear();
    int score = 0;
    ASSERT_EQ(accelMatch::compAccel(data, sp, row, 0, view.finger[0], score, &t.galleryNests,
                                    t.pool, 0, t.spare),
              0);
    EXPECT_GT(score, 0);
    // Gallery minus probe direction: +20 degrees is 5 units (the image's y axis points down,
    // so the turn may read as -5).
    const int rotation = accelMatch::AcFold(t.spare->rotation);
    std::printf("score %d rotation %d units\n", score, rotation);
    EXPECT_LE(std::abs(std::abs(rotation) - 5), 1);
    accelMatch::closeAccelLib(&handle);
}
