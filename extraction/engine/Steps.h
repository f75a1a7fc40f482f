// The eight neighbour directions of every level, 0..7 = E, SE, S, SW, W, NW, N, NE (x right,
// y down): direction d moves by kStepX[d] columns and kStepY[d] rows, which in a layer of rows
// `width` bytes apart is the offset StepOffset(d, width). ForQuad visits the four pixels of a
// 2 x 2 block.
#pragma once

#include <cstddef>

namespace wizard73 {

inline constexpr int kStepX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
inline constexpr int kStepY[8] = {0, 1, 1, 1, 0, -1, -1, -1};

template <class Width> constexpr Width StepOffset(int d, Width width)
{
    return kStepX[d] + kStepY[d] * width;
}

// Calls visit(offset) for the 2 x 2 block whose top-left pixel is at offset o, in raster order.
template <class Visit> inline void ForQuad(std::size_t o, std::size_t width, Visit&& visit)
{
    visit(o);
    visit(o + 1);
    visit(o + width);
    visit(o + width + 1);
}

} // namespace wizard73
