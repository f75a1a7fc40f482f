// The eight neighbour directions of every level, 0..7 = E, SE, S, SW, W, NW, N, NE (x right,
// y down): direction d moves by kStepX[d] columns and kStepY[d] rows, which in a layer of rows
// `width` bytes apart is the offset StepOffset(d, width).
#pragma once

namespace wizard73 {

inline constexpr int kStepX[8] = {1, 1, 0, -1, -1, -1, 0, 1};
inline constexpr int kStepY[8] = {0, 1, 1, 1, 0, -1, -1, -1};

constexpr int StepOffset(int d, int width)
{
    return kStepX[d] + kStepY[d] * width;
}

} // namespace wizard73
