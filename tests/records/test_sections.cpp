// Section decoders through written records: points, links, ridge counts and the area mask
// come back as written, the stream-end tolerance holds, and over-long lists are refused.

#include "records/Access_decode.h"
#include "records/TemplateFormat.h"
#include "records/Unwrap.h"
#include "tests/support/template_writer.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

using zftest::Bytes;
using zftest::PointPlan;
using zftest::RecordPlan;

namespace {

struct ReaderDeleter {
    void operator()(ESK::Unwrap* p) const { ESK::Unwrap::cancel(p); }
};
using Reader = std::unique_ptr<ESK::Unwrap, ReaderDeleter>;

Reader OpenReader(bool factor = false)
{
    Reader r(ESK::Unwrap::create());
    r->versor(ESK::ESK_ACCESS_CODE);
    r->factor(factor);
    return r;
}

void ExpectPoints(const std::vector<PointPlan>& written, const ESK::Lot<short>* read, bool factor)
{
    for (std::size_t k = 0; k < written.size(); ++k) {
        SCOPED_TRACE(k);
        const PointPlan& w = written[k];
        const int angle = factor ? ((w.angle * 2 * 365) >> 9) & 255 : w.angle * 2;
        EXPECT_EQ(static_cast<int>(read[k].x), w.x);
        EXPECT_EQ(static_cast<int>(read[k].y), w.y);
        EXPECT_EQ(read[k].type, w.type);
        EXPECT_EQ(read[k].level, w.level + 32);
        EXPECT_EQ(read[k].quality, w.quality);
        EXPECT_EQ(static_cast<int>(read[k].angle), angle);
        EXPECT_EQ(read[k].axis, 0);
        EXPECT_EQ(read[k].aux, 0);
    }
}

} // namespace

TEST(Arctg, TableIsTheRoundedArctangent)
{
    const double pi = std::acos(-1.0);
    int checked = 0;
    for (int i = 0; i <= 256; ++i) {
        const double exact = std::atan((i + 0.5) / 256.0) * 128.0 / pi;
        EXPECT_EQ(ESK::TbArctg[i], static_cast<int>(std::floor(exact + 0.5))) << i;
        EXPECT_GT(std::fabs(exact - std::floor(exact) - 0.5), 1e-6) << "tie at " << i;
        ++checked;
    }
    EXPECT_EQ(checked, 257);
}

TEST(Arctg, FollowsAtan2InEveryOctantWithinOneUnit)
{
    const double pi = std::acos(-1.0);
    EXPECT_EQ(ESK::Arctg(5, 0), 0);
    EXPECT_EQ(ESK::Arctg(0, 5), 64);
    EXPECT_EQ(ESK::Arctg(-5, 0), 128);
    EXPECT_EQ(ESK::Arctg(0, -5), 192);
    EXPECT_EQ(ESK::Arctg(0, 0), 0);
    int checked = 0;
    for (int dy = -40; dy <= 40; dy += 3) {
        for (int dx = -40; dx <= 40; dx += 3) {
            double exact = std::atan2(dy, dx) * 128.0 / pi;
            exact = exact < 0 ? exact + 256.0 : exact;
            int diff = ESK::Arctg(dx, dy) - static_cast<int>(std::lround(exact));
            diff = (diff + 384) % 256 - 128; // wrap into -128..127
            EXPECT_LE(std::abs(diff), 1) << dx << "," << dy;
            ++checked;
        }
    }
    EXPECT_EQ(checked, 27 * 27);
}

// Arctg against the octant rules written out branch by branch, for every vector of a
// 601 x 601 grid and for long vectors near the axes and diagonals.
TEST(Arctg, EqualsTheOctantRulesOnEveryVector)
{
    const auto reference = [](int dx, int dy) {
        const int ax = std::abs(dx);
        const int ay = std::abs(dy);
        if (ax == 0 && ay == 0) {
            return 0;
        }
        int a = 0;
        if (ax >= ay) {
            const int t = ESK::TbArctg[256 * ay / ax];
            a = dy >= 0 ? (dx >= 0 ? t : 128 - t) : (dx >= 0 ? -t : 128 + t);
        } else {
            const int t = ESK::TbArctg[256 * ax / ay];
            a = dy >= 0 ? (dx >= 0 ? 64 - t : 64 + t) : (dx >= 0 ? 192 + t : 192 - t);
        }
        return a & 255;
    };
    for (int dy = -300; dy <= 300; ++dy) {
        for (int dx = -300; dx <= 300; ++dx) {
            ASSERT_EQ(ESK::Arctg(dx, dy), reference(dx, dy)) << dx << "," << dy;
        }
    }
    const int big = (1 << 23) - 1;
    for (int a : {big, big - 1, 65535, 40000}) {
        for (int b : {0, 1, a - 1, a}) {
            for (int sx : {-1, 1}) {
                for (int sy : {-1, 1}) {
                    ASSERT_EQ(ESK::Arctg(sx * a, sy * b), reference(sx * a, sy * b));
                    ASSERT_EQ(ESK::Arctg(sx * b, sy * a), reference(sx * b, sy * a));
                }
            }
        }
    }
}

