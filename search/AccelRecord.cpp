// Reading, writing and checking accelerator records and their finger blocks. The readers
// trust the block offsets; only the slot count is checked when a record is opened.

#include "search/AccelRecord.h"
#include "search/AccelTables.h"

#include <cstring>

namespace accelMatch {

unsigned TpAccel::getSize(int i) const
{
    if (i < 0 || i >= static_cast<int>(ACCEL_SLOTS) || finger[i] == nullptr) {
        return 0;
    }
    return FaSize(finger[i][FA_COUNT], finger[i][FA_NESTS]);
}

int TpAccel::getSize() const
{
    unsigned total = 0;
    for (unsigned i = 0; i < ACCEL_SLOTS; ++i) {
        total += getSize(static_cast<int>(i));
    }
    return total == 0 ? 0 : static_cast<int>(total + ACCEL_HEAD);
}

unsigned TpAccel::save2Buffer(unsigned char* buf) const
{
    if (buf == nullptr) {
        return 0;
    }
    std::memset(buf, 0, ACCEL_HEAD);
    buf[0] = ACCEL_SLOTS;
    if (personal != nullptr) {
        for (int k = 0; k < 4; ++k) {
            AcPut32(buf + ACCEL_HEAD_PERSONAL + 4 * k, personal->v[k]);
        }
    }
    unsigned pos = ACCEL_HEAD;
    for (unsigned i = 0; i < ACCEL_SLOTS; ++i) {
        const unsigned size = getSize(static_cast<int>(i));
        if (size == 0) {
            continue;
        }
        AcPut16(buf + ACCEL_HEAD_OFFSETS + 2 * i, pos);
        std::memcpy(buf + pos, finger[i], size);
        pos += size;
    }
    AcPut32(buf + ACCEL_HEAD_TOTAL, pos);
    return pos;
}

bool TpAccel::readFromBuffer(unsigned char* buf)
{
    if (buf == nullptr || buf[0] != ACCEL_SLOTS) {
        return false;
    }
    personal = reinterpret_cast<PersonalData*>(buf + ACCEL_HEAD_PERSONAL);
    for (unsigned i = 0; i < ACCEL_SLOTS; ++i) {
        const unsigned off = AcGet16(buf + ACCEL_HEAD_OFFSETS + 2 * i);
        finger[i] = off == 0 ? nullptr : buf + off;
    }
    return true;
}

bool accelIndicesInRange(unsigned char* block)
{
    const unsigned m = block[FA_COUNT];
    const unsigned b = block[FA_NESTS];
    const unsigned char* list = FaNestMinutia(block);
    for (unsigned j = 0; j < b; ++j) {
        if (list[j] >= m) {
            return false;
        }
    }
    const MinutiaeData* items = FaItems(block);
    for (unsigned j = 0; j < m; ++j) {
        if (items[j].angle >= ACCEL_ANGLES) {
            return false;
        }
    }
    return true;
}

bool checkOneFingerAccel(unsigned char* block, bool strict)
{
    if (block == nullptr) {
        return false;
    }
    const unsigned m = block[FA_COUNT];
    const unsigned b = block[FA_NESTS];
    if (b > m) {
        return false;
    }
    if (!strict) {
        return true;
    }
    if (b > FA_MAX_NESTS || block[FA_QUALITY] > 100) {
        return false;
    }
    unsigned previous = b;
    for (unsigned t = FA_LEVELS; t <= 15; ++t) {
        if (block[t] > previous) {
            return false;
        }
        previous = block[t];
    }
    return accelIndicesInRange(block);
}

bool checkAccel(unsigned char* record, bool strict)
{
    TpAccel view;
    if (!view.readFromBuffer(record)) {
        return false;
    }
    for (unsigned i = 0; i < ACCEL_SLOTS; ++i) {
        if (view.finger[i] != nullptr && !checkOneFingerAccel(view.finger[i], strict)) {
            return false;
        }
    }
    return true;
}

int getFingers(unsigned char* record, unsigned& count)
{
    count = 0;
    if (record == nullptr) {
        return ACCEL_ERR_NULL;
    }
    TpAccel view;
    if (!view.readFromBuffer(record)) {
        return ACCEL_ERR_BAD_ACCEL;
    }
    for (unsigned i = 0; i < ACCEL_SLOTS; ++i) {
        count += view.finger[i] != nullptr ? 1u : 0u;
    }
    return ACCEL_OK;
}

unsigned getMaximOneFingerAccelSize()
{
    return ACCEL_MAX_FINGER;
}

unsigned getMaximOneFingerFullAccelSize()
{
    return ACCEL_MAX_FINGER_FULL;
}

unsigned getMaximumAccelSize(unsigned n)
{
    return n * ACCEL_MAX_FINGER + ACCEL_HEAD;
}

} // namespace accelMatch
