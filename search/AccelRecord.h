// The accelerator record: the search key of one multi-finger record, a 48-byte head followed
// by one finger block per finger that yielded one (little-endian, unaligned inside; blocks
// start at multiples of 16). TpAccel is a view into a record that owns nothing; the checks
// answer false, never throw.
#pragma once

#include "platform/export.h"

#include <cstdint>

namespace accelMatch {

// Per-person attributes carried in a record's head (16 bytes): byte 0 class code, bytes 1..2
// a u16 attribute, bytes 3..5 flag bytes of the extra pairing; the rest is carried.
struct PersonalData {
    std::uint32_t v[4];
};

#pragma pack(push, 1)
// One minutia item of a finger block: position in pixels, direction in 4-degree units 0..89.
struct MinutiaeData {
    std::int16_t x;
    std::int16_t y;
    std::uint8_t angle;
};

// One nest signature: cells 0..15 hold a neighbour minutia index + 1 (0 empty); bytes 16..31
// the distance step of each cell's link (+16 when the directions agree), or a filler >= 32.
struct Accel {
    std::uint8_t cell[16];
    std::uint8_t desc[16];
};
#pragma pack(pop)
static_assert(sizeof(MinutiaeData) == 5 && sizeof(Accel) == 32, "packed accelerator items");

// Record head layout.
constexpr unsigned ACCEL_SLOTS = 10;
constexpr unsigned ACCEL_HEAD = 48;
constexpr unsigned ACCEL_HEAD_PERSONAL = 1;
constexpr unsigned ACCEL_HEAD_OFFSETS = 17;
constexpr unsigned ACCEL_HEAD_TOTAL = 37;

// Finger block layout.
constexpr unsigned FA_COUNT = 0;      // M, minutia items
constexpr unsigned FA_NESTS = 1;      // B, nest blocks
constexpr unsigned FA_QUALITY = 2;    // 0..100
constexpr unsigned FA_LEVELS = 3;     // bytes 3..15: nests with a total of at least byte + 1
constexpr unsigned FA_PATTERN = 16;   // pattern class
constexpr unsigned FA_PLAIN = 21;     // minutiae whose quality byte is below 64
constexpr unsigned FA_USABLE = 22;    // usable value
constexpr unsigned FA_HEAD = 32;      // first nest block
constexpr unsigned FA_MAX_NESTS = 64; // standard form
constexpr unsigned FA_MAX_ITEMS = 255;

constexpr unsigned ACCEL_MAX_FINGER = 3488;      // M = 255, B = 64
constexpr unsigned ACCEL_MAX_FINGER_FULL = 9984; // M = 255, B = 255

// Pointers into a finger block.
inline Accel* FaNests(unsigned char* block)
{
    return reinterpret_cast<Accel*>(block + FA_HEAD);
}
inline unsigned char* FaNestMinutia(unsigned char* block)
{
    return block + FA_HEAD + 32u * block[FA_NESTS];
}
inline unsigned char* FaNestWeight(unsigned char* block)
{
    return block + FA_HEAD + 33u * block[FA_NESTS];
}
inline MinutiaeData* FaItems(unsigned char* block)
{
    return reinterpret_cast<MinutiaeData*>(block + FA_HEAD + 34u * block[FA_NESTS]);
}

// Padded size of a finger block with m items and b nests.
inline unsigned FaSize(unsigned m, unsigned b)
{
    return (32u + 5u * m + 34u * b + 15u) & ~15u;
}

// Little-endian field access (records are unaligned inside).
inline std::uint16_t AcGet16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t AcGet32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void AcPut16(unsigned char* p, unsigned v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void AcPut32(unsigned char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

// View of an accelerator record.
class ZF_EXPORT TpAccel {
public:
    unsigned char* finger[ACCEL_SLOTS] = {};
    PersonalData* personal = nullptr;

    // Size of finger block i (0 when absent); 48 + all blocks (0 when none is present).
    unsigned getSize(int i) const;
    int getSize() const;
    // Writes the record (head, then every present block); returns its size; null buf: 0.
    unsigned save2Buffer(unsigned char* buf) const;
    // Points the view into buf; false (view unchanged) when buf is null or byte 0 is not 10.
    bool readFromBuffer(unsigned char* buf);
};

// Checks of a finger block and of a whole record (non-strict: B <= M only).
ZF_EXPORT bool checkOneFingerAccel(unsigned char* block, bool strict);
ZF_EXPORT bool checkAccel(unsigned char* record, bool strict);
// Nest minutiae below M and item directions below ACCEL_ANGLES: the part of the strict block
// check that keeps a reading of the block inside it (the block must already hold B <= M).
bool accelIndicesInRange(unsigned char* block);
// Number of present blocks: 0, 2 (null record) or 8 (unreadable).
ZF_EXPORT int getFingers(unsigned char* record, unsigned& count);

ZF_EXPORT unsigned getMaximOneFingerAccelSize();
ZF_EXPORT unsigned getMaximOneFingerFullAccelSize();
ZF_EXPORT unsigned getMaximumAccelSize(unsigned n);

} // namespace accelMatch