TEST(PointSections, RoundTripBothListsInBothAngleUnits)
{
    const RecordPlan plan = zftest::SampleRecord();
    const Bytes rec = zftest::BuildRecord(plan);
    for (bool factor : {false, true}) {
        SCOPED_TRACE(factor);
        Reader r = OpenReader(factor);
        std::vector<ESK::Lot<short>> main(r->demain(nullptr, rec.data()));
        std::vector<ESK::Lot<short>> nova(r->denova(nullptr, rec.data()));
        ASSERT_EQ(main.size(), 3u);
        ASSERT_EQ(nova.size(), 12u);
        EXPECT_EQ(r->demain(main.data(), rec.data()), 3u);
        EXPECT_EQ(r->denova(nova.data(), rec.data()), 12u);
        ExpectPoints(plan.singular, main.data(), factor);
        ExpectPoints(plan.minutiae, nova.data(), factor);
    }
}

TEST(PointSections, EmptyListsAreHeadOnlySections)
{
    RecordPlan plan = zftest::SampleRecord();
    plan.singular.clear();
    plan.ridgeCounts.clear();
    plan.minutiae.clear();
    plan.links.clear();
    const Bytes rec = zftest::BuildRecord(plan);
    EXPECT_EQ(rec[TF_MAIN_LEN], 4);
    EXPECT_EQ(TfRead16(rec.data() + TF_NOVA_LEN), 4);
    EXPECT_EQ(TfRead16(rec.data() + TF_ABAC_LEN), 0);
    EXPECT_EQ(TfRead32(rec.data() + TF_NEST_LEN), 3u);
    Reader r = OpenReader();
    ESK::Lot<short> point{};
    ESK::Link link{};
    unsigned char counts[4] = {};
    EXPECT_TRUE(r->verify(rec.data()));
    EXPECT_EQ(r->idmain(rec.data()), 0u);
    EXPECT_EQ(r->demain(&point, rec.data()), 0u);
    EXPECT_EQ(r->idnova(rec.data()), 0u);
    EXPECT_EQ(r->denova(&point, rec.data()), 0u);
    EXPECT_EQ(r->denest(&link, &point, 0, rec.data()), 0u);
    EXPECT_EQ(r->deabac(counts, rec.data()), 0u);
}

// Four minutiae of 34 bits each end the stream on a byte boundary inside a 32-bit word: one
// spare byte is tolerated there, two are not.
TEST(PointSections, StreamEndToleratesOneSpareByteOnly)
{
    RecordPlan plan = zftest::SampleRecord();
    plan.minutiae.resize(4);
    plan.links.clear();
    for (int k = 0; k < 4; ++k) {
        plan.minutiae[static_cast<std::size_t>(k)] = {
            200 + k, 255 - k, 1, static_cast<std::uint8_t>(k % 2), 90, 10};
    }
    const zftest::Sections plain = zftest::EncodeSections(plan);
    ASSERT_EQ(plain[TF_NOVA].size(), 4u + 17u); // 136 bits after the head
    Reader r = OpenReader();
    for (int spare = 0; spare <= 2; ++spare) {
        SCOPED_TRACE(spare);
        zftest::Sections s = plain;
        s[TF_NOVA].resize(s[TF_NOVA].size() + static_cast<std::size_t>(spare), 0);
        const Bytes rec = zftest::AssembleRecord(plan, s);
        std::vector<ESK::Lot<short>> nova(r->denova(nullptr, rec.data()));
        ASSERT_GE(nova.size(), 4u);
        EXPECT_EQ(r->denova(nova.data(), rec.data()), spare < 2 ? 4u : 0u);
        ExpectPoints(plan.minutiae, nova.data(), false); // written points stay either way
    }
}

// A main section whose head declares 1-bit points holds more than 199 of them: refused as a
// whole, nothing written into a buffer sized for the largest answer.
TEST(PointSections, MoreThan199PointsAreRefused)
{
    RecordPlan plan = zftest::SampleRecord();
    zftest::Sections s = zftest::EncodeSections(plan);
    s[TF_MAIN].assign(30, 0);
    s[TF_MAIN][0] = 0x00;
    s[TF_MAIN][1] = 0x01; // type width 1: (8 x 30 - 32) / 1 = 208 points
    s[TF_ABAC].clear();
    const Bytes rec = zftest::AssembleRecord(plan, s);
    Reader r = OpenReader();
    std::unique_ptr<ESK::Lot<short>[]> out(new ESK::Lot<short>[199]);
    EXPECT_EQ(r->idmain(rec.data()), 0u);
    EXPECT_EQ(r->demain(nullptr, rec.data()), 0u);
    EXPECT_EQ(r->demain(out.get(), rec.data()), 0u);
}

