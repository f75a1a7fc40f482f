// Stage 21 on a small hand-drawn fixture whose links are worked out by hand: the visiting order
// of the list, the link codes and neighbours of each block read back from the nest bit stream,
// the same links through the record reader, and the block of a minutia without neighbours.

#include "extraction/engine/Codex.h"
#include "records/Unwrap.h"
#include "tests/extraction/engine/ridge_fixture.h"
#include "tests/extraction/engine/stage_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using wizard73::Codex;
using wizard73::SSign;
using zftest::Ridges;

// Reads the nest stream: the six-nibble head, then one block per minutia type.
struct NestReader {
    const unsigned char* p;
    unsigned pos = 0;
    unsigned Get(int width)
    {
        unsigned v = 0;
        for (int i = 0; i < width; ++i, ++pos) {
            v |= ((p[pos / 8] >> (pos % 8)) & 1u) << i;
        }
        return v;
    }
};

struct Slot {
    unsigned code;
    int index;
};

// The slots of each block (empty slots with index -1), in slot order.
std::vector<std::vector<Slot>> Blocks(Codex& e, int rings)
{
    const SSign* list = reinterpret_cast<const SSign*>(e.GetLay(176, 1));
    NestReader r{e.GetLay(179, 1)};
    unsigned d[6];
    for (unsigned& v : d) {
        v = r.Get(4);
    }
    std::vector<std::vector<Slot>> out;
    for (int i = 0; i < e.m_minutiae; ++i) {
        const int slots = 2 * rings + (list[i].type == 1 ? -1 : 1);
        std::vector<Slot> b;
        for (int s = 0; s < slots; ++s) {
            unsigned c = r.Get(static_cast<int>(d[2]));
            if (c == 3) {
                c = 4 * r.Get(static_cast<int>(d[2])) + 3;
                r.Get(static_cast<int>(d[3]));
            } else if (c != 0) {
                c += 4 * r.Get(1);
            }
            b.push_back(Slot{c, -1});
        }
        const unsigned base = r.Get(static_cast<int>(d[4]));
        const int iw = static_cast<int>(r.Get(static_cast<int>(d[5])));
        for (Slot& s : b) {
            if (s.code != 0) {
                s.index = static_cast<int>(base + r.Get(iw));
            }
        }
        out.push_back(b);
    }
    EXPECT_EQ((r.pos + 7) / 8, e.m_section[5]);
    return out;
}

TEST(Linker, VisitingOrderFollowsNearestNeighbours)
{
    Ridges r(128, 64);
    Codex& e = r.Load();
    SSign* list = reinterpret_cast<SSign*>(e.GetLay(176, 1));
    const int xs[] = {0, 100, 10, 50, 12};
    for (int i = 0; i < 5; ++i) {
        list[i] = SSign{};
        list[i].x = xs[i];
        list[i].y = 20;
        list[i].angle = static_cast<unsigned char>(i);
    }
    e.m_minutiae = 5;
    e.LiSort();
    const int expected[] = {0, 2, 4, 3, 1};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(list[i].angle, expected[i]) << i;
    }
}

