// 8-bit binary toolkit: binarisations, binary NOT/AND, mask clean-up, flood fill, block-mask
// fills, pixel lists and line probes. Works in place or into caller outputs of the same
// geometry; temporary buffers are owned by containers.

#include "imaging/graph8_bin.h"

#include <cstddef>