// Decodes the nova and nest sections of plan's record and checks every slot of every
// minutia against the plan: empty slots all 0, links with their code, extra bits, index and
// geometry (floor of the length, direction and turn less the minutia's angle).
void ExpectLinksOfPlan(const RecordPlan& plan)
{
    const Bytes rec = zftest::BuildRecord(plan);
    Reader r = OpenReader();
    const std::size_t count = plan.minutiae.size();
    std::vector<ESK::Lot<short>> nova(count);
    std::vector<ESK::Link> links(count);
    ASSERT_EQ(r->denova(nova.data(), rec.data()), count);
    ASSERT_EQ(r->denest(links.data(), nova.data(), static_cast<unsigned>(count), rec.data()),
              count);
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        const ESK::Link& got = links[i];
        const std::vector<zftest::LinkPlan>& want = plan.links[i];
        EXPECT_EQ(got.count, want.empty() ? 0 : want.back().slot + 1);
        for (int s = 0; s < ESK::ESK_LINK_SLOTS; ++s) {
            const ESK::LinkSlot& slot = got.slot[s];
            const zftest::LinkPlan* w = nullptr;
            for (const zftest::LinkPlan& l : want) {
                w = l.slot == s ? &l : w;
            }
            if (w == nullptr) {
                EXPECT_EQ(slot.code | slot.direction | slot.turn | slot.extra | slot.distance |
                              slot.neighbour,
                          0)
                    << "slot " << s;
                continue;
            }
            const PointPlan& m = plan.minutiae[i];
            const PointPlan& n = plan.minutiae[w->neighbour];
            const int dx = n.x - m.x;
            const int dy = n.y - m.y;
            EXPECT_EQ(slot.code, w->code | (n.type == 1 ? 8 : 0));
            EXPECT_EQ(slot.extra, w->extra);
            EXPECT_EQ(static_cast<int>(slot.neighbour), w->neighbour);
            EXPECT_EQ(static_cast<int>(slot.distance),
                      static_cast<int>(std::floor(std::sqrt(dx * dx + dy * dy))));
            // Angles as decoded (degrees) are subtracted from 256-unit directions.
            EXPECT_EQ(slot.direction, (ESK::Arctg(dx, dy) - m.angle * 2) & 255);
            EXPECT_EQ(slot.turn, (n.angle * 2 - m.angle * 2) & 255);
        }
    }
}

TEST(NestSection, RoundTripsEveryLinkWithItsGeometry)
{
    ExpectLinksOfPlan(zftest::SampleRecord());
}

// Links of every sign and slope, on the axes and on both sides of 128 (nearby links take
// their length and direction from a table), each from its own minutia to a centre one.
TEST(NestSection, LinkGeometryNearAndFar)
{
    RecordPlan plan = zftest::SampleRecord();
    plan.sizeX = 600;
    plan.sizeY = 600;
    plan.ridgeCounts.clear();
    plan.minutiae.assign(1, PointPlan{300, 300, 0, 0, 10, 17});
    plan.links.assign(1, {});
    const int steps[] = {0, 1, 64, 127, 128, 200};
    for (int a : steps) {
        for (int b : steps) {
            for (int sign = 0; sign < 4; ++sign) {
                const int dx = (sign & 1) != 0 ? -a : a;
                const int dy = (sign & 2) != 0 ? -b : b;
                if ((a == 0 && (sign & 1) != 0) || (b == 0 && (sign & 2) != 0) ||
                    (a == 0 && b == 0)) {
                    continue; // each offset once, none on the centre itself
                }
                const auto k = static_cast<int>(plan.minutiae.size());
                plan.minutiae.push_back(PointPlan{300 + dx, 300 + dy,
                                                  static_cast<std::uint8_t>(k % 2), 0, 10,
                                                  static_cast<std::uint8_t>((k * 29) % 180)});
                plan.links.push_back({{0, 1, 0, 0}});
            }
        }
    }
    ExpectLinksOfPlan(plan);
}

TEST(NestSection, CountMustMatchTheMinutiaeItLinks)
{
    const Bytes rec = zftest::BuildRecord(zftest::SampleRecord());
    Reader r = OpenReader();
    std::vector<ESK::Lot<short>> nova(13);
    std::vector<ESK::Link> links(13);
    ASSERT_EQ(r->denova(nova.data(), rec.data()), 12u);
    // Fewer: minutia 0 links to minutia 4, past a count of 3.
    EXPECT_EQ(r->denest(links.data(), nova.data(), 3, rec.data()), 0u);
    // More than the record holds: refused before anything is read.
    EXPECT_EQ(r->denest(links.data(), nova.data(), 13, rec.data()), 0u);
}

