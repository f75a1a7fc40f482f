// Stage 0, Loader: resets the engine, checks the image kind, sizes the pyramid and the layer
// store, resamples the source pixels into layer 0 of level 0 (rotation, resolution correction,
// pseudo-random fill outside the source) and normalises its grey levels with a stretch curve.
// Returns 0 or a negative code (codes.h); the codes of GetTip are thrown and caught here.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wizard73 {

namespace {

constexpr int FILL_BASE = 238;
constexpr int MAX_SIDE = 65535; // level widths are 16-bit

bool KindIn(unsigned char kind, const char* set)
{
    return kind != 0 && std::strchr(set, kind) != nullptr;
}

// v / 8192 rounded with halves away from zero, for 64-bit products.
std::int64_t Descale64(std::int64_t v)
{
    return v >= 0 ? (v + 4096) >> 13 : -((4096 - v) >> 13);
}

std::int64_t Abs64(std::int64_t v)
{
    return v < 0 ? -v : v;
}

// Throws `code` after storing it as the engine's last error.
[[noreturn]] void Fail(std::int32_t& error, int code)
{
    error = code;
    throw code;
}

} // namespace

int Codex::Loader(SData& s, const int* map, bool isoMinutiae)
{
    // 1. Reset.
    m_quick = 0;
    m_iso = isoMinutiae;
    CBase::DelDoc();
    CBase::DelTab();
    CBase::ResDoc();
    CBase::Resume();
    Codex::ResDoc();
    CWork::ResDoc();
    m_stage = 0;
    m_class = 0;
    m_quality = 0;
    m_fillRan = 0; // one image always gives the same fill pixels
    // 2. Image description.
    m_kind = s.kind;
    m_finger = s.finger;
    m_xres = s.xres;
    m_yres = s.yres;
    m_angle = s.angle;
    m_linkno = s.links >= 5 && s.links <= 17 ? static_cast<unsigned char>(s.links | 1) : 17;
    // 3. Kind.
    if (KindIn(s.kind, "LFPST")) {
        m_angle = 0;
    }
    if (KindIn(s.kind, "LFPS")) {
        m_yres = 500;
    } else if (s.kind == 'T') {
        m_yres = 140;
    } else if (s.kind != 'A') {
        return WZ_BAD_KIND;
    }
    // 4. Write back.
    s.angle = static_cast<std::int16_t>(m_angle);
    s.yres = static_cast<std::uint16_t>(m_yres);
    s.links = m_linkno;
    // 5. Level map.
    SetMap(map != nullptr ? map : m_map[2]);
    // 6. Load.
    try {
        GetTip(s);
    } catch (int code) {
        CBase::DelDoc();
        CBase::DelTab();
        CBase::ResDoc();
        return code;
    }
    return 0;
}

