// Bit-stream decoders of the record sections: points (main, nova), links (nest), ridge
// counts (abac) and the area mask. Each takes one section as (first byte, byte length), reads
// nothing outside it, writes no more entries than its count query answers, and returns the
// entry count or 0 on a refusal. Also the integer arctangent of the link directions.
#pragma once

#include "records/Unwrap.h"

#include <cstdint>

namespace ESK {

// atan((i + 0.5) / 256) x 128 / pi rounded to nearest, i = 0..256: 256 units a full turn.
extern const std::uint8_t TbArctg[257];

// Direction of (dx, dy) in 256 units a turn, from TbArctg; (0, 0) gives 0. Domain:
// |dx|, |dy| < 2^23 (decoded coordinates are 16-bit).
int Arctg(int dx, int dy);

// Length of a link whose squared length is v: floor(sqrt(v)), at most 511.
unsigned LinkDistance(std::uint64_t v);

// Largest area mask dearea writes: 512 x 512 cells, the mask of a 4096 x 4096 image.
inline constexpr std::uint32_t ESK_MAX_AREA_CELLS = 512u * 512u;

// Stateless decoders over sections whose bytes are of type Byte.
template <typename Byte> class Access_decode {
public:
    // Points the section holds, from its head: (8 size - 32) / (sum of widths); 0 for a
    // section under 4 bytes, widths summing to 0, or a count above `cap`.
    unsigned PointCount(const Byte* sec, std::uint32_t size, unsigned cap) const;

    // Decodes at most PointCount points into out. layoutI adds 32 to levels and selects the
    // angle unit conversion; factor selects 256 units a turn instead of degrees. The count
    // when the stream ends where the section does, else 0 (decoded points stay in out).
    unsigned Points(Lot<short>* out, const Byte* sec, std::uint32_t size, unsigned cap,
                    bool layoutI, bool factor) const;

    // Decodes the link blocks of `count` minutiae into out[0 .. count - 1]. Returns count,
    // or 0 for a damaged head, a read past the section, a neighbour index >= count or a
    // stream that does not end with the section; after a 0 the contents of out are unspecified.
    unsigned Links(Link* out, const Lot<short>* minutiae, unsigned count, unsigned linkno,
                   const Byte* sec, std::uint32_t size) const;

    // Upper bound of the ridge-count entries of a section: every entry takes 2 bits or more.
    unsigned RidgeCountBound(std::uint32_t size) const { return 4u * size; }

    // Decodes ridge-count entries (0, or spread code + 4 x count) into out; the entry count
    // or 0 when the stream does not end with the section.
    unsigned RidgeCounts(unsigned char* out, const Byte* sec, std::uint32_t size) const;

    // Cells of the mask, w x h from the head; 0 for a section under 4 bytes.
    std::uint32_t AreaCells(const Byte* sec, std::uint32_t size) const;

    // Decodes the mask row by row into out (TF_CELL_OUTSIDE / TF_CELL_INSIDE). Returns
    // (h << 16) | w, or 0 when the mask exceeds ESK_MAX_AREA_CELLS, the runs do not cover
    // exactly w x h cells, or the bytes used are neither the section nor all but one byte.
    std::uint32_t Area(unsigned char* out, const Byte* sec, std::uint32_t size) const;
};

extern template class Access_decode<unsigned char>;

} // namespace ESK
