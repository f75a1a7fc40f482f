// Symbol visibility of the engine library: everything is hidden unless marked ZF_EXPORT.
#pragma once

#define ZF_EXPORT __attribute__((visibility("default")))
