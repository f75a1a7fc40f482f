// Stage 2, Lightf: smooths the level-0 source (layer 0) into layer 1 with a weighted rank
// filter and derives four directional responses 45 degrees apart, normalised by the image's
// own contrast, into layers 10..13 of level 0 (127 = no response). The raw responses stay in
// work planes 0..3 (D12, D13, D10, D11) for stage 7. Stage 9, Lights, is a second form of the
// same stage. Throws WZ_NO_SOURCE when layer 0 is missing, WZ_NO_LAYER without a free slot.

#include "extraction/engine/Codex.h"
#include "extraction/engine/RankRow.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace wizard73 {
namespace {

constexpr int LIGHTF_STAGE = 2;
constexpr int LIGHTS_STAGE = 9;
constexpr int NO_RESPONSE = 127;
// Plane of each response layer 10..13: D10 in plane 2, D11 in 3, D12 in 0, D13 in 1.
constexpr int kPlaneOf[4] = {2, 3, 0, 1};

// Floor division by 256.
int FloorByte(int v)
{
    return v >= 0 ? v >> 8 : -((255 - v) >> 8);
}

// The four raw responses of the inner pixel p of a layer with rows `w` apart: D10..D13.
void Responses(const unsigned char* p, int w, int* g)
{
    std::int16_t v[4];
    std::int16_t* const out[4] = {&v[0], &v[1], &v[2], &v[3]};
    ResponseRowScalar(p, w, out, 1);
    for (int k = 0; k < 4; ++k) {
        g[k] = v[k];
    }
}

// Layer byte of a raw response g under the signed curve `ran` (127 subtracted) and gain.
int Shape(int g, int d, const int* ran, int gain)
{
    const int i = std::clamp(g * 32 / d + 127, 0, 255);
    return FloorByte(ran[i] * gain) + 127;
}

// Largest magnitude of a raw response: (2 + 1 + 1) x 255.
constexpr int MAX_RESPONSE = 1020;

// The histogram bin of a raw response: the magnitude of its floor division by 4.
constexpr int QuarterBin(int g)
{
    return (g < 0 ? 3 - g : g) >> 2;
}

// QuarterBin of every raw response, QuarterBins.bin[g + MAX_RESPONSE].
struct QuarterBins {
    unsigned char bin[2 * MAX_RESPONSE + 1];
};
constexpr QuarterBins MakeQuarterBins()
{
    QuarterBins t{};
    for (int g = -MAX_RESPONSE; g <= MAX_RESPONSE; ++g) {
        t.bin[g + MAX_RESPONSE] = static_cast<unsigned char>(QuarterBin(g));
    }
    return t;
}
constexpr QuarterBins kQuarterBins = MakeQuarterBins();
static_assert(kQuarterBins.bin[0] == 255 && kQuarterBins.bin[MAX_RESPONSE - 1] == 1 &&
              kQuarterBins.bin[MAX_RESPONSE] == 0 && kQuarterBins.bin[2 * MAX_RESPONSE] == 255);

// Shape of every raw response -MAX_RESPONSE..MAX_RESPONSE, so that the per-pixel output is one
// look-up: table[g + MAX_RESPONSE] == Shape(g, d, ran, gain).
struct ShapeTable {
    unsigned char byte[2 * MAX_RESPONSE + 1];

    ShapeTable(int d, const int* ran, int gain)
    {
        for (int g = -MAX_RESPONSE; g <= MAX_RESPONSE; ++g) {
            byte[g + MAX_RESPONSE] = static_cast<unsigned char>(Shape(g, d, ran, gain));
        }
    }
    unsigned char operator()(int g) const
    {
        return byte[std::clamp(g, -MAX_RESPONSE, MAX_RESPONSE) + MAX_RESPONSE];
    }
    // The bytes of the raw responses as ResponseRow makes them, within +-MAX_RESPONSE by
    // construction: Raw()[g].
    const unsigned char* Raw() const { return byte + MAX_RESPONSE; }
};

} // namespace

// Layer 1 of level 0 from layer 0: the border copied, inner pixels weighted by rank (or, in
// quick mode, a plus-shaped mean).
void Codex::LiSmooth()
{
    const int w = m_level[0].width;
    const int h = m_level[0].height;
    const unsigned char* src = GetLay(0, 0);
    unsigned char* dst = GetLay(1, 0);
    if (src == nullptr || dst == nullptr) {
        m_error = WZ_NO_LAYER;
        throw WZ_NO_LAYER;
    }
    for (int y = 0; y < h; ++y) {
        const unsigned char* s = src + static_cast<std::size_t>(y) * w;
        unsigned char* d = dst + static_cast<std::size_t>(y) * w;
        if (y == 0 || y == h - 1 || w < 3) {
            std::memcpy(d, s, w);
            continue;
        }
        d[0] = s[0];
        d[w - 1] = s[w - 1];
        if (m_quick == 0) {
            RankRow3x3(s + 1, w, d + 1, w - 2);
            continue;
        }
        for (int x = 1; x < w - 1; ++x) {
            const unsigned char* p = s + x;
            d[x] = static_cast<unsigned char>((p[-w] + p[w] + p[-1] + p[1] + 4 * p[0] + 4) >> 3);
        }
    }
}

