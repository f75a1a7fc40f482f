// Record writer of the engine: encodes the singular points and the minutiae as point sections
// (layers 178 of level 3 and 177 of level 1), builds the 67-byte header from the header fields
// and the section sizes, copies header and the six section layers out back to back and seals
// the record. GetSize throws WZ_RECORD_FULL (or WZ_NO_LAYER) instead of overrunning a layer,
// a header field or the largest record; ExGold then never writes past the length it announced.
// The import side (singular list, point sections, sealed level-3 data blocks) and the finger-box
// numbering return their codes instead of throwing.

#include "extraction/engine/BitSink.h"
#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"
#include "platform/assert.h"
#include "records/TemplateFormat.h"

#include <cstring>

namespace wizard73 {
namespace {

constexpr int MAIN_LAYER = 178; // level 3
constexpr int NOVA_LAYER = 177; // level 1
constexpr int MINUTIA_LAYER = 176;
constexpr int FINE_LEVEL = 1;
constexpr int COARSE_LEVEL = 3;
constexpr std::uint32_t AREA_HEAD = 4;     // u16 width and height of the area mask
constexpr unsigned char AREA_FIRST = 0x40; // cells of the first run state
constexpr unsigned char AREA_OTHER = 0x20; // cells of the other state
constexpr unsigned HEAD_NIBBLE_MAX = 15;

// Layer and level of each section, in record order.
struct SectionLayer {
    int id;
    int level;
};
constexpr SectionLayer kSectionLayers[TF_SECTION_COUNT] = {
    {MAIN_LAYER, COARSE_LEVEL}, {NOVA_LAYER, FINE_LEVEL}, {180, COARSE_LEVEL},
    {181, COARSE_LEVEL},        {182, COARSE_LEVEL},      {179, FINE_LEVEL},
};

// Buffer of an existing layer, or null.
unsigned char* Existing(CBase& e, int id, int level)
{
    const int slot = e.GetKey(id, level);
    return slot < 0 ? nullptr : e.m_level[level].buf[slot];
}

// Layers of a level-3 data block, in block order.
constexpr int kDataLayers[3] = {128, 32, 112};
constexpr int LEVEL_BIAS = 32;       // added to a decoded level byte
constexpr int QUICK_LEVEL_BIAS = 16; // the same in quick mode
constexpr long long FINGER_STEP = 160;
constexpr long long FINGER_REACH = 240;
constexpr long long FINGER_NO_LOW = 9999;

// Number of present entries after the singular list is clamped to 0..16.
int SingularCount(int n)
{
    return n < 0 ? 0 : n > TF_MAX_SINGULAR_POINTS ? TF_MAX_SINGULAR_POINTS : n;
}

// Centre of the bounds (lo + hi) / 2, halves truncated toward zero.
long long BoxMid(std::int32_t lo, std::int32_t hi)
{
    return (static_cast<long long>(lo) + hi) / 2;
}

} // namespace

int Codex::EnFeat(unsigned char* out, unsigned capacity, const SSign* list, unsigned count,
                  unsigned* widths)
{
    // 1. Widths of x, y and level from the list's maxima.
    std::uint32_t maxX = 0;
    std::uint32_t maxY = 0;
    std::uint32_t maxLevel = 0;
    for (unsigned i = 0; i < count; ++i) {
        const std::uint32_t x = static_cast<std::uint32_t>(list[i].x);
        const std::uint32_t y = static_cast<std::uint32_t>(list[i].y);
        maxX = x > maxX ? x : maxX;
        maxY = y > maxY ? y : maxY;
        maxLevel = list[i].level > maxLevel ? list[i].level : maxLevel;
    }
    widths[TF_FIELD_X] = TfBitLength(maxX);
    widths[TF_FIELD_Y] = TfBitLength(maxY);
    widths[TF_FIELD_LEVEL] = TfBitLength(maxLevel);
    for (int f = 0; f < TF_POINT_FIELD_COUNT; ++f) {
        if (widths[f] > HEAD_NIBBLE_MAX) {
            return -1; // a negative or huge coordinate: the head could not describe it
        }
    }
    // 2. Head, then the points.
    BitSink sink(out, capacity);
    for (int f = 0; f < TF_POINT_FIELD_COUNT; ++f) {
        sink.Put(widths[f], 4);
    }
    for (unsigned i = 0; i < count; ++i) {
        const SSign& p = list[i];
        const std::uint32_t values[TF_POINT_FIELD_COUNT] = {static_cast<std::uint32_t>(p.x),
                                                            static_cast<std::uint32_t>(p.y),
                                                            p.type,
                                                            p.level,
                                                            p.quality,
                                                            p.angle,
                                                            p.axis,
                                                            p.aux};
        for (int f = 0; f < TF_POINT_FIELD_COUNT; ++f) {
            sink.Put(values[f], static_cast<int>(widths[f]));
        }
    }
    return sink.Overflow() ? -1 : static_cast<int>(sink.Bytes());
}

const SSign* Codex::MinutiaList() const
{
    const int slot = GetKey(MINUTIA_LAYER, FINE_LEVEL);
    if (slot < 0) {
        return nullptr;
    }
    // SSign is packed (alignment 1), so any byte address holds one.
    return reinterpret_cast<const SSign*>(m_level[FINE_LEVEL].buf[slot]);
}

void Codex::GetSize(int& size)
{
    // 1. Width descriptors (x, y and level are replaced by EnFeat).
    unsigned mainWidths[TF_POINT_FIELD_COUNT] = {
        0, 0, TF_MAIN_TYPE_BITS, 7, TF_MAIN_QUALITY_BITS, TF_ANGLE_BITS, 0, 0};
    unsigned novaWidths[TF_POINT_FIELD_COUNT] = {
        0, 0, TF_NOVA_TYPE_BITS, 7, TF_NOVA_QUALITY_BITS, TF_ANGLE_BITS, 0, 0};

    // 2. main and 3. nova, each bounded by its layer.
    const unsigned singular =
        m_singular < 0 ? 0u : static_cast<unsigned>(m_singular); // never above 16 (stage 8)
    const SSign* minutiae = MinutiaList();
    const unsigned minutiaCount = minutiae != nullptr ? m_minutiae : 0u;
    unsigned char* mainOut = GetLay(MAIN_LAYER, COARSE_LEVEL);
    unsigned char* novaOut = GetLay(NOVA_LAYER, FINE_LEVEL);
    if (mainOut == nullptr || novaOut == nullptr) {
        throw WZ_NO_LAYER;
    }
    const int mainSize = EnFeat(mainOut, m_level[COARSE_LEVEL].size, m_sign, singular, mainWidths);
    const int novaSize =
        EnFeat(novaOut, m_level[FINE_LEVEL].size, minutiae, minutiaCount, novaWidths);
    if (mainSize < 0 || novaSize < 0 || mainSize > 255) {
        throw WZ_RECORD_FULL;
    }
    m_section[TF_MAIN] = static_cast<std::uint32_t>(mainSize);
    m_section[TF_NOVA] = static_cast<std::uint32_t>(novaSize);

    // Every stored size must lie inside its layer and the record; the 16-bit fields follow.
    std::uint32_t total = TF_HEADER_SIZE + TF_SEAL_SIZE;
    for (int s = 0; s < TF_SECTION_COUNT; ++s) {
        const SectionLayer& l = kSectionLayers[s];
        const std::uint32_t n = m_section[s];
        if (n > TF_MAX_RECORD_SIZE || n > m_level[l.level].size ||
            (n > 0 && Existing(*this, l.id, l.level) == nullptr)) {
            throw WZ_RECORD_FULL;
        }
        total += n;
    }

    // 4. Header.
    unsigned char* h = m_header;
    std::memset(h, 0, sizeof m_header);
    TfWrite32(h + TF_LENGTH, total);
    h[TF_VERSOR] = TF_LAYOUT_I;
    h[TF_FINGER] = m_finger;
    TfWrite16(h + TF_IMGPPI, m_imgppi);
    TfWrite16(h + TF_TPLPPI, m_tplppi);
    h[TF_QUALIT] = m_qualit;
    h[TF_DENSIT] = m_densit;
    h[TF_IMMASK] = m_immask;
    h[TF_KIND] = m_kind;
    h[TF_SQUARE] = m_square;
    h[TF_PASSXY] = m_passxy;
    h[TF_PASSAN] = m_passan;
    h[TF_LINKNO] = m_linkno;
    h[TF_MAIN_LEN] = static_cast<unsigned char>(m_section[TF_MAIN]);
    TfWrite16(h + TF_NOVA_LEN, m_section[TF_NOVA]);
    TfWrite16(h + TF_ABAC_LEN, m_section[TF_ABAC]);
    TfWrite16(h + TF_RCNT_LEN, m_section[TF_RCNT]);
    TfWrite16(h + TF_AREA_LEN, m_section[TF_AREA]);
    TfWrite32(h + TF_NEST_LEN, m_section[TF_NEST]);
    TfWrite16(h + TF_I_SIZE_X, m_level[0].width);
    TfWrite16(h + TF_I_SIZE_Y, m_level[0].height);
    std::uint32_t offset = TF_HEADER_SIZE;
    for (int s = 0; s < TF_SECTION_COUNT; ++s) {
        TfWrite32(h + TF_SECTION_FIELDS[s].offsetAtI, offset);
        offset += m_section[s];
    }
    TfWrite32(h + TF_I_END_OFF, offset);
    TfWrite32(h + TF_I_LENGTH_COPY, total);
    m_recordLength = total;

    // 5. The record length.
    size = static_cast<int>(total);
}

int Codex::ExGold(unsigned char* out)
{
    // 1. Header, 2. the sections back to back, 3. the seal.
    std::memcpy(out, m_header, TF_HEADER_SIZE);
    std::uint32_t at = TF_HEADER_SIZE;
    for (int s = 0; s < TF_SECTION_COUNT; ++s) {
        const std::uint32_t n = m_section[s];
        if (n == 0) {
            continue;
        }
        const unsigned char* src = Existing(*this, kSectionLayers[s].id, kSectionLayers[s].level);
        ZF_ASSERT(src != nullptr && at + n + TF_SEAL_SIZE <= m_recordLength);
        std::memcpy(out + at, src, n);
        at += n;
    }
    return SetMod(out);
}

void Codex::ExIndi(unsigned char* out, int& count)
{
    count = m_singular < 0                        ? 0
            : m_singular > TF_MAX_SINGULAR_POINTS ? TF_MAX_SINGULAR_POINTS
                                                  : m_singular;
    if (out != nullptr && count > 0) {
        std::memcpy(out, m_sign, static_cast<std::size_t>(count) * sizeof(SSign));
    }
}

int Codex::ImIndi(unsigned char* in, int& count)
{
    if (count < 0 || count > TF_MAX_SINGULAR_POINTS) {
        return WZ_RECORD_FULL;
    }
    m_singular = count;
    if (in != nullptr && count > 0) {
        std::memcpy(m_sign, in, static_cast<std::size_t>(count) * sizeof(SSign));
    }
    return 0;
}

int Codex::ImIndi(SSign& p)
{
    const int n = SingularCount(m_singular);
    if (p.type == TF_SP_WHORL || p.type == TF_SP_LOOP || p.type == TF_SP_DELTA) {
        if (n >= TF_MAX_SINGULAR_POINTS) {
            return WZ_RECORD_FULL;
        }
        m_sign[n] = p;
        m_singular = n + 1;
        return 0;
    }
    const int i = Nature(p.x, p.y);
    if (i < 0) {
        return 1;
    }
    std::memmove(m_sign + i, m_sign + i + 1, static_cast<std::size_t>(n - i - 1) * sizeof(SSign));
    m_singular = n - 1;
    return 0;
}

int Codex::DeFeat(SSign* out, unsigned capacity, const unsigned char* section, unsigned length)
{
    if (length == 0) {
        return 0;
    }
    if (section == nullptr || length < TF_POINT_HEAD_BITS / 8) {
        return WZ_BAD_SECTION;
    }
    // 1. Head: eight 4-bit widths.
    BitSource src(section);
    unsigned widths[TF_POINT_FIELD_COUNT];
    std::uint64_t pointBits = 0;
    for (int f = 0; f < TF_POINT_FIELD_COUNT; ++f) {
        widths[f] = src.Get(4);
        pointBits += widths[f];
    }
    const std::uint64_t bits = (static_cast<std::uint64_t>(length) - 4) * 8;
    if (bits == 0) {
        return 0;
    }
    // 2. Whole points, followed only by the spare bits of the last byte.
    if (pointBits == 0 || bits % pointBits >= 8) {
        return WZ_BAD_SECTION;
    }
    const std::uint64_t count = bits / pointBits;
    if (count > capacity || count > static_cast<std::uint64_t>(INT32_MAX)) {
        return WZ_RECORD_FULL;
    }
    // 3. The points.
    const int bias = m_quick != 0 ? QUICK_LEVEL_BIAS : LEVEL_BIAS;
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint32_t v[TF_POINT_FIELD_COUNT];
        for (int f = 0; f < TF_POINT_FIELD_COUNT; ++f) {
            v[f] = src.Get(widths[f]);
        }
        SSign& p = out[i];
        p.x = static_cast<std::int32_t>(v[TF_FIELD_X]); // widths up to 15 bits
        p.y = static_cast<std::int32_t>(v[TF_FIELD_Y]);
        p.type = static_cast<std::uint8_t>(v[TF_FIELD_TYPE]);
        p.level = static_cast<std::uint8_t>(v[TF_FIELD_LEVEL] + bias);
        p.quality = static_cast<std::uint8_t>(v[TF_FIELD_QUALITY]);
        p.angle = static_cast<std::uint8_t>(v[TF_FIELD_ANGLE]);
        p.axis = static_cast<std::uint8_t>(v[TF_FIELD_AXIS]);
        p.aux = static_cast<std::uint8_t>(v[TF_FIELD_AUX]);
    }
    return static_cast<int>(count);
}

