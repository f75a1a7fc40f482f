// Accelerator computation: decodes a finger record's minutiae and links through the slot's
// reader and builds its finger block, a 32-byte nest signature per chosen minutia (neighbours
// by quadrant and ridge-count band with their distance steps) plus the 5-byte minutia items;
// calcAccel assembles the blocks of a multi-finger record. Answers 0 or an ACCEL_ERR_* code.

#include "matching/LinkTables.h"
#include "search/AccelLib.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace accelMatch {
namespace {

constexpr int LINK_SLOTS = NUM_SLOTS_B;
constexpr int CENTRE_LIMIT = 128;
constexpr unsigned char QUALITY_EXCLUDED = 0x40;
constexpr unsigned char QUALITY_HALVED = 0x80;

struct AcRidgeTable {
    int v[2][LINK_SLOTS];
};

// Signed ridge count of a slot by minutia type: 0 for the first slots, then -k, -k, k, k for
// k = 1..8 (type 0 from slot 3, type 1 from slot 1, whose last two slots are -1).
constexpr AcRidgeTable AcMakeRidgeCount()
{
    AcRidgeTable t{};
    for (int type = 0; type < 2; ++type) {
        const int first = type == 0 ? 3 : 1;
        for (int k = 1; k <= 8; ++k) {
            const int s = first + 4 * (k - 1);
            t.v[type][s] = t.v[type][s + 1] = -k;
            t.v[type][s + 2] = t.v[type][s + 3] = k;
        }
    }
    t.v[1][33] = t.v[1][34] = -1;
    return t;
}

constexpr AcRidgeTable kRidgeCount = AcMakeRidgeCount();
static_assert(kRidgeCount.v[0][34] == 8 && kRidgeCount.v[1][32] == 8 && kRidgeCount.v[0][3] == -1);

} // namespace

const int (&ridgeCount)[2][LINK_SLOTS] = kRidgeCount.v;

// Filler of empty cells; process-wide, never reset.
std::uint8_t a_count = 32;