TEST(NestSection, RefusesADamagedHeadOrBlock)
{
    const RecordPlan plan = zftest::SampleRecord();
    const zftest::Sections good = zftest::EncodeSections(plan);
    Reader r = OpenReader();
    std::vector<ESK::Lot<short>> nova(12);
    std::vector<ESK::Link> links(12);
    struct Damage {
        const char* name;
        std::size_t byte;
        unsigned char value;
    };
    const Damage damages[] = {
        {"code3_width_0", 0, static_cast<unsigned char>(good[TF_NEST][0] & 0xF0)},
        {"empty_width_0", 1, static_cast<unsigned char>(good[TF_NEST][1] & 0xF0)},
        {"truncated_blocks", 0, 0},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.name);
        zftest::Sections s = good;
        if (std::string(d.name) == "truncated_blocks") {
            s[TF_NEST].resize(s[TF_NEST].size() / 2);
        } else {
            s[TF_NEST][d.byte] = d.value;
        }
        const Bytes rec = zftest::AssembleRecord(plan, s);
        ASSERT_EQ(r->denova(nova.data(), rec.data()), 12u);
        EXPECT_EQ(r->denest(links.data(), nova.data(), 12, rec.data()), 0u);
    }
}

// Bits appended least significant first, as the sections store them.
class Bits {
public:
    void Put(std::uint32_t v, unsigned width)
    {
        for (unsigned k = 0; k < width; ++k, ++m_bits) {
            if (m_bits % 8 == 0) {
                m_bytes.push_back(0);
            }
            m_bytes.back() =
                static_cast<unsigned char>(m_bytes.back() | ((v >> k) & 1u) << (m_bits % 8));
        }
    }
    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
    unsigned m_bits = 0;
};

// Every code in both slot lengths, with extra words of 1, 3, 4, 5 and 15 bits: with a width of
// 1 only codes 3, 7, 11, 15 carry their bit, otherwise every non-empty slot carries the word.
// Slots of up to 8 bits (widths up to 4) are read through a table, longer ones field by
// field. The blocks are decoded as written, and a section cut anywhere before its last byte
// is refused.
TEST(NestSection, SlotCodesAndExtraWordsOfEveryWidth)
{
    constexpr unsigned kLinkno = 5; // 11 slots for type 0, 9 for type 1
    const std::uint8_t codes[11] = {1, 0, 2, 5, 6, 0, 0, 3, 7, 11, 15};
    ESK::Lot<short> points[3] = {};
    points[1].type = 1;
    points[1].x = 40;
    points[2].y = 40;
    const ESK::Access_decode<unsigned char> decode;
    for (unsigned w3 : {1u, 3u, 4u, 5u, 15u}) {
        SCOPED_TRACE(w3);
        Bits b;
        b.Put(4, 4);  // code-3 width
        b.Put(3, 4);  // code-1/2 width
        b.Put(2, 4);  // empty width
        b.Put(w3, 4); // extra width
        b.Put(2, 4);  // base width
        b.Put(2, 4);  // index-width width
        std::uint32_t extras[3][11] = {};
        for (unsigned i = 0; i < 3; ++i) {
            const unsigned slots = points[i].type == 1 ? 2 * kLinkno - 1 : 2 * kLinkno + 1;
            for (unsigned s = 0; s < slots; ++s) {
                const std::uint8_t code = codes[(s + i) % 11];
                b.Put(code, (code & 3u) == 3 ? 4 : ((code & 3u) == 0 ? 2 : 3));
                const bool carries = w3 == 1 ? (code & 3u) == 3 : code != 0;
                if (carries) {
                    extras[i][s] = (0x5A5Au >> (s + i)) & ((1u << w3) - 1);
                    b.Put(extras[i][s], w3);
                }
            }
            b.Put(0, 2); // base 0
            b.Put(2, 2); // 2-bit indexes
            for (unsigned s = 0; s < slots; ++s) {
                if (codes[(s + i) % 11] != 0) {
                    b.Put((i + 1 + s % 2) % 3, 2);
                }
            }
        }
        const Bytes& sec = b.bytes();
        ESK::Link links[3];
        ASSERT_EQ(decode.Links(links, points, 3, kLinkno, sec.data(),
                               static_cast<std::uint32_t>(sec.size())),
                  3u);
        for (unsigned i = 0; i < 3; ++i) {
            const unsigned slots = points[i].type == 1 ? 2 * kLinkno - 1 : 2 * kLinkno + 1;
            for (unsigned s = 0; s < slots; ++s) {
                SCOPED_TRACE(testing::Message() << "minutia " << i << " slot " << s);
                const std::uint8_t code = codes[(s + i) % 11];
                const unsigned j = (i + 1 + s % 2) % 3;
                // The slots are packed: their fields are compared as values, not references.
                const ESK::LinkSlot got = links[i].slot[s];
                const unsigned gotCode = got.code;
                const unsigned gotExtra = got.extra;
                const unsigned gotNeighbour = got.neighbour;
                EXPECT_EQ(gotCode, code == 0 ? 0u : code | (points[j].type == 1 ? 8u : 0u));
                EXPECT_EQ(gotExtra, extras[i][s] & 0xFFu);
                EXPECT_EQ(gotNeighbour, code == 0 ? 0u : j);
            }
        }
        for (std::size_t cut = 0; cut < sec.size(); ++cut) {
            EXPECT_EQ(decode.Links(links, points, 3, kLinkno, sec.data(),
                                   static_cast<std::uint32_t>(cut)),
                      0u)
                << "cut to " << cut << " bytes";
        }
    }
}

