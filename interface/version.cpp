// Version text of the engine library.

#include "interface/ZelvanFinger.h"

namespace ZelvanFinger {

const char* getVersion()
{
    return "2.0.0";
}

} // namespace ZelvanFinger
