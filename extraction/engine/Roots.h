// The integer square root with its table's range inline: the same value as sqri, without a
// call for the small arguments that gradient magnitudes mostly give.
#pragma once

#include "extraction/engine/FixedMath.h"

#include <cstddef>

namespace wizard73 {

inline int SqriInline(int n)
{
    return n >= 0 && n <= 65024 ? TabSqr[static_cast<std::size_t>(n)] : sqri(n);
}

} // namespace wizard73
