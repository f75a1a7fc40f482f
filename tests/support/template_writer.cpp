// Writer of finger templates for tests. Bit streams are packed least significant bit first,
// byte after byte, and end with the byte that holds their last bit.

#include "tests/support/template_writer.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

namespace zftest {
namespace {

class BitWriter {
public:
    // Appends the low `width` bits of v, least significant first.
    void Put(std::uint32_t v, unsigned width)
    {
        for (unsigned k = 0; k < width; ++k) {
            if (m_bits % 8 == 0) {
                m_bytes.push_back(0);
            }
            if ((v >> k) & 1u) {
                m_bytes.back() = static_cast<unsigned char>(m_bytes.back() | (1u << (m_bits % 8)));
            }
            ++m_bits;
        }
    }

    const Bytes& bytes() const { return m_bytes; }

private:
    Bytes m_bytes;
    std::size_t m_bits = 0;
};

std::uint32_t LargestOf(const std::vector<PointPlan>& points, std::int32_t PointPlan::*field)
{
    std::int32_t m = 0;
    for (const PointPlan& p : points) {
        m = std::max(m, p.*field);
    }
    return static_cast<std::uint32_t>(m);
}

std::uint32_t LargestOf(const std::vector<PointPlan>& points, std::uint8_t PointPlan::*field)
{
    std::uint32_t m = 0;
    for (const PointPlan& p : points) {
        m = std::max<std::uint32_t>(m, p.*field);
    }
    return m;
}

} // namespace

Bytes EncodePoints(const std::vector<PointPlan>& points, bool singular)
{
    unsigned w[TF_POINT_FIELD_COUNT] = {};
    w[TF_FIELD_X] = TfBitLength(LargestOf(points, &PointPlan::x));
    w[TF_FIELD_Y] = TfBitLength(LargestOf(points, &PointPlan::y));
    // Minutia types beyond 1 (which the extractor never writes) widen their field.
    w[TF_FIELD_TYPE] = singular
                           ? TF_MAIN_TYPE_BITS
                           : std::max<unsigned>(TF_NOVA_TYPE_BITS,
                                                TfBitLength(LargestOf(points, &PointPlan::type)));
    w[TF_FIELD_LEVEL] = TfBitLength(LargestOf(points, &PointPlan::level));
    w[TF_FIELD_QUALITY] = singular ? TF_MAIN_QUALITY_BITS : TF_NOVA_QUALITY_BITS;
    w[TF_FIELD_ANGLE] = TF_ANGLE_BITS;
    BitWriter out;
    for (unsigned width : w) {
        out.Put(width, 4);
    }
    for (const PointPlan& p : points) {
        const std::uint32_t f[TF_POINT_FIELD_COUNT] = {static_cast<std::uint32_t>(p.x),
                                                       static_cast<std::uint32_t>(p.y),
                                                       p.type,
                                                       p.level,
                                                       p.quality,
                                                       p.angle,
                                                       0,
                                                       0};
        for (int k = 0; k < TF_POINT_FIELD_COUNT; ++k) {
            out.Put(f[k], w[k]);
        }
    }
    return out.bytes();
}

Bytes EncodeRidgeCounts(const std::vector<std::uint8_t>& codes)
{
    BitWriter out;
    for (std::uint8_t c : codes) {
        if (c == 0) {
            out.Put(0, TF_ABAC_EMPTY_BITS);
        } else {
            out.Put(c, TF_ABAC_COUNT_BITS);
        }
    }
    return out.bytes();
}

Bytes EncodeArea(const AreaPlan& area)
{
    const std::size_t cells = static_cast<std::size_t>(area.w) * area.h;
    if (area.outside.size() != cells) {
        throw std::invalid_argument("area mask size differs from w x h");
    }
    Bytes out(TF_AREA_HEAD_SIZE);
    TfWrite16(out.data(), area.w);
    TfWrite16(out.data() + 2, area.h);
    bool outside = true; // the first run counts outside cells
    std::size_t k = 0;
    do {
        std::size_t run = 0;
        while (k < cells && (area.outside[k] != 0) == outside) {
            ++run;
            ++k;
        }
        while (run > TF_AREA_MAX_RUN) {
            out.push_back(TF_AREA_MAX_RUN);
            out.push_back(0);
            run -= TF_AREA_MAX_RUN;
        }
        out.push_back(static_cast<unsigned char>(run));
        outside = !outside;
    } while (k < cells);
    return out;
}

Bytes EncodeNest(const std::vector<PointPlan>& minutiae,
                 const std::vector<std::vector<LinkPlan>>& links, unsigned linkno)
{
    const unsigned w4 = TfBitLength(static_cast<std::uint32_t>(minutiae.size()));
    const unsigned w5 = TfBitLength(w4);
    BitWriter out;
    out.Put(TF_NEST_CODE3_WIDTH, 4);
    out.Put(TF_NEST_CODE12_WIDTH, 4);
    out.Put(TF_NEST_EMPTY_WIDTH, 4);
    out.Put(TF_NEST_EXTRA_WIDTH, 4);
    out.Put(w4, 4);
    out.Put(w5, 4);
    for (std::size_t i = 0; i < minutiae.size(); ++i) {
        const std::vector<LinkPlan> none;
        const std::vector<LinkPlan>& list = i < links.size() ? links[i] : none;
        const int slots = minutiae[i].type != 0 ? 2 * static_cast<int>(linkno) - 1
                                                : 2 * static_cast<int>(linkno) + 1;
        std::vector<const LinkPlan*> bySlot(static_cast<std::size_t>(std::max(slots, 0)), nullptr);
        for (const LinkPlan& l : list) {
            if (l.slot < 0 || l.slot >= slots || (l.code & 3u) == 0) {
                throw std::invalid_argument("link slot or code cannot be written");
            }
            bySlot[static_cast<std::size_t>(l.slot)] = &l;
        }
        int lo = -1;
        int hi = -1;
        for (const LinkPlan* l : bySlot) {
            if (l == nullptr) {
                out.Put(0, TF_NEST_EMPTY_WIDTH);
                continue;
            }
            if ((l->code & 3u) == 3) {
                out.Put(l->code, TF_NEST_CODE3_WIDTH);
                out.Put(l->extra, TF_NEST_EXTRA_WIDTH);
            } else {
                out.Put(l->code, TF_NEST_CODE12_WIDTH);
            }
            lo = lo < 0 ? l->neighbour : std::min<int>(lo, l->neighbour);
            hi = std::max<int>(hi, l->neighbour);
        }
        const unsigned iw = lo < 0 ? 0 : TfBitLength(static_cast<std::uint32_t>(hi - lo));
        out.Put(lo < 0 ? TF_NEST_EMPTY_BASE : static_cast<std::uint32_t>(lo), w4);
        out.Put(iw, w5);
        for (const LinkPlan* l : bySlot) {
            if (l != nullptr) {
                out.Put(static_cast<std::uint32_t>(l->neighbour - lo), iw);
            }
        }
    }
    return out.bytes();
}

Sections EncodeSections(const RecordPlan& plan)
{
    Sections s;
    s[TF_MAIN] = EncodePoints(plan.singular, true);
    s[TF_NOVA] = EncodePoints(plan.minutiae, false);
    s[TF_ABAC] = EncodeRidgeCounts(plan.ridgeCounts);
    s[TF_AREA] = EncodeArea(plan.area);
    s[TF_NEST] = EncodeNest(plan.minutiae, plan.links, plan.linkno);
    return s;
}

Bytes AssembleRecord(const RecordPlan& plan, const Sections& sections)
{
    std::uint32_t body = 0;
    for (const Bytes& b : sections) {
        body += static_cast<std::uint32_t>(b.size());
    }
    if (sections[TF_MAIN].size() > 255) {
        throw std::invalid_argument("section main above 255 bytes");
    }
    const std::uint32_t length = TF_HEADER_SIZE + body + TF_SEAL_SIZE;
    Bytes r(length, 0);
    unsigned char* h = r.data();
    TfWrite32(h + TF_LENGTH, length);
    h[TF_VERSOR] = TF_LAYOUT_I;
    h[TF_FINGER] = plan.finger;
    TfWrite16(h + TF_IMGPPI, plan.imgppi);
    TfWrite16(h + TF_TPLPPI, plan.tplppi);
    h[TF_QUALIT] = plan.quality;
    h[TF_DENSIT] = static_cast<unsigned char>(plan.density - TF_DENSITY_BIAS);
    h[TF_IMMASK] = plan.immask;
    h[TF_KIND] = plan.kind;
    h[TF_PASSXY] = plan.passxy;
    h[TF_PASSAN] = plan.passan;
    h[TF_LINKNO] = plan.linkno;
    TfWrite16(h + TF_I_SIZE_X, plan.sizeX);
    TfWrite16(h + TF_I_SIZE_Y, plan.sizeY);
    std::uint32_t offset = TF_HEADER_SIZE;
    for (int id = 0; id < TF_SECTION_COUNT; ++id) {
        const TfSectionField& f = TF_SECTION_FIELDS[id];
        const auto size = static_cast<std::uint32_t>(sections[static_cast<std::size_t>(id)].size());
        if (f.lengthBytes == 1) {
            h[f.lengthAt] = static_cast<unsigned char>(size);
        } else if (f.lengthBytes == 2) {
            TfWrite16(h + f.lengthAt, size);
        } else {
            TfWrite32(h + f.lengthAt, size);
        }
        TfWrite32(h + f.offsetAtI, offset);
        std::copy(sections[static_cast<std::size_t>(id)].begin(),
                  sections[static_cast<std::size_t>(id)].end(), r.begin() + offset);
        offset += size;
    }
    TfWrite32(h + TF_I_END_OFF, offset);
    TfWrite32(h + TF_I_LENGTH_COPY, length);
    Seal(r);
    return r;
}

Bytes BuildRecord(const RecordPlan& plan)
{
    return AssembleRecord(plan, EncodeSections(plan));
}

void Seal(Bytes& record)
{
    const std::uint32_t length = TfRead32(record.data());
    if (length < TF_SEAL_SIZE + 1) {
        record[length - 1] = 0;
        return;
    }
    std::fill(record.begin() + (length - TF_SEAL_SIZE), record.begin() + (length - 1), 0);
    record[length - 1] =
        static_cast<unsigned char>(TfSealSum(record.data(), length - TF_SEAL_SIZE));
}

void ToLayoutN(Bytes& record, std::uint8_t versor, std::uint16_t exmask, std::uint8_t square)
{
    unsigned char* h = record.data();
    std::uint32_t offsets[TF_SECTION_COUNT];
    for (int id = 0; id < TF_SECTION_COUNT; ++id) {
        offsets[id] = TfRead32(h + TF_SECTION_FIELDS[id].offsetAtI);
    }
    const std::uint16_t w = TfRead16(h + TF_I_SIZE_X);
    const std::uint16_t hh = TfRead16(h + TF_I_SIZE_Y);
    h[TF_VERSOR] = versor;
    h[TF_DENSIT] = static_cast<unsigned char>(h[TF_DENSIT] + TF_DENSITY_BIAS);
    h[TF_SQUARE] = square;
    std::fill(h + TF_I_SIZE_X, h + TF_HEADER_SIZE, 0);
    TfWrite16(h + TF_N_SIZE_X, w);
    TfWrite16(h + TF_N_SIZE_Y, hh);
    TfWrite16(h + TF_N_EXMASK, exmask);
    for (int id = 0; id < TF_SECTION_COUNT; ++id) {
        TfWrite32(h + TF_SECTION_FIELDS[id].offsetAtN, offsets[id]);
    }
    Seal(record);
}

Bytes WrapTemplate(const RecordPlan& plan, const Bytes& record)
{
    Bytes t(TF_PREFIX_SIZE + record.size(), 0);
    TfWrite32(t.data() + TF_PREFIX_TOTAL_LENGTH,
              static_cast<std::uint32_t>(record.size() + TF_PREFIX_SIZE));
    t[TF_PREFIX_VERSION] = TF_PREFIX_VERSION_VALUE;
    TfWrite16(t.data() + TF_PREFIX_MINUTIA_COUNT, static_cast<std::uint32_t>(plan.minutiae.size()));
    t[TF_PREFIX_RELIABLE_COUNT] = static_cast<unsigned char>(
        std::count_if(plan.minutiae.begin(), plan.minutiae.end(),
                      [](const PointPlan& p) { return (p.quality & 0x80) == 0; }));
    t[TF_PREFIX_QUALITY] = plan.quality;
    std::copy(record.begin(), record.end(), t.begin() + TF_PREFIX_SIZE);
    return t;
}

Bytes BuildTemplate(const RecordPlan& plan)
{
    return WrapTemplate(plan, BuildRecord(plan));
}

RecordPlan SampleRecord()
{
    RecordPlan plan;
    plan.finger = 2;
    plan.quality = 73;
    plan.density = 52;
    plan.immask = 0x05;
    plan.linkno = 3;
    plan.singular = {{120, 140, TF_SP_LOOP, 2, 40, 45},
                     {118, 190, TF_SP_CENTRE, 2, 33, 90},
                     {60, 230, TF_SP_DELTA, 1, 51, 170}};
    // A 4 x 3 grid of minutiae, types alternating, qualities with the flag bits in use.
    for (int k = 0; k < 12; ++k) {
        PointPlan p;
        p.x = 40 + 50 * (k % 4) + k;
        p.y = 60 + 70 * (k / 4) - k;
        p.type = static_cast<std::uint8_t>(k % 2);
        p.level = static_cast<std::uint8_t>(k % 3);
        p.quality = static_cast<std::uint8_t>((k * 37) & 0xFF);
        p.angle = static_cast<std::uint8_t>((k * 29) % 180);
        plan.minutiae.push_back(p);
    }
    plan.links.resize(12);
    for (int k = 0; k < 12; ++k) {
        if (k == 5) {
            continue; // one minutia without links
        }
        const auto n1 = static_cast<std::uint16_t>((k + 1) % 12);
        const auto n2 = static_cast<std::uint16_t>((k + 4) % 12);
        plan.links[static_cast<std::size_t>(k)] = {{0, 3, n1, 1}, {2, 6, n2, 0}};
    }
    // Pairs without the reference centre: (0, 2) only.
    plan.ridgeCounts = {4 * 9 + 1};
    plan.area.w = 32;
    plan.area.h = 40;
    plan.area.outside.resize(32 * 40);
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 32; ++x) {
            const int dx = x - 16;
            const int dy = y - 20;
            plan.area.outside[static_cast<std::size_t>(y * 32 + x)] =
                dx * dx * 4 + dy * dy * 3 > 1100 ? 1 : 0;
        }
    }
    return plan;
}

} // namespace zftest
