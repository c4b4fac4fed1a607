#include "platform/windows/load_config.h"

#include <cstddef>

#include "platform/windows/windows_api.h"

static_assert(offsetof(sp::win32::LoadConfiguration, dependentLoadFlags) == 0x4E);
static_assert(sizeof(sp::win32::LoadConfiguration) == 0x140);

// Only the system directory for every DLL the loader maps before the entry point: the imports
// (KERNEL32, the C runtime) and what they load in turn. The program's folder, usually a
// downloads folder, is never searched.
extern "C" const sp::win32::LoadConfiguration _load_config_used = {
    sizeof(sp::win32::LoadConfiguration), {}, LOAD_LIBRARY_SEARCH_SYSTEM32, {}};
