// Temporary factory of Matcher while the gallery and the comparison are not in this branch:
// create answers null (as it does when a matcher cannot be made), cancel destroys and nulls.
// This file goes away when the real RealMatcher factory arrives.

#include "interface/ZelvanFinger.h"

namespace ZelvanFinger {

Matcher* Matcher::create()
{
    return nullptr;
}

void Matcher::cancel(Matcher*& p)
{
    delete p;
    p = nullptr;
}

} // namespace ZelvanFinger
