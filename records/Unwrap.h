// Reader of template records (the template + 21): header checks, the seal, header fields of
// layouts 'I' and 'N', and decoders of the point, link, ridge-count and area sections into
// plain arrays. Readers never allocate, never keep a record and never throw: a refusal is 0
// or false. No operation reads past the record's declared length or a section's end.
#pragma once

#include "platform/export.h"
#include "records/TemplateFormat.h"

#include <cstdint>

namespace ESK {

// Access code that opens the seal test and the decoders of a reader.
inline constexpr std::uint32_t ESK_ACCESS_CODE = 0x3D61A700u;

#pragma pack(push, 1)

// One decoded point, 11 bytes. Note the order of the last two bytes: aux (the section's
// eighth field) comes before axis (its seventh).
template <typename T> struct Lot {
    T x;
    T y;
    T angle;              // degrees (factor off) or 256 units a turn (factor on)
    std::uint8_t type;    // minutia 0 or 1; singular point 1, 2, 8 or 16
    std::uint8_t quality; // low 6 bits quality, bit 6 wide tolerance, bit 7 halve quality
    std::uint8_t level;   // 'I' adds 32, mod 256
    std::uint8_t aux;
    std::uint8_t axis;
};
using Sign = Lot<short>;

// One neighbour link of a minutia, 8 bytes.
struct LinkSlot {
    std::uint8_t code;       // 0 empty, else 1..15 (+8 when the neighbour has type 1)
    std::uint8_t direction;  // direction to the neighbour minus the minutia's angle, mod 256
    std::uint8_t turn;       // neighbour's angle minus the minutia's angle, mod 256
    std::uint8_t extra;      // the link's extra bits
    std::uint16_t distance;  // floor of the Euclidean distance, at most 511
    std::uint16_t neighbour; // index of the neighbour in the minutia list, & 0x7FFF
};

inline constexpr int ESK_LINK_SLOTS = TF_MAX_LINK_SLOTS;

// The neighbour list of one minutia, 281 bytes.
struct Link {
    LinkSlot slot[ESK_LINK_SLOTS];
    std::uint8_t count; // 1-based index of the last non-empty slot, 0 when none
};

#pragma pack(pop)

static_assert(sizeof(Lot<short>) == 11, "decoded point is 11 packed bytes");
static_assert(sizeof(LinkSlot) == 8 && sizeof(Link) == 281, "link layout is fixed");

// The reader's interface; the slot order of its operations is fixed.
class ZF_EXPORT Unwrap {
public:
    // A new reader with factor off and no access code; null when it cannot be allocated.
    static Unwrap* create();
    // Deletes the reader (when not null) and nulls the caller's pointer.
    static void cancel(Unwrap*& p);

    virtual void versor(unsigned code) = 0; // stores the access code
    virtual void factor(bool on) = 0;       // on: decoded angles in 256 units a turn
    virtual bool verify(const unsigned char* rec) = 0;
    virtual bool defend(const unsigned char* rec) = 0;
    virtual bool hasher(const unsigned char* rec) = 0;
    virtual std::uint32_t length(const unsigned char* rec) = 0;
    virtual std::uint8_t versor(const unsigned char* rec) = 0;
    virtual std::uint8_t qualit(const unsigned char* rec) = 0;
    virtual std::uint8_t densit(const unsigned char* rec) = 0;
    virtual std::uint8_t passxy(const unsigned char* rec) = 0;
    virtual std::uint8_t passan(const unsigned char* rec) = 0;
    virtual std::uint8_t square(const unsigned char* rec) = 0;
    virtual std::uint8_t immask(const unsigned char* rec) = 0;
    virtual std::uint16_t exmask(const unsigned char* rec) = 0;
    virtual std::uint16_t size_x(const unsigned char* rec) = 0;
    virtual std::uint16_t size_y(const unsigned char* rec) = 0;
    virtual std::uint16_t imgppi(const unsigned char* rec) = 0;
    virtual std::uint16_t tplppi(const unsigned char* rec) = 0;
    virtual std::uint8_t finger(const unsigned char* rec) = 0;
    virtual unsigned demain(Lot<short>* out, const unsigned char* rec) = 0;
    virtual unsigned denova(Lot<short>* out, const unsigned char* rec) = 0;
    virtual unsigned denest(Link* const& out, Lot<short>* const& minutiae, unsigned short count,
                            const unsigned char* rec) = 0;
    virtual unsigned deabac(unsigned char* out, const unsigned char* rec) = 0;
    virtual unsigned dearea(unsigned char* out, const unsigned char* rec) = 0;
    virtual unsigned idmain(const unsigned char* rec) = 0;
    virtual unsigned idnova(const unsigned char* rec) = 0;
    virtual unsigned idarea(const unsigned char* rec) = 0;

    // Declared after the operations so that their slots keep their places; cancel destroys
    // the implementation through it.
    virtual ~Unwrap();
};

} // namespace ESK
