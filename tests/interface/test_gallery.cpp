// Gallery of the matcher: identifiers, refusals, deletion, capacity, identification results
// and random insert / delete / identify sequences on seeded synthetic fingers.

#include "interface/ZelvanFinger.h"
#include "tests/support/synthetic_prints.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

using namespace ZelvanFinger;

namespace {

struct Owner {
    Matcher* m = Matcher::create();
    ~Owner() { Matcher::cancel(m); }
};

// One-finger record of the synthetic finger `seed`, owning its bytes.
struct Finger {
    zftest::Bytes bytes;
    explicit Finger(std::uint32_t seed) : bytes(zftest::SyntheticFinger(seed)) {}
    TpTemplate record()
    {
        TpTemplate r{};
        r.finger[0] = bytes.data();
        return r;
    }
};

int Insert(Matcher* m, std::string id, Finger& f)
{
    TpTemplate r = f.record();
    return m->insertRecord(id, r);
}

int Delete(Matcher* m, std::string id)
{
    return m->deleteRecord(id);
}

std::vector<candidates_string> Identify(Matcher* m, Finger& probe, int& code, unsigned n = 10,
                                        unsigned threads = 1)
{
    MatchingParameters p{0, 180, 180, 0};
    TpTemplate r = probe.record();
    std::vector<candidates_string> c{{"stale", 1.0f}};
    code = m->identify_record(p, r, threads, n, c);
    return c;
}

} // namespace

TEST(Gallery, IdentifiersAndRefusals)
{
    Owner o;
    Finger a(1);
    Finger b(2);
    const struct {
        const char* op;
        const char* id;
        int code;
        int size;
    } steps[] = {
        {"insert", "12", 0, 1},
        {"insert", "012", 20, 1},
        {"insert", "12x", 20, 1},
        {"insert", " +12", 20, 1},
        {"insert", "abc", 0, 2},
        {"insert", "xyz", 20, 2},
        {"insert", "007", 0, 3},
        {"delete", "99", 24, 3},
        {"delete", "7", 0, 2},
        {"delete", "007", 24, 2},
        {"insert", "99999999999999999999", 0, 3},
        {"insert", "18446744073709551615", 20, 3},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(std::string(s.op) + " " + s.id);
        const int r = std::string(s.op) == "insert" ? Insert(o.m, s.id, a) : Delete(o.m, s.id);
        EXPECT_EQ(r, s.code);
        EXPECT_EQ(o.m->getFinalGallerySize(), s.size);
    }
    // Candidates carry the stored value as decimal text.
    EXPECT_EQ(Insert(o.m, "0042", b), 0);
    int code = -1;
    auto c = Identify(o.m, b, code);
    EXPECT_EQ(code, 0);
    ASSERT_FALSE(c.empty());
    EXPECT_EQ(c[0].id, "42");
    EXPECT_GT(c[0].score, 0.0f);
    EXPECT_LE(c[0].score, 1.0f);
}

