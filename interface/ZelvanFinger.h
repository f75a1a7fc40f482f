// Public native interface of the engine library, namespace ZelvanFinger.
#pragma once

#include "platform/export.h"

namespace ZelvanFinger {

// Version text of the engine library.
ZF_EXPORT const char* getVersion();

} // namespace ZelvanFinger
