// Implementation side of Matcher: the mapping of record-comparison and accelerator codes
// onto the public result codes.
#pragma once

#include "interface/ZelvanFinger.h"

namespace ZelvanFinger {

class RealMatcher : public Matcher {
public:
    // Record comparison code (0 or -4xx) -> public code: 0, 2, 100, 11, 12, 13, 25, else 10.
    static int checkMaResult(int code);
    // Accelerator code -> public code through a 16-entry table; 16 and above give 21.
    static int checkAccelMatchResult(unsigned code);
};

} // namespace ZelvanFinger
