// Writer of finger templates for tests: encodes each section of the record format from plain
// lists, assembles and seals records, wraps them in the 21-byte prefix, and offers the
// parts separately so tests can build damaged templates (a grown section, a layout 'N'
// header, a flipped byte).
#pragma once

#include "records/TemplateFormat.h"

#include <array>
#include <cstdint>
#include <vector>

namespace zftest {

using Bytes = std::vector<unsigned char>;

// One point before encoding; angle in 2-degree units (0..179).
struct PointPlan {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::uint8_t type = 0;
    std::uint8_t level = 0;
    std::uint8_t quality = 0;
    std::uint8_t angle = 0;
};

// One link of a minutia: its slot, its code (1, 2, 5, 6, 3, 7, 11, 15), the neighbour's
// index in the minutia list and, for codes with low bits 3, the extra bit.
struct LinkPlan {
    int slot = 0;
    std::uint8_t code = 0;
    std::uint16_t neighbour = 0;
    std::uint8_t extra = 0;
};

// Area mask in cells, row by row; outside[k] != 0 marks a cell outside the finger.
struct AreaPlan {
    std::uint16_t w = 0;
    std::uint16_t h = 0;
    std::vector<std::uint8_t> outside;
};

// Everything a layout 'I' record holds. density is the real value (the header stores it
// minus 32); links[i] lists the links of minutia i (missing entries: no links).
struct RecordPlan {
    std::uint8_t finger = 1;
    std::uint16_t imgppi = TF_DEFAULT_PPI;
    std::uint16_t tplppi = TF_DEFAULT_PPI;
    std::uint8_t quality = 60;
    std::uint8_t density = 40;
    std::uint8_t immask = 0;
    std::uint8_t kind = TF_DEFAULT_KIND;
    std::uint8_t passxy = TF_DEFAULT_PASS;
    std::uint8_t passan = TF_DEFAULT_PASS;
    std::uint8_t linkno = TF_DEFAULT_LINKNO;
    std::uint16_t sizeX = 256;
    std::uint16_t sizeY = 320;
    std::vector<PointPlan> singular;
    std::vector<PointPlan> minutiae;
    std::vector<std::vector<LinkPlan>> links;
    std::vector<std::uint8_t> ridgeCounts; // per pair: 0 = no count, else the 7-bit code
    AreaPlan area;
};

using Sections = std::array<Bytes, TF_SECTION_COUNT>;

// Section encoders.
Bytes EncodePoints(const std::vector<PointPlan>& points, bool singular);
Bytes EncodeRidgeCounts(const std::vector<std::uint8_t>& codes);
Bytes EncodeArea(const AreaPlan& area);
Bytes EncodeNest(const std::vector<PointPlan>& minutiae,
                 const std::vector<std::vector<LinkPlan>>& links, unsigned linkno);
Sections EncodeSections(const RecordPlan& plan);

// Header of plan, the given sections in order, then the seal.
Bytes AssembleRecord(const RecordPlan& plan, const Sections& sections);
Bytes BuildRecord(const RecordPlan& plan);

// Rewrites the seal of a record from its length field.
void Seal(Bytes& record);

// Rewrites a layout 'I' record as layout 'N' with the given versor, then reseals it.
void ToLayoutN(Bytes& record, std::uint8_t versor, std::uint16_t exmask, std::uint8_t square);

// The 21-byte prefix for plan's minutiae and quality, then the record.
Bytes WrapTemplate(const RecordPlan& plan, const Bytes& record);
Bytes BuildTemplate(const RecordPlan& plan);

// A small plausible record: three singular points (one a reference centre), a dozen linked
// minutiae, ridge counts and a mask with both states.
RecordPlan SampleRecord();

} // namespace zftest
