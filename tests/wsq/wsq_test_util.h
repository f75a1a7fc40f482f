// Helpers of the codec tests: decode or encode a buffer through the exported entry points with
// the right guard, and list the segments of a stream.
#pragma once

#include "wsq/Wsq.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wsqtest {

using Bytes = std::vector<unsigned char>;

// Decodes `data` on a fresh instance. With `pixels` null it only asks for the size; otherwise
// it asks for the size, sizes `pixels` and decodes.
inline int Decode(const Bytes& data, Bytes* pixels, int* w, int* h)
{
    void* inst = init_instance();
    if (inst == nullptr) {
        return -1000;
    }
    Bytes copy = data; // the entry point takes a non-const pointer
    const int size = static_cast<int>(copy.size());
    const int guard = static_cast<int>(Wsq::wsqCheckSum(copy.data(), size));
    int rc = wsq_decode(inst, nullptr, copy.data(), size, w, h, guard);
    if (pixels != nullptr && rc == WSQ_SIZE_QUERY) {
        pixels->assign(static_cast<std::size_t>(*w) * static_cast<std::size_t>(*h), 0);
        rc = wsq_decode(inst, pixels->data(), copy.data(), size, w, h, guard);
    }
    cancel_instance(inst);
    return rc;
}

// Encodes w x h pixels at `rate` into a stream (empty on failure; the code goes to `rc`).
inline Bytes Encode(const Bytes& pixels, int w, int h, float rate, int* rc = nullptr)
{
    void* inst = init_instance();
    Bytes in = pixels;
    Bytes out(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    const int guard =
        static_cast<int>(Wsq::wsqCheckSum(in.data(), static_cast<std::int64_t>(w) * h));
    const int n = wsq_encode(inst, in.data(), out.data(), w, h, rate, guard);
    cancel_instance(inst);
    if (rc != nullptr) {
        *rc = n;
    }
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

struct Segment {
    std::uint16_t marker;
    std::size_t start; // offset of the marker
    std::size_t end;   // offset after the segment and, for SOB, its coded data
};

// Segments of a well-formed stream, SOI to EOI.
inline std::vector<Segment> Segments(const Bytes& s)
{
    std::vector<Segment> out;
    std::size_t pos = 0;
    while (pos + 1 < s.size()) {
        const std::uint16_t m = static_cast<std::uint16_t>((s[pos] << 8) | s[pos + 1]);
        Segment seg{m, pos, pos + 2};
        if (m != 0xFFA0 && m != 0xFFA1 && pos + 3 < s.size()) {
            seg.end = pos + 2 + static_cast<std::size_t>((s[pos + 2] << 8) | s[pos + 3]);
        }
        if (m == 0xFFA3) {
            while (seg.end + 1 < s.size() && !(s[seg.end] == 0xFF && s[seg.end + 1] != 0)) {
                ++seg.end;
            }
        }
        out.push_back(seg);
        if (m == 0xFFA1 || seg.end <= pos) {
            break;
        }
        pos = seg.end;
    }
    return out;
}

// The stream with every transform-table tap set to 4294967295: its reconstruction overflows to
// infinity and then to NaN. Empty when the stream has no transform table.
inline Bytes HugeTransformTaps(const Bytes& s)
{
    for (const Segment& seg : Segments(s)) {
        if (seg.marker != 0xFFA4 || seg.start + 6 > s.size()) {
            continue;
        }
        Bytes r = s;
        const std::size_t dtt = seg.start; // marker, length, two filter lengths, then the taps
        const std::size_t taps =
            static_cast<std::size_t>((r[dtt + 4] + 1) / 2 + (r[dtt + 5] + 1) / 2);
        for (std::size_t k = 0; k < taps && dtt + 12 + 6 * k <= r.size(); ++k) {
            const std::size_t at = dtt + 6 + 6 * k; // sign, scale, 32-bit value
            r[at + 1] = 0;
            for (std::size_t b = 2; b < 6; ++b) {
                r[at + b] = 0xFF;
            }
        }
        return r;
    }
    return {};
}

} // namespace wsqtest