namespace {

// Section `section` of a layout 'I' record: its first byte and length, every byte of it lying
// before the seal of the stored length. False when the header does not describe such a record.
bool SectionOf(const unsigned char* rec, int section, const unsigned char*& at, std::uint32_t& size)
{
    if (rec == nullptr) {
        return false;
    }
    const std::uint32_t length = TfRead32(rec + TF_LENGTH);
    if (length < TF_HEADER_SIZE + TF_SEAL_SIZE || rec[TF_VERSOR] != TF_LAYOUT_I) {
        return false;
    }
    const TfSectionField& field = TF_SECTION_FIELDS[section];
    size = field.lengthBytes == 1 ? rec[field.lengthAt] : TfRead16(rec + field.lengthAt);
    const std::uint32_t offset = TfRead32(rec + field.offsetAtI);
    const std::uint32_t end = length - TF_SEAL_SIZE;
    if (offset < TF_HEADER_SIZE || offset > end || size > end - offset) {
        return false;
    }
    at = rec + offset;
    return true;
}

// DeFeat on one point section of a layout 'I' record.
int DeSection(Codex& e, SSign* out, unsigned capacity, const unsigned char* rec, int section)
{
    const unsigned char* at = nullptr;
    std::uint32_t size = 0;
    if (!SectionOf(rec, section, at, size)) {
        return WZ_BAD_SECTION;
    }
    return e.DeFeat(out, capacity, at, size);
}

} // namespace

