// Whether a registry key still holds what a saved copy of it holds.
#ifndef ENGINE_CARRYOVER_REGISTRY_COMPARE_H_
#define ENGINE_CARRYOVER_REGISTRY_COMPARE_H_

#include <windows.h>

// True when `live` holds every value of `saved` with the same type and data, and likewise in every
// sub-key of `saved`, down to the depth the copy allows. Values and sub-keys that only `live` has
// do not count. Names are compared with the wide-character API, so any name matches itself; a
// sub-key that is a registry link is not followed and holds nothing. False also when a key or
// value cannot be read.
bool KeyHoldsSavedCopy(HKEY live, HKEY saved);

#endif  // ENGINE_CARRYOVER_REGISTRY_COMPARE_H_