// Every squared length below the cap gives its integer root; above it, 511.
TEST(NestSection, LinkDistanceIsTheIntegerRootUpTo511)
{
    unsigned root = 0;
    for (std::uint64_t v = 0; v < 512u * 512u; ++v) {
        root += (root + 1) * (root + 1) <= v ? 1 : 0;
        ASSERT_EQ(ESK::LinkDistance(v), root) << v;
    }
    for (std::uint64_t v : {512ull * 512, 512ull * 512 + 1, 1ull << 33}) {
        EXPECT_EQ(ESK::LinkDistance(v), 511u) << v;
    }
}

namespace {

// A small reproducible generator for the random sections below.
struct XorShift32 {
    std::uint32_t state;
    std::uint32_t operator()() { return zftest::XorShift32(state); }
};

// Links decoded one field at a time with a plain bit reader, slot by slot as the format
// lays them out: the reference the section decoder must agree with.
unsigned ReferenceLinks(ESK::Link* out, const ESK::Lot<short>* minutiae, unsigned count,
                        unsigned linkno, const Bytes& sec)
{
    const std::uint64_t bits = 8ull * sec.size();
    std::uint64_t pos = 0;
    bool ok = true;
    const auto read = [&](unsigned n) {
        std::uint64_t v = 0;
        if (n > 32 || n > bits - pos) {
            ok = false;
            return v;
        }
        for (unsigned k = 0; k < n; ++k, ++pos) {
            v |= static_cast<std::uint64_t>((sec[pos / 8] >> (pos % 8)) & 1u) << k;
        }
        return v;
    };
    const std::uint64_t head = read(24);
    if (!ok || (head & 15) == 0 || ((head >> 4) & 15) == 0 || ((head >> 8) & 15) == 0) {
        return 0;
    }
    const unsigned w3 = (head >> 12) & 15;
    for (unsigned i = 0; i < count; ++i) {
        ESK::Link& link = out[i];
        link = ESK::Link{};
        const int slots = minutiae[i].type != 0 ? 2 * int(linkno) - 1 : 2 * int(linkno) + 1;
        for (int s = 0; s < slots; ++s) {
            unsigned code = static_cast<unsigned>(read(2));
            if (code == 3) {
                code += 4 * static_cast<unsigned>(read(2));
            } else if (code != 0) {
                code += 4 * static_cast<unsigned>(read(1));
            }
            const bool carries = w3 == 1 ? (code & 3) == 3 : code != 0;
            const std::uint64_t extra = carries ? read(w3) : 0;
            if (!ok) {
                return 0;
            }
            link.slot[s].code = static_cast<std::uint8_t>(code);
            link.slot[s].extra = static_cast<std::uint8_t>(extra);
            link.count = code != 0 ? static_cast<std::uint8_t>(s + 1) : link.count;
        }
        const std::uint64_t base = read((head >> 16) & 15);
        const unsigned iw = static_cast<unsigned>(read((head >> 20) & 15));
        if (!ok) {
            return 0;
        }
        for (int s = 0; s < link.count; ++s) {
            ESK::LinkSlot& slot = link.slot[s];
            if (slot.code == 0) {
                continue;
            }
            const std::uint64_t j = base + read(iw);
            if (!ok || j >= count) {
                return 0;
            }
            const ESK::Lot<short>& m = minutiae[i];
            const ESK::Lot<short>& n = minutiae[j];
            const int dx = n.x - m.x;
            const int dy = n.y - m.y;
            slot.code = static_cast<std::uint8_t>(slot.code | (n.type == 1 ? 8 : 0));
            if (dx != 0 || dy != 0) {
                const double d = std::floor(std::sqrt(double(dx) * dx + double(dy) * dy));
                slot.distance = static_cast<std::uint16_t>(d < 511 ? d : 511);
                slot.direction = static_cast<std::uint8_t>((ESK::Arctg(dx, dy) - m.angle) & 255);
                slot.turn = static_cast<std::uint8_t>((n.angle - m.angle) & 255);
            }
            slot.neighbour = static_cast<std::uint16_t>(j & 0x7FFF);
        }
    }
    // The stream ends with the section: 4 bytes per whole 32-bit word and the bytes begun
    // in the last one (one more from its second byte on), or one byte fewer.
    const std::uint64_t used = 4 * (pos / 32) + (pos % 32 == 0 ? 0 : pos % 32 / 8 + 1);
    return used == sec.size() || used == sec.size() + 1 ? count : 0;
}

} // namespace