namespace {

struct NestEx {
    int index;
    int far;
    int near;
    int total;
    int weight;
};

// Quality of a minutia from its quality byte.
int AcQuality(std::uint8_t q)
{
    const int v = q & 0x3F;
    return (q & QUALITY_HALVED) != 0 ? (v + 1) / 2 : v;
}

// Next filler value: 32..255, back to 32 after 255.
std::uint8_t AcNextFiller()
{
    const std::uint8_t v = a_count;
    a_count = static_cast<std::uint8_t>(a_count == 255 ? 32 : a_count + 1);
    return v;
}

// One link's cell and step byte; false when the link does not qualify.
bool AcLinkCell(const AccelTables* tables, const ESK::LinkSlot& link, int s, int type, int r, int n,
                int& cell, int& stepByte)
{
    const unsigned k = link.code;
    if (k < 1 || k > 15 || link.neighbour >= 255 || link.neighbour >= n) {
        return false;
    }
    bool barred = false;
    const int q = getQuadrantEx(static_cast<unsigned>(s), static_cast<unsigned>(type), k, barred);
    if (q < 0 || q >= 4 || barred || std::abs(r) >= 8) {
        return false;
    }
    if (link.distance >= ACCEL_STEP_SIZE) {
        return false;
    }
    const int step = tables->step[link.distance];
    if (step < 1 || step > 14) {
        return false;
    }
    const int same = isDownQuadrant[Quadrant[type][s]] == 1 ? isSameDir[k] : 1 - isSameDir[k];
    cell = q + 4 * (std::abs(r) / 2);
    stepByte = step + 16 * same;
    return true;
}

// The nest of one minutia.
void calcAccelerator(const AccelTables* tables, Accel& nest, int& total, const ESK::Lot<short>& c,
                     const ESK::Link& links, const ESK::Lot<short>* minutiae, int n, int& near,
                     int& far, int& weight)
{
    std::memset(&nest, 0, sizeof(nest));
    total = near = far = weight = 0;
    // 1. A centre of quality below 2 keeps an empty nest.
    const int q = AcQuality(c.quality);
    if (q < 2) {
        return;
    }
    // 2. Its links must be readable.
    weight = q;
    const int count = links.count;
    if (count < 1 || count > LINK_SLOTS || c.type > 1) {
        return;
    }
    const int type = c.type;
    const int last = std::min(count, 32);
    auto fill = [&](int cell, int stepByte, int neighbour) {
        if (nest.cell[cell] != 0) {
            return;
        }
        nest.cell[cell] = static_cast<std::uint8_t>(neighbour + 1);
        nest.desc[cell] = static_cast<std::uint8_t>(stepByte);
        (cell < 8 ? near : far) += 1;
    };
    // 3. Ridge counts by slot and code, neighbours of quality 2 and more.
    int accepted = 0;
    for (int s = 0; s < last; ++s) {
        const ESK::LinkSlot& l = links.slot[s];
        const unsigned k = l.code;
        if (k < 1 || k > 15) {
            continue;
        }
        const int r = type == 0 ? ridgeCountB[s][k] : ridgeCountE[s][k];
        int cell = 0;
        int stepByte = 0;
        if (!AcLinkCell(tables, l, s, type, r, n, cell, stepByte) ||
            AcQuality(minutiae[l.neighbour].quality) <= 1) {
            continue;
        }
        weight += AcQuality(minutiae[l.neighbour].quality);
        ++accepted;
        fill(cell, stepByte, l.neighbour);
    }
    // 4. Ridge counts by slot only fill the cells still empty.
    for (int s = 0; s < last; ++s) {
        const ESK::LinkSlot& l = links.slot[s];
        int cell = 0;
        int stepByte = 0;
        if (AcLinkCell(tables, l, s, type, ridgeCount[type][s], n, cell, stepByte)) {
            fill(cell, stepByte, l.neighbour);
        }
    }
    // 5.-7. Weight, fillers of the empty cells, total.
    weight /= 1 + accepted;
    for (int k = 0; k < 16; ++k) {
        if (nest.cell[k] == 0) {
            nest.desc[k] = AcNextFiller();
        }
    }
    total = near + far;
}

// Writes one block from the sorted nests.
void buildAccel(const NestEx* sorted, const ESK::Lot<short>* minutiae, unsigned m,
                const Accel* nests, const MinutiaeData* items, unsigned char* head, unsigned* size,
                unsigned char* out, bool full, bool centreLimit)
{
    unsigned h[17] = {};
    // 2. With the centre limit only the 128 minutiae nearest to the centroid are candidates.
    int dist[FA_MAX_ITEMS] = {};
    int threshold = 0;
    if (centreLimit) {
        long long sx = 0;
        long long sy = 0;
        for (unsigned i = 0; i < m; ++i) {
            sx += minutiae[i].x;
            sy += minutiae[i].y;
        }
        const int cx = static_cast<int>(sx / static_cast<long long>(m));
        const int cy = static_cast<int>(sy / static_cast<long long>(m));
        int open[FA_MAX_ITEMS];
        unsigned nOpen = 0;
        for (unsigned i = 0; i < m; ++i) {
            dist[i] = AcDist(minutiae[i].x - cx, minutiae[i].y - cy);
            if ((minutiae[i].quality & QUALITY_EXCLUDED) == 0) {
                open[nOpen++] = dist[i];
            }
        }
        std::nth_element(open, open + (CENTRE_LIMIT - 1), open + nOpen);
        threshold = open[CENTRE_LIMIT - 1];
    }
    // 3. Walk the nests, largest totals first.
    const unsigned cap = full ? FA_MAX_ITEMS : FA_MAX_NESTS;
    int kept[FA_MAX_ITEMS];
    unsigned nKept = 0;
    for (unsigned k = 0; k < m; ++k) {
        const NestEx& e = sorted[k];
        if (!full) {
            if ((minutiae[e.index].quality & QUALITY_EXCLUDED) != 0 ||
                (centreLimit && dist[static_cast<unsigned>(e.index)] > threshold)) {
                continue;
            }
        }
        if (e.total == 0) {
            break;
        }
        ++h[e.total];
        kept[nKept++] = static_cast<int>(k);
    }
    // 4. Nest count and level counts.
    const unsigned b = std::min(nKept, cap);
    head[FA_NESTS] = static_cast<unsigned char>(b);
    unsigned sum = 0;
    for (int t = 16; t >= 4; --t) {
        sum = (sum + h[t]) & 0xFF;
        head[t - 1] = static_cast<unsigned char>(full ? sum : std::min(sum, FA_MAX_NESTS));
    }
    // 5. Head, blocks, the two lists, the items, padding.
    std::memcpy(out, head, FA_HEAD);
    for (unsigned j = 0; j < b; ++j) {
        const NestEx& e = sorted[static_cast<unsigned>(kept[j])];
        std::memcpy(out + FA_HEAD + 32 * j, &nests[e.index], 32);
        out[FA_HEAD + 32 * b + j] = static_cast<unsigned char>(e.index);
        out[FA_HEAD + 33 * b + j] = static_cast<unsigned char>(e.weight);
    }
    std::memcpy(out + FA_HEAD + 34 * b, items, 5u * m);
    const unsigned used = FA_HEAD + 34 * b + 5 * m;
    *size = FaSize(m, b);
    std::memset(out + used, 0, *size - used);
}

} // namespace

