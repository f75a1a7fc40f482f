// Row helpers of the ridge period stage in vector lanes, each with its one-pixel twin: the Sobel
// gradient of a row and its squared magnitudes, the rounded means of 2 x 2 blocks, the channels
// of pixels split into planes and the energy of a profile's bins; and the halved direction of a
// gradient without branches. (Its nine-sample rank mean along the ridge line is RankMean9Planes of
// RankRow.h.)
#pragma once

#include <cstddef>
#include <cstdint>

namespace wizard73 {

// The Sobel gradient of `count` pixels from p on, in an image of `stride` bytes a row (every
// pixel has its eight neighbours): gx[i] across the row, gy[i] down the columns.
void SobelRow(const unsigned char* p, int stride, int count, std::int16_t* gx, std::int16_t* gy);
void SobelRowScalar(const unsigned char* p, int stride, int count, std::int16_t* gx,
                    std::int16_t* gy);

// sums[i] = gx[i]^2 + gy[i]^2 for i < count, gradients of at most 1020 in magnitude.
void SquareSumRow(const std::int16_t* gx, const std::int16_t* gy, int count, std::int32_t* sums);
void SquareSumRowScalar(const std::int16_t* gx, const std::int16_t* gy, int count,
                        std::int32_t* sums);

// out[i] = (r0[2i] + r0[2i + 1] + r1[2i] + r1[2i + 1] + 2) >> 2 for i < count.
void HalveRow(const unsigned char* r0, const unsigned char* r1, int count, unsigned char* out);
void HalveRowScalar(const unsigned char* r0, const unsigned char* r1, int count,
                    unsigned char* out);

// planes[ch][i] = lanes[16 i + ch] for i < count and ch < planeCount (at most 16): pixels of
// sixteen byte lanes each, one lane a plane.
void LanesToPlanes(const unsigned char* lanes, std::size_t count, unsigned char* const* planes,
                   int planeCount);
void LanesToPlanesScalar(const unsigned char* lanes, std::size_t count,
                         unsigned char* const* planes, int planeCount);

// The energy of a normal-mode profile, in place on its 24 bin slots (slot 0 is 0, 1..17 are the
// bins, 18 the sink of steps beyond them, 19..23 are 0): slots of -32768 (steps with a pixel of
// weight 0) become 0, the bins before the first negative one of 1..17 and the sink are cleared,
// and the sum of the squares of all slots is returned, with `first` the first negative bin. With
// no negative bin, `first` is 18 and the result -1.
int ProfileEnergy(std::int16_t* bins, int& first);
int ProfileEnergyScalar(std::int16_t* bins, int& first);

// dir[i] = weight[i] != 0 ? atan(gx[i], gy[i]) / 2 : 0 for i < count: the halved directions of
// Sobel gradients (|gx|, |gy| <= 1020) where their weight is not 0, without branches or an
// integer division.
void HalfDirectionRow(const std::int16_t* gx, const std::int16_t* gy, const unsigned char* weight,
                      int count, unsigned char* dir);
void HalfDirectionRowScalar(const std::int16_t* gx, const std::int16_t* gy,
                            const unsigned char* weight, int count, unsigned char* dir);

} // namespace wizard73