// Random sections of random field widths (index widths up to 32 bits included), over
// minutiae that share positions or lie far apart, whole, cut and with a flipped bit: the
// decoder answers as the reference and, where it accepts, fills every link alike.
TEST(NestSection, AgreesWithAFieldByFieldReading)
{
    XorShift32 next{0x2545F491u};
    const ESK::Access_decode<unsigned char> decode;
    int accepted = 0;
    for (int trial = 0; trial < 400; ++trial) {
        // Some lists longer than 64, so that neighbours 64 apart meet in one minutia.
        const unsigned count = trial % 8 == 0 ? 65 + next() % 140 : 1 + next() % 12;
        const unsigned linkno = 1 + next() % 17;
        std::vector<ESK::Lot<short>> points(count);
        for (ESK::Lot<short>& p : points) {
            const bool far = next() % 4 == 0;
            p.x = static_cast<short>(far ? next() % 32768 : next() % 4);
            p.y = static_cast<short>(far ? next() % 32768 : next() % 4);
            p.angle = static_cast<short>(next() % 360);
            p.type = static_cast<std::uint8_t>(next() % 3 == 0 ? 1 : 0);
        }
        const unsigned w3 = 1 + next() % 15;
        const unsigned w4 = 1 + next() % 15;
        const unsigned w5 = next() % 3 == 0 ? 6 : 3;
        Bits b;
        b.Put(4, 4);
        b.Put(3, 4);
        b.Put(2, 4);
        b.Put(w3, 4);
        b.Put(w4, 4);
        b.Put(w5, 4);
        for (unsigned i = 0; i < count; ++i) {
            const unsigned slots = points[i].type == 1 ? 2 * linkno - 1 : 2 * linkno + 1;
            unsigned filled = 0;
            for (unsigned s = 0; s < slots; ++s) {
                const unsigned code = next() % 2 == 0 ? 0 : next() % 16;
                b.Put(code & 3, 2);
                if ((code & 3) == 3) {
                    b.Put(code >> 2, 2);
                } else if ((code & 3) != 0) {
                    b.Put((code >> 2) & 1, 1);
                }
                const unsigned c = (code & 3) == 0 ? 0 : code;
                filled += c != 0 ? 1 : 0;
                if (w3 == 1 ? (c & 3) == 3 : c != 0) {
                    b.Put(next(), w3);
                }
            }
            const unsigned iw = w5 == 6 ? 17 + next() % 16 : next() % 8;
            const unsigned base = next() % count;
            b.Put(base, w4);
            b.Put(iw, w5);
            for (unsigned k = 0; k < filled; ++k) {
                const std::uint64_t v = iw == 0 ? 0 : next() % (count - base);
                b.Put(static_cast<std::uint32_t>(v), iw);
            }
        }
        Bytes sec = b.bytes();
        for (int variant = 0; variant < 3; ++variant) {
            SCOPED_TRACE(testing::Message() << "trial " << trial << " variant " << variant);
            Bytes s = sec;
            if (variant == 1) {
                s.resize(next() % s.size());
            } else if (variant == 2) {
                s[3 + next() % (s.size() - 3)] ^= static_cast<unsigned char>(1u << (next() % 8));
            }
            std::vector<ESK::Link> want(count);
            std::vector<ESK::Link> got(count);
            const unsigned n = ReferenceLinks(want.data(), points.data(), count, linkno, s);
            ASSERT_EQ(decode.Links(got.data(), points.data(), count, linkno, s.data(),
                                   static_cast<std::uint32_t>(s.size())),
                      n);
            if (n != 0) {
                ++accepted;
                ASSERT_EQ(std::memcmp(want.data(), got.data(), sizeof(ESK::Link) * count), 0);
            }
        }
    }
    EXPECT_GT(accepted, 400); // every whole section and some damaged ones
}