int getQuadrantEx(unsigned slot, unsigned type, unsigned code, bool& barred)
{
    barred = false;
    if (slot >= LINK_SLOTS || type > 1) {
        barred = true;
        return 4;
    }
    const bool c1 = code == 1 || code == 5 || code == 9 || code == 13;
    const bool c2 = code == 2 || code == 6 || code == 10 || code == 14;
    if (type == 1) {
        barred = (slot == 0 && (code == 7 || c2)) || (slot == 2 && c1) || (slot == 3 && c2) ||
                 (slot == 4 && c1);
    } else {
        barred = (slot == 0 && (code == 11 || c1)) || (slot == 1 && c1) || (slot == 2 && c2) ||
                 (slot == 5 && c2);
    }
    return Quadrant[type][slot];
}

void calcAccel_base(AccelTables* tables, ESK::Lot<short>* minutiae, ESK::Link* links, unsigned n,
                    unsigned* size, unsigned char* out, unsigned char quality,
                    unsigned char* fullOut)
{
    // 1. Head.
    const unsigned m = std::min(n, FA_MAX_ITEMS);
    unsigned char head[FA_HEAD] = {};
    head[FA_COUNT] = static_cast<unsigned char>(m);
    head[FA_QUALITY] = quality;
    std::memset(head + 17, 0xFF, 4);
    // 2. The centre limit.
    bool centreLimit = false;
    if (n > CENTRE_LIMIT) {
        unsigned open = 0;
        for (unsigned i = 0; i < m; ++i) {
            open += (minutiae[i].quality & QUALITY_EXCLUDED) == 0 ? 1u : 0u;
        }
        centreLimit = fullOut == nullptr && open > CENTRE_LIMIT;
    }
    // 3. Plain minutiae and the usable value.
    unsigned plain = 0;
    for (unsigned i = 0; i < m; ++i) {
        plain += minutiae[i].quality < 64 ? 1u : 0u;
    }
    unsigned usable = plain < 64 ? plain * quality / 64 : quality;
    if (usable == 0 && quality != 0) {
        usable = 1;
    }
    head[FA_PLAIN] = static_cast<unsigned char>(plain);
    head[FA_USABLE] = static_cast<unsigned char>(usable);
    // 4. Items and nests.
    MinutiaeData items[FA_MAX_ITEMS];
    Accel nests[FA_MAX_ITEMS];
    NestEx sorted[FA_MAX_ITEMS];
    for (unsigned i = 0; i < m; ++i) {
        int angle = minutiae[i].angle % 360;
        angle += angle < 0 ? 360 : 0;
        items[i] = MinutiaeData{minutiae[i].x, minutiae[i].y, static_cast<std::uint8_t>(angle / 4)};
    }
    for (unsigned i = 0; i < m; ++i) {
        NestEx& e = sorted[i];
        e.index = static_cast<int>(i);
        calcAccelerator(tables, nests[i], e.total, minutiae[i], links[i], minutiae,
                        static_cast<int>(n), e.near, e.far, e.weight);
    }
    // 5. Largest totals first; equal totals keep minutia order.
    AcStableSort(sorted, m, [](const NestEx& a, const NestEx& b) { return a.total > b.total; });
    // 6. The standard form, then the full form.
    buildAccel(sorted, minutiae, m, nests, items, head, size, out, false, centreLimit);
    if (fullOut != nullptr) {
        unsigned fullSize = 0;
        buildAccel(sorted, minutiae, m, nests, items, head, &fullSize, fullOut, true, false);
    }
}

