// Fuzz target: the template checker and every reader operation on the same record (the input,
// in a block of exactly its size; a declared length past the block is set to the block's
// size, as a caller never hands over fewer bytes than the record declares). Invariants: the
// checker answers verify and defend; a decoder writes no more entries than its count query
// answered (outputs are sized exactly, the sanitizers watch them); a reader without the access
// code refuses every sealed operation.

#include "interface/ZelvanFinger.h"
#include "records/Access_decode.h"
#include "records/TemplateFormat.h"
#include "records/Unwrap.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using zffuzz::Require;

template <typename T> std::unique_ptr<T[]> Exactly(std::size_t n)
{
    return std::unique_ptr<T[]>(new T[n]);
}

void Decoders(ESK::Unwrap& r, const unsigned char* rec)
{
    // Header fields: bounded reads only.
    const unsigned fields = r.length(rec) + r.versor(rec) + r.qualit(rec) + r.densit(rec) +
                            r.passxy(rec) + r.passan(rec) + r.square(rec) + r.immask(rec) +
                            r.exmask(rec) + r.size_x(rec) + r.size_y(rec) + r.imgppi(rec) +
                            r.tplppi(rec) + r.finger(rec);
    Require(fields >= r.length(rec), "header fields read");

    const unsigned nMain = r.demain(nullptr, rec);
    Require(nMain == r.idmain(rec), "singular count query and id agree");
    auto main = Exactly<ESK::Sign>(nMain);
    Require(r.demain(main.get(), rec) <= nMain, "singular points within their count");

    const unsigned nNova = r.denova(nullptr, rec);
    Require(nNova == r.idnova(rec), "minutia count query and id agree");
    auto nova = Exactly<ESK::Sign>(nNova);
    const unsigned decoded = r.denova(nova.get(), rec);
    Require(decoded <= nNova, "minutiae within their count");
    if (decoded > 0 && decoded <= 0xFFFF) {
        auto links = Exactly<ESK::Link>(decoded);
        const unsigned short count = static_cast<unsigned short>(decoded);
        Require(r.denest(links.get(), nova.get(), count, rec) <= decoded,
                "links within the minutiae");
    }

    const unsigned nAbac = r.deabac(nullptr, rec);
    auto abac = Exactly<unsigned char>(nAbac);
    Require(r.deabac(abac.get(), rec) <= nAbac, "ridge counts within their bound");

    const unsigned cells = r.dearea(nullptr, rec);
    auto mask = Exactly<unsigned char>(std::min<unsigned>(cells, ESK::ESK_MAX_AREA_CELLS));
    const unsigned area = r.dearea(mask.get(), rec);
    if (area != 0) {
        Require((area & 0xFFFFu) * (area >> 16) == cells && cells <= ESK::ESK_MAX_AREA_CELLS,
                "area mask of the queried cells");
    }
    r.idarea(rec);
}

void Closed(ESK::Unwrap& r, const unsigned char* rec)
{
    Require(!r.defend(rec) && !r.hasher(rec), "closed reader refuses the seals");
    Require(r.demain(nullptr, rec) == 0 && r.denova(nullptr, rec) == 0 &&
                r.deabac(nullptr, rec) == 0 && r.dearea(nullptr, rec) == 0,
            "closed reader answers no counts");
    ESK::Sign point{};
    ESK::Link link{};
    unsigned char byte = 0;
    ESK::Sign* points = &point;
    ESK::Link* links = &link;
    Require(r.demain(points, rec) == 0 && r.denova(points, rec) == 0 &&
                r.denest(links, points, 1, rec) == 0 && r.deabac(&byte, rec) == 0 &&
                r.dearea(&byte, rec) == 0,
            "closed reader decodes nothing");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > static_cast<std::size_t>(MAX_TEMPLATE_SIZE) * 2) {
        return 0;
    }
    static ZelvanFinger::FpTemplateChecker* checker = ZelvanFinger::FpTemplateChecker::create();
    static ESK::Unwrap* open = ESK::Unwrap::create();
    static ESK::Unwrap* closed = ESK::Unwrap::create();
    Require(checker != nullptr && open != nullptr && closed != nullptr, "readers created");
    open->versor(ESK::ESK_ACCESS_CODE);

    // The template: a zero prefix, then the record of at least its 4-byte length field.
    const std::size_t n = std::max<std::size_t>(size, 4);
    auto tpl = Exactly<unsigned char>(TF_PREFIX_SIZE + n);
    std::fill(tpl.get(), tpl.get() + TF_PREFIX_SIZE + n, 0);
    std::copy(data, data + size, tpl.get() + TF_PREFIX_SIZE);
    unsigned char* rec = tpl.get() + TF_PREFIX_SIZE;
    if (TfRead32(rec) > n) {
        TfWrite32(rec, static_cast<std::uint32_t>(n));
    }
    TfWrite32(tpl.get() + TF_PREFIX_TOTAL_LENGTH, static_cast<std::uint32_t>(TF_PREFIX_SIZE + n));

    const bool factor = size > 0 && (data[size - 1] & 1) != 0;
    open->factor(factor);
    closed->factor(factor);
    const bool verified = open->verify(rec);
    Require(checker->check(tpl.get()) == (verified && open->defend(rec)),
            "the checker answers verify and defend");
    Require(closed->verify(rec) == verified, "verify needs no access code");
    open->hasher(rec);
    Decoders(*open, rec);
    Closed(*closed, rec);
    return 0;
}