// Points of random field widths from random sections, at every length up to 48 bytes,
// agree with a plain bit-by-bit reading of the same bytes: the fields that end in a
// section's last seven bytes are read alike, for points of 57 bits or fewer (read from one
// window) and of more.
TEST(PointSections, FieldsAgreeWithABitByBitReading)
{
    XorShift32 next{0x9E3779B9u};
    const ESK::Access_decode<unsigned char> decode;
    int checked[2] = {}; // points of at most 57 bits, of more
    for (std::uint32_t size = 4; size <= 48; ++size) {
        for (int trial = 0; trial < 8; ++trial) {
            Bytes sec(size);
            for (unsigned char& c : sec) {
                c = static_cast<unsigned char>(next());
            }
            const unsigned n = decode.PointCount(sec.data(), size, 1000);
            std::vector<ESK::Lot<short>> out(n + 1);
            decode.Points(out.data(), sec.data(), size, 1000, false, true);
            const std::uint32_t head = TfRead32(sec.data());
            std::uint64_t pos = 32;
            const auto field = [&](unsigned width) {
                std::uint32_t v = 0;
                for (unsigned k = 0; k < width; ++k, ++pos) {
                    v |= ((sec[pos / 8] >> (pos % 8)) & 1u) << k;
                }
                return v;
            };
            // Points are taken while a whole byte is left after them.
            for (unsigned k = 0; k < n && (pos + 7) / 8 < size; ++k) {
                SCOPED_TRACE(testing::Message() << size << " bytes, trial " << trial << ", point "
                                                << k << " of " << n);
                std::uint32_t f[TF_POINT_FIELD_COUNT];
                unsigned bits = 0;
                for (int w = 0; w < TF_POINT_FIELD_COUNT; ++w) {
                    f[w] = field((head >> (4 * w)) & 15u);
                    bits += (head >> (4 * w)) & 15u;
                }
                ++checked[bits <= 57 ? 0 : 1];
                EXPECT_EQ(static_cast<std::uint16_t>(out[k].x), f[TF_FIELD_X]);
                EXPECT_EQ(static_cast<std::uint16_t>(out[k].y), f[TF_FIELD_Y]);
                EXPECT_EQ(out[k].type, static_cast<std::uint8_t>(f[TF_FIELD_TYPE]));
                EXPECT_EQ(out[k].level, static_cast<std::uint8_t>(f[TF_FIELD_LEVEL]));
                EXPECT_EQ(out[k].quality, static_cast<std::uint8_t>(f[TF_FIELD_QUALITY]));
                EXPECT_EQ(static_cast<std::uint16_t>(out[k].angle), f[TF_FIELD_ANGLE]);
                EXPECT_EQ(out[k].axis, static_cast<std::uint8_t>(f[TF_FIELD_AXIS]));
                EXPECT_EQ(out[k].aux, static_cast<std::uint8_t>(f[TF_FIELD_AUX]));
            }
        }
    }
    EXPECT_GT(checked[0], 20);
    EXPECT_GT(checked[1], 20);
}

TEST(AbacSection, RoundTripsCountsAndEmptyEntries)
{
    RecordPlan plan = zftest::SampleRecord();
    plan.ridgeCounts = {0, 4 * 7 + 1, 127, 0, 0, 4 * 16 + 2, 3};
    const Bytes rec = zftest::BuildRecord(plan);
    Reader r = OpenReader();
    const unsigned bound = r->deabac(nullptr, rec.data());
    EXPECT_EQ(bound, 4u * TfRead16(rec.data() + TF_ABAC_LEN));
    std::unique_ptr<unsigned char[]> out(new unsigned char[bound]);
    ASSERT_EQ(r->deabac(out.get(), rec.data()), plan.ridgeCounts.size());
    for (std::size_t k = 0; k < plan.ridgeCounts.size(); ++k) {
        EXPECT_EQ(out[k], plan.ridgeCounts[k]) << k;
    }
}

// An entry that starts on the last byte's first bit is decoded too; 105 empty entries (15
// points without counts) fill 210 of 216 bits.
TEST(AbacSection, KeepsTheLastEntryWhereverItStarts)
{
    const std::vector<std::vector<std::uint8_t>> lists = {
        {0, 0, 0, 0, 4 * 5 + 1}, std::vector<std::uint8_t>(105, 0), {4 * 31 + 3}};
    Reader r = OpenReader();
    for (const std::vector<std::uint8_t>& list : lists) {
        SCOPED_TRACE(list.size());
        RecordPlan plan = zftest::SampleRecord();
        plan.ridgeCounts = list;
        const Bytes rec = zftest::BuildRecord(plan);
        const unsigned bound = r->deabac(nullptr, rec.data());
        std::unique_ptr<unsigned char[]> out(new unsigned char[bound]);
        ASSERT_EQ(r->deabac(out.get(), rec.data()), list.size());
        EXPECT_EQ(std::vector<std::uint8_t>(out.get(), out.get() + list.size()), list);
    }
}

struct AreaCase {
    const char* name;
    std::uint16_t w;
    std::uint16_t h;
    std::vector<std::uint8_t> outside; // empty: every cell outside
    std::vector<unsigned char> runs;   // expected run bytes, empty: not checked
};

