// The record reader. Every header field is read only when it lies inside the record's
// declared length (u32 at 0), and every section only when it lies wholly inside it; a
// field outside answers 0. The seal test and the decoders answer only once the access code
// has been given. Nothing throws; create answers null when memory is short.

#include "records/Unwrap_keep.h"

#include "records/TemplateFormat.h"

#include <new>

namespace ESK {
namespace {

constexpr std::uint32_t UW_MIN_RECORD = TF_HEADER_SIZE + TF_SEAL_SIZE;
constexpr unsigned UW_MAX_MAIN = 199;               // largest singular-point count answered
constexpr unsigned UW_MAX_NOVA = 59999;             // largest minutia count answered
constexpr std::uint32_t UW_MAX_AREA_QUERY = 765624; // 875 x 875 - 1
constexpr int UW_MIN_POINT_VERSOR_N = 130;          // older 'N' records carry no point sections
constexpr int UW_VERSOR_N_MASK = 0xCB;
constexpr int UW_MAX_DENSITY = 144;
constexpr int UW_MAX_QUALITY = 100;
constexpr std::uint32_t UW_MAX_SIDE = 16384; // widths and heights stay below it

// The record's declared length; 0 for a null record.
std::uint32_t UwLength(const unsigned char* rec)
{
    return rec == nullptr ? 0 : TfRead32(rec);
}

// Little-endian field of `width` bytes at `at`, or 0 when it does not lie wholly inside the
// record's declared length.
std::uint32_t UwField(const unsigned char* rec, int at, int width)
{
    if (static_cast<std::uint32_t>(at + width) > UwLength(rec)) {
        return 0;
    }
    switch (width) {
    case 1:
        return rec[at];
    case 2:
        return TfRead16(rec + at);
    default:
        return TfRead32(rec + at);
    }
}

bool UwLayoutI(const unsigned char* rec)
{
    return UwField(rec, TF_VERSOR, 1) == TF_LAYOUT_I;
}

struct Span {
    const unsigned char* data = nullptr; // null: no usable section
    std::uint32_t size = 0;
};

// Section `id`, or an empty span when its length is 0, one of its header fields lies beyond
// the record, or its bytes do not lie wholly inside the record (computed without wrapping).
Span UwSection(const unsigned char* rec, int id)
{
    const TfSectionField& f = TF_SECTION_FIELDS[id];
    const std::uint32_t total = UwLength(rec);
    const int offsetAt = UwLayoutI(rec) ? f.offsetAtI : f.offsetAtN;
    if (static_cast<std::uint32_t>(offsetAt + 4) > total ||
        static_cast<std::uint32_t>(f.lengthAt + f.lengthBytes) > total) {
        return {};
    }
    const std::uint32_t size = UwField(rec, f.lengthAt, f.lengthBytes);
    const std::uint32_t offset = UwField(rec, offsetAt, 4);
    if (size == 0 || static_cast<std::uint64_t>(offset) + size > total) {
        return {};
    }
    return {rec + offset, size};
}

// Point section `id` (main or nova); layout 'N' below versor 130 has none.
Span UwPointSection(const unsigned char* rec, int id)
{
    if (!UwLayoutI(rec) && UwField(rec, TF_VERSOR, 1) < UW_MIN_POINT_VERSOR_N) {
        return {};
    }
    return UwSection(rec, id);
}

// Points of section `id`; a null `out` asks for the count only. A count above `cap` is
// refused as a whole, so no decoder writes more points than the count query answers.
unsigned UwDecodePoints(const Access_decode<unsigned char>& decode, bool factor, Lot<short>* out,
                        const unsigned char* rec, int id, unsigned cap)
{
    const Span s = UwPointSection(rec, id);
    if (s.data == nullptr) {
        return 0;
    }
    if (out == nullptr) {
        return decode.PointCount(s.data, s.size, cap);
    }
    return decode.Points(out, s.data, s.size, cap, UwLayoutI(rec), factor);
}

} // namespace

Unwrap::~Unwrap() = default;

Unwrap* Unwrap::create()
{
    return new (std::nothrow) Unwrap_keep();
}

void Unwrap::cancel(Unwrap*& p)
{
    delete p;
    p = nullptr;
}

void Unwrap_keep::versor(unsigned code)
{
    m_code = code;
}

void Unwrap_keep::factor(bool on)
{
    m_factor = on ? 1 : 0;
}

// Header plausibility, first failing test false: length, layout 'N' flags, quality,
// density, impression kind, link rings, image size. No section or seal is examined.
bool Unwrap_keep::verify(const unsigned char* rec)
{
    const std::uint32_t total = UwLength(rec);
    if (total < UW_MIN_RECORD || total > static_cast<std::uint32_t>(TF_MAX_RECORD_SIZE)) {
        return false;
    }
    if (!UwLayoutI(rec) && (rec[TF_VERSOR] & UW_VERSOR_N_MASK) == 0) {
        return false;
    }
    if (qualit(rec) > UW_MAX_QUALITY) {
        return false;
    }
    const unsigned density = densit(rec);
    if (density < 1 || density > UW_MAX_DENSITY) {
        return false;
    }
    const unsigned char kind = rec[TF_KIND];
    if (kind != 'L' && kind != 'F' && kind != 'P' && kind != 'T') {
        return false;
    }
    const unsigned linkno = rec[TF_LINKNO];
    if (linkno < 1 || linkno > TF_MAX_LINKNO) {
        return false;
    }
    return size_x(rec) < UW_MAX_SIDE && size_y(rec) < UW_MAX_SIDE;
}

// The last byte is the sum of all the others modulo 251.
bool Unwrap_keep::defend(const unsigned char* rec)
{
    const std::uint32_t total = UwLength(rec);
    if (!Open() || total == 0) {
        return false;
    }
    if (total == 1) {
        return rec[0] == 0;
    }
    return rec[total - 1] == TfSealSum(rec, total - 1);
}

// Byte L - 2 is the low byte of the sum of (byte k XOR k), k = 0 .. L - 3.
bool Unwrap_keep::hasher(const unsigned char* rec)
{
    const std::uint32_t total = UwLength(rec);
    if (!Open() || total < 2) {
        return false;
    }
    if (total == 2) {
        return rec[0] == 0;
    }
    std::uint32_t sum = 0;
    for (std::uint32_t k = 0; k + 2 < total; ++k) {
        sum += rec[k] ^ (k & 255u);
    }
    return rec[total - 2] == (sum & 255u);
}

std::uint32_t Unwrap_keep::length(const unsigned char* rec)
{
    return UwLength(rec);
}

std::uint8_t Unwrap_keep::versor(const unsigned char* rec)
{
    return static_cast<std::uint8_t>(UwField(rec, TF_VERSOR, 1));
}

std::uint8_t Unwrap_keep::qualit(const unsigned char* rec)
{
    return static_cast<std::uint8_t>(UwField(rec, TF_QUALIT, 1));
}

// Layout 'I' stores the density minus 32; 0 here means a stored 224 (refused by verify).
std::uint8_t Unwrap_keep::densit(const unsigned char* rec)
{
    const std::uint32_t stored = UwField(rec, TF_DENSIT, 1);
    if (UwLayoutI(rec)) {
        return static_cast<std::uint8_t>(stored + TF_DENSITY_BIAS);
    }
    return static_cast<std::uint8_t>(stored);
}

std::uint8_t Unwrap_keep::passxy(const unsigned char* rec)
{
    return static_cast<std::uint8_t>(UwField(rec, TF_PASSXY, 1));
}

std::uint8_t Unwrap_keep::passan(const unsigned char* rec)
{
    return static_cast<std::uint8_t>(UwField(rec, TF_PASSAN, 1));
}

std::uint8_t Unwrap_keep::square(const unsigned char* rec)
{
    return UwLayoutI(rec) ? 0 : static_cast<std::uint8_t>(UwField(rec, TF_SQUARE, 1));
}

std::uint8_t Unwrap_keep::immask(const unsigned char* rec)
{
    return static_cast<std::uint8_t>(UwField(rec, TF_IMMASK, 1));
}

std::uint16_t Unwrap_keep::exmask(const unsigned char* rec)
{
    return UwLayoutI(rec) ? 0 : static_cast<std::uint16_t>(UwField(rec, TF_N_EXMASK, 2));
}

std::uint16_t Unwrap_keep::size_x(const unsigned char* rec)
{
    return static_cast<std::uint16_t>(UwField(rec, UwLayoutI(rec) ? TF_I_SIZE_X : TF_N_SIZE_X, 2));
}

std::uint16_t Unwrap_keep::size_y(const unsigned char* rec)
{
    return static_cast<std::uint16_t>(UwField(rec, UwLayoutI(rec) ? TF_I_SIZE_Y : TF_N_SIZE_Y, 2));
}

std::uint16_t Unwrap_keep::imgppi(const unsigned char* rec)
{
    return static_cast<std::uint16_t>(UwField(rec, TF_IMGPPI, 2));
}

std::uint16_t Unwrap_keep::tplppi(const unsigned char* rec)
{
    return static_cast<std::uint16_t>(UwField(rec, TF_TPLPPI, 2));
}

std::uint8_t Unwrap_keep::finger(const unsigned char* rec)
{
    return static_cast<std::uint8_t>(UwField(rec, TF_FINGER, 1));
}

unsigned Unwrap_keep::demain(Lot<short>* out, const unsigned char* rec)
{
    return Open() ? UwDecodePoints(m_decode, m_factor != 0, out, rec, TF_MAIN, UW_MAX_MAIN) : 0;
}

unsigned Unwrap_keep::denova(Lot<short>* out, const unsigned char* rec)
{
    return Open() ? UwDecodePoints(m_decode, m_factor != 0, out, rec, TF_NOVA, UW_MAX_NOVA) : 0;
}

// The links of the first `count` minutiae; count may not exceed the record's minutiae.
unsigned Unwrap_keep::denest(Link* const& out, Lot<short>* const& minutiae, unsigned short count,
                             const unsigned char* rec)
{
    if (!Open() || count > UW_MAX_NOVA) {
        return 0;
    }
    const Span s = UwSection(rec, TF_NEST);
    const unsigned linkno = UwField(rec, TF_LINKNO, 1);
    if (s.data == nullptr || densit(rec) == 0 || linkno > TF_MAX_LINKNO || count > idnova(rec)) {
        return 0;
    }
    return m_decode.Links(out, minutiae, count, linkno, s.data, s.size);
}

// A null `out` answers the most entries the section can hold (4 per byte).
unsigned Unwrap_keep::deabac(unsigned char* out, const unsigned char* rec)
{
    if (!Open()) {
        return 0;
    }
    const Span s = UwSection(rec, TF_ABAC);
    if (s.data == nullptr) {
        return 0;
    }
    if (out == nullptr) {
        return m_decode.RidgeCountBound(s.size);
    }
    return m_decode.RidgeCounts(out, s.data, s.size);
}

// A null `out` answers w x h.
unsigned Unwrap_keep::dearea(unsigned char* out, const unsigned char* rec)
{
    if (!Open()) {
        return 0;
    }
    const Span s = UwSection(rec, TF_AREA);
    if (s.data == nullptr) {
        return 0;
    }
    if (out == nullptr) {
        return m_decode.AreaCells(s.data, s.size);
    }
    return m_decode.Area(out, s.data, s.size);
}

unsigned Unwrap_keep::idmain(const unsigned char* rec)
{
    const Span s = UwPointSection(rec, TF_MAIN);
    return m_decode.PointCount(s.data, s.size, UW_MAX_MAIN);
}

unsigned Unwrap_keep::idnova(const unsigned char* rec)
{
    const Span s = UwPointSection(rec, TF_NOVA);
    return m_decode.PointCount(s.data, s.size, UW_MAX_NOVA);
}

unsigned Unwrap_keep::idarea(const unsigned char* rec)
{
    const Span s = UwSection(rec, TF_AREA);
    const std::uint32_t cells = m_decode.AreaCells(s.data, s.size);
    return cells > UW_MAX_AREA_QUERY ? 0 : cells;
}

} // namespace ESK