int Codex::DeIndi(SSign* out, unsigned capacity, const unsigned char* rec)
{
    return DeSection(*this, out, capacity, rec, TF_MAIN);
}

int Codex::DeSign(SSign* out, unsigned capacity, const unsigned char* rec)
{
    return DeSection(*this, out, capacity, rec, TF_NOVA);
}

int Codex::DeArea(unsigned char* out, unsigned capacity, const unsigned char* rec)
{
    const unsigned char* area = nullptr;
    std::uint32_t size = 0;
    if (!SectionOf(rec, TF_AREA, area, size) || size < AREA_HEAD + 1) {
        return WZ_BAD_SECTION;
    }
    const std::uint32_t cells = static_cast<std::uint32_t>(TfRead16(area)) * TfRead16(area + 2);
    if (cells > capacity) {
        return WZ_RECORD_FULL;
    }
    // The first run byte counts cells of the first state; each later byte switches the state and
    // counts cells of the new one (a 0 byte only switches).
    std::uint32_t used = AREA_HEAD;
    std::uint32_t filled = 0;
    unsigned char state = AREA_FIRST;
    for (;;) {
        const std::uint32_t run = area[used++];
        if (run > cells - filled) {
            return WZ_BAD_SECTION;
        }
        if (out != nullptr) {
            std::memset(out + filled, state, run);
        }
        filled += run;
        if (filled == cells) {
            break;
        }
        if (used == size) {
            return WZ_BAD_SECTION; // the runs stop before the mask is full
        }
        state = state == AREA_FIRST ? AREA_OTHER : AREA_FIRST;
    }
    return used == size ? 0 : WZ_BAD_SECTION;
}

