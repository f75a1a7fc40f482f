// Symbol visibility of the engine library: everything is hidden unless marked ZF_EXPORT.
#pragma once

#ifndef ZF_EXPORT
#define ZF_EXPORT __attribute__((visibility("default")))
#endif