TEST(Gallery, BadRecords)
{
    Owner o;
    Finger a(3);
    TpTemplate none{};
    std::string id = "1";
    EXPECT_EQ(o.m->insertRecord(id, none), 18); // no finger: no accelerator
    const struct {
        const char* name;
        void (*spoil)(zftest::Bytes&);
    } cases[] = {
        {"seal", [](zftest::Bytes& t) { t[t.size() - 1] ^= 1; }},
        {"total length one more",
         [](zftest::Bytes& t) {
             t[0] += 1;
             t.push_back(0);
         }},
        {"total length above 12288",
         [](zftest::Bytes& t) {
             t[0] = 0x01;
             t[1] = 0x30;
         }},
        {"header", [](zftest::Bytes& t) { t[21 + 4] = 0; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zftest::Bytes t = a.bytes;
        c.spoil(t);
        t.resize(std::max<std::size_t>(t.size(), 12289), 0);
        TpTemplate r{};
        r.finger[4] = t.data();
        EXPECT_EQ(o.m->insertRecord(id, r), 11);
        EXPECT_EQ(o.m->getFinalGallerySize(), 0);
    }
}

TEST(Gallery, IdentificationStates)
{
    Owner o;
    Finger a(4);
    Finger b(5);
    int code = -1;
    // Never held a record: 0 and nothing.
    EXPECT_TRUE(Identify(o.m, a, code).empty());
    EXPECT_EQ(code, 0);
    ASSERT_EQ(Insert(o.m, "1", a), 0);
    ASSERT_EQ(Insert(o.m, "2", b), 0);
    // maxCandidates 0.
    EXPECT_TRUE(Identify(o.m, a, code, 0).empty());
    EXPECT_EQ(code, 0);
    auto c = Identify(o.m, a, code, 5);
    EXPECT_EQ(code, 0);
    ASSERT_FALSE(c.empty());
    EXPECT_EQ(c[0].id, "1");
    for (std::size_t k = 1; k < c.size(); ++k) {
        EXPECT_LE(c[k].score, c[k - 1].score);
        EXPECT_GT(c[k].score, 0.0f);
    }
    // More threads re-open the library, which still finds the records.
    c = Identify(o.m, b, code, 5, 3);
    EXPECT_EQ(code, 0);
    ASSERT_FALSE(c.empty());
    EXPECT_EQ(c[0].id, "2");
    // A probe without fingers fails the search: no candidates.
    TpTemplate empty{};
    MatchingParameters p{0, 180, 180, 0};
    std::vector<candidates_string> none{{"x", 1.0f}};
    EXPECT_EQ(o.m->identify_record(p, empty, 1, 5, none), 18);
    EXPECT_TRUE(none.empty());
    // After the last record is deleted the upload fails: 21.
    ASSERT_EQ(Delete(o.m, "1"), 0);
    ASSERT_EQ(Delete(o.m, "2"), 0);
    EXPECT_TRUE(Identify(o.m, a, code).empty());
    EXPECT_EQ(code, 21);
}

TEST(Gallery, CapacityIs5400)
{
    Owner o;
    Finger f(6);
    for (int i = 0; i < 5400; ++i) {
        ASSERT_EQ(Insert(o.m, std::to_string(i), f), 0) << i;
    }
    EXPECT_EQ(Insert(o.m, "5400", f), 23);
    EXPECT_EQ(o.m->getFinalGallerySize(), 5400);
    EXPECT_EQ(Delete(o.m, "77"), 0);
    EXPECT_EQ(Insert(o.m, "5400", f), 0);
}

TEST(Gallery, RandomSequencesNeverReturnDeletedIds)
{
    Owner o;
    std::vector<Finger> fingers;
    for (std::uint32_t s = 0; s < 24; ++s) {
        fingers.emplace_back(100 + s);
    }
    std::map<int, int> stored; // id -> finger
    std::uint32_t state = 2024;
    auto next = [&](std::uint32_t n) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % n;
    };
    int identified = 0;
    for (int step = 0; step < 300; ++step) {
        SCOPED_TRACE(step);
        const std::uint32_t op = next(10);
        const int id = static_cast<int>(next(40));
        if (op < 5) {
            const int fi = static_cast<int>(next(24));
            const int r = Insert(o.m, std::to_string(id), fingers[static_cast<std::size_t>(fi)]);
            EXPECT_EQ(r, stored.count(id) != 0 ? 20 : 0);
            stored.emplace(id, fi);
        } else if (op < 8) {
            EXPECT_EQ(Delete(o.m, std::to_string(id)), stored.erase(id) != 0 ? 0 : 24);
        } else {
            int code = -1;
            const int fi = static_cast<int>(next(24));
            auto c = Identify(o.m, fingers[static_cast<std::size_t>(fi)], code, 50);
            if (stored.empty()) {
                EXPECT_TRUE(code == 0 || code == 21) << code;
            } else {
                EXPECT_EQ(code, 0);
            }
            std::set<std::string> seen;
            for (const candidates_string& k : c) {
                const int cid = std::stoi(k.id);
                EXPECT_EQ(stored.count(cid), 1u) << "deleted id " << cid << " returned";
                EXPECT_TRUE(seen.insert(k.id).second);
            }
            // A stored record of the probe's finger ranks first.
            bool enrolled = false;
            for (const auto& [sid, sf] : stored) {
                enrolled = enrolled || sf == fi;
            }
            if (enrolled && !c.empty()) {
                EXPECT_EQ(stored.at(std::stoi(c[0].id)), fi);
                ++identified;
            }
        }
        EXPECT_EQ(o.m->getFinalGallerySize(), static_cast<int>(stored.size()));
    }
    EXPECT_GT(identified, 10);
}