int Codex::DeArea(const unsigned char* rec)
{
    const CLevel& l3 = m_level[COARSE_LEVEL];
    const unsigned char* area = nullptr;
    std::uint32_t size = 0;
    if (!SectionOf(rec, TF_AREA, area, size) || size < AREA_HEAD || TfRead16(area) != l3.width ||
        TfRead16(area + 2) != l3.height) {
        return WZ_BAD_SECTION; // a mask of another geometry has no place in this pyramid
    }
    unsigned char* cells = GetLay(130, COARSE_LEVEL);
    const int code = DeArea(cells, l3.size, rec);
    if (code != 0) {
        return code;
    }
    // Each finer level down to the cell level takes the value of the cell whose block covers
    // it, with the blocks clipped like every two-level scan.
    for (int lv = COARSE_LEVEL; lv > FINE_LEVEL; --lv) {
        const CLevel& cl = m_level[lv];
        const CLevel& fl = m_level[lv - 1];
        const unsigned char* c = GetLay(130, lv);
        unsigned char* f = GetLay(130, lv - 1);
        for (int y = 0; y < cl.height; ++y) {
            const int y0 = BlockStart(y, 2, fl.height);
            for (int x = 0; x < cl.width; ++x) {
                const int x0 = BlockStart(x, 2, fl.width);
                for (int yy = y0; yy < y0 + 2 && yy < fl.height; ++yy) {
                    for (int xx = x0; xx < x0 + 2 && xx < fl.width; ++xx) {
                        f[static_cast<std::size_t>(yy) * fl.width + xx] =
                            c[static_cast<std::size_t>(y) * cl.width + x];
                    }
                }
            }
        }
    }
    return 0;
}

