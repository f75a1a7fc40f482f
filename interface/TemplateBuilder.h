// Implementation side of TemplateCreator: the mapping of extractor and WSQ decoder codes
// onto the public result codes.
#pragma once

#include "interface/ZelvanFinger.h"

namespace ZelvanFinger {

class TemplateBuilder : public TemplateCreator {
public:
    // Extractor code -> public code: 0, 2 (-204), 100 (-208), 3 (-212), 4 (-216), else 5.
    static int checkIpResult(int code);
    // WSQ decoder code -> public code: 0, 8 (-666 guard mismatch), else 9.
    static int checkWsqResult(int code);
};

} // namespace ZelvanFinger
