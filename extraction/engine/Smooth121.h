// The [1 2 1] x [1 2 1] rounded mean, (sum + 8) >> 4, of a byte plane at an inner pixel (rows w
// apart; the rows above and below and the columns either side are read): one pixel, and in the
// SSE2 build eight in 16-bit lanes (each column sum at most 4 * 255, the weighted row of them at
// most 16 * 255 + 8). Shared by the flow stages Respon and Curvat.
#pragma once

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace wizard73 {

inline int Smooth121(const unsigned char* p, std::ptrdiff_t w)
{
    auto col = [p, w](int k) { return p[k - w] + 2 * p[k] + p[k + w]; };
    return (col(-1) + 2 * col(0) + col(1) + 8) >> 4;
}

#if defined(__SSE2__)
// Smooth121 of the eight pixels from p on.
inline __m128i Smooth121x8(const unsigned char* p, std::ptrdiff_t w)
{
    const __m128i zero = _mm_setzero_si128();
    auto load = [zero](const unsigned char* q) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q)), zero);
    };
    auto col = [&](const unsigned char* q) {
        const __m128i m = load(q);
        return _mm_add_epi16(_mm_add_epi16(load(q - w), load(q + w)), _mm_add_epi16(m, m));
    };
    const __m128i c = col(p);
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(col(p - 1), col(p + 1)), _mm_add_epi16(c, c));
    return _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(8)), 4);
}
#endif

} // namespace wizard73