int Codex::ExData(unsigned char* out, int& size)
{
    const std::uint32_t layer = m_level[COARSE_LEVEL].size;
    size = static_cast<int>(3 * layer + 4 + TF_SEAL_SIZE);
    if (out == nullptr) {
        return 0;
    }
    const unsigned char* src[3];
    for (int k = 0; k < 3; ++k) {
        src[k] = Existing(*this, kDataLayers[k], COARSE_LEVEL);
        if (src[k] == nullptr) {
            return WZ_NO_LAYER;
        }
    }
    // 1. Length, 2. the layers back to back, 3. the seal after them.
    TfWrite32(out, static_cast<std::uint32_t>(size));
    for (int k = 0; k < 3; ++k) {
        std::memcpy(out + 4 + static_cast<std::size_t>(k) * layer, src[k], layer);
    }
    SetMod(out);
    return 0;
}

int Codex::ImData(unsigned char* in, unsigned size)
{
    const std::uint32_t layer = m_level[COARSE_LEVEL].size;
    if (in == nullptr || size < 4) {
        return WZ_BAD_BLOCK;
    }
    const std::uint32_t n = TfRead32(in);
    if (n > size || n != 3 * layer + 4 + TF_SEAL_SIZE || !VerMod(in)) {
        return WZ_BAD_BLOCK;
    }
    unsigned char* dst[3];
    for (int k = 0; k < 3; ++k) {
        dst[k] = GetLay(kDataLayers[k], COARSE_LEVEL);
        if (dst[k] == nullptr) {
            return WZ_NO_LAYER;
        }
    }
    for (int k = 0; k < 3; ++k) {
        std::memcpy(dst[k], in + 4 + static_cast<std::size_t>(k) * layer, layer);
    }
    return 0;
}

