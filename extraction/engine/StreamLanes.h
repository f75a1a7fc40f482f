// Helpers of the flow stage (Stream.cpp) that work in vector lanes, each with its one-at-a-time
// twin: the relaxed orientation of a cell's ring, its eight candidates a lane each, and the loop
// template fit, its eight sectors a lane each.
#pragma once

namespace wizard73 {

// Relaxed orientation (0..179) of the eight sector orientations o (0..255: half-turn angles or
// direction bytes) around the centre orientation c (0..255) under the Poincare sum p: of the
// candidates between opposite sectors, the last one of least cost.
int Trelax_StIndi(int c, const int* o, int p);
int Trelax_StIndiScalar(int c, const int* o, int p);

// CWork::FitTemplate of the loop template from 90 degrees over 180 trials (its one-at-a-time
// twin) for the cell orientation c and sector orientations o in 0..255.
int FitLoop_StIndi(int c, const int* o);

} // namespace wizard73