// Builds the contrast curve in Ran (from the response histogram it holds) and the gain in Lor;
// returns the divisor D (at least 1).
int Codex::LiCurve()
{
    static const int kCurve[] = {3, 0, 0, 32, 16, 127, 127};
    m_rank.RanEnd(7);
    int d = m_rank.end;
    m_rank.RanGau(kCurve);
    m_rank.RanSmo(4);
    m_rank.LorLog(255);
    return d < 1 ? 1 : d;
}

const unsigned char* Codex::LiLayers(unsigned char* out[4])
{
    if (GetKey(1, 0) == -1) {
        LiSmooth();
    }
    const unsigned char* src = GetLay(1, 0);
    for (int k = 0; k < 4; ++k) {
        out[k] = GetLay(10 + k, 0);
        if (out[k] == nullptr || src == nullptr) {
            m_error = WZ_NO_LAYER;
            throw WZ_NO_LAYER;
        }
    }
    return src;
}

void Codex::Lightf(int)
{
    // 1. Input.
    if (GetKey(0, 0) == -1) {
        m_error = WZ_NO_SOURCE;
        throw WZ_NO_SOURCE;
    }
    // 2. Stage discipline.
    m_stage = LIGHTF_STAGE;
    OldLay(LIGHTF_STAGE);
    m_curLevel = 0;
    const int w = m_level[0].width;
    const int h = m_level[0].height;
    // 3. Smoothing, once per load, and the layers.
    unsigned char* out[4];
    const unsigned char* src = LiLayers(out);
    // 4. Raw responses into the planes; a quarter of the pixels feed the histogram.
    m_rank.RanIni(0);
    std::int16_t* planes[4];
    for (int k = 0; k < 4; ++k) {
        planes[k] = Plane(kPlaneOf[k]);
    }
    for (int y = 1; y + 1 < h; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * w;
        std::int16_t* rowOut[4];
        for (int k = 0; k < 4; ++k) {
            rowOut[k] = planes[k] + row + 1;
        }
        ResponseRow(src + row + 1, w, rowOut, w - 2);
        if ((y & 1) != 0) {
            // Counting is commutative: each plane's odd columns in turn.
            int* const ran = m_rank.Ran;
            const unsigned char* const bin = kQuarterBins.bin + MAX_RESPONSE;
            for (int k = 0; k < 4; ++k) {
                const std::int16_t* const g = planes[k] + row;
#pragma GCC unroll 4
                for (int x = 1; x + 1 < w; x += 2) {
                    ++ran[bin[g[x]]]; // g within +-MAX_RESPONSE, as ResponseRow makes it
                }
            }
        }
    }
    // 5.-10. Divisor, curve and gain; the curve becomes signed.
    const int d = LiCurve();
    for (int& v : m_rank.Ran) {
        v -= 127;
    }
    const ShapeTable shape(d, m_rank.Ran, m_rank.Lor[d]);
    // 11. Output with a neutral border.
    for (int k = 0; k < 4; ++k) {
        unsigned char* o = out[k];
        const std::int16_t* plane = planes[k];
        const unsigned char* raw = shape.Raw();
        for (int y = 0; y < h; ++y) {
            const std::size_t row = static_cast<std::size_t>(y) * w;
            if (y == 0 || y == h - 1) {
                std::memset(o + row, NO_RESPONSE, w);
                continue;
            }
            o[row] = NO_RESPONSE;
#pragma GCC unroll 4
            for (int x = 1; x + 1 < w; ++x) {
                o[row + x] = raw[plane[row + x]]; // written by step 4 above
            }
            o[row + w - 1] = NO_RESPONSE;
        }
    }
}

void Codex::Lights(int)
{
    // 1. Input and stage discipline.
    if (GetKey(32, 3) == -1) {
        Xfocus(1);
    }
    m_stage = LIGHTS_STAGE;
    OldLay(LIGHTS_STAGE);
    m_curLevel = 0;
    const int w = m_level[0].width;
    const int h = m_level[0].height;
    // 2. Smoothing, once per load.
    if (GetKey(0, 0) == -1) {
        m_error = WZ_NO_SOURCE;
        throw WZ_NO_SOURCE;
    }
    unsigned char* out[4];
    const unsigned char* src = LiLayers(out);
    // 3. Histogram of the responses, not stored.
    m_rank.RanIni(0);
    for (int y = 1; y + 1 < h; y += 2) { // odd rows and columns only
        for (int x = 1; x + 1 < w; x += 2) {
            int g[4];
            Responses(src + static_cast<std::size_t>(y) * w + x, w, g);
            for (int v : g) {
                ++m_rank.Ran[QuarterBin(v)];
            }
        }
    }
    // 4. Curve; it stays unsigned.
    const int d = LiCurve();
    int signedCurve[256];
    for (int i = 0; i < 256; ++i) {
        signedCurve[i] = m_rank.Ran[i] - 127;
    }
    const ShapeTable shape(d, signedCurve, m_rank.Lor[d]);
    // 5. Responses computed again and written.
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            if (x == 0 || y == 0 || x == w - 1 || y == h - 1) {
                for (unsigned char* o : out) {
                    o[i] = NO_RESPONSE;
                }
                continue;
            }
            int g[4];
            Responses(src + i, w, g);
            for (int k = 0; k < 4; ++k) {
                out[k][i] = shape(g[k]);
            }
        }
    }
}

} // namespace wizard73