int Codex::GetTip(SData& s)
{
    // 1. Source.
    m_srcW = s.width;
    m_srcH = s.height;
    m_src = s.pixels;
    m_fillBase = FILL_BASE;
    if (m_src == nullptr || m_srcW == 0 || m_srcH == 0) {
        Fail(m_error, WZ_TOO_SMALL); // nothing to load
    }
    if (static_cast<std::int64_t>(m_srcW) * m_srcH > INT32_MAX) {
        Fail(m_error, WZ_TOO_LARGE); // source offsets are 32-bit
    }
    if (m_xres <= 0 || m_yres <= 0) {
        Fail(m_error, WZ_TOO_LARGE); // no working size exists for these resolutions
    }
    // 2. Rotation.
    const int a = Mod360(m_angle);
    m_apSin = SinDeg(a);
    m_apCos = CosDeg(a);
    // 3. Working size, rounded down to multiples of 4.
    const std::int64_t wcos = Abs64(Descale64(static_cast<std::int64_t>(m_srcW) * m_apCos));
    const std::int64_t wsin = Abs64(Descale64(static_cast<std::int64_t>(m_srcW) * m_apSin));
    const std::int64_t hcos = Abs64(Descale64(static_cast<std::int64_t>(m_srcH) * m_apCos));
    const std::int64_t hsin = Abs64(Descale64(static_cast<std::int64_t>(m_srcH) * m_apSin));
    const std::int64_t w0 = (m_yres * (hsin + wcos) / m_xres) & ~std::int64_t{3};
    const std::int64_t h0 = (m_yres * (wsin + hcos) / m_xres) & ~std::int64_t{3};
    // 5. Size limits (checked before anything is allocated).
    if (KindIn(s.kind, "LF") && (w0 > 4096 || h0 > 4096)) {
        Fail(m_error, WZ_TOO_LARGE);
    }
    if (KindIn(s.kind, "PS") && (w0 > 3000 || h0 > 3000)) {
        Fail(m_error, WZ_TOO_LARGE);
    }
    if (KindIn(s.kind, "LFPS") && (w0 <= 63 || h0 <= 63)) {
        Fail(m_error, WZ_TOO_SMALL);
    }
    if (w0 > MAX_SIDE || h0 > MAX_SIDE) {
        Fail(m_error, WZ_TOO_LARGE); // beyond what a level's geometry can hold
    }
    if (w0 == 0 || h0 == 0) {
        Fail(m_error, WZ_TOO_SMALL); // an empty working image
    }
    // 4. Pyramid geometry and direction tables.
    SetGeo(static_cast<int>(w0), static_cast<int>(h0));
    m_winLeft = 0;
    m_winTop = 0;
    m_winRight = static_cast<int>(w0) - 1;
    m_winBottom = static_cast<int>(h0) - 1;
    // 6. Layer store and work planes.
    NewDoc();
    // 7. Resample into layer 0 and count its grey levels.
    m_rank.RanIni(0);
    unsigned char* dst = GetLay(0, 0);
    if (dst == nullptr) {
        Fail(m_error, WZ_NO_LAYER);
    }
    Loader(dst, m_src, 0, 0);
    const std::size_t n = m_level[0].size;
#pragma GCC unroll 4
    for (std::size_t i = 0; i < n; ++i) {
        ++m_rank.Ran[dst[i]];
    }
    if (KindIn(s.kind, "LFPS")) {
        // 9. Check value.
        const std::size_t total = static_cast<std::size_t>(m_srcW) * m_srcH;
        unsigned value = s.check;
        if (total > 255) {
            std::size_t i = 0;
            while (i < total - 255) {
                const std::size_t j = i + m_src[i];
                value = (value - m_src[j]) & 0xFFFFu;
                i = j + 1;
            }
        }
        if (value != 0) {
            Fail(m_error, WZ_BAD_CHECK);
        }
        // 10. Stretch curve from the smoothed histogram.
        m_rank.RanSmo(1);
        m_rank.RanSmo(3);
        m_rank.RanSmo(1);
        m_rank.RanBeg(6);
        m_rank.RanEnd(9);
        const int span = m_rank.end - m_rank.beg;
        if (span > 240) {
            m_rank.RanOrg();
        } else if (span <= 16) {
            Fail(m_error, WZ_FLAT);
        } else {
            m_rank.RanRes();
        }
    } else {
        m_rank.RanOrg(); // 8. Other kinds keep their grey levels.
    }
    // 11. Apply the curve.
#pragma GCC unroll 4
    for (std::size_t i = 0; i < n; ++i) {
        dst[i] = static_cast<unsigned char>(m_rank.Ran[dst[i]]);
    }
    return 0;
}

