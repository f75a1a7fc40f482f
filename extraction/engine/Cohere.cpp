// Stage 4, Cohere: the contrast layer 114 of level 3 from the ridge strength 112 of stage 3,
// by a second-smallest then second-largest 3 x 3 rank filter (work layer 240) and a restore of
// the cells whose strength exceeds the filtered value by less than the top 4 % of such excesses.
// Integers only; throws only what stage 3 throws, or WZ_NO_LAYER without a free slot.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace wizard73 {
namespace {

constexpr int COHERE_STAGE = 4;
constexpr int LEVEL = 3;

// The second of nine values in the order of `Keep` (min: second smallest, max: second
// largest): the first kept value and the runner-up, updated value by value. Works alike on ints
// and on sixteen byte lanes.
template <bool Low, typename V> V Keep(V a, V b)
{
    return Low ? (a < b ? a : b) : (a < b ? b : a);
}
template <bool Low, typename V> V Drop(V a, V b)
{
    return Low ? (a < b ? b : a) : (a < b ? a : b);
}
template <bool Low, typename V, typename Load> V Second9(const Load& load, int w)
{
    const int offsets[9] = {-w - 1, -w, -w + 1, -1, 0, 1, w - 1, w, w + 1};
    const V a = load(offsets[0]);
    const V b = load(offsets[1]);
    V first = Keep<Low>(a, b);
    V second = Drop<Low>(a, b);
    for (int k = 2; k < 9; ++k) {
        const V v = load(offsets[k]);
        second = Keep<Low>(second, Drop<Low>(first, v));
        first = Keep<Low>(first, v);
    }
    return second;
}

constexpr int RANK_LANES = 16;
using RankBytes = std::uint8_t __attribute__((vector_size(RANK_LANES)));

template <bool Low>
void SecondRowScalar(const unsigned char* src, int w, unsigned char* dst, int count)
{
    for (int x = 0; x < count; ++x) {
        const unsigned char* p = src + x;
        dst[x] = static_cast<unsigned char>(Second9<Low, int>([p](int o) { return int{p[o]}; }, w));
    }
}

template <bool Low> void SecondRow(const unsigned char* src, int w, unsigned char* dst, int count)
{
    if (count < RANK_LANES) {
        SecondRowScalar<Low>(src, w, dst, count);
        return;
    }
    // Every output depends on its own neighbourhood only: the last block overlaps the one
    // before it rather than leaving a tail.
    for (int x = 0; x < count; x += RANK_LANES) {
        const int at = std::min(x, count - RANK_LANES);
        const unsigned char* p = src + at;
        const RankBytes v = Second9<Low, RankBytes>(
            [p](int o) {
                RankBytes b;
                std::memcpy(&b, p + o, sizeof b);
                return b;
            },
            w);
        std::memcpy(dst + at, &v, sizeof v);
    }
}

} // namespace

void Codex::CohereRankRow(const unsigned char* src, int stride, unsigned char* dst, int count,
                          bool low)
{
    (low ? SecondRow<true> : SecondRow<false>)(src, stride, dst, count);
}

void Codex::CohereRankRowScalar(const unsigned char* src, int stride, unsigned char* dst, int count,
                                bool low)
{
    (low ? SecondRowScalar<true> : SecondRowScalar<false>)(src, stride, dst, count);
}

void Codex::Cohere(int)
{
    // 1.-2. Pull and stage discipline; the window leaves out the outermost ring.
    if (GetKey(33, LEVEL) == -1) {
        Stream(-1);
    }
    m_stage = COHERE_STAGE;
    OldLay(COHERE_STAGE);
    m_curLevel = LEVEL;
    const int w = m_level[LEVEL].width;
    const int h = m_level[LEVEL].height;
    m_winLeft = 1;
    m_winTop = 1;
    m_winRight = w - 2;
    m_winBottom = h - 2;
    const unsigned char* strength = GetLay(112, LEVEL);
    unsigned char* low = GetLay(240, LEVEL);
    unsigned char* con = GetLay(114, LEVEL);
    if (strength == nullptr || low == nullptr || con == nullptr) {
        m_error = WZ_NO_LAYER;
        throw WZ_NO_LAYER;
    }
    auto inner = [&](int x, int y) {
        return x >= m_winLeft && x <= m_winRight && y >= m_winTop && y <= m_winBottom;
    };
    // 3. Second smallest of 112 (0 outside the window).
    std::memset(low, 0, static_cast<std::size_t>(w) * h);
    for (int y = m_winTop; y <= m_winBottom; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * w;
        CohereRankRow(strength + row + 1, w, low + row + 1, w - 2, true);
    }
    // 4.-5. Second largest of 240; excess histogram; border cells copy their inner neighbour.
    m_rank.RanIni(0);
    for (int y = m_winTop; y <= m_winBottom; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * w;
        CohereRankRow(low + row + 1, w, con + row + 1, w - 2, false);
        for (int x = m_winLeft; x <= m_winRight; ++x) {
            if (strength[row + x] > con[row + x]) {
                ++m_rank.Ran[strength[row + x] - con[row + x]];
            }
        }
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            if (inner(x, y)) {
                continue;
            }
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            const int nx = std::clamp(x, std::min(1, w - 1), std::max(w - 2, 0));
            const int ny = std::clamp(y, std::min(1, h - 1), std::max(h - 2, 0));
            con[i] = low[static_cast<std::size_t>(ny) * w + nx];
        }
    }
    // 6.-7. Restore cells whose excess stays below the threshold.
    const int t = m_rank.RanSha(4) + 1;
    for (int y = m_winTop; y <= m_winBottom; ++y) {
        for (int x = m_winLeft; x <= m_winRight; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            if (strength[i] - con[i] < t) {
                con[i] = strength[i];
            }
        }
    }
    // 8. Work layer.
    DelLay(240, LEVEL);
}

} // namespace wizard73
