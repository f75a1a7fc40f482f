// Shared by the tests of the skeleton, minutiae, link and final stages: an engine whose stage-18
// outputs are filled directly from a hand-drawn binary ridge image (1 ridge, 0 valley) with a
// constant ridge period and orientation, the outer level-1 cells background.
#pragma once

#include "extraction/engine/Codex.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace zftest {

struct Ridges {
    std::unique_ptr<wizard73::Codex> engine = std::make_unique<wizard73::Codex>();
    int w, h;
    std::vector<unsigned char> img; // level-0 pixels: 1 ridge, 0 valley

    Ridges(int width, int height) : w(width), h(height), img(static_cast<std::size_t>(w) * h, 0) {}

    // A ridge of the given thickness from (x0, y0) to (x1, y1), both ends included.
    void Line(int x0, int y0, int x1, int y1, int thick = 3)
    {
        const int n = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        for (int i = 0; i <= n; ++i) {
            const int x = n == 0 ? x0 : x0 + (x1 - x0) * i / n;
            const int y = n == 0 ? y0 : y0 + (y1 - y0) * i / n;
            Dot(x, y, thick);
        }
    }

    void Dot(int x, int y, int thick)
    {
        const int lo = -(thick - 1) / 2;
        for (int dy = lo; dy < lo + thick; ++dy) {
            for (int dx = lo; dx < lo + thick; ++dx) {
                if (x + dx >= 0 && y + dy >= 0 && x + dx < w && y + dy < h) {
                    img[static_cast<std::size_t>(y + dy) * w + x + dx] = 1;
                }
            }
        }
    }

    // Fills the layers that stages 12 to 18 leave: the binary image in 4 and 5 of level 0 and, at
    // level 1, classes 161, orders 163, period 56, orientation 36, foreground 128, level 57,
    // quality 147 and no singular region 129; at level 3 foreground, level and quality.
    wizard73::Codex& Load(int period = 8, int orientation = 0, unsigned char kind = 'F')
    {
        using namespace wizard73;
        Codex& e = *engine;
        e.Reset();
        e.SetMap(pyr[2]);
        e.SetGeo(w, h);
        e.NewDoc();
        e.m_stage = 18;
        e.m_quick = 0;
        e.m_kind = kind;
        e.m_singular = 0;
        const CLevel& l1 = e.m_level[1];
        auto fill = [&](int id, int level, int v) {
            std::memset(e.GetLay(id, level), v, e.m_level[level].size);
        };
        fill(163, 1, 0);
        fill(56, 1, period);
        fill(36, 1, orientation);
        fill(57, 1, 48);
        fill(147, 1, 40);
        fill(129, 1, 0);
        fill(162, 1, 0);
        fill(130, 1, 0);
        unsigned char* cls = e.GetLay(161, 1);
        unsigned char* fg = e.GetLay(128, 1);
        for (int y = 0; y < l1.height; ++y) {
            for (int x = 0; x < l1.width; ++x) {
                const bool inner = x > 0 && y > 0 && x < l1.width - 1 && y < l1.height - 1;
                cls[y * l1.width + x] = inner ? 8 : 16;
                fg[y * l1.width + x] = inner ? 32 : 1;
            }
        }
        for (int lv = 2; lv <= 3; ++lv) {
            fill(128, lv, 32);
            fill(57, lv, 48);
            fill(147, lv, 40);
        }
        unsigned char* l4 = e.GetLay(4, 0);
        unsigned char* l5 = e.GetLay(5, 0);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::size_t o = static_cast<std::size_t>(y) * w + x;
                const bool inner = cls[(y / 2) * l1.width + x / 2] == 8;
                l4[o] = l5[o] = !inner ? 255 : img[o] != 0 ? 3 : 128;
            }
        }
        return e;
    }

    // Skeleton code of layer 5 at (x, y).
    int Code(int x, int y) const
    {
        return engine->GetLay(5, 0)[static_cast<std::size_t>(y) * w + x];
    }

    // Number of layer-5 pixels with the given code.
    int Count(int code) const
    {
        const unsigned char* p = engine->GetLay(5, 0);
        int n = 0;
        for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i) {
            n += p[i] == code ? 1 : 0;
        }
        return n;
    }
};

} // namespace zftest