int calcOneFingerAccel(void* handle, unsigned char* tpl, unsigned char* out, unsigned* size,
                       unsigned slot, unsigned char* fullOut)
{
    AccelData* data = static_cast<AccelData*>(handle);
    if (tpl == nullptr || data == nullptr || size == nullptr || out == nullptr) {
        return ACCEL_ERR_NULL;
    }
    *size = 0;
    if (data->open == 0) {
        return ACCEL_ERR_NOT_OPEN;
    }
    if (slot >= data->threads) {
        return ACCEL_ERR_THREAD_INDEX;
    }
    ThreadData& t = data->slots[slot];
    ESK::Unwrap* reader = t.reader;
    const unsigned char* rec = tpl + 21;
    if (!reader->verify(rec)) {
        return ACCEL_ERR_BAD_FINGER;
    }
    const unsigned n = reader->idnova(rec);
    const unsigned singular = reader->idmain(rec);
    if (n > ACCEL_MAX_MINUTIAE || singular > ACCEL_MAX_SINGULAR) {
        return ACCEL_ERR_BAD_FINGER;
    }
    if (reader->denova(t.minutiae, rec) != n ||
        reader->denest(t.links, t.minutiae, static_cast<unsigned short>(n), rec) != n) {
        return ACCEL_ERR_BAD_FINGER;
    }
    reader->demain(t.singular, rec);
    const unsigned char quality = reader->qualit(rec);
    reader->immask(rec);
    reader->size_x(rec);
    reader->size_y(rec);
    if (reader->dearea(t.area, rec) == 0) {
        return ACCEL_ERR_BAD_FINGER;
    }
    calcAccel_base(data->tables, t.minutiae, t.links, n, size, out, quality, fullOut);
    const unsigned limit = fullOut != nullptr ? ACCEL_MAX_FINGER_FULL : ACCEL_MAX_FINGER;
    return *size > limit ? ACCEL_ERR_TOO_LARGE : ACCEL_OK;
}

int calcAccel(void* handle, TpTemplate& tpl, unsigned char* out, unsigned& size,
              PersonalData* personal)
{
    AccelData* data = static_cast<AccelData*>(handle);
    if (out == nullptr || data == nullptr) {
        return ACCEL_ERR_NULL;
    }
    const unsigned slot = data->slot();
    TpAccel view;
    view.personal = personal;
    // The blocks are built in the probe's buffers: a loaded probe is forgotten, not left
    // pointing at another record's blocks.
    for (ProbeFinger& f : data->probe) {
        clearProbeFinger(f);
    }
    for (int k = 0; k < 10; ++k) {
        if (tpl.finger[k] == nullptr) {
            continue;
        }
        unsigned blockSize = 0;
        unsigned char* block = data->probe[k].output;
        if (calcOneFingerAccel(handle, tpl.finger[k], block, &blockSize, slot, nullptr) ==
                ACCEL_OK &&
            blockSize != 0) {
            view.finger[k] = block;
        }
    }
    const unsigned total = static_cast<unsigned>(view.getSize());
    if (total == 0) {
        size = 0;
        return ACCEL_ERR_NO_ACCELERATOR;
    }
    if (total > getMaximumAccelSize(10)) {
        size = 0;
        return ACCEL_ERR_ACCEL_TOO_LARGE;
    }
    size = view.save2Buffer(out);
    return ACCEL_OK;
}

} // namespace accelMatch
