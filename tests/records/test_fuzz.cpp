// Robustness: random, truncated and damaged records, each in a buffer of exactly its declared
// length, go through every reader entry point with outputs sized by the count queries. The
// sanitizer build turns any read or write outside those buffers into a failure.

#include "records/Access_decode.h"
#include "records/TemplateFormat.h"
#include "records/Unwrap.h"
#include "tests/support/template_writer.h"
#include "tests/support/test_random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

using zftest::Bytes;

namespace {

// xorshift32 with a fixed seed: the same records on every platform.
class Random {
public:
    explicit Random(std::uint32_t seed) : m_state(seed) {}
    std::uint32_t Next() { return zftest::XorShift32(m_state); }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }

private:
    std::uint32_t m_state;
};

struct Totals {
    int records = 0;
    int verified = 0;
    int pointsDecoded = 0;
    int linksDecoded = 0;
    int masksDecoded = 0;
};

template <typename T> std::unique_ptr<T[]> Exactly(std::size_t n)
{
    return std::unique_ptr<T[]>(new T[n]); // new T[0] is a valid, unreadable block
}

// Runs every entry point over `bytes`, copied into a block of exactly its size, whose
// length field is set to that size.
void Exercise(ESK::Unwrap& r, const Bytes& bytes, Totals& totals)
{
    const std::size_t size = bytes.size();
    std::unique_ptr<unsigned char[]> rec = Exactly<unsigned char>(size);
    std::copy(bytes.begin(), bytes.end(), rec.get());
    TfWrite32(rec.get(), static_cast<std::uint32_t>(size));
    const unsigned char* p = rec.get();
    ++totals.records;
    r.factor(totals.records % 2 == 0); // both angle units

    totals.verified += r.verify(p) ? 1 : 0;
    r.defend(p);
    r.hasher(p);
    // The header accessors read their own bytes whatever the rest holds; the others only have
    // to stay inside the record.
    EXPECT_EQ(r.length(p), size);
    if (size > 5) {
        EXPECT_EQ(r.versor(p), p[4]);
        EXPECT_EQ(r.finger(p), p[5]);
    }
    r.qualit(p);
    r.densit(p);
    r.passxy(p);
    r.passan(p);
    r.square(p);
    r.immask(p);
    r.exmask(p);
    r.size_x(p);
    r.size_y(p);
    r.imgppi(p);
    r.tplppi(p);

    const unsigned nMain = r.demain(nullptr, p);
    EXPECT_EQ(nMain, r.idmain(p));
    auto main = Exactly<ESK::Lot<short>>(nMain);
    EXPECT_LE(r.demain(main.get(), p), nMain);

    const unsigned nNova = r.denova(nullptr, p);
    EXPECT_EQ(nNova, r.idnova(p));
    auto nova = Exactly<ESK::Lot<short>>(nNova);
    const unsigned decoded = r.denova(nova.get(), p);
    EXPECT_LE(decoded, nNova);
    totals.pointsDecoded += decoded > 0 ? 1 : 0;
    if (decoded > 0) {
        auto links = Exactly<ESK::Link>(decoded);
        const unsigned linked =
            r.denest(links.get(), nova.get(), static_cast<unsigned short>(decoded), p);
        totals.linksDecoded += linked > 0 ? 1 : 0;
        // One more than the minutiae decoded is refused before the arrays are touched.
        EXPECT_EQ(r.denest(links.get(), nova.get(), static_cast<unsigned short>(decoded + 1), p),
                  0u);
    }

    const unsigned nAbac = r.deabac(nullptr, p);
    auto abac = Exactly<unsigned char>(nAbac);
    EXPECT_LE(r.deabac(abac.get(), p), nAbac);

    const unsigned cells = r.dearea(nullptr, p);
    auto mask = Exactly<unsigned char>(std::min<unsigned>(cells, ESK::ESK_MAX_AREA_CELLS));
    const unsigned area = r.dearea(mask.get(), p);
    if (area != 0) {
        EXPECT_EQ((area & 0xFFFFu) * (area >> 16), cells);
        EXPECT_LE(cells, ESK::ESK_MAX_AREA_CELLS);
        ++totals.masksDecoded;
    }
    r.idarea(p);
}

} // namespace

TEST(ReaderFuzz, RandomTruncatedAndDamagedRecordsStayInBounds)
{
    ESK::Unwrap* reader = ESK::Unwrap::create();
    ASSERT_NE(reader, nullptr);
    reader->versor(ESK::ESK_ACCESS_CODE);
    Random rnd(0x2545F491u);
    Totals totals;

    // 1. Random bytes of every small size, a valid-looking layout byte half of the time.
    for (int k = 0; k < 20000; ++k) {
        Bytes b(4 + rnd.Below(300));
        for (unsigned char& c : b) {
            c = static_cast<unsigned char>(rnd.Next());
        }
        if (b.size() > TF_VERSOR && (k & 1) != 0) {
            b[TF_VERSOR] = 'I';
        }
        Exercise(*reader, b, totals);
    }

    // 2. A written record cut at every length, in both layouts.
    const zftest::RecordPlan plan = zftest::SampleRecord();
    const Bytes good = zftest::BuildRecord(plan);
    Bytes nLayout = good;
    zftest::ToLayoutN(nLayout, 130, 0, 0);
    const Bytes& goodN = nLayout;
    for (const Bytes* whole : {&good, &goodN}) {
        for (std::size_t n = 4; n <= whole->size(); ++n) {
            Exercise(*reader, Bytes(whole->begin(), whole->begin() + static_cast<long>(n)), totals);
        }
    }

    // 3. Written records with random bytes changed: section lengths, offsets and bit streams.
    for (int k = 0; k < 30000; ++k) {
        Bytes b = (k & 1) != 0 ? good : goodN;
        const int flips = 1 + static_cast<int>(rnd.Below(4));
        for (int f = 0; f < flips; ++f) {
            const std::size_t at = rnd.Below(static_cast<std::uint32_t>(b.size()));
            b[at] = static_cast<unsigned char>(rnd.Next());
        }
        if (rnd.Below(4) == 0) {
            b.resize(4 + rnd.Below(static_cast<std::uint32_t>(b.size() - 4)));
        }
        Exercise(*reader, b, totals);
    }

    ESK::Unwrap::cancel(reader);
    // The damaged records must have reached the decoders, not only the header checks.
    EXPECT_EQ(totals.records, 20000 + 2 * static_cast<int>(good.size() - 3) + 30000);
    EXPECT_GT(totals.verified, 1000);
    EXPECT_GT(totals.pointsDecoded, 1000);
    EXPECT_GT(totals.linksDecoded, 500);
    EXPECT_GT(totals.masksDecoded, 500);
}