void Codex::Loader(unsigned char* dst, const unsigned char* src, int shift, unsigned char bits)
{
    const int w0 = m_level[0].width;
    const int h0 = m_level[0].height;
    // 1. Same resolutions, no rotation: a row copy (crops to the working size).
    if (m_xres == m_yres && m_angle == 0) {
        if (w0 == m_srcW) {
            std::memcpy(dst, src, static_cast<std::size_t>(w0) * h0);
        } else {
            for (int y = 0; y < h0; ++y) {
                std::memcpy(dst + static_cast<std::size_t>(y) * w0,
                            src + static_cast<std::size_t>(y) * m_srcW, w0);
            }
        }
        return;
    }
    // 2. Row offsets and source coordinates with 7 fraction bits.
    const int rows = std::max(m_srcH, m_srcW);
    const int coords = std::max(w0, h0);
    m_rowOff.reset(new int[rows]);
    m_coord.reset(new int[coords]);
    for (int y = 0; y < rows; ++y) {
        m_rowOff[y] = m_srcW * y;
    }
    for (int j = 0; j < coords; ++j) {
        m_coord[j] = static_cast<int>(static_cast<std::int64_t>(j) * 128 * m_xres / m_yres);
    }
    for (int y = 0; (y << shift) < h0; ++y) {
        for (int x = 0; (x << shift) < w0; ++x) {
            m_apX = x;
            m_apY = y;
            APixel(dst, src, bits);
        }
    }
    DelTab();
}

void Codex::APixel(unsigned char* dst, const unsigned char* src, unsigned char bits)
{
    const int w0 = m_level[0].width;
    const int h0 = m_level[0].height;
    // 1. Offset from the centre in source units with 7 fraction bits.
    std::int64_t dx = m_coord[m_apX] - m_coord[w0 / 2];
    std::int64_t dy = m_coord[m_apY] - m_coord[h0 / 2];
    // 2. Rotation.
    if (m_angle != 0) {
        const std::int64_t rx = Descale64(dx * m_apCos) - Descale64(dy * m_apSin);
        const std::int64_t ry = Descale64(dx * m_apSin) + Descale64(dy * m_apCos);
        dx = rx;
        dy = ry;
    }
    // 3. Source point, fractions and the neighbour side.
    const std::int64_t sx = dx / 128 + m_srcW / 2;
    const std::int64_t sy = dy / 128 + m_srcH / 2;
    const int fx = static_cast<int>(Abs64(dx) & 127);
    const int fy = static_cast<int>(Abs64(dy) & 127);
    const int nx = dx < 0 ? -1 : 1;
    const int ny = dy < 0 ? -1 : 1;
    unsigned char* out = dst + static_cast<std::size_t>(m_apY) * w0 + m_apX;
    // 4. Outside the source: fill.
    if (sx < 0 || sy < 0 || sx >= m_srcW || sy >= m_srcH) {
        if (bits != 0) {
            *out = 255;
        } else {
            m_fillRan = static_cast<std::uint16_t>(m_fillRan * 317u + 17182u);
            *out = static_cast<unsigned char>(m_fillBase + (m_fillRan >> 12));
        }
        return;
    }
    // 5. Bilinear blend; a neighbour outside the source takes p00.
    const int x = static_cast<int>(sx);
    const int y = static_cast<int>(sy);
    auto at = [&](int px, int py) {
        const int v = src[m_rowOff[py] + px];
        return bits != 0 ? ((v & bits) != 0 ? 255 : 0) : v;
    };
    const int p00 = at(x, y);
    const bool hasX = x + nx >= 0 && x + nx < m_srcW;
    const bool hasY = y + ny >= 0 && y + ny < m_srcH;
    const int p10 = hasX ? at(x + nx, y) : p00;
    const int p01 = hasY ? at(x, y + ny) : p00;
    const int p11 = hasX && hasY ? at(x + nx, y + ny) : p00;
    const int v =
        ((fy * (fx * p11 + (128 - fx) * p01) + (128 - fy) * (fx * p10 + (128 - fx) * p00)) >> 14) &
        255;
    // 6. Store.
    *out = static_cast<unsigned char>(bits != 0 ? (v < 128 ? 0 : bits) : v);
}

} // namespace wizard73