void Codex::Finger()
{
    // 1. Present boxes to the front; the entries behind them are marked absent.
    int n = 0;
    for (int k = 0; k < WZ_FINGER_BOXES; ++k) {
        if (m_fingers[k].position != 0) {
            m_fingers[n++] = m_fingers[k];
        }
    }
    for (int k = n; k < WZ_FINGER_BOXES; ++k) {
        m_fingers[k].position = 0;
    }
    if (n == 0) {
        return;
    }
    // 2. Centres, the mean of cb, keys (negative beyond the mean) and the lowest ca.
    long long ca[WZ_FINGER_BOXES];
    long long key[WZ_FINGER_BOXES];
    long long cbSum = 0;
    long long lo = FINGER_NO_LOW;
    for (int k = 0; k < n; ++k) {
        ca[k] = BoxMid(m_fingers[k].a1, m_fingers[k].a2);
        cbSum += BoxMid(m_fingers[k].b1, m_fingers[k].b2);
        lo = ca[k] < lo ? ca[k] : lo;
    }
    const long long mean = cbSum / n;
    for (int k = 0; k < n; ++k) {
        key[k] = BoxMid(m_fingers[k].b1, m_fingers[k].b2) > mean ? -ca[k] : ca[k];
    }
    // 3. Stable insertion sort: negative keys by ca, then the others by key.
    auto before = [&](int i, int j) {
        const bool ni = key[i] < 0;
        const bool nj = key[j] < 0;
        if (ni != nj) {
            return ni;
        }
        return ni ? ca[i] < ca[j] : key[i] < key[j];
    };
    int order[WZ_FINGER_BOXES];
    for (int k = 0; k < n; ++k) {
        order[k] = k;
    }
    for (int k = 1; k < n; ++k) {
        const int t = order[k];
        int j = k;
        for (; j > 0 && before(t, order[j - 1]); --j) {
            order[j] = order[j - 1];
        }
        order[j] = t;
    }
    // 4. and 5. Each row numbered from its first number: a box farther than the reach from the
    // previous centre skips one number per 160 units that the previous centre moves on.
    const auto number = [&](bool negative, int first) {
        long long r = lo - FINGER_STEP;
        long long next = first;
        for (int s = 0; s < n; ++s) {
            const int k = order[s];
            if (negative ? key[k] >= 0 : key[k] <= 0) {
                continue;
            }
            const long long d = ca[k] - r;
            const long long skipped = d >= FINGER_REACH ? (d - FINGER_REACH) / FINGER_STEP + 1 : 0;
            next += skipped;
            m_fingers[k].position = static_cast<std::uint8_t>(next);
            r = ca[k];
            ++next;
        }
    };
    number(false, 1);
    number(true, 6);
    // The sorted order becomes the table order.
    SFinger sorted[WZ_FINGER_BOXES];
    for (int s = 0; s < n; ++s) {
        sorted[s] = m_fingers[order[s]];
    }
    std::memcpy(m_fingers, sorted, static_cast<std::size_t>(n) * sizeof(SFinger));
}

} // namespace wizard73
