// The image's load configuration, which the loader reads before the entry point runs.
#pragma once

#include <cstdint>

namespace sp::win32 {

// The 64-bit layout as Windows 11 defines it. MinGW's headers know only its first part and name
// DependentLoadFlags "Reserved1".
struct alignas(8) LoadConfiguration {
    std::uint32_t size;
    std::uint8_t before[0x4E - 4];  // versions, global flags, heap and affinity settings
    // LOAD_LIBRARY_SEARCH_* flags for the DLLs the loader maps for the image's imports
    // (Windows 10 1607 and later; older systems ignore it).
    std::uint16_t dependentLoadFlags;
    // EditList, SecurityCookie (none: the code sets up no cookie of its own), the exception
    // handler table, the Control Flow Guard fields with GuardFlags, and what later versions
    // added: all zero, nothing for the loader to check or patch.
    std::uint8_t after[0x140 - 0x50];
};

}  // namespace sp::win32

// Under the name other toolchains give it, so that a linker that knows the name points the image's
// load-configuration directory at it by itself; GNU ld 2.40 does not, and
// tools/set_load_config.py does it after the link.
extern "C" const sp::win32::LoadConfiguration _load_config_used;
