// Record writer of the engine: encodes the singular points and the minutiae as point sections
// (layers 178 of level 3 and 177 of level 1), builds the 67-byte header from the header fields
// and the section sizes, copies header and the six section layers out back to back and seals
// the record. GetSize throws WZ_RECORD_FULL (or WZ_NO_LAYER) instead of overrunning a layer,
// a header field or the largest record; ExGold then never writes past the length it announced.

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

} // namespace wizard73