// Ridges y = 24 (x 16..80, two endings B and C), y = 32 (an ending A at x 48, running out to
// the border) and y = 40 (border to border). Visiting order B, A, C. B's and C's own arms stop
// on A's side mark on their ridge (codes 1 and 6: A lies right of B's arm, left of C's arm and
// faces against it), A's own arm on C's side mark (6); A reaches B and C over the ridge above it
// (row 2, most opposite arm first); C reaches A over the ridge below it (row 2) and on the next
// ridge over A's side mark there (row 4, 5).
TEST(Linker, LinksAcrossRidges)
{
    Ridges r(96, 64);
    r.Line(16, 24, 80, 24);
    r.Line(48, 32, 93, 32);
    r.Line(2, 40, 93, 40);
    Codex& e = r.Load(8, 0);
    e.Linker(-1);
    ASSERT_EQ(e.m_minutiae, 3);
    const SSign* list = reinterpret_cast<const SSign*>(e.GetLay(176, 1));
    EXPECT_NEAR(list[0].x, 16, 2);
    EXPECT_NEAR(list[1].x, 48, 2);
    EXPECT_NEAR(list[2].x, 80, 2);
    const auto blocks = Blocks(e, 17);
    ASSERT_EQ(blocks.size(), 3u);
    struct Want {
        int block, slot;
        unsigned code;
        int index;
    };
    // Slot numbers: row 0 is slot 0 (endings), row k slots 2k - 1 and 2k.
    const Want want[] = {{0, 0, 1, 1}, {1, 0, 6, 2},  {1, 3, 15, 0}, {1, 4, 15, 2},
                         {2, 0, 6, 1}, {2, 4, 15, 1}, {2, 8, 5, 1}};
    for (int b = 0; b < 3; ++b) {
        ASSERT_EQ(blocks[b].size(), 33u);
        for (int s = 0; s < 33; ++s) {
            unsigned code = 0;
            int index = -1;
            for (const Want& w : want) {
                if (w.block == b && w.slot == s) {
                    code = w.code;
                    index = w.index;
                }
            }
            EXPECT_EQ(blocks[b][s].code, code) << "block " << b << " slot " << s;
            EXPECT_EQ(blocks[b][s].index, index) << "block " << b << " slot " << s;
        }
    }

    // The record reader finds the same links (bit 3 added: every neighbour is an ending).
    const std::vector<unsigned char> rec = zftest::WrittenRecord(e);
    ESK::Unwrap* reader = ESK::Unwrap::create();
    ASSERT_NE(reader, nullptr);
    reader->versor(ESK::ESK_ACCESS_CODE);
    std::vector<ESK::Sign> points(3);
    std::vector<ESK::Link> links(3);
    ASSERT_EQ(reader->denova(points.data(), rec.data()), 3u);
    ASSERT_EQ(reader->denest(links.data(), points.data(), 3, rec.data()), 3u);
    for (const Want& w : want) {
        const ESK::LinkSlot& slot = links[w.block].slot[w.slot];
        const unsigned code = slot.code; // packed fields read by value
        const int neighbour = slot.neighbour;
        EXPECT_EQ(code, w.code | 8u) << "block " << w.block << " slot " << w.slot;
        EXPECT_EQ(neighbour, w.index) << "block " << w.block << " slot " << w.slot;
    }
    ESK::Unwrap::cancel(reader);
}

// A lone ending writes its empty slots, the base 2550 cut to the base width and a zero index
// width; with one ring only row 0 is written.
TEST(Linker, LoneMinutiaAndOneRing)
{
    Ridges r(96, 64);
    r.Line(40, 32, 93, 32);
    Codex& e = r.Load(8, 0);
    e.m_linkno = 1;
    e.Linker(-1);
    ASSERT_EQ(e.m_minutiae, 1);
    // Head (24 bits: 4 3 2 1 1 1), one empty slot (2 bits), base 2550 in 1 bit (0), width 0.
    const unsigned char* nest = e.GetLay(179, 1);
    EXPECT_EQ(e.m_section[5], 4u);
    EXPECT_EQ(nest[0], 0x34);
    EXPECT_EQ(nest[1], 0x12);
    EXPECT_EQ(nest[2], 0x11);
    EXPECT_EQ(nest[3], 0x00);
}

TEST(Linker, NoMinutiaeGiveTheHeadOnly)
{
    Ridges r(96, 64);
    Codex& e = r.Load(8, 0);
    e.Linker(-1);
    EXPECT_EQ(e.m_minutiae, 0);
    EXPECT_EQ(e.m_section[5], 3u);
    const unsigned char* nest = e.GetLay(179, 1);
    EXPECT_EQ(nest[2], 0x00); // base width 0 and its own width 0
}

} // namespace
