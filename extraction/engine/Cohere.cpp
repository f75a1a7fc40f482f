// Stage 4, Cohere: the contrast layer 114 of level 3 from the ridge strength 112 of stage 3,
// by a second-smallest then second-largest 3 x 3 rank filter (work layer 240) and a restore of
// the cells whose strength exceeds the filtered value by less than the top 4 % of such excesses.
// Integers only; throws only what stage 3 throws, or WZ_NO_LAYER without a free slot.

#include "extraction/engine/Codex.h"
#include "extraction/engine/codes.h"

#include <cstddef>

namespace wizard73 {
namespace {

constexpr int COHERE_STAGE = 4;
constexpr int LEVEL = 3;

// The k-th smallest (0-based) of the 3 x 3 neighbourhood of p in a layer `w` wide.
int Rank9(const unsigned char* p, int w, int k)
{
    int v[9] = {p[-w - 1], p[-w], p[-w + 1], p[-1], p[0], p[1], p[w - 1], p[w], p[w + 1]};
    Codex::SortSmall(v, 9);
    return v[k];
}

} // namespace

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
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            low[i] = static_cast<unsigned char>(inner(x, y) ? Rank9(strength + i, w, 1) : 0);
        }
    }
    // 4.-5. Second largest of 240; border cells copy their inner neighbour; excess histogram.
    m_rank.RanIni(0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            if (inner(x, y)) {
                con[i] = static_cast<unsigned char>(Rank9(low + i, w, 7));
                if (strength[i] > con[i]) {
                    ++m_rank.Ran[strength[i] - con[i]];
                }
                continue;
            }
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
