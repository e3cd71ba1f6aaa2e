// The registry root handle of a project registry item's root key.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include "SetupProject.h"

// HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS or
// HKEY_CURRENT_CONFIG for the five values; HKEY_CURRENT_USER for any other
// ordinal (a damaged project). Never fails.
HKEY RegRootKeyToHKey(TRegRootKey rootKey);
#endif