void PrintTo(const AreaCase& c, std::ostream* os)
{
    *os << c.name << ": " << c.w << " x " << c.h;
}

std::vector<std::uint8_t> Cells(std::size_t n,
                                std::initializer_list<std::pair<std::size_t, int>> runs)
{
    std::vector<std::uint8_t> v;
    for (const auto& r : runs) {
        v.insert(v.end(), r.first, static_cast<std::uint8_t>(r.second));
    }
    v.resize(n, 1);
    return v;
}

const AreaCase kAreaCases[] = {
    {"run_255", 255, 1, {}, {255}},
    {"run_256", 256, 1, {}, {255, 0, 1}},
    {"run_510", 255, 2, {}, {255, 0, 255}},
    {"first_cell_inside", 4, 2, Cells(8, {{3, 0}, {5, 1}}), {0, 3, 5}},
    {"inside_run_of_300", 20, 16, Cells(320, {{10, 1}, {300, 0}, {10, 1}}), {10, 255, 0, 45, 10}},
    {"no_cells", 0, 7, {}, {0}},
};

class AreaSection : public ::testing::TestWithParam<AreaCase> {};

TEST_P(AreaSection, RoundTrips)
{
    const AreaCase& c = GetParam();
    RecordPlan plan = zftest::SampleRecord();
    plan.area.w = c.w;
    plan.area.h = c.h;
    plan.area.outside = c.outside;
    plan.area.outside.resize(static_cast<std::size_t>(c.w) * c.h, 1);
    const zftest::Sections s = zftest::EncodeSections(plan);
    EXPECT_EQ(Bytes(s[TF_AREA].begin() + 4, s[TF_AREA].end()), c.runs);
    const Bytes rec = zftest::AssembleRecord(plan, s);
    Reader r = OpenReader();
    const unsigned cells = r->dearea(nullptr, rec.data());
    ASSERT_EQ(cells, static_cast<unsigned>(c.w) * c.h);
    EXPECT_EQ(r->idarea(rec.data()), cells);
    std::unique_ptr<unsigned char[]> mask(new unsigned char[cells]);
    EXPECT_EQ(r->dearea(mask.get(), rec.data()), (static_cast<unsigned>(c.h) << 16) | c.w);
    for (unsigned k = 0; k < cells; ++k) {
        ASSERT_EQ(mask[k], plan.area.outside[k] != 0 ? TF_CELL_OUTSIDE : TF_CELL_INSIDE) << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, AreaSection, ::testing::ValuesIn(kAreaCases),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(AreaSectionEnd, OneSpareByteIsToleratedTwoAreNot)
{
    const RecordPlan plan = zftest::SampleRecord();
    const zftest::Sections plain = zftest::EncodeSections(plan);
    Reader r = OpenReader();
    std::vector<unsigned char> mask(32 * 40);
    for (int spare = 0; spare <= 2; ++spare) {
        SCOPED_TRACE(spare);
        zftest::Sections s = plain;
        s[TF_AREA].resize(s[TF_AREA].size() + static_cast<std::size_t>(spare), 7);
        const Bytes rec = zftest::AssembleRecord(plan, s);
        EXPECT_EQ(r->dearea(mask.data(), rec.data()), spare < 2 ? (40u << 16) | 32u : 0u);
    }
}

TEST(AreaSectionEnd, RunsThatMissOrPassTheMaskAreRefused)
{
    const RecordPlan plan = zftest::SampleRecord();
    const zftest::Sections plain = zftest::EncodeSections(plan);
    Reader r = OpenReader();
    std::vector<unsigned char> mask(32 * 40);
    zftest::Sections shortRuns = plain;
    shortRuns[TF_AREA].pop_back(); // the last run is missing
    EXPECT_EQ(r->dearea(mask.data(), zftest::AssembleRecord(plan, shortRuns).data()), 0u);
    zftest::Sections longRun = plain;
    longRun[TF_AREA].back() = static_cast<unsigned char>(longRun[TF_AREA].back() + 1);
    EXPECT_EQ(r->dearea(mask.data(), zftest::AssembleRecord(plan, longRun).data()), 0u);
}

// 513 x 512 cells would not fit the 256 KiB buffer callers give: refused, nothing written.
TEST(AreaSectionEnd, MasksAbove512By512CellsAreRefused)
{
    RecordPlan plan = zftest::SampleRecord();
    plan.area.w = 513;
    plan.area.h = 512;
    plan.area.outside.assign(513u * 512u, 1);
    const Bytes rec = zftest::BuildRecord(plan);
    Reader r = OpenReader();
    EXPECT_EQ(r->idarea(rec.data()), 513u * 512u);
    std::unique_ptr<unsigned char[]> mask(new unsigned char[ESK::ESK_MAX_AREA_CELLS]);
    EXPECT_EQ(r->dearea(mask.get(), rec.data()), 0u);
}
